#include "app/settings/ConfigCommand.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <string>

#include "app/mail/Base64.h"
#include "app/settings/IniFile.h"
#include "app/settings/ProgramFolder.h"
#include "app/settings/Settings.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestSupport.h"

namespace {

struct Outcome {
    int Code;
    std::string Out;
    std::string Err;
};

class ConfigCommandTest : public ::testing::Test {
  protected:
    qvtest::TempDir dir_;
    std::string home_ = dir_.Path() + "/";
    std::string file_ = home_ + "Quorvex.ini";

    Outcome Run(const std::vector<std::string>& args) {
        std::ostringstream out, err;
        int code = RunConfigCommand(args, home_, out, err);
        return {code, out.str(), err.str()};
    }
};

}  // namespace

TEST_F(ConfigCommandTest, GetPrintsDefaultsWithoutCreatingTheFile) {
    EXPECT_EQ(Run({"get", "BasicSettings", "PreviewRate"}).Out, "3\n");
    EXPECT_EQ(Run({"get", "warningsettings1", "securitywavename"}).Out, "wellcome.wav\n");
    EXPECT_EQ(Run({"get", "BasicSettings", "ConnMode"}).Out, "0\n");
    EXPECT_EQ(Run({"get", "Window", "MainLeft"}).Out, "\n");  // no position: centred
    EXPECT_EQ(Run({"get", "WarningSettings0", "MailTitle"}).Out, "警告！！\n");
    Outcome list = Run({"list"});
    EXPECT_EQ(list.Code, 0);
    EXPECT_NE(list.Out.find("[WarningSettings2]\nMotionEnable=1\nMotionSensitivity=2000\n"),
              std::string::npos);
    EXPECT_NE(list.Out.find("[MailSettings]\nPopSmtp=0\n"), std::string::npos);
    EXPECT_EQ(qvtest::ListDir(dir_.Path()), std::vector<std::string>{});
}

TEST_F(ConfigCommandTest, GetShowsTheValueAsTheProgramConvertsIt) {
    qvtest::WriteFile(file_,
                      "[BasicSettings]\r\nPreviewRate=abc\r\nDeviceName= cam ; c\r\n"
                      "[Window]\r\nMainLeft=5\r\nSelectMode=9\r\n"
                      "[MailSettings]\r\nPassword=YWJj\r\n");
    const std::string before = qvtest::ReadFile(file_);
    EXPECT_EQ(Run({"get", "BasicSettings", "PreviewRate"}).Out, "0\n");
    EXPECT_EQ(Run({"get", "BasicSettings", "DeviceName"}).Out, " cam \n");
    EXPECT_EQ(Run({"get", "Window", "MainTop"}).Out, "0\n");
    EXPECT_EQ(Run({"get", "Window", "SelectMode"}).Out, "0\n");
    EXPECT_EQ(Run({"get", "MailSettings", "Password"}).Out, "abc\n");
    EXPECT_EQ(qvtest::ReadFile(file_), before);
}

