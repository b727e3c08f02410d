// The engine's rules, run through its real threads with a scripted core library, a fast poll
// step and a clock the test moves.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <memory>

#include "app/settings/IniFile.h"
#include "platform/text/Text.h"
#include "tests/app/engine/EngineFakes.h"
#include "tests/support/TestSupport.h"

using qv::engine::MonitorEngine;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> Pictures(const std::string& folder, char prefix) {
    std::vector<std::string> out;
    if (!qvtest::FileExists(folder)) return out;
    for (const auto& name : qvtest::ListDir(folder))
        if (!name.empty() && name[0] == prefix) out.push_back(name);
    return out;
}

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings.Warning = {DefaultWarningSettings(0), DefaultWarningSettings(1),
                            DefaultWarningSettings(2)};
        for (auto& w : settings.Warning) {
            w.MotionSensitivity = 1500;
            w.SecurityPic = 0;
            w.SecurityWave = 0;
            w.SendMail = 0;
            w.TimerEnable = 0;
        }
        settings.CurrentMode = 0;
    }
    void TearDown() override {
        if (engine) engine->Finish();
    }

    WarningSettings& Mode0() { return settings.Warning[0]; }

    void Start(uint32_t startTick = 1000) {
        clock = std::make_unique<qvtest::FakeClock>(startTick);
        qv::engine::EngineOptions options;
        options.ProgramFolder = home.Path() + "/";
        options.SettingsFile = home.File("Quorvex.ini");
        options.PollMs = 3;
        options.TimeSource = clock.get();
        options.TempParent = tmp.Path();
        options.Echo = nullptr;
        engine = std::make_unique<MonitorEngine>(host, core, sound, options);
        engine->UseSettings(settings);
        engine->Start();
    }

    // Pumps the window side until pred holds or 5 s pass.
    bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds limit = 5000ms) {
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            host.Pump();
            if (pred()) return true;
            std::this_thread::sleep_for(2ms);
        }
        host.Pump();
        return pred();
    }
    // Lets the worker threads run a number of their cycles.
    void Cycles(int n) {
        for (int i = 0; i < n; ++i) {
            std::this_thread::sleep_for(7ms);
            host.Pump();
        }
    }
    bool Idle() {
        return !engine->RequestCaptureEvent().IsSet() && !engine->RequestHdEvent().IsSet();
    }
    // One detection: the level is above the sensitivity for one reading; then the picture
    // is saved and the engine is idle again.
    bool DetectOnce() {
        size_t before = Pictures(DetectFolder(), 'd').size();
        core.PulseLevel = 5000;
        return WaitFor([&] {
            return core.PulseLevel == 0 && Idle() && Pictures(DetectFolder(), 'd').size() > before;
        });
    }
    std::string DetectFolder() { return home.File("detect"); }
    std::string TimerFolder() { return home.File("timer"); }
    std::vector<std::string> LogLines() {
        std::vector<std::string> lines;
        for (const auto& name : qvtest::ListDir(home.File("log"))) {
            std::string all = qvtest::ReadFile(home.File("log") + "/" + name);
            size_t pos = 0;
            while (pos < all.size()) {
                size_t end = all.find("\r\n", pos);
                if (end == std::string::npos) break;
                lines.push_back(qv::text::Cp932ToUtf8(all.substr(pos, end - pos)));
                pos = end + 2;
            }
        }
        return lines;
    }

    qvtest::TempDir home, tmp;
    AllSettings settings;
    qvtest::FakeCore core;
    qvtest::FakeHost host;
    qvtest::FakeSound sound;
    std::unique_ptr<qvtest::FakeClock> clock;
    std::unique_ptr<MonitorEngine> engine;
};

