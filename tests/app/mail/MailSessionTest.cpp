// The SMTP and POP3 dialogue against scripted servers: the exact bytes the server sees and the
// failure code of every step, time-outs included.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "app/mail/MailSession.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestSupport.h"

namespace {

using qvtest::ScriptedServer;

const std::string kHelo = "HELO 127.0.0.1\r\n";
const std::string kMailFrom = "MAIL FROM:<cam@example.org>\r\n";
const std::string kRcptTo = "RCPT TO:<me@example.org>\r\n";

// A server that answers every step of a mail with these replies.
ScriptedServer& SmtpScript(ScriptedServer& s, const std::string& greeting,
                           const std::string& rcptReply = "250 ok\r\n") {
    return s.Send(greeting)
        .ExpectLine()
        .Send("250 hello\r\n")
        .ExpectLine()
        .Send("250 sender ok\r\n")
        .ExpectLine()
        .Send(rcptReply)
        .ExpectLine()
        .Send("354 go ahead\r\n")
        .ExpectData()
        .Send("250 queued\r\n")
        .ExpectLine()
        .Send("221 bye\r\n");
}

void UseSmtp(MailSession& session, int port, const std::string& sender = "cam@example.org") {
    session.SetSmtpServer("127.0.0.1", sender, "", port);
    session.SetContent("Alarm", "line one<BR>line two");
    session.SetAttachment("", "");
}

// The data section the session writes for the content UseSmtp sets, up to the final dot.
bool LooksLikeWholeMessage(const std::string& transcript) {
    return transcript.find(
               "DATA\r\nFrom: cam@example.org\r\n"
               "Subject: =?ISO-2022-JP?B?QWxhcm0=?= \r\n"
               "X-Mailer: Quorvex\r\n") != std::string::npos &&
           transcript.find("\r\nline one\r\nline two\r\n--__++ZORIZERAZ__") != std::string::npos &&
           transcript.find("__MULTIPART++__--\r\n\r\n.\r\nQUIT\r\n") != std::string::npos;
}

TEST(MailSessionSmtp, WholeTransactionInOrder) {
    ScriptedServer server;
    SmtpScript(server, "220 mail.example ESMTP\r\n");
    ASSERT_TRUE(server.Start());
    MailSession session;
    UseSmtp(session, server.Port());
    int socket = session.ConnectSmtp();
    ASSERT_NE(socket, kNoMailSocket);
    EXPECT_EQ(session.SendMail(socket, "me@example.org", ""), 0);
    session.CloseSmtp(socket);
    std::string t = server.Transcript();
    EXPECT_EQ(t.substr(0, kHelo.size() + kMailFrom.size() + kRcptTo.size() + 6),
              kHelo + kMailFrom + kRcptTo + "DATA\r\n");
    EXPECT_TRUE(LooksLikeWholeMessage(t)) << t;
    EXPECT_EQ(t.substr(t.size() - 11), "\r\n.\r\nQUIT\r\n");
}

TEST(MailSessionSmtp, AnyOfTheFourCodesIsAcceptedAtEveryStep) {
    {
        // A greeting of 250 instead of 220.
        ScriptedServer server;
        SmtpScript(server, "250 odd greeting\r\n");
        ASSERT_TRUE(server.Start());
        MailSession session;
        UseSmtp(session, server.Port());
        int socket = session.ConnectSmtp();
        ASSERT_NE(socket, kNoMailSocket);
        EXPECT_EQ(session.SendMail(socket, "me@example.org", ""), 0);
        session.CloseSmtp(socket);
        EXPECT_TRUE(LooksLikeWholeMessage(server.Transcript()));
    }
    {
        // 221 to RCPT TO is taken as acceptance.
        ScriptedServer server;
        SmtpScript(server, "220 hi\r\n", "221 closing?\r\n");
        ASSERT_TRUE(server.Start());
        MailSession session;
        UseSmtp(session, server.Port());
        int socket = session.ConnectSmtp();
        ASSERT_NE(socket, kNoMailSocket);
        EXPECT_EQ(session.SendMail(socket, "me@example.org", ""), 0);
        session.CloseSmtp(socket);
        EXPECT_TRUE(LooksLikeWholeMessage(server.Transcript()));
    }
}

TEST(MailSessionSmtp, MultiLineGreetingLeavesItsLaterLineForHelo) {
    // The second greeting line arrives on its own; HELO reads it, and every later step reads
    // the reply of the step before. All of them are accepted codes, so the mail still goes.
    ScriptedServer server;
    server.Send("220-mail.example first line\r\n")
        .Pause(300)
        .Send("220 mail.example ready\r\n")
        .ExpectLine()
        .Send("250 hello\r\n")
        .ExpectLine()
        .Send("250 sender ok\r\n")
        .ExpectLine()
        .Send("250 rcpt ok\r\n")
        .ExpectLine()
        .Send("354 go ahead\r\n")
        .ExpectData()
        .Send("250 queued\r\n")
        .ExpectLine()
        .Send("221 bye\r\n");
    ASSERT_TRUE(server.Start());
    MailSession session;
    UseSmtp(session, server.Port());
    int socket = session.ConnectSmtp();
    ASSERT_NE(socket, kNoMailSocket);
    EXPECT_EQ(session.SendMail(socket, "me@example.org", ""), 0);
    session.CloseSmtp(socket);
    std::string t = server.Transcript();
    EXPECT_EQ(t.substr(0, kHelo.size() + kMailFrom.size()), kHelo + kMailFrom);
    EXPECT_TRUE(LooksLikeWholeMessage(t));
}

TEST(MailSessionSmtp, RejectedOrBrokenRepliesStopAtTheirStep) {
    struct Case {
        const char* name;
        std::string reply;  // to the step under test
        bool closeAfter;
        int step;  // 1 HELO, 2 MAIL, 3 RCPT, 4 DATA
        int code;
    } cases[] = {
        {"HELO refused", "500 no\r\n", false, 1, -6},
        {"reply shorter than three bytes", "25", false, 1, -6},
        {"connection closed", "", true, 1, -6},
        {"MAIL refused", "550 no\r\n", false, 2, -7},
        {"RCPT refused", "550 unknown user\r\n", false, 3, -8},
        {"DATA refused", "554 no\r\n", false, 4, -9},
    };
    const std::string commands[] = {kHelo, kMailFrom, kRcptTo, "DATA\r\n"};
    const std::string okReplies[] = {"250 a\r\n", "250 b\r\n", "250 c\r\n"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server;
        server.Send("220 hi\r\n");
        std::string expected;
        for (int i = 1; i < c.step; ++i) {
            server.ExpectLine().Send(okReplies[i - 1]);
            expected += commands[i - 1];
        }
        expected += commands[c.step - 1];
        server.ExpectLine();
        if (c.closeAfter)
            server.Close();
        else
            server.Send(c.reply);
        ASSERT_TRUE(server.Start());
        MailSession session;
        session.SetTimeout(5000);
        UseSmtp(session, server.Port());
        int socket = session.ConnectSmtp();
        ASSERT_NE(socket, kNoMailSocket);
        EXPECT_EQ(session.SendMail(socket, "me@example.org", ""), c.code);
        session.CloseSmtp(socket);
        // Nothing follows the failed step: no RSET, no QUIT.
        EXPECT_EQ(server.Transcript(), expected);
    }
}

TEST(MailSessionSmtp, EndOfDataAndQuitReplies) {
    {
        ScriptedServer server;
        server.Send("220 hi\r\n").ExpectLine().Send("250\r\n").ExpectLine().Send("250\r\n");
        server.ExpectLine().Send("250\r\n").ExpectLine().Send("354\r\n").ExpectData();
        server.Send("552 too big\r\n");
        ASSERT_TRUE(server.Start());
        MailSession session;
        UseSmtp(session, server.Port());
        int socket = session.ConnectSmtp();
        EXPECT_EQ(session.SendMail(socket, "me@example.org", ""), -15);
        session.CloseSmtp(socket);
        std::string t = server.Transcript();
        EXPECT_EQ(t.substr(t.size() - 5), "\r\n.\r\n");
    }
    {
        ScriptedServer server;
        server.Send("220 hi\r\n").ExpectLine().Send("250\r\n").ExpectLine().Send("250\r\n");
        server.ExpectLine().Send("250\r\n").ExpectLine().Send("354\r\n").ExpectData();
        server.Send("250 queued\r\n").ExpectLine().Send("500 what\r\n");
        ASSERT_TRUE(server.Start());
        MailSession session;
        UseSmtp(session, server.Port());
        int socket = session.ConnectSmtp();
        EXPECT_EQ(session.SendMail(socket, "me@example.org", ""), -16);
        session.CloseSmtp(socket);
        EXPECT_TRUE(LooksLikeWholeMessage(server.Transcript()));
    }
}

TEST(MailSessionSmtp, EmptyAddressesFailBeforeHelo) {
    for (int which = 0; which < 2; ++which) {
        ScriptedServer server;
        server.Send("220 hi\r\n");
        ASSERT_TRUE(server.Start());
        MailSession session;
        UseSmtp(session, server.Port(), which == 0 ? "" : "cam@example.org");
        int socket = session.ConnectSmtp();
        ASSERT_NE(socket, kNoMailSocket);
        EXPECT_EQ(session.SendMail(socket, which == 0 ? "me@example.org" : "", ""),
                  which == 0 ? -2 : -3);
        session.CloseSmtp(socket);
        EXPECT_EQ(server.Transcript(), "");  // only the greeting was exchanged
    }
}

TEST(MailSessionSmtp, LineBreaksNeverReachTheWire) {
    struct Case {
        std::string sender, recipient, subject;
    } cases[] = {
        {"cam@example.org\r\nRCPT TO:<x@evil>", "me@example.org", "Alarm"},
        {"cam@example.org", "me@example.org>\nDATA", "Alarm"},
        {"cam@example.org", "me@example.org", "Alarm\r\nBcc: x@evil"},
        {"cam@example.org", "me@example.org", "Alarm\n"},
    };
    for (const Case& c : cases) {
        ScriptedServer server;
        server.Send("220 hi\r\n");
        ASSERT_TRUE(server.Start());
        MailSession session;
        session.SetSmtpServer("127.0.0.1", c.sender, "", server.Port());
        session.SetContent(c.subject, "body");
        int socket = session.ConnectSmtp();
        ASSERT_NE(socket, kNoMailSocket);
        EXPECT_EQ(session.SendMail(socket, c.recipient, ""), kMailLineBreakInText);
        session.CloseSmtp(socket);
        EXPECT_EQ(server.Transcript(), "");
    }
    MailSession session;
    session.SetSmtpServer("127.0.0.1\r\nMAIL FROM:<x@evil>", "a@b", "", 25);
    EXPECT_EQ(session.ConnectSmtp(), kNoMailSocket);
    EXPECT_EQ(session.LastError(), kMailLineBreakInText);
}

TEST(MailSessionSmtp, ConnectFailures) {
    MailSession session;
    session.SetTimeout(2000);
    session.SetSmtpServer("", "a@b", "", 25);
    EXPECT_EQ(session.ConnectSmtp(), kNoMailSocket);
    EXPECT_EQ(session.LastError(), -1);
    session.SetSmtpServer("no-such-host.invalid", "a@b", "", 25);
    EXPECT_EQ(session.ConnectSmtp(), kNoMailSocket);
    EXPECT_EQ(session.LastError(), -2);
    session.SetSmtpServer("127.0.0.1", "a@b", "", qvtest::FreePort());  // nobody listens
    EXPECT_EQ(session.ConnectSmtp(), kNoMailSocket);
    EXPECT_EQ(session.LastError(), -4);
    {
        ScriptedServer server;
        server.Send("421 busy\r\n");
        ASSERT_TRUE(server.Start());
        session.SetSmtpServer("127.0.0.1", "a@b", "", server.Port());
        EXPECT_EQ(session.ConnectSmtp(), kNoMailSocket);
        EXPECT_EQ(session.LastError(), -5);
        EXPECT_EQ(server.Transcript(), "");
    }
}

TEST(MailSessionSmtp, SilentServerTimesOutAtEachStep) {
    using Clock = std::chrono::steady_clock;
    {
        // Says nothing at all: the greeting times out.
        ScriptedServer server;
        server.StepTimeout(5000);
        ASSERT_TRUE(server.Start());
        MailSession session;
        session.SetTimeout(300);
        UseSmtp(session, server.Port());
        auto start = Clock::now();
        EXPECT_EQ(session.ConnectSmtp(), kNoMailSocket);
        auto took = Clock::now() - start;
        EXPECT_EQ(session.LastError(), -5);
        EXPECT_GE(took, std::chrono::milliseconds(250));
        EXPECT_LT(took, std::chrono::milliseconds(3000));
        EXPECT_EQ(server.Transcript(), "");
    }
    {
        // Falls silent after the data: the end of data times out.
        ScriptedServer server;
        server.Send("220 hi\r\n").ExpectLine().Send("250\r\n").ExpectLine().Send("250\r\n");
        server.ExpectLine().Send("250\r\n").ExpectLine().Send("354\r\n").ExpectData();
        server.StepTimeout(5000);
        ASSERT_TRUE(server.Start());
        MailSession session;
        session.SetTimeout(300);
        UseSmtp(session, server.Port());
        int socket = session.ConnectSmtp();
        ASSERT_NE(socket, kNoMailSocket);
        auto start = Clock::now();
        EXPECT_EQ(session.SendMail(socket, "me@example.org", ""), -15);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3000));
        session.CloseSmtp(socket);
    }
}

