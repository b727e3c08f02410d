#include "app/mail/MailSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace mailnet {

using qv::tls::WaitResult;

ConnectResult Connect(const std::string& host, int port, const IoLimits& limits, int& fd) {
    fd = -1;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return ConnectResult::NotResolved;
    sockaddr_in addr{};
    std::memcpy(&addr, found->ai_addr, std::min<size_t>(sizeof addr, found->ai_addrlen));
    ::freeaddrinfo(found);
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) return ConnectResult::NoSocket;
    if (port <= 0 || port > 65535) {
        ::close(s);
        return ConnectResult::Failed;
    }
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    int r = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (r != 0 && errno != EINPROGRESS && errno != EINTR) {
        ::close(s);
        return ConnectResult::Failed;
    }
    if (r != 0) {
        int error = 0;
        socklen_t len = sizeof error;
        if (qv::tls::WaitForSocket(s, POLLOUT, limits) != WaitResult::Ready ||
            ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
            ::close(s);
            return ConnectResult::Failed;
        }
    }
    fd = s;
    return ConnectResult::Connected;
}

void SendAll(int fd, std::string_view bytes, const IoLimits& limits) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (qv::tls::WaitForSocket(fd, POLLOUT, limits) != WaitResult::Ready) return;
        } else {
            return;
        }
    }
}

ReceiveResult ReceiveOnce(int fd, const IoLimits& limits, std::string& reply) {
    reply.clear();
    for (;;) {
        WaitResult w = qv::tls::WaitForSocket(fd, POLLIN, limits);
        if (w == WaitResult::TimedOut) return ReceiveResult::TimedOut;
        if (w == WaitResult::Failed) return ReceiveResult::Failed;
        char buf[1024];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0) {
            reply.assign(buf, static_cast<size_t>(n));
            return ReceiveResult::Data;
        }
        if (n == 0) return ReceiveResult::Closed;
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        return ReceiveResult::Failed;
    }
}

void Pause(int ms, const std::function<bool()>& stop) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!(stop && stop())) {
        auto left = end - std::chrono::steady_clock::now();
        if (left <= left.zero()) return;
        std::this_thread::sleep_for(
            std::min<std::chrono::nanoseconds>(left, std::chrono::milliseconds(50)));
    }
}

void CloseSocket(int fd) {
    if (fd >= 0) ::close(fd);
}

}  // namespace mailnet