TEST_F(EngineTest, LevelEqualToSensitivityCountsOneBelowDoesNot) {
    Start();
    engine->StartStop();
    core.Level = 1499;
    Cycles(30);
    EXPECT_EQ(engine->DetectCount(), 0);
    EXPECT_EQ(core.Captures, 0);
    EXPECT_TRUE(Pictures(DetectFolder(), 'd').empty());

    core.Level = 1500;
    ASSERT_TRUE(WaitFor([&] { return !Pictures(DetectFolder(), 'd').empty(); }));
    core.Level = 0;
    EXPECT_GE(engine->DetectCount(), 1);
    // The level is compared unclamped: 65535 is far above 9999 and still a detection.
    Mode0().MotionSensitivity = 9999;
    engine->UseSettings(settings);
    int before = engine->DetectCount();
    core.Level = 65535;
    EXPECT_TRUE(WaitFor([&] { return engine->DetectCount() > before; }));
    core.Level = 0;
}

TEST_F(EngineTest, MonitoringOffRequestsNothingButStillShowsTheLevel) {
    Start();
    core.Level = 12345;
    Cycles(20);
    engine->Tick();
    EXPECT_EQ(engine->DetectCount(), 0);
    EXPECT_EQ(engine->LastLevelShown(), 9999);  // shown clamped
    core.Level = 42;
    engine->Tick();
    EXPECT_EQ(engine->LastLevelShown(), 42);
}

TEST_F(EngineTest, PendingRequestDropsDetection) {
    Start();
    core.BlockCapture = true;  // the first frame is being grabbed for a long time
    engine->StartStop();
    core.Level = 5000;
    ASSERT_TRUE(WaitFor([&] { return engine->DetectCount() == 1; }));
    Cycles(30);
    EXPECT_EQ(engine->DetectCount(), 1) << "detections while a request is pending are not counted";
    core.Level = 0;
    core.BlockCapture = false;
    ASSERT_TRUE(WaitFor([&] { return Pictures(DetectFolder(), 'd').size() == 1 && Idle(); }));
    EXPECT_EQ(core.Captures, 1);
}

TEST_F(EngineTest, WarningThenHoldThenWarningAgain) {
    Mode0().SecCount = 1;
    Mode0().SecurityTimerInterval = 1;
    Start(0xFFFF0000u);  // the hold's end lies beyond the counter's wrap
    engine->StartStop();
    ASSERT_TRUE(DetectOnce());
    EXPECT_EQ(engine->WarningCount(), 1);
    EXPECT_TRUE(engine->WarningHold());

    // During the hold pictures are saved and logged but not counted.
    ASSERT_TRUE(DetectOnce());
    ASSERT_TRUE(DetectOnce());
    EXPECT_EQ(engine->WarningCount(), 1);
    EXPECT_EQ(engine->WindowCount(), 0);
    EXPECT_EQ(Pictures(DetectFolder(), 'd').size(), 3u);
    EXPECT_EQ(LogLines().size(), 3u);

    clock->Advance(59000);
    Cycles(10);
    EXPECT_TRUE(engine->WarningHold()) << "one minute has not passed yet";
    clock->Advance(1000);
    ASSERT_TRUE(WaitFor([&] { return !engine->WarningHold(); }));
    ASSERT_TRUE(DetectOnce());
    EXPECT_EQ(engine->WarningCount(), 2);
}

TEST_F(EngineTest, DetectionWindowDoesNotSlide) {
    Mode0().SecCount = 2;
    Mode0().SecTimer = 10;
    Start();
    engine->StartStop();
    ASSERT_TRUE(DetectOnce());
    EXPECT_EQ(engine->WindowCount(), 1);
    // The window ends: the one picture of the old window is forgotten.
    clock->Advance(10000);
    ASSERT_TRUE(WaitFor([&] { return engine->WindowCount() == 0; }));
    ASSERT_TRUE(DetectOnce());
    EXPECT_EQ(engine->WarningCount(), 0) << "one in the old window and one in the new do not warn";
    ASSERT_TRUE(DetectOnce());
    EXPECT_EQ(engine->WarningCount(), 1);
    EXPECT_EQ(engine->WindowCount(), 0) << "a warning clears the count";
}

TEST_F(EngineTest, StartStopKeepsWindowCountModeChangeClearsIt) {
    Mode0().SecCount = 3;
    Start();
    engine->StartStop();
    ASSERT_TRUE(DetectOnce());
    engine->StartStop();
    engine->StartStop();
    EXPECT_EQ(engine->WindowCount(), 1);
    engine->SelectMode(0);
    EXPECT_EQ(engine->WindowCount(), 0);
}

