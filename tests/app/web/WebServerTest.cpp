// The web server against a fake program: what it refuses, how logins are slowed, the cookie,
// the headers, TLS, and that the page's API does what it says.
#include "app/web/WebServer.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>

#include <atomic>
#include <memory>

#include "app/web/Certificate.h"
#include "app/web/WebSettings.h"
#include "tests/support/TestSupport.h"
#include "tests/support/web/FakeWebBackend.h"

namespace {

using namespace qv::web;

const char* const kPassword = "correct horse";

struct Login {
    std::string Cookie;  // "qvsession=..."
    std::string Csrf;
};

class WebServerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        home_ = new qvtest::TempDir;
        std::string error;
        ASSERT_TRUE(EnsureCertificate(home_->Path(), error)) << error;
        hash_ = new std::string(HashPassword(kPassword));
    }
    static void TearDownTestSuite() {
        delete home_;
        delete hash_;
    }

    void SetUp() override { StartServer(true); }

    void StartServer(bool tls) {
        server_.reset();
        backend_ = std::make_unique<qvtest::FakeWebBackend>(home_->Path());
        ServerOptions o;
        o.Host = "127.0.0.1";
        o.Port = 0;
        o.Tls = tls;
        o.CertFile = CertificatePaths(home_->Path()).Cert;
        o.KeyFile = CertificatePaths(home_->Path()).Key;
        o.PasswordHash = *hash_;
        o.AssetFolder = std::string(QUORVEX_SOURCE_ASSETS) + "/web";
        o.Now = [this] { return now_.load(); };
        server_ = std::make_unique<WebServer>(*backend_, o);
        ASSERT_TRUE(server_->Start()) << server_->Error();
        tls_ = tls;
    }

    std::unique_ptr<httplib::ClientImpl> Client() {
        std::unique_ptr<httplib::ClientImpl> c;
        if (tls_) {
            auto s = std::make_unique<httplib::SSLClient>("127.0.0.1", server_->Port());
            // Checked against the very certificate the server made: it must name 127.0.0.1.
            s->set_ca_cert_path(CertificatePaths(home_->Path()).Cert.c_str());
            s->enable_server_certificate_verification(true);
            c = std::move(s);
        } else {
            c = std::make_unique<httplib::ClientImpl>("127.0.0.1", server_->Port());
        }
        c->set_connection_timeout(5, 0);
        c->set_read_timeout(10, 0);
        return c;
    }

    httplib::Result Post(const std::string& path, const std::string& body,
                         const httplib::Headers& headers = {}) {
        return Client()->Post(path.c_str(), headers, body, "application/x-www-form-urlencoded");
    }

    Login LogIn() {
        auto r = Post("/api/login", std::string("password=") + "correct+horse");
        EXPECT_TRUE(r);
        if (!r) return {};
        EXPECT_EQ(r->status, 200);
        std::string cookie = r->get_header_value("Set-Cookie");
        cookie = cookie.substr(0, cookie.find(';'));
        const std::string& b = r->body;
        const size_t at = b.find("\"csrf\":\"");
        EXPECT_NE(at, std::string::npos) << b;
        return {cookie, at == std::string::npos ? "" : b.substr(at + 8, 64)};
    }

    static qvtest::TempDir* home_;
    static std::string* hash_;
    std::atomic<double> now_{1000};
    bool tls_ = true;
    std::unique_ptr<qvtest::FakeWebBackend> backend_;
    std::unique_ptr<WebServer> server_;
};

qvtest::TempDir* WebServerTest::home_ = nullptr;
std::string* WebServerTest::hash_ = nullptr;

enum class As { Nobody, User, UserNoCsrf, UserOtherCsrf };

