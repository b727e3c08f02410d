#include "platform/capture/v4l2/V4l2Driver.h"

#include <fcntl.h>
#include <libv4l-plugin.h>
#include <libv4lconvert.h>
#include <poll.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qv::capture {

namespace {

constexpr uint32_t kBufferCount = 4;

struct Native {
    uint32_t pixelFormat;
    uint16_t bitCount;
    uint32_t compression;
};

constexpr Native kNative[] = {
    {V4L2_PIX_FMT_YUYV, 16, bitmap::kYuy2},  {V4L2_PIX_FMT_UYVY, 16, bitmap::kUyvy},
    {V4L2_PIX_FMT_BGR24, 24, bitmap::kRgb},  {V4L2_PIX_FMT_RGB565, 16, bitmap::kBitfields},
    {V4L2_PIX_FMT_RGB555, 16, bitmap::kRgb},
};

const Native* FindNative(uint32_t pixelFormat) {
    for (const Native& n : kNative) {
        if (n.pixelFormat == pixelFormat) return &n;
    }
    return nullptr;
}

bool IsYuv(uint32_t compression) {
    return compression == bitmap::kYuy2 || compression == bitmap::kUyvy;
}

bool Gone(int error) {
    return error == ENODEV || error == ENXIO || error == EIO;
}

// libv4lconvert asks the device through the same calls as the driver.
int ConvertIoctl(void* priv, int fd, unsigned long request, void* arg) {
    return static_cast<V4l2Io*>(priv)->Ioctl(fd, request, arg);
}
ssize_t ConvertRead(void*, int, void*, size_t) {
    errno = EINVAL;
    return -1;
}
ssize_t ConvertWrite(void*, int, const void*, size_t) {
    errno = EINVAL;
    return -1;
}
libv4l_dev_ops MakeConvertOps() {
    libv4l_dev_ops ops{};
    ops.ioctl = ConvertIoctl;
    ops.read = ConvertRead;
    ops.write = ConvertWrite;
    return ops;
}
const libv4l_dev_ops kConvertOps = MakeConvertOps();

int Xioctl(V4l2Io& io, int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = io.Ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r;
}

uint32_t DeviceCaps(const v4l2_capability& cap) {
    return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
}

std::string Text(const uint8_t* s, size_t max) {
    return std::string(reinterpret_cast<const char*>(s),
                       strnlen(reinterpret_cast<const char*>(s), max));
}

// Frame sizes of a pixel format: the discrete ones, or common sizes within a range.
std::vector<std::pair<uint32_t, uint32_t>> FrameSizes(V4l2Io& io, int fd, uint32_t pixelFormat) {
    std::vector<std::pair<uint32_t, uint32_t>> sizes;
    for (uint32_t i = 0; i < 64; ++i) {
        v4l2_frmsizeenum fs{};
        fs.index = i;
        fs.pixel_format = pixelFormat;
        if (Xioctl(io, fd, VIDIOC_ENUM_FRAMESIZES, &fs) < 0) break;
        if (fs.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            sizes.emplace_back(fs.discrete.width, fs.discrete.height);
            continue;
        }
        constexpr std::pair<uint32_t, uint32_t> kCommon[] = {
            {160, 120}, {320, 240}, {352, 288}, {640, 480}, {800, 600}, {1280, 720}, {1920, 1080}};
        for (auto [w, h] : kCommon) {
            if (w >= fs.stepwise.min_width && w <= fs.stepwise.max_width &&
                h >= fs.stepwise.min_height && h <= fs.stepwise.max_height) {
                sizes.emplace_back(w, h);
            }
        }
        break;
    }
    return sizes;
}

std::vector<uint32_t> PixelFormats(V4l2Io& io, int fd) {
    std::vector<uint32_t> formats;
    for (uint32_t i = 0; i < 64; ++i) {
        v4l2_fmtdesc d{};
        d.index = i;
        d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (Xioctl(io, fd, VIDIOC_ENUM_FMT, &d) < 0) break;
        formats.push_back(d.pixelformat);
    }
    return formats;
}

}  // namespace

V4l2Driver::V4l2Driver(std::string path, std::shared_ptr<V4l2Io> io)
    : path_(std::move(path)), io_(std::move(io)) {}

V4l2Driver::~V4l2Driver() {
    Close();
}

