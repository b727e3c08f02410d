#include "FakeV4l2.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qvtest {

namespace {

int Fail(int error) {
    errno = error;
    return -1;
}

uint32_t BytesPerPixelLine(uint32_t pf, uint32_t width) {
    switch (pf) {
        case V4L2_PIX_FMT_BGR24:
            return width * 3;
        case V4L2_PIX_FMT_YUV420:
        case V4L2_PIX_FMT_MJPEG:
            return width;
        default:
            return width * 2;
    }
}

constexpr int64_t kOffsetStep = 1 << 20;

}  // namespace

bool FakeCamera::Capture(const std::function<size_t(uint8_t*, size_t)>& fill) {
    if (!streaming || queued.empty() || !present) return false;
    const uint32_t index = queued.front();
    queued.pop_front();
    bytesUsed[index] = uint32_t(fill(buffers[index].data(), buffers[index].size()));
    filled.push_back(index);
    return true;
}

void FakeCamera::SetCurrent(uint32_t pixelFormat, uint32_t width, uint32_t height) {
    current = {};
    current.width = width;
    current.height = height;
    current.pixelformat = pixelFormat;
    current.bytesperline = BytesPerPixelLine(pixelFormat, width) +
                           (pixelFormat == V4L2_PIX_FMT_MJPEG ? 0 : rowPadding);
    current.sizeimage =
        pixelFormat == V4L2_PIX_FMT_YUV420 ? width * height * 3 / 2 : current.bytesperline * height;
}

std::shared_ptr<FakeCamera> FakeCamera::Webcam(const std::string& card) {
    auto cam = std::make_shared<FakeCamera>();
    cam->card = card;
    cam->formats = {{V4L2_PIX_FMT_YUYV, {{640, 480}, {320, 240}, {160, 120}}},
                    {V4L2_PIX_FMT_MJPEG, {{1280, 720}, {640, 480}}}};
    auto control = [&](uint32_t id, const char* name, v4l2_ctrl_type type, int32_t min, int32_t max,
                       int32_t def, std::vector<std::string> menu = {}, uint32_t flags = 0) {
        FakeControl c;
        c.query.id = id;
        std::snprintf(reinterpret_cast<char*>(c.query.name), sizeof c.query.name, "%s", name);
        c.query.type = type;
        c.query.minimum = min;
        c.query.maximum = max;
        c.query.step = 1;
        c.query.default_value = def;
        c.query.flags = flags;
        c.value = def;
        c.menu = std::move(menu);
        cam->controls.push_back(c);
    };
    control(V4L2_CID_USER_CLASS, "User Controls", V4L2_CTRL_TYPE_CTRL_CLASS, 0, 0, 0);
    control(V4L2_CID_BRIGHTNESS, "Brightness", V4L2_CTRL_TYPE_INTEGER, -64, 64, 0);
    control(V4L2_CID_CONTRAST, "Contrast", V4L2_CTRL_TYPE_INTEGER, 0, 95, 32);
    control(V4L2_CID_AUTO_WHITE_BALANCE, "White Balance, Automatic", V4L2_CTRL_TYPE_BOOLEAN, 0, 1,
            1);
    control(V4L2_CID_POWER_LINE_FREQUENCY, "Power Line Frequency", V4L2_CTRL_TYPE_MENU, 0, 2, 1,
            {"Disabled", "50 Hz", "60 Hz"});
    control(V4L2_CID_HUE, "Hue", V4L2_CTRL_TYPE_INTEGER, -40, 40, 0, {}, V4L2_CTRL_FLAG_DISABLED);
    std::sort(cam->controls.begin(), cam->controls.end(),
              [](const FakeControl& a, const FakeControl& b) { return a.query.id < b.query.id; });
    cam->SetCurrent(V4L2_PIX_FMT_YUYV, 640, 480);
    return cam;
}

FakeV4l2::~FakeV4l2() {
    for (auto& [fd, cam] : open_) ::close(fd);
}

void FakeV4l2::Add(const std::string& path, std::shared_ptr<FakeCamera> camera) {
    devices_[path] = std::move(camera);
}

