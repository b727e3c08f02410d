#include "tests/app/mail/MailServers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace mailtest {

namespace {

const std::string kHere = QUORVEX_MAIL_TEST_DIR;

std::vector<std::string> ServerArgs(const std::string& folder, const TestCertificate* certificate,
                                    SmtpServer::Mode mode) {
    if (!certificate) return {folder, "plain"};
    return {folder, mode == SmtpServer::Mode::Implicit ? "implicit" : "starttls",
            certificate->CertFile(), certificate->KeyFile()};
}

}  // namespace

TestCertificate::TestCertificate(const std::string& subjectAltName) {
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout '" +
        KeyFile() + "' -out '" + CertFile() +
        "' -days 2 -subj '/CN=Quorvex test server' -addext 'subjectAltName=" + subjectAltName +
        "' >/dev/null 2>&1";
    ready_ = std::system(command.c_str()) == 0 && qvtest::FileExists(CertFile());
}

SmtpServer::SmtpServer(const TestCertificate* certificate, Mode mode)
    : server_(kHere + "/mail_server.py", ServerArgs(dir_.Path(), certificate, mode),
              "aiosmtpd, PIL") {}

std::string SmtpServer::File(int n, const char* extension) const {
    char name[32];
    std::snprintf(name, sizeof name, "%03d.%s", n, extension);
    return dir_.File(name);
}

std::string SmtpServer::WaitForMessage(int n) const {
    const std::string eml = File(n, "eml");
    return qvtest::WaitFor([&] { return qvtest::FileExists(eml); }, 10000) ? eml : "";
}

bool SmtpServer::NothingArrived() const {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return !qvtest::FileExists(File(1, "eml"));
}

std::string SmtpServer::Session(int n) const {
    return qvtest::ReadFile(File(n, "sess"));
}

WarningJob::WarningJob(int smtpPort) {
    qvtest::WriteFile(Work.File("QVTmp200-7.___"), qvtest::BmpBytes(320, 240));
    MailSettings& mail = Request.Mail;
    mail.SmtpServer = mail.PopServer = "127.0.0.1";
    mail.MailAddress = "cam@example.org";
    mail.SendMailAddress = "me@example.org";
    mail.UserID = "alice", mail.Password = "s3cret";
    Request.PicturePath = Work.File("QVTmp200-7.___");
    Request.CaptureTime = 1072212889;  // 24 December 2003, 05:54:49 in Tokyo
    Request.WorkFolder = Work.Path();
    Request.Log = [this](const std::string& text, const std::string& reason) {
        Logged.push_back(text + "|" + reason);
    };
    Request.SmtpPort = smtpPort;
    Request.TimeoutMs = 10000;
    Request.SettleMs = Request.HangUpWaitMs = 10;
}

std::string WarningJob::Run() {
    const MailJobResult result = RunMailJob(Request);
    EXPECT_TRUE(qvtest::ListDir(Work.Path()).empty()) << "work files left";
    EXPECT_EQ(result.Sent, result.Reason.empty());
    EXPECT_EQ(Logged, std::vector<std::string>{result.LogText + "|" + result.Reason});
    return Logged.empty() ? "" : Logged[0];
}

std::string ReadMailJson(const std::string& emlPath) {
    const std::string python = qvtest::DebianPython("PIL");
    if (python.empty()) return "";
    const std::string command =
        python + " " + kHere + "/read_mail.py '" + emlPath + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return "";
    std::string out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    return ::pclose(pipe) == 0 ? out : "";
}

FakeNmcli::FakeNmcli(const std::vector<std::string>& entries, int upResult, int upDelaySec) {
    std::string list;
    for (const auto& e : entries) list += e + "\n";
    qvtest::WriteFile(dir_.File("entries"), list);
    qvtest::WriteFile(dir_.File("up"), std::to_string(upDelaySec) + " " + std::to_string(upResult));
    const char* path = std::getenv("PATH");
    oldPath_ = path ? path : "";
    ::symlink((kHere + "/fake_nmcli.sh").c_str(), dir_.File("nmcli").c_str());
    ::setenv("PATH", (dir_.Path() + ":" + oldPath_).c_str(), 1);
}

FakeNmcli::~FakeNmcli() {
    ::setenv("PATH", oldPath_.c_str(), 1);
}

std::string FakeNmcli::Calls() const {
    return qvtest::ReadFile(dir_.File("calls"));
}

}  // namespace mailtest
