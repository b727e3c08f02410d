// A fake of the kernel's video devices behind V4l2Io, answering the calls the driver makes the
// way a UVC webcam does: format and size lists, size negotiation, mmap streaming, controls and
// unplugging. Tests look at and change the cameras' state directly.
#pragma once

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/capture/v4l2/V4l2Io.h"

namespace qvtest {

using FrameSizes = std::vector<std::pair<uint32_t, uint32_t>>;

struct FakeCamera {
    std::string card;
    uint32_t caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    std::vector<std::pair<uint32_t, FrameSizes>> formats = {
        {V4L2_PIX_FMT_YUYV, {{640, 480}, {320, 240}, {160, 120}}},
        {V4L2_PIX_FMT_MJPEG, {{1280, 720}, {640, 480}}}};
    uint32_t rowPadding = 0;  // extra bytes per line the camera adds
    // In id order as the kernel enumerates them, with a class entry and a disabled control.
    std::vector<v4l2_queryctrl> controls = {
        {V4L2_CID_USER_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "User Controls", 0, 0, 0, 0, 0, {}},
        {V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", -64, 64, 1, 0, 0, {}},
        {V4L2_CID_HUE, V4L2_CTRL_TYPE_INTEGER, "Hue", -40, 40, 1, 0, V4L2_CTRL_FLAG_DISABLED, {}},
        {V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CTRL_TYPE_BOOLEAN, "White Balance", 0, 1, 1, 1, 0, {}},
        {V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU, "Power Line", 0, 2, 1, 1, 0, {}}};
    std::vector<std::string> powerLineMenu = {"Disabled", "50 Hz", "60 Hz"};
    std::map<uint32_t, int32_t> values;  // controls set away from their default
    bool present = true;                 // false: unplugged

    v4l2_pix_format current{};
    std::vector<std::vector<uint8_t>> buffers;
    std::vector<uint32_t> bytesUsed;
    std::deque<uint32_t> queued, filled;
    bool streaming = false;
    int mapped = 0, openFds = 0;

    explicit FakeCamera(std::string name) : card(std::move(name)) {
        SetCurrent(V4L2_PIX_FMT_YUYV, 640, 480);
    }
    void SetCurrent(uint32_t pixelFormat, uint32_t width, uint32_t height) {
        const bool compressed =
            pixelFormat == V4L2_PIX_FMT_YUV420 || pixelFormat == V4L2_PIX_FMT_MJPEG;
        const uint32_t line =
            compressed ? width : width * (pixelFormat == V4L2_PIX_FMT_BGR24 ? 3 : 2) + rowPadding;
        const uint32_t size =
            pixelFormat == V4L2_PIX_FMT_YUV420 ? width * height * 3 / 2 : line * height;
        current = {width, height, pixelFormat, 0, line, size, 0, 0, 0, {}, 0, 0};
    }
    void StreamOff() {
        streaming = false;
        queued.clear();
        filled.clear();
    }
    // Fills the next queued buffer as the camera's next frame: fill writes it and returns the
    // bytes used. False when nothing is queued or the stream is off.
    bool Capture(const std::function<size_t(uint8_t* data, size_t capacity)>& fill) {
        if (!streaming || queued.empty()) return false;
        const uint32_t i = queued.front();
        queued.pop_front();
        bytesUsed[i] = uint32_t(fill(buffers[i].data(), buffers[i].size()));
        filled.push_back(i);
        return true;
    }
};

class FakeV4l2 final : public qv::capture::V4l2Io {
  public:
    std::map<std::string, std::shared_ptr<FakeCamera>> devices;

