#include "app/engine/Engine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "app/engine/StampTime.h"
#include "app/imaging/DibImage.h"
#include "app/mail/MailJob.h"
#include "app/retention/Retention.h"
#include "app/settings/IniFile.h"
#include "app/settings/Settings.h"
#include "platform/text/Text.h"

namespace qv::engine {
namespace {

constexpr uint32_t kMinute = 60000;
// How long an idle worker waits for its request before it looks again; the events wake it.
constexpr std::chrono::seconds kIdleWait{1};
// Pictures pile up at most a few a second: a clean-up every ten minutes keeps within any limit.
constexpr std::chrono::minutes kRetentionPeriod{10};

hooks::Settings HookChannels(const HookSettings& h) {
    return {h.Command, h.CommandEvents, h.WebhookUrl, h.WebhookPicture, h.PushUrl, h.PushToken};
}

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void RemoveFile(const std::string& path) {
    ::unlink(path.c_str());
}

}  // namespace

int32_t ClampMode(int32_t mode) {
    return std::clamp<int32_t>(mode, 0, kOperatingModes - 1);
}
int32_t AtLeastOne(int32_t value) {
    return std::max<int32_t>(value, 1);
}
int32_t JpegQuality(int32_t pictureQuality) {
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{pictureQuality} * 5, 1, 100));
}

MotionCheckSetup MotionCheckOf(const WarningSettings& w) {
    return {w.MotionCheckNoise, w.MotionCheckArea, w.MotionCheckMs, w.MotionMask};
}

MonitorEngine::MonitorEngine(EngineHost& host, CoreApi& core, sound::SoundPlayer& sound,
                             EngineOptions options)
    : host_(host),
      core_(core),
      sound_(sound),
      options_(std::move(options)),
      clock_(options_.TimeSource ? *options_.TimeSource : SystemClock()),
      settings_(std::make_shared<AllSettings>()) {
    if (options_.PollMs < 1) options_.PollMs = 1;
    if (!options_.ProgramFolder.empty() && options_.ProgramFolder.back() != '/')
        options_.ProgramFolder += '/';
}

MonitorEngine::~MonitorEngine() {
    Finish();
}

// ---------------------------------------------------------------------------------------
// Start-up and the end

void MonitorEngine::LoadSettings() {
    AllSettings all;
    LoadAllSettings(options_.SettingsFile, all);
    UseSettings(all);
}

void MonitorEngine::UseSettings(const AllSettings& settings) {
    auto copy = std::make_shared<AllSettings>(settings);
    copy->CurrentMode = ClampMode(copy->CurrentMode);
    currentMode_ = copy->CurrentMode;
    mailSwitch_ = copy->Warning[static_cast<size_t>(copy->CurrentMode)].SendMail;
    const HookSettings hooks = copy->Hooks;
    {
        std::lock_guard lock(settingsMutex_);
        settings_ = std::move(copy);
    }
    if (hooks_) hooks_->Configure(HookChannels(hooks));
    WakeRetention();
}

void MonitorEngine::EndLivingSettings(const RetentionSettings& retention,
                                      const HookSettings& hooks) {
    ReplaceSettings([&](AllSettings& s) {
        s.Retention = retention;
        s.Hooks = hooks;
    });
    SaveRetentionSettings(options_.SettingsFile, retention);
    SaveHookSettings(options_.SettingsFile, hooks);
    if (hooks_) hooks_->Configure(HookChannels(hooks));
    WakeRetention();
}

void MonitorEngine::DrainHooks() {
    if (hooks_) hooks_->Drain();
}

void MonitorEngine::Say(const std::string& line) {
    if (!options_.Echo) return;
    std::lock_guard lock(logMutex_);
    std::fprintf(options_.Echo, "%s\n", line.c_str());
    std::fflush(options_.Echo);
}

void MonitorEngine::SendHook(const char* event, const std::string& picture, int level,
                             const std::string& detail) {
    if (!hooks_) return;
    hooks::Event e;
    e.Name = event;
    e.Time = static_cast<std::time_t>(clock_.Now().Seconds);
    e.Mode = currentMode_.load() + 1;
    e.Picture = picture;
    e.Level = level;
    e.Detail = detail;
    hooks_->Send(std::move(e));
}

