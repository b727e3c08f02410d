// The engine's rules, run through its real threads with a scripted core library, a fast sampling
// period and a clock the test moves.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <csignal>

#include "app/settings/IniFile.h"
#include "platform/text/Text.h"
#include "tests/app/engine/EngineFakes.h"
#include "tests/support/http/HttpRecorder.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestSupport.h"

using qv::engine::MonitorEngine;
using qvtest::ListDir;

namespace {

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int m = 0; m < kOperatingModes; ++m) {
            auto& w = settings.Warning[m] = DefaultWarningSettings(m);
            w.MotionSensitivity = 1500;
            w.SecurityPic = w.SecurityWave = w.SendMail = w.TimerEnable = 0;
        }
        settings.Mail.SmtpServer = "127.0.0.1";  // nothing listens: every mail fails at once
    }
    void TearDown() override {
        if (engine) engine->Finish();
        if (echo) std::fclose(echo);
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
        options.Echo = echo;
        engine = std::make_unique<MonitorEngine>(host, core, sound, options);
        engine->UseSettings(settings);
        engine->Start();
    }
    bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
        return qvtest::WaitFor(done, ms, [this] { host.Pump(); });
    }
    void Cycles(int n) {  // lets the worker threads run a while
        WaitFor([] { return false; }, n * 7);
    }
    bool Idle() {
        return !engine->RequestCaptureEvent().IsSet() && !engine->RequestHdEvent().IsSet() &&
               !engine->RequestMailEvent().IsSet();
    }
    std::vector<std::string> Pictures(const char* folder) {
        return qvtest::FileExists(home.File(folder)) ? ListDir(home.File(folder))
                                                     : std::vector<std::string>{};
    }
    // One detection: the level is above the sensitivity for one reading, then the picture is
    // saved and the engine is idle again.
    bool DetectOnce() {
        const size_t before = Pictures("detect").size();
        core.PulseLevel = 5000;
        return WaitFor(
            [&] { return core.PulseLevel == 0 && Idle() && Pictures("detect").size() > before; });
    }
    std::vector<std::string> LogLines(char kind = 0) {
        std::vector<std::string> lines;
        for (const auto& name : ListDir(home.File("log"))) {
            const std::string all = qvtest::ReadFile(home.File("log/" + name));
            for (size_t pos = 0, end; (end = all.find("\r\n", pos)) != std::string::npos;
                 pos = end + 2) {
                if (!kind || all[pos] == kind)
                    lines.push_back(qv::text::Cp932ToUtf8(all.substr(pos, end - pos)));
            }
        }
        return lines;
    }

    // Standard output, when a test reads it.
    std::string Said() {
        std::fflush(echo);
        return qvtest::ReadFile(tmp.File("stdout"));
    }
    void CaptureStdout() { echo = std::fopen(tmp.File("stdout").c_str(), "w"); }
    static size_t Count(const std::string& text, const std::string& part) {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    }

    qvtest::TempDir home, tmp;
    std::FILE* echo = nullptr;
    AllSettings settings;
    qvtest::FakeCore core;
    qvtest::FakeHost host;
    qvtest::FakeSound sound;
    std::unique_ptr<qvtest::FakeClock> clock;
    std::unique_ptr<MonitorEngine> engine;
};

TEST_F(EngineTest, LevelAtTheSensitivityDetectsOneBelowDoesNot) {
    Start();
    core.Level = 1499;
    engine->Tick();
    EXPECT_EQ(engine->LastLevelShown(), 1499);  // shown while monitoring is off
    engine->StartStop();
    Cycles(30);
    EXPECT_EQ(engine->DetectCount(), 0);
    core.Level = 1500;
    ASSERT_TRUE(WaitFor([&] { return !Pictures("detect").empty(); }));
    // The level is compared unclamped: 65535 is far above 9999 and still a detection.
    Mode0().MotionSensitivity = 9999;
    engine->UseSettings(settings);
    const int before = engine->DetectCount();
    core.Level = 65535;
    EXPECT_TRUE(WaitFor([&] { return engine->DetectCount() > before; }));
    engine->Tick();
    EXPECT_EQ(engine->LastLevelShown(), 9999);
    core.Level = 0;
}

