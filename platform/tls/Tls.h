// TLS for a client on a socket that is already connected: the handshake (the server's
// certificate checked against the system's trust store and the host name), reading, writing and
// closing. Every wait is bounded by a time-out and cut short by a stop check. One object serves
// one connection on one thread; separate objects may live on separate threads.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace qv::tls {

// The bound of one call: every wait inside it ends by Deadline, however the peer trickles its
// bytes, and at once when Stop says so.
struct Limits {
    std::chrono::steady_clock::time_point Deadline;
    const std::function<bool()>* Stop = nullptr;  // polled every 100 ms while waiting
};

// Limits ending timeoutMs from now.
Limits LimitsFor(int timeoutMs, const std::function<bool()>* stop);

enum class WaitResult { Ready, TimedOut, Failed };

// Waits until fd is ready for events (POLLIN, POLLOUT), the deadline passes or Stop says so
// (both TimedOut). Errors and hang-ups count as ready: the next call on fd shows them.
WaitResult WaitForSocket(int fd, short events, const Limits& limits);

enum class ReadResult { Data, Closed, TimedOut, Failed };

class TlsClient {
  public:
    TlsClient();
    ~TlsClient();  // frees the TLS state; the socket stays open (its owner closes it)
    TlsClient(const TlsClient&) = delete;
    TlsClient& operator=(const TlsClient&) = delete;

    // Trusts the certificates in this PEM file as well as the system's (tests, private CAs).
    void SetExtraCaFile(const std::string& path) { extraCaFile_ = path; }

    // Handshake on fd (switched to non-blocking). host is the name (or dotted address) the
    // certificate must be made out to. False with a reason in Error(); nothing of the caller's
    // data has then been sent.
    bool Connect(int fd, const std::string& host, const Limits& limits);

    // All bytes or false.
    bool WriteAll(std::string_view bytes, const Limits& limits);
    // Up to max bytes of what has arrived, appended to out.
    ReadResult Read(std::string& out, size_t max, const Limits& limits);
    // Sends the closing alert (best effort, without waiting for the server's).
    void Shutdown();

    bool Connected() const { return connected_; }
    const std::string& Error() const { return error_; }

  private:
    struct State;
    std::unique_ptr<State> state_;
    std::string extraCaFile_;
    std::string error_;
    bool connected_ = false;
};

}  // namespace qv::tls
