#include "bench/web/LiveViewer.h"

#include <httplib.h>
#include <stdlib.h>

#include <QPainter>
#include <chrono>
#include <filesystem>

#include "app/web/Certificate.h"
#include "app/web/WebServer.h"
#include "app/web/WebSettings.h"
#include "app/window/WebBridge.h"

namespace qvbench {
namespace {

// Gradients and edges, which is what JPEG has to work on in a room.
QImage RoomFrame(int n) {
    QImage image(640, 480, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 640, 480);
    g.setColorAt(0, QColor(200, 190, 170));
    g.setColorAt(1, QColor(60, 70, 90));
    p.fillRect(image.rect(), g);
    for (int i = 0; i < 12; ++i)
        p.fillRect((i * 53 + n) % 600, (i * 37) % 440, 40 + i * 3, 30, QColor(i * 20, 90, 160));
    return image;
}

}  // namespace

FrameBackend::FrameBackend(std::function<qv::web::Status()> status)
    : status_(std::move(status)), frames_{RoomFrame(0), RoomFrame(7)} {}

std::string FrameBackend::SnapshotJpeg() {
    return qv::window::FrameToJpeg(frames_[next_++ % 2]);
}

WebViewer::WebViewer(qv::web::WebBackend& backend) {
    char folder[] = "/tmp/qvweb-bench-XXXXXX";
    if (!::mkdtemp(folder)) {
        error_ = "no temporary folder";
        return;
    }
    home_ = folder;
    if (!qv::web::EnsureCertificate(home_, error_)) return;
    qv::web::ServerOptions o;
    o.Host = "127.0.0.1";
    o.Port = 0;
    o.CertFile = qv::web::CertificatePaths(home_).Cert;
    o.KeyFile = qv::web::CertificatePaths(home_).Key;
    o.PasswordHash = qv::web::HashPassword("bench");
    o.AssetFolder = qv::web::FindWebAssets();
    server_ = std::make_unique<qv::web::WebServer>(backend, o);
    if (!server_->Start()) {
        error_ = server_->Error();
        return;
    }
    client_ = std::make_unique<httplib::SSLClient>("127.0.0.1", server_->Port());
    client_->enable_server_certificate_verification(false);
    client_->set_keep_alive(true);
    auto login = client_->Post("/api/login", "password=bench", "application/x-www-form-urlencoded");
    if (!login || login->status != 200) {
        error_ = "login failed";
        return;
    }
    const std::string cookie = login->get_header_value("Set-Cookie");
    cookie_ = cookie.substr(0, cookie.find(';'));
}

WebViewer::~WebViewer() {
    stop_ = true;
    if (watcher_.joinable()) watcher_.join();
    client_.reset();
    server_.reset();
    if (!home_.empty()) std::filesystem::remove_all(home_);
}

size_t WebViewer::Picture() {
    auto r = client_->Get("/api/snapshot.jpg", {{"Cookie", cookie_}});
    if (!r || r->status != 200) return 0;
    ++pictures_;
    return r->body.size();
}

void WebViewer::Watch(int fps) {
    watcher_ = std::thread([this, fps] {
        using clock = std::chrono::steady_clock;
        auto next = clock::now();
        for (int n = 0; !stop_; ++n) {
            Picture();
            if (n % fps == 0) client_->Get("/api/status", {{"Cookie", cookie_}});
            next += std::chrono::milliseconds(1000 / fps);
            std::this_thread::sleep_until(next);
        }
    });
}

}  // namespace qvbench
