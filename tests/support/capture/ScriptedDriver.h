// A capture driver for tests: it plays the frames a test queues, in any format. The test keeps
// the ScriptedSource and hands the driver entry to qv::capture::SetExtraDrivers. Frame builders
// and the checks of pictures we write (a real JPEG decoder, ffprobe) live here too.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/capture/CaptureDriver.h"

namespace qvtest {

// Every member is thread-safe: the test queues, the window thread takes.
class ScriptedSource {
  public:
    explicit ScriptedSource(qv::capture::VideoFormat format);

    void Queue(std::vector<uint8_t> frame);
    // When the queue runs dry, hand out the last frame again instead of nothing.
    void SetRepeatLast(bool on) { Set(&ScriptedSource::repeatLast_, on); }
    // The device vanishes: every later TakeFrame says Lost and Open fails.
    void Vanish() { Set(&ScriptedSource::vanished_, true); }
    void SetFormats(std::vector<qv::capture::VideoFormat> f) { Set(&ScriptedSource::formats_, f); }
    // How the driver says its connection stands (a network camera's).
    void SetLink(qv::capture::LinkState link) { Set(&ScriptedSource::link_, link); }
    qv::capture::VideoFormat Format() const { return Get(&ScriptedSource::format_); }
    bool IsOpen() const { return Get(&ScriptedSource::open_); }
    int32_t ControlValue(uint32_t id) const;

  private:
    friend class ScriptedDriver;
    template <class T>
    void Set(T ScriptedSource::*member, T value) {
        std::lock_guard<std::mutex> lock(mutex_);
        this->*member = std::move(value);
    }
    template <class T>
    T Get(T ScriptedSource::*member) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return this->*member;
    }
    mutable std::mutex mutex_;
    qv::capture::VideoFormat format_;
    std::vector<qv::capture::VideoFormat> formats_;
    std::vector<qv::capture::DriverControl> controls_;
    std::deque<std::vector<uint8_t>> queue_;
    std::vector<uint8_t> last_;
    qv::capture::LinkState link_ = qv::capture::LinkState::Live;
    bool repeatLast_ = false, vanished_ = false, open_ = false;
};

// A device-list entry whose drivers play from `source`.
qv::capture::DriverEntry ScriptedEntry(const std::string& description,
                                       std::shared_ptr<ScriptedSource> source);

// Frame builders (sizes as FrameBytes gives them).
std::vector<uint8_t> SolidFrame(const qv::capture::VideoFormat& format, uint8_t value);
// Grey `top` in the upper half of the picture and `bottom` in the lower, in any format.
std::vector<uint8_t> GreyFrame(const qv::capture::VideoFormat& format, uint8_t top, uint8_t bottom);
qv::capture::VideoFormat MakeFormat(uint32_t w, uint32_t h, uint16_t bits, uint32_t compression);
namespace bitmap = qv::bitmap;
inline qv::capture::VideoFormat Rgb24(uint32_t w, uint32_t h) {
    return MakeFormat(w, h, 24, bitmap::kRgb);
}
inline qv::capture::VideoFormat Rgb565(uint32_t w, uint32_t h) {
    return MakeFormat(w, h, 16, bitmap::kBitfields);
}
inline qv::capture::VideoFormat Rgb555(uint32_t w, uint32_t h) {
    return MakeFormat(w, h, 16, bitmap::kRgb);
}
inline qv::capture::VideoFormat Yuy2(uint32_t w, uint32_t h) {
    return MakeFormat(w, h, 16, bitmap::kYuy2);
}
inline qv::capture::VideoFormat Uyvy(uint32_t w, uint32_t h) {
    return MakeFormat(w, h, 16, bitmap::kUyvy);
}

// A JPEG file as libjpeg decodes it: RGB rows top-down; ok false when it is not one.
struct DecodedJpeg {
    bool ok = false;
    int width = 0, height = 0, quant0 = 0;  // quant0: first luminance quantisation value
    std::vector<uint8_t> rgb;
};
DecodedJpeg DecodeJpegFile(const std::string& path);

// ffprobe's stream entries of a video file's first stream (codec_name, width, height, pix_fmt,
// nb_read_frames, nb_frames, r_frame_rate; "error" for anything else it said). Empty without
// ffprobe.
std::map<std::string, std::string> ProbeVideo(const std::string& path);

}  // namespace qvtest
