#include "platform/tls/Tls.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>

namespace qv::tls {

namespace {

using Clock = std::chrono::steady_clock;

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE on a connection the server
// has dropped; this one sends with MSG_NOSIGNAL so a dead server is an error, not a signal.
int SocketOf(BIO* bio) {
    return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
}

int BioWrite(BIO* bio, const char* data, int size) {
    BIO_clear_retry_flags(bio);
    ssize_t n = ::send(SocketOf(bio), data, static_cast<size_t>(size), MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

int BioRead(BIO* bio, char* data, int size) {
    BIO_clear_retry_flags(bio);
    ssize_t n = ::recv(SocketOf(bio), data, static_cast<size_t>(size), 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        BIO_set_retry_read(bio);
    return static_cast<int>(n);
}

long BioCtrl(BIO*, int cmd, long, void*) {
    return cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* SocketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "qv socket");
        if (!m) return m;
        BIO_meth_set_write(m, BioWrite);
        BIO_meth_set_read(m, BioRead);
        BIO_meth_set_ctrl(m, BioCtrl);
        BIO_meth_set_create(m, BioCreate);
        return m;
    }();
    return method;
}

bool IsAddress(const std::string& host) {
    unsigned char buf[16];
    return ::inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

std::string QueuedError(const char* fallback) {
    unsigned long e = ERR_get_error();
    if (e == 0) return fallback;
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return buf;
}

}  // namespace

Limits LimitsFor(int timeoutMs, const std::function<bool()>* stop) {
    return Limits{Clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs)), stop};
}

WaitResult WaitForSocket(int fd, short events, const Limits& limits) {
    for (;;) {
        if (limits.Stop && *limits.Stop && (*limits.Stop)()) return WaitResult::TimedOut;
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(limits.Deadline - Clock::now())
                .count();
        if (left <= 0) return WaitResult::TimedOut;
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 100)));
        if (r > 0) return WaitResult::Ready;
        if (r < 0 && errno != EINTR) return WaitResult::Failed;
    }
}

struct TlsClient::State {
    struct CtxFree {
        void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
    };
    struct SslFree {
        void operator()(SSL* s) const { SSL_free(s); }
    };
    std::unique_ptr<SSL_CTX, CtxFree> Ctx;
    std::unique_ptr<SSL, SslFree> Ssl;
    int Fd = -1;

    // One TLS call, repeated while it wants the socket; > 0 as the call gives it, 0 closed,
    // -1 failed, -2 timed out.
    template <typename Call>
    int Drive(Call call, const Limits& limits) {
        for (;;) {
            ERR_clear_error();
            int r = call();
            if (r > 0) return r;
            int error = SSL_get_error(Ssl.get(), r);
            short events = 0;
            if (error == SSL_ERROR_WANT_READ)
                events = POLLIN;
            else if (error == SSL_ERROR_WANT_WRITE)
                events = POLLOUT;
            else if (error == SSL_ERROR_ZERO_RETURN)
                return 0;
            else
                return -1;
            WaitResult w = WaitForSocket(Fd, events, limits);
            if (w == WaitResult::TimedOut) return -2;
            if (w == WaitResult::Failed) return -1;
        }
    }
};

TlsClient::TlsClient() = default;

TlsClient::~TlsClient() = default;

bool TlsClient::Connect(int fd, const std::string& host, const Limits& limits) {
    connected_ = false;
    error_.clear();
    state_ = std::make_unique<State>();
    State& s = *state_;
    s.Fd = fd;
    if (fd < 0 || host.empty()) {
        error_ = "no connection or no host name to check the certificate against";
        return false;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        error_ = "socket not usable";
        return false;
    }
    ERR_clear_error();
    s.Ctx.reset(SSL_CTX_new(TLS_client_method()));
    if (!s.Ctx) {
        error_ = QueuedError("TLS not available");
        return false;
    }
    SSL_CTX_set_min_proto_version(s.Ctx.get(), TLS1_2_VERSION);
    // Mail servers often drop the connection after QUIT without a closing alert.
    SSL_CTX_set_options(s.Ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_verify(s.Ctx.get(), SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_default_verify_paths(s.Ctx.get());
    if (!extraCaFile_.empty() &&
        SSL_CTX_load_verify_locations(s.Ctx.get(), extraCaFile_.c_str(), nullptr) != 1) {
        error_ = "CA file " + extraCaFile_ + " not readable: " + QueuedError("bad file");
        return false;
    }
    s.Ssl.reset(SSL_new(s.Ctx.get()));
    const BIO_METHOD* method = SocketMethod();
    BIO* bio = method ? BIO_new(method) : nullptr;
    if (!s.Ssl || !bio) {
        BIO_free(bio);
        error_ = QueuedError("TLS not available");
        return false;
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
    SSL_set_bio(s.Ssl.get(), bio, bio);  // the SSL owns the BIO from here on
    X509_VERIFY_PARAM* param = SSL_get0_param(s.Ssl.get());
    bool named =
        IsAddress(host)
            ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1
            : (X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS),
               SSL_set1_host(s.Ssl.get(), host.c_str()) == 1 &&
                   SSL_set_tlsext_host_name(s.Ssl.get(), host.c_str()) == 1);
    if (!named) {
        error_ = "host name " + host + " not usable for the certificate check";
        return false;
    }
    SSL* ssl = s.Ssl.get();
    int r = s.Drive([ssl] { return SSL_connect(ssl); }, limits);
    if (r > 0) {
        connected_ = true;
        return true;
    }
    long verify = SSL_get_verify_result(ssl);
    if (verify != X509_V_OK) {
        error_ =
            std::string("server certificate not trusted: ") + X509_verify_cert_error_string(verify);
    } else if (r == -2) {
        error_ = "TLS handshake timed out";
    } else {
        error_ = "TLS handshake failed: " + QueuedError("connection closed by the server");
    }
    return false;
}

bool TlsClient::WriteAll(std::string_view bytes, const Limits& limits) {
    if (!connected_) return false;
    SSL* ssl = state_->Ssl.get();
    while (!bytes.empty()) {
        int chunk = static_cast<int>(std::min<size_t>(bytes.size(), INT_MAX / 2));
        const char* data = bytes.data();
        int n = state_->Drive([&] { return SSL_write(ssl, data, chunk); }, limits);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

ReadResult TlsClient::Read(std::string& out, size_t max, const Limits& limits) {
    if (!connected_) return ReadResult::Failed;
    char buf[4096];
    int want = static_cast<int>(std::min(max, sizeof buf));
    if (want <= 0) return ReadResult::Data;
    SSL* ssl = state_->Ssl.get();
    int n = state_->Drive([&] { return SSL_read(ssl, buf, want); }, limits);
    if (n > 0) {
        out.append(buf, static_cast<size_t>(n));
        return ReadResult::Data;
    }
    if (n == -2) return ReadResult::TimedOut;
    return n == 0 ? ReadResult::Closed : ReadResult::Failed;
}

void TlsClient::Shutdown() {
    if (connected_) {
        ERR_clear_error();
        SSL_shutdown(state_->Ssl.get());
    }
    connected_ = false;
}

}  // namespace qv::tls