void MonitorEngine::Start() {
    temp_.Create(options_.TempParent);
    tmpFrame_ = temp_.File("QVTmp100.___");
    tmp24_ = temp_.File("QVTmp101.___");
    tmpStamped_ = temp_.File("QVTmp102.___");
    tmpJpeg_ = temp_.File("QVTmp103.___");

    coreStarted_ = core_.Startup() == 1;
    StartDevice(core_.GetDeviceCount());
    ApplyMotionCheck();

    hooks_ = std::make_unique<hooks::Dispatcher>(
        [](const std::string& failure) { std::fprintf(stderr, "%s\n", failure.c_str()); });
    hooks_->Configure(HookChannels(Settings()->Hooks));
    retentionThread_ = std::thread([this] { RetentionThread(); });

    mainAlive_ = captureAlive_ = hdAlive_ = mailAlive_ = 1;
    mainThread_ = std::thread([this] { MainThread(); });
    captureThread_ = std::thread([this] { CaptureThread(); });
    hdThread_ = std::thread([this] { HdThread(); });
    mailThread_ = std::thread([this] { MailThread(); });
}

bool MonitorEngine::OnFirstShow() {
    auto s = Settings();
    if (s->Basic.WakeUpStart == 1) host_.Post([this] { StartStop(); });
    return s->Basic.WakeUpIcon == 1;
}

void MonitorEngine::Finish() {
    if (finished_) return;
    finished_ = true;
    // Normally the shutdown steps have ended the threads; otherwise end them here.
    endMain_.Set();
    endCapture_.Set();
    endHd_.Set();
    endMail_.Set();
    for (std::thread* t : {&mainThread_, &captureThread_, &hdThread_, &mailThread_}) {
        if (t->joinable()) t->join();
    }
    {
        std::lock_guard lock(retentionMutex_);
        retentionStop_ = true;
    }
    retentionWake_.notify_all();
    if (retentionThread_.joinable()) retentionThread_.join();
    hooks_.reset();  // cuts a running command or request short
    if (coreStarted_) core_.Cleanup();
    coreStarted_ = false;
    temp_.Remove();
}

bool MonitorEngine::ThreadsRunning() const {
    return mainAlive_ || captureAlive_ || hdAlive_ || mailAlive_;
}

std::shared_ptr<const AllSettings> MonitorEngine::Settings() const {
    std::lock_guard lock(settingsMutex_);
    return settings_;
}

void MonitorEngine::ReplaceSettings(const std::function<void(AllSettings&)>& change) {
    auto copy = std::make_shared<AllSettings>(*Settings());
    change(*copy);
    std::lock_guard lock(settingsMutex_);
    settings_ = std::move(copy);
}

const WarningSettings& MonitorEngine::Mode(const AllSettings& s) const {
    return s.Warning[static_cast<size_t>(ClampMode(currentMode_.load()))];
}

void MonitorEngine::ApplyMotionCheck() {
    // The check runs whether or not it decides: the tuning window shows it, and the window
    // suggests it when the level alone keeps detecting what the check rejects.
    core_.SetMotionCheck(MotionCheckOf(Mode(*Settings())));
}

void MonitorEngine::ChangeModeSettings(int mode, const WarningSettings& warning) {
    const int32_t m = ClampMode(mode);
    ReplaceSettings([&](AllSettings& s) { s.Warning[static_cast<size_t>(m)] = warning; });
    SaveWarningSettings(options_.SettingsFile, m, warning);
    if (m == currentMode_.load()) ApplyMotionCheck();
    host_.Repaint(Area::Whole);
}

void MonitorEngine::NoteUncheckedDetection(const WarningSettings& w, uint32_t now) {
    if (w.MotionCheck == 1 || hintPosted_.load() != 0) return;
    MotionCheckVerdict verdict;
    if (!core_.GetMotionCheck(verdict) || verdict.Confirmed) return;
    const uint32_t span = uint32_t(kHintMinutes) * kMinute;
    std::erase_if(rejectedDetections_, [&](uint32_t t) { return now - t > span; });
    rejectedDetections_.push_back(now);
    if (static_cast<int>(rejectedDetections_.size()) < kHintDetections) return;
    hintPosted_ = 1;
    host_.Post([this] { SuggestMotionCheck(); });
}

void MonitorEngine::SuggestMotionCheck() {
    if (Settings()->Window.MotionCheckHint == 1) return;
    ReplaceSettings([](AllSettings& s) { s.Window.MotionCheckHint = 1; });
    IniWriteString("Window", "MotionCheckHint", "1", options_.SettingsFile);
    host_.ShowMessage(
        "ノイズや明るさの変化で動体検知が続いています。\n"
        "右クリックメニューの「感度調整」で動き判定をオンにすると、"
        "人の動きだけを検知できます。");
}

// MainThread: one step of the sampling period; ends early when the thread is asked to end.
void MonitorEngine::Nap() {
    endMain_.Wait(std::chrono::milliseconds(options_.PollMs));
}

bool MonitorEngine::AwaitRequest(NamedEvent& request, NamedEvent& end, std::atomic<int32_t>& alive,
                                 bool& requested) {
    requested = request.Wait(kIdleWait, &end);
    if (!end.IsSet()) return true;
    Ended(alive);
    return false;
}

