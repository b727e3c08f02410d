// A fake of the kernel's video devices behind V4l2Io: cameras that answer the calls the way
// a UVC webcam does (format lists, size negotiation, mmap streaming, controls, unplugging).
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/capture/v4l2/V4l2Io.h"

namespace qvtest {

struct FakeControl {
    v4l2_queryctrl query{};
    int32_t value = 0;
    std::vector<std::string> menu;  // index - minimum; "" for a gap
};

struct FakeCamera {
    struct Format {
        uint32_t pixelFormat;
        std::vector<std::pair<uint32_t, uint32_t>> sizes;
    };

    std::string card = "Fake Camera";
    uint32_t caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    std::vector<Format> formats;
    uint32_t rowPadding = 0;  // extra bytes per line the camera adds
    std::vector<FakeControl> controls;
    bool present = true;  // false: unplugged

    // State the tests look at.
    v4l2_pix_format current{};
    std::vector<std::vector<uint8_t>> buffers;
    std::vector<uint32_t> bytesUsed;
    std::deque<uint32_t> queued, filled;
    bool streaming = false;
    int mapped = 0;
    int openFds = 0;

    // Fills the next queued buffer as the camera's next frame: fill writes it and returns
    // the bytes used. False when nothing is queued or the stream is off.
    bool Capture(const std::function<size_t(uint8_t* data, size_t capacity)>& fill);
    // A camera with YUYV, MJPG and the usual controls.
    static std::shared_ptr<FakeCamera> Webcam(const std::string& card);
    void SetCurrent(uint32_t pixelFormat, uint32_t width, uint32_t height);
};

class FakeV4l2 final : public qv::capture::V4l2Io {
  public:
    ~FakeV4l2() override;
    void Add(const std::string& path, std::shared_ptr<FakeCamera> camera);

    int Open(const char* path, int flags) override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long request, void* arg) override;
    void* Mmap(size_t length, int prot, int flags, int fd, int64_t offset) override;
    int Munmap(void* address, size_t length) override;
    int Poll(int fd, short events, int timeoutMs) override;

  private:
    std::shared_ptr<FakeCamera> Camera(int fd);
    std::map<std::string, std::shared_ptr<FakeCamera>> devices_;
    std::map<int, std::shared_ptr<FakeCamera>> open_;
};

}  // namespace qvtest
