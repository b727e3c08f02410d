// The demo camera: a still room with light sensor noise, crossed by a figure for about
// three seconds in every ten. Frames are drawn on demand from the clock, so it needs no
// thread; the scene of any frame number can also be drawn directly for tests.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/capture/CaptureDriver.h"

namespace qv::capture {

class DemoCamera : public CaptureDriver {
  public:
    static constexpr const char* kDescription = "Quorvex Demo Camera";
    static constexpr int kFramesPerSecond = 15;
    static constexpr int64_t kCycleMs = 10000;         // one crossing per cycle
    static constexpr int64_t kCrossingStartMs = 2000;  // into the cycle
    static constexpr int64_t kCrossingMs = 3000;
    static constexpr uint32_t kBrightnessControl = 1;
    static constexpr uint32_t kWalkerControl = 2;

    // Milliseconds of a monotonic clock; the steady clock when empty.
    using Clock = std::function<int64_t()>;
    explicit DemoCamera(Clock clock = {});

    bool Open() override;
    void Close() override;
    VideoFormat Format() const override { return format_; }
    std::vector<VideoFormat> Formats() const override { return OfferedFormats(); }
    bool SetFormat(const VideoFormat& format) override;
    std::vector<DriverControl> Controls() override;
    bool SetControl(uint32_t id, int32_t value) override;
    FrameResult TakeFrame(std::vector<uint8_t>& dest) override;
    bool HasSourceDialog() const override { return true; }
    bool HasFormatDialog() const override { return true; }

    // 320x240, 640x480 and 1280x720, each in 24-bit, YUY2 and RGB 5-6-5; the first is the
    // default.
    static std::vector<VideoFormat> OfferedFormats();
    // True while the figure is in the room in frame number `frame`.
    static bool FigureVisible(uint64_t frame);
    // Draws frame number `frame` in one of the offered formats.
    static bool RenderFrame(const VideoFormat& format, uint64_t frame, std::vector<uint8_t>& out,
                            int brightness = 0, bool walker = true);

  private:
    Clock clock_;
    VideoFormat format_;
    bool open_ = false;
    int64_t startMs_ = 0;
    int64_t lastFrame_ = -1;
    int32_t brightness_ = 0;
    bool walker_ = true;
};

// The device-list entry of the demo camera.
DriverEntry DemoCameraEntry();

}  // namespace qv::capture
