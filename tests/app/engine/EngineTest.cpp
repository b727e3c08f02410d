// The engine's rules, run through its real threads with a scripted core library, a fast sampling
// period and a clock the test moves.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <thread>

#include "app/settings/IniFile.h"
#include "tests/app/engine/EngineFakes.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/http/HttpRecorder.h"

using qv::engine::MonitorEngine;
using qvtest::ListDir;
namespace st = qv::engine::state;

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
        echo = std::fopen(tmp.File("stdout").c_str(), "w");
    }
    void TearDown() override {
        if (engine) engine->Finish();
        std::fclose(echo);
    }
    WarningSettings& Mode0() { return settings.Warning[0]; }
    // Every detection warns, with a hold of one minute.
    void WarnAtOnce(int mail = 0) {
        Mode0().SecCount = Mode0().SecurityTimerInterval = 1;
        Mode0().SendMail = mail;
    }
    void Start(uint32_t startTick = 1000, bool monitor = false) {
        clock = std::make_unique<qvtest::FakeClock>(startTick);
        qv::engine::EngineOptions options;
        options.ProgramFolder = home.Path() + "/";
        options.SettingsFile = Ini();
        options.PollMs = 3;
        options.TimeSource = clock.get();
        options.TempParent = tmp.Path();
        options.Echo = echo;
        engine = std::make_unique<MonitorEngine>(host, core, sound, options);
        engine->UseSettings(settings);
        engine->Start();
        if (monitor) engine->StartStop();
    }
    std::string Ini() { return home.File("Quorvex.ini"); }
    bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
        return qvtest::WaitFor(done, ms, [this] { host.Pump(); });
    }
    void Cycles(int n) {
        WaitFor([] { return false; }, n * 7);
    }  // the workers run a while
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
        return qvtest::LogLines(home.File("log"), kind);
    }
    std::string Said() {  // standard output
        std::fflush(echo);
        return qvtest::ReadFile(tmp.File("stdout"));
    }
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

// With the check off the level decides, compared unclamped (65535 is far above 9999); with it on
// the check alone decides. A mask counts either way.
TEST_F(EngineTest, MotionCheckDecidesWhenOnTheLevelWhenOff) {
    auto& on = settings.Warning[1];
    on.MotionCheck = 1;
    on.MotionCheckNoise = 55, on.MotionCheckArea = 20, on.MotionCheckMs = 300;
    on.MotionMask = "0,0 0.5,0 0.5,0.5";
    Mode0().MotionMask = "0.5,0.5 1,0.5 1,1";
    settings.Warning[2].MotionSensitivity = 9999;
    const struct {
        int mode, level;
        bool confirmed, detects;
    } cases[] = {{0, 1500, false, true},  {0, 1499, true, false},  {1, 0, true, true},
                 {1, 9999, false, false}, {2, 65535, false, true}, {0, 1500, false, true}};
    Start();
    core.Level = 1499;
    engine->Tick();
    EXPECT_EQ(engine->LastLevelShown(), 1499);  // shown while monitoring is off
    engine->StartStop();
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.mode << " " << c.level);
        engine->SelectMode(c.mode);
        EXPECT_EQ(core.LastSetup(), qv::engine::MotionCheckOf(settings.Warning[c.mode]));
        const int before = engine->DetectCount();
        core.Confirmed = c.confirmed;
        core.Level = c.level;
        EXPECT_EQ(WaitFor([&] { return engine->DetectCount() > before; }, c.detects ? 10000 : 210),
                  c.detects);
        engine->Tick();
        EXPECT_EQ(engine->LastLevelShown(), std::min(c.level, 9999));
        core.Level = 0;
        core.Confirmed = false;
        ASSERT_TRUE(WaitFor([&] { return Idle(); }));
    }
}

// Detections the check rejects bring one hint, remembered in the settings file.
TEST_F(EngineTest, DetectionsTheCheckRejectsSuggestItOnce) {
    for (int hint : {0, 1}) {
        settings.Window.MotionCheckHint = hint;
        Start(1000, true);
        core.Level = 5000;  // noise the check does not confirm
        ASSERT_TRUE(
            WaitFor([&] { return engine->DetectCount() > 3 * qv::engine::kHintDetections; }));
        core.Level = 0;
        ASSERT_TRUE(WaitFor([&] { return Idle(); }));
        EXPECT_EQ(host.messages.size(), hint ? 0u : 1u);
        EXPECT_EQ(IniReadString("Window", "MotionCheckHint", "0", Ini()), "1");
        engine->Finish();
        host.messages.clear();
    }
}

