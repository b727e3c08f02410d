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

// A real JPEG file of w x h pixels with the number drawn into it.
std::string MakeJpeg(int w, int h, int number);

class FakeWebBackend : public qv::web::WebBackend {
  public:
    // Writes the history under home (log/, detect/, timer/).
    explicit FakeWebBackend(const std::string& home);

    qv::web::Status CurrentStatus() override;
    std::string SnapshotJpeg() override;
    void SetMonitoring(bool on) override;
    void SetMode(int mode) override;
    qv::history::Folders HistoryFolders() override { return folders_; }

    static constexpr const char* kDay = "2026-12-06";
    static constexpr const char* kWarningPicture = "d2026120609000600.jpg";
    int Changes() const { return changes_.load(); }

  private:
    std::mutex mutex_;
    qv::web::Status status_;
    std::vector<std::string> frames_;
    std::atomic<unsigned> next_{0};
    std::atomic<int> changes_{0};
    qv::history::Folders folders_;
};

}  // namespace qvtest
