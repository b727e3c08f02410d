// Single-frame and sequence capture.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "core/include/QuorCore.h"
#include "core/src/CoreState.h"
#include "platform/capture/CaptureSession.h"

using qv::capture::CaptureSession;

namespace qv::core {

namespace {

// Any thread: takes the capturing flag, or says why it cannot.
bool BeginCapture() {
    DeviceState& s = State();
    if (s.currentDevice.load() < 0) {
        Trace("QvCore: Device is not started up.\n");
        return false;
    }
    int32_t expected = 0;
    if (!s.capturing.compare_exchange_strong(expected, 1)) {
        Trace("QvCore: Device is being used for capturing.\n");
        return false;
    }
    return true;
}

}  // namespace

// Window thread: the capture window reports capture and save progress here.
bool StatusCallback(CaptureSession* window, int id, const std::string&) {
    DeviceState& s = State();
    switch (id) {
        case capture::kStatusClear:
            if (s.saving.load()) {
                const std::string file = s.tempDir + "_QV0001_";
                ::unlink(file.c_str());
                s.saving = 0;
                s.capturing = 0;
            }
            break;
        case capture::kStatusCaptureBegin:
            s.saving = 0;
            break;
        case capture::kStatusCaptureEnd:
            // The destination is set before every capture starts, the first one included.
            if (window) window->SaveCaptureFileAs(s.sequenceDestination);
            break;
        case capture::kStatusSaveAsPercent:
            s.saving = 1;
            break;
        default:
            break;
    }
    return true;
}

}  // namespace qv::core

using namespace qv::core;

extern "C" {

// Any thread (the capture thread): grab and save run on the window thread.
QV_API int QvCaptureSingleFrame(char* const path, unsigned long flags) {
    DeviceState& s = State();
    if (!BeginCapture()) return 0;
    const uint32_t start = TickCount();
    bool grabbed = false;
    for (;;) {
        CaptureSession* w = s.window.load();
        if (w && w->GrabFrameNoStop()) {
            grabbed = true;
            break;
        }
        if (TickCount() - start >= 1000) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The grabbed frame was measured like any other; without one the level is stale.
    if (!grabbed) s.motionLevel = 0;
    int result = 0;
    CaptureSession* w = s.window.load();
    if (grabbed && w && path) {
        if (flags & QV_CAPTURE_JPEG) {
            // A plain 24-bit picture, whatever the camera's format, so the JPEG can be made.
            std::string temp = s.tempDir + "_QV0000_";
            result = w->SaveDib(temp, true) &&
                     QvCoreBMP2JPG(temp.data(), path, static_cast<int>(flags & 0xFF)) == 1;
            ::unlink(temp.c_str());
        } else {
            result = w->SaveDib(path) ? 1 : 0;
        }
    }
    s.capturing = 0;
    return result;
}

// Any thread: the capture runs on the window thread inside this call.
QV_API int QvStartCapture(char* const destination, unsigned long reserved, long seconds) {
    (void)reserved;
    DeviceState& s = State();
    if (!BeginCapture()) return 0;
    CaptureSession* w = s.window.load();
    if (!w) {
        s.capturing = 0;
        return 0;
    }
    w->SetCaptureFile(s.tempDir + "_QV0001_");
    w->AllocateFile(1048576);
    qv::capture::SequenceSetup setup;
    setup.requestMicroSecPerFrame = 66667;
    setup.limitEnabled = seconds > 0;
    setup.timeLimit = seconds > 0 ? static_cast<uint32_t>(seconds) : 0;
    w->SetSequenceSetup(setup);
    // Recorded before the capture runs, so its own file goes to its own destination.
    s.sequenceDestination = destination ? destination : "";
    const int result = w->Sequence() ? 1 : 0;
    // The capture ran inside the request and is over; a flag still set here means no save
    // followed it (the first capture, or a failure) and nothing else would clear it.
    s.capturing = 0;
    return result;
}

// Any thread: asks the window thread to end a running sequence.
QV_API int QvStopCapture(void) {
    DeviceState& s = State();
    if (s.currentDevice.load() < 0) {
        Trace("QvCore: Device is not started up.\n");
        return 0;
    }
    CaptureSession* w = s.window.load();
    if (s.capturing.load() && w) return w->Stop() ? 1 : 0;
    return 0;
}

// Any thread.
QV_API int QvIsCapturing(void) {
    return State().capturing.load();
}

}  // extern "C"
