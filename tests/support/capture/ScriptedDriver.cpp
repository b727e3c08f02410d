#include "tests/support/capture/ScriptedDriver.h"

namespace qvtest {

using qv::capture::DriverControl;
using qv::capture::FrameResult;
using qv::capture::VideoFormat;

namespace {

VideoFormat Make(uint32_t w, uint32_t h, uint16_t bits, uint32_t compression) {
    VideoFormat f{w, h, bits, compression, 0};
    f.imageSize = qv::capture::FrameBytes(f);
    return f;
}

class ScriptedDriver : public qv::capture::CaptureDriver {
  public:
    explicit ScriptedDriver(std::shared_ptr<ScriptedSource> source) : source_(std::move(source)) {}
    ~ScriptedDriver() override = default;
    bool Open() override { return source_->Open(); }
    void Close() override { source_->Close(); }
    VideoFormat Format() const override { return source_->Format(); }
    std::vector<VideoFormat> Formats() const override { return source_->Formats(); }
    bool SetFormat(const VideoFormat& format) override { return source_->SetFormat(format); }
    std::vector<DriverControl> Controls() override { return source_->Controls(); }
    bool SetControl(uint32_t id, int32_t value) override { return source_->SetControl(id, value); }
    FrameResult TakeFrame(std::vector<uint8_t>& dest) override { return source_->TakeFrame(dest); }
    bool HasSourceDialog() const override { return source_->HasSourceDialog(); }
    bool HasFormatDialog() const override { return source_->HasFormatDialog(); }

  private:
    std::shared_ptr<ScriptedSource> source_;
};

}  // namespace

ScriptedSource::ScriptedSource(VideoFormat format) : format_(format) {
    if (format_.imageSize == 0) format_.imageSize = qv::capture::FrameBytes(format_);
    formats_ = {format_};
    DriverControl brightness;
    brightness.id = 1;
    brightness.name = "Brightness";
    brightness.minimum = 0;
    brightness.maximum = 255;
    brightness.defaultValue = 128;
    brightness.value = 128;
    DriverControl mirror;
    mirror.id = 2;
    mirror.name = "Mirror";
    mirror.kind = DriverControl::Kind::Boolean;
    mirror.maximum = 1;
    DriverControl light;
    light.id = 3;
    light.name = "Power line frequency";
    light.kind = DriverControl::Kind::Menu;
    light.maximum = 2;
    light.menuItems = {"Disabled", "50 Hz", "60 Hz"};
    light.value = 1;
    controls_ = {brightness, mirror, light};
}

void ScriptedSource::Queue(std::vector<uint8_t> frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(frame));
}

size_t ScriptedSource::Pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

void ScriptedSource::SetRepeatLast(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    repeatLast_ = on;
}

void ScriptedSource::Vanish() {
    std::lock_guard<std::mutex> lock(mutex_);
    vanished_ = true;
}

void ScriptedSource::SetFormats(std::vector<VideoFormat> formats) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (VideoFormat& f : formats)
        if (f.imageSize == 0) f.imageSize = qv::capture::FrameBytes(f);
    formats_ = std::move(formats);
}

void ScriptedSource::SetFailOpen(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    failOpen_ = on;
}

void ScriptedSource::SetDialogs(bool source, bool format) {
    std::lock_guard<std::mutex> lock(mutex_);
    sourceDialog_ = source;
    formatDialog_ = format;
}

VideoFormat ScriptedSource::Format() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return format_;
}

int ScriptedSource::OpenCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return opens_;
}

int ScriptedSource::CloseCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closes_;
}

bool ScriptedSource::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

int ScriptedSource::FramesTaken() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return taken_;
}

int32_t ScriptedSource::ControlValue(uint32_t id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const DriverControl& c : controls_)
        if (c.id == id) return c.value;
    return -1;
}

bool ScriptedSource::Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failOpen_ || vanished_ || open_) return false;
    open_ = true;
    ++opens_;
    return true;
}

void ScriptedSource::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return;
    open_ = false;
    ++closes_;
}

bool ScriptedSource::SetFormat(const VideoFormat& format) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const VideoFormat& f : formats_) {
        if (f == format) {
            format_ = f;
            return true;
        }
    }
    return false;
}

std::vector<VideoFormat> ScriptedSource::Formats() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return formats_;
}

std::vector<DriverControl> ScriptedSource::Controls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return controls_;
}

bool ScriptedSource::SetControl(uint32_t id, int32_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (DriverControl& c : controls_) {
        if (c.id == id && value >= c.minimum && value <= c.maximum) {
            c.value = value;
            return true;
        }
    }
    return false;
}

FrameResult ScriptedSource::TakeFrame(std::vector<uint8_t>& dest) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (vanished_ || !open_) return FrameResult::Lost;
    if (!queue_.empty()) {
        last_ = std::move(queue_.front());
        queue_.pop_front();
        haveLast_ = true;
    } else if (!(repeatLast_ && haveLast_)) {
        return FrameResult::NoFrame;
    }
    dest = last_;
    ++taken_;
    return FrameResult::Frame;
}

bool ScriptedSource::HasSourceDialog() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sourceDialog_;
}

bool ScriptedSource::HasFormatDialog() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return formatDialog_;
}

qv::capture::DriverEntry ScriptedEntry(const std::string& description,
                                       std::shared_ptr<ScriptedSource> source) {
    qv::capture::DriverEntry e;
    e.description = description;
    e.version = "test";
    e.create = [source] { return std::make_unique<ScriptedDriver>(source); };
    return e;
}

std::vector<uint8_t> SolidFrame(const VideoFormat& format, uint8_t value) {
    return std::vector<uint8_t>(
        format.imageSize ? format.imageSize : qv::capture::FrameBytes(format), value);
}

VideoFormat Rgb24(uint32_t w, uint32_t h) {
    return Make(w, h, 24, qv::capture::bmp::kRgb);
}
VideoFormat Rgb565(uint32_t w, uint32_t h) {
    return Make(w, h, 16, qv::capture::bmp::kBitfields);
}
VideoFormat Rgb555(uint32_t w, uint32_t h) {
    return Make(w, h, 16, qv::capture::bmp::kRgb);
}
VideoFormat Yuy2(uint32_t w, uint32_t h) {
    return Make(w, h, 16, qv::capture::bmp::kYuy2);
}
VideoFormat Uyvy(uint32_t w, uint32_t h) {
    return Make(w, h, 16, qv::capture::bmp::kUyvy);
}

}  // namespace qvtest