TEST_F(EngineTest, TimerPictureAtSwitchOnThenEveryInterval) {
    Mode0().TimerEnable = 1;
    Mode0().TimerInterval = 1;
    Start();
    engine->StartStop();
    ASSERT_TRUE(WaitFor([&] { return Pictures(TimerFolder(), 't').size() == 1 && Idle(); }));
    // The window tick re-arms the schedule once the timer picture has been dealt with.
    engine->Tick();
    engine->Tick();
    EXPECT_EQ(engine->CountdownShown(), 60);
    clock->Advance(30000);
    engine->Tick();
    EXPECT_EQ(engine->CountdownShown(), 30);
    Cycles(10);
    EXPECT_EQ(Pictures(TimerFolder(), 't').size(), 1u);
    clock->Advance(30000);
    ASSERT_TRUE(WaitFor([&] { return Pictures(TimerFolder(), 't').size() == 2; }));
    // Timer pictures are logged but never counted for a warning.
    EXPECT_EQ(engine->WindowCount(), 0);
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, 2), "1,");
    EXPECT_NE(lines[0].find(",タイマー保存,t"), std::string::npos);
}

TEST_F(EngineTest, DetectionBeatsTheTimerInOneCycle) {
    Mode0().TimerEnable = 1;
    Mode0().TimerInterval = 1;
    Start();
    core.Level = 5000;
    engine->StartStop();  // the timer is due at once and so is the detection
    ASSERT_TRUE(WaitFor([&] { return engine->DetectCount() >= 1; }));
    core.Level = 0;
    ASSERT_TRUE(WaitFor([&] { return Idle() && !Pictures(DetectFolder(), 'd').empty(); }));
    engine->Tick();  // re-arms the timer one interval on
    Cycles(10);
    EXPECT_TRUE(Pictures(TimerFolder(), 't').empty()) << "this interval's timer picture is skipped";
    clock->Advance(60000);
    EXPECT_TRUE(WaitFor([&] { return Pictures(TimerFolder(), 't').size() == 1; }));
}

TEST_F(EngineTest, SequenceNumbersWithinOneSecond) {
    Start();
    clock->SetWall(qvtest::LocalSeconds(2003, 7, 15, 12, 30, 45), 100);
    engine->StartStop();
    ASSERT_TRUE(DetectOnce());
    ASSERT_TRUE(DetectOnce());
    ASSERT_TRUE(DetectOnce());
    auto names = Pictures(DetectFolder(), 'd');
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], "d2003071512304500.jpg");
    EXPECT_EQ(names[1], "d2003071512304501.jpg");
    EXPECT_EQ(names[2], "d2003071512304502.jpg");
    // No hidden work file is left beside them.
    EXPECT_EQ(qvtest::ListDir(DetectFolder()).size(), 3u);
}

TEST_F(EngineTest, TheFiftyFirstLogLineDropsTheOldest) {
    Start();
    for (int i = 0; i < 51; ++i)
        engine->WriteLog(i == 0 ? 0 : 1, "pic" + std::to_string(i) + ".jpg");
    host.Pump();
    const auto& events = engine->Events();
    ASSERT_EQ(events.Count(), 50);
    EXPECT_NE(events.Visible(0).find("タイマー保存 pic50.jpg"), std::string::npos);
    EXPECT_EQ(events.Hidden(0), "1,pic50.jpg");
    EXPECT_EQ(events.Hidden(49), "1,pic1.jpg");
    // The picture of each line is found in its kind's folder, and lines stay paired.
    EXPECT_EQ(engine->EventPicturePath(49), TimerFolder() + "/pic1.jpg");
    engine->WriteLog(2, "メール送信に失敗しました");
    host.Pump();
    EXPECT_EQ(engine->EventPicturePath(0), "");
    EXPECT_EQ(engine->EventPicturePath(1), TimerFolder() + "/pic50.jpg");
    // The file keeps every line.
    EXPECT_EQ(LogLines().size(), 52u);
}

