// Mail submission against a real server: aiosmtpd with STARTTLS or TLS from the connect and
// SMTP authentication, with a certificate made in the fixture. The warning mail and the test
// mail of the settings dialog, what the server saw, and the message read back with Python's
// email package.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "app/mail/MailJob.h"
#include "app/mail/TestMail.h"
#include "tests/app/mail/MailServers.h"
#include "tests/app/mail/TlsMailServer.h"

namespace {

using mailtest::TestCertificate;
using mailtest::TlsSmtpServer;

// Trusts the fixture's certificate the way a user of a private CA would.
class TrustedCa {
  public:
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

TestMailResult SendTest(const MailSettings& mail) {
    TestMailOptions options;
    options.TimeoutMs = 10000;
    return SendTestMail(mail, options);
}

QJsonObject ParseMail(const std::string& emlPath) {
    std::string json = mailtest::ReadMailJson(emlPath);
    return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

// Gives a server that would still save a message a moment to do so.
int SettledCount(const TlsSmtpServer& server) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return server.MessageCount();
}

#define SKIP_UNLESS_READY(x) \
    if (!(x).Ready()) GTEST_SKIP() << (x).WhyNot()

TEST(MailSubmission, WarningMailOverStartTlsWithAuthPlain) {
    TestCertificate cert;
    SKIP_UNLESS_READY(cert);
    TlsSmtpServer server(cert, TlsSmtpServer::Mode::StartTls, "alice", "s3cret");
    SKIP_UNLESS_READY(server);
    TrustedCa ca(cert.CertFile());
    qvtest::TempDir work;
    MailJobRequest job;
    job.Warning = WarningSettings{};
    job.Warning.SendPict = 0;
    job.Mail = Submission(server.Port(), 1);
    job.PicturePath = work.File("QVTmp200.___");
    job.WorkFolder = work.Path();
    job.TimeoutMs = 10000;
    job.SettleMs = 10;
    std::vector<std::string> logged;
    job.Log = [&](const std::string& text) { logged.push_back(text); };
    MailJobResult result = RunMailJob(job);
    EXPECT_TRUE(result.Sent);
    EXPECT_EQ(logged, std::vector<std::string>{"me@example.orgにメール送信"});

    std::string eml = server.WaitForMessage(1, 10000);
    ASSERT_FALSE(eml.empty());
    EXPECT_EQ(server.Session(1), "tls=1\nauth=PLAIN alice\n");
    std::vector<std::string> envelope = server.Envelope(1);
    ASSERT_EQ(envelope.size(), 3u);
    EXPECT_EQ(envelope[0], "[127.0.0.1]");
    EXPECT_EQ(envelope[1], "cam@example.org");
    EXPECT_EQ(envelope[2], "me@example.org");
    QJsonObject mail = ParseMail(eml);
    ASSERT_FALSE(mail.isEmpty());
    EXPECT_EQ(mail["subject"].toString().trimmed().toStdString(), "警告！！");
    EXPECT_EQ(mail["from"].toString().toStdString(), "cam@example.org");
    EXPECT_EQ(mail["mailer"].toString().toStdString(), "Quorvex");
    EXPECT_TRUE(mail["defects"].toArray().isEmpty());
    QJsonArray texts = mail["texts"].toArray();
    ASSERT_EQ(texts.size(), 1);
    EXPECT_EQ(texts[0].toObject()["charset"].toString().toStdString(), "iso-2022-jp");
    QString body = texts[0].toObject()["text"].toString();
    body.replace("\r\n", "\n");
    EXPECT_EQ(body.toStdString(), "警告が発生しました。\n画像を確認してください。");
}

TEST(MailSubmission, TestMailOverStartTlsWithAuthLogin) {
    TestCertificate cert;
    SKIP_UNLESS_READY(cert);
    TlsSmtpServer server(cert, TlsSmtpServer::Mode::StartTls, "alice", "s3cret", "LOGIN");
    SKIP_UNLESS_READY(server);
    TrustedCa ca(cert.CertFile());
    TestMailResult r = SendTest(Submission(server.Port(), 1));
    EXPECT_TRUE(r.Sent) << r.Text;
    EXPECT_EQ(r.Text.rfind("me@example.orgにテストメールを送信しました。\nサーバーの応答：250", 0),
              0u)
        << r.Text;
    std::string eml = server.WaitForMessage(1, 10000);
    ASSERT_FALSE(eml.empty());
    EXPECT_EQ(server.Session(1), "tls=1\nauth=LOGIN alice\n");
    QJsonObject mail = ParseMail(eml);
    EXPECT_EQ(mail["subject"].toString().trimmed().toStdString(), "Quorvex テストメール");
    QJsonArray texts = mail["texts"].toArray();
    ASSERT_EQ(texts.size(), 1);
    EXPECT_NE(texts[0].toObject()["text"].toString().toStdString().find(
                  "Quorvexからのテストメールです。"),
              std::string::npos);
    EXPECT_TRUE(mail["attachments"].toArray().isEmpty());
}

TEST(MailSubmission, ImplicitTlsFromTheConnectOn) {
    TestCertificate cert;
    SKIP_UNLESS_READY(cert);
    TlsSmtpServer server(cert, TlsSmtpServer::Mode::Implicit, "alice", "s3cret");
    SKIP_UNLESS_READY(server);
    TrustedCa ca(cert.CertFile());
    TestMailResult r = SendTest(Submission(server.Port(), 2));
    EXPECT_TRUE(r.Sent) << r.Text;
    ASSERT_FALSE(server.WaitForMessage(1, 10000).empty());
    EXPECT_EQ(server.Session(1), "tls=1\nauth=PLAIN alice\n");
}

TEST(MailSubmission, HostNamesAreCheckedToo) {
    // A certificate made out to "localhost" serves a server configured by that name.
    TestCertificate cert("DNS:localhost");
    SKIP_UNLESS_READY(cert);
    TlsSmtpServer server(cert, TlsSmtpServer::Mode::Implicit, "alice", "s3cret");
    SKIP_UNLESS_READY(server);
    TrustedCa ca(cert.CertFile());
    MailSettings mail = Submission(server.Port(), 2);
    mail.SmtpServer = "localhost";
    TestMailResult r = SendTest(mail);
    EXPECT_TRUE(r.Sent) << r.Text;
    // ... but not one configured by its address.
    mail.SmtpServer = "127.0.0.1";
    r = SendTest(mail);
    EXPECT_FALSE(r.Sent);
    EXPECT_NE(r.Text.find("SSL/TLSの接続を確立できません。"), std::string::npos) << r.Text;
    EXPECT_NE(r.Text.find("IP address mismatch"), std::string::npos) << r.Text;
    EXPECT_EQ(SettledCount(server), 1);
}

TEST(MailSubmission, WrongPasswordFailsWithTheServersReply) {
    TestCertificate cert;
    SKIP_UNLESS_READY(cert);
    TlsSmtpServer server(cert, TlsSmtpServer::Mode::StartTls, "alice", "s3cret");
    SKIP_UNLESS_READY(server);
    TrustedCa ca(cert.CertFile());
    TestMailResult r = SendTest(Submission(server.Port(), 1, "wrong"));
    EXPECT_FALSE(r.Sent);
    EXPECT_NE(r.Text.find("SMTP認証に失敗しました。"), std::string::npos) << r.Text;
    EXPECT_NE(r.Text.find("サーバーの応答：535 5.7.8 Authentication credentials invalid"),
              std::string::npos)
        << r.Text;

    qvtest::TempDir work;
    MailJobRequest job;
    job.Warning.SendPict = 0;
    job.Mail = Submission(server.Port(), 1, "wrong");
    job.PicturePath = work.File("QVTmp200.___");
    job.WorkFolder = work.Path();
    job.TimeoutMs = 10000;
    job.SettleMs = 10;
    EXPECT_FALSE(RunMailJob(job).Sent);
    EXPECT_EQ(RunMailJob(job).LogText, "メール送信に失敗しました");
    EXPECT_EQ(SettledCount(server), 0);
}

TEST(MailSubmission, UntrustedCertificateStopsBeforeTheLogIn) {
    TestCertificate cert;
    SKIP_UNLESS_READY(cert);
    for (auto mode : {TlsSmtpServer::Mode::StartTls, TlsSmtpServer::Mode::Implicit}) {
        TlsSmtpServer server(cert, mode, "alice", "s3cret");
        SKIP_UNLESS_READY(server);
        // No extra CA: the system's store does not know the fixture's certificate.
        ::unsetenv("QUORVEX_MAIL_CAFILE");
        bool implicit = mode == TlsSmtpServer::Mode::Implicit;
        TestMailResult r = SendTest(Submission(server.Port(), implicit ? 2 : 1));
        EXPECT_FALSE(r.Sent);
        EXPECT_NE(r.Text.find(implicit ? "SSL/TLSの接続を確立できません。"
                                       : "STARTTLSによる暗号化を確立できません。"),
                  std::string::npos)
            << r.Text;
        EXPECT_NE(r.Text.find("詳細：server certificate not trusted: self-signed certificate"),
                  std::string::npos)
            << r.Text;
        EXPECT_EQ(SettledCount(server), 0);
    }
}

TEST(MailSubmission, StartTlsIsNeverSkippedWhenTheServerLacksIt) {
    mailtest::SmtpSink plain;
    SKIP_UNLESS_READY(plain);
    MailSettings mail = Submission(plain.Port(), 1);
    TestMailResult r = SendTest(mail);
    EXPECT_FALSE(r.Sent);
    EXPECT_NE(r.Text.find("SMTPサーバーがSTARTTLSに対応していません。"), std::string::npos)
        << r.Text;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(plain.MessageCount(), 0);
    // Without security and authentication, only another port: EHLO, and the mail goes.
    mail.SmtpSecurity = 0;
    mail.SmtpAuth = 0;
    r = SendTest(mail);
    EXPECT_TRUE(r.Sent) << r.Text;
    ASSERT_FALSE(plain.WaitForMessage(1, 10000).empty());
    EXPECT_EQ(plain.Envelope(1)[0], "[127.0.0.1]");
}

TEST(MailSubmission, FailuresBeforeAnyServerSaySoPlainly) {
    MailSettings mail = Submission(qvtest::FreePort(), 0);
    mail.SmtpAuth = 0;
    TestMailResult r = SendTest(mail);
    EXPECT_FALSE(r.Sent);
    EXPECT_EQ(r.Text, "テスト送信に失敗しました。\nSMTPサーバーに接続できません。");
    mail.SmtpServer = "";
    EXPECT_EQ(SendTest(mail).Text,
              "テスト送信に失敗しました。\nSMTPサーバーが設定されていません。");
    mail.SmtpServer = "127.0.0.1\r\nRSET";
    EXPECT_EQ(SendTest(mail).Text, "テスト送信に失敗しました。\n設定に改行が含まれています。");
}

}  // namespace
