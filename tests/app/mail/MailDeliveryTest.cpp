// The warning mail and the test mail against real servers: aiosmtpd plain and with STARTTLS or TLS
// from the connect and SMTP authentication. What arrived is read back with Python's email package,
// the picture with Pillow.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdlib>

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

TEST(MailDelivery, WarningMailsWithTheirPictures) {
    ::setenv("TZ", "Asia/Tokyo", 1);
    ::tzset();
    // clang-format off
    struct Case {
        int Type;
        bool Picture;      // the job's picture copy exists
        const char* Part;
        int Width, Height;
    } cases[] = {
        {0, true, "PNG", 120, 100},
        {1, true, "JPEG", 160, 120},
        {0, false, "empty", 0, 0},  // nothing to convert: the part goes out empty
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Part);
        SmtpServer smtp;
        SKIP_UNLESS_READY(smtp);
        mailtest::WarningJob job(smtp.Port());
        if (!c.Picture) std::remove(job.Request.PicturePath.c_str());
        job.Request.Warning.MailTitle = "警告！！ｶﾞｿﾞｳ";  // half-width katakana go out full-width
        job.Request.Warning.SendPict = 1;
        job.Request.Pict.Type = c.Type;
        if (c.Type == 1) job.Request.Pict.Width = 160, job.Request.Pict.Height = 120;
        // The first mail also logs in by POP3 and dials up around the mail.
        const bool first = c.Part == std::string("PNG");
        job.Request.Mail.PopSmtp = job.Request.Basic.ConnMode = first;
        job.Request.Basic.DialName = "isp";
        qvtest::ScriptedServer pop;
        pop.Play({"+OK", "+OK", "+OK", "+OK"}).StepTimeout(first ? 5000 : 10);
        ASSERT_TRUE(pop.Start());
        job.Request.PopPort = pop.Port();
        mailtest::FakeNmcli nmcli({"isp"});
        EXPECT_EQ(job.Run(), "me@example.orgにメール送信|");
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
        ASSERT_EQ(parts.size(), 1);
        QJsonObject part = parts[0].toObject();
        EXPECT_EQ(part["size"].toInt() == 0, !c.Picture);
        if (!c.Picture) continue;
        EXPECT_EQ(Text(part["filename"]), c.Type ? "20031224055449.jpg" : "20031224055449.png");
        EXPECT_TRUE(part["decoded"].toBool()) << Text(part["error"]);
        EXPECT_EQ(Text(part["format"]), c.Part);
        EXPECT_EQ(part["width"].toInt(), c.Width);
        EXPECT_EQ(part["height"].toInt(), c.Height);
    }
}

// The test mail and then the warning mail, through each kind of server: either both go out
// the way asked for, or neither leaves before the protection asked for is in place.
TEST(MailDelivery, SubmissionGoesOnlyWithTheProtectionAskedFor) {
    TestCertificate cert, localhostOnly("DNS:localhost");
    SKIP_UNLESS_READY(cert);
    using Mode = SmtpServer::Mode;
    const std::string failed = "テスト送信に失敗しました。\n",
                      untrusted = "server certificate not trusted: ",
                      sent = "me@example.orgにテストメールを送信しました。\nサーバーの応答：250",
                      tlsPlain = "tls=1\nauth=PLAIN alice\nhelo=[127.0.0.1]\n";
    // clang-format off
    struct Case {
        const char* Name;
        const TestCertificate* Cert;  // nullptr: a plain server
        Mode How;
        int Security;
        std::string Text, Session = "";  // Session "" when nothing may arrive
        bool Trusted = true;
        std::string Server = "127.0.0.1", Password = "s3cret";
    } cases[] = {
        {"STARTTLS, AUTH PLAIN", &cert, Mode::StartTls, 1, sent, tlsPlain},
        {"TLS", &cert, Mode::Implicit, 2, sent, tlsPlain},
        {"its own host name", &localhostOnly, Mode::Implicit, 2, sent,
         tlsPlain, true, "localhost"},
        // STARTTLS is never skipped.
        {"no STARTTLS", nullptr, Mode::Plain, 1,
         failed + "SMTPサーバーがSTARTTLSに対応していません。\nサーバーの応答：250"},
        {"untrusted, STARTTLS", &cert, Mode::StartTls, 1,
         failed + "STARTTLSによる暗号化を確立できません。\n詳細：" + untrusted + "self-signed certificate",
         "", false},
        {"untrusted, TLS", &cert, Mode::Implicit, 2,
         failed + "SSL/TLSの接続を確立できません。\n詳細：" + untrusted + "self-signed certificate", "",
         false},
        {"another host name", &localhostOnly, Mode::Implicit, 2,
         failed + "SSL/TLSの接続を確立できません。\n詳細：" + untrusted + "IP address mismatch"},
        {"wrong password", &cert, Mode::StartTls, 1,
         failed + "SMTP認証に失敗しました。\nサーバーの応答：535 5.7.8 Authentication credentials invalid",
         "", true, "127.0.0.1", "wrong"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        SmtpServer server(c.Cert, c.How);
        SKIP_UNLESS_READY(server);
        // Trusts the certificate the way a user of a private CA would.
        if (c.Trusted && c.Cert) ::setenv("QUORVEX_MAIL_CAFILE", c.Cert->CertFile().c_str(), 1);
        mailtest::WarningJob job(server.Port());
        job.Request.Warning.SendPict = 0;
        MailSettings& mail = job.Request.Mail;
        mail.SmtpServer = c.Server;
        mail.SmtpPort = server.Port();
        mail.SmtpSecurity = c.Security;
        mail.SmtpAuth = c.Security != 0;
        mail.SmtpUser = "alice";
        mail.SmtpPassword = c.Password;
        TestMailOptions options;
        options.TimeoutMs = 10000;
        const std::string text = SendTestMail(mail, options).Text;
        EXPECT_EQ(text.substr(0, c.Text.size()), c.Text);
        const std::string logged = job.Run();
        ::unsetenv("QUORVEX_MAIL_CAFILE");
        if (c.Session.empty()) {
            // The warning mail fails the same way, with the same reason for the event line.
            EXPECT_EQ(logged, "メール送信に失敗しました|" + text.substr(failed.size()));
            EXPECT_TRUE(server.NothingArrived());
            continue;
        }
        EXPECT_EQ(logged, "me@example.orgにメール送信|");
        for (int n : {1, 2}) {
            ASSERT_FALSE(server.WaitForMessage(n).empty());
            EXPECT_EQ(server.Session(n), c.Session);
        }
        EXPECT_EQ(Text(ReadMail(server.WaitForMessage(1))["subject"]), "Quorvex テストメール");
    }
}

}  // namespace
