// A capture driver for tests: it plays the frames the test queues, in any format, and
// records what the capture window asked of it. The test keeps the ScriptedSource and
// hands the driver entry to qv::capture::SetExtraDrivers.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/capture/CaptureDriver.h"

namespace qvtest {

class ScriptedSource {
  public:
    explicit ScriptedSource(qv::capture::VideoFormat format);

    // Any thread: the test side.
    void Queue(std::vector<uint8_t> frame);
    size_t Pending() const;
    // When the queue runs dry, hand out the last frame again instead of nothing.
    void SetRepeatLast(bool on);
    // The device vanishes: every later TakeFrame says Lost.
    void Vanish();
    void SetFormats(std::vector<qv::capture::VideoFormat> formats);
    void SetFailOpen(bool on);
    void SetDialogs(bool source, bool format);
    qv::capture::VideoFormat Format() const;
    int OpenCount() const;
    int CloseCount() const;
    bool IsOpen() const;
    int FramesTaken() const;
    int32_t ControlValue(uint32_t id) const;

    // Window thread: the driver side.
    bool Open();
    void Close();
    bool SetFormat(const qv::capture::VideoFormat& format);
    std::vector<qv::capture::VideoFormat> Formats() const;
    std::vector<qv::capture::DriverControl> Controls() const;
    bool SetControl(uint32_t id, int32_t value);
    qv::capture::FrameResult TakeFrame(std::vector<uint8_t>& dest);
    bool HasSourceDialog() const;
    bool HasFormatDialog() const;

  private:
    mutable std::mutex mutex_;
    qv::capture::VideoFormat format_;
    std::vector<qv::capture::VideoFormat> formats_;
    std::vector<qv::capture::DriverControl> controls_;
    std::deque<std::vector<uint8_t>> queue_;
    std::vector<uint8_t> last_;
    bool haveLast_ = false;
    bool repeatLast_ = false;
    bool vanished_ = false;
    bool failOpen_ = false;
    bool open_ = false;
    bool sourceDialog_ = true;
    bool formatDialog_ = true;
    int opens_ = 0;
    int closes_ = 0;
    int taken_ = 0;
};

// A device-list entry whose drivers play from `source`.
qv::capture::DriverEntry ScriptedEntry(const std::string& description,
                                       std::shared_ptr<ScriptedSource> source);

// Frame builders (sizes as FrameBytes gives them).
std::vector<uint8_t> SolidFrame(const qv::capture::VideoFormat& format, uint8_t value);
qv::capture::VideoFormat Rgb24(uint32_t width, uint32_t height);
qv::capture::VideoFormat Rgb565(uint32_t width, uint32_t height);
qv::capture::VideoFormat Rgb555(uint32_t width, uint32_t height);
qv::capture::VideoFormat Yuy2(uint32_t width, uint32_t height);
qv::capture::VideoFormat Uyvy(uint32_t width, uint32_t height);

}  // namespace qvtest
