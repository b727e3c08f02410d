#include "platform/capture/v4l2/V4l2Io.h"
#include "platform/file/Owners.h"

#include <fcntl.h>
#include <libv4l2.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

namespace qv::capture {

namespace {

class SystemIo final : public V4l2Io {
  public:
    int Open(const char* path, int flags) override {
        UniqueFd fd(::open(path, flags | O_CLOEXEC));
        // libv4l2 wraps the descriptor (plugins, buffer handling) without converting.
        if (!fd || v4l2_fd_open(fd.get(), V4L2_DISABLE_CONVERSION) < 0) return -1;
        return fd.release();
    }
    int Close(int fd) override { return v4l2_close(fd); }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        return v4l2_ioctl(fd, request, arg);
    }
    void* Mmap(size_t length, int prot, int flags, int fd, int64_t offset) override {
        return v4l2_mmap(nullptr, length, prot, flags, fd, offset);
    }
    int Munmap(void* address, size_t length) override { return v4l2_munmap(address, length); }
    int Poll(int fd, short events, int timeoutMs) override {
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, timeoutMs);
        return r <= 0 ? r : p.revents;
    }
};

}  // namespace

std::shared_ptr<V4l2Io> SystemV4l2Io() {
    static const std::shared_ptr<V4l2Io> io = std::make_shared<SystemIo>();
    return io;
}

}  // namespace qv::capture