TEST_F(WebServerTest, RefusesWhatItMustAndChangesNothing) {
    const Login user = LogIn();
    const Login other = LogIn();  // a second session: its token is not the user's
    struct Case {
        const char* method;
        const char* path;
        const char* body;
        As as;
        int status;
    } cases[] = {
        // Nothing about the room before login.
        {"GET", "/api/status", "", As::Nobody, 401},
        {"GET", "/api/snapshot.jpg", "", As::Nobody, 401},
        {"GET", "/api/events", "", As::Nobody, 401},
        {"GET", "/api/pictures/d2026120609000600.jpg", "", As::Nobody, 401},
        {"POST", "/api/monitoring", "on=0", As::Nobody, 401},
        {"POST", "/api/mode", "mode=2", As::Nobody, 401},
        // Every change needs this session's CSRF token.
        {"POST", "/api/monitoring", "on=0", As::UserNoCsrf, 403},
        {"POST", "/api/monitoring", "on=0", As::UserOtherCsrf, 403},
        {"POST", "/api/mode", "mode=2", As::UserNoCsrf, 403},
        {"POST", "/api/mode", "mode=2", As::UserOtherCsrf, 403},
        {"POST", "/api/logout", "", As::UserNoCsrf, 403},
        // Only the program's own picture names, only in the picture folders.
        {"GET", "/api/pictures/..%2Flog%2F2026-12-06.log", "", As::User, 404},
        {"GET", "/api/pictures/../log/2026-12-06.log", "", As::User, 404},
        {"GET", "/api/pictures/%2Fetc%2Fpasswd", "", As::User, 404},
        {"GET", "/api/pictures/d2026120609000600.jpg%00", "", As::User, 404},
        {"GET", "/api/pictures/x.jpg", "", As::User, 404},
        {"GET", "/api/pictures/d2026120609009900.jpg", "", As::User, 404},  // no such file
        {"GET", "/api/events?day=..%2F..%2Fx", "", As::User, 400},
        // No listing, no other file.
        {"GET", "/detect/", "", As::User, 404},
        {"GET", "/log/2026-12-06.log", "", As::User, 404},
        {"GET", "/web-key.pem", "", As::User, 404},
        {"GET", "/../web-key.pem", "", As::User, 404},
        // Values out of range.
        {"POST", "/api/mode", "mode=4", As::User, 400},
        {"POST", "/api/mode", "mode=", As::User, 400},
        {"POST", "/api/monitoring", "on=yes", As::User, 400},
    };
    for (const Case& c : cases) {
        httplib::Headers h;
        if (c.as != As::Nobody) h.emplace("Cookie", user.Cookie);
        if (c.as == As::User) h.emplace("X-CSRF-Token", user.Csrf);
        if (c.as == As::UserOtherCsrf) h.emplace("X-CSRF-Token", other.Csrf);
        auto cli = Client();
        auto r = std::string(c.method) == "GET"
                     ? cli->Get(c.path, h)
                     : cli->Post(c.path, h, c.body, "application/x-www-form-urlencoded");
        ASSERT_TRUE(r) << c.method << " " << c.path;
        EXPECT_EQ(r->status, c.status) << c.method << " " << c.path;
        EXPECT_EQ(r->body.find("Demo camera"), std::string::npos) << c.path;
        EXPECT_NE(r->get_header_value("Content-Type"), "image/jpeg") << c.path;
    }
    EXPECT_EQ(backend_->Changes(), 0);
}

TEST_F(WebServerTest, SessionEndsAtLogoutAndAfterADayIdle) {
    for (bool logout : {true, false}) {
        const Login user = LogIn();
        httplib::Headers h{{"Cookie", user.Cookie}, {"X-CSRF-Token", user.Csrf}};
        ASSERT_EQ(Client()->Get("/api/status", h)->status, 200);
        if (logout) {
            auto r = Client()->Post("/api/logout", h, "", "application/x-www-form-urlencoded");
            EXPECT_NE(r->get_header_value("Set-Cookie").find("Max-Age=0"), std::string::npos);
        } else {
            now_ = now_ + 23 * 3600;  // used within the day: still in
            ASSERT_EQ(Client()->Get("/api/status", h)->status, 200);
            now_ = now_ + 24 * 3600 + 1;
        }
        EXPECT_EQ(Client()->Get("/api/status", h)->status, 401) << logout;
        auto r = Client()->Post("/api/monitoring", h, "on=0", "application/x-www-form-urlencoded");
        EXPECT_EQ(r->status, 401) << logout;
    }
    EXPECT_EQ(backend_->Changes(), 0);
}