TEST_F(EngineTest, LogFilesOnEitherSideOfMidnight) {
    Start();
    clock->SetWall(qvtest::LocalSeconds(2003, 12, 31, 23, 59, 59), 900);
    engine->WriteLog(0, "d2003123123595900.jpg");
    clock->Advance(200);
    engine->WriteLog(2, "a@example.jpにメール送信");
    auto files = qvtest::ListDir(home.File("log"));
    ASSERT_EQ(files, (std::vector<std::string>{"2003-12-31.log", "2004-01-01.log"}));
    std::string first = qvtest::ReadFile(home.File("log/2003-12-31.log"));
    EXPECT_EQ(
        first,
        qv::text::Utf8ToCp932("0,2003/12/31 23:59:59,動体検知保存,d2003123123595900.jpg") + "\r\n");
    std::string second = qvtest::ReadFile(home.File("log/2004-01-01.log"));
    EXPECT_EQ(second,
              qv::text::Utf8ToCp932("2,2004/01/01 00:00:00,メール通知,a@example.jpにメール送信") +
                  "\r\n");
}

TEST_F(EngineTest, StreamCameraLossAndReturnAreLoggedEvenWhileStopped) {
    Start();
    clock->SetWall(qvtest::LocalSeconds(2026, 12, 6, 21, 0, 0), 0);
    core.StreamEvents.push_back({3, "玄関"});
    core.StreamEvents.push_back({4, "玄関"});
    engine->Tick();
    host.Pump();
    ASSERT_EQ(engine->Events().Count(), 2);
    EXPECT_EQ(engine->Events().Hidden(0), "4,玄関");
    EXPECT_NE(engine->Events().Visible(1).find("カメラ切断 玄関"), std::string::npos);
    EXPECT_EQ(engine->EventPicturePath(0), "");  // nothing to open for these lines
    EXPECT_TRUE(LogLines().empty()) << "the day's file keeps kinds 0 to 2 only";
}

TEST_F(EngineTest, LogLinesFromTwoThreadsNeverInterleave) {
    Start();
    auto writer = [&](int kind) {
        for (int i = 0; i < 200; ++i) engine->WriteLog(kind, std::string(100, char('a' + kind)));
    };
    std::thread a(writer, 0), b(writer, 1);
    a.join();
    b.join();
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 400u);
    for (const auto& line : lines) {
        char c = line[0] == '0' ? 'a' : 'b';
        EXPECT_EQ(line.substr(line.size() - 100), std::string(100, c));
    }
}

TEST_F(EngineTest, OutOfRangeSettingsAreClampedWhereUsed) {
    Mode0().SecTimer = 0;
    Mode0().SecCount = -5;
    Mode0().TimerInterval = 0;
    Mode0().TimerEnable = 1;
    Mode0().MotionSensitivity = 0;
    settings.Basic.PictureQuality = 99;
    settings.CurrentMode = 7;
    for (auto& w : settings.Warning) {
        w.SecTimer = 0;
        w.SecCount = -5;
        w.TimerInterval = 0;
    }
    Start();
    EXPECT_EQ(engine->CurrentMode(), 2);
    engine->SelectMode(0);
    engine->StartStop();
    // Sensitivity 0 is taken as 1: a level of 0 is no detection.
    ASSERT_TRUE(WaitFor([&] { return Pictures(TimerFolder(), 't').size() == 1 && Idle(); }));
    EXPECT_EQ(engine->DetectCount(), 0);
    EXPECT_EQ(core.LastQuality, 100);
    engine->Tick();
    engine->Tick();
    EXPECT_EQ(engine->CountdownShown(), 60) << "an interval of 0 minutes is taken as 1";
    clock->Advance(30000);
    Cycles(10);
    EXPECT_EQ(Pictures(TimerFolder(), 't').size(), 1u);
    // SecCount -5 is taken as 1.
    ASSERT_TRUE(DetectOnce());
    EXPECT_EQ(engine->WarningCount(), 1);
}