    ~FakeV4l2() override {
        for (auto& [fd, cam] : open_) ::close(fd);
    }
    int Open(const char* path, int) override {
        auto it = devices.find(path);
        if (it == devices.end() || !it->second->present) return Fail(ENOENT);
        const int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);  // a number nothing else holds
        open_[fd] = it->second;
        ++it->second->openFds;
        return fd;
    }
    int Close(int fd) override {
        auto cam = Camera(fd);
        if (!cam) return Fail(EBADF);
        --cam->openFds;
        cam->StreamOff();
        if (cam->mapped == 0) cam->buffers.clear();
        open_.erase(fd);
        return ::close(fd);
    }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        auto cam = Camera(fd);
        if (!cam) return Fail(EBADF);
        if (!cam->present) return Fail(ENODEV);
        FakeCamera& c = *cam;
        switch (request) {
            case VIDIOC_QUERYCAP: {
                auto* q = static_cast<v4l2_capability*>(arg);
                *q = {};
                std::snprintf(reinterpret_cast<char*>(q->card), sizeof q->card, "%s",
                              c.card.c_str());
                q->version = (6 << 16) | (1 << 8);
                q->device_caps = c.caps;
                q->capabilities = c.caps | V4L2_CAP_DEVICE_CAPS;
                return 0;
            }
            case VIDIOC_ENUM_FMT: {
                auto* d = static_cast<v4l2_fmtdesc*>(arg);
                if (d->index >= c.formats.size()) return Fail(EINVAL);
                d->pixelformat = c.formats[d->index].first;
                return 0;
            }
            case VIDIOC_ENUM_FRAMESIZES: {
                auto* s = static_cast<v4l2_frmsizeenum*>(arg);
                for (const auto& [pf, sizes] : c.formats) {
                    if (pf != s->pixel_format || s->index >= sizes.size()) continue;
                    s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                    s->discrete = {sizes[s->index].first, sizes[s->index].second};
                    return 0;
                }
                return Fail(EINVAL);
            }
            case VIDIOC_G_FMT:
                static_cast<v4l2_format*>(arg)->fmt.pix = c.current;
                return 0;
            case VIDIOC_S_FMT: {
                if (!c.buffers.empty()) return Fail(EBUSY);
                // Like a real driver: an unknown format or size becomes the first listed.
                auto& pix = static_cast<v4l2_format*>(arg)->fmt.pix;
                auto chosen = c.formats.front();
                for (const auto& f : c.formats)
                    if (f.first == pix.pixelformat) chosen = f;
                auto size = chosen.second.front();
                for (auto s : chosen.second)
                    if (s == std::pair{pix.width, pix.height}) size = s;
                c.SetCurrent(chosen.first, size.first, size.second);
                pix = c.current;
                return 0;
            }
            case VIDIOC_REQBUFS: {
                if (c.streaming || c.mapped > 0) return Fail(EBUSY);
                const uint32_t count = static_cast<v4l2_requestbuffers*>(arg)->count;
                c.buffers.assign(count, std::vector<uint8_t>(c.current.sizeimage));
                c.bytesUsed.assign(count, 0);
                return 0;
            }
            case VIDIOC_QUERYBUF: {
                auto* b = static_cast<v4l2_buffer*>(arg);
                b->length = uint32_t(c.buffers.at(b->index).size());
                b->m.offset = b->index * kOffsetStep;
                return 0;
            }
            case VIDIOC_QBUF:
                c.queued.push_back(static_cast<v4l2_buffer*>(arg)->index);
                return 0;
            case VIDIOC_DQBUF: {
                if (!c.streaming || c.filled.empty()) return Fail(EAGAIN);
                auto* b = static_cast<v4l2_buffer*>(arg);
                b->index = c.filled.front();
                b->bytesused = c.bytesUsed[b->index];
                c.filled.pop_front();
                return 0;
            }
            case VIDIOC_STREAMON:
                c.streaming = !c.buffers.empty();
                return c.streaming ? 0 : Fail(EINVAL);
            case VIDIOC_STREAMOFF:
                return c.StreamOff(), 0;
            case VIDIOC_QUERYCTRL: {
                auto* q = static_cast<v4l2_queryctrl*>(arg);
                const bool next = q->id & V4L2_CTRL_FLAG_NEXT_CTRL;
                const uint32_t id = q->id & ~V4L2_CTRL_FLAG_NEXT_CTRL;
                for (const v4l2_queryctrl& ctl : c.controls)
                    if (next ? ctl.id > id : ctl.id == id) return *q = ctl, 0;
                return Fail(EINVAL);
            }
            case VIDIOC_QUERYMENU: {
                auto* m = static_cast<v4l2_querymenu*>(arg);
                if (m->id != V4L2_CID_POWER_LINE_FREQUENCY || m->index >= c.powerLineMenu.size())
                    return Fail(EINVAL);
                std::snprintf(reinterpret_cast<char*>(m->name), sizeof m->name, "%s",
                              c.powerLineMenu[m->index].c_str());
                return 0;
            }
            case VIDIOC_G_CTRL:
            case VIDIOC_S_CTRL: {
                auto* v = static_cast<v4l2_control*>(arg);
                for (const v4l2_queryctrl& q : c.controls) {
                    if (q.id != v->id || q.type == V4L2_CTRL_TYPE_CTRL_CLASS) continue;
                    if (request == VIDIOC_G_CTRL) {
                        v->value = c.values.count(q.id) ? c.values[q.id] : q.default_value;
                        return 0;
                    }
                    if (v->value < q.minimum || v->value > q.maximum) return Fail(ERANGE);
                    c.values[q.id] = v->value;
                    return 0;
                }
                return Fail(EINVAL);
            }
            default:
                return Fail(ENOTTY);
        }
    }
    void* Mmap(size_t length, int, int, int fd, int64_t offset) override {
        auto cam = Camera(fd);
        const size_t i = size_t(offset / kOffsetStep);
        if (!cam || !cam->present || i >= cam->buffers.size() || length != cam->buffers[i].size()) {
            errno = EINVAL;
            return MAP_FAILED;
        }
        ++cam->mapped;
        return cam->buffers[i].data();
    }
    int Munmap(void* address, size_t) override {
        for (auto& [path, cam] : devices)
            for (auto& b : cam->buffers)
                if (b.data() == address) return --cam->mapped, 0;
        return Fail(EINVAL);
    }
    int Poll(int fd, short, int) override {
        auto cam = Camera(fd);
        if (!cam) return POLLNVAL;
        if (!cam->present) return POLLERR | POLLHUP;
        return cam->streaming && !cam->filled.empty() ? POLLIN : 0;
    }

  private:
    static constexpr uint32_t kOffsetStep = 1 << 20;
    static int Fail(int error) {
        errno = error;
        return -1;
    }
    std::shared_ptr<FakeCamera> Camera(int fd) {
        auto it = open_.find(fd);
        return it == open_.end() ? nullptr : it->second;
    }
    std::map<int, std::shared_ptr<FakeCamera>> open_;
};

}  // namespace qvtest
