// The mail job end to end: picture conversion, dial-up (stand-in nmcli), POP-before-SMTP at
// Dovecot, SMTP at aiosmtpd or a scripted server; the log text, the received mail as Python's
// email package reads it, and the work files afterwards.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <cstdint>
#include <vector>

#include "app/mail/MailJob.h"
#include "tests/app/mail/FakeNmcli.h"
#include "tests/app/mail/MailServers.h"
#include "tests/support/ScriptedServer.h"

namespace {

using Clock = std::chrono::steady_clock;

const char kDialFailed[] = "ダイアルアップに失敗しました";
const char kPopFailed[] = "POP-before-SMTPに失敗しました";
const char kSendFailed[] = "メール送信に失敗しました";

void Put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void Put16(std::string& s, uint16_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>(v >> 8));
}

// A 24-bit bottom-up BMP with a few coloured bands, as the capture thread leaves one.
void WriteFrameBmp(const std::string& path, int width, int height) {
    int stride = (width * 3 + 3) / 4 * 4;
    std::string bmp = "BM";
    Put32(bmp, 54 + stride * height);
    Put32(bmp, 0);
    Put32(bmp, 54);
    Put32(bmp, 40);
    Put32(bmp, static_cast<uint32_t>(width));
    Put32(bmp, static_cast<uint32_t>(height));
    Put16(bmp, 1);
    Put16(bmp, 24);
    for (int i = 0; i < 6; ++i) Put32(bmp, 0);
    for (int y = 0; y < height; ++y) {
        std::string row;
        for (int x = 0; x < width; ++x) {
            row.push_back(static_cast<char>(x * 255 / width));
            row.push_back(static_cast<char>(y * 255 / height));
            row.push_back(static_cast<char>((x / 40) % 2 ? 200 : 30));
        }
        row.resize(static_cast<size_t>(stride), '\0');
        bmp += row;
    }
    qvtest::WriteFile(path, bmp);
}

// A job against the given ports with short fixed waits; the picture is a fresh frame.
struct JobSetup {
    qvtest::TempDir work;
    MailJobRequest request;
    std::vector<std::string> logged;

    JobSetup(int smtpPort, int popPort = 110) {
        WriteFrameBmp(work.File("QVTmp200-7.___"), 320, 240);
        request.Warning = WarningSettings{};  // "警告！！", two body lines, SendPict 1
        request.Mail.SmtpServer = "127.0.0.1";
        request.Mail.MailAddress = "cam@example.org";
        request.Mail.SendMailAddress = "me@example.org";
        request.Mail.PopServer = "127.0.0.1";
        request.Mail.UserID = "alice";
        request.Mail.Password = "s3cret";
        request.PicturePath = work.File("QVTmp200-7.___");
        request.CaptureTime = 1072212889;
        request.WorkFolder = work.Path();
        request.Log = [this](const std::string& text) { logged.push_back(text); };
        request.SmtpPort = smtpPort;
        request.PopPort = popPort;
        request.TimeoutMs = 5000;
        request.SettleMs = 10;
        request.HangUpWaitMs = 10;
        request.DialTimeoutMs = 5000;
    }
    // The job leaves nothing behind in its work folder.
    bool WorkFolderEmpty() const { return qvtest::ListDir(work.Path()).empty(); }
};

