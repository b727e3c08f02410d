#include "tests/app/mail/MailServers.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace mailtest {

namespace {

const std::string kHere = QUORVEX_MAIL_TEST_DIR;

// Runs a command line and gives its standard output (standard error dropped).
std::string Capture(const std::string& command, int* exitCode = nullptr) {
    std::string out;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    int status = ::pclose(pipe);
    if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::string FirstProgram(const std::vector<std::string>& candidates) {
    for (const auto& c : candidates) {
        if (c.find('/') != std::string::npos) {
            if (::access(c.c_str(), X_OK) == 0) return c;
        } else if (std::string p = qvtest::FindProgram(c); !p.empty()) {
            return p;
        }
    }
    return "";
}

}  // namespace

std::string DebianPython(std::string* whyNot) {
    // Debian's interpreter first: a python3 of one's own on PATH lacks Debian's modules.
    for (const std::string& python :
         {std::string("/usr/bin/python3"), qvtest::FindProgram("python3")}) {
        if (python.empty() || ::access(python.c_str(), X_OK) != 0) continue;
        int rc = -1;
        Capture(python + " -c 'import aiosmtpd, PIL, email'", &rc);
        if (rc == 0) return python;
    }
    if (whyNot)
        *whyNot = "python3 with aiosmtpd and Pillow (python3-aiosmtpd, python3-pil) not installed";
    return "";
}

SmtpSink::SmtpSink() {
    std::string python = DebianPython(&whyNot_);
    if (python.empty()) return;
    port_ = qvtest::FreePort();
    std::string listen = "127.0.0.1:" + std::to_string(port_);
    ::setenv("PYTHONPATH", kHere.c_str(), 1);
    auto server = std::make_unique<qvtest::ChildProcess>(
        std::vector<std::string>{python, "-m", "aiosmtpd", "-n", "-l", listen, "-c",
                                 "smtp_sink.SaveHandler", dir_.Path()},
        dir_.File("server.log"));
    if (!qvtest::WaitForPort(port_, 15000)) {
        whyNot_ = "aiosmtpd did not start: " + qvtest::ReadFile(dir_.File("server.log"));
        return;
    }
    server_ = std::move(server);
}

std::string SmtpSink::WaitForMessage(int n, int timeoutMs) const {
    char name[32];
    std::snprintf(name, sizeof name, "%03d.eml", n);
    std::string path = dir_.File(name);
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (qvtest::FileExists(path)) return path;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "";
}

std::vector<std::string> SmtpSink::Envelope(int n) const {
    char name[32];
    std::snprintf(name, sizeof name, "%03d.env", n);
    std::vector<std::string> lines;
    std::istringstream in(qvtest::ReadFile(dir_.File(name)));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

int SmtpSink::MessageCount() const {
    int count = 0;
    for (const auto& name : qvtest::ListDir(dir_.Path()))
        if (name.size() == 7 && name.compare(3, 4, ".eml") == 0) ++count;
    return count;
}

PopServer::PopServer(const std::string& user, const std::string& password) {
    std::string dovecot = FirstProgram({"dovecot", "/usr/sbin/dovecot"});
    if (dovecot.empty()) {
        whyNot_ = "dovecot (dovecot-pop3d) not installed";
        return;
    }
    // The mail processes run as an unprivileged user and must reach the home folder.
    ::chmod(dir_.Path().c_str(), 0755);
    ::mkdir(dir_.File("home").c_str(), 0777);
    ::chmod(dir_.File("home").c_str(), 0777);
    port_ = qvtest::FreePort();
    qvtest::WriteFile(dir_.File("passwd"), user + ":{PLAIN}" + password + "\n");
    bool root = ::geteuid() == 0;
    std::string uid = root ? "65534" : std::to_string(::getuid());
    std::string gid = root ? "65534" : std::to_string(::getgid());
    std::ostringstream conf;
    conf << "protocols = pop3\n"
         << "listen = 127.0.0.1\n"
         << "base_dir = " << dir_.File("run") << "\n"
         << "state_dir = " << dir_.File("state") << "\n"
         << "log_path = " << dir_.File("dovecot.log") << "\n"
         << "ssl = no\n"
         << "disable_plaintext_auth = no\n"
         << "auth_failure_delay = 0\n"
         << "mail_location = maildir:" << dir_.File("home") << "/%u\n"
         << "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u "
         << dir_.File("passwd") << "\n}\n"
         << "userdb {\n  driver = static\n  args = uid=" << uid << " gid=" << gid
         << " home=" << dir_.File("home") << "/%u\n}\n"
         << "service pop3-login {\n  inet_listener pop3 {\n    address = 127.0.0.1\n    port = "
         << port_ << "\n  }\n}\n"
         << "service imap-login {\n  inet_listener imap {\n    port = 0\n  }\n}\n"
         << "service anvil {\n  chroot =\n}\n";
    if (!root) {
        const char* me = std::getenv("USER");
        std::string name = me ? me : "nobody";
        conf << "default_internal_user = " << name << "\ndefault_login_user = " << name << "\n";
    }
    qvtest::WriteFile(dir_.File("dovecot.conf"), conf.str());
    auto server = std::make_unique<qvtest::ChildProcess>(
        std::vector<std::string>{dovecot, "-F", "-c", dir_.File("dovecot.conf")},
        dir_.File("server.out"));
    if (!qvtest::WaitForPort(port_, 15000)) {
        whyNot_ = "dovecot did not start: " + qvtest::ReadFile(dir_.File("server.out")) +
                  qvtest::ReadFile(dir_.File("dovecot.log"));
        return;
    }
    server_ = std::move(server);
}

std::string PopServer::Log() const {
    return qvtest::ReadFile(dir_.File("dovecot.log"));
}

std::string ReadMailJson(const std::string& emlPath) {
    std::string python = DebianPython();
    if (python.empty()) return "";
    int rc = -1;
    std::string out = Capture(python + " " + kHere + "/read_mail.py '" + emlPath + "'", &rc);
    return rc == 0 ? out : "";
}

}  // namespace mailtest
