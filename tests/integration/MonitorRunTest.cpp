// The real program with the demo camera under the offscreen platform: pictures with their time
// stamp, the day's log, a warning, the clean-up at start, the end on SIGTERM, and a second instance
// that ends at once.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>

#include <QImage>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "app/settings/IniFile.h"
#include "tests/app/engine/EngineFakes.h"
#include "tests/support/RunProgram.h"

using namespace std::chrono_literals;

namespace {

class MonitorRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ini = home.File("Quorvex.ini");
        const char* const values[][3] = {{"BasicSettings", "WakeUpStart", "1"},
                                         {"BasicSettings", "PictureQuality", "20"},
                                         {"WarningSettings0", "MotionSensitivity", "1000"},
                                         {"WarningSettings0", "SecCount", "1"},
                                         {"WarningSettings0", "SecurityTimerInterval", "1"},
                                         {"WarningSettings0", "SendMail", "1"},
                                         {"WarningSettings0", "TimerEnable", "1"},
                                         {"MailSettings", "SmtpServer", "127.0.0.1"},
                                         {"Retention", "PictureDays", "7"}};
        for (auto v : values) ASSERT_TRUE(IniWriteString(v[0], v[1], v[2], ini));
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
        // The folders of the next test are made under the TMPDIR of the test run.
        if (const char* was = std::getenv("TMPDIR")) oldTmp = was;
        setenv("TMPDIR", tmp.Path().c_str(), 1);
        // The program checks the news at start: never the real service from a test.
        setenv("QUORVEX_NEWS_URL", kNoNews, 1);
        setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    }
    void TearDown() override {
        if (oldTmp.empty())
            unsetenv("TMPDIR");
        else
            setenv("TMPDIR", oldTmp.c_str(), 1);
    }
    std::string oldTmp;
    static constexpr const char* kNoNews = "http://127.0.0.1:1/infobbs/";

    std::vector<std::string> Argv() const {
        return {QUORVEX_BINARY, "--home", home.Path(), "--demo-camera", "-platform", "offscreen"};
    }

    qvtest::TempDir home, runtime, tmp, logs, config;
    std::string ini;
};

TEST_F(MonitorRunTest, DemoCameraHalfAMinute) {
    // A picture of 2003: the clean-up at start takes it, a limit being set.
    const std::string old = home.File("timer/t2003060112000000.jpg");
    ASSERT_EQ(::mkdir(home.File("timer").c_str(), 0700), 0);
    qvtest::WriteFile(old, "old picture");
    const timeval then[2] = {{1054468800, 0}, {1054468800, 0}};
    ASSERT_EQ(::utimes(old.c_str(), then), 0);
    const std::string output = logs.File("quorvex.out");
    qvtest::ChildProcess program(Argv(), output);
    ASSERT_TRUE(program.Running());
    // Started: it holds the instance lock by the time its private temporary folder exists
    // (a sanitizer build on a loaded machine takes many seconds to get there).
    ASSERT_TRUE(qvtest::WaitFor([&] { return qvtest::ListDir(tmp.Path()).size() == 1; }, 120000))
        << qvtest::ReadFile(output);

    // A second instance ends at once, silently, with 0.
    auto second =
        qvtest::RunProgram(Argv(), {{"QT_QPA_PLATFORM", "offscreen"},
                                    {"XDG_RUNTIME_DIR", runtime.Path()},
                                    {"TMPDIR", tmp.Path()},
                                    {"QUORVEX_NEWS_URL", kNoNews},
                                    {"PATH", std::getenv("PATH") ? std::getenv("PATH") : ""}});
    EXPECT_EQ(second.ExitCode, 0);
    EXPECT_EQ(second.Out, "");

    // The private temporary folder is still there while the program runs.
    EXPECT_EQ(qvtest::ListDir(tmp.Path()).size(), 1u);

    std::this_thread::sleep_for(27s);
    // The shutdown takes at least five ticks of 250 ms; sanitizer builds are slower.
    int status = program.Stop(60000);
    ASSERT_TRUE(WIFEXITED(status)) << qvtest::ReadFile(output);
    EXPECT_EQ(WEXITSTATUS(status), 0) << qvtest::ReadFile(output);

    // [Window] written at the end, the temporary folder gone.
    EXPECT_NE(IniReadString("Window", "MainLeft", "", ini), "");
    EXPECT_EQ(IniReadString("Window", "SelectMode", "", ini), "0");
    EXPECT_TRUE(qvtest::ListDir(tmp.Path()).empty()) << "temporary folder left behind";
    EXPECT_EQ(IniReadString("BasicSettings", "DeviceName", "", ini).empty(), false);

    // Detect pictures with the capture time drawn in the top-left corner, read back with Qt's
    // JPEG decoder.
    std::vector<std::string> detect;
    for (const auto& name : qvtest::ListDir(home.File("detect")))
        if (name.size() == 21 && name[0] == 'd') detect.push_back(name);
    ASSERT_FALSE(detect.empty()) << qvtest::ReadFile(output);
    EXPECT_EQ(qvtest::ListDir(home.File("detect")).size(), detect.size()) << "only final names";
    for (size_t i = 0; i < detect.size() && i < 5; ++i) {
        const std::string& name = detect[i];
        const QImage picture(QString::fromStdString(home.File("detect/" + name)), "JPEG");
        ASSERT_GE(picture.width(), 148) << name;
        // d YYYY MM DD hh mm ss nn .jpg -> "YYYY/MM/DD hh:mm:ss"
        const std::string text = name.substr(1, 4) + "/" + name.substr(5, 2) + "/" +
                                 name.substr(7, 2) + " " + name.substr(9, 2) + ":" +
                                 name.substr(11, 2) + ":" + name.substr(13, 2);
        EXPECT_EQ(qvtest::ReadStamp([&](int x, int y) { return qGray(picture.pixel(x, y)); }),
                  text);
    }

    EXPECT_FALSE(qvtest::FileExists(old));
    // The day's log: one line per picture, CP932 with CR LF.
    const auto logLines = qvtest::LogLines(home.File("log"));
    size_t detectLines = 0, timerLines = 0, mailLines = 0;
    for (const auto& line : logLines) {
        if (line.rfind("0,", 0) == 0) {
            ++detectLines;
            EXPECT_NE(line.find(",動体検知保存,d"), std::string::npos) << line;
        }
        timerLines += line.rfind("1,", 0) == 0;
        mailLines += line.rfind("2,", 0) == 0;
    }
    EXPECT_EQ(detectLines, detect.size());
    EXPECT_EQ(timerLines, qvtest::ListDir(home.File("timer")).size());
    // SecCount 1: the first detect picture warned and asked for a mail (which fails: nothing
    // listens on the SMTP port), one mail per warning.
    EXPECT_GE(mailLines, 1u);
    // Every entry was printed on standard output as a UTF-8 line too.
    std::string printed = qvtest::ReadFile(output);
    EXPECT_NE(printed.find("retention: deleted 1 picture "), std::string::npos) << printed;
    for (const auto& line : logLines)
        EXPECT_NE(printed.find(line + "\n"), std::string::npos) << line;
}