std::shared_ptr<FakeCamera> FakeV4l2::Camera(int fd) {
    auto it = open_.find(fd);
    return it == open_.end() ? nullptr : it->second;
}

int FakeV4l2::Open(const char* path, int) {
    auto it = devices_.find(path);
    if (it == devices_.end() || !it->second->present) return Fail(ENOENT);
    // A real descriptor number (of /dev/null) so nothing else in the process can have it.
    const int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (fd < 0) return -1;
    open_[fd] = it->second;
    ++it->second->openFds;
    return fd;
}

int FakeV4l2::Close(int fd) {
    auto cam = Camera(fd);
    if (!cam) return Fail(EBADF);
    --cam->openFds;
    if (cam->streaming) {
        cam->streaming = false;
        cam->queued.clear();
        cam->filled.clear();
    }
    if (cam->mapped == 0) cam->buffers.clear();
    open_.erase(fd);
    ::close(fd);
    return 0;
}

int FakeV4l2::Ioctl(int fd, unsigned long request, void* arg) {
    auto cam = Camera(fd);
    if (!cam) return Fail(EBADF);
    if (!cam->present) return Fail(ENODEV);
    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* c = static_cast<v4l2_capability*>(arg);
            *c = {};
            std::snprintf(reinterpret_cast<char*>(c->card), sizeof c->card, "%s",
                          cam->card.c_str());
            c->version = (6 << 16) | (1 << 8) | 0;
            c->device_caps = cam->caps;
            c->capabilities = cam->caps | V4L2_CAP_DEVICE_CAPS;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* d = static_cast<v4l2_fmtdesc*>(arg);
            if (d->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || d->index >= cam->formats.size()) {
                return Fail(EINVAL);
            }
            const uint32_t index = d->index;
            *d = {};
            d->index = index;
            d->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            d->pixelformat = cam->formats[index].pixelFormat;
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* s = static_cast<v4l2_frmsizeenum*>(arg);
            for (const auto& f : cam->formats) {
                if (f.pixelFormat != s->pixel_format) continue;
                if (s->index >= f.sizes.size()) return Fail(EINVAL);
                s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                s->discrete.width = f.sizes[s->index].first;
                s->discrete.height = f.sizes[s->index].second;
                return 0;
            }
            return Fail(EINVAL);
        }
        case VIDIOC_G_FMT: {
            auto* f = static_cast<v4l2_format*>(arg);
            if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return Fail(EINVAL);
            f->fmt.pix = cam->current;
            return 0;
        }
        case VIDIOC_TRY_FMT:
        case VIDIOC_S_FMT: {
            auto* f = static_cast<v4l2_format*>(arg);
            if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return Fail(EINVAL);
            if (request == VIDIOC_S_FMT && !cam->buffers.empty()) return Fail(EBUSY);
            // Like a real driver: an unknown format or size becomes the first listed.
            const FakeCamera::Format* chosen = &cam->formats.front();
            for (const auto& fm : cam->formats)
                if (fm.pixelFormat == f->fmt.pix.pixelformat) chosen = &fm;
            auto best = chosen->sizes.front();
            for (auto size : chosen->sizes)
                if (size == std::pair{f->fmt.pix.width, f->fmt.pix.height}) best = size;
            FakeCamera probe = *cam;
            probe.SetCurrent(chosen->pixelFormat, best.first, best.second);
            f->fmt.pix = probe.current;
            if (request == VIDIOC_S_FMT) cam->current = probe.current;
            return 0;
        }
        case VIDIOC_REQBUFS: {
            auto* r = static_cast<v4l2_requestbuffers*>(arg);
            if (r->memory != V4L2_MEMORY_MMAP) return Fail(EINVAL);
            if (cam->streaming || cam->mapped > 0) return Fail(EBUSY);
            cam->buffers.assign(r->count, std::vector<uint8_t>(cam->current.sizeimage));
            cam->bytesUsed.assign(r->count, 0);
            cam->queued.clear();
            cam->filled.clear();
            return 0;
        }
        case VIDIOC_QUERYBUF: {
            auto* b = static_cast<v4l2_buffer*>(arg);
            if (b->index >= cam->buffers.size()) return Fail(EINVAL);
            b->length = uint32_t(cam->buffers[b->index].size());
            b->m.offset = uint32_t(b->index * kOffsetStep);
            return 0;
        }
        case VIDIOC_QBUF: {
            auto* b = static_cast<v4l2_buffer*>(arg);
            if (b->index >= cam->buffers.size()) return Fail(EINVAL);
            if (std::count(cam->queued.begin(), cam->queued.end(), b->index) ||
                std::count(cam->filled.begin(), cam->filled.end(), b->index)) {
                return Fail(EINVAL);
            }
            cam->queued.push_back(b->index);
            return 0;
        }
        case VIDIOC_DQBUF: {
            auto* b = static_cast<v4l2_buffer*>(arg);
            if (!cam->streaming) return Fail(EINVAL);
            if (cam->filled.empty()) return Fail(EAGAIN);
            const uint32_t index = cam->filled.front();
            cam->filled.pop_front();
            b->index = index;
            b->bytesused = cam->bytesUsed[index];
            b->length = uint32_t(cam->buffers[index].size());
            return 0;
        }
        case VIDIOC_STREAMON:
            if (cam->buffers.empty()) return Fail(EINVAL);
            cam->streaming = true;
            return 0;
        case VIDIOC_STREAMOFF:
            cam->streaming = false;
            cam->queued.clear();
            cam->filled.clear();
            return 0;
        case VIDIOC_QUERYCTRL: {
            auto* q = static_cast<v4l2_queryctrl*>(arg);
            const bool next = q->id & V4L2_CTRL_FLAG_NEXT_CTRL;
            const uint32_t id = q->id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
            for (const FakeControl& c : cam->controls) {
                if (next ? c.query.id > id : c.query.id == id) {
                    *q = c.query;
                    return 0;
                }
            }
            return Fail(EINVAL);
        }
        case VIDIOC_QUERYMENU: {
            auto* m = static_cast<v4l2_querymenu*>(arg);
            for (const FakeControl& c : cam->controls) {
                if (c.query.id != m->id) continue;
                const int64_t i = int64_t(m->index) - c.query.minimum;
                if (i < 0 || i >= int64_t(c.menu.size()) || c.menu[size_t(i)].empty()) {
                    return Fail(EINVAL);
                }
                std::snprintf(reinterpret_cast<char*>(m->name), sizeof m->name, "%s",
                              c.menu[size_t(i)].c_str());
                return 0;
            }
            return Fail(EINVAL);
        }
        case VIDIOC_G_CTRL:
        case VIDIOC_S_CTRL: {
            auto* v = static_cast<v4l2_control*>(arg);
            for (FakeControl& c : cam->controls) {
                if (c.query.id != v->id || c.query.type == V4L2_CTRL_TYPE_CTRL_CLASS) continue;
                if (request == VIDIOC_G_CTRL) {
                    v->value = c.value;
                    return 0;
                }
                if (v->value < c.query.minimum || v->value > c.query.maximum) return Fail(ERANGE);
                c.value = v->value;
                return 0;
            }
            return Fail(EINVAL);
        }
        default:
            return Fail(ENOTTY);
    }
}

void* FakeV4l2::Mmap(size_t length, int, int, int fd, int64_t offset) {
    auto cam = Camera(fd);
    if (!cam || !cam->present) {
        errno = ENODEV;
        return MAP_FAILED;
    }
    const size_t index = size_t(offset / kOffsetStep);
    if (offset % kOffsetStep != 0 || index >= cam->buffers.size() ||
        length != cam->buffers[index].size()) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    ++cam->mapped;
    return cam->buffers[index].data();
}

int FakeV4l2::Munmap(void* address, size_t length) {
    for (auto& [path, cam] : devices_) {
        for (auto& b : cam->buffers) {
            if (b.data() == address && b.size() == length) {
                --cam->mapped;
                return 0;
            }
        }
    }
    return Fail(EINVAL);
}

int FakeV4l2::Poll(int fd, short, int) {
    auto cam = Camera(fd);
    if (!cam) return POLLNVAL;
    if (!cam->present) return POLLERR | POLLHUP;
    return cam->streaming && !cam->filled.empty() ? POLLIN : 0;
}

}  // namespace qvtest
