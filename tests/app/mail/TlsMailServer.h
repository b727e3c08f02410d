// A TLS mail server for the submission tests: aiosmtpd (Debian's python3-aiosmtpd) with
// STARTTLS or TLS from the connect, SMTP authentication for one user, and a certificate made
// here with the openssl program. Ready() is false, with a reason, when a part is missing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace mailtest {

// A self-signed certificate and its key in a folder of its own.
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

class TlsSmtpServer {
  public:
    enum class Mode { StartTls, Implicit };
    // mechanisms: the AUTH mechanisms offered, e.g. "PLAIN,LOGIN" or "LOGIN".
    TlsSmtpServer(const TestCertificate& certificate, Mode mode, const std::string& user,
                  const std::string& password, const std::string& mechanisms = "PLAIN,LOGIN");
    bool Ready() const { return server_ != nullptr; }
    const std::string& WhyNot() const { return whyNot_; }
    int Port() const { return port_; }
    // Waits up to timeoutMs for message n (1-based); its path or "".
    std::string WaitForMessage(int n, int timeoutMs) const;
    int MessageCount() const;
    // "tls=1\nauth=PLAIN alice\n": how message n came in.
    std::string Session(int n) const;
    // EHLO name, envelope sender, recipients of message n.
    std::vector<std::string> Envelope(int n) const;

  private:
    std::string File(int n, const char* extension) const;
    qvtest::TempDir dir_;
    std::string whyNot_;
    int port_ = -1;
    std::unique_ptr<qvtest::ChildProcess> server_;
};

}  // namespace mailtest
