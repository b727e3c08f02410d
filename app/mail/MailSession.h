// The program's own mail client: plain SMTP (HELO, no extensions) with an optional
// POP-before-SMTP log-in. One object per main window, used by the mail thread only, one mail at
// a time. Texts are CP932 (Shift-JIS) bytes; the message goes out in ISO-2022-JP.
#pragma once

#include <functional>
#include <string>

// Failure codes (LastError of PopBeforeSmtp and ConnectSmtp; the result of SendMail).
inline constexpr int kMailEmptySetting = -1;      // POP: server/user/password; SMTP: server
inline constexpr int kMailLineBreakInText = -10;  // a CR or LF in a command or header text

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

    // 1 when the POP3 log-in succeeded, else 0 with LastError set.
    int PopBeforeSmtp();
    // The connected socket after an accepted greeting, else kNoMailSocket with LastError set.
    int ConnectSmtp();
    // 0 when the server accepted the mail and QUIT, else a negative code. Never closes.
    int SendMail(int socket, const std::string& recipientAddress, const std::string& recipientName);
    void CloseSmtp(int socket);

    int LastError() const { return lastError_; }

    // Every connect and every reply waits at most this long; the step then fails.
    void SetTimeout(int milliseconds) { timeoutMs_ = milliseconds; }
    // Polled while waiting; returning true makes the current wait fail at once (shutdown).
    void SetStopCheck(std::function<bool()> stop) { stop_ = std::move(stop); }

    // One reply: accepted when it begins with "+OK" (POP3) or 220/250/354/221 (SMTP).
    bool CheckPopReply(int socket);
    bool CheckSmtpReply(int socket);
    // The picture part (after its "--boundary" line); nothing when the file does not open.
    void SendAttachmentPart(int socket, const std::string& attachmentFile,
                            const std::string& boundary, const std::string& attachmentName);

  private:
    enum class Reply { Accepted, Rejected, TimedOut };
    Reply ReadReply(int socket, bool pop);
    void Write(int socket, const std::string& text);

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
};

// Pure reply tests, shared with the fuzz target.
bool IsPopReplyAccepted(const std::string& reply);
bool IsSmtpReplyAccepted(const std::string& reply);