TEST_F(EngineTest, PendingRequestDropsDetection) {
    core.BlockCapture = true;  // the first frame is being grabbed for a long time
    Start(1000, true);
    core.Level = 5000;
    ASSERT_TRUE(WaitFor([&] { return engine->DetectCount() == 1; }));
    Cycles(30);
    EXPECT_EQ(engine->DetectCount(), 1) << "detections while a request is pending are not counted";
    core.Level = 0;
    core.BlockCapture = false;
    ASSERT_TRUE(WaitFor([&] { return Pictures("detect").size() == 1 && Idle(); }));
    EXPECT_EQ(core.Captures, 1);
}

TEST_F(EngineTest, DetectionWindowDoesNotSlide) {
    Mode0().SecCount = 2;
    Mode0().SecTimer = 10;
    Start(1000, true);
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
    Mode0().TimerEnable = Mode0().TimerInterval = 1;
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
    EXPECT_EQ(LogLines('1').size(), 1u);
}

TEST_F(EngineTest, SequenceNumbersWithinOneSecondAndPrivateModes) {
    ::umask(022);
    Start(1000, true);
    clock->SetWall(qvtest::LocalTime(2003, 7, 15, 12, 30, 45), 100);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(DetectOnce());
    EXPECT_EQ(Pictures("detect"),
              (std::vector<std::string>{"d2003071512304500.jpg", "d2003071512304501.jpg",
                                        "d2003071512304502.jpg"}));
    // Pictures of the room and the log are the user's alone.
    for (auto [path, mode] : {std::pair{"detect", 0700u},
                              {"log", 0700u},
                              {"detect/d2003071512304500.jpg", 0600u},
                              {"log/2003-07-15.log", 0600u}}) {
        struct stat info {};
        ASSERT_EQ(::stat(home.File(path).c_str(), &info), 0) << path;
        EXPECT_EQ(info.st_mode & 0777, mode) << path;
    }
}

// Every line goes to the file of its day (the list's fifty and its order are the window
// test's); stream cameras that come and go are listed but not kept.
TEST_F(EngineTest, LogLinesGoToTheFileOfTheirDayAndStreamCamerasAreListedOnly) {
    Start();
    clock->SetWall(qvtest::LocalTime(2003, 12, 31, 23, 59, 59), 900);
    engine->WriteLog(1, "pic0.jpg");
    clock->Advance(200);
    engine->WriteLog(2, "a@example.jpにメール送信");
    EXPECT_EQ(ListDir(home.File("log")),
              (std::vector<std::string>{"2003-12-31.log", "2004-01-01.log"}));
    EXPECT_EQ(qvtest::ReadFile(home.File("log/2004-01-01.log")),
              qv::text::Utf8ToCp932("2,2004/01/01 00:00:00,メール通知,a@example.jpにメール送信") +
                  "\r\n");
    EXPECT_EQ(LogLines()[0], "1,2003/12/31 23:59:59,タイマー保存,pic0.jpg");
    core.StreamEvents = {{3, "玄関"}, {4, "玄関"}};
    engine->Tick();  // monitoring is off: cameras come and go all the same
    host.Pump();
    EXPECT_EQ(engine->Events().Hidden(0), "4,玄関");
    EXPECT_EQ(engine->Events().Hidden(1), "3,玄関");
    EXPECT_EQ(engine->EventPicturePath(3), home.File("timer") + "/pic0.jpg");
    EXPECT_EQ(engine->EventPicturePath(2), "") << "a mail line has no picture";
    EXPECT_EQ(LogLines().size(), 2u) << "the day's file keeps kinds 0 to 2 only";
}

// The log is appended from the saving and mail threads at once: a line is never torn.
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
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 2048;  // every file write beyond 2 KB fails
    const struct {
        const char* what;
        std::function<void(bool)> fault;  // on, then off
    } cases[] = {
        {"unreadable frame", [&](bool on) { core.GarbageFrames = on; }},
        {"full disk", [&](bool on) { setrlimit(RLIMIT_FSIZE, on ? &small : &old); }},
    };
    Start(1000, true);
    for (const auto& c : cases) {
        const int captures = core.Captures;
        c.fault(true);
        core.Level = 5000;
        const bool captured = WaitFor([&] { return core.Captures >= captures + 2; });
        core.Level = 0;
        const bool idle = WaitFor([&] { return Idle(); });
        c.fault(false);
        ASSERT_TRUE(captured && idle) << c.what;
        EXPECT_TRUE(Pictures("detect").empty()) << c.what;
        EXPECT_TRUE(LogLines().empty()) << c.what;
    }
    ASSERT_TRUE(DetectOnce()) << "the engine goes on once the fault is gone";
    EXPECT_EQ(LogLines().size(), 1u);
}

