#include "app/web/Guards.h"

#include <algorithm>

namespace qv::web {

std::string RandomToken() {
    return tls::RandomHex(32);
}

std::optional<Session> SessionStore::Create(double now) {
    Session s{RandomToken(), RandomToken(), now};
    if (s.Token.empty() || s.Csrf.empty()) return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = sessions_.begin(); it != sessions_.end();)
        it = now - it->second.LastUsed > kIdleSeconds ? sessions_.erase(it) : std::next(it);
    if (sessions_.size() >= kMaxSessions) {
        auto oldest = std::min_element(sessions_.begin(), sessions_.end(), [](auto& x, auto& y) {
            return x.second.LastUsed < y.second.LastUsed;
        });
        sessions_.erase(oldest);
    }
    sessions_[s.Token] = s;
    return s;
}

std::optional<Session> SessionStore::Find(const std::string& token, double now) {
    if (token.empty()) return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sessions_.find(token);
    if (it == sessions_.end()) return std::nullopt;
    if (now - it->second.LastUsed > kIdleSeconds) {
        sessions_.erase(it);
        return std::nullopt;
    }
    it->second.LastUsed = now;
    return it->second;
}

void SessionStore::Remove(const std::string& token) {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.erase(token);
}

double LoginThrottle::Delay(int failures) {
    if (failures <= 0) return 0;
    if (failures >= kLockAfter) return kLockSeconds;
    return std::min(kMaxDelay, static_cast<double>(1 << std::min(failures - 1, 20)));
}

double LoginThrottle::WaitBefore(const std::string& address, double now) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = records_.find(address);
    if (it == records_.end()) return 0;
    const double left = it->second.Last + Delay(it->second.Failures) - now;
    return left > 0 ? left : 0;
}

void LoginThrottle::Failed(const std::string& address, double now) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = records_.begin(); it != records_.end();)
        it = now - it->second.Last > std::max(kForgetSeconds, kLockSeconds) ? records_.erase(it)
                                                                            : std::next(it);
    if (records_.size() >= kMaxAddresses && !records_.count(address)) {
        // Full of addresses: keep the most recent ones.
        auto oldest = std::min_element(records_.begin(), records_.end(), [](auto& x, auto& y) {
            return x.second.Last < y.second.Last;
        });
        records_.erase(oldest);
    }
    Record& r = records_[address];
    if (r.Failures >= kLockAfter) r.Failures = 0;  // a lock served in full starts afresh
    ++r.Failures;
    r.Last = now;
}

void LoginThrottle::Succeeded(const std::string& address) {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.erase(address);
}

}  // namespace qv::web