TEST_F(WebServerTest, WrongPasswordsAreSlowedThenLockedOut) {
    auto wrong = [&] { return Post("/api/login", "password=guess")->status; };
    auto right = [&] { return Post("/api/login", "password=correct+horse"); };
    EXPECT_EQ(wrong(), 401);
    // Straight after a failure even the right password waits.
    auto r = right();
    EXPECT_EQ(r->status, 429);
    EXPECT_EQ(r->get_header_value("Retry-After"), "1");
    EXPECT_TRUE(r->get_header_value("Set-Cookie").empty());
    now_ = now_ + 1;
    EXPECT_EQ(wrong(), 401);
    now_ = now_ + 1;
    EXPECT_EQ(wrong(), 429);  // the second failure doubled the wait
    now_ = now_ + 1;
    EXPECT_EQ(right()->status, 200);  // and success forgets the failures
    EXPECT_EQ(wrong(), 401);
    for (int i = 1; i < LoginThrottle::kLockAfter; ++i) {
        now_ = now_ + LoginThrottle::kMaxDelay;
        EXPECT_EQ(wrong(), 401) << i;
    }
    now_ = now_ + LoginThrottle::kMaxDelay;
    r = right();
    EXPECT_EQ(r->status, 429);
    EXPECT_GE(std::stoi(r->get_header_value("Retry-After")), 800);
    now_ = now_ + LoginThrottle::kLockSeconds;
    EXPECT_EQ(right()->status, 200);
}

TEST_F(WebServerTest, CookieAndSecurityHeaders) {
    for (bool tls : {true, false}) {
        StartServer(tls);
        auto r = Post("/api/login", "password=correct+horse");
        ASSERT_TRUE(r);
        const std::string cookie = r->get_header_value("Set-Cookie");
        EXPECT_NE(cookie.find("HttpOnly"), std::string::npos) << cookie;
        EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos) << cookie;
        EXPECT_NE(cookie.find("Max-Age=86400"), std::string::npos) << cookie;
        EXPECT_EQ(cookie.find("Secure") != std::string::npos, tls) << cookie;
        const Login user = LogIn();
        httplib::Headers h{{"Cookie", user.Cookie}};
        for (const char* path : {"/", "/app.js", "/style.css", "/api/status", "/api/snapshot.jpg",
                                 "/api/pictures/d2026120609000600.jpg", "/nothing"}) {
            auto g = Client()->Get(path, h);
            ASSERT_TRUE(g) << path;
            const std::string csp = g->get_header_value("Content-Security-Policy");
            EXPECT_NE(csp.find("default-src 'none'"), std::string::npos) << path;
            EXPECT_NE(csp.find("frame-ancestors 'none'"), std::string::npos) << path;
            EXPECT_EQ(g->get_header_value("X-Content-Type-Options"), "nosniff") << path;
            EXPECT_EQ(g->get_header_value("Referrer-Policy"), "no-referrer") << path;
            EXPECT_EQ(g->get_header_value("Cache-Control"), "no-store") << path;
        }
    }
}

TEST_F(WebServerTest, PlainHttpGetsNothingWhenTlsIsOn) {
    httplib::Client plain("http://127.0.0.1:" + std::to_string(server_->Port()));
    plain.set_read_timeout(5, 0);
    auto r = plain.Get("/");
    EXPECT_FALSE(r);
    auto login =
        plain.Post("/api/login", "password=correct+horse", "application/x-www-form-urlencoded");
    EXPECT_FALSE(login);
}