TEST_F(EngineTest, MotionCheckDecidesWhenOnTheLevelWhenOff) {
    auto& on = settings.Warning[1];
    on.MotionCheck = 1;
    on.MotionCheckNoise = 55, on.MotionCheckArea = 20, on.MotionCheckMs = 300;
    on.MotionMask = "0,0 0.5,0 0.5,0.5";
    Mode0().MotionMask = "0.5,0.5 1,0.5 1,1";  // a mask counts with the check off too
    struct Case {
        int mode;  // 0: check off, 1: check on
        int level;
        bool confirmed, detects;
    } const cases[] = {{0, 1500, false, true},
                       {0, 1499, true, false},
                       {1, 0, true, true},
                       {1, 9999, false, false},
                       {0, 1500, false, true}};
    Start();
    EXPECT_EQ(core.LastSetup(), qv::engine::MotionCheckOf(Mode0()));
    engine->StartStop();
    for (const Case& c : cases) {
        engine->SelectMode(c.mode);
        EXPECT_EQ(core.LastSetup(), qv::engine::MotionCheckOf(settings.Warning[c.mode]));
        const int before = engine->DetectCount();
        core.Confirmed = c.confirmed;
        core.Level = c.level;
        if (c.detects) {
            EXPECT_TRUE(WaitFor([&] { return engine->DetectCount() > before; })) << c.mode;
        } else {
            Cycles(30);
            EXPECT_EQ(engine->DetectCount(), before) << c.mode << " " << c.level;
        }
        core.Level = 0;
        core.Confirmed = false;
        ASSERT_TRUE(WaitFor([&] { return Idle(); }));
    }
}

TEST_F(EngineTest, DetectionsTheCheckRejectsSuggestItOnce) {
    Start();
    engine->StartStop();
    core.Level = 5000;  // noise the check does not confirm
    ASSERT_TRUE(WaitFor([&] { return !host.messages.empty(); }));
    EXPECT_GE(engine->DetectCount(), qv::engine::kHintDetections);
    EXPECT_NE(host.messages[0].find("感度調整"), std::string::npos);
    EXPECT_EQ(IniReadString("Window", "MotionCheckHint", "0", home.File("Quorvex.ini")), "1");
    const int seen = engine->DetectCount();
    ASSERT_TRUE(
        WaitFor([&] { return engine->DetectCount() > seen + 2 * qv::engine::kHintDetections; }));
    core.Level = 0;
    EXPECT_EQ(host.messages.size(), 1u);
    // A new start with the remembered flag says nothing.
    engine->Finish();
    settings.Window.MotionCheckHint = 1;
    host.messages.clear();
    Start();
    engine->StartStop();
    core.Level = 5000;
    ASSERT_TRUE(WaitFor([&] { return engine->DetectCount() > 2 * qv::engine::kHintDetections; }));
    core.Level = 0;
    WaitFor([&] { return Idle(); });
    EXPECT_TRUE(host.messages.empty());
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
    ASSERT_TRUE(WaitFor([&] { return Pictures("detect").size() == 1 && Idle(); }));
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
    // Start/stop ends the hold and keeps the count, a mode change clears it.
    engine->StartStop();
    engine->StartStop();
    ASSERT_TRUE(DetectOnce());
    engine->StartStop();
    engine->StartStop();
    EXPECT_EQ(engine->WindowCount(), 1);
    engine->SelectMode(0);
    EXPECT_EQ(engine->WindowCount(), 0);
}