TEST_F(EngineTest, UnloadableFrameSavesNothingAndTheEngineGoesOn) {
    Start();
    core.GarbageFrames = true;
    engine->StartStop();
    core.Level = 5000;
    ASSERT_TRUE(WaitFor([&] { return core.Captures >= 2; }));
    core.Level = 0;
    ASSERT_TRUE(WaitFor([&] { return Idle(); }));
    Cycles(5);
    EXPECT_TRUE(Pictures(DetectFolder(), 'd').empty());
    EXPECT_TRUE(qvtest::ListDir(DetectFolder()).empty()) << "no partial file under any name";
    EXPECT_TRUE(LogLines().empty());
    core.GarbageFrames = false;
    EXPECT_TRUE(DetectOnce());
}

TEST_F(EngineTest, NarrowFrameIsNotSaved) {
    core.Width = 64;
    Start();
    engine->StartStop();
    core.Level = 5000;
    ASSERT_TRUE(WaitFor([&] { return core.Captures >= 1; }));
    core.Level = 0;
    ASSERT_TRUE(WaitFor([&] { return Idle(); }));
    Cycles(3);
    EXPECT_TRUE(Pictures(DetectFolder(), 'd').empty());
}

TEST_F(EngineTest, UncreatableFolderSavesNothingAndTheEngineGoesOn) {
    qvtest::WriteFile(home.File("afile"), "x");
    settings.Basic.DetectPath = home.File("afile") + "/detect";  // below a plain file
    Start();
    engine->StartStop();
    core.Level = 5000;
    ASSERT_TRUE(WaitFor([&] { return core.Captures >= 2; }));
    core.Level = 0;
    ASSERT_TRUE(WaitFor([&] { return Idle(); }));
    EXPECT_TRUE(LogLines().empty());
    EXPECT_TRUE(engine->ThreadsRunning());
}

TEST_F(EngineTest, FullDiskLeavesNoPartialPicture) {
    Start();
    // Every file write beyond 2 KB fails, as on a full disk, for every step of the saving.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 2048;
    setrlimit(RLIMIT_FSIZE, &small);
    engine->StartStop();
    core.Level = 5000;
    bool captured = WaitFor([&] { return core.Captures >= 2; });
    core.Level = 0;
    bool idle = WaitFor([&] { return Idle(); });
    setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_TRUE(captured);
    ASSERT_TRUE(idle);
    EXPECT_TRUE(qvtest::ListDir(DetectFolder()).empty()) << "neither a picture nor a work file";
    EXPECT_TRUE(LogLines().empty());
    EXPECT_TRUE(DetectOnce()) << "the engine goes on once there is room again";
}

TEST_F(EngineTest, AlarmDisplayLastsTwentyOneTicksAndAcknowledgeEndsIt) {
    Mode0().SecCount = 1;
    Mode0().SecurityPic = 1;
    Mode0().SecurityWave = 1;
    Mode0().SecurityWaveLoop = 1;
    Mode0().SecurityWaveName = "";
    Start();
    engine->StartStop();
    ASSERT_TRUE(DetectOnce());
    EXPECT_TRUE(engine->CautionShown());
    EXPECT_FALSE(host.listVisible);
    ASSERT_EQ(sound.Plays().size(), 1u);
    EXPECT_EQ(sound.Plays()[0], home.Path() + "/beep.wav")
        << "empty name: beep.wav of the program folder";
    EXPECT_TRUE(sound.Looping());
    for (int i = 0; i < 20; ++i) engine->Tick();
    EXPECT_TRUE(engine->CautionShown());
    EXPECT_TRUE(sound.Playing());
    engine->Tick();
    EXPECT_FALSE(engine->CautionShown());
    EXPECT_TRUE(host.listVisible);
    EXPECT_FALSE(sound.Playing());
    EXPECT_FALSE(engine->SoundLooping());

    // Second alarm, ended by a click.
    clock->Advance(120000);
    ASSERT_TRUE(WaitFor([&] { return !engine->WarningHold(); }));
    ASSERT_TRUE(DetectOnce());
    EXPECT_TRUE(engine->CautionShown());
    engine->Tick();
    engine->Acknowledge();
    EXPECT_FALSE(engine->CautionShown());
    EXPECT_FALSE(sound.Playing());
}

