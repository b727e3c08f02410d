// The web server against a fake program: what it refuses (before login, without this session's
// CSRF token, outside the picture folders, plain HTTP under TLS), how logins are slowed, how a
// session ends, the headers of every answer, and that the page and the API serve the room.
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
constexpr auto npos = std::string::npos;
const char* const kRight = "password=correct+horse";

struct Login {
    std::string Cookie;  // "qvsession=..."
    std::string Csrf;
    httplib::Headers Headers() const {  // as a browser sends them
        return {{"Cookie", Cookie}, {"X-CSRF-Token", Csrf}, {"Accept-Encoding", "gzip, br"}};
    }
};

void ExpectHeaders(const httplib::Response& r, const std::string& what) {
    for (const auto& [name, part] : {std::pair{"Content-Security-Policy", "default-src 'none'"},
                                     {"Content-Security-Policy", "frame-ancestors 'none'"},
                                     {"X-Content-Type-Options", "nosniff"},
                                     {"Referrer-Policy", "no-referrer"},
                                     {"Cache-Control", "no-store"}})
        EXPECT_NE(r.get_header_value(name).find(part), npos) << what << ": " << name;
    EXPECT_EQ(r.get_header_value("Content-Encoding"), "") << what;  // though a browser takes br
}

class WebServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(EnsureCertificate(home_.Path(), error)) << error;
        StartServer(true);
    }

    void StartServer(bool tls) {
        server_.reset();
        backend_ = std::make_unique<qvtest::FakeWebBackend>(home_.Path());
        server_ = std::make_unique<WebServer>(
            *backend_, ServerOptions{"127.0.0.1", 0, tls_ = tls, Files().Cert, Files().Key, hash_,
                                     std::string(QUORVEX_SOURCE_ASSETS) + "/web",
                                     [this] { return now_.load(); }});
        ASSERT_TRUE(server_->Start()) << server_->Error();
    }
    CertificateFiles Files() const { return CertificatePaths(home_.Path()); }

    // GET or POST (a form) on a fresh connection; plain HTTP even under TLS when asked.
    httplib::Result Send(const std::string& method, const std::string& path,
                         const std::string& body = "", const httplib::Headers& h = {},
                         bool plain = false) {
        std::unique_ptr<httplib::ClientImpl> c;
        if (tls_ && !plain) {
            auto s = std::make_unique<httplib::SSLClient>("127.0.0.1", server_->Port());
            // Checked against the very certificate the server made: it must name 127.0.0.1.
            s->set_ca_cert_path(Files().Cert.c_str());
            s->enable_server_certificate_verification(true);
            c = std::move(s);
        } else {
            c = std::make_unique<httplib::ClientImpl>("127.0.0.1", server_->Port());
        }
        c->set_connection_timeout(5, 0);
        c->set_read_timeout(5, 0);
        if (method == "GET") return c->Get(path, h);
        return c->Post(path, h, body, "application/x-www-form-urlencoded");
    }

    Login LogIn() {
        auto r = Send("POST", "/api/login", kRight);
        EXPECT_TRUE(r && r->status == 200);
        if (!r) return {};
        const std::string cookie = r->get_header_value("Set-Cookie");
        for (const char* attribute : {"; HttpOnly", "; SameSite=Strict", "; Max-Age=86400"})
            EXPECT_NE(cookie.find(attribute), npos) << cookie;
        EXPECT_EQ(cookie.find("; Secure") != npos, tls_) << cookie;
        const size_t at = r->body.find("\"csrf\":\"");
        EXPECT_NE(at, npos) << r->body;
        return {cookie.substr(0, cookie.find(';')), at == npos ? "" : r->body.substr(at + 8, 64)};
    }

    qvtest::TempDir home_;
    const std::string hash_ = HashPassword("correct horse");
    std::atomic<double> now_{1000};
    bool tls_ = true;
    std::unique_ptr<qvtest::FakeWebBackend> backend_;
    std::unique_ptr<WebServer> server_;
};

enum class As { Nobody, User, UserNoCsrf, UserStaleCsrf, LoggedOut, PlainHttp };

