#include "app/mail/MailSession.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <initializer_list>

#include "app/mail/Base64.h"
#include "app/mail/MailSocket.h"
#include "app/mail/MessageText.h"
#include "app/mail/SmtpReply.h"
#include "platform/tls/Tls.h"

namespace {

// The mailer's name on the "X-Mailer:" line; the field holds at most 63 characters.
constexpr char kMailerName[] = "Quorvex";

// A server that sends more than this without ending its reply is not listened to further.
constexpr size_t kMaxReplyBytes = 64 * 1024;
// What of a reply is kept for messages.
constexpr size_t kMaxReplyText = 1000;

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    if (text.size() > kMaxReplyText) text.resize(kMaxReplyText);
    return text;
}

// The EHLO argument: our own address as an address literal. It names this end of the
// connection (the server's name, as HELO sends it, would be wrong here) and needs no DNS.
std::string EhloName(int socket) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    char text[INET6_ADDRSTRLEN] = {};
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        if (addr.ss_family == AF_INET &&
            ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&addr)->sin_addr, text,
                        sizeof text))
            return std::string("[") + text + "]";
        if (addr.ss_family == AF_INET6 &&
            ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&addr)->sin6_addr, text,
                        sizeof text))
            return std::string("[IPv6:") + text + "]";
    }
    return "[127.0.0.1]";
}

}  // namespace

bool IsPopReplyAccepted(const std::string& reply) {
    return reply.compare(0, 3, "+OK") == 0;
}

bool IsSmtpReplyAccepted(const std::string& reply) {
    if (reply.size() < 3) return false;
    std::string code = reply.substr(0, 3);
    return code == "220" || code == "250" || code == "354" || code == "221";
}

MailSession::MailSession() : mailerName_(std::string(kMailerName).substr(0, 63)) {
    // The only way to trust a server outside the system's store (a private CA, the tests).
    if (const char* ca = std::getenv("QUORVEX_MAIL_CAFILE")) caFile_ = ca;
}

MailSession::~MailSession() = default;

