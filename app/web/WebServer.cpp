#include "app/web/WebServer.h"

#include <fcntl.h>
#include <httplib.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "app/retention/Retention.h"
#include "app/web/WebSettings.h"
#include "platform/text/JsonString.h"

namespace qv::web {
namespace {

const char* const kCookie = "qvsession";
constexpr size_t kThreads = 16;

// The page's files: a fixed list, so nothing else of the folder can ever be served.
struct Asset {
    const char* Path;
    const char* File;
    const char* Type;
};
constexpr Asset kAssets[] = {
    {"/", "index.html", "text/html; charset=utf-8"},
    {"/index.html", "index.html", "text/html; charset=utf-8"},
    {"/app.js", "app.js", "text/javascript; charset=utf-8"},
    {"/style.css", "style.css", "text/css; charset=utf-8"},
};

bool ReadFile(const std::string& path, std::string& out) {
    // O_NOFOLLOW: a link planted in a picture folder does not lead elsewhere.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    out.clear();
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return n == 0;
}

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

bool IsDay(const std::string& day) {
    if (day.size() != 10 || day[4] != '-' || day[7] != '-') return false;
    for (size_t i = 0; i < day.size(); ++i)
        if (i != 4 && i != 7 && (day[i] < '0' || day[i] > '9')) return false;
    return true;
}

void Json(httplib::Response& res, int status, const std::string& body) {
    res.status = status;
    res.set_content(body, "application/json; charset=utf-8");
}

void Refuse(httplib::Response& res, int status, const char* why) {
    Json(res, status, std::string("{\"error\":") + JsonString(why) + "}");
}

std::string TimeOf(const std::tm& t) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

}  // namespace

std::string JsonString(const std::string& text) {
    return text::JsonString(text);
}

std::string CookieValue(const std::string& header, const std::string& name) {
    size_t at = 0;
    while (at < header.size()) {
        size_t end = header.find(';', at);
        if (end == std::string::npos) end = header.size();
        std::string part = header.substr(at, end - at);
        size_t b = part.find_first_not_of(' ');
        if (b != std::string::npos) part = part.substr(b);
        if (part.size() > name.size() && part.compare(0, name.size(), name) == 0 &&
            part[name.size()] == '=')
            return part.substr(name.size() + 1);
        at = end + 1;
    }
    return "";
}

std::string FindWebAssets() {
    for (const char* base : {QUORVEX_DATADIR, QUORVEX_SOURCE_ASSETS}) {
        std::string folder = std::string(base) + "/web";
        if (::access((folder + "/index.html").c_str(), R_OK) == 0) return folder;
    }
    return "";
}

struct WebServer::Impl {
    WebBackend& backend;
    ServerOptions options;
    std::unique_ptr<httplib::Server> server;
    SessionStore sessions;
    LoginThrottle throttle;
    std::map<std::string, std::string> assets;  // file name -> content

    Impl(WebBackend& b, ServerOptions o) : backend(b), options(std::move(o)) {}

    double Now() const {
        if (options.Now) return options.Now();
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    }

    std::optional<Session> SessionOf(const httplib::Request& req) {
        return sessions.Find(CookieValue(req.get_header_value("Cookie"), kCookie), Now());
    }

    // A change needs the session and its CSRF token, from a page of this very server.
    std::optional<Session> ChangeAllowed(const httplib::Request& req, httplib::Response& res) {
        auto session = SessionOf(req);
        if (!session) {
            Refuse(res, 401, "login");
            return std::nullopt;
        }
        if (!SameSecret(req.get_header_value("X-CSRF-Token"), session->Csrf)) {
            Refuse(res, 403, "csrf");
            return std::nullopt;
        }
        return session;
    }

