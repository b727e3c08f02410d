// A process-local named event: a manual-reset flag that threads set, reset and test without
// waiting. The name is kept for diagnostics only.
#pragma once

#include <atomic>
#include <string>

namespace qv::engine {

class NamedEvent {
  public:
    explicit NamedEvent(std::string name) : name_(std::move(name)) {}
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    // Any thread. Release/acquire: what the setter wrote before Set() is visible to a thread
    // that sees IsSet() true.
    void Set() { flag_.store(true, std::memory_order_release); }
    void Reset() { flag_.store(false, std::memory_order_release); }
    bool IsSet() const { return flag_.load(std::memory_order_acquire); }
    const std::string& Name() const { return name_; }

  private:
    std::string name_;
    std::atomic<bool> flag_{false};
};

}  // namespace qv::engine
