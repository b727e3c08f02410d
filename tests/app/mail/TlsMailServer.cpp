#include "tests/app/mail/TlsMailServer.h"

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "tests/app/mail/MailServers.h"

namespace mailtest {

namespace {

const std::string kHere = QUORVEX_MAIL_TEST_DIR;

// Runs argv (no shell) with its output in logPath; its exit code, or -1.
int Run(const std::vector<std::string>& argv, const std::string& logPath) {
    qvtest::ChildProcess child(argv, logPath);
    if (!child.Running()) return -1;
    for (int i = 0; i < 600; ++i) {  // an EC key takes well under a second
        siginfo_t info{};
        // Only looked at: the child object reaps it and gives the status.
        if (::waitid(P_PID, static_cast<id_t>(child.Pid()), &info, WEXITED | WNOHANG | WNOWAIT) ==
                0 &&
            info.si_pid == child.Pid()) {
            int status = child.Stop();
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

}  // namespace

TestCertificate::TestCertificate(const std::string& subjectAltName) {
    std::string openssl = qvtest::FindProgram("openssl");
    if (openssl.empty()) {
        whyNot_ = "the openssl program (Debian's openssl) is not installed";
        return;
    }
    int rc =
        Run({openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
             "-nodes", "-keyout", KeyFile(), "-out", CertFile(), "-days", "2", "-subj",
             "/CN=Quorvex test server", "-addext", "subjectAltName=" + subjectAltName},
            dir_.File("openssl.log"));
    if (rc != 0 || !qvtest::FileExists(CertFile())) {
        whyNot_ = "openssl req failed: " + qvtest::ReadFile(dir_.File("openssl.log"));
        return;
    }
    ready_ = true;
}

TlsSmtpServer::TlsSmtpServer(const TestCertificate& certificate, Mode mode, const std::string& user,
                             const std::string& password, const std::string& mechanisms) {
    if (!certificate.Ready()) {
        whyNot_ = certificate.WhyNot();
        return;
    }
    std::string python = DebianPython(&whyNot_);
    if (python.empty()) return;
    port_ = qvtest::FreePort();
    ::setenv("PYTHONPATH", kHere.c_str(), 1);
    auto server = std::make_unique<qvtest::ChildProcess>(
        std::vector<std::string>{python, kHere + "/smtp_tls_server.py", std::to_string(port_),
                                 dir_.Path(), certificate.CertFile(), certificate.KeyFile(),
                                 mode == Mode::Implicit ? "implicit" : "starttls", user, password,
                                 mechanisms},
        dir_.File("server.log"));
    if (!qvtest::WaitForPort(port_, 15000)) {
        whyNot_ = "aiosmtpd with TLS did not start: " + qvtest::ReadFile(dir_.File("server.log"));
        return;
    }
    server_ = std::move(server);
}

std::string TlsSmtpServer::File(int n, const char* extension) const {
    char name[32];
    std::snprintf(name, sizeof name, "%03d.%s", n, extension);
    return dir_.File(name);
}

std::string TlsSmtpServer::WaitForMessage(int n, int timeoutMs) const {
    std::string path = File(n, "eml");
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (qvtest::FileExists(path)) return path;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "";
}

int TlsSmtpServer::MessageCount() const {
    int count = 0;
    for (const auto& name : qvtest::ListDir(dir_.Path()))
        if (name.size() == 7 && name.compare(3, 4, ".eml") == 0) ++count;
    return count;
}

std::string TlsSmtpServer::Session(int n) const {
    return qvtest::ReadFile(File(n, "sess"));
}

std::vector<std::string> TlsSmtpServer::Envelope(int n) const {
    std::vector<std::string> lines;
    std::istringstream in(qvtest::ReadFile(File(n, "env")));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace mailtest
