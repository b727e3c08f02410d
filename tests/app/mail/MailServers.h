// Real mail servers from Debian's packages for the mail tests, on 127.0.0.1 at free ports:
// aiosmtpd saving each message to a folder, and Dovecot's POP3 server with one password-file
// user. Each fixture skips (Ready() false with a reason) when its package is missing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace mailtest {

// Debian's python3 (the one with aiosmtpd and Pillow), or "" with a reason.
std::string DebianPython(std::string* whyNot = nullptr);

class SmtpSink {
  public:
    SmtpSink();
    bool Ready() const { return server_ != nullptr; }
    const std::string& WhyNot() const { return whyNot_; }
    int Port() const { return port_; }
    // Waits up to timeoutMs for message number n (1-based); its path or "".
    std::string WaitForMessage(int n, int timeoutMs) const;
    // HELO name, envelope sender and recipients of message n.
    std::vector<std::string> Envelope(int n) const;
    int MessageCount() const;

  private:
    qvtest::TempDir dir_;
    std::string whyNot_;
    int port_ = -1;
    std::unique_ptr<qvtest::ChildProcess> server_;
};

class PopServer {
  public:
    // One user with this name and password.
    PopServer(const std::string& user, const std::string& password);
    bool Ready() const { return server_ != nullptr; }
    const std::string& WhyNot() const { return whyNot_; }
    int Port() const { return port_; }
    // Lines of Dovecot's log (log-ins are listed there).
    std::string Log() const;

  private:
    qvtest::TempDir dir_;
    std::string whyNot_;
    int port_ = -1;
    std::unique_ptr<qvtest::ChildProcess> server_;
};

// What read_mail.py says about a received message (JSON text), or "" when it failed.
std::string ReadMailJson(const std::string& emlPath);

}  // namespace mailtest