    std::string CookieHeader(const std::string& token, bool expire) const {
        std::string c = std::string(kCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict";
        c +=
            expire ? "; Max-Age=0" : "; Max-Age=" + std::to_string(int(SessionStore::kIdleSeconds));
        if (options.Tls) c += "; Secure";
        return c;
    }

    void Routes() {
        httplib::Server& s = *server;
        s.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
            res.set_header("Content-Security-Policy",
                           "default-src 'none'; script-src 'self'; style-src 'self'; "
                           "img-src 'self' blob:; connect-src 'self'; base-uri 'none'; "
                           "form-action 'self'; frame-ancestors 'none'");
            res.set_header("X-Content-Type-Options", "nosniff");
            res.set_header("Referrer-Policy", "no-referrer");
            res.set_header("X-Frame-Options", "DENY");
            res.set_header("Cache-Control", "no-store");
        });
        s.set_exception_handler([](const httplib::Request&, httplib::Response& res,
                                   std::exception_ptr) { Refuse(res, 500, "internal"); });
        for (const Asset& a : kAssets) {
            const std::string file = a.File, type = a.Type;
            s.Get(a.Path, [this, file, type](const httplib::Request&, httplib::Response& res) {
                auto it = assets.find(file);
                if (it == assets.end()) return Refuse(res, 404, "not found");
                // Sent as they are: the library brotli-compresses text of set_content on every
                // request, which took longer than all the rest of a phone's first load.
                const std::string* body = &it->second;
                res.set_content_provider(
                    body->size(), type.c_str(),
                    [body](size_t offset, size_t length, httplib::DataSink& sink) {
                        return sink.write(body->data() + offset, length);
                    });
            });
        }
        s.Post("/api/login", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string& from = req.remote_addr;
            const double wait = throttle.WaitBefore(from, Now());
            if (wait > 0) {
                res.set_header("Retry-After", std::to_string(int(std::ceil(wait))));
                return Refuse(res, 429, "wait");
            }
            if (!VerifyPassword(req.get_param_value("password"), options.PasswordHash)) {
                throttle.Failed(from, Now());
                return Refuse(res, 401, "password");
            }
            throttle.Succeeded(from);
            auto session = sessions.Create(Now());
            if (!session) return Refuse(res, 500, "random");
            res.set_header("Set-Cookie", CookieHeader(session->Token, false));
            Json(res, 200, "{\"csrf\":" + JsonString(session->Csrf) + "}");
        });
        s.Post("/api/logout", [this](const httplib::Request& req, httplib::Response& res) {
            auto session = ChangeAllowed(req, res);
            if (!session) return;
            sessions.Remove(session->Token);
            res.set_header("Set-Cookie", CookieHeader("", true));
            Json(res, 200, "{}");
        });
        s.Get("/api/status", [this](const httplib::Request& req, httplib::Response& res) {
            auto session = SessionOf(req);
            if (!session) return Refuse(res, 401, "login");
            const Status st = backend.CurrentStatus();
            std::string levels;
            for (int v : st.Levels) levels += (levels.empty() ? "" : ",") + std::to_string(v);
            Json(res, 200,
                 std::string("{\"monitoring\":") + (st.Monitoring ? "true" : "false") +
                     ",\"mode\":" + std::to_string(st.Mode) +
                     ",\"level\":" + std::to_string(st.Level) + ",\"sensitivity\":" +
                     std::to_string(st.Sensitivity) + ",\"camera\":" + JsonString(st.Camera) +
                     ",\"levels\":[" + levels + "],\"csrf\":" + JsonString(session->Csrf) + "}");
        });
        s.Get("/api/snapshot.jpg", [this](const httplib::Request& req, httplib::Response& res) {
            if (!SessionOf(req)) return Refuse(res, 401, "login");
            std::string jpeg = backend.SnapshotJpeg();
            if (jpeg.empty()) return Refuse(res, 503, "no picture yet");
            res.set_content(std::move(jpeg), "image/jpeg");
        });
        s.Get("/api/events", [this](const httplib::Request& req, httplib::Response& res) {
            if (!SessionOf(req)) return Refuse(res, 401, "login");
            const history::Folders folders = backend.HistoryFolders();
            const std::vector<std::string> days = history::Days(folders.Log);
            std::string day = req.get_param_value("day");
            if (day.empty() && !days.empty()) day = days.front();
            if (!day.empty() && !IsDay(day)) return Refuse(res, 400, "day");
            std::string out = "{\"day\":" + JsonString(day) + ",\"days\":[";
            for (size_t i = 0; i < days.size(); ++i) out += (i ? "," : "") + JsonString(days[i]);
            out += "],\"events\":[";
            bool first = true;
            for (const history::Entry& e :
                 day.empty() ? std::vector<history::Entry>{} : history::ReadDay(folders, day)) {
                static const char* const kinds[] = {"detect", "timer", "mail"};
                const bool picture =
                    e.Kind != history::kMail && e.Exists && retention::IsPictureName(e.Text);
                out += first ? "" : ",";
                first = false;
                out += "{\"time\":" + JsonString(TimeOf(e.When)) + ",\"kind\":\"" +
                       kinds[e.Kind >= 0 && e.Kind <= 2 ? e.Kind : 0] +
                       "\",\"text\":" + JsonString(e.Text) + ",\"picture\":" +
                       (picture ? JsonString("/api/pictures/" + e.Text) : "null") +
                       ",\"warning\":" + (e.Warning ? "true" : "false") +
                       ",\"mailFailed\":" + (e.MailFailed ? "true" : "false") + "}";
            }
            Json(res, 200, out + "]}");
        });
        s.Get(R"(/api/pictures/(.*))", [this](const httplib::Request& req, httplib::Response& res) {
            if (!SessionOf(req)) return Refuse(res, 401, "login");
            const std::string name = req.matches[1];
            // Only names the program gives its pictures: no slash, no dot-dot, nothing else.
            if (!retention::IsPictureName(name)) return Refuse(res, 404, "not found");
            const history::Folders folders = backend.HistoryFolders();
            const std::string folder = name[0] == 't' ? folders.Timer : folders.Detect;
            std::string bytes;
            if (!ReadFile(WithSlash(folder) + name, bytes)) return Refuse(res, 404, "not found");
            res.set_content(std::move(bytes), "image/jpeg");
        });
        s.Post("/api/monitoring", [this](const httplib::Request& req, httplib::Response& res) {
            if (!ChangeAllowed(req, res)) return;
            const std::string on = req.get_param_value("on");
            if (on != "0" && on != "1") return Refuse(res, 400, "on must be 0 or 1");
            backend.SetMonitoring(on == "1");
            Json(res, 200, "{}");
        });
        s.Post("/api/mode", [this](const httplib::Request& req, httplib::Response& res) {
            if (!ChangeAllowed(req, res)) return;
            const std::string mode = req.get_param_value("mode");
            if (mode != "1" && mode != "2" && mode != "3") return Refuse(res, 400, "mode 1..3");
            backend.SetMode(mode[0] - '0');
            Json(res, 200, "{}");
        });
    }
};

