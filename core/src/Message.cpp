#include "core/src/Message.h"

#include <cstdio>
#include <mutex>

#include "QuorCore.h"

namespace qv::core {

namespace {

struct HookSlot {
    std::mutex lock;
    QvMessageHook hook = nullptr;
    void* user = nullptr;
};

HookSlot& Slot() {
    static HookSlot slot;
    return slot;
}

}  // namespace

// Any thread.
void ShowMessage(const std::string& text, const std::string& caption) {
    QvMessageHook hook;
    void* user;
    {
        std::lock_guard<std::mutex> guard(Slot().lock);
        hook = Slot().hook;
        user = Slot().user;
    }
    // The hook runs outside the lock: it may wait for the window thread for a long time.
    if (hook != nullptr) {
        hook(text.c_str(), caption.c_str(), user);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

}  // namespace qv::core

// Any thread; the program sets it once at start-up.
extern "C" QV_API void QvSetMessageHook(QvMessageHook hook, void* user) {
    std::lock_guard<std::mutex> guard(qv::core::Slot().lock);
    qv::core::Slot().hook = hook;
    qv::core::Slot().user = user;
}
