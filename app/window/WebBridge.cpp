#include "app/window/WebBridge.h"

#include <QBuffer>
#include <QImage>
#include <QTimer>
#include <cstdio>
#include <deque>
#include <mutex>

#include "app/web/Certificate.h"
#include "app/web/WebServer.h"
#include "app/web/WebSettings.h"
#include "app/window/CMonitorDlg.h"
#include "platform/capture/PreviewWidget.h"
#include "platform/thread/Handoff.h"

namespace qv::window {

std::string FrameToJpeg(const QImage& frame) {
    if (frame.isNull()) return "";
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!frame.save(&buffer, "JPG", 75)) return "";
    return bytes.toStdString();
}

// Samples on the window thread what only the window thread may read (the shown frame, the
// level's peak once a second); the server's threads read the copies under a lock.
class WebBridge : public web::WebBackend {
  public:
    explicit WebBridge(CMonitorDlg& window) : window_(window), handoff_(&window) {
        QObject::connect(&timer_, &QTimer::timeout, &window, [this] { Sample(); });
        timer_.start(200);  // the page asks for 5 pictures a second
        Sample();
    }

    // Window thread. Callers waiting in Call give up, and nothing more is posted.
    void Close() {
        timer_.stop();
        handoff_.Close();
    }

    web::Status CurrentStatus() override {
        engine::MonitorEngine& e = window_.Engine();
        web::Status s;
        s.Monitoring = e.Running();
        const int mode = engine::ClampMode(e.CurrentMode());
        s.Mode = mode + 1;
        s.Level = e.LastLevelShown();
        const auto settings = e.Settings();
        s.Sensitivity = settings->Warning[mode].MotionSensitivity;
        s.Camera = settings->Basic.DeviceName;
        std::lock_guard<std::mutex> lock(mutex_);
        s.Levels.assign(levels_.begin(), levels_.end());
        return s;
    }

    std::string SnapshotJpeg() override {
        QImage frame;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            frame = frame_;  // shares the pixels; the window thread only ever replaces them
        }
        return FrameToJpeg(frame);
    }

    // What the start/stop switch and the mode switches call, on the window thread.
    void SetMonitoring(bool on) override {
        handoff_.Call([this, on] {
            engine::MonitorEngine& e = window_.Engine();
            if (e.Running() != on && !e.DialogOpen()) e.StartStop();
        });
    }
    void SetMode(int mode) override {
        handoff_.Call([this, mode] {
            engine::MonitorEngine& e = window_.Engine();
            if (!e.DialogOpen()) e.SelectMode(mode - 1);
        });
    }

    history::Folders HistoryFolders() override {
        engine::MonitorEngine& e = window_.Engine();
        return {e.ProgramFolder() + "log/", e.PictureFolder(0), e.PictureFolder(1)};
    }

  private:
    void Sample() {
        engine::MonitorEngine& e = window_.Engine();
        QImage frame;
        if (auto* preview = window_.findChild<QWidget*>(capture::kPreviewObjectName))
            frame = preview->property(capture::kPreviewFrameProperty).value<QImage>();
        peak_ = std::max(peak_, static_cast<int>(e.LastLevelShown()));
        std::lock_guard<std::mutex> lock(mutex_);
        frame_ = frame;
        if (++ticks_ % 5 == 0) {
            levels_.push_back(peak_);
            if (levels_.size() > 60) levels_.pop_front();
            peak_ = 0;
        }
    }

    CMonitorDlg& window_;
    thread::Handoff handoff_;
    QTimer timer_;
    int ticks_ = 0, peak_ = 0;  // window thread
    std::mutex mutex_;
    QImage frame_;
    std::deque<int> levels_;  // one peak a second, the last minute
};

WebPage::WebPage(std::unique_ptr<WebBridge> bridge, std::unique_ptr<web::WebServer> server)
    : bridge_(std::move(bridge)), server_(std::move(server)) {}

WebPage::~WebPage() {
    // A request waiting for the window thread must not hold the server's stop up.
    bridge_->Close();
    server_.reset();
}

std::unique_ptr<WebPage> StartWebPage(CMonitorDlg& window, const std::string& programFolder,
                                      const std::string& settingsFile) {
    WebSettings settings;
    LoadWebSettings(settingsFile, settings);
    if (!settings.Enable) return nullptr;
    auto fail = [](const std::string& why) {
        std::fprintf(stderr, "quorvex: web page not started: %s\n", why.c_str());
        return nullptr;
    };
    if (std::string why = web::WhyNotStarting(settings); !why.empty()) return fail(why);
    web::ServerOptions o;
    o.Port = settings.Port;
    o.Tls = settings.Tls != 0;
    o.PasswordHash = settings.Password;
    o.AssetFolder = web::FindWebAssets();
    if (o.Tls) {
        std::string error;
        if (!web::EnsureCertificate(programFolder, error)) return fail(error);
        o.CertFile = web::CertificatePaths(programFolder).Cert;
        o.KeyFile = web::CertificatePaths(programFolder).Key;
    }
    auto bridge = std::make_unique<WebBridge>(window);
    auto server = std::make_unique<web::WebServer>(*bridge, o);
    if (!server->Start()) {
        bridge->Close();
        return fail(server->Error());
    }
    for (const std::string& address : web::WebAddresses(settings))
        std::fprintf(stderr, "quorvex: web page on %s\n", address.c_str());
    if (o.Tls)
        std::fprintf(stderr, "quorvex: web certificate SHA-256 %s\n",
                     web::CertificateFingerprint(programFolder).c_str());
    return std::make_unique<WebPage>(std::move(bridge), std::move(server));
}

}  // namespace qv::window
