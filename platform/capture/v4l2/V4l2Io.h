// The device calls the V4L2 driver makes, behind one narrow interface so that tests can
// put a fake camera behind it. Calls follow the system's conventions: -1 and errno on
// failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace qv::capture {

class V4l2Io {
  public:
    virtual ~V4l2Io() = default;
    virtual int Open(const char* path, int flags) = 0;
    virtual int Close(int fd) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    // Returns MAP_FAILED on failure.
    virtual void* Mmap(size_t length, int prot, int flags, int fd, int64_t offset) = 0;
    virtual int Munmap(void* address, size_t length) = 0;
    // poll() on one descriptor: the returned events, 0 on time-out, -1 on error.
    virtual int Poll(int fd, short events, int timeoutMs) = 0;
};

// The real devices, through libv4l2 (format emulation off: conversion is ours).
std::shared_ptr<V4l2Io> SystemV4l2Io();

}  // namespace qv::capture