TEST_F(WebServerTest, ServesTheRoomAfterLogin) {
    const Login user = LogIn();
    httplib::Headers h{{"Cookie", user.Cookie}, {"X-CSRF-Token", user.Csrf}};
    auto status = Client()->Get("/api/status", h);
    ASSERT_EQ(status->status, 200);
    EXPECT_NE(status->body.find("\"monitoring\":true"), std::string::npos) << status->body;
    EXPECT_NE(status->body.find("\"camera\":\"Demo camera\""), std::string::npos);
    EXPECT_NE(status->body.find("\"csrf\":\"" + user.Csrf + "\""), std::string::npos);

    auto a = Client()->Get("/api/snapshot.jpg", h);
    auto b = Client()->Get("/api/snapshot.jpg", h);
    ASSERT_EQ(a->status, 200);
    EXPECT_EQ(a->get_header_value("Content-Type"), "image/jpeg");
    EXPECT_EQ(a->body.substr(0, 2), "\xFF\xD8");
    EXPECT_NE(a->body, b->body);

    auto events = Client()->Get("/api/events", h);
    ASSERT_EQ(events->status, 200);
    const std::string& e = events->body;
    EXPECT_NE(e.find("\"day\":\"2026-12-06\""), std::string::npos) << e;
    EXPECT_NE(e.find("\"days\":[\"2026-12-06\",\"2026-12-05\"]"), std::string::npos) << e;
    EXPECT_NE(e.find("\"time\":\"09:00:06\",\"kind\":\"detect\",\"text\":\"d2026120609000600."
                     "jpg\",\"picture\":\"/api/pictures/d2026120609000600.jpg\",\"warning\":true"),
              std::string::npos)
        << e;
    EXPECT_NE(e.find("\"kind\":\"mail\""), std::string::npos);
    EXPECT_NE(e.find("\"mailFailed\":true"), std::string::npos);
    EXPECT_NE(e.find("\"picture\":\"/api/pictures/t2026120609000000.jpg\""), std::string::npos);
    auto empty = Client()->Get("/api/events?day=2026-12-05", h);
    EXPECT_NE(empty->body.find("\"events\":[]"), std::string::npos) << empty->body;

    for (const char* name : {"d2026120609000600.jpg", "t2026120609000000.jpg"}) {
        auto pic = Client()->Get((std::string("/api/pictures/") + name).c_str(), h);
        ASSERT_EQ(pic->status, 200) << name;
        EXPECT_EQ(pic->body, qvtest::ReadFile(home_->File(
                                 std::string(name[0] == 'd' ? "detect/" : "timer/") + name)));
    }

    auto off = Client()->Post("/api/monitoring", h, "on=0", "application/x-www-form-urlencoded");
    EXPECT_EQ(off->status, 200);
    auto mode = Client()->Post("/api/mode", h, "mode=3", "application/x-www-form-urlencoded");
    EXPECT_EQ(mode->status, 200);
    status = Client()->Get("/api/status", h);
    EXPECT_NE(status->body.find("\"monitoring\":false,\"mode\":3"), std::string::npos)
        << status->body;
    EXPECT_EQ(backend_->Changes(), 2);
}

