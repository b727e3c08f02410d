#include "app/settings/ConfigCommand.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <string>

#include "app/mail/Base64.h"
#include "app/settings/ProgramFolder.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestSupport.h"

namespace {

using Args = std::vector<std::string>;

struct Outcome {
    int Code;
    std::string Out, Err;
};

class ConfigCommandTest : public ::testing::Test {
  protected:
    qvtest::TempDir dir_;
    std::string file_ = dir_.File("Quorvex.ini");
    Outcome Run(const Args& args) {
        std::ostringstream out, err;
        int code = RunConfigCommand(args, dir_.Path() + "/", out, err);
        return {code, out.str(), err.str()};
    }
};

}  // namespace

TEST_F(ConfigCommandTest, GetShowsWhatTheProgramUsesAndWritesNothing) {
    const std::pair<Args, std::string> cases[] = {
        {{"get", "warningsettings1", "securitywavename"}, "wellcome.wav\n"},
        {{"get", "BasicSettings", "ConnMode"}, "0\n"},
        {{"get", "Window", "MainLeft"}, "\n"},  // no position: centred
        {{"get", "BasicSettings", "PreviewRate"}, "0\n"},
        {{"get", "BasicSettings", "DeviceName"}, " cam \n"},
        {{"get", "Window", "SelectMode"}, "0\n"},
        {{"get", "MailSettings", "Password"}, "abc\n"},  // get tells a password
        {{"get", "WarningSettings0", "TimerInterval"}, "240\n"}};
    qvtest::WriteFile(file_,
                      "[BasicSettings]\r\nPreviewRate=abc\r\nDeviceName= cam ; c\r\n"
                      "[Window]\r\nSelectMode=9\r\n[MailSettings]\r\nPassword=YWJj\r\n"
                      "[WarningSettings0]\r\nTimerInterval=240\r\n");
    const std::string before = qvtest::ReadFile(file_);
    for (const auto& [args, out] : cases) EXPECT_EQ(Run(args).Out, out) << args[2];
    const Outcome list = Run({"list"});
    EXPECT_NE(list.Out.find("[WarningSettings2]\nMotionEnable=1\nMotionSensitivity=2000\n"),
              std::string::npos);
    EXPECT_NE(list.Out.find("\nPassword=********\n"), std::string::npos) << list.Out;
    EXPECT_NE(list.Out.find("\nSmtpPassword=\n"), std::string::npos);
    EXPECT_EQ(list.Out.find("abc"), std::string::npos);
    EXPECT_EQ(qvtest::ReadFile(file_), before);
}

TEST_F(ConfigCommandTest, SetStoresCanonicalNamesWithinTheDialogsLimits) {
    const Args accepted[] = {{"set", "warningsettings1", "motionsensitivity", "1234"},
                             {"set", "MailSettings", "Password", "パス word"},
                             {"set", "BasicSettings", "PictureQuality", "007"},
                             {"set", "PictSettings", "Width", "640"},
                             {"set", "BasicSettings", "DeviceName", std::string(127, 'x') + "あ"},
                             {"set", "MailSettings", "SmtpPassword", std::string(191, 'p')},
                             {"set", "Window", "MainLeft", "-200"},
                             {"set", "PictSettings", "Type", "1"},
                             {"set", "PictSettings", "PictQuality", "20"}};  // JPEG offers 0..20
    for (const Args& a : accepted) EXPECT_EQ(Run(a).Code, 0) << a[2] << " " << a[3];
    const std::string content = qvtest::ReadFile(file_);
    EXPECT_EQ(content.rfind("[WarningSettings1]\r\nMotionSensitivity=1234\r\n[MailSettings]\r\n"
                            "Password=" +
                                Base64EncodeText("\x83p\x83X word") + "\r\n",
                            0),
              0u);
    EXPECT_NE(content.find("PictureQuality=7\r\n"), std::string::npos);
    EXPECT_EQ(Run({"get", "MailSettings", "Password"}).Out, "パス word\n");
    struct stat st;
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ConfigCommandTest, RefusalsWriteNothingAndExitWithTwo) {
    const Args refused[] = {{"get", "Basic", "PreviewRate"},
                            {"get", "BasicSettings", "Preview"},
                            {"set", "WarningSettings3", "SecCount", "3"},
                            {"set", "BasicSettings", "PreviewRate", "7"},
                            {"set", "BasicSettings", "PreviewRate", "-1"},
                            {"set", "BasicSettings", "PreviewRate", "3x"},
                            {"set", "BasicSettings", "PreviewRate", ""},
                            {"set", "BasicSettings", "PreviewRate", "99999999999"},
                            {"set", "WarningSettings0", "MotionSensitivity", "10000"},
                            {"set", "WarningSettings0", "SecTimer", "9"},
                            {"set", "PictSettings", "Width", "121"},
                            {"set", "PictSettings", "Width", "644"},
                            {"set", "PictSettings", "Height", "481"},
                            {"set", "PictSettings", "PictQuality", "10"},  // PNG offers 0..9
                            {"set", "PictSettings", "ColorNum", "0"},
                            {"set", "Window", "SelectMode", "3"},
                            {"set", "BasicSettings", "DeviceName", "a;b"},
                            {"set", "BasicSettings", "DeviceName", "line\nbreak"},
                            {"set", "BasicSettings", "DeviceName", "😀"},
                            {"set", "BasicSettings", "DeviceName", std::string(254, 'x') + "あ"},
                            {"set", "MailSettings", "Password", std::string(192, 'p')},
                            {"set", "BasicSettings", "PreviewRate"},
                            {"get", "BasicSettings"},
                            {"frobnicate"},
                            {}};
    for (const Args& args : refused) {
        const Outcome o = Run(args);
        EXPECT_EQ(o.Code, 2) << (args.size() > 2 ? args[2] : "");
        EXPECT_FALSE(o.Err.empty());
        EXPECT_EQ(o.Out, "");
    }
    EXPECT_NE(Run(refused[20]).Err.find("at most 191 bytes"), std::string::npos);
    EXPECT_FALSE(qvtest::FileExists(file_));
}

