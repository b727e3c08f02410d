// The mail session against real servers from Debian's packages: Dovecot's POP3 server for the
// log-in and aiosmtpd for the mail, read back with Python's email package.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "app/mail/Base64.h"
#include "app/mail/MailSession.h"
#include "platform/text/Text.h"
#include "tests/app/mail/MailServers.h"

namespace {

QJsonObject ParseMail(const std::string& emlPath) {
    std::string json = mailtest::ReadMailJson(emlPath);
    return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

std::string Utf8(const QJsonValue& v) {
    return v.toString().toStdString();
}

std::string Sjis(const std::string& utf8) {
    return qv::text::Utf8ToCp932(utf8);
}

TEST(MailServers, PopLoginThenJapaneseMailReadBackByPython) {
    mailtest::PopServer pop("alice", "s3cret");
    if (!pop.Ready()) GTEST_SKIP() << pop.WhyNot();
    mailtest::SmtpSink smtp;
    if (!smtp.Ready()) GTEST_SKIP() << smtp.WhyNot();

    MailSession session;
    session.SetTimeout(10000);
    session.SetPopServer("127.0.0.1", "alice", "s3cret", pop.Port());
    ASSERT_EQ(session.PopBeforeSmtp(), 1) << pop.Log();
    EXPECT_NE(pop.Log().find("Login: user=<alice>"), std::string::npos) << pop.Log();

    // A 100-byte "picture" whose base64 text is 136 characters.
    qvtest::TempDir dir;
    std::string bytes;
    for (int i = 0; i < 100; ++i) bytes.push_back(static_cast<char>(i * 7));
    qvtest::WriteFile(dir.File("pic"), bytes);
    qvtest::WriteFile(dir.File("b64"), "");
    Base64EncodeFile(dir.File("pic"), dir.File("b64"));

    session.SetSmtpServer("127.0.0.1", "cam@example.org", "", smtp.Port());
    session.SetContent(Sjis("警告！！"),
                       Sjis("警告が発生しました。<BR>.<BR>画像を確認してください。"));
    session.SetAttachment(dir.File("b64"), "20031224055449.bmp");
    int socket = session.ConnectSmtp();
    ASSERT_NE(socket, kNoMailSocket) << session.LastError();
    EXPECT_EQ(session.SendMail(socket, "me@example.org", ""), 0);
    session.CloseSmtp(socket);

    std::string eml = smtp.WaitForMessage(1, 10000);
    ASSERT_FALSE(eml.empty());
    EXPECT_EQ(smtp.Envelope(1),
              (std::vector<std::string>{"127.0.0.1", "cam@example.org", "me@example.org"}));
    // The base64 lines as they arrived: two of 64 characters and one of 8.
    std::string raw = qvtest::ReadFile(eml);
    size_t at = raw.find("Content-Transfer-Encoding: base64\r\n\r\n");
    ASSERT_NE(at, std::string::npos);
    std::string lines = raw.substr(at + 37, 64 + 2 + 64 + 2 + 8 + 2 + 2);
    EXPECT_EQ(lines.substr(64, 2), "\r\n");
    EXPECT_EQ(lines.substr(130, 2), "\r\n");
    EXPECT_EQ(lines.substr(138), "==\r\n\r\n");

    QJsonObject mail = ParseMail(eml);
    ASSERT_FALSE(mail.isEmpty());
    // The header line keeps its blank before CR LF; the word itself decodes exactly.
    EXPECT_EQ(mail["subject"].toString().trimmed().toStdString(), "警告！！");
    EXPECT_EQ(Utf8(mail["from"]), "cam@example.org");
    EXPECT_EQ(Utf8(mail["mailer"]), "Quorvex");
    EXPECT_EQ(Utf8(mail["content_type"]), "multipart/mixed");
    EXPECT_TRUE(mail["defects"].toArray().isEmpty());
    QJsonArray texts = mail["texts"].toArray();
    ASSERT_EQ(texts.size(), 1);
    EXPECT_EQ(Utf8(texts[0].toObject()["charset"]), "iso-2022-jp");
    QString body = texts[0].toObject()["text"].toString();
    body.replace("\r\n", "\n");
    // The lone "." line arrived as "." again: the server undid the doubling.
    EXPECT_EQ(body.toStdString(), "警告が発生しました。\n.\n画像を確認してください。");
    QJsonArray parts = mail["attachments"].toArray();
    ASSERT_EQ(parts.size(), 1);
    QJsonObject part = parts[0].toObject();
    EXPECT_EQ(Utf8(part["content_type"]), "image/bmp");
    EXPECT_EQ(Utf8(part["filename"]), "20031224055449.bmp");
    EXPECT_EQ(part["size"].toInt(), 100);
}

TEST(MailServers, DovecotRefusesAWrongPassword) {
    mailtest::PopServer pop("alice", "s3cret");
    if (!pop.Ready()) GTEST_SKIP() << pop.WhyNot();
    MailSession session;
    session.SetTimeout(10000);
    session.SetPopServer("127.0.0.1", "alice", "wrong", pop.Port());
    EXPECT_EQ(session.PopBeforeSmtp(), 0);
    EXPECT_EQ(session.LastError(), -8);
    session.SetPopServer("127.0.0.1", "bob", "s3cret", pop.Port());
    EXPECT_EQ(session.PopBeforeSmtp(), 0);
    EXPECT_EQ(session.LastError(), -8);  // Dovecot takes any USER and refuses at PASS
}

}  // namespace