// The caution pictures and a looping sound last 21 ticks; a looping sound alone runs its full
// time too. (A click ending the alarm is the window test's.)
TEST_F(EngineTest, AlarmLastsTwentyOneTicks) {
    WarnAtOnce();
    Mode0().SecurityPic = Mode0().SecurityWave = Mode0().SecurityWaveLoop = 1;
    Mode0().SecurityWaveName = "";
    Start(1000, true);
    for (const bool pictures : {true, false}) {
        Mode0().SecurityPic = pictures;
        engine->UseSettings(settings);
        ASSERT_TRUE(DetectOnce());
        EXPECT_EQ(host.listVisible.load(), !pictures);
        EXPECT_EQ(sound.Last(), home.Path() + "/beep.wav") << "beep.wav by default";
        EXPECT_TRUE(sound.Looping);
        for (int i = 0; i < 20; ++i) engine->Tick();
        EXPECT_EQ(engine->CautionShown(), pictures);
        EXPECT_TRUE(sound.Playing);
        engine->Tick();
        EXPECT_FALSE(engine->CautionShown());
        EXPECT_TRUE(host.listVisible);
        EXPECT_FALSE(sound.Playing);
        clock->Advance(60000);
        ASSERT_TRUE(WaitFor([&] { return !engine->WarningHold(); }));
    }
}

