// The web page's two guards, kept apart from the HTTP library so they can be tested alone:
// the sessions (a random token in a cookie, its CSRF token, a day idle expiry) and the
// login throttle (every failure makes an address wait longer; ten in a row lock it out).
// Times are seconds on a monotonic clock, passed in. Thread-safe.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/tls/Secrets.h"

namespace qv::web {

// 32 random bytes as hex; "" when the random source fails.
std::string RandomToken();

struct Session {
    std::string Token;
    std::string Csrf;
    double LastUsed = 0;
};

class SessionStore {
  public:
    static constexpr double kIdleSeconds = 24 * 3600;
    static constexpr std::size_t kMaxSessions = 64;

    // A new session; the least recently used one goes when there are too many.
    std::optional<Session> Create(double now);
    // The live session of a token (and marks it used), or nothing.
    std::optional<Session> Find(const std::string& token, double now);
    void Remove(const std::string& token);

  private:
    std::mutex mutex_;
    std::map<std::string, Session> sessions_;
};

class LoginThrottle {
  public:
    static constexpr int kLockAfter = 10;            // failures in a row
    static constexpr double kLockSeconds = 15 * 60;  // then locked this long
    static constexpr double kMaxDelay = 30;          // longest wait between two tries before that
    static constexpr double kForgetSeconds = 3600;
    static constexpr std::size_t kMaxAddresses = 4096;

    // Seconds the address must still wait before it may try; 0 when it may try now.
    double WaitBefore(const std::string& address, double now);
    void Failed(const std::string& address, double now);
    void Succeeded(const std::string& address);

  private:
    struct Record {
        int Failures = 0;
        double Last = 0;
    };
    static double Delay(int failures);
    std::mutex mutex_;
    std::map<std::string, Record> records_;
};

using tls::SameSecret;

}  // namespace qv::web