WebServer::WebServer(WebBackend& backend, ServerOptions options)
    : impl_(std::make_unique<Impl>(backend, std::move(options))) {}

WebServer::~WebServer() {
    Stop();
}

bool WebServer::Start() {
    Impl& m = *impl_;
    if (m.options.PasswordHash.empty()) {
        error_ = "no password is set";
        return false;
    }
    for (const Asset& a : kAssets) {
        std::string content;
        if (!ReadFile(m.options.AssetFolder + "/" + a.File, content)) {
            error_ = "the page is missing: " + m.options.AssetFolder + "/" + a.File;
            return false;
        }
        m.assets[a.File] = content;
    }
    if (m.options.Tls) {
        m.server = std::make_unique<httplib::SSLServer>(m.options.CertFile.c_str(),
                                                        m.options.KeyFile.c_str());
    } else {
        m.server = std::make_unique<httplib::Server>();
    }
    if (!m.server->is_valid()) {
        error_ = "cannot use the certificate " + m.options.CertFile;
        return false;
    }
    // Each connection holds a thread while it is kept alive, and a browser opens six at once: a
    // pool of four left a second phone (or a reload) waiting for idle ones to time out. Sixteen
    // threads serve two browsers in full, and idle connections let go after two seconds (the
    // live page asks five times a second, so its own connections stay).
    m.server->new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    m.server->set_keep_alive_timeout(2);
    m.server->set_payload_max_length(4096);
    m.server->set_read_timeout(10, 0);
    m.server->set_write_timeout(10, 0);
    m.server->set_keep_alive_max_count(100);
    m.server->set_tcp_nodelay(true);  // a picture must not wait for the phone's delayed ACK
    m.Routes();
    if (m.options.Port == 0) {
        port_ = m.server->bind_to_any_port(m.options.Host);
        if (port_ <= 0) port_ = 0;
    } else if (m.server->bind_to_port(m.options.Host, m.options.Port)) {
        port_ = m.options.Port;
    }
    if (port_ == 0) {
        error_ = "cannot listen on port " + std::to_string(m.options.Port);
        return false;
    }
    thread_ = std::thread([&m] { m.server->listen_after_bind(); });
    // Stop must find it listening, or it would have nothing to stop.
    for (int i = 0; i < 2000 && !m.server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void WebServer::Stop() {
    if (impl_->server) impl_->server->stop();
    if (thread_.joinable()) thread_.join();
}

}  // namespace qv::web