TEST_F(EngineTest, TimerPictureEveryIntervalAndADetectionGoesFirst) {
    Mode0().TimerEnable = 1;
    Mode0().TimerInterval = 1;
    Mode0().SecCount = 10;
    Start();
    core.Level = 5000;
    engine->StartStop();  // the timer is due at once and so is the detection
    ASSERT_TRUE(WaitFor([&] { return engine->DetectCount() >= 1; }));
    core.Level = 0;
    ASSERT_TRUE(WaitFor([&] { return Idle() && !Pictures("detect").empty(); }));
    engine->Tick();  // re-arms the schedule once this interval's capture has been dealt with
    engine->Tick();
    EXPECT_EQ(engine->CountdownShown(), 60);
    clock->Advance(30000);
    engine->Tick();
    EXPECT_EQ(engine->CountdownShown(), 30);
    Cycles(10);
    EXPECT_TRUE(Pictures("timer").empty()) << "this interval's timer picture is skipped";
    clock->Advance(30000);
    ASSERT_TRUE(WaitFor([&] { return Pictures("timer").size() == 1 && Idle(); }));
    const auto lines = LogLines('1');
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(",タイマー保存,t"), std::string::npos);
}

TEST_F(EngineTest, SequenceNumbersWithinOneSecondAndPrivateModes) {
    ::umask(022);
    Start();
    clock->SetWall(qvtest::LocalSeconds(2003, 7, 15, 12, 30, 45), 100);
    engine->StartStop();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(DetectOnce());
    EXPECT_EQ(Pictures("detect"),
              (std::vector<std::string>{"d2003071512304500.jpg", "d2003071512304501.jpg",
                                        "d2003071512304502.jpg"}));
    // Pictures of the room and the log are the user's alone.
    auto mode = [&](const std::string& path) {
        struct stat st {};
        return ::stat(home.File(path).c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
    };
    EXPECT_EQ(mode("detect"), 0700u);
    EXPECT_EQ(mode("log"), 0700u);
    EXPECT_EQ(mode("detect/d2003071512304500.jpg"), 0600u);
    EXPECT_EQ(mode("log/2003-07-15.log"), 0600u);
}

TEST_F(EngineTest, TheFiftyFirstLogLineDropsTheOldestAndDaysHaveTheirFiles) {
    Start();
    clock->SetWall(qvtest::LocalSeconds(2003, 12, 31, 23, 59, 59), 900);
    for (int i = 0; i < 51; ++i)
        engine->WriteLog(i == 0 ? 0 : 1, "pic" + std::to_string(i) + ".jpg");
    clock->Advance(200);
    engine->WriteLog(2, "a@example.jpにメール送信");
    host.Pump();
    const auto& events = engine->Events();
    ASSERT_EQ(events.Count(), 50);
    EXPECT_EQ(events.Hidden(0), "2,a@example.jpにメール送信");
    EXPECT_NE(events.Visible(1).find("タイマー保存 pic50.jpg"), std::string::npos);
    EXPECT_EQ(events.Hidden(49), "1,pic2.jpg");
    // The picture of each line is found in its kind's folder, and lines stay paired.
    EXPECT_EQ(engine->EventPicturePath(0), "");
    EXPECT_EQ(engine->EventPicturePath(49), home.File("timer") + "/pic2.jpg");
    // The files keep every line, each in the file of its day.
    EXPECT_EQ(ListDir(home.File("log")),
              (std::vector<std::string>{"2003-12-31.log", "2004-01-01.log"}));
    EXPECT_EQ(qvtest::ReadFile(home.File("log/2004-01-01.log")),
              qv::text::Utf8ToCp932("2,2004/01/01 00:00:00,メール通知,a@example.jpにメール送信") +
                  "\r\n");
    EXPECT_EQ(LogLines()[0], "0,2003/12/31 23:59:59,動体検知保存,pic0.jpg");
    EXPECT_EQ(LogLines().size(), 52u);
}

TEST_F(EngineTest, StreamCameraLossAndReturnAreListedButNotInTheLogFile) {
    Start();
    core.StreamEvents = {{3, "玄関"}, {4, "玄関"}};
    engine->Tick();  // monitoring is off: cameras come and go all the same
    host.Pump();
    ASSERT_EQ(engine->Events().Count(), 2);
    EXPECT_EQ(engine->Events().Hidden(0), "4,玄関");
    EXPECT_NE(engine->Events().Visible(1).find("カメラ切断 玄関"), std::string::npos);
    EXPECT_EQ(engine->EventPicturePath(0), "");
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
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 400u);
    for (const auto& line : lines)
        EXPECT_EQ(line.substr(line.size() - 100), std::string(100, line[0] == '0' ? 'a' : 'b'));
}

