#include "app/settings/ConfigCommand.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <string>

#include "app/settings/ProgramFolder.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestSupport.h"

namespace {

using Args = std::vector<std::string>;

// "set|A|B" -> {"set", "A", "B"}.
Args Words(const std::string& line) {
    Args args;
    for (size_t start = 0, bar; !line.empty() && start <= line.size(); start = bar + 1) {
        bar = std::min(line.find('|', start), line.size());
        args.push_back(line.substr(start, bar - start));
    }
    return args;
}

class ConfigCommandTest : public ::testing::Test {
  protected:
    qvtest::TempDir dir_;
    std::string file_ = dir_.File("Quorvex.ini");
    std::tuple<int, std::string, std::string> Run(const Args& args) {
        std::ostringstream out, err;
        int code = RunConfigCommand(args, dir_.Path() + "/", out, err);
        return {code, out.str(), err.str()};
    }
    std::string Out(const std::string& line) { return std::get<1>(Run(Words(line))); }
};

}  // namespace

TEST_F(ConfigCommandTest, GetShowsWhatTheProgramUsesAndListMasksPasswords) {
    qvtest::WriteFile(file_,
                      "[BasicSettings]\r\nDeviceName= cam ; c\r\n"
                      "[MailSettings]\r\nPassword=YWJj\r\n"
                      "[WarningSettings0]\r\nTimerInterval=240\r\n");
    const std::string before = qvtest::ReadFile(file_);
    const std::pair<const char*, const char*> cases[] = {
        {"get|warningsettings1|securitywavename", "wellcome.wav\n"},
        {"get|Window|MainLeft", "\n"},  // centred
        {"get|BasicSettings|DeviceName", " cam \n"},
        {"get|MailSettings|Password", "abc\n"},
        {"get|WarningSettings0|TimerInterval", "240\n"}};
    for (auto [line, out] : cases) EXPECT_EQ(Out(line), out) << line;
    const std::string list = Out("list");
    EXPECT_NE(list.find("\nPassword=********\nSendMailAddress=\n"), std::string::npos) << list;
    EXPECT_EQ(list.find("abc"), std::string::npos);
    EXPECT_EQ(qvtest::ReadFile(file_), before);
}

TEST_F(ConfigCommandTest, SetStoresCanonicalNamesWithinTheDialogsLimits) {
    for (const Args& a :
         {Words("set|warningsettings1|motionsensitivity|1234"),
          Args{"set", "MailSettings", "Password", "パス word"},
          Words("set|BasicSettings|PictureQuality|007"), Words("set|PictSettings|Width|640"),
          Words("set|Window|MainLeft|-200"),
          Args{"set", "BasicSettings", "DeviceName", std::string(127, 'x') + "あ"},
          Words("set|MailSettings|SmtpPassword|" + std::string(191, 'p')),
          Words("set|PictSettings|Type|1"),
          Args{"set", "WarningSettings2", "MotionMask", "0.1,0.1 0.5,0.1 0.5,0.6|0,0 1,0 1,0.1"},
          Words("set|PictSettings|PictQuality|20")})  // JPEG offers 0..20
        EXPECT_EQ(std::get<0>(Run(a)), 0) << a[2] << " " << a[3];
    EXPECT_EQ(qvtest::ReadFile(file_).rfind("[WarningSettings1]\r\nMotionSensitivity=1234\r\n", 0),
              0u);
    EXPECT_EQ(Out("get|MailSettings|Password") + Out("get|BasicSettings|PictureQuality"),
              "パス word\n7\n");
}

