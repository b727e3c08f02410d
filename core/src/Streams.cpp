// Stream cameras reach the device list through the library: the program cannot call the
// capture layer directly, since the library keeps its own copy of it.
#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "QuorCore.h"
#include "platform/capture/stream/StreamDriver.h"

namespace {

// Events taken from the capture layer but not yet handed out one by one.
std::mutex pendingMutex;
std::deque<qv::capture::StreamEvent> pending;

}  // namespace

extern "C" QV_API int QvSetStreamSources(const char* const* names, const char* const* urls,
                                         int count) {
    std::vector<qv::capture::DriverEntry> entries;
    for (int i = 0; i < count && names != nullptr && urls != nullptr; ++i) {
        if (names[i] == nullptr || urls[i] == nullptr) continue;
        entries.push_back(qv::capture::StreamDriverEntry(names[i], urls[i]));
    }
    qv::capture::SetExtraDrivers(std::move(entries));
    return 1;
}

// Any thread: the program polls it from its tick.
extern "C" QV_API int QvTakeStreamEvent(int* kind, char* name, int nameSize) {
    std::lock_guard<std::mutex> lock(pendingMutex);
    for (auto& e : qv::capture::TakeStreamEvents()) pending.push_back(std::move(e));
    if (pending.empty()) return 0;
    const qv::capture::StreamEvent e = std::move(pending.front());
    pending.pop_front();
    if (kind != nullptr)
        *kind =
            e.kind == qv::capture::StreamEvent::Kind::Lost ? QV_STREAM_LOST : QV_STREAM_RESTORED;
    if (name != nullptr && nameSize > 0) {
        const size_t n = std::min(e.name.size(), static_cast<size_t>(nameSize - 1));
        std::memcpy(name, e.name.data(), n);
        name[n] = '\0';
    }
    return 1;
}