TEST(MailSessionSmtp, StopCheckCutsAWaitShort) {
    ScriptedServer server;
    server.StepTimeout(5000);
    ASSERT_TRUE(server.Start());
    MailSession session;
    session.SetTimeout(30000);
    auto start = std::chrono::steady_clock::now();
    session.SetStopCheck([start] {
        return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(200);
    });
    UseSmtp(session, server.Port());
    EXPECT_EQ(session.ConnectSmtp(), kNoMailSocket);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
    server.Transcript();
}

void UsePop(MailSession& session, int port, const std::string& password = "secret") {
    session.SetPopServer("127.0.0.1", "alice", password, port);
}

TEST(MailSessionPop, LoginTranscriptAndCodes) {
    struct Case {
        const char* name;
        std::string greeting, userReply, passReply;
        int result, error;
        std::string transcript;
    } cases[] = {
        {"accepted", "+OK ready\r\n", "+OK\r\n", "+OK in\r\n", 1, 0,
         "USER alice\r\nPASS secret\r\nQUIT\r\n"},
        {"greeting refused", "-ERR go away\r\n", "", "", 0, -6, "QUIT\r\n"},
        {"USER refused", "+OK ready\r\n", "-ERR who\r\n", "", 0, -7, "USER alice\r\nQUIT\r\n"},
        {"PASS refused", "+OK ready\r\n", "+OK\r\n", "-ERR [AUTH] failed\r\n", 0, -8,
         "USER alice\r\nPASS secret\r\nQUIT\r\n"},
        {"short reply", "+O", "", "", 0, -6, "QUIT\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server;
        server.Send(c.greeting);
        if (!c.userReply.empty()) server.ExpectLine().Send(c.userReply);
        if (!c.passReply.empty()) server.ExpectLine().Send(c.passReply);
        server.ExpectLine().Send("+OK bye\r\n");
        ASSERT_TRUE(server.Start());
        MailSession session;
        session.SetTimeout(5000);
        UsePop(session, server.Port());
        EXPECT_EQ(session.PopBeforeSmtp(), c.result);
        if (c.result == 0) {
            EXPECT_EQ(session.LastError(), c.error);
        }
        EXPECT_EQ(server.Transcript(), c.transcript);
    }
}

TEST(MailSessionPop, MissingSettingsNeverConnect) {
    ScriptedServer server;
    server.StepTimeout(500);
    ASSERT_TRUE(server.Start());
    MailSession session;
    UsePop(session, server.Port(), "");
    EXPECT_EQ(session.PopBeforeSmtp(), 0);
    EXPECT_EQ(session.LastError(), -1);
    session.SetPopServer("127.0.0.1", "alice\r\nDELE 1", "secret", server.Port());
    EXPECT_EQ(session.PopBeforeSmtp(), 0);
    EXPECT_EQ(session.LastError(), kMailLineBreakInText);
    server.Transcript();
    EXPECT_FALSE(server.Connected());
}

TEST(MailSessionPop, ConnectFailuresAndSilence) {
    MailSession session;
    session.SetTimeout(300);
    session.SetPopServer("no-such-host.invalid", "alice", "secret", 110);
    EXPECT_EQ(session.PopBeforeSmtp(), 0);
    EXPECT_EQ(session.LastError(), -2);
    UsePop(session, qvtest::FreePort());
    EXPECT_EQ(session.PopBeforeSmtp(), 0);
    EXPECT_EQ(session.LastError(), -5);
    // A silent server: the greeting times out, QUIT is still sent, and the session does not
    // wait a second time for a server that has already failed to answer.
    ScriptedServer server;
    server.StepTimeout(5000);
    ASSERT_TRUE(server.Start());
    UsePop(session, server.Port());
    session.SetTimeout(1000);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(session.PopBeforeSmtp(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900));
    EXPECT_EQ(session.LastError(), -6);
    EXPECT_EQ(server.Transcript(), "QUIT\r\n");
}

}  // namespace
