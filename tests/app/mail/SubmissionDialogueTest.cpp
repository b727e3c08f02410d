// The extended SMTP dialogue against scripted servers: EHLO, AUTH PLAIN and LOGIN, STARTTLS
// refusals, the HELO fallback, and the exact bytes the server sees.
#include <gtest/gtest.h>

#include <string>

#include "app/mail/MailSession.h"
#include "tests/support/ScriptedServer.h"

namespace {

using qvtest::ScriptedServer;

const std::string kEhlo = "EHLO [127.0.0.1]\r\n";
const std::string kEnvelope = "MAIL FROM:<cam@example.org>\r\nRCPT TO:<me@example.org>\r\nDATA\r\n";

SmtpSubmission Submission(int security, bool auth) {
    SmtpSubmission s;
    s.Extended = true;
    s.Security = security;
    s.Auth = auth;
    s.User = "alice";
    s.Password = "s3cret";
    return s;
}

struct Outcome {
    int Connect = 0;  // LastError after ConnectSmtp, 0 when connected
    int Send = 1;     // SendMail's result (1: not called)
    std::string Reply;
    std::string Transcript;
};

Outcome Converse(ScriptedServer& server, const SmtpSubmission& submission, int timeoutMs = 5000) {
    Outcome o;
    if (!server.Start()) {
        ADD_FAILURE() << "scripted server did not start";
        return o;
    }
    MailSession session;
    session.SetTimeout(timeoutMs);
    session.SetSmtpServer("127.0.0.1", "cam@example.org", "", server.Port());
    session.SetContent("Alarm", "line one<BR>.line two");
    session.SetAttachment("", "");
    session.SetSubmission(submission);
    int socket = session.ConnectSmtp();
    if (socket == kNoMailSocket) {
        o.Connect = session.LastError();
    } else {
        o.Send = session.SendMail(socket, "me@example.org", "");
        session.CloseSmtp(socket);
    }
    o.Reply = session.LastReply();
    o.Transcript = server.Transcript();
    return o;
}

// The rest of a mail after the log-in: envelope, data, end, QUIT.
ScriptedServer& MailSteps(ScriptedServer& s) {
    return s.ExpectLine()
        .Send("250 sender ok\r\n")
        .ExpectLine()
        .Send("250 rcpt ok\r\n")
        .ExpectLine()
        .Send("354 go ahead\r\n")
        .ExpectData()
        .Send("250 queued as 1\r\n")
        .ExpectLine()
        .Send("221 bye\r\n");
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWithWholeMessage(const std::string& t) {
    return t.find("DATA\r\nFrom: cam@example.org\r\n") != std::string::npos &&
           t.find("\r\nline one\r\n..line two\r\n") != std::string::npos && t.size() > 11 &&
           t.substr(t.size() - 11) == "\r\n.\r\nQUIT\r\n";
}

TEST(SmtpSubmissionDialogue, AuthPlainAfterEhloWhoseReplyArrivesInPieces) {
    ScriptedServer server;
    server.Send("220 mail.example ESMTP\r\n")
        .ExpectLine()
        .Send("250-mail.example hello\r\n250-SIZE 1000")
        .Pause(200)
        .Send("0\r\n250-AUTH LOGIN PLAIN\r\n")
        .Pause(200)
        .Send("250 8BITMIME\r\n")
        .ExpectLine()
        .Send("235 2.7.0 accepted\r\n");
    MailSteps(server);
    Outcome o = Converse(server, Submission(0, true));
    EXPECT_EQ(o.Connect, 0);
    EXPECT_EQ(o.Send, 0);
    EXPECT_TRUE(StartsWith(o.Transcript, kEhlo + "AUTH PLAIN AGFsaWNlAHMzY3JldA==\r\n" + kEnvelope))
        << o.Transcript;
    EXPECT_TRUE(EndsWithWholeMessage(o.Transcript)) << o.Transcript;
    EXPECT_EQ(o.Reply, "250 queued as 1");  // the server's word on the mail, not its goodbye
}

TEST(SmtpSubmissionDialogue, AuthLoginWhenPlainIsNotOffered) {
    for (const char* offer : {"250-AUTH LOGIN CRAM-MD5\r\n250 HELP\r\n", "250 AUTH=LOGIN\r\n"}) {
        ScriptedServer server;
        server.Send("220 mail.example ESMTP\r\n")
            .ExpectLine()
            .Send(std::string("250-mail.example\r\n") + offer)
            .ExpectLine()
            .Send("334 VXNlcm5hbWU6\r\n")
            .ExpectLine()
            .Send("334 UGFzc3dvcmQ6\r\n")
            .ExpectLine()
            .Send("235 ok\r\n");
        MailSteps(server);
        Outcome o = Converse(server, Submission(0, true));
        EXPECT_EQ(o.Send, 0) << offer;
        EXPECT_TRUE(
            StartsWith(o.Transcript, kEhlo + "AUTH LOGIN\r\nYWxpY2U=\r\nczNjcmV0\r\n" + kEnvelope))
            << offer << o.Transcript;
        EXPECT_TRUE(EndsWithWholeMessage(o.Transcript));
    }
}

TEST(SmtpSubmissionDialogue, RefusalsStopBeforeTheEnvelope) {
    struct Case {
        const char* name;
        std::string ehloReply;
        std::string nextReply;  // to the command after EHLO, if one is sent
        SmtpSubmission submission;
        int code;
        std::string transcript;
        std::string lastReply;
    } cases[] = {
        {"no AUTH offered", "250-mail.example\r\n250 SIZE 1000\r\n", "", Submission(0, true),
         kMailAuthUnavailable, kEhlo, "250-mail.example\n250 SIZE 1000"},
        {"only CRAM-MD5 offered", "250-mail.example\r\n250 AUTH CRAM-MD5\r\n", "",
         Submission(0, true), kMailAuthUnavailable, kEhlo, "250-mail.example\n250 AUTH CRAM-MD5"},
        {"credentials refused", "250-mail.example\r\n250 AUTH PLAIN\r\n",
         "535 5.7.8 Authentication credentials invalid\r\n", Submission(0, true), kMailAuthRejected,
         kEhlo + "AUTH PLAIN AGFsaWNlAHMzY3JldA==\r\n",
         "535 5.7.8 Authentication credentials invalid"},
        {"STARTTLS not offered", "250-mail.example\r\n250 AUTH PLAIN\r\n", "", Submission(1, true),
         kMailStartTlsUnavailable, kEhlo, "250-mail.example\n250 AUTH PLAIN"},
        {"STARTTLS refused", "250-mail.example\r\n250 STARTTLS\r\n", "454 4.7.0 TLS not ready\r\n",
         Submission(1, false), kMailStartTlsUnavailable, kEhlo + "STARTTLS\r\n",
         "454 4.7.0 TLS not ready"},
        {"bytes injected after the STARTTLS reply", "250-mail.example\r\n250 STARTTLS\r\n",
         "220 go ahead\r\n250 injected\r\n", Submission(1, false), kMailTlsFailed,
         kEhlo + "STARTTLS\r\n", "data before the TLS handshake: 250 injected"},
        {"EHLO reply with two codes", "250-mail.example\r\n220 STARTTLS\r\n", "",
         Submission(0, false), -6, kEhlo, "250-mail.example\n220 STARTTLS"},
        {"EHLO refused while authentication is wanted", "502 5.5.1 unknown command\r\n", "",
         Submission(0, true), -6, kEhlo, "502 5.5.1 unknown command"},
    };
    for (const Case& c : cases) {
        ScriptedServer server;
        server.StepTimeout(2000);
        server.Send("220 mail.example ESMTP\r\n").ExpectLine().Send(c.ehloReply);
        if (!c.nextReply.empty()) server.ExpectLine().Send(c.nextReply);
        Outcome o = Converse(server, c.submission);
        EXPECT_EQ(o.Connect, 0) << c.name;
        EXPECT_EQ(o.Send, c.code) << c.name;
        EXPECT_EQ(o.Transcript, c.transcript) << c.name;
        EXPECT_EQ(o.Reply, c.lastReply) << c.name;
    }
}

TEST(SmtpSubmissionDialogue, ServerWithoutExtensionsGetsHeloWhenNothingIsWanted) {
    // Only the port was changed: an old server that refuses EHLO still takes the mail.
    ScriptedServer server;
    server.Send("220 old.example\r\n")
        .ExpectLine()
        .Send("500 what?\r\n")
        .ExpectLine()
        .Send("250 old.example\r\n");
    MailSteps(server);
    Outcome o = Converse(server, Submission(0, false));
    EXPECT_EQ(o.Send, 0);
    EXPECT_TRUE(StartsWith(o.Transcript, kEhlo + "HELO [127.0.0.1]\r\n" + kEnvelope))
        << o.Transcript;
}

TEST(SmtpSubmissionDialogue, TheMailCountsAsSentOnceTheServerTookIt) {
    // A server that hangs up instead of answering QUIT has still accepted the mail.
    ScriptedServer server;
    server.Send("220 mail.example\r\n")
        .ExpectLine()
        .Send("250 mail.example\r\n")
        .ExpectLine()
        .Send("250 ok\r\n")
        .ExpectLine()
        .Send("250 ok\r\n")
        .ExpectLine()
        .Send("354 go\r\n")
        .ExpectData()
        .Send("250 queued\r\n")
        .Close();
    Outcome o = Converse(server, Submission(0, false));
    EXPECT_EQ(o.Send, 0);
    EXPECT_EQ(o.Reply, "250 queued");
    // ... whereas a refused end of data is a failure with the server's words.
    ScriptedServer refusing;
    refusing.Send("220 mail.example\r\n")
        .ExpectLine()
        .Send("250 mail.example\r\n")
        .ExpectLine()
        .Send("250 ok\r\n")
        .ExpectLine()
        .Send("250 ok\r\n")
        .ExpectLine()
        .Send("354 go\r\n")
        .ExpectData()
        .Send("554 5.7.1 rejected as spam\r\n");
    o = Converse(refusing, Submission(0, false));
    EXPECT_EQ(o.Send, -15);
    EXPECT_EQ(o.Reply, "554 5.7.1 rejected as spam");
}

TEST(SmtpSubmissionDialogue, GreetingAndTlsFailuresAtConnect) {
    {
        ScriptedServer server;
        server.Send("554 5.3.2 no service\r\n");
        Outcome o = Converse(server, Submission(0, false));
        EXPECT_EQ(o.Connect, -5);
        EXPECT_EQ(o.Reply, "554 5.3.2 no service");
        EXPECT_EQ(o.Transcript, "");
    }
    {
        // TLS from the connect on, but the server speaks plain SMTP: no command goes out.
        ScriptedServer server;
        server.StepTimeout(1000).Send("220 plain.example\r\n").ExpectLine();
        Outcome o = Converse(server, Submission(2, true), 2000);
        EXPECT_EQ(o.Connect, kMailTlsFailed);
        EXPECT_EQ(o.Transcript.find("EHLO"), std::string::npos);
        EXPECT_EQ(o.Transcript.find("AUTH"), std::string::npos);
        EXPECT_FALSE(o.Reply.empty());
    }
    {
        // A server that never answers the handshake: the time-out ends it.
        ScriptedServer server;
        server.StepTimeout(3000).Pause(2500);
        Outcome o = Converse(server, Submission(2, false), 300);
        EXPECT_EQ(o.Connect, kMailTlsFailed);
        EXPECT_EQ(o.Reply, "TLS handshake timed out");
    }
    {
        // A security value of the future is refused, not sent in plain text.
        ScriptedServer server;
        server.StepTimeout(500).Send("220 mail.example\r\n");
        Outcome o = Converse(server, Submission(3, false));
        EXPECT_EQ(o.Connect, kMailTlsFailed);
        EXPECT_EQ(o.Transcript, "");
    }
}

TEST(SmtpSubmissionDialogue, AuthWithoutUserNeverConnectsTheDialogue) {
    ScriptedServer server;
    server.StepTimeout(500).Send("220 mail.example\r\n");
    SmtpSubmission s = Submission(0, true);
    s.User = "";
    Outcome o = Converse(server, s);
    EXPECT_EQ(o.Send, kMailEmptySetting);
    EXPECT_EQ(o.Transcript, "");
}

}  // namespace