void MonitorEngine::Ended(std::atomic<int32_t>& alive) {
    alive = 0;
    bell_.Ring();
}

// ---------------------------------------------------------------------------------------
// Device

int MonitorEngine::StartDevice(int count) {
    int result = 0;
    if (count == 0) {
        host_.ShowMessage(
            "キャプチャデバイスが見つかりませんでした。\n"
            "カメラ等のデバイスが接続され正常に動作していることを確認してください。");
    } else if (count < 0) {
        host_.ShowMessage("選択したデバイスが見つかりませんでした。");
    } else {
        const std::string wanted = Settings()->Basic.DeviceName;
        bool failed = false;
        for (int index = 0; index < count && result != 1; ++index) {
            std::string name;
            if (!core_.GetDeviceName(index, name)) continue;
            if (!wanted.empty() && wanted != name) continue;
            if (!OpenDevice(index, Settings()->Basic, true)) {
                failed = true;
                continue;
            }
            ReplaceSettings([&](AllSettings& s) { s.Basic.DeviceName = name; });
            IniWriteString("BasicSettings", "DeviceName", name, options_.SettingsFile);
            result = 1;
        }
        if (result != 1) {
            if (failed) {
                host_.ShowMessage("選択したデバイスは使用できませんでした。。");
                result = -1;
            } else {
                host_.ShowMessage("選択したデバイスが見つかりませんでした。");
            }
        }
    }
    RefreshDeviceLine();
    return result;
}

bool MonitorEngine::RestartDevice(const std::string& name, const BasicSettings& basic,
                                  std::string* opened) {
    int index = 0;
    std::string found;
    core_.GetDeviceName(0, found);
    const int count = core_.GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        std::string n;
        if (core_.GetDeviceName(i, n) && n == name) {
            index = i;
            found = n;
            break;
        }
    }
    core_.CleanupDevice();
    if (!OpenDevice(index, basic, previewOn_ != 0)) return false;
    if (opened) *opened = found;
    return true;
}

bool MonitorEngine::OpenDevice(int index, const BasicSettings& basic, bool preview) {
    if (!core_.StartupDevice(host_.CaptureWindow(), index)) return false;
    core_.SetState(state::MotionMode,
                   basic.DetectPreview ? state::MotionShow : state::MotionMeasure);
    core_.SetPreviewRate(PreviewRateFps(basic.PreviewRate));
    core_.SetState(state::WindowX, 325);
    core_.SetState(state::WindowY, 25);
    previewOn_ = preview ? 1 : 0;
    SetPreview(preview);
    return true;
}

// Window thread, every tick: a camera lost longer than CameraLostSeconds raises camera-lost
// once, and its return then camera-back. Reconnection attempts count as lost.
void MonitorEngine::WatchCameraLink(unsigned long link) {
    const uint32_t now = Now();
    if (link == state::LinkLost && !linkLost_) {
        linkLost_ = true;
        lostSince_ = now;
    } else if (link != state::LinkLost && link != state::LinkConnecting && linkLost_) {
        linkLost_ = false;
        if (lostRaised_) {
            lostRaised_ = false;
            const std::string name = Settings()->Basic.DeviceName;
            Say("カメラ復帰 " + name);
            SendHook("camera-back", "", -1, name);
        }
    }
    if (!linkLost_ || lostRaised_) return;
    auto s = Settings();
    const int64_t limit = int64_t{std::max<int32_t>(0, s->Hooks.CameraLostSeconds)} * 1000;
    if (int64_t{now - lostSince_} < limit) return;
    lostRaised_ = true;
    const std::string& name = s->Basic.DeviceName;
    Say("カメラ切断 " + name);
    SendHook("camera-lost", "", -1, name);
    host_.Notify("カメラ切断", name, "", true, false);
    if (s->Hooks.CameraLostMail == 1) {
        // The mail thread looks at least once a second; a pending warning mail goes first.
        std::lock_guard lock(lostMailMutex_);
        lostMails_.push_back(name);
    }
}

void MonitorEngine::RefreshDeviceLine() {
    VideoFormatInfo format;
    unsigned long link = 0;
    if (!core_.GetState(state::DeviceLink, link)) link = 0;
    linkShown_ = link;
    if (link == state::LinkConnecting || link == state::LinkLost) {
        // A camera that is not there has no picture format to show.
        deviceLine_ = std::string("\u3000\u3000\u3000\u3000\u3000") +
                      (link == state::LinkConnecting ? "接続中…" : "カメラ切断");
    } else if (core_.GetVideoFormat(format)) {
        char text[96];
        std::snprintf(text, sizeof text, "%d × %d %dビット", format.Width, format.Height,
                      format.BitCount);
        deviceLine_ = std::string("\u3000\u3000\u3000\u3000\u3000") + text;
    } else {
        deviceLine_.clear();
    }
    host_.Repaint(Area::DeviceLine);
}

