// The web page and its JSON API, served on the server's own threads.
//
// The HTTP library is cpp-httplib (Debian's libcpp-httplib-dev): one header, built against the
// OpenSSL the program already links for mail, a small fixed thread pool, nothing to run or
// configure outside the process. civetweb would bring its own configuration language and C
// callbacks for the same result; Qt HttpServer 6.4 is still a technology preview in Debian and
// would tie the server to a Qt event loop, which is what must never wait on the window.
//
// Nothing about the room is served before login; every change needs the session's CSRF token.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/web/Guards.h"
#include "app/web/WebBackend.h"

namespace qv::web {

struct ServerOptions {
    std::string Host = "0.0.0.0";
    int Port = 8443;  // 0: any free port (tests); Port() tells which
    bool Tls = true;
    std::string CertFile, KeyFile;  // with Tls
    std::string PasswordHash;       // HashPassword's result
    std::string AssetFolder;        // holds index.html, app.js, style.css
    // Seconds on a monotonic clock; tests step it to pass the login slowdown and session expiry.
    std::function<double()> Now;
};

class WebServer {
  public:
    WebServer(WebBackend& backend, ServerOptions options);
    ~WebServer();  // stops
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds and starts serving on a thread of its own. False with a reason in Error().
    bool Start();
    void Stop();
    int Port() const { return port_; }
    const std::string& Error() const { return error_; }

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::thread thread_;
    int port_ = 0;
    std::string error_;
};

// The asset folder holding the page: QUORVEX_DATADIR/web or the source tree's assets/web.
std::string FindWebAssets();

// The value of the cookie name in a Cookie header; "" when it is not there.
std::string CookieValue(const std::string& header, const std::string& name);

// Quotes text as a JSON string (control characters escaped, UTF-8 passed through).
std::string JsonString(const std::string& text);

}  // namespace qv::web