TEST_F(ConfigCommandTest, SetWritesCanonicalNamesAndEncodesThePassword) {
    EXPECT_EQ(Run({"set", "warningsettings1", "motionsensitivity", "1234"}).Code, 0);
    EXPECT_EQ(Run({"set", "MailSettings", "Password", "パス word"}).Code, 0);
    EXPECT_EQ(Run({"set", "WarningSettings0", "MailText", "一行<BR>二行"}).Code, 0);
    EXPECT_EQ(Run({"set", "BasicSettings", "PictureQuality", "007"}).Code, 0);
    EXPECT_EQ(qvtest::ReadFile(file_),
              "[WarningSettings1]\r\nMotionSensitivity=1234\r\n"
              "[MailSettings]\r\nPassword=" +
                  Base64EncodeText("\x83p\x83X word") +
                  "\r\n"
                  "[WarningSettings0]\r\nMailText=\x88\xea\x8d\x73<BR>\x93\xf1\x8d\x73\r\n"
                  "[BasicSettings]\r\nPictureQuality=7\r\n");
    EXPECT_EQ(Run({"get", "MailSettings", "Password"}).Out, "パス word\n");
    struct stat st;
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ConfigCommandTest, RefusalsWriteNothingAndExitWithTwo) {
    const std::vector<std::vector<std::string>> refused = {
        {"get", "Basic", "PreviewRate"},
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
        {"set", "BasicSettings", "DeviceName", std::string(256, 'x')},
        {"set", "MailSettings", "Password", std::string(192, 'p')},
        {"set", "BasicSettings", "PreviewRate"},
        {"get", "BasicSettings"},
        {"frobnicate"},
        {},
    };
    for (const auto& args : refused) {
        Outcome o = Run(args);
        std::string what =
            args.empty() ? "(none)" : args[0] + " " + (args.size() > 2 ? args[2] : "");
        EXPECT_EQ(o.Code, 2) << what;
        EXPECT_FALSE(o.Err.empty()) << what;
        EXPECT_EQ(o.Out, "") << what;
    }
    EXPECT_FALSE(qvtest::FileExists(file_));
}

TEST_F(ConfigCommandTest, LimitsFollowTheDialogs) {
    EXPECT_EQ(Run({"set", "PictSettings", "Width", "640"}).Code, 0);
    EXPECT_EQ(Run({"set", "PictSettings", "Width", "32"}).Code, 0);
    EXPECT_EQ(Run({"set", "BasicSettings", "DeviceName", std::string(255, 'x')}).Code, 0);
    EXPECT_EQ(Run({"set", "BasicSettings", "DeviceName", std::string(127, 'x') + "あ"}).Code, 0);
    EXPECT_EQ(Run({"set", "BasicSettings", "DeviceName", std::string(254, 'x') + "あ"}).Code, 2);
    EXPECT_EQ(Run({"set", "MailSettings", "Password", std::string(191, 'p')}).Code, 0);
    EXPECT_EQ(Run({"set", "Window", "MainLeft", "-200"}).Code, 0);
    // The quality range follows the picture type in use.
    EXPECT_EQ(Run({"set", "PictSettings", "Type", "1"}).Code, 0);
    EXPECT_EQ(Run({"set", "PictSettings", "PictQuality", "20"}).Code, 0);
    EXPECT_EQ(Run({"set", "PictSettings", "PictQuality", "21"}).Code, 2);
    EXPECT_EQ(Run({"get", "PictSettings", "PictQuality"}).Out, "20\n");
}

TEST_F(ConfigCommandTest, WriteFailureExitsWithOne) {
    // The program folder is a plain file: nothing can be created in it.
    qvtest::WriteFile(dir_.File("plain"), "x");
    std::ostringstream out, err;
    EXPECT_EQ(RunConfigCommand({"set", "BasicSettings", "PreviewRate", "1"},
                               dir_.File("plain") + "/", out, err),
              1);
    EXPECT_FALSE(err.str().empty());
}