void MonitorEngine::SetPreview(bool on) {
    core_.SetState(state::WindowWidth, on ? 320 : 1);
    core_.SetState(state::WindowHeight, on ? 240 : 1);
    unsigned long caps = 0;
    if (core_.GetState(state::DisplayCaps, caps) &&
        (caps & (state::DisplayPreview | state::DisplayOverlay))) {
        core_.SetState(state::DisplayMode, (caps & state::DisplayOverlay) ? state::DisplayOverlay
                                                                          : state::DisplayPreview);
    }
}

// ---------------------------------------------------------------------------------------
// Commands

void MonitorEngine::StartStop() {
    auto s = Settings();
    uint32_t now = Now();
    // "Due at once" is now itself: a deadline of 0 would look 24 days away half of the time.
    timerDeadline_ = now;
    running_ = running_ ? 0 : 1;
    warningHold_ = 0;
    windowDeadline_ = DeadlineAfter(now, int64_t(AtLeastOne(Mode(*s).SecTimer)) * 1000);
    host_.Repaint(Area::TrayTip);
    host_.Repaint(Area::Switches);
}

void MonitorEngine::SelectMode(int mode) {
    int32_t k = ClampMode(mode);
    auto s = Settings();
    uint32_t now = Now();
    currentMode_ = k;
    timerDeadline_ = now;
    windowCount_ = 0;
    warningHold_ = 0;
    const auto& w = s->Warning[static_cast<size_t>(k)];
    windowDeadline_ = DeadlineAfter(now, int64_t(AtLeastOne(w.SecTimer)) * 1000);
    mailSwitch_ = w.SendMail;
    ApplyMotionCheck();
    host_.Repaint(Area::TrayTip);
    host_.Repaint(Area::Whole);
}

void MonitorEngine::RequestExit() {
    int32_t expected = 0;
    shutdownStep_.compare_exchange_strong(expected, 1);
}

void MonitorEngine::TogglePreview() {
    previewOn_ = previewOn_ ? 0 : 1;
    SetPreview(previewOn_ != 0);
    host_.Repaint(Area::Switches);
}

void MonitorEngine::ToggleMailSwitch() {
    mailSwitch_ = mailSwitch_ ? 0 : 1;
    host_.Repaint(Area::Switches);
}

void MonitorEngine::Acknowledge() {
    if (!dialogOpen_) EndWarning();
}

// The caution picture gives way to the event list again and a looping sound stops.
void MonitorEngine::EndWarning() {
    if (cautionShown_ == 1) {
        cautionShown_ = 0;
        host_.SetEventListVisible(true);
        host_.Repaint(Area::Caution);
    }
    if (soundLooping_ == 1) {
        soundLooping_ = 0;
        sound_.Stop();
    }
}

void MonitorEngine::EnterTray() {
    core_.SetState(state::WindowX, 0);
    core_.SetState(state::WindowY, 0);
    SetPreview(false);
    inTray_ = 1;
}

void MonitorEngine::LeaveTray() {
    core_.SetState(state::WindowX, 325);
    core_.SetState(state::WindowY, 25);
    SetPreview(previewOn_ != 0);
    inTray_ = 0;
    host_.Repaint(Area::Whole);
}

void MonitorEngine::BeginSettingsDialog() {
    dialogOpen_ = 1;
    core_.SetState(state::MotionMode, state::MotionOff);
}

void MonitorEngine::EndBasicSettings(const BasicSettings& basic) {
    ReplaceSettings([&](AllSettings& s) { s.Basic = basic; });
    SaveBasicSettings(options_.SettingsFile, basic);
    core_.SetState(state::MotionMode,
                   basic.DetectPreview ? state::MotionShow : state::MotionMeasure);
    RefreshDeviceLine();
    if (running_ == 1) warningHold_ = 0;
    dialogOpen_ = 0;
    timerDeadline_ =
        DeadlineAfter(Now(), int64_t(AtLeastOne(Mode(*Settings()).TimerInterval)) * kMinute);
    host_.Repaint(Area::Whole);
}

void MonitorEngine::EndWarningSettings(
    bool accepted, const MailSettings& mail, const PictSettings& pict,
    const std::array<WarningSettings, kOperatingModes>& warning) {
    if (accepted) {
        ReplaceSettings([&](AllSettings& s) {
            s.Mail = mail;
            s.Pict = pict;
            s.Warning = warning;
        });
        SaveMailSettings(options_.SettingsFile, mail);
        SavePictSettings(options_.SettingsFile, pict);
        for (int m = 0; m < kOperatingModes; ++m)
            SaveWarningSettings(options_.SettingsFile, m, warning[static_cast<size_t>(m)]);
    }
    auto s = Settings();
    core_.SetState(state::MotionMode,
                   s->Basic.DetectPreview ? state::MotionShow : state::MotionMeasure);
    mailSwitch_ = Mode(*s).SendMail;
    ApplyMotionCheck();
    dialogOpen_ = 0;
    timerDeadline_ = DeadlineAfter(Now(), int64_t(AtLeastOne(Mode(*s).TimerInterval)) * kMinute);
    host_.Repaint(Area::Whole);
}

