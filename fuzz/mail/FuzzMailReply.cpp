// Server replies as the mail session reads them: whatever a server sends, the session gives a
// result code and never reads beyond what it received.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/mail/MailSession.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 60000) return 0;  // stays within the socket buffer
    std::string input(reinterpret_cast<const char*>(data), size);
    // The pure tests on the raw bytes.
    bool pop = IsPopReplyAccepted(input);
    bool smtp = IsSmtpReplyAccepted(input);
    if (pop && input.compare(0, 3, "+OK") != 0) std::abort();
    if (smtp && size < 3) std::abort();

    // The first byte picks the dialogue; the rest is what the server says.
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
    std::string server = size ? input.substr(1) : "";
    if (!server.empty() && ::write(fds[1], server.data(), server.size()) < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return 0;
    }
    ::shutdown(fds[1], SHUT_WR);  // then the server has said all it will say

    MailSession session;
    session.SetTimeout(50);
    session.SetSmtpServer("mail.example", "cam@example.org", "", 25);
    session.SetContent("Alarm", "line<BR>.<BR>end");
    session.SetAttachment("", "");
    if (size && (data[0] & 1)) {
        int result = session.SendMail(fds[0], "me@example.org", "");
        if (result > 0 || result < -16) std::abort();
    } else {
        for (int i = 0; i < 64 && session.CheckPopReply(fds[0]); ++i) {
        }
        session.CheckSmtpReply(fds[0]);
    }
    ::close(fds[0]);
    ::close(fds[1]);
    return 0;
}
