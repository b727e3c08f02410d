// The warning mail and the test mail against real servers: aiosmtpd plain and with STARTTLS or TLS
// from the connect and SMTP authentication. What arrived is read back with Python's email package,
// the picture with Pillow.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdint>
#include <cstdlib>

#include "app/imaging/DibImage.h"
#include "app/mail/MailJob.h"
#include "app/mail/TestMail.h"
#include "tests/app/mail/MailServers.h"
#include "tests/support/ScriptedServer.h"

namespace {

using mailtest::SmtpServer;
using mailtest::TestCertificate;

#define SKIP_UNLESS_READY(x) \
    if (!(x).Ready()) GTEST_SKIP() << (x).WhyNot()

QJsonObject ReadMail(const std::string& eml) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(mailtest::ReadMailJson(eml))).object();
}

std::string Text(const QJsonValue& v) {
    return v.toString().trimmed().replace("\r\n", "\n").toStdString();
}

// A 24-bit frame with coloured bands, as the capture thread leaves one.
void WriteFrameBmp(const std::string& path, int width, int height) {
    qv::DibImage frame;
    frame.Create(width, height, 24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = frame.Row(y) + 3 * x;
            p[0] = x * 255 / width, p[1] = y * 255 / height, p[2] = (x / 40) % 2 ? 200 : 30;
        }
    frame.SaveBmp(path);
}

MailJobRequest JobTo(const qvtest::TempDir& work, int smtpPort, std::string* logged) {
    WriteFrameBmp(work.File("QVTmp200-7.___"), 320, 240);
    MailJobRequest job;
    job.Mail.SmtpServer = "127.0.0.1";
    job.Mail.MailAddress = "cam@example.org";
    job.Mail.SendMailAddress = "me@example.org";
    job.PicturePath = work.File("QVTmp200-7.___");
    job.CaptureTime = 1072212889;  // 24 December 2003, 05:54:49 in Tokyo
    job.WorkFolder = work.Path();
    job.Log = [logged](const std::string& text, const std::string& reason) {
        *logged += text + reason;
    };
    job.SmtpPort = smtpPort;
    job.TimeoutMs = 10000;
    job.SettleMs = job.HangUpWaitMs = 10;
    return job;
}

TEST(MailDelivery, WarningMailsWithTheirPictures) {
    ::setenv("TZ", "Asia/Tokyo", 1);
    ::tzset();
    // clang-format off
    struct Case {
        int Type, SendPict;
        bool Picture;      // the job's picture copy exists
        const char* Part;  // "" for no picture part
        int Width, Height;
    } cases[] = {
        {0, 1, true, "PNG", 120, 100},
        {1, 1, true, "JPEG", 160, 120},
        {0, 0, true, "", 0, 0},
        {0, 1, false, "empty", 0, 0},  // nothing to convert: the part goes out empty
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Part);
        SmtpServer smtp;
        SKIP_UNLESS_READY(smtp);
        qvtest::TempDir work;
        std::string logged;
        MailJobRequest job = JobTo(work, smtp.Port(), &logged);
        if (!c.Picture) std::remove(job.PicturePath.c_str());
        job.Warning.MailTitle = "警告！！ｶﾞｿﾞｳ";  // half-width katakana go out full-width
        job.Warning.SendPict = c.SendPict;
        job.Pict.Type = c.Type;
        if (c.Type == 1) job.Pict.Width = 160, job.Pict.Height = 120;
        // The first mail also logs in by POP3 and dials up around the mail.
        bool first = c.Part == std::string("PNG");
        job.Mail.PopSmtp = first;
        job.Mail.PopServer = "127.0.0.1", job.Mail.UserID = "alice", job.Mail.Password = "s3cret";
        qvtest::ScriptedServer pop;
        pop.Send("+OK\r\n").ExpectLine().Send("+OK\r\n").ExpectLine().Send("+OK\r\n");
        pop.ExpectLine().Send("+OK\r\n").StepTimeout(first ? 5000 : 10);
        ASSERT_TRUE(pop.Start());
        job.PopPort = pop.Port();
        job.Basic.ConnMode = first;
        job.Basic.DialName = "isp";
        mailtest::FakeNmcli nmcli({"isp"});
        EXPECT_TRUE(RunMailJob(job).Sent);
        EXPECT_EQ(logged, "me@example.orgにメール送信");
        EXPECT_TRUE(qvtest::ListDir(work.Path()).empty()) << "work files left";
        if (first) {
            EXPECT_EQ(pop.Transcript(), "USER alice\r\nPASS s3cret\r\nQUIT\r\n");
            EXPECT_EQ(nmcli.Calls(),
                      "-t -f NAME connection show\n-w 60 connection up id isp\n"
                      "-w 10 connection down id isp\n");
        }
        std::string eml = smtp.WaitForMessage(1);
        ASSERT_FALSE(eml.empty());
        QJsonObject mail = ReadMail(eml);
        EXPECT_EQ(Text(mail["subject"]), "警告！！ガゾウ");
        EXPECT_TRUE(mail["defects"].toArray().isEmpty());
        QJsonArray texts = mail["texts"].toArray();
        ASSERT_EQ(texts.size(), 1);
        EXPECT_EQ(Text(texts[0].toObject()["charset"]), "iso-2022-jp");
        EXPECT_EQ(Text(texts[0].toObject()["text"]),
                  "警告が発生しました。\n画像を確認してください。");
        QJsonArray parts = mail["attachments"].toArray();
        ASSERT_EQ(parts.size(), c.Part[0] ? 1 : 0);
        if (!c.Part[0]) continue;
        QJsonObject part = parts[0].toObject();
        if (!c.Picture) {
            EXPECT_EQ(part["size"].toInt(), 0);
            continue;
        }
        EXPECT_EQ(Text(part["filename"]), c.Type ? "20031224055449.jpg" : "20031224055449.png");
        EXPECT_TRUE(part["decoded"].toBool()) << Text(part["error"]);
        EXPECT_EQ(Text(part["format"]), c.Part);
        EXPECT_EQ(part["width"].toInt(), c.Width);
        EXPECT_EQ(part["height"].toInt(), c.Height);
    }
}

