// A process-local named event: a manual-reset flag that threads set, reset, test, and wait for.
// The name is kept for diagnostics only. Events that share an EventBell wake its waiters whenever
// one of them changes, so a thread can wait for "my request or my end" on one condition.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

namespace qv::engine {

class EventBell {
  public:
    // Thread-safe. Wakes every thread waiting in WaitUntil to test its condition again.
    void Ring() {
        // Taking the lock orders the caller's change before a waiter's next test of it.
        { std::lock_guard<std::mutex> lock(mutex_); }
        changed_.notify_all();
    }
    // Thread-safe. Waits until done() holds (tested at once and after every Ring) or the time
    // is up; returns done().
    template <typename Done>
    bool WaitUntil(std::chrono::milliseconds limit, Done done) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, done);
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

class NamedEvent {
  public:
    // bell: shared with the events a thread may wait for together; nullptr: one of its own.
    explicit NamedEvent(std::string name, EventBell* bell = nullptr)
        : name_(std::move(name)),
          own_(bell ? nullptr : std::make_unique<EventBell>()),
          bell_(bell ? *bell : *own_) {}
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    // Thread-safe. Release/acquire: what the setter wrote before Set() is visible to a thread
    // that sees IsSet() true.
    void Set() {
        flag_.store(true, std::memory_order_release);
        bell_.Ring();
    }
    // Thread-safe.
    void Reset() {
        flag_.store(false, std::memory_order_release);
        bell_.Ring();
    }
    // Thread-safe.
    bool IsSet() const { return flag_.load(std::memory_order_acquire); }
    // Thread-safe. Waits until this event is set, or `orEnd` (which must share the bell) is, or
    // the time is up. True when this event is set.
    bool Wait(std::chrono::milliseconds limit, const NamedEvent* orEnd = nullptr) {
        bell_.WaitUntil(limit, [&] { return IsSet() || (orEnd && orEnd->IsSet()); });
        return IsSet();
    }
    const std::string& Name() const { return name_; }

  private:
    std::string name_;
    std::unique_ptr<EventBell> own_;
    EventBell& bell_;
    std::atomic<bool> flag_{false};
};

}  // namespace qv::engine