bool V4l2Driver::Open() {
    Close();
    lost_ = false;
    fd_ = io_->Open(path_.c_str(), O_RDWR | O_NONBLOCK);
    if (fd_ < 0) return false;
    v4l2_capability cap{};
    fmt_ = {};
    fmt_.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    const bool ok = Xioctl(*io_, fd_, VIDIOC_QUERYCAP, &cap) == 0 &&
                    (DeviceCaps(cap) & V4L2_CAP_VIDEO_CAPTURE) &&
                    (DeviceCaps(cap) & V4L2_CAP_STREAMING) &&
                    Xioctl(*io_, fd_, VIDIOC_G_FMT, &fmt_) == 0 && Configure() && StartStreaming();
    if (!ok) {
        Close();
        return false;
    }
    hasControls_ = !Controls().empty();
    return true;
}

void V4l2Driver::Close() {
    StopStreaming();
    if (convert_ != nullptr) {
        v4lconvert_destroy(convert_);
        convert_ = nullptr;
    }
    if (fd_ >= 0) {
        io_->Close(fd_);
        fd_ = -1;
    }
}

bool V4l2Driver::Configure() {
    const v4l2_pix_format& p = fmt_.fmt.pix;
    if (p.width == 0 || p.height == 0 || p.width > 16384 || p.height > 16384) return false;
    if (convert_ != nullptr) {
        v4lconvert_destroy(convert_);
        convert_ = nullptr;
    }
    VideoFormat f;
    f.width = p.width;
    f.height = p.height;
    if (const Native* n = FindNative(p.pixelformat)) {
        f.bitCount = n->bitCount;
        f.compression = n->compression;
    } else {
        convert_ = v4lconvert_create_with_dev_ops(fd_, io_.get(), &kConvertOps);
        if (convert_ == nullptr) return false;
        f.bitCount = 24;
        f.compression = bitmap::kRgb;
        scratch_.resize(size_t(p.width) * p.height * 3);
    }
    f.imageSize = FrameBytes(f);
    out_ = f;
    return f.imageSize != 0;
}

bool V4l2Driver::StartStreaming() {
    v4l2_requestbuffers req{};
    req.count = kBufferCount;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (Xioctl(*io_, fd_, VIDIOC_REQBUFS, &req) < 0 || req.count == 0) return false;
    buffers_.assign(req.count, Buffer{});
    for (uint32_t i = 0; i < req.count; ++i) {
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        b.index = i;
        if (Xioctl(*io_, fd_, VIDIOC_QUERYBUF, &b) < 0) return false;
        void* p = io_->Mmap(b.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, b.m.offset);
        if (p == MAP_FAILED) return false;
        buffers_[i] = {p, b.length};
        if (Xioctl(*io_, fd_, VIDIOC_QBUF, &b) < 0) return false;
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(*io_, fd_, VIDIOC_STREAMON, &type) < 0) return false;
    streaming_ = true;
    return true;
}

void V4l2Driver::StopStreaming() {
    if (fd_ >= 0 && streaming_) {
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        Xioctl(*io_, fd_, VIDIOC_STREAMOFF, &type);
    }
    streaming_ = false;
    for (Buffer& b : buffers_) {
        if (b.start != nullptr) io_->Munmap(b.start, b.length);
    }
    if (fd_ >= 0 && !buffers_.empty()) {
        // Give the buffers back so the format can change.
        v4l2_requestbuffers req{};
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        Xioctl(*io_, fd_, VIDIOC_REQBUFS, &req);
    }
    buffers_.clear();
}

FrameResult V4l2Driver::Lose() {
    // The camera is gone: release what we hold; Open starts afresh.
    streaming_ = false;  // no STREAMOFF to a vanished device
    Close();
    lost_ = true;
    return FrameResult::Lost;
}

FrameResult V4l2Driver::TakeFrame(std::vector<uint8_t>& dest) {
    if (lost_) return FrameResult::Lost;
    if (fd_ < 0 || !streaming_) return FrameResult::NoFrame;
    const int events = io_->Poll(fd_, POLLIN, 0);
    if (events < 0) return errno == EINTR ? FrameResult::NoFrame : Lose();
    if (events & (POLLERR | POLLHUP | POLLNVAL)) return Lose();
    if (!(events & POLLIN)) return FrameResult::NoFrame;
    // Keep only the newest filled buffer; hand older ones straight back.
    v4l2_buffer newest{};
    bool have = false;
    for (;;) {
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        if (Xioctl(*io_, fd_, VIDIOC_DQBUF, &b) < 0) {
            if (Gone(errno)) return Lose();
            break;  // EAGAIN: nothing more
        }
        if (b.index >= buffers_.size()) continue;
        if (have && Xioctl(*io_, fd_, VIDIOC_QBUF, &newest) < 0 && Gone(errno)) return Lose();
        newest = b;
        have = true;
    }
    if (!have) return FrameResult::NoFrame;
    const Buffer& buf = buffers_[newest.index];
    const bool ok = !(newest.flags & V4L2_BUF_FLAG_ERROR) &&
                    Deliver(static_cast<const uint8_t*>(buf.start),
                            std::min<size_t>(newest.bytesused, buf.length), dest);
    if (Xioctl(*io_, fd_, VIDIOC_QBUF, &newest) < 0 && Gone(errno)) {
        Lose();
        return ok ? FrameResult::Frame : FrameResult::Lost;
    }
    return ok ? FrameResult::Frame : FrameResult::NoFrame;
}