// A noisy still scene from a stream camera: the level alone saves detect pictures, the motion
// check none.
TEST_F(MonitorRunTest, MotionCheckQuietsANoisyStillScene) {
    const std::string ffmpeg = qvtest::FindProgram("ffmpeg");
    if (ffmpeg.empty()) GTEST_SKIP() << "ffmpeg is not installed (Debian package ffmpeg)";
    const std::string clip = tmp.File("noisy.avi");
    const std::string make = ffmpeg +
                             " -loglevel error -y -f lavfi -i color=c=0x404040:size=160x120:rate=10"
                             " -vf noise=alls=60:allf=t -t 4 -c:v mjpeg -q:v 2 '" +
                             clip + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const std::vector<std::string> config = {QUORVEX_BINARY, "--home", home.Path(), "config"};
    auto run = [&](std::vector<std::string> words) {
        std::vector<std::string> argv = config;
        argv.insert(argv.end(), words.begin(), words.end());
        return qvtest::RunProgram(argv, {{"PATH", std::getenv("PATH") ? std::getenv("PATH") : ""}})
            .ExitCode;
    };
    ASSERT_EQ(run({"streams", "add", "noisy", clip}), 0);
    ASSERT_EQ(run({"set", "BasicSettings", "DeviceName", "noisy"}), 0);
    ASSERT_EQ(run({"set", "WarningSettings0", "TimerEnable", "0"}), 0);
    for (const char* check : {"0", "1"}) {
        ASSERT_EQ(run({"set", "WarningSettings0", "MotionCheck", check}), 0);
        const std::string detect = logs.File(std::string("detect") + check);
        ASSERT_EQ(run({"set", "BasicSettings", "DetectPath", detect}), 0);
        const std::string output = logs.File(std::string("check") + check + ".out");
        qvtest::ChildProcess program(
            {QUORVEX_BINARY, "--home", home.Path(), "-platform", "offscreen"}, output);
        std::this_thread::sleep_for(8s);
        const int status = program.Stop(60000);
        ASSERT_TRUE(WIFEXITED(status)) << qvtest::ReadFile(output);
        const size_t pictures = qvtest::FileExists(detect) ? qvtest::ListDir(detect).size() : 0;
        EXPECT_EQ(pictures > 0, check[0] == '0') << pictures << qvtest::ReadFile(output);
    }
}

}  // namespace
