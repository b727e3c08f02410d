// The frame callback: motion measurement of every preview frame and the frame notification.
#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <cstdlib>
#include <cstring>

#include "core/include/QuorCore.h"
#include "core/src/CoreState.h"
#include "core/src/Motion.h"
#include "core/src/MotionCheckHook.h"
#include "platform/capture/CaptureWindow.h"

namespace qv::core {

namespace {

std::atomic<int> failNextAllocation{0};

bool ShouldFail(int which) {
    int expected = which;
    return failNextAllocation.compare_exchange_strong(expected, 0);
}

// Window thread. Grows the reference to `length` bytes, keeping what it held. The new part
// starts as the current frame: compared with anything else (black, or whatever memory held),
// the first frame after a device start or a format change would count as motion.
bool GrowReference(DeviceState& s, const uint8_t* frame, size_t length) {
    if (length <= s.referenceSize && s.reference) return true;
    if (ShouldFail(1)) return false;
    auto* grown = static_cast<uint8_t*>(std::realloc(s.reference, length ? length : 1));
    if (!grown) return false;
    std::memcpy(grown + s.referenceSize, frame + s.referenceSize, length - s.referenceSize);
    s.reference = grown;
    s.referenceSize = length;
    return true;
}

void Measure(capture::CaptureWindow* window, uint8_t* data, size_t length, uint32_t mode) {
    DeviceState& s = State();
    // A frame we cannot hold a reference or working copy for is left unmeasured.
    if (!GrowReference(s, data, length)) return;
    if (ShouldFail(2)) return;
    std::unique_ptr<uint8_t, decltype(&std::free)> work(
        static_cast<uint8_t*>(std::malloc(length ? length : 1)), &std::free);
    if (!work) return;
    if (length) std::memcpy(work.get(), data, length);
    // Mode 2 writes the difference into the copy; mode 4 into the shown frame.
    uint8_t* out = mode == QV_MOTION_SHOW ? data : work.get();
    const uint8_t* frame = mode == QV_MOTION_SHOW ? work.get() : data;

    capture::BitmapHeader h;
    if (window->VideoFormatSize() == 0 || !window->GetVideoFormat(h)) h = capture::BitmapHeader{};
    const FrameLayout layout = ClassifyFrame(h.biBitCount, h.biCompression);
    s.lastDepth = layout == FrameLayout::Rgb555 ? 15 : h.biBitCount;

    uint64_t sum = MeasureDifference(layout, frame, s.reference, out, length);
    // Ignore masks and the motion check.
    CheckFrame(layout, h.biBitCount, frame, s.reference, out, length, h.biWidth, h.biHeight, sum);
    // Small sums leave the reference alone, so slow changes add up until they count.
    if (sum > 10) std::memcpy(s.reference, frame, length);
    s.motionLevel = MotionLevel(sum, h.biWidth, h.biHeight);
}

}  // namespace

void FailNextFrameAllocation(int which) {
    failNextAllocation = which;
}

// Window thread (the capture window calls it for every frame).
bool FrameCallback(capture::CaptureWindow* window, uint8_t* data, size_t length) {
    DeviceState& s = State();
    if (s.currentDevice.load() < 0) return false;
    const uint32_t mode = s.motionMode.load();
    if (!s.capturing.load() && (mode == QV_MOTION_MEASURE || mode == QV_MOTION_SHOW) && window &&
        data)
        Measure(window, data, length, mode);
    if (auto* notify = static_cast<QWidget*>(s.hwndNotify.load()))
        QCoreApplication::postEvent(notify,
                                    new QEvent(static_cast<QEvent::Type>(QV_FRAME_NOTIFY_EVENT)));
    return true;
}

}  // namespace qv::core