TEST_F(EngineTest, OutOfRangeSettingsAreClampedWhereUsed) {
    for (auto& w : settings.Warning) w.SecTimer = 0, w.SecCount = -5, w.TimerInterval = 0;
    Mode0().TimerEnable = 1;
    Mode0().MotionSensitivity = 0;
    settings.Basic.PictureQuality = 99;
    settings.CurrentMode = 7;
    Start();
    EXPECT_EQ(engine->CurrentMode(), 2);
    engine->SelectMode(0);
    engine->StartStop();
    // Sensitivity 0 is taken as 1: a level of 0 is no detection.
    ASSERT_TRUE(WaitFor([&] { return Pictures("timer").size() == 1 && Idle(); }));
    EXPECT_EQ(engine->DetectCount(), 0);
    EXPECT_EQ(core.LastQuality, 100);
    engine->Tick();
    engine->Tick();
    EXPECT_EQ(engine->CountdownShown(), 60) << "an interval of 0 minutes is taken as 1";
    ASSERT_TRUE(DetectOnce());
    EXPECT_EQ(engine->WarningCount(), 1) << "SecCount -5 is taken as 1";
}

// A failed step of the saving leaves nothing under any name, and the engine goes on.
TEST_F(EngineTest, FailedSavingLeavesNoPartialPicture) {
    struct Case {
        const char* what;
        std::function<void()> fault, mend;
    };
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, SIG_IGN);
    const Case cases[] = {
        {"unreadable frame", [&] { core.GarbageFrames = true; },
         [&] { core.GarbageFrames = false; }},
        {"too narrow for the stamp", [&] { core.Width = 64; }, [&] { core.Width = 160; }},
        {"full disk",
         [&] {
             rlimit small = old;
             small.rlim_cur = 2048;  // every file write beyond 2 KB fails
             setrlimit(RLIMIT_FSIZE, &small);
         },
         [&] { setrlimit(RLIMIT_FSIZE, &old); }},
    };
    Start();
    engine->StartStop();
    for (const Case& c : cases) {
        const int captures = core.Captures;
        c.fault();
        core.Level = 5000;
        const bool captured = WaitFor([&] { return core.Captures >= captures + 2; });
        core.Level = 0;
        const bool idle = WaitFor([&] { return Idle(); });
        c.mend();
        ASSERT_TRUE(captured && idle) << c.what;
        EXPECT_TRUE(Pictures("detect").empty()) << c.what;
        EXPECT_TRUE(LogLines().empty()) << c.what;
    }
    ASSERT_TRUE(DetectOnce()) << "the engine goes on once the fault is gone";
    // A folder below a plain file cannot be made: nothing saved, the threads run on.
    qvtest::WriteFile(home.File("afile"), "x");
    settings.Basic.DetectPath = home.File("afile") + "/detect";
    engine->UseSettings(settings);
    core.PulseLevel = 5000;
    ASSERT_TRUE(WaitFor([&] { return core.PulseLevel == 0 && Idle(); }));
    EXPECT_EQ(LogLines().size(), 1u);
    EXPECT_TRUE(engine->ThreadsRunning());
}

