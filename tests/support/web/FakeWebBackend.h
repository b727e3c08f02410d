// The web server's program side for tests: a live picture that changes with every request,
// a state the commands change, and a day of events (pictures, a warning, a failed mail) in a
// folder of its own.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "app/web/WebBackend.h"

namespace qvtest {

class FakeWebBackend : public qv::web::WebBackend {
  public:
    // Writes the history under home (log/, detect/, timer/).
    explicit FakeWebBackend(const std::string& home);

    qv::web::Status CurrentStatus() override;
    std::string SnapshotJpeg() override { return frames_[next_++ % frames_.size()]; }
    void SetMonitoring(bool on) override {
        Change([&] { status_.Monitoring = on; });
    }
    void SetMode(int mode) override {
        Change([&] { status_.Mode = mode; });
    }
    qv::history::Folders HistoryFolders() override { return folders_; }

    int Changes() const { return changes_.load(); }

  private:
    template <typename F>
    void Change(F f) {
        std::lock_guard<std::mutex> lock(mutex_);
        f();
        ++changes_;
    }
    std::mutex mutex_;
    qv::web::Status status_{true, 1, 0, 3000, "Demo camera", {}};  // monitoring, mode 1
    std::vector<std::string> frames_;
    std::atomic<unsigned> next_{0};
    std::atomic<int> changes_{0};
    qv::history::Folders folders_;
};

}  // namespace qvtest