TEST_F(ConfigCommandTest, RefusalsWriteNothingAndExitWithTwo) {
    const std::string x254 = std::string(254, 'x') + "あ", p192(192, 'p');
    Args refused = {"set|MailSettings|Password|" + p192, "set|BasicSettings|DeviceName|" + x254};
    // One command line per rule, split at blanks (PictQuality 10: PNG offers 0..9).
    std::istringstream lines(
        "get|Basic|PreviewRate get|BasicSettings|Preview set|WarningSettings3|SecCount|3 "
        "set|BasicSettings|PreviewRate|7 set|BasicSettings|PreviewRate|3x "
        "set|BasicSettings|PreviewRate|99999999999 set|BasicSettings|PreviewRate| "
        "set|WarningSettings0|MotionSensitivity|10000 set|WarningSettings0|SecTimer|9 "
        "set|PictSettings|Width|121 set|PictSettings|Height|481 set|PictSettings|PictQuality|10 "
        "set|PictSettings|ColorNum|0 set|Window|SelectMode|3 set|BasicSettings|DeviceName|a;b "
        "set|BasicSettings|DeviceName|line\nbreak set|BasicSettings|DeviceName|😀 "
        "set|BasicSettings|PreviewRate get|BasicSettings frobnicate");
    for (std::string line; std::getline(lines, line, ' ');) refused.push_back(line);
    for (const char* spaced : {"", "set|WarningSettings0|MotionMask|0.1,0.1 0.5",
                               "set|Schedule|Rule1|8 08:00-18:00 mode1"})
        refused.push_back(spaced);
    for (const std::string& line : refused) {
        const auto [code, out, err] = Run(Words(line));
        EXPECT_EQ(code, 2) << line;
        EXPECT_TRUE(out.empty() && !err.empty());
    }
    EXPECT_FALSE(qvtest::FileExists(file_));
}

TEST_F(ConfigCommandTest, UnwritableFilesAreNotReplaced) {
    qvtest::WriteFile(file_, "[BasicSettings]\r\nPreviewRate=2\r\n");
    ASSERT_EQ(::chmod(file_.c_str(), 0400), 0);  // the user made it read-only
    const auto [code, out, err] = Run(Words("set|BasicSettings|PreviewRate|1"));
    EXPECT_EQ(code, 1);
    EXPECT_NE(err.find("not changed"), std::string::npos);
    EXPECT_EQ(qvtest::ReadFile(file_), "[BasicSettings]\r\nPreviewRate=2\r\n");
    qvtest::WriteFile(dir_.File("plain"), "x");  // a program folder that cannot be made
    std::ostringstream o, e;
    EXPECT_EQ(RunConfigCommand(Words("set|BasicSettings|PreviewRate|1"), dir_.File("plain/"), o, e),
              1);
}

// A program folder beside the binary is a portable install; the data beside an install's bin.
TEST(ProgramFolder, PortableInstallAndPrivateFolders) {
    qvtest::TempDir dir;
    EXPECT_EQ(ResolveProgramFolder("", dir.Path() + "/quorvex"), dir.Path() + "/");
    EXPECT_EQ(DataFolders("/moved/bin/quorvex").front(), "/moved/share/quorvex/");
    struct stat st;
    EXPECT_TRUE(EnsureFolder(dir.Path() + "/x/y/") && ::stat(dir.File("x/y").c_str(), &st) == 0);
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
    EXPECT_EQ(quorvex({"--home", folder, "config", "get", "BasicSettings", "PreviewRate"}).Out,
              "3\n");
    EXPECT_FALSE(qvtest::FileExists(folder));  // reading creates nothing
    auto r = quorvex(
        {"config", "set", "WarningSettings0", "MailTitle", "侵入者～①\\", "--home", folder});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(qvtest::ReadFile(folder + "/Quorvex.ini"),
              "[WarningSettings0]\r\nMailTitle=\x90N\x93\xfc\x8e\xd2\x81\x60\x87\x40\\\r\n");
    env["QUORVEX_HOME"] = folder;
    EXPECT_NE(quorvex({"config", "list"}).Out.find("MailTitle=侵入者～①\\\n"), std::string::npos);
    EXPECT_EQ(quorvex({"--home"}).ExitCode, 2);
}
