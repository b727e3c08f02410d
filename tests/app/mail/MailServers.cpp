#include "tests/app/mail/MailServers.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

namespace mailtest {

namespace {

const std::string kHere = QUORVEX_MAIL_TEST_DIR;

// Runs a command line; its standard output (standard error dropped) and exit code.
std::string Capture(const std::string& command, int* exitCode = nullptr) {
    std::string out;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    int status = ::pclose(pipe);
    if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

// Debian's python3 with aiosmtpd and Pillow (a python3 of one's own on PATH lacks them).
std::string DebianPython(std::string* whyNot) {
    for (const std::string& python :
         {std::string("/usr/bin/python3"), qvtest::FindProgram("python3")}) {
        int rc = -1;
        if (!python.empty() && (Capture(python + " -c 'import aiosmtpd, PIL'", &rc), rc == 0))
            return python;
    }
    if (whyNot) *whyNot = "python3-aiosmtpd and python3-pil are not installed";
    return "";
}

}  // namespace

TestCertificate::TestCertificate(const std::string& subjectAltName) {
    if (qvtest::FindProgram("openssl").empty()) {
        whyNot_ = "the openssl program is not installed";
        return;
    }
    int rc = -1;
    Capture("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout '" +
                KeyFile() + "' -out '" + CertFile() +
                "' -days 2 -subj '/CN=Quorvex test server' -addext 'subjectAltName=" +
                subjectAltName + "'",
            &rc);
    ready_ = rc == 0 && qvtest::FileExists(CertFile());
    if (!ready_) whyNot_ = "openssl req failed";
}

SmtpServer::SmtpServer() {
    Launch({"plain"});
}

SmtpServer::SmtpServer(const TestCertificate& certificate, Mode mode, const std::string& user,
                       const std::string& password, const std::string& mechanisms) {
    if (!certificate.Ready()) {
        whyNot_ = certificate.WhyNot();
        return;
    }
    Launch({mode == Mode::Implicit ? "implicit" : "starttls", certificate.CertFile(),
            certificate.KeyFile(), user, password, mechanisms});
}

void SmtpServer::Launch(const std::vector<std::string>& modeArgs) {
    std::string python = DebianPython(&whyNot_);
    if (python.empty()) return;
    port_ = qvtest::FreePort();
    std::vector<std::string> argv{python, kHere + "/mail_server.py", std::to_string(port_),
                                  dir_.Path()};
    argv.insert(argv.end(), modeArgs.begin(), modeArgs.end());
    auto server = std::make_unique<qvtest::ChildProcess>(argv, dir_.File("server.log"));
    if (!qvtest::WaitForPort(port_, 15000)) {
        whyNot_ = "aiosmtpd did not start: " + qvtest::ReadFile(dir_.File("server.log"));
        return;
    }
    server_ = std::move(server);
}

std::string SmtpServer::File(int n, const char* extension) const {
    char name[32];
    std::snprintf(name, sizeof name, "%03d.%s", n, extension);
    return dir_.File(name);
}

std::string SmtpServer::WaitForMessage(int n) const {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!qvtest::FileExists(File(n, "eml")) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return qvtest::FileExists(File(n, "eml")) ? File(n, "eml") : "";
}

int SmtpServer::SettledCount() const {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int count = 0;
    for (const auto& name : qvtest::ListDir(dir_.Path()))
        count += name.size() == 7 && name.compare(3, 4, ".eml") == 0;
    return count;
}

std::string SmtpServer::Session(int n) const {
    return qvtest::ReadFile(File(n, "sess"));
}

std::vector<std::string> SmtpServer::Envelope(int n) const {
    std::vector<std::string> lines;
    std::istringstream in(qvtest::ReadFile(File(n, "env")));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string ReadMailJson(const std::string& emlPath) {
    std::string python = DebianPython(nullptr);
    int rc = -1;
    std::string out = python.empty()
                          ? ""
                          : Capture(python + " " + kHere + "/read_mail.py '" + emlPath + "'", &rc);
    return rc == 0 ? out : "";
}

FakeNmcli::FakeNmcli(const std::vector<std::string>& entries, int upResult, int upDelaySec) {
    std::string list;
    for (const auto& e : entries) list += e + "\n";
    qvtest::WriteFile(dir_.File("entries"), list);
    qvtest::WriteFile(dir_.File("nmcli"),
                      "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + dir_.File("calls") +
                          "'\ncase \"$*\" in\n  '-t -f NAME connection show') sed -e "
                          "'s/:/\\\\:/g' '" +
                          dir_.File("entries") + "'; exit 0 ;;\n  *' connection up id '*) sleep " +
                          std::to_string(upDelaySec) + "; exit " + std::to_string(upResult) +
                          " ;;\n  *' connection down id '*) exit 0 ;;\nesac\nexit 2\n");
    ::chmod(dir_.File("nmcli").c_str(), 0755);
    const char* path = std::getenv("PATH");
    oldPath_ = path ? path : "";
    // An empty entry list also hides any real nmcli.
    ::setenv("PATH", (dir_.Path() + (entries.empty() ? std::string() : ":" + oldPath_)).c_str(), 1);
    if (entries.empty()) ::unlink(dir_.File("nmcli").c_str());
}

FakeNmcli::~FakeNmcli() {
    ::setenv("PATH", oldPath_.c_str(), 1);
}

std::string FakeNmcli::Calls() const {
    return qvtest::ReadFile(dir_.File("calls"));
}

}  // namespace mailtest