// A warning, the hold after it, and mails at least MailInterval apart.
TEST_F(EngineTest, WarningHoldAndMailsFollowTheSwitchAndAreAtLeastMailIntervalApart) {
    WarnAtOnce(1);
    Mode0().MailInterval = 5;
    Start(0xFFFFF000u, true);  // the hold and the interval end beyond the counter's wrap
    EXPECT_TRUE(engine->MailSwitch());
    auto warn = [&](size_t expectedMails) {
        ASSERT_TRUE(DetectOnce());
        EXPECT_EQ(LogLines('2').size(), expectedMails);
    };
    warn(1);
    for (const auto& name : ListDir(engine->TempFolderPath()))
        EXPECT_EQ(name.rfind("QVTmp200", 0), std::string::npos) << "the job's copy is gone";
    // During the hold pictures are saved and logged but not counted.
    EXPECT_TRUE(engine->WarningHold());
    ASSERT_TRUE(DetectOnce());
    EXPECT_EQ(engine->WarningCount(), 1);
    EXPECT_EQ(engine->WindowCount(), 0);
    EXPECT_EQ(LogLines('0').size(), 2u);
    clock->Advance(59999);
    Cycles(10);
    EXPECT_TRUE(engine->WarningHold()) << "one minute has not passed yet";
    // The hold ends after a minute, and closing a settings sheet ends it at once: both warn
    // again, neither mails within the five minutes.
    clock->Advance(1);
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
    const struct {
        std::vector<std::string> names;
        const char* wanted;
        bool fails;
        int started;  // -1: none, with a message
    } cases[] = {
        {{"Scripted Camera"}, "", false, 0},     {{}, "", false, -1},
        {{"Cam A"}, "Absent Camera", false, -1}, {{"Cam A"}, "", true, 0},
        {{"Cam A", "Cam B"}, "Cam B", false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wanted);
        if (engine) engine->Finish();
        core.Names = c.names;
        core.FailStartup = c.fails;
        core.LastStarted = -1;
        settings.Basic.DeviceName = c.wanted;
        host.messages.clear();
        Start();
        EXPECT_EQ(core.LastStarted, c.started);
        EXPECT_TRUE(engine->ThreadsRunning());
        const bool fine = c.started >= 0 && !c.fails;
        EXPECT_EQ(host.messages.size(), fine ? 0u : 1u);
        if (fine) {
            EXPECT_EQ(IniReadString("BasicSettings", "DeviceName", "", Ini()),
                      c.names[size_t(c.started)]);
        }
    }
    // A selection falls back to device 0 when the named one is gone, and says nothing itself.
    BasicSettings basic;
    basic.DetectPreview = 1;
    std::string opened;
    ASSERT_TRUE(engine->RestartDevice("Gone", basic, &opened));
    EXPECT_EQ(opened, "Cam A");
    EXPECT_TRUE(core.HasState(st::MotionMode, st::MotionShow));
    core.FailStartup = true;
    EXPECT_FALSE(engine->RestartDevice("Cam B", basic));
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(EngineTest, ExitCutsAMailJobShortWhateverTheServerDoes) {
    // A server that answers EHLO one byte every 100 ms, for 30 s.
    qvtest::ScriptedServer smtp;
    smtp.Send("220 hi\r\n").ExpectLine().Trickle(std::string(300, 'x'), 100);
    ASSERT_TRUE(smtp.Start());
    WarnAtOnce(1);
    settings.Mail.SmtpPort = smtp.Port();
    settings.Mail.MailAddress = "cam@example.org";
    settings.Mail.SendMailAddress = "me@example.org";
    Start(1000, true);
    core.PulseLevel = 5000;
    ASSERT_TRUE(WaitFor([&] { return smtp.Connected(); }));
    engine->Finish();  // waits for the mail thread
    smtp.Transcript();
    EXPECT_TRUE(smtp.ClientLeftDuringTrickle()) << "the exit waited for the server";
    const auto mails = LogLines('2');
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_NE(mails[0].find(",メール通知,メール送信に失敗しました"), std::string::npos) << mails[0];
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
    for (auto [key, value] : {std::pair{"MainLeft", "123"}, {"MainTop", "45"}, {"SelectMode", "2"}})
        EXPECT_EQ(IniReadString("Window", key, "", Ini()), value) << key;
    engine->Finish();
    EXPECT_FALSE(qvtest::FileExists(temp));
    EXPECT_EQ(core.CleanupCalls, 1);
}

// The picture folder is replaced by a plain file, which stops even root from saving there.
TEST_F(EngineTest, DiskOutageIsToldOnceAndSavingResumesByItself) {
    const std::string events = home.File("events");
    settings.Hooks.Command = "/bin/sh -c \"echo %e >> " + events + "\"";
    settings.Hooks.CommandEvents = "disk,detect";
    Start(1000, true);
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
        EXPECT_EQ(host.notices.load(), outage);
        EXPECT_EQ(Count(qvtest::ReadFile(events), "disk\ndetect\n"), size_t(outage));
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
    settings.Hooks.WebhookUrl = recorder.BaseUrl() + "/hook";
    settings.Hooks.CameraLostSeconds = 60;
    settings.Hooks.CameraLostMail = 1;
    WarnAtOnce(1);
    Mode0().MailInterval = 5;
    Start();
    auto bodies = [&] {
        engine->DrainHooks();
        std::string all;
        for (const auto& r : recorder.Requests()) all += r.Body + "\n";
        return all;
    };
    // Link state, time passing, and the events delivered so far ("lost, back, warning").
    for (auto [link, advance, delivered] : {std::tuple{st::LinkLost, 0u, "0 0 0"},
                                            {st::LinkConnecting, 59999u, "0 0 0"},
                                            {st::LinkLost, 1u, "1 0 0"},
                                            {st::LinkConnecting, 600000u, "1 0 0"},
                                            {0ul, 0u, "1 1 0"},
                                            {0ul, 600000u, "1 1 0"}}) {
        core.Link = link;
        clock->Advance(advance);
        engine->Tick();
        const std::string all = bodies();
        EXPECT_EQ(std::to_string(Count(all, "\"event\":\"camera-lost")) + " " +
                      std::to_string(Count(all, "\"event\":\"camera-back")) + " " +
                      std::to_string(Count(all, "\"event\":\"warning")),
                  delivered)
            << link << " +" << advance;
    }
    EXPECT_EQ(host.notices.load(), 1);
    ASSERT_TRUE(
        WaitFor([&] { return Said().find("メール送信に失敗しました") != std::string::npos; }));
    EXPECT_TRUE(LogLines('2').empty()) << "the day's mail lines are the warning mails'";
    engine->StartStop();
    ASSERT_TRUE(DetectOnce());
    EXPECT_EQ(LogLines('2').size(), 1u) << "the camera-lost mail did not start MailInterval";
    EXPECT_NE(bodies().find("\"level\":5000"), std::string::npos);
}

}  // namespace