TEST_F(EngineTest, LoopingSoundAloneRunsItsFullTime) {
    Mode0().SecCount = 1;
    Mode0().SecurityWave = 1;
    Mode0().SecurityWaveLoop = 1;
    Mode0().SecurityTimerInterval = 1;
    Start();
    engine->StartStop();
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(DetectOnce());
        ASSERT_TRUE(engine->SoundLooping());
        for (int i = 0; i < 20; ++i) engine->Tick();
        EXPECT_TRUE(sound.Playing()) << "round " << round;
        engine->Tick();
        EXPECT_FALSE(sound.Playing());
        clock->Advance(60000);
        ASSERT_TRUE(WaitFor([&] { return !engine->WarningHold(); }));
    }
}

TEST_F(EngineTest, OneMailPerWarningWithMailSwitchOn) {
    Mode0().SecCount = 1;
    Mode0().SendMail = 1;
    Mode0().SecurityTimerInterval = 1;
    settings.Mail.SmtpServer = "127.0.0.1";
    Start();
    EXPECT_TRUE(engine->MailSwitch());
    engine->StartStop();
    ASSERT_TRUE(DetectOnce());
    ASSERT_TRUE(WaitFor(
        [&] {
            auto lines = LogLines();
            return lines.size() == 2 && !engine->RequestMailEvent().IsSet();
        },
        60000ms));
    auto lines = LogLines();
    EXPECT_EQ(lines[1].substr(0, 2), "2,");
    EXPECT_NE(lines[1].find(",メール通知,"), std::string::npos);
    // The job's own picture copy is gone; only the engine's files may remain.
    for (const auto& name : qvtest::ListDir(engine->TempFolderPath()))
        EXPECT_EQ(name.rfind("QVTmp200", 0), std::string::npos) << name;

    // Mail switch off: a warning without mail.
    engine->ToggleMailSwitch();
    clock->Advance(60000);
    ASSERT_TRUE(WaitFor([&] { return !engine->WarningHold(); }));
    ASSERT_TRUE(DetectOnce());
    Cycles(20);
    EXPECT_EQ(engine->WarningCount(), 2);
    EXPECT_EQ(LogLines().size(), 3u);
}

TEST_F(EngineTest, MailsAreAtLeastMailIntervalApart) {
    Mode0().SecCount = 1;
    Mode0().SendMail = 1;
    Mode0().SecurityTimerInterval = 1;
    Mode0().MailInterval = 5;
    settings.Mail.SmtpServer = "127.0.0.1";
    Start(0xFFFFF000u);  // the interval ends beyond the counter's wrap
    engine->StartStop();
    auto mails = [&] {
        int n = 0;
        for (const auto& line : LogLines()) n += line.rfind("2,", 0) == 0;
        return n;
    };
    auto warn = [&](int expectedMails) {
        ASSERT_TRUE(DetectOnce());
        ASSERT_TRUE(WaitFor([&] { return !engine->RequestMailEvent().IsSet(); }, 60000ms));
        Cycles(5);
        EXPECT_EQ(mails(), expectedMails);
    };
    warn(1);
    // The hold ends after a minute, and closing a settings sheet ends it at once: both warn
    // again, neither mails within the five minutes.
    clock->Advance(60000);
    ASSERT_TRUE(WaitFor([&] { return !engine->WarningHold(); }));
    warn(1);
    engine->BeginSettingsDialog();
    engine->EndBasicSettings(engine->Settings()->Basic);
    warn(1);
    EXPECT_EQ(engine->WarningCount(), 3);
    clock->Advance(4 * 60000 - 1);
    engine->EndBasicSettings(engine->Settings()->Basic);
    warn(1);
    clock->Advance(1);
    engine->EndBasicSettings(engine->Settings()->Basic);
    warn(2);
}