TEST(WebCertificate, MadeOncePrivateAndAUsersOwnIsKept) {
    qvtest::TempDir home;
    EXPECT_EQ(CertificateFingerprint(home.Path()), "");
    std::string error;
    ASSERT_TRUE(EnsureCertificate(home.Path(), error)) << error;
    const CertificateFiles files = CertificatePaths(home.Path());
    for (const std::string& f : {files.Cert, files.Key}) {
        struct stat st {};
        ASSERT_EQ(::stat(f.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
    }
    const std::string print = CertificateFingerprint(home.Path());
    EXPECT_EQ(print.size(), 32u * 3 - 1) << print;
    const std::string key = qvtest::ReadFile(files.Key);
    ASSERT_TRUE(EnsureCertificate(home.Path(), error));
    EXPECT_EQ(CertificateFingerprint(home.Path()), print);
    EXPECT_EQ(qvtest::ReadFile(files.Key), key);
    ::unlink(files.Key.c_str());  // a certificate without its key is an error, not replaced
    EXPECT_FALSE(EnsureCertificate(home.Path(), error));
    EXPECT_NE(error.find("web-key.pem"), std::string::npos);
}

TEST(WebPassword, StoredOnlyAsSaltedScrypt) {
    const std::string a = HashPassword("secret"), b = HashPassword("secret");
    EXPECT_EQ(a.rfind("scrypt$32768$8$1$", 0), 0u) << a;
    EXPECT_EQ(a.find("secret"), std::string::npos);
    EXPECT_NE(a, b);  // fresh salt each time
    EXPECT_TRUE(VerifyPassword("secret", a));
    EXPECT_TRUE(VerifyPassword("secret", b));
    const std::string salt = a.substr(17, 32), hash = a.substr(50);
    for (const std::string& stored :
         {std::string(""), std::string("secret"), "pbkdf2$32768$8$1$" + salt + "$" + hash,
          "scrypt$32769$8$1$" + salt + "$" + hash,    // N not a power of two
          "scrypt$2097152$8$1$" + salt + "$" + hash,  // N beyond the memory bound
          "scrypt$32768$0$1$" + salt + "$" + hash, "scrypt$32768$8$1$" + salt + "$zz",
          "scrypt$32768$8$1$" + salt + "$" + hash.substr(1), "scrypt$32768$8$1$" + salt,
          "scrypt$-1$8$1$" + salt + "$" + hash})
        EXPECT_FALSE(VerifyPassword("secret", stored)) << stored;
    EXPECT_FALSE(VerifyPassword("Secret", a));
    EXPECT_FALSE(VerifyPassword("", a));
}

TEST(WebSettingsFile, DefaultsAndWhyTheServerStaysOff) {
    qvtest::TempDir home;
    const std::string file = home.File("Quorvex.ini");
    WebSettings s = LoadWebSettings(file);
    EXPECT_FALSE(s.Enable);
    EXPECT_EQ(s.Port, 8443);
    EXPECT_TRUE(s.Tls);
    EXPECT_NE(WhyNotStarting(s).find("Enable"), std::string::npos);
    qvtest::WriteFile(file, "[Web]\r\nEnable=1\r\nPort=9000\r\nTls=0\r\n");
    s = LoadWebSettings(file);
    EXPECT_TRUE(s.Enable);
    EXPECT_EQ(s.Port, 9000);
    EXPECT_FALSE(s.Tls);
    EXPECT_NE(WhyNotStarting(s).find("quorvex config set Web Password"), std::string::npos);
    s.PasswordHash = HashPassword("x");
    EXPECT_EQ(WhyNotStarting(s), "");
    for (const std::string& address : WebAddresses(s))
        EXPECT_EQ(address.rfind("http://", 0), 0u) << address;  // Tls=0
    EXPECT_EQ(WebAddresses(s).back().substr(WebAddresses(s).back().size() - 6), ":9000/");
    s.Port = 70000;
    EXPECT_NE(WhyNotStarting(s), "");

    // The server itself refuses to start without a password.
    qvtest::FakeWebBackend backend(home.Path());
    ServerOptions o;
    o.Tls = false;
    o.Port = 0;
    o.AssetFolder = std::string(QUORVEX_SOURCE_ASSETS) + "/web";
    WebServer server(backend, o);
    EXPECT_FALSE(server.Start());
    EXPECT_NE(server.Error().find("password"), std::string::npos);
}

}  // namespace

namespace {

TEST(WebGuards, ThrottleIsPerAddressAndSessionsAreBounded) {
    qv::web::LoginThrottle throttle;
    throttle.Failed("10.0.0.1", 100);
    EXPECT_GT(throttle.WaitBefore("10.0.0.1", 100), 0);
    EXPECT_EQ(throttle.WaitBefore("10.0.0.2", 100), 0);  // another address is not slowed
    throttle.Succeeded("10.0.0.1");
    EXPECT_EQ(throttle.WaitBefore("10.0.0.1", 100), 0);

    qv::web::SessionStore sessions;
    std::vector<std::string> tokens;
    for (size_t i = 0; i <= qv::web::SessionStore::kMaxSessions; ++i)
        tokens.push_back(sessions.Create(double(i))->Token);
    // One session too many: the least recently used one went, the newest lives.
    EXPECT_FALSE(sessions.Find(tokens.front(), 1000));
    EXPECT_TRUE(sessions.Find(tokens.back(), 1000));
    EXPECT_TRUE(sessions.Find(tokens[1], 1000));
    EXPECT_FALSE(sessions.Find("", 1000));
    EXPECT_FALSE(sessions.Find(tokens[1].substr(1), 1000));
}

}  // namespace
