// The frame callback: motion measurement of every frame and the frame notification.
#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <cstring>
#include <new>

#include "core/include/QuorCore.h"
#include "core/src/CoreState.h"
#include "core/src/Motion.h"
#include "core/src/MotionCheckHook.h"
#include "platform/capture/CaptureSession.h"

namespace qv::core {

namespace {

// Window thread. Grows the reference to `length` bytes, keeping what it held. The new part
// starts as the current frame: compared with anything else (black, or whatever memory held),
// the first frame after a device start or a format change would count as motion.
void GrowReference(DeviceState& s, const uint8_t* frame, size_t length) {
    const size_t held = s.reference.size();
    if (length > held) s.reference.insert(s.reference.end(), frame + held, frame + length);
}

void Measure(capture::CaptureSession* session, uint8_t* data, size_t length, uint32_t mode) {
    DeviceState& s = State();
    try {
        GrowReference(s, data, length);
        s.work.assign(data, data + length);
    } catch (const std::bad_alloc&) {
        return;  // a frame we cannot hold a copy of is left unmeasured
    }
    // Mode 2 writes the difference into the copy; mode 4 into the shown frame.
    uint8_t* out = mode == QV_MOTION_SHOW ? data : s.work.data();
    const uint8_t* frame = mode == QV_MOTION_SHOW ? s.work.data() : data;

    bitmap::Info h;
    if (!session->GetVideoFormat(h)) h = bitmap::Info{};
    const FrameLayout layout = ClassifyFrame(h.BitCount, h.Compression);
    s.lastDepth = layout == FrameLayout::Rgb555 ? 15 : h.BitCount;

    uint64_t sum = MeasureDifference(layout, frame, s.reference.data(), out, length);
    // Ignore masks and the motion check.
    CheckFrame(layout, h.BitCount, frame, s.reference.data(), out, length, h.Width, h.Height, sum);
    // Small sums leave the reference alone, so slow changes add up until they count.
    if (sum > 10) std::memcpy(s.reference.data(), frame, length);
    s.motionLevel = MotionLevel(sum, h.Width, h.Height);
}

}  // namespace

// Window thread (the capture session calls it for every frame).
bool FrameCallback(capture::CaptureSession* session, uint8_t* data, size_t length) {
    DeviceState& s = State();
    if (s.currentDevice.load() < 0) return false;
    const uint32_t mode = s.motionMode.load();
    // A frame grabbed for a single-frame capture is measured too: left out, it would leave
    // the level at nothing while someone crosses the room.
    if ((mode == QV_MOTION_MEASURE || mode == QV_MOTION_SHOW) && session && data)
        Measure(session, data, length, mode);
    if (auto* notify = static_cast<QWidget*>(s.hwndNotify.load()))
        QCoreApplication::postEvent(notify,
                                    new QEvent(static_cast<QEvent::Type>(QV_FRAME_NOTIFY_EVENT)));
    return true;
}

}  // namespace qv::core