TEST_F(WebServerTest, RefusesWhatItMustAndChangesNothing) {
    const Login user = LogIn(), gone = LogIn();
    ASSERT_EQ(Send("POST", "/api/logout", "", gone.Headers())->status, 200);
    // Each case: method, path, body, as whom, status (0: no answer at all).
    const std::tuple<std::string, std::string, std::string, As, int> cases[] = {
        // Nothing about the room before login.
        {"GET", "/api/status", "", As::Nobody, 401},
        {"GET", "/api/snapshot.jpg", "", As::Nobody, 401},
        {"GET", "/api/events", "", As::Nobody, 401},
        {"GET", "/api/pictures/d2026120609000600.jpg", "", As::Nobody, 401},
        {"POST", "/api/monitoring", "on=0", As::Nobody, 401},
        {"POST", "/api/mode", "mode=2", As::Nobody, 401},
        {"GET", "/api/status", "", As::LoggedOut, 401},  // nor after logout
        {"POST", "/api/monitoring", "on=0", As::LoggedOut, 401},
        // Every change needs this session's CSRF token: not none, not a stale one.
        {"POST", "/api/monitoring", "on=0", As::UserNoCsrf, 403},
        {"POST", "/api/monitoring", "on=0", As::UserStaleCsrf, 403},
        {"POST", "/api/logout", "", As::UserNoCsrf, 403},
        // Only the program's own picture names, only in the picture folders; no listing.
        {"GET", "/api/pictures/..%2Flog%2F2026-12-06.log", "", As::User, 404},
        {"GET", "/api/pictures/%2Fetc%2Fpasswd", "", As::User, 404},
        {"GET", "/api/pictures/d2026120609000600.jpg%00", "", As::User, 404},
        {"GET", "/api/pictures/d2026120609009900.jpg", "", As::User, 404},  // no such file
        {"GET", "/api/events?day=..%2F..%2Fx", "", As::User, 400},
        {"GET", "/detect/", "", As::User, 404},
        {"GET", "/web-key.pem", "", As::User, 404},
        // Values out of range.
        {"POST", "/api/mode", "mode=4", As::User, 400},
        {"POST", "/api/monitoring", "on=yes", As::User, 400},
        // Plain HTTP when TLS is on: no answer, not even to the right password or cookie.
        {"GET", "/api/status", "", As::PlainHttp, 0},
        {"POST", "/api/login", kRight, As::PlainHttp, 0}};
    for (const auto& [method, path, body, as, status] : cases) {
        const std::string what = method + " " + path;
        httplib::Headers h;
        if (as == As::LoggedOut) h = gone.Headers();
        if (as == As::User || as == As::PlainHttp) h = user.Headers();
        if (as == As::UserNoCsrf || as == As::UserStaleCsrf) h.emplace("Cookie", user.Cookie);
        if (as == As::UserStaleCsrf) h.emplace("X-CSRF-Token", gone.Csrf);
        auto r = Send(method, path, body, h, as == As::PlainHttp);
        ASSERT_EQ(bool(r), status != 0) << what;
        if (!r) continue;
        EXPECT_EQ(r->status, status) << what;
        EXPECT_EQ(r->body.find("Demo camera"), npos) << what;
        EXPECT_NE(r->get_header_value("Content-Type"), "image/jpeg") << what;
        ExpectHeaders(*r, what);
    }
    EXPECT_EQ(backend_->Changes(), 0);
}

TEST_F(WebServerTest, WrongPasswordsAreSlowedThenLockedOut) {
    const double lockStep = LoginThrottle::kMaxDelay;
    // Even the right password waits after a failure; the second failure doubles the wait;
    // success forgets the failures; ten failures in a row lock the address out. Each step:
    // seconds since the step before, right password, status, how many times, Retry-After.
    const std::tuple<double, bool, int, int, std::string> steps[] = {
        {0, false, 401, 1, ""},
        {0, true, 429, 1, "1"},
        {1, false, 401, 1, ""},
        {1, false, 429, 1, "1"},
        {1, true, 200, 1, ""},
        {0, false, 401, 1, ""},
        {lockStep, false, 401, 9, ""},
        {lockStep, true, 429, 1, "870"},
        {LoginThrottle::kLockSeconds, true, 200, 1, ""}};
    int i = 0;
    for (const auto& [after, right, status, times, retryAfter] : steps)
        for (int n = 0; n < times; ++n, ++i) {
            now_ = now_ + after;
            auto r = Send("POST", "/api/login", right ? kRight : "password=guess");
            ASSERT_TRUE(r) << i;
            EXPECT_EQ(r->status, status) << "try " << i;
            EXPECT_EQ(r->get_header_value("Retry-After"), retryAfter) << "try " << i;
            EXPECT_EQ(r->has_header("Set-Cookie"), status == 200) << "try " << i;
        }
}

// Over TLS the browser test serves the room from the real program; here the plain HTTP server.
TEST_F(WebServerTest, ServesTheRoomAfterLoginWithoutTls) {
    StartServer(false);
    const httplib::Headers h = LogIn().Headers();
    auto get = [&](const std::string& path) {
        auto r = Send("GET", path, "", h);
        EXPECT_TRUE(r && r->status == 200) << path;
        if (r) ExpectHeaders(*r, path);
        return r ? r->body : "";
    };
    EXPECT_NE(get("/"), "");
    const std::string a = get("/api/snapshot.jpg"), b = get("/api/snapshot.jpg");
    EXPECT_EQ(a.substr(0, 2), "\xFF\xD8");
    EXPECT_NE(a, b);  // the live picture moves on
    EXPECT_NE(get("/api/events").find("\"mailFailed\":true"), npos);
    EXPECT_EQ(get("/api/pictures/t2026120609000000.jpg"),
              qvtest::ReadFile(home_.File("timer/t2026120609000000.jpg")));
    EXPECT_EQ(Send("POST", "/api/monitoring", "on=0", h)->status, 200);
    EXPECT_EQ(Send("POST", "/api/mode", "mode=3", h)->status, 200);
    EXPECT_NE(get("/api/status").find("\"monitoring\":false,\"mode\":3"), npos);
    EXPECT_EQ(backend_->Changes(), 2);
}