TEST(ProgramFolder, Precedence) {
    qvtest::TempDir dir;
    ::setenv("QUORVEX_HOME", "/from/env", 1);
    EXPECT_EQ(ResolveProgramFolder("/opt/q"), "/opt/q/");
    EXPECT_EQ(ResolveProgramFolder(""), "/from/env/");
    ::unsetenv("QUORVEX_HOME");
    // A writable folder of the program: a portable install.
    EXPECT_EQ(ResolveProgramFolder("", dir.Path() + "/quorvex"), dir.Path() + "/");
    // Not writable (here: missing): the data folder.
    ::setenv("XDG_DATA_HOME", "/xdg", 1);
    EXPECT_EQ(ResolveProgramFolder("", "/nonexistent/bin/quorvex"), "/xdg/Quorvex/");
    ::setenv("XDG_DATA_HOME", "relative", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(ResolveProgramFolder("", "/nonexistent/bin/quorvex"),
              "/home/someone/.local/share/Quorvex/");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(ResolveProgramFolder("", "/nonexistent/bin/quorvex"),
              "/home/someone/.local/share/Quorvex/");
    EXPECT_EQ(SettingsFilePath("/a/"), "/a/Quorvex.ini");
    EXPECT_EQ(SettingsFilePath("/a"), "/a/Quorvex.ini");
    EXPECT_TRUE(EnsureFolder(dir.Path() + "/x/y/z/"));
    struct stat st;
    ASSERT_EQ(::stat((dir.Path() + "/x/y/z").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// The built program, run as a new user would: a fresh home, nothing configured.
#ifdef QUORVEX_BINARY
class QuorvexProgram : public ::testing::Test {
  protected:
    qvtest::TempDir home_;
    std::map<std::string, std::string> Env() const {
        return {{"HOME", home_.Path()}, {"PATH", "/usr/bin:/bin"}, {"LANG", "C.UTF-8"}};
    }
    qvtest::ProgramResult Quorvex(std::vector<std::string> args,
                                  std::map<std::string, std::string> env = {}) {
        args.insert(args.begin(), QUORVEX_BINARY);
        if (env.empty()) env = Env();
        return qvtest::RunProgram(args, env);
    }
};

TEST_F(QuorvexProgram, ConfigAsANewUser) {
    const std::string folder = home_.File("quorvex-home");
    auto r = Quorvex({"--home", folder, "config", "get", "BasicSettings", "PreviewRate"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "3\n");
    EXPECT_FALSE(qvtest::FileExists(folder));  // reading creates nothing

    r = Quorvex(
        {"config", "set", "WarningSettings0", "MailTitle", "侵入者～①\\", "--home", folder});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    r = Quorvex({"config", "--home", folder, "get", "WarningSettings0", "MailTitle"});
    EXPECT_EQ(r.Out, "侵入者～①\\\n");
    EXPECT_EQ(qvtest::ReadFile(folder + "/Quorvex.ini"),
              "[WarningSettings0]\r\nMailTitle=\x90N\x93\xfc\x8e\xd2\x81\x60\x87\x40\\\r\n");

    r = Quorvex({"--home", folder, "config", "set", "WarningSettings0", "SecCount", "11"});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_NE(r.Err.find("1..10"), std::string::npos) << r.Err;
    r = Quorvex({"--home", folder, "config", "get", "Nowhere", "Key"});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_NE(r.Err.find("Nowhere"), std::string::npos);

    r = Quorvex({"--home", folder, "config", "list"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_NE(r.Out.find("MailTitle=侵入者～①\\\n"), std::string::npos);
    EXPECT_NE(r.Out.find("[PictSettings]\nType=0\n"), std::string::npos);
}

TEST_F(QuorvexProgram, QuorvexHomeFromTheEnvironment) {
    auto env = Env();
    env["QUORVEX_HOME"] = home_.File("from-env");
    auto r = Quorvex({"config", "set", "BasicSettings", "PreviewRate", "5"}, env);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_TRUE(qvtest::FileExists(home_.File("from-env/Quorvex.ini")));
    EXPECT_EQ(Quorvex({"config", "get", "BasicSettings", "PreviewRate"}, env).Out, "5\n");
}

TEST_F(QuorvexProgram, HelpAndVersion) {
    auto r = Quorvex({"--help"});
    EXPECT_EQ(r.ExitCode, 0);
    for (const char* text : {"config get SECTION KEY", "config set SECTION KEY VALUE",
                             "config list", "--home DIR", "--demo-camera", "-platform offscreen"})
        EXPECT_NE(r.Out.find(text), std::string::npos) << text;
    r = Quorvex({"--version"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out, std::string("quorvex ") + QUORVEX_VERSION + "\n");
    r = Quorvex({"--home"});
    EXPECT_EQ(r.ExitCode, 2);
}
#endif