TEST_F(EngineTest, AlarmLastsTwentyOneTicksAndAClickEndsIt) {
    Mode0().SecCount = 1;
    Mode0().SecurityPic = Mode0().SecurityWave = Mode0().SecurityWaveLoop = 1;
    Mode0().SecurityWaveName = "";
    Start();
    engine->StartStop();
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(DetectOnce());
        EXPECT_TRUE(engine->CautionShown());
        EXPECT_FALSE(host.listVisible);
        EXPECT_EQ(sound.Plays().back(), home.Path() + "/beep.wav") << "beep.wav by default";
        EXPECT_TRUE(sound.Looping());
        if (round == 0) {
            for (int i = 0; i < 20; ++i) engine->Tick();
            EXPECT_TRUE(engine->CautionShown() && sound.Playing());
            engine->Tick();
        } else {
            engine->Tick();
            engine->Acknowledge();
        }
        EXPECT_FALSE(engine->CautionShown());
        EXPECT_TRUE(host.listVisible);
        EXPECT_FALSE(sound.Playing());
        clock->Advance(60000 * Mode0().SecurityTimerInterval);
        ASSERT_TRUE(WaitFor([&] { return !engine->WarningHold(); }));
    }
    // A looping sound alone runs its full time too.
    Mode0().SecurityPic = 0;
    engine->UseSettings(settings);
    ASSERT_TRUE(DetectOnce());
    for (int i = 0; i < 20; ++i) engine->Tick();
    EXPECT_TRUE(sound.Playing());
    engine->Tick();
    EXPECT_FALSE(sound.Playing());
}

TEST_F(EngineTest, MailsFollowTheSwitchAndAreAtLeastMailIntervalApart) {
    Mode0().SecCount = 1;
    Mode0().SendMail = 1;
    Mode0().SecurityTimerInterval = 1;
    Mode0().MailInterval = 5;
    Start(0xFFFFF000u);  // the interval ends beyond the counter's wrap
    EXPECT_TRUE(engine->MailSwitch());
    engine->StartStop();
    auto warn = [&](size_t expectedMails) {
        ASSERT_TRUE(DetectOnce());
        EXPECT_EQ(LogLines('2').size(), expectedMails);
    };
    warn(1);
    EXPECT_NE(LogLines('2')[0].find(",メール通知,"), std::string::npos);
    for (const auto& name : ListDir(engine->TempFolderPath()))
        EXPECT_EQ(name.rfind("QVTmp200", 0), std::string::npos) << "the job's copy is gone";
    // The hold ends after a minute, and closing a settings sheet ends it at once: both warn
    // again, neither mails within the five minutes.
    clock->Advance(60000);
    ASSERT_TRUE(WaitFor([&] { return !engine->WarningHold(); }));
    warn(1);
    for (uint32_t step : {0u, 4 * 60000u - 1}) {
        clock->Advance(step);
        engine->BeginSettingsDialog();
        engine->EndBasicSettings(engine->Settings()->Basic);
        warn(1);
    }
    EXPECT_EQ(engine->WarningCount(), 4);
    clock->Advance(1);
    engine->EndBasicSettings(engine->Settings()->Basic);
    warn(2);
    // Mail switch off: a warning without mail.
    engine->ToggleMailSwitch();
    clock->Advance(5 * 60000);
    engine->EndBasicSettings(engine->Settings()->Basic);
    warn(2);
    EXPECT_EQ(engine->WarningCount(), 6);
}

