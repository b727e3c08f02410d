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

ScriptedServer& ScriptedServer::Play(const std::vector<std::string>& script) {
    for (size_t i = 0; i < script.size(); ++i) {
        std::string s = script[i];
        if (s == "!silent") continue;
        if (i > 0 && s[0] != '~') s[0] == '.' ? ExpectData() : ExpectLine();
        if (s == "!close") {
            Close();
            continue;
        }
        if (s.back() == '+')
            s.pop_back();
        else if (s.back() != '\n')
            s += "\r\n";
        if (s.rfind("!trickle", 0) == 0)
            Trickle(s.substr(8), 100);
        else if (s[0] == '~')
            Pause(300).Send(s.substr(1));
        else
            Send(s.substr(s[0] == '.'));
    }
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
    for (auto step = steps_.begin(); open && step != steps_.end(); ++step) {
        if (step->kind == Step::SendBytes) {
            ::send(fd, step->bytes.data(), step->bytes.size(), MSG_NOSIGNAL);
        } else if (step->kind == Step::Line || step->kind == Step::Data) {
            const std::string end = step->kind == Step::Line ? "\r\n" : "\r\n.\r\n";
            const auto deadline = Clock::now() + std::chrono::milliseconds(stepTimeoutMs_);
            size_t at;
            while ((at = received.find(end, consumed)) == std::string::npos && open)
                open = ReadSome(fd, received, deadline);
            if (open) consumed = at + end.size();
        } else if (step->kind == Step::Sleep) {
            std::this_thread::sleep_for(std::chrono::milliseconds(step->ms));
        } else if (step->kind == Step::Hangup) {
            open = false;
        } else {  // Drip: a send that fails or a read of nothing means the client hung up
            for (size_t i = 0; open && i < step->bytes.size(); ++i) {
                pollfd q{fd, POLLIN, 0};
                open = ::send(fd, &step->bytes[i], 1, MSG_NOSIGNAL) == 1 &&
                       (::poll(&q, 1, step->ms) <= 0 ||
                        ReadSome(fd, received, Clock::now() + kNoWait));
            }
            leftDuringTrickle_ = !open;
        }
    }
    // Keep listening until the client closes, so the transcript has all it sent.
    const auto deadline = Clock::now() + std::chrono::milliseconds(stepTimeoutMs_);
    while (open && ReadSome(fd, received, deadline)) {
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