bool V4l2Driver::Deliver(const uint8_t* data, size_t used, std::vector<uint8_t>& dest) {
    const v4l2_pix_format& p = fmt_.fmt.pix;
    const size_t w = out_.width, h = out_.height;
    dest.resize(out_.imageSize);
    if (convert_ != nullptr) {
        v4l2_format dst = fmt_;
        dst.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
        dst.fmt.pix.bytesperline = uint32_t(w * 3);
        dst.fmt.pix.sizeimage = uint32_t(scratch_.size());
        const int n = v4lconvert_convert(convert_, &fmt_, &dst, const_cast<uint8_t*>(data),
                                         int(used), scratch_.data(), int(scratch_.size()));
        if (n < int(scratch_.size())) return false;
        data = scratch_.data();
        used = scratch_.size();
    }
    const size_t rowBytes = w * (out_.bitCount / 8);
    const size_t srcStride =
        convert_ != nullptr ? rowBytes : std::max<size_t>(p.bytesperline, rowBytes);
    if (used < srcStride * (h - 1) + rowBytes) return false;  // a short frame
    const size_t dstStride =
        IsYuv(out_.compression) ? ((w + 1) / 2) * 4 : ((w * out_.bitCount + 31) / 32) * 4;
    for (size_t y = 0; y < h; ++y) {
        // RGB goes bottom-up as a DIB; packed YUV stays top-down.
        const size_t row = IsYuv(out_.compression) ? y : h - 1 - y;
        uint8_t* d = dest.data() + row * dstStride;
        std::memcpy(d, data + y * srcStride, rowBytes);
        std::memset(d + rowBytes, 0, dstStride - rowBytes);
    }
    return true;
}

std::vector<VideoFormat> V4l2Driver::Formats() const {
    std::vector<VideoFormat> list;
    if (fd_ < 0) return list;
    for (uint32_t pf : PixelFormats(*io_, fd_)) {
        const Native* n = FindNative(pf);  // others are offered as converted 24-bit
        for (auto [w, h] : FrameSizes(*io_, fd_, pf)) {
            VideoFormat f{w, h, n ? n->bitCount : uint16_t(24), n ? n->compression : bitmap::kRgb,
                          0};
            f.imageSize = FrameBytes(f);
            if (std::find(list.begin(), list.end(), f) == list.end()) list.push_back(f);
        }
    }
    return list;
}

bool V4l2Driver::ApplyFormat(uint32_t pixelFormat, uint32_t width, uint32_t height) {
    v4l2_format f = fmt_;
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f.fmt.pix.pixelformat = pixelFormat;
    f.fmt.pix.width = width;
    f.fmt.pix.height = height;
    f.fmt.pix.bytesperline = 0;
    f.fmt.pix.sizeimage = 0;
    f.fmt.pix.field = V4L2_FIELD_ANY;
    if (Xioctl(*io_, fd_, VIDIOC_S_FMT, &f) < 0) return false;
    // The camera answers with what it will really deliver.
    if (f.fmt.pix.pixelformat != pixelFormat || f.fmt.pix.width != width ||
        f.fmt.pix.height != height) {
        return false;
    }
    fmt_ = f;
    return true;
}

bool V4l2Driver::SetFormat(const VideoFormat& format) {
    if (fd_ < 0) return false;
    // The camera's own format for the request; for 24 bits any format we convert will do.
    std::vector<uint32_t> candidates;
    const std::vector<uint32_t> available = PixelFormats(*io_, fd_);
    for (uint32_t pf : available) {
        const Native* n = FindNative(pf);
        if (n && n->bitCount == format.bitCount && n->compression == format.compression) {
            candidates.insert(candidates.begin(), pf);
        } else if (!n && format.bitCount == 24 && format.compression == bitmap::kRgb) {
            candidates.push_back(pf);
        }
    }
    const v4l2_format previous = fmt_;
    for (uint32_t pf : candidates) {
        const auto sizes = FrameSizes(*io_, fd_, pf);
        if (std::find(sizes.begin(), sizes.end(), std::pair{format.width, format.height}) ==
            sizes.end()) {
            continue;
        }
        StopStreaming();
        if (ApplyFormat(pf, format.width, format.height) && Configure() && StartStreaming()) {
            return true;
        }
        // Back to what worked before.
        StopStreaming();
        v4l2_format back = previous;
        fmt_ = previous;
        const bool restored =
            Xioctl(*io_, fd_, VIDIOC_S_FMT, &back) == 0 && Configure() && StartStreaming();
        if (!restored) Lose();
        return false;
    }
    return false;
}

