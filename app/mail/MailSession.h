// The program's own mail client: plain SMTP (HELO, no extensions) with an optional
// POP-before-SMTP log-in, or, when the submission settings ask for it, the extended dialogue
// (EHLO, STARTTLS or TLS from the start, AUTH PLAIN or LOGIN). One object per user (the mail
// thread, a test send), one mail at a time. Texts are CP932 (Shift-JIS) bytes; the message goes
// out in ISO-2022-JP.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/tls/Tls.h"
struct SmtpReply;

// Failure codes (LastError of PopBeforeSmtp and ConnectSmtp; the result of SendMail).
// -1: POP server/user/password empty; SMTP server empty; SendMail: AUTH wanted without a user
// (or with a zero byte in user or password).
inline constexpr int kMailEmptySetting = -1;
inline constexpr int kMailLineBreakInText = -10;  // a CR or LF in a command or header text
// The extended dialogue only.
inline constexpr int kMailTlsFailed = -11;            // handshake or certificate check failed
inline constexpr int kMailStartTlsUnavailable = -12;  // STARTTLS not offered or refused
inline constexpr int kMailAuthUnavailable = -13;      // neither AUTH PLAIN nor LOGIN offered
inline constexpr int kMailAuthRejected = -14;         // the server refused the log-in

// How the SMTP connection is made. Extended false keeps the plain HELO dialogue byte for byte
// (the other fields are then not looked at).
struct SmtpSubmission {
    bool Extended = false;
    int Security = 0;  // 0 none, 1 STARTTLS after EHLO, 2 TLS from the connect on
    bool Auth = false;
    std::string User;  // UTF-8, as AUTH sends it
    std::string Password;
};

// A connected socket as ConnectSmtp returns it; kNoMailSocket for none.
inline constexpr int kNoMailSocket = -1;

class MailSession {
  public:
    MailSession();
    virtual ~MailSession();
    MailSession(const MailSession&) = delete;
    MailSession& operator=(const MailSession&) = delete;

    void SetPopServer(const std::string& server, const std::string& user,
                      const std::string& password, int port);
    void SetSmtpServer(const std::string& server, const std::string& senderAddress,
                       const std::string& senderName, int port);
    void SetContent(const std::string& subject, const std::string& body);
    void SetAttachment(const std::string& attachmentFile, const std::string& attachmentName);
    void SetSubmission(const SmtpSubmission& submission) { submission_ = submission; }
    // A PEM file of certificates trusted besides the system's; the environment variable
    // QUORVEX_MAIL_CAFILE sets it when the object is made.
    void SetCaFile(const std::string& path) { caFile_ = path; }

    // 1 when the POP3 log-in succeeded, else 0 with LastError set.
    int PopBeforeSmtp();
    // The connected socket after an accepted greeting, else kNoMailSocket with LastError set.
    int ConnectSmtp();
    // 0 when the server accepted the mail and QUIT, else a negative code. Never closes.
    int SendMail(int socket, const std::string& recipientAddress, const std::string& recipientName);
    void CloseSmtp(int socket);

    int LastError() const { return lastError_; }
    // The server's last reply as read (lines joined by "\n"), or why TLS failed; "" for none.
    const std::string& LastReply() const { return lastReply_; }

    // Every connect and every reply waits at most this long; the step then fails.
    void SetTimeout(int milliseconds) { timeoutMs_ = milliseconds; }
    // Polled while waiting; returning true makes the current wait fail at once (shutdown).
    void SetStopCheck(std::function<bool()> stop) { stop_ = std::move(stop); }

    // One reply: accepted when it begins with "+OK" (POP3) or 220/250/354/221 (SMTP).
    bool CheckPopReply(int socket);
    bool CheckSmtpReply(int socket);

  private:
    enum class Reply { Accepted, Rejected, TimedOut };
    // The bound of a step (a connect, a write, a whole reply) starting now.
    qv::tls::Limits Step() const;
    Reply ReadReply(int socket, bool pop);
    void Write(int socket, const std::string& text);
    // The extended dialogue: one whole reply (Rejected when malformed or the connection ended).
    Reply ReadSmtp(int socket, SmtpReply& reply);
    int SendMailExtended(int socket, const std::string& recipientAddress,
                         const std::string& recipientName);
    int Authenticate(int socket, bool plain);
    bool StartTls(int socket);
    void WriteMessageTo(int socket, const std::string& recipientAddress,
                        const std::string& recipientName);

    std::string popServer_;
    std::string popUser_;
    std::string popPassword_;
    int popPort_ = 110;
    std::string smtpServer_;
    std::string senderName_;
    std::string senderAddress_;
    std::string subject_;
    std::string body_;
    std::string attachmentFile_;
    std::string attachmentName_;
    int smtpPort_ = 25;
    std::string mailerName_;
    int lastError_ = 0;

    int timeoutMs_ = 30000;
    std::function<bool()> stop_;

    SmtpSubmission submission_;
    std::string caFile_;
    std::string lastReply_;
    std::string pending_;  // bytes received after the last whole reply (extended dialogue)
    std::unique_ptr<qv::tls::TlsClient> tls_;
    int tlsSocket_ = kNoMailSocket;
};

// Pure reply tests, shared with the fuzz target.
bool IsPopReplyAccepted(const std::string& reply);
bool IsSmtpReplyAccepted(const std::string& reply);
