#include <chrono>
#include <cstdio>
#include <mutex>

#include "core/src/CoreState.h"

namespace qv::core {

namespace {

std::mutex& HookMutex() {
    static std::mutex m;
    return m;
}

std::function<void(const std::string&)>& Hook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}

}  // namespace

// Any thread: formats the text only when someone listens.
void Trace(const char* format, ...) {
    std::lock_guard<std::mutex> lock(HookMutex());
    if (!Hook()) return;
    char buf[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    Hook()(buf);
}

// Any thread.
void SetTraceHook(std::function<void(const std::string&)> hook) {
    std::lock_guard<std::mutex> lock(HookMutex());
    Hook() = std::move(hook);
}

// Any thread.
uint32_t TickCount() {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace qv::core
