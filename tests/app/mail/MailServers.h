// Real mail servers from Debian's packages for the mail tests, on 127.0.0.1 at free ports:
// aiosmtpd (plain, STARTTLS or TLS from the connect, with SMTP authentication) saving each
// message to a folder, and a stand-in nmcli on PATH.
// A server fixture whose package is missing is not Ready() and says why.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/mail/MailJob.h"
#include "tests/support/PythonServer.h"

namespace mailtest {

// A self-signed certificate made with the openssl program.
class TestCertificate {
  public:
    // subjectAltName as openssl writes it, e.g. "IP:127.0.0.1,DNS:localhost".
    explicit TestCertificate(const std::string& subjectAltName = "IP:127.0.0.1,DNS:localhost");
    bool Ready() const { return ready_; }
    std::string WhyNot() const { return "openssl could not make a certificate"; }
    std::string CertFile() const { return dir_.File("cert.pem"); }
    std::string KeyFile() const { return dir_.File("key.pem"); }

  private:
    qvtest::TempDir dir_;
    bool ready_ = false;
};

class SmtpServer {
  public:
    enum class Mode { Plain, StartTls, Implicit };
    // Plain SMTP without authentication; with a certificate, TLS and AUTH PLAIN or LOGIN for
    // alice with the password s3cret.
    explicit SmtpServer(const TestCertificate* certificate = nullptr, Mode mode = Mode::Plain);
    bool Ready() const { return server_.Ready(); }
    std::string WhyNot() const { return server_.WhyNot(); }
    int Port() const { return server_.Port(); }
    // Waits up to 10 s for message n (1-based); its path or "".
    std::string WaitForMessage(int n) const;
    // No message saved once the server had a moment to finish one under way.
    bool NothingArrived() const;
    // "tls=1\nauth=PLAIN alice\nhelo=[127.0.0.1]\n": how message n came in.
    std::string Session(int n) const;

  private:
    std::string File(int n, const char* extension) const;
    qvtest::TempDir dir_;
    qvtest::PythonServer server_;
};

// A warning mail job from cam@example.org to me@example.org through 127.0.0.1 (POP3 as alice),
// with a frame to send and short waits, in a work folder of its own.
struct WarningJob {
    explicit WarningJob(int smtpPort);
    // Runs it: the one line it logged, "text|reason". The work folder must be left empty.
    std::string Run();
    qvtest::TempDir Work;
    MailJobRequest Request;
    std::vector<std::string> Logged;
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