namespace {

bool HasNul(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

}  // namespace

void MailSession::SetPopServer(const std::string& server, const std::string& user,
                               const std::string& password, int port) {
    popServer_ = server;
    popUser_ = user;
    popPassword_ = password;
    popPort_ = port;
}

void MailSession::SetSmtpServer(const std::string& server, const std::string& senderAddress,
                                const std::string& senderName, int port) {
    smtpServer_ = server;
    senderAddress_ = senderAddress;
    senderName_ = senderName;
    smtpPort_ = port;
}

void MailSession::SetContent(const std::string& subject, const std::string& body) {
    subject_ = subject;
    body_ = body;
}

void MailSession::SetAttachment(const std::string& attachmentFile,
                                const std::string& attachmentName) {
    attachmentFile_ = attachmentFile;
    attachmentName_ = attachmentName;
}

qv::tls::Limits MailSession::Step() const {
    return qv::tls::LimitsFor(timeoutMs_, &stop_);
}

void MailSession::Write(int socket, const std::string& text) {
    if (tls_ && socket == tlsSocket_) {
        tls_->WriteAll(text, Step());
        return;
    }
    mailnet::SendAll(socket, text, Step());
}

MailSession::Reply MailSession::ReadReply(int socket, bool pop) {
    std::string reply;
    lastReply_.clear();
    auto r = mailnet::ReceiveOnce(socket, Step(), reply);
    if (r == mailnet::ReceiveResult::TimedOut) return Reply::TimedOut;
    if (r != mailnet::ReceiveResult::Data) return Reply::Rejected;
    lastReply_ = Trimmed(reply);
    bool ok = pop ? IsPopReplyAccepted(reply) : IsSmtpReplyAccepted(reply);
    return ok ? Reply::Accepted : Reply::Rejected;
}

bool MailSession::CheckPopReply(int socket) {
    return ReadReply(socket, true) == Reply::Accepted;
}

bool MailSession::CheckSmtpReply(int socket) {
    return ReadReply(socket, false) == Reply::Accepted;
}

int MailSession::PopBeforeSmtp() {
    if (popServer_.empty() || popUser_.empty() || popPassword_.empty()) {
        lastError_ = kMailEmptySetting;
        return 0;
    }
    // A line break would smuggle a command of its own into the dialogue.
    if (HasLineBreak(popServer_) || HasLineBreak(popUser_) || HasLineBreak(popPassword_)) {
        lastError_ = kMailLineBreakInText;
        return 0;
    }
    int socket = kNoMailSocket;
    switch (mailnet::Connect(popServer_, popPort_, Step(), socket)) {
        case mailnet::ConnectResult::Connected:
            break;
        case mailnet::ConnectResult::NotResolved:
            lastError_ = -2;
            return 0;
        case mailnet::ConnectResult::NoSocket:
            lastError_ = -4;
            return 0;
        case mailnet::ConnectResult::Failed:
            lastError_ = -5;
            return 0;
    }
    Reply reply = ReadReply(socket, true);
    int error = 0;
    if (reply != Reply::Accepted) {
        error = -6;
    } else {
        Write(socket, "USER " + popUser_ + "\r\n");
        reply = ReadReply(socket, true);
        if (reply != Reply::Accepted) {
            error = -7;
        } else {
            Write(socket, "PASS " + popPassword_ + "\r\n");
            reply = ReadReply(socket, true);
            if (reply != Reply::Accepted) error = -8;
        }
    }
    std::string failedReply = lastReply_;
    Write(socket, "QUIT\r\n");
    // A server that has already let one reply time out is not waited for again.
    if (reply != Reply::TimedOut) ReadReply(socket, true);
    mailnet::CloseSocket(socket);
    if (error != 0) {
        lastReply_ = failedReply;  // what the refused step got, not the goodbye
        lastError_ = error;
        return 0;
    }
    return 1;
}

int MailSession::ConnectSmtp() {
    if (smtpServer_.empty()) {
        lastError_ = kMailEmptySetting;
        return kNoMailSocket;
    }
    if (HasLineBreak(smtpServer_)) {
        lastError_ = kMailLineBreakInText;
        return kNoMailSocket;
    }
    int socket = kNoMailSocket;
    switch (mailnet::Connect(smtpServer_, smtpPort_, Step(), socket)) {
        case mailnet::ConnectResult::Connected:
            break;
        case mailnet::ConnectResult::NotResolved:
            lastError_ = -2;
            return kNoMailSocket;
        case mailnet::ConnectResult::NoSocket:
            lastError_ = -3;
            return kNoMailSocket;
        case mailnet::ConnectResult::Failed:
            lastError_ = -4;
            return kNoMailSocket;
    }
    // Nothing of an earlier connection may carry over to this one (its number may be reused).
    tls_.reset();
    tlsSocket_ = kNoMailSocket;
    pending_.clear();
    lastReply_.clear();
    if (!submission_.Extended) {
        if (!CheckSmtpReply(socket)) {
            mailnet::CloseSocket(socket);
            lastError_ = -5;
            return kNoMailSocket;
        }
        return socket;
    }
    if (submission_.Security < 0 || submission_.Security > 2) {
        // Never fall back to plain text for a security setting we do not know.
        CloseSmtp(socket);
        lastReply_ = "unknown security setting " + std::to_string(submission_.Security);
        lastError_ = kMailTlsFailed;
        return kNoMailSocket;
    }
    if (submission_.Security == 2 && !StartTls(socket)) {
        CloseSmtp(socket);
        lastError_ = kMailTlsFailed;
        return kNoMailSocket;
    }
    SmtpReply greeting;
    if (ReadSmtp(socket, greeting) != Reply::Accepted || greeting.Code / 100 != 2) {
        CloseSmtp(socket);
        lastError_ = -5;
        return kNoMailSocket;
    }
    return socket;
}

MailSession::Reply MailSession::ReadSmtp(int socket, SmtpReply& reply) {
    // The whole reply is one step: a server trickling its bytes gets no fresh time-out.
    const qv::tls::Limits step = Step();
    reply = SmtpReply{};
    lastReply_.clear();
    for (;;) {
        if (size_t used = TakeSmtpReply(pending_, reply); used > 0) {
            pending_.erase(0, used);
            lastReply_ = Trimmed(reply.Text);
            return reply.Code != 0 ? Reply::Accepted : Reply::Rejected;
        }
        if (pending_.size() > kMaxReplyBytes) {
            lastReply_ = Trimmed(pending_);
            return Reply::Rejected;
        }
        std::string chunk;
        bool timedOut = false, ok = false;
        if (tls_ && socket == tlsSocket_) {
            auto r = tls_->Read(chunk, 4096, step);
            timedOut = r == qv::tls::ReadResult::TimedOut;
            ok = r == qv::tls::ReadResult::Data;
        } else {
            auto r = mailnet::ReceiveOnce(socket, step, chunk);
            timedOut = r == mailnet::ReceiveResult::TimedOut;
            ok = r == mailnet::ReceiveResult::Data;
        }
        if (!ok) {
            lastReply_ = Trimmed(pending_);
            return timedOut ? Reply::TimedOut : Reply::Rejected;
        }
        pending_ += chunk;
    }
}

bool MailSession::StartTls(int socket) {
    // Bytes that came before the handshake would be taken as said under TLS: refuse them.
    if (!pending_.empty()) {
        lastReply_ = "data before the TLS handshake: " + Trimmed(pending_);
        return false;
    }
    auto tls = std::make_unique<qv::tls::TlsClient>();
    tls->SetExtraCaFile(caFile_);
    if (!tls->Connect(socket, smtpServer_, Step())) {
        lastReply_ = tls->Error();
        return false;
    }
    tls_ = std::move(tls);
    tlsSocket_ = socket;
    return true;
}

int MailSession::Authenticate(int socket, bool plain) {
    const std::string& user = submission_.User;
    const std::string& password = submission_.Password;
    SmtpReply reply;
    auto answered = [&](int code) {
        return ReadSmtp(socket, reply) == Reply::Accepted && reply.Code == code;
    };
    if (plain) {
        std::string token = std::string(1, '\0') + user + std::string(1, '\0') + password;
        Write(socket, "AUTH PLAIN " + Base64EncodePadded(token) + "\r\n");
        return answered(235) ? 0 : kMailAuthRejected;
    }
    Write(socket, "AUTH LOGIN\r\n");
    if (!answered(334)) return kMailAuthRejected;
    Write(socket, Base64EncodePadded(user) + "\r\n");
    if (!answered(334)) return kMailAuthRejected;
    Write(socket, Base64EncodePadded(password) + "\r\n");
    return answered(235) ? 0 : kMailAuthRejected;
}

int MailSession::SendMailExtended(int socket, const std::string& recipientAddress,
                                  const std::string& recipientName) {
    SmtpReply reply;
    auto answered = [&](int low, int high) {
        return ReadSmtp(socket, reply) == Reply::Accepted && reply.Code >= low &&
               reply.Code <= high;
    };
    const std::string ehlo = "EHLO " + EhloName(socket) + "\r\n";
    bool needTls = submission_.Security == 1 && !(tls_ && tlsSocket_ == socket);
    Write(socket, ehlo);
    if (!answered(250, 250)) {
        // A server without extensions: HELO will do when nothing of them is wanted.
        if (needTls || submission_.Auth || reply.Code / 100 != 5) return -6;
        Write(socket, "HELO " + EhloName(socket) + "\r\n");
        if (!answered(250, 250)) return -6;
    }
    SmtpCapabilities caps = ParseEhloCapabilities(reply);
    if (needTls) {
        if (!caps.StartTls) return kMailStartTlsUnavailable;
        Write(socket, "STARTTLS\r\n");
        if (!answered(220, 220)) return kMailStartTlsUnavailable;
        if (!StartTls(socket)) return kMailTlsFailed;
        // What the server said before the handshake counts no longer.
        Write(socket, ehlo);
        if (!answered(250, 250)) return -6;
        caps = ParseEhloCapabilities(reply);
    }
    if (submission_.Auth) {
        if (!caps.AuthPlain && !caps.AuthLogin) {
            lastReply_ = Trimmed(reply.Text);
            return kMailAuthUnavailable;
        }
        if (int r = Authenticate(socket, caps.AuthPlain); r != 0) return r;
    }
    Write(socket, "MAIL FROM:<" + senderAddress_ + ">\r\n");
    if (!answered(200, 299)) return -7;
    Write(socket, "RCPT TO:<" + recipientAddress + ">\r\n");
    if (!answered(200, 299)) return -8;
    Write(socket, "DATA\r\n");
    if (!answered(354, 354)) return -9;
    WriteMessageTo(socket, recipientAddress, recipientName);
    Write(socket, "\r\n");
    Write(socket, ".\r\n");
    if (!answered(200, 299)) return -15;
    // The server has taken the mail: what it says to QUIT does not change that.
    SmtpReply dataReply = reply;
    Write(socket, "QUIT\r\n");
    ReadSmtp(socket, reply);
    lastReply_ = Trimmed(dataReply.Text);
    return 0;
}

void MailSession::WriteMessageTo(int socket, const std::string& recipientAddress,
                                 const std::string& recipientName) {
    MessageContent content;
    content.SenderAddress = senderAddress_;
    content.SenderName = senderName_;
    content.RecipientAddress = recipientAddress;
    content.RecipientName = recipientName;
    content.Subject = subject_;
    content.Body = body_;
    content.AttachmentFile = attachmentFile_;
    content.AttachmentName = attachmentName_;
    content.MailerName = mailerName_;
    WriteMessage(content, MakeBoundary(),
                 [&](std::string_view line) { Write(socket, std::string(line)); });
}

int MailSession::SendMail(int socket, const std::string& recipientAddress,
                          const std::string& recipientName) {
    if (senderAddress_.empty()) return -2;
    if (recipientAddress.empty()) return -3;
    // Nothing of a text with a line break may reach the wire: it could end the command or the
    // header early and add lines of its own.
    for (const std::string* text : std::initializer_list<const std::string*>{
             &smtpServer_, &senderAddress_, &senderName_, &recipientAddress, &recipientName,
             &subject_, &attachmentName_, &attachmentFile_}) {
        if (HasLineBreak(*text)) return kMailLineBreakInText;
    }
    if (submission_.Extended) {
        if (submission_.Auth &&
            (submission_.User.empty() || HasNul(submission_.User) || HasNul(submission_.Password)))
            return kMailEmptySetting;
        return SendMailExtended(socket, recipientAddress, recipientName);
    }
    Write(socket, "HELO " + smtpServer_ + "\r\n");
    if (!CheckSmtpReply(socket)) return -6;
    Write(socket, "MAIL FROM:<" + senderAddress_ + ">\r\n");
    if (!CheckSmtpReply(socket)) return -7;
    Write(socket, "RCPT TO:<" + recipientAddress + ">\r\n");
    if (!CheckSmtpReply(socket)) return -8;
    Write(socket, "DATA\r\n");
    if (!CheckSmtpReply(socket)) return -9;

    WriteMessageTo(socket, recipientAddress, recipientName);

    Write(socket, "\r\n");
    Write(socket, ".\r\n");
    if (!CheckSmtpReply(socket)) return -15;
    Write(socket, "QUIT\r\n");
    if (!CheckSmtpReply(socket)) return -16;
    return 0;
}

void MailSession::CloseSmtp(int socket) {
    if (tls_ && socket == tlsSocket_) {
        tls_->Shutdown();
        tls_.reset();
        tlsSocket_ = kNoMailSocket;
    }
    pending_.clear();
    if (socket != kNoMailSocket) mailnet::CloseSocket(socket);
}