TEST_F(EngineTest, WarningDuringAMailJobLeavesThatJobsPictureAlone) {
    Mode0().SecCount = 1;
    Mode0().SendMail = 1;
    Mode0().SecurityTimerInterval = 1;
    settings.Mail.SmtpServer = "127.0.0.1";
    Start();
    engine->StartStop();
    ASSERT_TRUE(DetectOnce());
    auto jobFiles = [&] {
        std::vector<std::string> out;
        for (const auto& name : qvtest::ListDir(engine->TempFolderPath()))
            if (name.rfind("QVTmp200", 0) == 0) out.push_back(name);
        return out;
    };
    auto first = jobFiles();
    if (!engine->RequestMailEvent().IsSet() || first.size() != 1)
        GTEST_SKIP() << "the mail job ended before a second warning could meet it";
    const std::string picture = qvtest::ReadFile(engine->TempFolderPath() + first[0]);

    clock->Advance(60000);
    ASSERT_TRUE(WaitFor([&] { return !engine->WarningHold(); }));
    ASSERT_TRUE(DetectOnce());
    ASSERT_EQ(engine->WarningCount(), 2);
    if (!engine->RequestMailEvent().IsSet())
        GTEST_SKIP() << "the mail job ended before the second warning";
    EXPECT_EQ(jobFiles(), first) << "no second copy while a job runs";
    EXPECT_EQ(qvtest::ReadFile(engine->TempFolderPath() + first[0]), picture)
        << "the running job's picture was overwritten";

    ASSERT_TRUE(WaitFor([&] { return !engine->RequestMailEvent().IsSet(); }, 60000ms));
    int mails = 0;
    for (const auto& line : LogLines()) mails += line.rfind("2,", 0) == 0;
    EXPECT_EQ(mails, 1) << "one mail per signalled request";
    EXPECT_TRUE(jobFiles().empty());
}

TEST_F(EngineTest, NoDeviceShowsTheMessageAndRunsOn) {
    core.DeviceCount = 0;
    Start();
    auto messages = host.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("キャプチャデバイスが見つかりませんでした。", 0), 0u);
    EXPECT_TRUE(engine->ThreadsRunning());
}

TEST_F(EngineTest, NamedDeviceNeverFallsBackToAnother) {
    settings.Basic.DeviceName = "Absent Camera";
    Start();
    EXPECT_EQ(core.StartupCalls, 0);
    ASSERT_EQ(host.Messages().size(), 1u);
    EXPECT_EQ(host.Messages()[0], "選択したデバイスが見つかりませんでした。");
}

TEST_F(EngineTest, DeviceThatFailsToStart) {
    core.FailStartup = true;
    Start();
    ASSERT_EQ(host.Messages().size(), 1u);
    EXPECT_EQ(host.Messages()[0], "選択したデバイスは使用できませんでした。。");
}

TEST_F(EngineTest, StartedDeviceIsWrittenToTheSettingsFile) {
    Start();
    EXPECT_TRUE(host.Messages().empty());
    EXPECT_EQ(IniReadString("BasicSettings", "DeviceName", "", home.File("Quorvex.ini")),
              "Scripted Camera");
    EXPECT_EQ(engine->DeviceLine(), "\u3000\u3000\u3000\u3000\u3000160 × 120 24ビット");
}

TEST_F(EngineTest, ShutdownStepsEndTheThreadsAndWriteTheWindow) {
    Start();
    engine->SelectMode(2);
    std::string temp = engine->TempFolderPath();
    EXPECT_TRUE(qvtest::FileExists(temp));
    engine->RequestExit();
    int ticks = 0;
    while (!host.ended && ticks < 100) {
        engine->Tick();
        ++ticks;
    }
    ASSERT_TRUE(host.ended);
    EXPECT_GE(ticks, 5);
    EXPECT_FALSE(engine->ThreadsRunning());
    std::string ini = home.File("Quorvex.ini");
    EXPECT_EQ(IniReadString("Window", "MainLeft", "", ini), "123");
    EXPECT_EQ(IniReadString("Window", "MainTop", "", ini), "45");
    EXPECT_EQ(IniReadString("Window", "SelectMode", "", ini), "2");
    engine->Finish();
    EXPECT_FALSE(qvtest::FileExists(temp));
    EXPECT_EQ(core.CleanupCalls, 1);
}

TEST_F(EngineTest, SettingsDialogPausesDetection) {
    Start();
    engine->StartStop();
    engine->BeginSettingsDialog();
    core.Level = 5000;
    Cycles(20);
    EXPECT_EQ(engine->DetectCount(), 0);
    engine->EndBasicSettings(settings.Basic);
    EXPECT_TRUE(WaitFor([&] { return engine->DetectCount() >= 1; }));
    core.Level = 0;
}

}  // namespace
