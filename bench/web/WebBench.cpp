// The web page's live picture: what one picture costs the program (the frame encoded as the
// window's bridge does it, then served over TLS on a kept-alive connection). The counter
// core_percent_at_5fps is that cost at 5 pictures a second as a share of one core; the client's
// own work is counted in too, so the program's true share is lower.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <QImage>
#include <QPainter>
#include <filesystem>
#include <mutex>

#include "app/web/Certificate.h"
#include "app/web/WebServer.h"
#include "app/web/WebSettings.h"
#include "app/window/WebBridge.h"

namespace {

// A room-like 640x480 picture: gradients and edges, which is what JPEG has to work on.
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

class FrameBackend : public qv::web::WebBackend {
  public:
    qv::web::Status CurrentStatus() override { return {}; }
    std::string SnapshotJpeg() override { return qv::window::FrameToJpeg(frames_[n_++ % 2]); }
    void SetMonitoring(bool) override {}
    void SetMode(int) override {}
    qv::history::Folders HistoryFolders() override { return {}; }

  private:
    QImage frames_[2] = {RoomFrame(0), RoomFrame(7)};
    unsigned n_ = 0;
};

void BM_LivePicture(benchmark::State& state) {
    char tmpl[] = "/tmp/qvweb-bench-XXXXXX";
    const std::string home = ::mkdtemp(tmpl);
    std::string error;
    qv::web::EnsureCertificate(home, error);
    FrameBackend backend;
    qv::web::ServerOptions o;
    o.Host = "127.0.0.1";
    o.Port = 0;
    o.CertFile = qv::web::CertificatePaths(home).Cert;
    o.KeyFile = qv::web::CertificatePaths(home).Key;
    o.PasswordHash = qv::web::HashPassword("bench");
    o.AssetFolder = qv::web::FindWebAssets();
    qv::web::WebServer server(backend, o);
    if (!server.Start()) {
        state.SkipWithError(server.Error().c_str());
        return;
    }
    httplib::SSLClient client("127.0.0.1", server.Port());
    client.enable_server_certificate_verification(false);
    client.set_keep_alive(true);
    auto login = client.Post("/api/login", "password=bench", "application/x-www-form-urlencoded");
    if (!login || login->status != 200) {
        state.SkipWithError("login failed");
        return;
    }
    std::string cookie = login->get_header_value("Set-Cookie");
    httplib::Headers headers{{"Cookie", cookie.substr(0, cookie.find(';'))}};
    size_t bytes = 0;
    timespec cpu0{}, cpu1{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
    for (auto _ : state) {
        auto r = client.Get("/api/snapshot.jpg", headers);
        if (!r || r->status != 200) {
            state.SkipWithError("no picture");
            break;
        }
        bytes += r->body.size();
    }
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
    server.Stop();
    std::filesystem::remove_all(home);
    const double cpu =
        double(cpu1.tv_sec - cpu0.tv_sec) + 1e-9 * double(cpu1.tv_nsec - cpu0.tv_nsec);
    const double perPicture = cpu / double(std::max<int64_t>(1, state.iterations()));
    state.counters["jpeg_bytes"] = benchmark::Counter(
        static_cast<double>(bytes) / static_cast<double>(std::max<int64_t>(1, state.iterations())));
    state.counters["core_percent_at_5fps"] = 5.0 * 100.0 * perPicture;
}
BENCHMARK(BM_LivePicture)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