// How the device is opened at start-up, and again after a device selection.
TEST_F(EngineTest, DeviceStarts) {
    struct Case {
        int count;
        std::vector<std::string> names;
        const char* wanted;
        bool fails;
        const char* message;
        int started;
    };
    const Case cases[] = {
        {1, {"Scripted Camera"}, "", false, "", 0},
        {2, {"Cam A", "Cam B"}, "Cam B", false, "", 1},
        {0, {}, "", false, "キャプチャデバイスが見つかりませんでした。\nカメラ等の", -1},
        {1, {"Cam A"}, "Absent Camera", false, "選択したデバイスが見つかりませんでした。", -1},
        {1, {"Cam A"}, "", true, "選択したデバイスは使用できませんでした。。", 0},
    };
    for (const Case& c : cases) {
        core.DeviceCount = c.count;
        core.Names = c.names;
        core.FailStartup = c.fails;
        core.LastStarted = -1;
        settings.Basic.DeviceName = c.wanted;
        host.messages.clear();
        Start();
        EXPECT_EQ(core.LastStarted, c.started) << c.wanted;
        EXPECT_TRUE(engine->ThreadsRunning());
        if (*c.message) {
            ASSERT_EQ(host.messages.size(), 1u) << c.wanted;
            EXPECT_EQ(host.messages[0].rfind(c.message, 0), 0u) << host.messages[0];
        } else {
            EXPECT_EQ(host.messages, std::vector<std::string>{}) << c.wanted;
            EXPECT_EQ(IniReadString("BasicSettings", "DeviceName", "", home.File("Quorvex.ini")),
                      c.names[size_t(c.started)]);
            EXPECT_EQ(engine->DeviceLine(), "\u3000\u3000\u3000\u3000\u3000160 × 120 24ビット");
        }
        engine->Finish();
    }
    // A selection restarts the named device with the window's preview, device 0 when it is
    // gone, and says nothing itself.
    core.Names = {"Cam A", "Cam B"};
    core.DeviceCount = 2;
    core.FailStartup = false;
    host.messages.clear();
    Start();
    engine->TogglePreview();
    core.StatesSet.clear();
    BasicSettings basic;
    basic.DetectPreview = 1;
    std::string opened;
    ASSERT_TRUE(engine->RestartDevice("Cam B", basic, &opened));
    EXPECT_EQ(core.LastStarted, 1);
    EXPECT_EQ(opened, "Cam B");
    EXPECT_TRUE(core.HasState(qv::engine::state::MotionMode, qv::engine::state::MotionShow));
    EXPECT_TRUE(core.HasState(qv::engine::state::WindowWidth, 1)) << "the preview stays off";
    ASSERT_TRUE(engine->RestartDevice("Gone", basic, &opened));
    EXPECT_EQ(core.LastStarted, 0);
    EXPECT_EQ(opened, "Cam A");
    core.FailStartup = true;
    EXPECT_FALSE(engine->RestartDevice("Cam B", basic));
    EXPECT_TRUE(host.messages.empty());
    // A network camera that is connecting or away says so at the next tick.
    for (auto [link, text] : {std::pair{qv::engine::state::LinkConnecting, "接続中…"},
                              {qv::engine::state::LinkLost, "カメラ切断"}}) {
        core.Link = link;
        engine->Tick();
        EXPECT_EQ(engine->DeviceLine(), std::string("\u3000\u3000\u3000\u3000\u3000") + text);
    }
}

TEST_F(EngineTest, ExitCutsAMailJobShortWhateverTheServerDoes) {
    // A server that answers EHLO one byte every 100 ms, for 30 s.
    qvtest::ScriptedServer smtp;
    smtp.Send("220 hi\r\n").ExpectLine().Trickle(std::string(300, 'x'), 100);
    ASSERT_TRUE(smtp.Start());
    Mode0().SecCount = 1;
    Mode0().SendMail = 1;
    Mode0().SecurityTimerInterval = 1;
    settings.Mail.SmtpPort = smtp.Port();
    settings.Mail.MailAddress = "cam@example.org";
    settings.Mail.SendMailAddress = "me@example.org";
    Start();
    engine->StartStop();
    core.PulseLevel = 5000;
    ASSERT_TRUE(WaitFor([&] { return smtp.Connected(); }));
    engine->Finish();  // waits for the mail thread
    smtp.Transcript();
    EXPECT_TRUE(smtp.ClientLeftDuringTrickle()) << "the exit waited for the server";
    const auto mails = LogLines('2');
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_NE(mails[0].find(",メール通知,メール送信に失敗しました"), std::string::npos) << mails[0];
    host.Pump();
    ASSERT_GE(engine->Events().Count(), 1);
    EXPECT_FALSE(engine->Events().Detail(0).empty());  // the reason, as the line's tooltip
}