std::vector<DriverControl> V4l2Driver::Controls() {
    std::vector<DriverControl> list;
    if (fd_ < 0) return list;
    v4l2_queryctrl q{};
    q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (Xioctl(*io_, fd_, VIDIOC_QUERYCTRL, &q) == 0) {
        const uint32_t id = q.id;
        if (!(q.flags & V4L2_CTRL_FLAG_DISABLED) &&
            (q.type == V4L2_CTRL_TYPE_INTEGER || q.type == V4L2_CTRL_TYPE_BOOLEAN ||
             q.type == V4L2_CTRL_TYPE_MENU || q.type == V4L2_CTRL_TYPE_INTEGER_MENU)) {
            DriverControl c;
            c.id = id;
            c.name = Text(q.name, sizeof q.name);
            c.minimum = q.minimum;
            c.maximum = q.maximum;
            c.step = q.step > 0 ? q.step : 1;
            c.defaultValue = q.default_value;
            c.kind = q.type == V4L2_CTRL_TYPE_BOOLEAN   ? DriverControl::Kind::Boolean
                     : q.type == V4L2_CTRL_TYPE_INTEGER ? DriverControl::Kind::Integer
                                                        : DriverControl::Kind::Menu;
            if (c.kind == DriverControl::Kind::Menu) {
                for (int32_t i = q.minimum; i <= q.maximum && i - q.minimum < 256; ++i) {
                    v4l2_querymenu m{};
                    m.id = id;
                    m.index = uint32_t(i);
                    std::string item;
                    if (Xioctl(*io_, fd_, VIDIOC_QUERYMENU, &m) == 0) {
                        item = q.type == V4L2_CTRL_TYPE_MENU ? Text(m.name, sizeof m.name)
                                                             : std::to_string(m.value);
                    }
                    c.menuItems.push_back(item);  // gaps stay empty: index = value - minimum
                }
            }
            v4l2_control v{};
            v.id = id;
            c.value = Xioctl(*io_, fd_, VIDIOC_G_CTRL, &v) == 0 ? v.value : c.defaultValue;
            list.push_back(std::move(c));
        }
        q = {};
        q.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return list;
}

bool V4l2Driver::SetControl(uint32_t id, int32_t value) {
    if (fd_ < 0) return false;
    v4l2_control v{};
    v.id = id;
    v.value = value;
    return Xioctl(*io_, fd_, VIDIOC_S_CTRL, &v) == 0;
}

std::vector<DriverEntry> ListV4l2Drivers(const std::shared_ptr<V4l2Io>& io) {
    std::vector<DriverEntry> list;
    for (int i = 0; i < 10; ++i) {
        const std::string path = "/dev/video" + std::to_string(i);
        const int fd = io->Open(path.c_str(), O_RDWR | O_NONBLOCK);
        if (fd < 0) continue;
        v4l2_capability cap{};
        const bool ok = Xioctl(*io, fd, VIDIOC_QUERYCAP, &cap) == 0 &&
                        (DeviceCaps(cap) & V4L2_CAP_VIDEO_CAPTURE) &&
                        (DeviceCaps(cap) & V4L2_CAP_STREAMING);
        io->Close(fd);
        if (!ok) continue;
        DriverEntry e;
        e.description = Text(cap.card, sizeof cap.card);
        char version[32];
        std::snprintf(version, sizeof version, "%u.%u.%u", (cap.version >> 16) & 0xFF,
                      (cap.version >> 8) & 0xFF, cap.version & 0xFF);
        e.version = version;
        e.create = [path, io]() -> std::unique_ptr<CaptureDriver> {
            return std::make_unique<V4l2Driver>(path, io);
        };
        list.push_back(std::move(e));
    }
    return list;
}

std::vector<DriverEntry> ListV4l2Drivers() {
    return ListV4l2Drivers(SystemV4l2Io());
}

}  // namespace qv::capture
