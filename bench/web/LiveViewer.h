// A phone watching the web page, for the benchmarks: the program's web server over TLS with a
// program side that encodes a room-like 640x480 frame for every picture as the window's bridge
// does, and a client that logs in and pulls pictures on a kept-alive connection.
#pragma once

#include <QImage>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/web/WebBackend.h"

namespace httplib {
class SSLClient;
}

namespace qv::web {
class WebServer;
}

namespace qvbench {

class FrameBackend : public qv::web::WebBackend {
  public:
    // status answers /api/status (the running engine's state in the engine benchmark).
    explicit FrameBackend(std::function<qv::web::Status()> status = {});
    qv::web::Status CurrentStatus() override { return status_ ? status_() : qv::web::Status{}; }
    std::string SnapshotJpeg() override;
    void SetMonitoring(bool) override {}
    void SetMode(int) override {}
    qv::history::Folders HistoryFolders() override { return {}; }

  private:
    std::function<qv::web::Status()> status_;
    QImage frames_[2];
    std::atomic<unsigned> next_{0};
};

class WebViewer {
  public:
    // Starts the server on a free port of 127.0.0.1 (a certificate in a folder of its own) and
    // logs in; Error() says what failed.
    explicit WebViewer(qv::web::WebBackend& backend);
    ~WebViewer();  // stops watching, then the server
    const std::string& Error() const { return error_; }

    // One live picture; its size, 0 when none came. Not while watching.
    size_t Picture();
    // From now on pulls the picture fps times a second and the state once a second, as the
    // page does, on a thread of its own.
    void Watch(int fps);
    int Pictures() const { return pictures_.load(); }

  private:
    std::string home_, error_;
    std::unique_ptr<qv::web::WebServer> server_;
    std::unique_ptr<httplib::SSLClient> client_;
    std::string cookie_;
    std::atomic<bool> stop_{false};
    std::atomic<int> pictures_{0};
    std::thread watcher_;
};

}  // namespace qvbench
