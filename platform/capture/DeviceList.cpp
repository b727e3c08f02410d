#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/capture/CaptureDriver.h"
#include "platform/capture/demo/DemoCamera.h"

#include "platform/capture/v4l2/V4l2Driver.h"

namespace qv::capture {

namespace {

constexpr size_t kMaxDrivers = 10;

std::mutex& ExtraMutex() {
    static std::mutex m;
    return m;
}

std::vector<DriverEntry>& Extra() {
    static std::vector<DriverEntry> extra;
    return extra;
}

bool DemoCameraWanted() {
    const char* v = std::getenv("QUORVEX_DEMO_CAMERA");
    return v && std::strcmp(v, "1") == 0;
}

}  // namespace

uint32_t FrameBytes(const VideoFormat& format) {
    const uint64_t w = format.width, h = format.height;
    uint64_t stride;
    if (format.bitCount == 16 &&
        (format.compression == bitmap::kYuy2 || format.compression == bitmap::kUyvy))
        stride = ((w + 1) / 2) * 4;
    else
        stride = ((w * format.bitCount + 31) / 32) * 4;
    const uint64_t bytes = stride * h;
    return bytes > UINT32_MAX ? 0 : static_cast<uint32_t>(bytes);
}

// Any thread: reads the extra list under its lock; V4L2 probing touches /dev only.
std::vector<DriverEntry> ListDrivers() {
    std::vector<DriverEntry> list;
    for (DriverEntry& e : ListV4l2Drivers()) list.push_back(std::move(e));
    if (DemoCameraWanted()) list.push_back(DemoCameraEntry());
    {
        std::lock_guard<std::mutex> lock(ExtraMutex());
        for (const DriverEntry& e : Extra()) list.push_back(e);
    }
    if (list.size() > kMaxDrivers) list.resize(kMaxDrivers);
    return list;
}

// Any thread.
void SetExtraDrivers(std::vector<DriverEntry> extra) {
    std::lock_guard<std::mutex> lock(ExtraMutex());
    Extra() = std::move(extra);
}

}  // namespace qv::capture
