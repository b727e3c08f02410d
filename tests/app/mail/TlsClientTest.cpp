// The TLS stand-in on its own, against aiosmtpd speaking TLS from the connect on: reading and
// writing over a verified connection, the end of the connection, and what it refuses.
#include <gtest/gtest.h>

#include <string>

#include "app/mail/MailSocket.h"
#include "platform/tls/Tls.h"
#include "tests/app/mail/TlsMailServer.h"

namespace {

using mailtest::TestCertificate;
using mailtest::TlsSmtpServer;

// Reads until text holds a line that ends a reply ("ddd " ... CR LF).
bool ReadReply(qv::tls::TlsClient& tls, std::string& text, const qv::tls::Limits& limits) {
    text.clear();
    for (int i = 0; i < 50; ++i) {
        if (tls.Read(text, 1024, limits) != qv::tls::ReadResult::Data) return false;
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            if (end - start >= 4 && text[start + 3] == ' ') return true;
    }
    return false;
}

TEST(TlsClient, TalksOverAVerifiedConnectionUntilTheServerEndsIt) {
    TestCertificate cert;
    if (!cert.Ready()) GTEST_SKIP() << cert.WhyNot();
    TlsSmtpServer server(cert, TlsSmtpServer::Mode::Implicit, "alice", "s3cret");
    if (!server.Ready()) GTEST_SKIP() << server.WhyNot();
    qv::tls::Limits limits{5000, nullptr};
    int fd = -1;
    ASSERT_EQ(mailnet::Connect("127.0.0.1", server.Port(), {5000, nullptr}, fd),
              mailnet::ConnectResult::Connected);
    qv::tls::TlsClient tls;
    tls.SetExtraCaFile(cert.CertFile());
    ASSERT_TRUE(tls.Connect(fd, "127.0.0.1", limits)) << tls.Error();
    std::string reply;
    ASSERT_TRUE(ReadReply(tls, reply, limits));
    EXPECT_EQ(reply.substr(0, 4), "220 ");
    ASSERT_TRUE(tls.WriteAll("EHLO [127.0.0.1]\r\n", limits));
    ASSERT_TRUE(ReadReply(tls, reply, limits));
    EXPECT_NE(reply.find("250-AUTH LOGIN PLAIN\r\n"), std::string::npos) << reply;
    ASSERT_TRUE(tls.WriteAll("QUIT\r\n", limits));
    ASSERT_TRUE(ReadReply(tls, reply, limits));
    EXPECT_EQ(reply.substr(0, 4), "221 ");
    std::string more;
    EXPECT_EQ(tls.Read(more, 1024, limits), qv::tls::ReadResult::Closed);
    tls.Shutdown();
    EXPECT_FALSE(tls.Connected());
    mailnet::CloseSocket(fd);
}

TEST(TlsClient, RefusesWhatItCannotCheck) {
    TestCertificate cert;
    if (!cert.Ready()) GTEST_SKIP() << cert.WhyNot();
    TlsSmtpServer server(cert, TlsSmtpServer::Mode::Implicit, "alice", "s3cret");
    if (!server.Ready()) GTEST_SKIP() << server.WhyNot();
    qv::tls::Limits limits{5000, nullptr};
    struct Case {
        const char* name;
        std::string caFile;
        std::string host;
        std::string error;
    } cases[] = {
        {"missing CA file", "/nonexistent/ca.pem", "127.0.0.1", "CA file /nonexistent/ca.pem"},
        {"no host name", cert.CertFile(), "", "no host name"},
        {"another name", cert.CertFile(), "mail.example",
         "server certificate not trusted: hostname mismatch"},
    };
    for (const Case& c : cases) {
        int fd = -1;
        ASSERT_EQ(mailnet::Connect("127.0.0.1", server.Port(), {5000, nullptr}, fd),
                  mailnet::ConnectResult::Connected);
        qv::tls::TlsClient tls;
        tls.SetExtraCaFile(c.caFile);
        EXPECT_FALSE(tls.Connect(fd, c.host, limits)) << c.name;
        EXPECT_NE(tls.Error().find(c.error), std::string::npos) << c.name << ": " << tls.Error();
        EXPECT_FALSE(tls.WriteAll("QUIT\r\n", limits)) << c.name;
        std::string out;
        EXPECT_EQ(tls.Read(out, 10, limits), qv::tls::ReadResult::Failed) << c.name;
        mailnet::CloseSocket(fd);
    }
}

}  // namespace
