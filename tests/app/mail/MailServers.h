// Real mail servers from Debian's packages for the mail tests, on 127.0.0.1 at free ports:
// aiosmtpd (plain, STARTTLS or TLS from the connect, with SMTP authentication) saving each
// message to a folder, and a stand-in nmcli on PATH.
// A server fixture whose package is missing is not Ready() and says why.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace mailtest {

// A self-signed certificate made with the openssl program.
class TestCertificate {
  public:
    // subjectAltName as openssl writes it, e.g. "IP:127.0.0.1,DNS:localhost".
    explicit TestCertificate(const std::string& subjectAltName = "IP:127.0.0.1,DNS:localhost");
    bool Ready() const { return ready_; }
    const std::string& WhyNot() const { return whyNot_; }
    std::string CertFile() const { return dir_.File("cert.pem"); }
    std::string KeyFile() const { return dir_.File("key.pem"); }

  private:
    qvtest::TempDir dir_;
    bool ready_ = false;
    std::string whyNot_;
};

class SmtpServer {
  public:
    enum class Mode { Plain, StartTls, Implicit };
    SmtpServer();  // plain SMTP, no authentication
    // TLS with AUTH for one user; mechanisms offered e.g. "PLAIN,LOGIN" or "LOGIN".
    SmtpServer(const TestCertificate& certificate, Mode mode, const std::string& user,
               const std::string& password, const std::string& mechanisms = "PLAIN,LOGIN");
    bool Ready() const { return server_ != nullptr; }
    const std::string& WhyNot() const { return whyNot_; }
    int Port() const { return port_; }
    // Waits up to 10 s for message n (1-based); its path or "".
    std::string WaitForMessage(int n) const;
    // The messages saved once the server had a moment to finish one under way.
    int SettledCount() const;
    // "tls=1\nauth=PLAIN alice\n": how message n came in.
    std::string Session(int n) const;
    // HELO/EHLO name, envelope sender, recipients of message n.
    std::vector<std::string> Envelope(int n) const;

  private:
    void Launch(const std::vector<std::string>& modeArgs);
    std::string File(int n, const char* extension) const;
    qvtest::TempDir dir_;
    std::string whyNot_;
    int port_ = -1;
    std::unique_ptr<qvtest::ChildProcess> server_;
};

// What read_mail.py says about a received message (JSON text), or "" when it failed.
std::string ReadMailJson(const std::string& emlPath);

// A stand-in nmcli first on PATH: lists entries, records every call, and brings a connection
// up with exit code upResult after upDelaySec.
class FakeNmcli {
  public:
    explicit FakeNmcli(const std::vector<std::string>& entries, int upResult = 0,
                       int upDelaySec = 0);
    ~FakeNmcli();
    FakeNmcli(const FakeNmcli&) = delete;
    FakeNmcli& operator=(const FakeNmcli&) = delete;
    std::string Calls() const;  // every call's arguments, one a line

  private:
    qvtest::TempDir dir_;
    std::string oldPath_;
};

}  // namespace mailtest