TEST_F(EngineTest, ShutdownStepsEndTheThreadsAndWriteTheWindow) {
    Start();
    engine->SelectMode(2);
    const std::string temp = engine->TempFolderPath();
    EXPECT_TRUE(qvtest::FileExists(temp));
    engine->RequestExit();
    int ticks = 0;
    while (!host.ended && ticks < 100) engine->Tick(), ++ticks;
    ASSERT_TRUE(host.ended);
    EXPECT_GE(ticks, 5);
    EXPECT_FALSE(engine->ThreadsRunning());
    const std::string ini = home.File("Quorvex.ini");
    EXPECT_EQ(IniReadString("Window", "MainLeft", "", ini), "123");
    EXPECT_EQ(IniReadString("Window", "MainTop", "", ini), "45");
    EXPECT_EQ(IniReadString("Window", "SelectMode", "", ini), "2");
    engine->Finish();
    EXPECT_FALSE(qvtest::FileExists(temp));
    EXPECT_EQ(core.CleanupCalls, 1);
}

}  // namespace

namespace {

// Old pictures go at start-up, or after the settings change that sets a limit; never without
// one, and files the program did not name stay.
TEST_F(EngineTest, CleanUpRunsAtStartAndAfterASettingsChangeOnceALimitIsSet) {
    CaptureStdout();
    ASSERT_EQ(::mkdir(home.File("timer").c_str(), 0700), 0);
    const std::string old = home.File("timer/t2003060112000000.jpg");
    const std::string foreign = home.File("timer/holiday.jpg");
    for (const bool atStart : {true, false}) {
        for (const auto& path : {old, foreign}) {
            qvtest::WriteFile(path, std::string(1000, 'x'));
            const timeval times[2] = {{1057000000 - 30 * 86400, 0}, {1057000000 - 30 * 86400, 0}};
            ASSERT_EQ(::utimes(path.c_str(), times), 0);
        }
        settings.Retention.PictureDays = atStart ? 7 : 0;
        Start();
        if (!atStart) {
            EXPECT_TRUE(qvtest::FileExists(old)) << "nothing is deleted without a limit";
            RetentionSettings retention;
            retention.PictureDays = 7;
            engine->EndLivingSettings(retention, settings.Hooks);
            RetentionSettings stored;
            LoadRetentionSettings(home.File("Quorvex.ini"), stored);
            EXPECT_EQ(stored.PictureDays, 7);
        }
        ASSERT_TRUE(WaitFor([&] { return !qvtest::FileExists(old); })) << atStart;
        EXPECT_TRUE(qvtest::FileExists(foreign));
        ASSERT_TRUE(WaitFor(
            [&] { return Count(Said(), "retention: deleted 1 picture") == (atStart ? 1u : 2u); }));
        engine->Finish();
        host.Pump();
    }
}

// The picture folder is replaced by a plain file, which stops even root from saving there.
TEST_F(EngineTest, DiskOutageIsToldOnceAndSavingResumesByItself) {
    CaptureStdout();
    const std::string events = home.File("events");
    settings.Hooks.Command = "/bin/sh -c \"echo %e >> " + events + "\"";
    settings.Hooks.CommandEvents = "disk,detect";
    Start();
    engine->StartStop();
    const std::string folder = home.File("blocked");
    settings.Basic.DetectPath = folder;
    engine->UseSettings(settings);
    auto detect = [&] {
        const int captures = core.Captures;
        core.PulseLevel = 5000;
        return WaitFor([&] { return core.Captures > captures && Idle(); });
    };
    for (int outage = 1; outage <= 2; ++outage) {
        qvtest::WriteFile(folder, "not a folder");
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(detect());
        ASSERT_EQ(::unlink(folder.c_str()), 0);
        ASSERT_TRUE(detect());
        ASSERT_EQ(ListDir(folder).size(), 1u) << "saving resumed";
        engine->DrainHooks();
        const std::string said = Said();
        EXPECT_EQ(Count(said, "画像を保存できません " + folder + "/: Not a directory"),
                  size_t(outage));
        EXPECT_EQ(Count(said, "画像の保存を再開しました"), size_t(outage));
        EXPECT_EQ(host.Notices().size(), size_t(outage));
        EXPECT_EQ(qvtest::ReadFile(events),
                  outage == 1 ? "disk\ndetect\n" : "disk\ndetect\ndisk\ndetect\n");
        for (const auto& name : ListDir(folder)) ::unlink((folder + "/" + name).c_str());
        ::rmdir(folder.c_str());
    }
    EXPECT_EQ(LogLines().size(), 2u) << "the day's file has the saved pictures only";
}

// A camera lost longer than CameraLostSeconds (reconnection attempts included) raises
// camera-lost once and camera-back on its return; the camera-lost mail goes to standard output
// only and leaves the warning mail free to go at once.
TEST_F(EngineTest, CameraLostAndBackReachTheWebhookAndTheLostMailIsNoWarningMail) {
    qvtest::HttpRecorder recorder;
    if (!recorder.Started()) GTEST_SKIP() << recorder.SkipReason();
    CaptureStdout();
    settings.Hooks.WebhookUrl = recorder.BaseUrl() + "/hook";
    settings.Hooks.CameraLostSeconds = 60;
    settings.Hooks.CameraLostMail = 1;
    Mode0().SecCount = 1;
    Mode0().SendMail = 1;
    Mode0().MailInterval = 5;
    Start();
    auto bodies = [&] {
        engine->DrainHooks();
        std::string all;
        for (const auto& r : recorder.Requests()) all += r.Body + "\n";
        return all;
    };
    const struct {
        unsigned long link;
        uint32_t advance;
        const char* expect;  // the events delivered so far
    } steps[] = {
        {qv::engine::state::LinkLost, 0, ""},
        {qv::engine::state::LinkConnecting, 59999, ""},
        {qv::engine::state::LinkLost, 1, "camera-lost"},
        {qv::engine::state::LinkConnecting, 600000, "camera-lost"},
        {0, 0, "camera-lost camera-back"},
        {0, 600000, "camera-lost camera-back"},
    };
    for (const auto& step : steps) {
        core.Link = step.link;
        clock->Advance(step.advance);
        engine->Tick();
        std::string names;
        for (const char* e : {"camera-lost", "camera-back", "warning"})
            if (bodies().find(std::string("\"event\":\"") + e) != std::string::npos)
                names += names.empty() ? e : std::string(" ") + e;
        EXPECT_EQ(names, step.expect) << step.link << " +" << step.advance;
    }
    EXPECT_EQ(Count(bodies(), "\"event\""), 2u) << "each once";
    ASSERT_EQ(host.Notices().size(), 1u);
    ASSERT_TRUE(
        WaitFor([&] { return Said().find("メール送信に失敗しました") != std::string::npos; }));
    EXPECT_TRUE(LogLines('2').empty()) << "the day's mail lines are the warning mails'";
    engine->StartStop();
    ASSERT_TRUE(DetectOnce());
    EXPECT_EQ(LogLines('2').size(), 1u) << "the camera-lost mail did not start MailInterval";
    EXPECT_NE(bodies().find("\"level\":5000"), std::string::npos);
}

}  // namespace