// Trusts the fixture's certificate the way a user of a private CA would.
struct TrustedCa {
    explicit TrustedCa(const std::string& file) {
        ::setenv("QUORVEX_MAIL_CAFILE", file.c_str(), 1);
    }
    ~TrustedCa() { ::unsetenv("QUORVEX_MAIL_CAFILE"); }
};

MailSettings Submission(int port, int security, const std::string& password = "s3cret") {
    MailSettings m;
    m.SmtpServer = "127.0.0.1";
    m.MailAddress = "cam@example.org";
    m.SendMailAddress = "me@example.org";
    m.SmtpPort = port;
    m.SmtpSecurity = security;
    m.SmtpAuth = 1;
    m.SmtpUser = "alice";
    m.SmtpPassword = password;
    return m;
}

std::string SendTest(const MailSettings& mail) {
    TestMailOptions options;
    options.TimeoutMs = 10000;
    return SendTestMail(mail, options).Text;
}

TEST(MailDelivery, SubmissionOverTls) {
    TestCertificate cert;
    SKIP_UNLESS_READY(cert);
    TrustedCa ca(cert.CertFile());
    // clang-format off
    struct Case {
        SmtpServer::Mode Mode;
        const char* Mechanisms;
        int Security;
        std::string Session;
    } cases[] = {
        {SmtpServer::Mode::StartTls, "PLAIN,LOGIN", 1, "tls=1\nauth=PLAIN alice\n"},
        {SmtpServer::Mode::StartTls, "LOGIN", 1, "tls=1\nauth=LOGIN alice\n"},
        {SmtpServer::Mode::Implicit, "PLAIN,LOGIN", 2, "tls=1\nauth=PLAIN alice\n"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SmtpServer server(cert, c.Mode, "alice", "s3cret", c.Mechanisms);
        SKIP_UNLESS_READY(server);
        std::string text = SendTest(Submission(server.Port(), c.Security));
        EXPECT_EQ(
            text.rfind("me@example.orgにテストメールを送信しました。\nサーバーの応答：250", 0), 0u)
            << text;
        ASSERT_FALSE(server.WaitForMessage(1).empty());
        EXPECT_EQ(server.Session(1), c.Session);
        EXPECT_EQ(Text(ReadMail(server.WaitForMessage(1))["subject"]), "Quorvex テストメール");
        // The warning mail goes the same way.
        qvtest::TempDir work;
        std::string logged;
        MailJobRequest job = JobTo(work, server.Port(), &logged);
        job.Warning.SendPict = 0;
        job.Mail = Submission(server.Port(), c.Security);
        EXPECT_TRUE(RunMailJob(job).Sent);
        EXPECT_EQ(logged, "me@example.orgにメール送信");
        ASSERT_FALSE(server.WaitForMessage(2).empty());
        EXPECT_EQ(server.Session(2), c.Session);
        EXPECT_EQ(server.Envelope(2)[0], "[127.0.0.1]");
    }
}

TEST(MailDelivery, NothingIsSentWithoutTheProtectionAskedFor) {
    TestCertificate cert, localhostOnly("DNS:localhost");
    SKIP_UNLESS_READY(cert);
    const std::string failed = "テスト送信に失敗しました。\n";
    // clang-format off
    struct Case {
        const char* Name;
        const TestCertificate& Cert;
        SmtpServer::Mode Mode;
        bool Trusted;
        std::string Server, Password, Text;
    } cases[] = {
        {"untrusted, STARTTLS", cert, SmtpServer::Mode::StartTls, false, "127.0.0.1", "s3cret",
         failed + "STARTTLSによる暗号化を確立できません。\n詳細：server certificate not trusted: " "self-signed certificate"},
        {"untrusted, TLS", cert, SmtpServer::Mode::Implicit, false, "127.0.0.1", "s3cret",
         failed + "SSL/TLSの接続を確立できません。\n詳細：server certificate not trusted: " "self-signed certificate"},
        {"another host name", localhostOnly, SmtpServer::Mode::Implicit, true, "127.0.0.1",
         "s3cret",
         failed + "SSL/TLSの接続を確立できません。\n詳細：server certificate not trusted: IP " "address mismatch"},
        {"wrong password", cert, SmtpServer::Mode::StartTls, true, "127.0.0.1", "wrong",
         failed + "SMTP認証に失敗しました。\nサーバーの応答：535 5.7.8 Authentication " "credentials invalid"},
        {"its own host name", localhostOnly, SmtpServer::Mode::Implicit, true, "localhost",
         "s3cret", "me@example.orgにテストメールを送信しました。"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        SmtpServer server(c.Cert, c.Mode, "alice", "s3cret");
        SKIP_UNLESS_READY(server);
        if (c.Trusted) ::setenv("QUORVEX_MAIL_CAFILE", c.Cert.CertFile().c_str(), 1);
        MailSettings mail =
            Submission(server.Port(), c.Mode == SmtpServer::Mode::Implicit ? 2 : 1, c.Password);
        mail.SmtpServer = c.Server;
        std::string text = SendTest(mail);
        EXPECT_EQ(text.substr(0, c.Text.size()), c.Text);
        // The warning mail fails the same way, with the same reason for the event line.
        qvtest::TempDir work;
        std::string logged;
        MailJobRequest job = JobTo(work, server.Port(), &logged);
        job.Warning.SendPict = 0;
        job.Mail = mail;
        bool sent = RunMailJob(job).Sent;
        ::unsetenv("QUORVEX_MAIL_CAFILE");
        EXPECT_EQ(server.SettledCount(), sent ? 2 : 0);
        if (!sent) {
            EXPECT_EQ(logged, "メール送信に失敗しました" + text.substr(failed.size()));
        }
    }
}

TEST(MailDelivery, StartTlsIsNeverSkippedWhenTheServerLacksIt) {
    SmtpServer plain;
    SKIP_UNLESS_READY(plain);
    MailSettings mail = Submission(plain.Port(), 1);
    EXPECT_EQ(SendTest(mail).rfind("テスト送信に失敗しました。\nSMTPサーバーがSTARTTLSに対応して"
                                   "いません。\nサーバーの応答：250",
                                   0),
              0u);
    EXPECT_EQ(plain.SettledCount(), 0);
    // Only another port: EHLO, and the mail goes.
    mail.SmtpSecurity = mail.SmtpAuth = 0;
    EXPECT_EQ(SendTest(mail).rfind("me@example.orgにテストメールを送信しました。", 0), 0u);
    EXPECT_FALSE(plain.WaitForMessage(1).empty());
}

}  // namespace
