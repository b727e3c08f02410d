// Module-wide state of the capture device side of QuorCore: one device at a time.
// Fields that other threads read (the monitoring thread polls the level, the capture
// thread runs single-frame captures) are atomics; the rest belongs to the window thread.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/capture/CaptureDriver.h"

namespace qv::capture {
class CaptureSession;
}

namespace qv::core {

struct DeviceState {
    // Library frame.
    std::atomic<int32_t> started{0};
    char deviceTable[10][256] = {};
    std::atomic<int32_t> deviceCount{0};
    std::string tempDir;  // ends in "/" unless empty

    // Device session.
    std::atomic<int32_t> currentDevice{-1};
    std::atomic<void*> hwndNotify{nullptr};
    std::atomic<void*> hwndParent{nullptr};
    std::atomic<capture::CaptureSession*> window{nullptr};
    std::atomic<uint32_t> displayMode{0};
    std::atomic<uint32_t> displayCaps{0};
    std::atomic<uint32_t> windowX{0}, windowY{0}, windowWidth{0}, windowHeight{0};
    std::atomic<uint32_t> motionMode{0};
    std::atomic<int32_t> motionLevel{0};
    std::atomic<uint32_t> dialogCaps{0};
    std::atomic<int32_t> capturing{0};

    // Frame measurement (window thread).
    std::vector<uint8_t> reference;  // grown, never shrunk
    std::vector<uint8_t> work;       // the frame's copy the measurement writes into
    std::atomic<int32_t> lastDepth{0};

    // Sequence capture.
    std::atomic<int32_t> saving{0};
    std::string sequenceDestination;
};

DeviceState& State();

// Clears everything QvStartup resets (all but the started flag).
void ResetState();

// Diagnostic traces go through this hook; the default does nothing.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void SetTraceHook(std::function<void(const std::string&)> hook);

// Installed on the capture session by QvStartupDevice.
bool FrameCallback(capture::CaptureSession* session, uint8_t* data, size_t length);
bool StatusCallback(capture::CaptureSession* session, int id, const std::string& text);

// Milliseconds of a 32-bit monotonic tick counter.
uint32_t TickCount();

}  // namespace qv::core