QJsonObject ParseMail(const std::string& emlPath) {
    std::string json = mailtest::ReadMailJson(emlPath);
    return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

TEST(AttachmentFileName, FourteenDigitsOfTheLocalCaptureTime) {
    ::setenv("TZ", "Asia/Tokyo", 1);
    ::tzset();
    // 24 December 2003, 05:54:49 in Tokyo.
    EXPECT_EQ(AttachmentFileName(1072212889, 0), "20031224055449.png");
    EXPECT_EQ(AttachmentFileName(1072212889, 1), "20031224055449.jpg");
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(AttachmentFileName(1072212889, 0), "20031223205449.png");
}

TEST(MailJob, SendsTheWarningMailWithItsPicture) {
#ifndef QUORVEX_MAIL_WITH_IMAGING
    GTEST_SKIP() << "built without the imaging library: no attachment conversion";
#endif
    ::setenv("TZ", "Asia/Tokyo", 1);
    ::tzset();
    mailtest::PopServer pop("alice", "s3cret");
    if (!pop.Ready()) GTEST_SKIP() << pop.WhyNot();
    mailtest::SmtpSink smtp;
    if (!smtp.Ready()) GTEST_SKIP() << smtp.WhyNot();
    JobSetup job(smtp.Port(), pop.Port());
    job.request.Mail.PopSmtp = 1;
    MailJobResult result = RunMailJob(job.request);
    EXPECT_TRUE(result.Sent);
    EXPECT_EQ(job.logged, std::vector<std::string>{"me@example.orgにメール送信"});
    EXPECT_TRUE(job.WorkFolderEmpty()) << qvtest::ListDir(job.work.Path()).size();
    EXPECT_NE(pop.Log().find("Login: user=<alice>"), std::string::npos);

    std::string eml = smtp.WaitForMessage(1, 10000);
    ASSERT_FALSE(eml.empty());
    QJsonObject mail = ParseMail(eml);
    ASSERT_FALSE(mail.isEmpty());
    EXPECT_EQ(mail["subject"].toString().trimmed().toStdString(), "警告！！");
    QJsonArray texts = mail["texts"].toArray();
    ASSERT_EQ(texts.size(), 1);
    QString body = texts[0].toObject()["text"].toString();
    body.replace("\r\n", "\n");
    EXPECT_EQ(body.toStdString(), "警告が発生しました。\n画像を確認してください。");
    QJsonArray parts = mail["attachments"].toArray();
    ASSERT_EQ(parts.size(), 1);
    QJsonObject part = parts[0].toObject();
    EXPECT_EQ(part["filename"].toString().toStdString(), "20031224055449.png");
    EXPECT_EQ(part["content_type"].toString().toStdString(), "image/png");
    EXPECT_TRUE(part["decoded"].toBool()) << part["error"].toString().toStdString();
    EXPECT_EQ(part["format"].toString().toStdString(), "PNG");
    EXPECT_EQ(part["width"].toInt(), 120);
    EXPECT_EQ(part["height"].toInt(), 100);
}

TEST(MailJob, JpegAttachment) {
#ifndef QUORVEX_MAIL_WITH_JPEG
    GTEST_SKIP() << "built without the core library: no JPEG attachments";
#endif
    mailtest::SmtpSink smtp;
    if (!smtp.Ready()) GTEST_SKIP() << smtp.WhyNot();
    JobSetup job(smtp.Port());
    job.request.Pict.Type = 1;
    job.request.Pict.PictQuality = 15;
    job.request.Pict.Width = 160;
    job.request.Pict.Height = 120;
    EXPECT_TRUE(RunMailJob(job.request).Sent);
    EXPECT_TRUE(job.WorkFolderEmpty());
    std::string eml = smtp.WaitForMessage(1, 10000);
    ASSERT_FALSE(eml.empty());
    QJsonArray parts = ParseMail(eml)["attachments"].toArray();
    ASSERT_EQ(parts.size(), 1);
    QJsonObject part = parts[0].toObject();
    EXPECT_EQ(part["content_type"].toString().toStdString(), "image/jpeg");
    EXPECT_TRUE(part["filename"].toString().endsWith(".jpg"));
    EXPECT_TRUE(part["decoded"].toBool()) << part["error"].toString().toStdString();
    EXPECT_EQ(part["format"].toString().toStdString(), "JPEG");
    EXPECT_EQ(part["width"].toInt(), 160);
    EXPECT_EQ(part["height"].toInt(), 120);
}

TEST(MailJob, WithoutPictureNoPicturePartAndTheFilesStillGo) {
    mailtest::SmtpSink smtp;
    if (!smtp.Ready()) GTEST_SKIP() << smtp.WhyNot();
    JobSetup job(smtp.Port());
    job.request.Warning.SendPict = 0;
    job.request.Warning.MailTitle = "Alarm";
    job.request.Warning.MailText = "";
    bool converted = false;
    job.request.ConvertPicture = [&](auto&&...) { converted = true; };
    // Leftovers of an earlier job under the fixed names go too.
    qvtest::WriteFile(job.work.File("QVTmp203.___"), "old");
    MailJobResult result = RunMailJob(job.request);
    EXPECT_TRUE(result.Sent);
    EXPECT_FALSE(converted);
    EXPECT_TRUE(job.WorkFolderEmpty());
    std::string eml = smtp.WaitForMessage(1, 10000);
    ASSERT_FALSE(eml.empty());
    std::string raw = qvtest::ReadFile(eml);
    EXPECT_NE(raw.find("Subject: =?ISO-2022-JP?B?QWxhcm0=?= \r\n"), std::string::npos);
    QJsonObject mail = ParseMail(eml);
    EXPECT_TRUE(mail["attachments"].toArray().isEmpty());
}

TEST(MailJob, AFailedConversionStillSendsWithAnEmptyPicturePart) {
    mailtest::SmtpSink smtp;
    if (!smtp.Ready()) GTEST_SKIP() << smtp.WhyNot();
    JobSetup job(smtp.Port());
    job.request.ConvertPicture = [](auto&&...) {};  // writes nothing
    MailJobResult result = RunMailJob(job.request);
    EXPECT_TRUE(result.Sent);
    EXPECT_TRUE(job.WorkFolderEmpty());
    std::string eml = smtp.WaitForMessage(1, 10000);
    ASSERT_FALSE(eml.empty());
    QJsonArray parts = ParseMail(eml)["attachments"].toArray();
    ASSERT_EQ(parts.size(), 1);
    EXPECT_EQ(parts[0].toObject()["size"].toInt(), 0);
}

TEST(MailJob, DialUpFailureSkipsPopAndSmtp) {
    qvtest::ScriptedServer pop, smtp;
    pop.StepTimeout(300);
    smtp.StepTimeout(300);
    ASSERT_TRUE(pop.Start());
    ASSERT_TRUE(smtp.Start());
    mailtest::FakeNmcli nmcli({"isp"}, 4);
    JobSetup job(smtp.Port(), pop.Port());
    job.request.Basic.ConnMode = 1;
    job.request.Basic.DialName = "isp";
    job.request.Mail.PopSmtp = 1;
    job.request.ConvertPicture = [](auto&&...) {};
    MailJobResult result = RunMailJob(job.request);
    EXPECT_FALSE(result.Sent);
    EXPECT_EQ(job.logged, std::vector<std::string>{kDialFailed});
    pop.Transcript();
    smtp.Transcript();
    EXPECT_FALSE(pop.Connected());
    EXPECT_FALSE(smtp.Connected());
    // What the failed dial may have left is taken down.
    EXPECT_EQ(nmcli.Calls(),
              "-t -f NAME connection show\n-w 5 connection up id isp\n"
              "-w 10 connection down id isp\n");
    EXPECT_TRUE(job.WorkFolderEmpty());
}

TEST(MailJob, DialUpAroundTheMail) {
    mailtest::SmtpSink smtp;
    if (!smtp.Ready()) GTEST_SKIP() << smtp.WhyNot();
    mailtest::FakeNmcli nmcli({"isp"});
    JobSetup job(smtp.Port());
    job.request.Basic.ConnMode = 1;
    job.request.Basic.DialName = "isp";
    job.request.ConvertPicture = [](auto&&...) {};
    EXPECT_TRUE(RunMailJob(job.request).Sent);
    EXPECT_EQ(nmcli.Calls(),
              "-t -f NAME connection show\n-w 5 connection up id isp\n"
              "-w 10 connection down id isp\n");
    EXPECT_FALSE(smtp.WaitForMessage(1, 10000).empty());
}

TEST(MailJob, PopLoginFailureSkipsSmtp) {
    qvtest::ScriptedServer smtp;
    smtp.StepTimeout(300);
    ASSERT_TRUE(smtp.Start());
    {
        // Refused by Dovecot.
        mailtest::PopServer pop("alice", "other");
        if (!pop.Ready()) GTEST_SKIP() << pop.WhyNot();
        JobSetup job(smtp.Port(), pop.Port());
        job.request.Mail.PopSmtp = 1;
        job.request.ConvertPicture = [](auto&&...) {};
        EXPECT_FALSE(RunMailJob(job.request).Sent);
        EXPECT_EQ(job.logged, std::vector<std::string>{kPopFailed});
        EXPECT_TRUE(job.WorkFolderEmpty());
    }
    {
        // No user name: no connection at all.
        JobSetup job(smtp.Port(), qvtest::FreePort());
        job.request.Mail.PopSmtp = 1;
        job.request.Mail.UserID = "";
        job.request.ConvertPicture = [](auto&&...) {};
        EXPECT_FALSE(RunMailJob(job.request).Sent);
        EXPECT_EQ(job.logged, std::vector<std::string>{kPopFailed});
    }
    smtp.Transcript();
    EXPECT_FALSE(smtp.Connected());
}

TEST(MailJob, UnreachableOrSilentSmtpServer) {
    {
        JobSetup job(qvtest::FreePort());
        job.request.ConvertPicture = [](auto&&...) {};
        EXPECT_FALSE(RunMailJob(job.request).Sent);
        EXPECT_EQ(job.logged, std::vector<std::string>{kSendFailed});
        EXPECT_TRUE(job.WorkFolderEmpty());
    }
    {
        qvtest::ScriptedServer smtp;
        smtp.StepTimeout(5000);
        ASSERT_TRUE(smtp.Start());
        JobSetup job(smtp.Port());
        job.request.TimeoutMs = 500;
        job.request.ConvertPicture = [](auto&&...) {};
        auto start = Clock::now();
        EXPECT_FALSE(RunMailJob(job.request).Sent);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
        EXPECT_EQ(job.logged, std::vector<std::string>{kSendFailed});
        EXPECT_TRUE(job.WorkFolderEmpty());
        EXPECT_EQ(smtp.Transcript(), "");
    }
}

TEST(MailJob, EmptyAddressFailsAfterTheGreeting) {
    qvtest::ScriptedServer smtp;
    smtp.Send("220 hi\r\n").StepTimeout(2000);
    ASSERT_TRUE(smtp.Start());
    JobSetup job(smtp.Port());
    job.request.Mail.SendMailAddress = "";
    job.request.ConvertPicture = [](auto&&...) {};
    EXPECT_FALSE(RunMailJob(job.request).Sent);
    EXPECT_EQ(job.logged, std::vector<std::string>{kSendFailed});
    EXPECT_EQ(smtp.Transcript(), "");
    EXPECT_TRUE(smtp.Connected());
}

TEST(MailJob, LineBreaksInAddressesSubjectOrServerNeverReachTheWire) {
    for (int which = 0; which < 5; ++which) {
        SCOPED_TRACE(which);
        qvtest::ScriptedServer smtp, pop;
        smtp.Send("220 hi\r\n").StepTimeout(300);
        pop.Send("+OK\r\n").StepTimeout(300);
        ASSERT_TRUE(smtp.Start());
        ASSERT_TRUE(pop.Start());
        JobSetup job(smtp.Port(), pop.Port());
        job.request.Mail.PopSmtp = 1;
        job.request.ConvertPicture = [](auto&&...) {};
        switch (which) {
            case 0:
                job.request.Mail.MailAddress += "\r\nRCPT TO:<x@evil>";
                break;
            case 1:
                job.request.Mail.SendMailAddress += "\n";
                break;
            case 2:
                job.request.Warning.MailTitle += "\r\nBcc: x@evil";
                break;
            case 3:
                job.request.Mail.SmtpServer += "\r\n";
                break;
            case 4:
                job.request.Mail.PopServer += "\nUSER x";
                break;
        }
        EXPECT_FALSE(RunMailJob(job.request).Sent);
        EXPECT_EQ(job.logged, std::vector<std::string>{kSendFailed});
        EXPECT_EQ(smtp.Transcript(), "");
        EXPECT_EQ(pop.Transcript(), "");
        EXPECT_FALSE(smtp.Connected());
        EXPECT_FALSE(pop.Connected());
        EXPECT_TRUE(job.WorkFolderEmpty());
    }
}

TEST(MailJob, StopRequestCutsTheJobShort) {
    qvtest::ScriptedServer pop;
    pop.StepTimeout(5000);
    ASSERT_TRUE(pop.Start());
    JobSetup job(qvtest::FreePort(), pop.Port());
    job.request.Mail.PopSmtp = 1;
    job.request.TimeoutMs = 30000;
    job.request.SettleMs = 2000;
    job.request.ConvertPicture = [](auto&&...) {};
    auto start = Clock::now();
    job.request.StopRequested = [start] {
        return Clock::now() - start > std::chrono::milliseconds(300);
    };
    EXPECT_FALSE(RunMailJob(job.request).Sent);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(job.logged, std::vector<std::string>{kPopFailed});
    EXPECT_TRUE(job.WorkFolderEmpty());
    pop.Transcript();
}

}  // namespace
