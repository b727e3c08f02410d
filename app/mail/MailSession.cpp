#include "app/mail/MailSession.h"

#include <initializer_list>

#include "app/mail/MailSocket.h"
#include "app/mail/MessageText.h"

namespace {

// The mailer's name on the "X-Mailer:" line; the field holds at most 63 characters.
constexpr char kMailerName[] = "Quorvex";

}  // namespace

bool IsPopReplyAccepted(const std::string& reply) {
    return reply.compare(0, 3, "+OK") == 0;
}

bool IsSmtpReplyAccepted(const std::string& reply) {
    if (reply.size() < 3) return false;
    std::string code = reply.substr(0, 3);
    return code == "220" || code == "250" || code == "354" || code == "221";
}

MailSession::MailSession() : mailerName_(std::string(kMailerName).substr(0, 63)) {}

MailSession::~MailSession() = default;

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

void MailSession::Write(int socket, const std::string& text) {
    mailnet::SendAll(socket, text, mailnet::IoLimits{timeoutMs_, &stop_});
}

MailSession::Reply MailSession::ReadReply(int socket, bool pop) {
    std::string reply;
    auto r = mailnet::ReceiveOnce(socket, mailnet::IoLimits{timeoutMs_, &stop_}, reply);
    if (r == mailnet::ReceiveResult::TimedOut) return Reply::TimedOut;
    if (r != mailnet::ReceiveResult::Data) return Reply::Rejected;
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
    switch (mailnet::Connect(popServer_, popPort_, mailnet::IoLimits{timeoutMs_, &stop_}, socket)) {
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
    Write(socket, "QUIT\r\n");
    // A server that has already let one reply time out is not waited for again.
    if (reply != Reply::TimedOut) ReadReply(socket, true);
    mailnet::CloseSocket(socket);
    if (error != 0) {
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
    switch (
        mailnet::Connect(smtpServer_, smtpPort_, mailnet::IoLimits{timeoutMs_, &stop_}, socket)) {
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
    if (!CheckSmtpReply(socket)) {
        mailnet::CloseSocket(socket);
        lastError_ = -5;
        return kNoMailSocket;
    }
    return socket;
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
    Write(socket, "HELO " + smtpServer_ + "\r\n");
    if (!CheckSmtpReply(socket)) return -6;
    Write(socket, "MAIL FROM:<" + senderAddress_ + ">\r\n");
    if (!CheckSmtpReply(socket)) return -7;
    Write(socket, "RCPT TO:<" + recipientAddress + ">\r\n");
    if (!CheckSmtpReply(socket)) return -8;
    Write(socket, "DATA\r\n");
    if (!CheckSmtpReply(socket)) return -9;

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

    Write(socket, "\r\n");
    Write(socket, ".\r\n");
    if (!CheckSmtpReply(socket)) return -15;
    Write(socket, "QUIT\r\n");
    if (!CheckSmtpReply(socket)) return -16;
    return 0;
}

void MailSession::CloseSmtp(int socket) {
    if (socket != kNoMailSocket) mailnet::CloseSocket(socket);
}

void MailSession::SendAttachmentPart(int socket, const std::string& attachmentFile,
                                     const std::string& boundary,
                                     const std::string& attachmentName) {
    WriteAttachmentPart([&](std::string_view line) { Write(socket, std::string(line)); },
                        attachmentFile, boundary, attachmentName);
}
