// Server replies as the mail session reads them, plain SMTP, POP3 and the extended dialogue:
// whatever a server sends, replies are taken whole or not at all, never beyond what arrived,
// and the session ends with one of its result codes.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/mail/MailSession.h"
#include "app/mail/SmtpReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 60000) return 0;  // stays within the socket buffer
    std::string input(reinterpret_cast<const char*>(data), size);
    if (IsPopReplyAccepted(input) && input.compare(0, 3, "+OK") != 0) std::abort();
    if (IsSmtpReplyAccepted(input) && size < 3) std::abort();
    for (std::string_view rest = input; !rest.empty();) {
        SmtpReply reply;
        size_t used = TakeSmtpReply(rest, reply);
        if (used == 0) break;
        if (used > rest.size()) std::abort();
        if (reply.Code != 0 && (reply.Code < 100 || reply.Code > 599 || reply.Lines.empty()))
            std::abort();
        SmtpCapabilities caps = ParseEhloCapabilities(reply);
        if ((caps.StartTls || caps.AuthPlain || caps.AuthLogin) && reply.Code != 250) std::abort();
        rest.remove_prefix(used);
    }

    // The first byte picks the dialogue: bit 0 plain SMTP, else bit 1 the extended one (bit 2
    // STARTTLS, bit 3 AUTH), else POP3. The rest is what the server says, all of it at once.
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
    const unsigned mode = size ? data[0] : 0;
    std::string server = size ? input.substr(1) : "";
    if (!server.empty() && ::write(fds[1], server.data(), server.size()) < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return 0;
    }
    ::shutdown(fds[1], SHUT_WR);
    MailSession session;
    session.SetTimeout(50);
    session.SetSmtpServer("mail.example", "cam@example.org", "", 587);
    session.SetContent("Alarm", "line<BR>.<BR>end");
    session.SetAttachment("", "");
    if (mode & 3) {
        session.SetSubmission({(mode & 1) == 0, mode & 4 ? 1 : 0, (mode & 8) != 0, "alice", "pw"});
        int result = session.SendMail(fds[0], "me@example.org", "");
        if (result > 0 || result < -16) std::abort();
    } else {
        for (int i = 0; i < 64 && session.CheckPopReply(fds[0]); ++i) {
        }
    }
    session.CloseSmtp(fds[0]);  // closes fds[0]
    ::close(fds[1]);
    return 0;
}
