#include "tests/support/capture/ScriptedDriver.h"

#include <csetjmp>
#include <cstdio>
#include <sstream>

#include <jpeglib.h>

#include "tests/support/RunProgram.h"
#include "tests/support/TestSupport.h"

namespace qvtest {

using qv::capture::DriverControl;
using qv::capture::FrameResult;
using qv::capture::VideoFormat;

VideoFormat MakeFormat(uint32_t w, uint32_t h, uint16_t bits, uint32_t compression) {
    VideoFormat f{w, h, bits, compression, 0};
    f.imageSize = qv::capture::FrameBytes(f);
    return f;
}

// Plays what the test put into its source.
class ScriptedDriver : public qv::capture::CaptureDriver {
  public:
    explicit ScriptedDriver(std::shared_ptr<ScriptedSource> source) : s_(std::move(source)) {}
    bool Open() override {
        std::lock_guard<std::mutex> lock(s_->mutex_);
        return !s_->vanished_ && !s_->open_ && (s_->open_ = true);
    }
    void Close() override { s_->Set(&ScriptedSource::open_, false); }
    VideoFormat Format() const override { return s_->Format(); }
    std::vector<VideoFormat> Formats() const override { return s_->Get(&ScriptedSource::formats_); }
    bool SetFormat(const VideoFormat& format) override {
        std::lock_guard<std::mutex> lock(s_->mutex_);
        for (const VideoFormat& f : s_->formats_)
            if (f == format) return s_->format_ = f, true;
        return false;
    }
    std::vector<DriverControl> Controls() override { return s_->Get(&ScriptedSource::controls_); }
    bool SetControl(uint32_t id, int32_t value) override {
        std::lock_guard<std::mutex> lock(s_->mutex_);
        for (DriverControl& c : s_->controls_)
            if (c.id == id && value >= c.minimum && value <= c.maximum)
                return c.value = value, true;
        return false;
    }
    FrameResult TakeFrame(std::vector<uint8_t>& dest) override {
        std::lock_guard<std::mutex> lock(s_->mutex_);
        if (s_->vanished_ || !s_->open_) return FrameResult::Lost;
        if (!s_->queue_.empty()) {
            s_->last_ = std::move(s_->queue_.front());
            s_->queue_.pop_front();
        } else if (!s_->repeatLast_ || s_->last_.empty()) {
            return FrameResult::NoFrame;
        }
        dest = s_->last_;
        return FrameResult::Frame;
    }
    bool HasSourceDialog() const override { return true; }
    bool HasFormatDialog() const override { return true; }
    qv::capture::LinkState Link() const override { return s_->Get(&ScriptedSource::link_); }

  private:
    std::shared_ptr<ScriptedSource> s_;
};

ScriptedSource::ScriptedSource(VideoFormat format) : format_(format) {
    if (format_.imageSize == 0) format_.imageSize = qv::capture::FrameBytes(format_);
    formats_ = {format_};
    using K = DriverControl::Kind;
    controls_ = {
        {1, "Brightness", K::Integer, 0, 255, 1, 128, 128, {}},
        {2, "Mirror", K::Boolean, 0, 1, 1, 0, 0, {}},
        {3, "Power line frequency", K::Menu, 0, 2, 1, 1, 1, {"Disabled", "50 Hz", "60 Hz"}}};
}

void ScriptedSource::Queue(std::vector<uint8_t> frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(frame));
}

int32_t ScriptedSource::ControlValue(uint32_t id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const DriverControl& c : controls_)
        if (c.id == id) return c.value;
    return -1;
}

qv::capture::DriverEntry ScriptedEntry(const std::string& description,
                                       std::shared_ptr<ScriptedSource> source) {
    return {description, "test", [source] { return std::make_unique<ScriptedDriver>(source); }};
}

std::vector<uint8_t> SolidFrame(const VideoFormat& format, uint8_t value) {
    return std::vector<uint8_t>(qv::capture::FrameBytes(format), value);
}

std::vector<uint8_t> GreyFrame(const VideoFormat& f, uint8_t top, uint8_t bottom) {
    std::vector<uint8_t> frame = SolidFrame(f, 0);
    const size_t stride = frame.size() / f.height;
    const bool yuv = f.compression == bitmap::kYuy2 || f.compression == bitmap::kUyvy;
    for (uint32_t row = 0; row < f.height; ++row) {
        // RGB bitmaps run bottom-up, packed YUV top-down.
        const bool upper = (yuv ? row : f.height - 1 - row) < f.height / 2;
        const int g = upper ? top : bottom;
        uint8_t* d = frame.data() + stride * row;
        for (uint32_t x = 0; x < f.width; ++x) {
            if (yuv) {
                d[2 * x + (f.compression == bitmap::kYuy2 ? 0 : 1)] = static_cast<uint8_t>(g);
                d[2 * x + (f.compression == bitmap::kYuy2 ? 1 : 0)] = 128;
            } else if (f.bitCount == 24) {
                d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = static_cast<uint8_t>(g);
            } else {
                const bool b565 = f.compression == bitmap::kBitfields;
                const int v = b565 ? (g >> 3) << 11 | (g >> 2) << 5 | g >> 3
                                   : (g >> 3) << 10 | (g >> 3) << 5 | g >> 3;
                d[2 * x] = static_cast<uint8_t>(v);
                d[2 * x + 1] = static_cast<uint8_t>(v >> 8);
            }
        }
    }
    return frame;
}

struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

DecodedJpeg DecodeJpegFile(const std::string& path) {
    DecodedJpeg d;
    const std::string bytes = ReadFile(path);
    if (bytes.size() < 4) return d;
    jpeg_decompress_struct c;
    JpegError err;
    c.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = [](j_common_ptr info) {
        std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
    };
    jpeg_create_decompress(&c);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&c);
        return DecodedJpeg{};
    }
    jpeg_mem_src(&c, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&c, TRUE);
    c.out_color_space = JCS_RGB;
    jpeg_start_decompress(&c);
    d.width = static_cast<int>(c.output_width);
    d.height = static_cast<int>(c.output_height);
    d.quant0 = c.quant_tbl_ptrs[0] ? c.quant_tbl_ptrs[0]->quantval[0] : 0;
    d.rgb.resize(static_cast<size_t>(d.width) * d.height * 3);
    while (c.output_scanline < c.output_height) {
        JSAMPROW row = d.rgb.data() + static_cast<size_t>(c.output_scanline) * d.width * 3;
        jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    d.ok = true;
    return d;
}

std::map<std::string, std::string> ProbeVideo(const std::string& path) {
    std::map<std::string, std::string> kv;
    const std::string ffprobe = FindProgram("ffprobe");
    if (ffprobe.empty()) return kv;
    const ProgramResult r = RunProgram(
        {ffprobe, "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
         "stream=codec_name,width,height,pix_fmt,nb_read_frames,nb_frames,r_frame_rate", "-of",
         "default=noprint_wrappers=1", path},
        {});
    std::istringstream lines(r.Out + r.Err);
    for (std::string line; std::getline(lines, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            kv[line.substr(0, eq)] = line.substr(eq + 1);
        else if (!line.empty())
            kv["error"] += line;
    }
    return kv;
}

}  // namespace qvtest
