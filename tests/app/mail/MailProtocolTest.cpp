// The mail client against scripted servers: the message bytes (ISO-2022-JP, base64, layout),
// the SMTP and POP3 transcripts and failure codes, the bounded waits, and dial-up through a
// stand-in nmcli.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/mail/Base64.h"
#include "app/mail/MailFailure.h"
#include "app/mail/MailJob.h"
#include "app/mail/MailSession.h"
#include "app/mail/MessageText.h"
#include "platform/dialup/DialUp.h"
#include "platform/text/Text.h"
#include "tests/app/mail/MailServers.h"
#include "tests/support/ScriptedServer.h"

namespace {

using namespace std::string_literals;
using qvtest::ScriptedServer;

const std::string kIn = "\x1b$B", kOut = "\x1b(B";

std::string Sjis(const std::string& utf8) {
    return qv::text::Utf8ToCp932(utf8);
}

TEST(MessageText, Iso2022JpBytes) {
    struct Case {
        std::string cp932, iso;
    } cases[] = {
        // clang-format off
        {"Alarm\r\nat", "Alarm\nat"}, {"a\rb", "a\nb"}, {"line\r", "line\n"},
        {"a\x1b$Bb", "a$Bb"},  // an escape of the text's own never passes
        {Sjis("警告"), kIn + "\x37\x59\x39\x70" + kOut},
        {Sjis("警A告"), kIn + "\x37\x59" + kOut + "A" + kIn + "\x39\x70" + kOut},
        {Sjis("警") + "\x8c", kIn + "\x37\x59" + kOut},  // a lead byte cut off at the end
        {"\x8c", ""}, {"ab\0\x8c\x78zz"s, "ab"},
        {"\xf0\x40", kIn + "\x22\x2e" + kOut},  // no JIS X 0208 code: the geta mark
        {"\x81\x0d\x0a", kIn + "\x22\x2e" + kOut + "\n"},
        {"\x83\xb6", kIn + "\x26\x38" + kOut},  // Ω: a trail byte in the kana range stays
        // Half-width katakana become full-width, marks combined where the letter takes them:
        // ｶﾞ ガ, ﾊﾟ パ, ｳﾞ ヴ, ﾄﾞﾎﾟ ドポ, ｱﾞ ア゛, ｶﾟ カ゜, ﾞ ゛, AｱB AアB.
        {"\xb6\xde", kIn + "\x25\x2c" + kOut}, {"\xca\xdf", kIn + "\x25\x51" + kOut},
        {"\xb3\xde", kIn + "\x25\x74" + kOut}, {"\xc4\xde\xce\xdf", kIn + "\x25\x49\x25\x5d" + kOut},
        {"\xb1\xde", kIn + "\x25\x22\x21\x2b" + kOut}, {"\xb6\xdf", kIn + "\x25\x2b\x21\x2c" + kOut},
        {"\xde", kIn + "\x21\x2b" + kOut}, {"A\xb1" "B", "A" + kIn + "\x25\x22" + kOut + "B"},
        // clang-format on
    };
    for (const Case& c : cases) EXPECT_EQ(ToIso2022Jp(c.cp932), c.iso) << c.cp932;
    EXPECT_EQ(EncodeHeaderWord("ab\0cd"s), "=?ISO-2022-JP?B?YWI=?=");
}

// Stored settings texts: "=" and strangers are zero bits; whole groups always.
TEST(MessageText, Base64TextDecoding) {
    EXPECT_EQ(Base64DecodeText("Zm9v+/=\xFF"), "foo\xfb\xf0\0"s);
}

std::string Compose(const MessageContent& content) {
    std::string out;
    WriteMessage(content, "B", [&](std::string_view line) { out += line; });
    return out;
}

// The headers and parts are read back by Python in the delivery test; here what it cannot see.
TEST(MessageText, DotsEmptySubjectAndPictureLines) {
    MessageContent c;
    c.Body = "first<BR>.<BR>a\r\n.\r\nMAIL FROM:<x@y>";
    c.AttachmentFile = "/nonexistent/b64";
    std::string text = Compose(c);
    // No line of the body ends the data; an empty subject is "なし"; a missing file, no part.
    EXPECT_NE(text.find("\r\n\r\nfirst\r\n..\r\na\r\n..\r\nMAIL FROM:<x@y>\r\n--B--"),
              std::string::npos);
    EXPECT_NE(text.find("Subject: " + EncodeHeaderWord(ToIso2022Jp(Sjis("なし")))),
              std::string::npos);
    EXPECT_EQ(text.find("Content-Disposition"), std::string::npos);
    // The picture part: lines of 64 characters, the type by the name's extension.
    qvtest::TempDir dir;
    qvtest::WriteFile(dir.File("b64"), std::string(130, 'A'));
    c.AttachmentFile = dir.File("b64");
    c.AttachmentName = "x.JpG";
    text = Compose(c);
    EXPECT_NE(text.find("Content-Type: image/jpeg; name=\"x.JpG\"\r\n"), std::string::npos);
    EXPECT_NE(
        text.find(std::string(64, 'A') + "\r\n" + std::string(64, 'A') + "\r\nAA\r\n\r\n--B--"),
        std::string::npos);
}

// One SMTP session against a scripted server (its script as ScriptedServer::Play takes it).
struct Conversation {
    std::vector<std::string> Script;
    SmtpSubmission Submission = {};
    int TimeoutMs = 5000;
    std::string Sender = "cam@example.org", Recipient = "me@example.org", Subject = "Alarm";
};

SmtpSubmission Extended(int security, bool auth, const std::string& user = "alice") {
    return {true, security, auth, user, "s3cret"};
}

const std::vector<std::string> kPlainMail = {"220 hi", "250 hello",   "250 sender", "250 rcpt",
                                             "354 go", ".250 queued", "221 bye"};
const std::string kHelo = "HELO 127.0.0.1\r\n", kEhlo = "EHLO [127.0.0.1]\r\n";
const std::string kEnvelope = "MAIL FROM:<cam@example.org>\r\nRCPT TO:<me@example.org>\r\n";
const std::string kPlain = "AUTH PLAIN AGFsaWNlAHMzY3JldA==\r\n";
const std::string kWholeData =
    "DATA\r\nFrom: cam@example.org\r\nSubject: =?ISO-2022-JP?B?QWxhcm0=?= \r\n";

// The script with one reply changed, and cut after it: the conversation ends there.
std::vector<std::string> With(std::vector<std::string> script, size_t at, std::string reply) {
    script[at] = std::move(reply);
    script.resize(at + 1);
    return script;
}

TEST(SmtpDialogue, Transcripts) {
    const std::vector<std::string> extendedMail = {"250 sender", "250 rcpt", "354 go",
                                                   ".250 queued as 1", "221 bye"};
    auto extended = [&](std::vector<std::string> head) {
        head.insert(head.end(), extendedMail.begin(), extendedMail.end());
        return head;
    };
    // What the server saw: exactly Start, or beginning with it, or beginning with it and going
    // on with the whole message and QUIT.
    enum Check { Exact, Prefix, Whole };
    // clang-format off
    struct Case {
        const char* Name;
        Conversation C;
        int Connect, Send;
        std::string Start;
        Check Saw;
        std::string Reply = "";
    } cases[] = {
        {"HELO refused", {With(kPlainMail, 1, "500 no")}, 0, -6, kHelo, Exact, "500 no"},
        {"hang-up at HELO", {With(kPlainMail, 1, "!close")}, 0, -6, kHelo, Exact},
        {"MAIL refused", {With(kPlainMail, 2, "550 no")}, 0, -7,
         kHelo + "MAIL FROM:<cam@example.org>\r\n", Exact},
        {"RCPT refused", {With(kPlainMail, 3, "550 who")}, 0, -8, kHelo + kEnvelope, Exact},
        {"DATA refused", {With(kPlainMail, 4, "554 no")}, 0, -9, kHelo + kEnvelope + "DATA\r\n",
         Exact},
        {"end of data refused", {With(kPlainMail, 5, ".552 big")}, 0, -15, kHelo + kEnvelope,
         Prefix},
        {"QUIT refused", {With(kPlainMail, 6, "500 what")}, 0, -16, kHelo + kEnvelope, Whole},
        {"greeting refused", {{"421 busy"}}, -5, 1, "", Exact, "421 busy"},
        {"silent server", {{}, {}, 300}, -5, 1, "", Exact},
        {"empty sender", {kPlainMail, {}, 5000, ""}, 0, -2, "", Exact},
        {"empty recipient", {kPlainMail, {}, 5000, "cam@example.org", ""}, 0, -3, "", Exact},
        // A line break in a text never reaches the wire.
        {"break in subject", {kPlainMail, {}, 5000, "a@b", "c@d", "A\r\nBcc: x@evil"}, 0,
         kMailLineBreakInText, "", Exact},
        // The extended dialogue.
        {"AUTH PLAIN, EHLO reply in pieces", {extended({"220 mail",
         "250-mail hello\r\n250-SIZE 1000+", "~0\r\n250-AUTH LOGIN PLAIN+", "~\r\n250 8BITMIME",
         "235 ok"}), Extended(0, true)}, 0, 0, kEhlo + kPlain + kEnvelope + kWholeData, Whole,
         "250 queued as 1"},
        {"AUTH LOGIN when PLAIN is not offered", {extended({"220 mail",
         "250-mail\r\n250 AUTH=LOGIN", "334 VXNlcm5hbWU6", "334 UGFzcw==", "235 ok"}), Extended(0,
         true)}, 0, 0, kEhlo + "AUTH LOGIN\r\nYWxpY2U=\r\nczNjcmV0\r\n" + kEnvelope + kWholeData,
         Whole},
        {"HELO when EHLO is refused and nothing is wanted", {extended({"220 old", "500 what?",
         "250 old"}), Extended(0, false)}, 0, 0, kEhlo + "HELO [127.0.0.1]\r\n" + kEnvelope, Whole},
        {"taken, then a hang-up instead of QUIT", {{"220 m", "250 m", "250 ok", "250 ok", "354 go",
         ".250 queued", "!close"}, Extended(0, false)}, 0, 0, kEhlo + kEnvelope, Whole,
         "250 queued"},
        {"end of data refused", {{"220 m", "250 m", "250 ok", "250 ok", "354 go", ".554 spam"},
         Extended(0, false)}, 0, -15, kEhlo + kEnvelope, Prefix, "554 spam"},
        {"no AUTH offered", {{"220 m", "250-m\r\n250 SIZE 1"}, Extended(0, true)}, 0,
         kMailAuthUnavailable, kEhlo, Exact, "250-m\n250 SIZE 1"},
        {"STARTTLS refused", {{"220 m", "250-m\r\n250 STARTTLS", "454 not ready"}, Extended(1,
         false)}, 0, kMailStartTlsUnavailable, kEhlo + "STARTTLS\r\n", Exact, "454 not ready"},
        {"bytes injected before the handshake", {{"220 m", "250-m\r\n250 STARTTLS",
         "220 go\r\n250 injected"}, Extended(1, false)}, 0, kMailTlsFailed, kEhlo + "STARTTLS\r\n",
         Exact, "data before the TLS handshake: 250 injected"},
        {"EHLO reply with two codes", {{"220 m", "250-m\r\n220 STARTTLS"}, Extended(0, false)}, 0,
         -6, kEhlo, Exact},
        {"EHLO refused while AUTH is wanted", {{"220 m", "502 unknown"}, Extended(0, true)}, 0, -6,
         kEhlo, Exact},
        {"greeting refused", {{"554 no service"}, Extended(0, false)}, -5, 1, "", Exact},
        // TLS from the connect on: the first bytes out are a TLS record, whatever the server.
        {"TLS wanted, plain server", {{"220 plain"}, Extended(2, true)}, kMailTlsFailed, 1, "\x16",
         Prefix},
        {"silent TLS handshake", {{}, Extended(2, false), 300}, kMailTlsFailed, 1, "\x16", Prefix,
         "TLS handshake timed out"},
        {"unknown security", {{"220 m"}, Extended(3, false)}, kMailTlsFailed, 1, "", Exact},
        {"AUTH without user", {{"220 m"}, Extended(0, true, "")}, 0, kMailEmptySetting, "", Exact},
        // Every byte comes well within the time-out; the reply as a whole does not.
        {"trickled EHLO reply", {{"220 m", "!trickle250-mail.example says hello, slowly\r\n250 OK"},
         Extended(0, false), 500}, 0, -6, kEhlo, Exact},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ScriptedServer server;
        ASSERT_TRUE(server.StepTimeout(3000).Play(c.C.Script).Start());
        MailSession session;
        session.SetTimeout(c.C.TimeoutMs);
        session.SetSmtpServer("127.0.0.1", c.C.Sender, "", server.Port());
        session.SetContent(c.C.Subject, "line one<BR>.line two");
        session.SetAttachment("", "");
        session.SetSubmission(c.C.Submission);
        const int socket = session.ConnectSmtp();
        EXPECT_EQ(socket == kNoMailSocket ? session.LastError() : 0, c.Connect);
        EXPECT_EQ(socket == kNoMailSocket ? 1 : session.SendMail(socket, c.C.Recipient, ""),
                  c.Send);
        session.CloseSmtp(socket);
        const std::string transcript = server.Transcript();
        EXPECT_EQ(server.ClientLeftDuringTrickle(),
                  c.C.Script.size() > 1 && c.C.Script[1].rfind("!trickle", 0) == 0);
        if (c.Saw == Exact) {
            EXPECT_EQ(transcript, c.Start);  // nothing follows a failed step
        }
        EXPECT_EQ(transcript.rfind(c.Start, 0), 0u) << transcript;
        if (c.Saw == Whole) {
            EXPECT_NE(transcript.find("\r\nline one\r\n..line two\r\n"), std::string::npos);
            EXPECT_EQ(transcript.substr(transcript.size() - 11), "\r\n.\r\nQUIT\r\n");
        }
        if (!c.Reply.empty()) {
            EXPECT_EQ(session.LastReply(), c.Reply);
        }
    }
}

// Every failure ends with QUIT; POP-before-SMTP that goes through is the picture mail's.
TEST(PopDialogue, FailedLogins) {
    // clang-format off
    struct Case {
        const char* Name;
        std::vector<std::string> Script;
        int Error;
        std::string Transcript;
        std::string User = "alice", Password = "secret";
        int TimeoutMs = 5000;
    } cases[] = {
        {"greeting refused", {"-ERR go away\r\n", "+OK bye\r\n"}, -6, "QUIT\r\n"},
        {"USER refused", {"+OK\r\n", "-ERR who\r\n", "+OK bye\r\n"}, -7, "USER alice\r\nQUIT\r\n"},
        // A silent server: QUIT still goes, and is not waited for a second time.
        {"silent", {}, -6, "QUIT\r\n", "alice", "secret", 300},
        {"no password", {}, kMailEmptySetting, "", "alice", ""},
        {"break in the user", {}, kMailLineBreakInText, "", "alice\r\nDELE 1"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ScriptedServer server;
        ASSERT_TRUE(server.StepTimeout(1500).Play(c.Script).Start());
        MailSession session;
        session.SetTimeout(c.TimeoutMs);
        session.SetPopServer("127.0.0.1", c.User, c.Password, server.Port());
        EXPECT_EQ(session.PopBeforeSmtp(), 0);
        EXPECT_EQ(session.LastError(), c.Error);
        EXPECT_EQ(server.Transcript(), c.Transcript);
    }
    MailSession session;
    session.SetPopServer("127.0.0.1", "alice", "secret", qvtest::FreePort());
    EXPECT_EQ(session.PopBeforeSmtp(), 0);
    EXPECT_EQ(session.LastError(), -5);
}

TEST(DialUp, ThroughNmcli) {
    {
        mailtest::FakeNmcli nmcli({"Wired connection 1", "フレッツ", "a:b"});
        EXPECT_EQ(qv::dialup::PhonebookEntries(),
                  (std::vector<std::string>{"Wired connection 1", "フレッツ", "a:b"}));
        EXPECT_FALSE(qv::dialup::BringUp("other", 5000));  // never an unknown entry
        EXPECT_EQ(nmcli.Calls(), "-t -f NAME connection show\n-t -f NAME connection show\n");
    }
    // A hanging nmcli is stopped by the time-out and by the stop check.
    mailtest::FakeNmcli hanging({"isp"}, 0, 30);
    EXPECT_FALSE(qv::dialup::BringUp("isp", 500));
    EXPECT_FALSE(qv::dialup::BringUp("isp", 60000, [] { return true; }));
}

const std::string kFailed = "メール送信に失敗しました|";

// A warning mail job against scripted servers (the extended dialogue: its replies may span
// reads), with short waits and no picture.
TEST(MailJob, FailuresLogTheSameLineAndGiveTheReason) {
    mailtest::FakeNmcli nmcli({"isp"}, 4);  // a dial-up that fails
    // clang-format off
    struct Case {
        const char* Name;
        std::vector<std::string> Smtp = {}, Pop = {};  // Smtp {}: nothing listens
        std::string Logged;
        int TimeoutMs = 5000, JobDeadlineMs = kMailJobDeadlineMs;
        bool Dial = false;
        std::string Server = "127.0.0.1", Address = "me@example.org";
    } cases[] = {
        {.Name = "name not found", .Logged = kFailed + "SMTPサーバーの名前を解決できません。",
         .Server = "no-such-host.invalid"},
        {.Name = "no answer", .Smtp = {"!silent"}, .Logged = kFailed +
         "SMTPサーバーが接続を受け付けませんでした。\nサーバーの応答がありません。", .TimeoutMs = 300},
        {.Name = "line break", .Logged = kFailed + "設定に改行が含まれています。",
         .Address = "me@example.org\r\nRCPT TO:<x@evil>"},
        {.Name = "POP refused", .Pop = {"+OK", "+OK", "-ERR [AUTH] failed", "+OK bye"},
         .Logged = "POP-before-SMTPに失敗しました|POP-before-SMTPに失敗しました："
         "POPサーバーがパスワードを受け付けませんでした。\nサーバーの応答：-ERR [AUTH] failed"},
        // Each step answered in time, the whole job not: cut short at its deadline.
        {.Name = "job deadline", .Smtp = {"220 hi", "~250 a", "~250 b", "~250 c", "~354 d"},
         .Logged = kFailed + kMailReasonCutShort, .JobDeadlineMs = 700},
        // Neither POP nor SMTP is tried; what the failed dial may have left is taken down.
        {.Name = "dial-up", .Smtp = {"220 hi"}, .Pop = {"+OK"},
         .Logged = "ダイアルアップに失敗しました|" + std::string(kMailReasonDialUp), .Dial = true},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ScriptedServer smtp, pop;
        ASSERT_TRUE(smtp.StepTimeout(c.Smtp.empty() ? 100 : 1500).Play(c.Smtp).Start());
        ASSERT_TRUE(pop.StepTimeout(c.Pop.empty() ? 100 : 1500).Play(c.Pop).Start());
        mailtest::WarningJob job(c.Smtp.empty() ? qvtest::FreePort() : smtp.Port());
        MailJobRequest& r = job.Request;
        r.PopPort = pop.Port();
        r.Warning.SendPict = 0;
        r.Mail.PopSmtp = !c.Pop.empty();
        r.Mail.SmtpServer = c.Server;
        r.Mail.SendMailAddress = c.Address;
        r.Mail.SmtpPort = 587;
        r.Basic.ConnMode = c.Dial;
        r.Basic.DialName = "isp";
        r.TimeoutMs = r.DialTimeoutMs = c.TimeoutMs;
        r.JobDeadlineMs = c.JobDeadlineMs;
        EXPECT_EQ(job.Run(), c.Logged);
        if (c.Dial) {
            smtp.Transcript();
            pop.Transcript();
            EXPECT_FALSE(smtp.Connected() || pop.Connected());
            EXPECT_EQ(nmcli.Calls(),
                      "-t -f NAME connection show\n-w 5 connection up id isp\n"
                      "-w 10 connection down id isp\n");
        }
    }
}

}  // namespace