TEST_F(ConfigCommandTest, UnwritableFilesAreNotReplaced) {
    qvtest::WriteFile(file_, "[BasicSettings]\r\nPreviewRate=2\r\n");
    ASSERT_EQ(::chmod(file_.c_str(), 0400), 0);  // the user made it read-only
    Outcome o = Run({"set", "BasicSettings", "PreviewRate", "1"});
    EXPECT_EQ(o.Code, 1);
    EXPECT_NE(o.Err.find("not changed"), std::string::npos);
    EXPECT_EQ(qvtest::ReadFile(file_), "[BasicSettings]\r\nPreviewRate=2\r\n");
    struct stat st;
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0400u);
    qvtest::WriteFile(dir_.File("plain"), "x");  // a program folder that cannot be made
    std::ostringstream out, err;
    EXPECT_EQ(RunConfigCommand({"set", "BasicSettings", "PreviewRate", "1"},
                               dir_.File("plain") + "/", out, err),
              1);
}

TEST(ProgramFolder, Precedence) {
    qvtest::TempDir dir;
    ::setenv("QUORVEX_HOME", "/from/env", 1);
    EXPECT_EQ(ResolveProgramFolder("/opt/q"), "/opt/q/");
    EXPECT_EQ(ResolveProgramFolder(""), "/from/env/");
    ::unsetenv("QUORVEX_HOME");
    EXPECT_EQ(ResolveProgramFolder("", dir.Path() + "/quorvex"), dir.Path() + "/");  // portable
    ::setenv("XDG_DATA_HOME", "relative", 1);                                        // ignored
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(ResolveProgramFolder("", "/nonexistent/bin/quorvex"),
              "/home/someone/.local/share/Quorvex/");
    ::setenv("XDG_DATA_HOME", "/xdg", 1);
    EXPECT_EQ(ResolveProgramFolder("", "/nonexistent/bin/quorvex"), "/xdg/Quorvex/");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(DataFolders("/moved/bin/quorvex").front(), "/moved/share/quorvex/");
    EXPECT_TRUE(EnsureFolder(dir.Path() + "/x/y/z/"));
    struct stat st;
    ASSERT_EQ(::stat((dir.Path() + "/x/y/z").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// The built program, run as a new user would: a fresh home, nothing configured.
TEST(QuorvexProgram, ConfigAsANewUser) {
    qvtest::TempDir home;
    const std::string folder = home.File("quorvex-home");
    std::map<std::string, std::string> env = {
        {"HOME", home.Path()}, {"PATH", "/usr/bin:/bin"}, {"LANG", "C.UTF-8"}};
    auto quorvex = [&](Args args) {
        args.insert(args.begin(), QUORVEX_BINARY);
        return qvtest::RunProgram(args, env);
    };
    auto r = quorvex({"--home", folder, "config", "get", "BasicSettings", "PreviewRate"});
    EXPECT_EQ(r.Out, "3\n");
    EXPECT_FALSE(qvtest::FileExists(folder));  // reading creates nothing
    r = quorvex(
        {"config", "set", "WarningSettings0", "MailTitle", "侵入者～①\\", "--home", folder});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(qvtest::ReadFile(folder + "/Quorvex.ini"),
              "[WarningSettings0]\r\nMailTitle=\x90N\x93\xfc\x8e\xd2\x81\x60\x87\x40\\\r\n");
    r = quorvex({"--home", folder, "config", "set", "WarningSettings0", "SecCount", "11"});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_NE(r.Err.find("1..10"), std::string::npos) << r.Err;
    env["QUORVEX_HOME"] = folder;
    r = quorvex({"config", "list"});
    EXPECT_NE(r.Out.find("MailTitle=侵入者～①\\\n"), std::string::npos);
    r = quorvex({"--help"});
    for (const char* text : {"config get SECTION KEY", "--home DIR", "Data files: "})
        EXPECT_NE(r.Out.find(text), std::string::npos) << text;
    EXPECT_EQ(quorvex({"--version"}).Out, std::string("quorvex ") + QUORVEX_VERSION + "\n");
    EXPECT_EQ(quorvex({"--home"}).ExitCode, 2);
}