// ---------------------------------------------------------------------------------------
// The 250-ms tick

void MonitorEngine::Tick() {
    if (shutdownStep_ == 0) {
        DisplayTick();
    } else {
        ShutdownTick();
    }
}

void MonitorEngine::DisplayTick() {
    // Stream cameras come and go whether or not monitoring is on.
    int streamKind = 0;
    std::string streamName;
    while (core_.TakeStreamEvent(streamKind, streamName)) WriteLog(streamKind, streamName);
    unsigned long link = 0;
    if (!core_.GetState(state::DeviceLink, link)) link = 0;
    if (link != linkShown_) RefreshDeviceLine();
    WatchCameraLink(link);

    unsigned long level = 0;
    core_.GetState(state::MotionLevel, level);
    int32_t shown = static_cast<uint32_t>(level) >= 10000 ? 9999 : static_cast<int32_t>(level);
    if (shown != lastLevelShown_) {
        lastLevelShown_ = shown;
        host_.Repaint(Area::Level);
        host_.Repaint(Area::TrayTip);
    }
    if (running_ != 1) return;
    AlarmStep();
    auto s = Settings();
    const auto& w = Mode(*s);
    if (w.TimerEnable) {
        uint32_t now = Now();
        int32_t remaining = static_cast<int32_t>(timerDeadline_.load() - now);
        int32_t seconds = 0;
        if (remaining > 0) {
            seconds = static_cast<int32_t>((int64_t(remaining) + 999) / 1000);
        } else if (timerFired_ == 1) {
            timerFired_ = 0;
            timerDeadline_ = DeadlineAfter(now, int64_t(AtLeastOne(w.TimerInterval)) * kMinute);
        }
        if (seconds != countdownShown_) {
            countdownShown_ = seconds;
            host_.Repaint(Area::Countdown);
        }
    }
}

void MonitorEngine::AlarmStep() {
    if (cautionShown_ != 1 && soundLooping_ != 1) return;
    int32_t ticks = ++alarmTicks_;
    if (ticks > 20) EndWarning();
    if (ticks % 2 == 0) host_.Repaint(Area::Caution);
}

