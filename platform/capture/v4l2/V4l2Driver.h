// Cameras of the kernel's video capture interface (V4L2). YUYV, UYVY, BGR24, RGB565 and
// RGB555 pass through in their own layout; any other format is converted to BGR24 by
// libv4lconvert. RGB frames are delivered bottom-up with rows padded to 4 bytes, as a DIB.
#pragma once

#include <linux/videodev2.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/capture/CaptureDriver.h"
#include "platform/capture/v4l2/V4l2Io.h"

struct v4lconvert_data;

namespace qv::capture {

// The capture devices among /dev/video0 to /dev/video9, in that order. The description is
// the card name the driver reports.
std::vector<DriverEntry> ListV4l2Drivers();
std::vector<DriverEntry> ListV4l2Drivers(const std::shared_ptr<V4l2Io>& io);

// One camera. Used from the capture window's thread only.
class V4l2Driver final : public CaptureDriver {
  public:
    V4l2Driver(std::string path, std::shared_ptr<V4l2Io> io);
    ~V4l2Driver() override;

    bool Open() override;
    void Close() override;
    VideoFormat Format() const override { return out_; }
    std::vector<VideoFormat> Formats() const override;
    bool SetFormat(const VideoFormat& format) override;
    std::vector<DriverControl> Controls() override;
    bool SetControl(uint32_t id, int32_t value) override;
    FrameResult TakeFrame(std::vector<uint8_t>& dest) override;
    bool HasSourceDialog() const override { return hasControls_; }
    bool HasFormatDialog() const override { return true; }

  private:
    struct Buffer {
        void* start = nullptr;
        size_t length = 0;
    };

    bool Configure();  // derives the delivered format from fmt_
    bool StartStreaming();
    void StopStreaming();
    FrameResult Lose();
    bool Deliver(const uint8_t* data, size_t used, std::vector<uint8_t>& dest);
    bool ApplyFormat(uint32_t pixelFormat, uint32_t width, uint32_t height);

    std::string path_;
    std::shared_ptr<V4l2Io> io_;
    int fd_ = -1;
    bool streaming_ = false;
    bool lost_ = false;
    bool hasControls_ = false;
    v4l2_format fmt_{};
    VideoFormat out_;
    v4lconvert_data* convert_ = nullptr;  // set when the camera's format is not ours
    std::vector<Buffer> buffers_;
    std::vector<uint8_t> scratch_;
};

}  // namespace qv::capture
