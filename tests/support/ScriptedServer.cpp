#include "tests/support/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace qvtest {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kNoWait = std::chrono::milliseconds(1);

// Reads what is there into buf within the time left; false when the peer closed or the time
// ran out.
bool ReadSome(int fd, std::string& buf, Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char tmp[4096];
    ssize_t n = ::recv(fd, tmp, sizeof tmp, 0);
    if (n <= 0) return false;
    buf.append(tmp, static_cast<size_t>(n));
    return true;
}

}  // namespace

ScriptedServer::ScriptedServer() = default;

ScriptedServer::~ScriptedServer() {
    if (thread_.joinable()) thread_.join();
    if (listenFd_ >= 0) ::close(listenFd_);
}

ScriptedServer& ScriptedServer::Send(const std::string& bytes) {
    steps_.push_back({Step::SendBytes, bytes, 0});
    return *this;
}
ScriptedServer& ScriptedServer::ExpectLine() {
    steps_.push_back({Step::Line, "", 0});
    return *this;
}
ScriptedServer& ScriptedServer::ExpectData() {
    steps_.push_back({Step::Data, "", 0});
    return *this;
}
ScriptedServer& ScriptedServer::Pause(int ms) {
    steps_.push_back({Step::Sleep, "", ms});
    return *this;
}
ScriptedServer& ScriptedServer::Close() {
    steps_.push_back({Step::Hangup, "", 0});
    return *this;
}
ScriptedServer& ScriptedServer::Trickle(const std::string& bytes, int everyMs) {
    steps_.push_back({Step::Drip, bytes, everyMs});
    return *this;
}
ScriptedServer& ScriptedServer::StepTimeout(int ms) {
    stepTimeoutMs_ = ms;
    return *this;
}

bool ScriptedServer::Start() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;  // the kernel picks a free port: no race with other test runs
    socklen_t len = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 4) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return false;
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
    return true;
}

void ScriptedServer::Serve() {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, stepTimeoutMs_) <= 0) return;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    connected_ = true;
    std::string received;  // everything, for the transcript
    size_t consumed = 0;   // what the Expect steps have taken
    bool open = true;
    for (const Step& step : steps_) {
        if (!open) break;
        switch (step.kind) {
            case Step::SendBytes:
                ::send(fd, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL);
                break;
            case Step::Line:
            case Step::Data: {
                const char* end = step.kind == Step::Line ? "\r\n" : "\r\n.\r\n";
                auto deadline = Clock::now() + std::chrono::milliseconds(stepTimeoutMs_);
                size_t at;
                while ((at = received.find(end, consumed)) == std::string::npos) {
                    if (!ReadSome(fd, received, deadline)) {
                        open = false;
                        break;
                    }
                }
                if (open) consumed = at + std::char_traits<char>::length(end);
                break;
            }
            case Step::Sleep:
                std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
                break;
            case Step::Hangup:
                open = false;
                break;
            case Step::Drip:
                for (char c : step.bytes) {
                    pollfd q{fd, POLLIN, 0};
                    bool hungUp = ::send(fd, &c, 1, MSG_NOSIGNAL) != 1 ||
                                  (::poll(&q, 1, step.ms) > 0 &&
                                   !ReadSome(fd, received, Clock::now() + kNoWait));
                    if (hungUp) {
                        leftDuringTrickle_ = true;
                        open = false;
                        break;
                    }
                }
                break;
        }
    }
    if (open) {
        // Keep listening until the client closes, so the transcript has all it sent.
        auto deadline = Clock::now() + std::chrono::milliseconds(stepTimeoutMs_);
        while (ReadSome(fd, received, deadline)) {
        }
    }
    ::close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    transcript_ = received;
}

std::string ScriptedServer::Transcript() {
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    return transcript_;
}

}  // namespace qvtest