void MonitorEngine::ShutdownTick() {
    switch (shutdownStep_.load()) {
        case 1: {
            auto s = Settings();
            WindowSettings window = s->Window;
            host_.WindowPosition(window.MainLeft, window.MainTop);
            window.HasPosition = true;
            window.SelectMode = currentMode_;
            SaveWindowSettings(options_.SettingsFile, window);
            shutdownStep_ = 2;
            break;
        }
        case 2:
            shutdownStep_ = 3;
            break;
        case 3:
            endMain_.Set();
            endCapture_.Set();
            endHd_.Set();
            endMail_.Set();
            shutdownStep_ = 4;
            break;
        case 4: {
            // Up to 100 ms for each thread; the window keeps its event loop between ticks, so
            // a capture waiting for the window thread is never stuck behind this.
            bool allEnded = true;
            for (auto* alive : {&mainAlive_, &captureAlive_, &hdAlive_, &mailAlive_}) {
                if (!bell_.WaitUntil(std::chrono::milliseconds(100), [alive] { return !*alive; }))
                    allEnded = false;
            }
            if (allEnded) {
                for (std::thread* t : {&mainThread_, &captureThread_, &hdThread_, &mailThread_})
                    if (t->joinable()) t->join();
                shutdownStep_ = 5;
            }
            break;
        }
        case 5:
            shutdownStep_ = 6;
            host_.EndMonitor();
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------------------------------
// MainThread: the level, the capture requests and the engine's deadlines

void MonitorEngine::MainThread() {
    for (;;) {
        Nap();
        while (!endMain_.IsSet() && dialogOpen_ == 1) Nap();
        if (running_ == 1) {
            auto s = Settings();
            const auto& w = Mode(*s);
            unsigned long raw = 0;
            if (!core_.GetState(state::MotionLevel, raw)) raw = 0;
            int32_t level = static_cast<int32_t>(raw);
            bool requested = requestCapture_.IsSet();
            uint32_t now = Now();
            // With the check on, it alone decides (the level of a far or slow figure stays
            // below the sensitivity); off, the level does, as it always has.
            MotionCheckVerdict verdict;
            const bool detected = w.MotionCheck == 1
                                      ? core_.GetMotionCheck(verdict) && verdict.Confirmed
                                      : level >= AtLeastOne(w.MotionSensitivity);
            if (detected && !requested) {
                requested = true;
                detectLevel_ = level;
                captureKind_ = 0;
                requestCapture_.Set();
                ++detectCount_;
                host_.Repaint(Area::DetectCounter);
                NoteUncheckedDetection(w, now);
            }
            if (DeadlineReached(windowDeadline_, now)) {
                windowCount_ = 0;
                windowDeadline_ = DeadlineAfter(now, int64_t(AtLeastOne(w.SecTimer)) * 1000);
            }
            if (warningHold_ == 1 && DeadlineReached(warningHoldUntil_, now)) {
                warningHold_ = 0;
                host_.Repaint(Area::Whole);
            }
            if (w.TimerEnable && DeadlineReached(timerDeadline_, now) && timerFired_ == 0) {
                // A detection of this same sample takes the capture, even when the capture
                // thread has already picked it up.
                if (!requested && !requestCapture_.IsSet()) {
                    captureKind_ = 1;
                    requestCapture_.Set();
                }
                timerFired_ = 1;
            }
        }
        Nap();
        if (endMain_.IsSet()) {
            Ended(mainAlive_);
            return;
        }
    }
}

// ---------------------------------------------------------------------------------------
// CaptureThread: one frame per request

void MonitorEngine::CaptureThread() {
    const auto step = std::chrono::milliseconds(options_.PollMs);
    for (bool requested = false;
         AwaitRequest(requestCapture_, endCapture_, captureAlive_, requested);) {
        if (!requested) continue;
        if (requestHd_.IsSet()) {
            // HdThread still busy: the request waits about six sampling steps, then it is dropped.
            bell_.WaitUntil(6 * step,
                            [this] { return !requestHd_.IsSet() || endCapture_.IsSet(); });
            if (requestHd_.IsSet()) requestCapture_.Reset();
            continue;
        }
        captureTime_ = clock_.Now();
        core_.CaptureSingleFrame(tmpFrame_);
        saveKind_ = captureKind_.load();
        requestHd_.Set();
        requestCapture_.Reset();
    }
}

// ---------------------------------------------------------------------------------------
// HdThread: convert, stamp, compress, save, log, warn

void MonitorEngine::HdThread() {
    for (bool requested = false; AwaitRequest(requestHd_, endHd_, hdAlive_, requested);) {
        if (!requested) continue;
        SaveFrame();
        for (const auto* path : {&tmpFrame_, &tmp24_, &tmpStamped_, &tmpJpeg_}) RemoveFile(*path);
        requestHd_.Reset();
    }
}

std::string MonitorEngine::PictureFolder(int kind) const {
    auto s = Settings();
    const std::string& configured =
        kind == kLogDetectSave ? s->Basic.DetectPath : s->Basic.TimerPath;
    std::string folder =
        configured.empty() ? options_.ProgramFolder + (kind == kLogDetectSave ? "detect" : "timer")
                           : configured;
    if (folder.back() != '/') folder += '/';
    return folder;
}

void MonitorEngine::SaveFrame() {
    const int kind = saveKind_.load() == 1 ? kLogTimerSave : kLogDetectSave;
    const WallTime captured = captureTime_;
    auto s = Settings();

    // 24 bits per pixel.
    DibImage frame;
    if (frame.LoadBmp(tmpFrame_)) {
        DibImage converted;
        if (frame.BitCount() != 24 && frame.ToTrueColour(converted)) {
            converted.SaveBmp(tmp24_);
        } else {
            frame.SaveBmp(tmp24_);
        }
    }
    // The capture time, then the JPEG. A failed step leaves its output missing.
    StampTime(tmp24_, tmpStamped_, captured);
    int quality = JpegQuality(s->Basic.PictureQuality);
    if (!core_.BmpToJpeg(tmpStamped_, tmpJpeg_, quality) || FileSize(tmpJpeg_) <= 0)
        RemoveFile(tmpJpeg_);

    const std::string folder = PictureFolder(kind);
    ::mkdir(folder.c_str(), kPrivateFolderMode);
    std::tm tm = LocalTime(captured.Seconds);
    std::string saved;
    int error = 0;
    for (int seq = 0; seq <= 10; ++seq) {
        char name[64];
        std::snprintf(name, sizeof name, "%c%04d%02d%02d%02d%02d%02d%02d.jpg",
                      kind == kLogDetectSave ? 'd' : 't', tm.tm_year + 1900, tm.tm_mon + 1,
                      tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, seq);
        PublishResult r = PublishCopy(tmpJpeg_, folder, name, &error);
        if (r == PublishResult::Published) {
            saved = name;
            break;
        }
        if (r == PublishResult::Failed) break;  // no JPEG, no folder, a full disk: not a name clash
    }
    // A finished picture that found no place is a disk outage (full, gone, not writable):
    // told once, until a picture is saved again.
    const bool pictureMade = FileSize(tmpJpeg_) > 0;
    if (saved.empty() && pictureMade && error != 0 && !diskOutage_) {
        diskOutage_ = true;
        const std::string reason = folder + ": " + std::strerror(error);
        Say("画像を保存できません " + reason);
        host_.Notify("画像を保存できません", reason, "", true, true);
        SendHook("disk", "", -1, reason);
    }
    if (saved.empty()) return;
    if (diskOutage_) {
        diskOutage_ = false;
        Say("画像の保存を再開しました " + folder);
    }

    WriteLog(kind, saved);
    const std::string picture = folder + saved;
    const int level = kind == kLogDetectSave ? detectLevel_.load() : -1;
    if (kind == kLogDetectSave) SendHook("detect", picture, level, "");
    if (kind != kLogDetectSave || !CheckWarning()) return;
    SendHook("warning", picture, level, "");
    host_.Notify("警告", saved, picture, true, false);
    if (Mode(*s).SendMail == 1 && mailSwitch_ != 0) RequestMail();
}

// ---------------------------------------------------------------------------------------
// The warning rule

bool MonitorEngine::CheckWarning() {
    if (warningHold_ == 1) return false;
    auto s = Settings();
    const auto& w = Mode(*s);
    if (++windowCount_ < AtLeastOne(w.SecCount)) return false;
    windowCount_ = 0;
    warningHoldUntil_ =
        DeadlineAfter(Now(), int64_t(AtLeastOne(w.SecurityTimerInterval)) * kMinute);
    warningHold_ = 1;
    if (w.SecurityPic == 1) {
        alarmTicks_ = 0;
        cautionShown_ = 1;
        host_.SetEventListVisible(false);
        host_.Repaint(Area::Whole);
    }
    if (w.SecurityWave == 1) StartSound(w);
    ++warningCount_;
    host_.Repaint(Area::WarningCounter);
    return true;
}

void MonitorEngine::StartSound(const WarningSettings& w) {
    std::string name =
        w.SecurityWaveName.empty() ? options_.ProgramFolder + "beep.wav" : w.SecurityWaveName;
    std::string path = ResolveSound(name);
    if (w.SecurityWaveLoop != 0) {
        alarmTicks_ = 0;  // a looping sound alone must not inherit the last alarm's ticks
        sound_.Play(path, true);
        soundLooping_ = 1;
    } else {
        sound_.Play(path, false);
    }
}

std::string MonitorEngine::ResolveSound(const std::string& name) const {
    if (name.empty() || name.front() == '/') return name;
    std::vector<std::string> candidates = {name, options_.ProgramFolder + name};
    for (const auto& folder : options_.DataFolders) {
        candidates.push_back(text::JoinPath(text::JoinPath(folder, "sounds"), name));
        candidates.push_back(text::JoinPath(folder, name));
    }
    for (const auto& c : candidates)
        if (IsFile(c)) return c;
    return name;  // the player falls back to its default sound
}

// HdThread, after a warning that wants a mail.
void MonitorEngine::RequestMail() {
    // One mail per signalled request: a warning during a running job makes no mail. Each job
    // gets its own copy of the picture, so nothing overwrites the file a job is reading.
    if (requestMail_.IsSet()) return;
    // However the warnings come (the hold also ends when a settings sheet closes), mails are at
    // least MailInterval minutes apart; counted on the wrapping tick by unsigned difference.
    const uint32_t now = Now();
    const int64_t interval = std::max<int64_t>(0, Mode(*Settings()).MailInterval) * kMinute;
    if (mailSent_ && int64_t{now - lastMailTick_} < interval) return;
    mailSent_ = true;
    lastMailTick_ = now;
    std::string copy = temp_.File("QVTmp200-" + std::to_string(++mailSerial_) + ".___");
    if (!CopyFileReplacing(tmp24_, copy)) RemoveFile(copy);
    mailRequest_.PicturePath = copy;
    mailRequest_.CaptureTime = captureTime_;
    mailRequest_.Mode = currentMode_;
    mailRequest_.WorkFolder = temp_.Path();
    requestMail_.Set();
}

// ---------------------------------------------------------------------------------------
// MailThread

void MonitorEngine::MailThread() {
    for (bool requested = false; AwaitRequest(requestMail_, endMail_, mailAlive_, requested);) {
        if (requested) {
            MailRequest request = mailRequest_;
            DoMailJob(request);
            RemoveFile(request.PicturePath);
            requestMail_.Reset();
        }
        // A camera-lost mail waits behind a warning mail and never holds its place.
        for (;;) {
            std::string camera;
            {
                std::lock_guard lock(lostMailMutex_);
                if (lostMails_.empty() || endMail_.IsSet() || requestMail_.IsSet()) break;
                camera = lostMails_.front();
                lostMails_.erase(lostMails_.begin());
            }
            RunLostMail(camera);
        }
    }
}

// A mail about a lost camera: the warning mail's settings with its own subject, no picture.
// It is no warning mail: not counted for MailInterval, its outcome on standard output only.
void MonitorEngine::RunLostMail(const std::string& camera) {
    auto s = Settings();
    MailJobRequest job;
    job.Basic = s->Basic;
    job.Warning = Mode(*s);
    job.Warning.MailTitle = "カメラ切断";
    job.Warning.MailText = "カメラ「" + camera + "」からの映像が途切れています。";
    job.Warning.SendPict = 0;
    job.Mail = s->Mail;
    job.Pict = s->Pict;
    job.CaptureTime = clock_.Now().Seconds;
    job.WorkFolder = temp_.Path();
    job.Log = [this](const std::string& text, const std::string& reason) {
        Say(reason.empty() ? text : text + " " + reason);
    };
    job.StopRequested = [this] { return endMail_.IsSet(); };
    ::RunMailJob(job);
}

void MonitorEngine::DoMailJob(const MailRequest& request) {
    auto s = Settings();
    MailJobRequest job;
    job.Basic = s->Basic;
    job.Warning = s->Warning[static_cast<size_t>(ClampMode(request.Mode))];
    job.Mail = s->Mail;
    job.Pict = s->Pict;
    job.PicturePath = request.PicturePath;
    job.CaptureTime = request.CaptureTime.Seconds;
    job.WorkFolder = request.WorkFolder;
    job.Log = [this](const std::string& text, const std::string& reason) {
        WriteLog(kLogMailNotice, text, reason);
    };
    // On exit a job in progress gets a short grace to finish, then is cut short.
    job.StopRequested = [this] { return endMail_.IsSet(); };
    ::RunMailJob(job);
}

// ---------------------------------------------------------------------------------------
// The event log

void MonitorEngine::WriteLog(int kind, const std::string& text, const std::string& detail) {
    WallTime now = clock_.Now();
    std::tm tm = LocalTime(now.Seconds);
    std::string visible = EventListLine(tm, kind, text);
    std::string hidden = EventListHiddenLine(kind, text);
    std::string line = LogFileLine(tm, kind, text);

    std::lock_guard lock(logMutex_);
    host_.Post([this, visible = std::move(visible), hidden = std::move(hidden), detail]() mutable {
        events_.Insert(std::move(visible), std::move(hidden), std::move(detail));
        host_.EventListChanged();
    });
    // The day's file keeps its kinds 0 to 2, which its readers rely on; a camera's loss or
    // return is for the window and standard output only.
    if (kind >= kLogDetectSave && kind <= kLogMailNotice) {
        std::string folder = options_.ProgramFolder + "log/";
        ::mkdir(folder.c_str(), kPrivateFolderMode);
        AppendPrivate(folder + LogFileName(tm), text::Utf8ToCp932(line) + "\r\n");
    }
    if (options_.Echo) {
        std::fprintf(options_.Echo, "%s\n", line.c_str());
        std::fflush(options_.Echo);
    }
}

// ---------------------------------------------------------------------------------------
// Clean-up of old pictures and logs, off the window thread

void MonitorEngine::WakeRetention() {
    {
        std::lock_guard lock(retentionMutex_);
        retentionWanted_ = true;
    }
    retentionWake_.notify_all();
}

void MonitorEngine::RetentionThread() {
    for (;;) {
        auto s = Settings();
        const retention::Policy policy{s->Retention.PictureDays, s->Retention.PictureMegabytes,
                                       s->Retention.LogDays, s->Retention.MinFreeMegabytes};
        if (policy.Any()) {
            const retention::Result r = retention::CleanUp(
                policy, {PictureFolder(kLogDetectSave), PictureFolder(kLogTimerSave)},
                options_.ProgramFolder + "log/", static_cast<std::time_t>(clock_.Now().Seconds));
            const std::string line = r.Summary();
            if (!line.empty()) Say(line);
        }
        std::unique_lock lock(retentionMutex_);
        retentionWake_.wait_for(lock, kRetentionPeriod,
                                [this] { return retentionWanted_ || retentionStop_; });
        if (retentionStop_) return;
        retentionWanted_ = false;
    }
}

std::string MonitorEngine::EventPicturePath(int index) const {
    if (index < 0 || index >= events_.Count()) return "";
    int kind = -1;
    std::string name;
    if (!EventList::ParseHidden(events_.Hidden(index), kind, name)) return "";
    if (kind != kLogDetectSave && kind != kLogTimerSave) return "";
    return PictureFolder(kind) + name;
}

}  // namespace qv::engine