TEST_F(WebServerTest, CertificateIsMadeOncePrivateAndAUsersOwnIsKept) {
    for (const std::string& f : {Files().Cert, Files().Key}) {
        struct stat st {};
        ASSERT_EQ(::stat(f.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
    }
    const std::string print = CertificateFingerprint(home_.Path());
    EXPECT_EQ(print.size(), 32u * 3 - 1) << print;
    const std::string key = qvtest::ReadFile(Files().Key);
    std::string error;
    ASSERT_TRUE(EnsureCertificate(home_.Path(), error));
    EXPECT_EQ(CertificateFingerprint(home_.Path()), print);
    EXPECT_EQ(qvtest::ReadFile(Files().Key), key);
    ::unlink(Files().Key.c_str());  // a certificate without its key is an error, not replaced
    EXPECT_FALSE(EnsureCertificate(home_.Path(), error));
    EXPECT_NE(error.find("web-key.pem"), npos);
    ::unlink(Files().Cert.c_str());
    EXPECT_EQ(CertificateFingerprint(home_.Path()), "");
}

TEST(WebPassword, StoredOnlyAsSaltedScrypt) {
    const std::string a = HashPassword("secret"), b = HashPassword("secret");
    EXPECT_EQ(a.rfind("scrypt$32768$8$1$", 0), 0u) << a;
    EXPECT_NE(a, b);  // fresh salt each time
    EXPECT_TRUE(VerifyPassword("secret", a) && VerifyPassword("secret", b));
    const std::string salt = a.substr(17, 32), hash = a.substr(50);
    for (const std::string& stored :
         {std::string("secret"), "pbkdf2$32768$8$1$" + salt + "$" + hash,
          "scrypt$32769$8$1$" + salt + "$" + hash,    // N not a power of two
          "scrypt$2097152$8$1$" + salt + "$" + hash,  // N beyond the memory bound
          "scrypt$32768$0$1$" + salt + "$" + hash, "scrypt$32768$8$1$" + salt + "$zz",
          "scrypt$32768$8$1$" + salt + "$" + hash.substr(1), "scrypt$32768$8$1$" + salt,
          "scrypt$-1$8$1$" + salt + "$" + hash})
        EXPECT_FALSE(VerifyPassword("secret", stored)) << stored;
    EXPECT_FALSE(VerifyPassword("Secret", a) || VerifyPassword("", a));
}

// Off until enabled with a password on a real port; nor the server itself without a password.
TEST_F(WebServerTest, StaysOffUntilEnabledWithAPasswordAndAPort) {
    WebSettings s;  // the section's defaults: off
    EXPECT_NE(WhyNotStarting(s), "");
    s.Enable = 1;
    for (auto [password, port] : {std::pair{"", 8443}, {"h", 70000}}) {
        s.Password = password, s.Port = port;
        EXPECT_NE(WhyNotStarting(s), "") << port;
    }
    s.Port = 8443;  // with TLS by default
    EXPECT_EQ(WhyNotStarting(s), "");
    for (const std::string& address : WebAddresses(s))
        EXPECT_TRUE(address.starts_with("https://") && address.ends_with(":8443/")) << address;
    WebServer server(*backend_, ServerOptions{});
    EXPECT_FALSE(server.Start() || server.Error().empty());
}

TEST(WebGuards, ThrottleIsPerAddressAndSessionsAreBounded) {
    LoginThrottle throttle;
    throttle.Failed("10.0.0.1", 100);
    // Another address is not slowed.
    EXPECT_TRUE(throttle.WaitBefore("10.0.0.1", 100) > 0 &&
                throttle.WaitBefore("10.0.0.2", 100) == 0);
    SessionStore sessions;
    std::vector<std::string> tokens;
    for (size_t i = 0; i <= SessionStore::kMaxSessions; ++i)
        tokens.push_back(sessions.Create(double(i))->Token);
    // One session too many: the least recently used one went, the newest lives.
    EXPECT_FALSE(sessions.Find(tokens.front(), 1000) || sessions.Find(tokens[1].substr(1), 1000));
    EXPECT_TRUE(sessions.Find(tokens.back(), 1000) && sessions.Find(tokens[1], 1000));
    EXPECT_TRUE(sessions.Find(tokens[1], 1000 + 23 * 3600));       // used within the day: still in
    EXPECT_FALSE(sessions.Find(tokens[1], 1000 + 47 * 3600 + 1));  // a day idle: gone
}

}  // namespace
