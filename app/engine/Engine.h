// The monitoring engine: the state the main window shows, the seven named events, the four
// worker threads (MainThread, CaptureThread, HdThread, MailThread), the window's 250-ms tick
// with the shutdown steps, the commands, picture saving, the warning rule and the event log.
// It knows the window only through EngineHost, and the core library through CoreApi.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/engine/Clock.h"
#include "app/engine/CoreApi.h"
#include "app/engine/EventLog.h"
#include "app/engine/Files.h"
#include "app/engine/NamedEvent.h"
#include "app/hooks/Hooks.h"
#include "app/settings/Settings.h"
#include "platform/sound/SoundPlayer.h"

namespace qv::engine {

// Parts of the main window the engine asks to repaint.
enum class Area {
    Whole,           // everything
    Switches,        // start/stop, preview and mail switches
    Modes,           // the three mode switches
    Level,           // "動体検知：%04d"
    Countdown,       // "タイマー：%02d:%02d"
    DetectCounter,   // "動体検知回数：%04d"
    WarningCounter,  // "警告検知回数：%04d"
    DeviceLine,      // device name and capture format lines
    Caution,         // the event-list / caution-picture area
    TrayTip,         // the tray icon's tooltip text
};

// What the engine needs of its window. Implemented by CMonitorDlg.
class EngineHost {
  public:
    virtual ~EngineHost() = default;
    // Thread-safe. Repaints an area soon (the window coalesces repeated requests).
    virtual void Repaint(Area area) = 0;
    // Thread-safe. Runs fn on the window thread after everything posted before; returns at once.
    virtual void Post(std::function<void()> fn) = 0;
    // Window thread. The engine's EventList changed: show it again.
    virtual void EventListChanged() = 0;
    // Thread-safe. Shows or hides the event list (the caution pictures take its place).
    virtual void SetEventListVisible(bool visible) = 0;
    // Window thread. A message box with OK, captioned "TavorinSekuvo"; returns when closed.
    virtual void ShowMessage(const std::string& text) = 0;
    // Window thread. The window's top-left corner on the screen (the remembered one while it
    // is in the tray), written to [Window] at shutdown.
    virtual void WindowPosition(int32_t& left, int32_t& top) = 0;
    // Window thread, shutdown step 5: close the window and leave the event loop.
    virtual void EndMonitor() = 0;
    // The window that parents the preview and receives the frame notifications (QWidget*).
    virtual void* CaptureWindow() = 0;
    // Thread-safe. A desktop notification (picture: a file, or ""). Unless always, only while
    // the window is in the tray or minimised: otherwise the window itself shows the event.
    virtual void Notify(const std::string& title, const std::string& body,
                        const std::string& picture, bool urgent, bool always) = 0;
};

struct EngineOptions {
    std::string ProgramFolder;  // ends with '/'
    std::string SettingsFile;
    int PollMs = 100;             // MainThread's sampling period
    Clock* TimeSource = nullptr;  // nullptr: SystemClock()
    std::string TempParent;       // "" = $TMPDIR or /tmp
    std::FILE* Echo = stdout;     // every event-log entry as one UTF-8 line; nullptr: none
    // Folders with the program's data (sounds under "sounds/"), searched after the current
    // directory and the program folder for a relative sound name.
    std::vector<std::string> DataFolders;
};

// The mail hand-off: each job gets its own copy of the warning picture.
struct MailRequest {
    std::string PicturePath;  // 24-bit BMP of the frame, without the time stamp; owned by the job
    WallTime CaptureTime;
    int32_t Mode = 0;
    std::string WorkFolder;  // the private temporary folder, with a trailing '/'
};

int32_t ClampMode(int32_t mode);
// Numbers from the settings file run as they stand (a hand-written TimerInterval=240 is four
// hours); only what would break is replaced: a count, period or sensitivity below 1 counts as 1.
int32_t AtLeastOne(int32_t value);
// The JPEG quality of PictureQuality (a fifth of it), kept to what the encoder takes.
int32_t JpegQuality(int32_t pictureQuality);
// A mode's motion check settings as the core takes them.
MotionCheckSetup MotionCheckOf(const WarningSettings& w);
// The suggestion of the motion check: this many detections the check would have rejected
// within this many minutes.
inline constexpr int kHintDetections = 20;
inline constexpr int kHintMinutes = 10;

class MonitorEngine {
  public:
    MonitorEngine(EngineHost& host, CoreApi& core, sound::SoundPlayer& sound,
                  EngineOptions options);
    ~MonitorEngine();
    MonitorEngine(const MonitorEngine&) = delete;
    MonitorEngine& operator=(const MonitorEngine&) = delete;

    // Window thread, start-up in this order: LoadSettings (then the window places itself
    // from Settings()->Window), Start (temporary folder, core library, device, threads).
    void LoadSettings();
    void UseSettings(const AllSettings& settings);  // instead of LoadSettings (tests)
    void Start();
    // Window thread, the first time the window is shown: switches monitoring on when
    // WakeUpStart is set (queued). True when the window should go to the tray (WakeUpIcon).
    bool OnFirstShow();
    // Window thread, every 250 ms.
    void Tick();
    // Window thread, when the window is destroyed: stops what still runs, closes the core
    // library and removes the temporary folder.
    void Finish();

    // Commands (window thread).
    void StartStop();
    void SelectMode(int mode);
    void RequestExit();  // starts the shutdown; ignored while one runs
    void TogglePreview();
    void ToggleMailSwitch();
    void Acknowledge();  // left button pressed on the window
    void EnterTray();    // the window went to the tray
    void LeaveTray();    // and came back
    void BeginSettingsDialog();
    void EndBasicSettings(const BasicSettings& basic);
    void EndWarningSettings(bool accepted, const MailSettings& mail, const PictSettings& pict,
                            const std::array<WarningSettings, kOperatingModes>& warning);
    // Saves and applies the clean-up limits and the hooks (a clean-up runs at once).
    void EndLivingSettings(const RetentionSettings& retention, const HookSettings& hooks);
    // Waits until every hook event sent so far has been delivered (tests, benchmarks).
    void DrainHooks();
    // A mode's warning settings changed while monitoring goes on (the tuning window): saved,
    // and the motion check follows at once when it is the current mode.
    void ChangeModeSettings(int mode, const WarningSettings& warning);
    // Any thread: the motion check's verdict and cells (CoreApi).
    bool MotionCheckState(MotionCheckVerdict& verdict) { return core_.GetMotionCheck(verdict); }
    bool MotionCheckGrid(std::vector<uint8_t>& cells, std::vector<uint8_t>& luma) {
        return core_.GetMotionCheckGrid(cells, luma);
    }
    // Window thread, start-up: opens the device named in the settings (the first one when none
    // is named) and says what went wrong in a message; count: GetDeviceCount(). 1 runs, 0 none
    // found, -1 failed. The name of the opened device is saved.
    int StartDevice(int count);
    // Window thread, after a device selection: closes the open device and opens the named one
    // (device 0 when none has that name) with the window's preview and basic's motion display
    // and frame rate. No message (the dialog tells); *opened gets the name of the device
    // opened. True when it started.
    bool RestartDevice(const std::string& name, const BasicSettings& basic,
                       std::string* opened = nullptr);
    void SetPreview(bool on);

    // Thread-safe: the event log (both lists, standard output, and for kinds 0 to 2 the day's
    // file, made 0600 in a 0700 folder). detail: why a mail failed, shown as the event line's
    // tooltip ("" for none).
    void WriteLog(int kind, const std::string& text, const std::string& detail = "");
    // HdThread: the warning rule after a saved detect picture; true when a warning was raised.
    bool CheckWarning();

    // State for the display. Any thread.
    bool Running() const { return running_.load() != 0; }
    bool DialogOpen() const { return dialogOpen_.load() != 0; }
    int32_t CurrentMode() const { return currentMode_.load(); }
    int32_t DetectCount() const { return detectCount_.load(); }
    int32_t WarningCount() const { return warningCount_.load(); }
    int32_t WindowCount() const { return windowCount_.load(); }
    bool WarningHold() const { return warningHold_.load() != 0; }
    bool CautionShown() const { return cautionShown_.load() != 0; }
    bool SoundLooping() const { return soundLooping_.load() != 0; }
    int32_t AlarmTicks() const { return alarmTicks_.load(); }
    int32_t LastLevelShown() const { return lastLevelShown_.load(); }
    int32_t CountdownShown() const { return countdownShown_.load(); }
    bool MailSwitch() const { return mailSwitch_.load() != 0; }
    bool PreviewOn() const { return previewOn_.load() != 0; }
    int32_t ShutdownStep() const { return shutdownStep_.load(); }
    // The settings in force (a snapshot; dialogs replace it through the End... commands).
    std::shared_ptr<const AllSettings> Settings() const;
    // Window thread.
    const EventList& Events() const { return events_; }
    const std::string& DeviceLine() const { return deviceLine_; }
    // Window thread. The picture of an event-list line, in the folders of the current
    // settings; "" for a mail line or an index out of range.
    std::string EventPicturePath(int index) const;
    const std::string& TempFolderPath() const { return temp_.Path(); }
    const std::string& ProgramFolder() const { return options_.ProgramFolder; }
    // True while any worker thread runs.
    bool ThreadsRunning() const;
    // The folder a picture kind goes to (DetectPath / TimerPath or the default), with '/'.
    std::string PictureFolder(int kind) const;

    // The events, for tests and diagnostics.
    NamedEvent& RequestCaptureEvent() { return requestCapture_; }
    NamedEvent& RequestHdEvent() { return requestHd_; }
    NamedEvent& RequestMailEvent() { return requestMail_; }

  private:
    void MainThread();
    void CaptureThread();
    void HdThread();
    void MailThread();
    void Nap();
    void SaveFrame();
    void RequestMail();
    void DoMailJob(const MailRequest& request);
    void AlarmStep();
    void DisplayTick();
    void ShutdownTick();
    void StartSound(const WarningSettings& w);
    std::string ResolveSound(const std::string& name) const;
    void RefreshDeviceLine();
    void WatchCameraLink(unsigned long link);
    void SendHook(const char* event, const std::string& picture, int level,
                  const std::string& detail);
    void Say(const std::string& line);  // one line on standard output
    void RetentionThread();
    void WakeRetention();
    void RunLostMail(const std::string& camera);
    bool OpenDevice(int index, const BasicSettings& basic, bool preview);
    void ReplaceSettings(const std::function<void(AllSettings&)>& change);
    // The current mode's motion check values and mask to the core.
    void ApplyMotionCheck();
    // MainThread: counts detections the check would have rejected while it is off; enough of
    // them suggest it once.
    void NoteUncheckedDetection(const WarningSettings& w, uint32_t now);
    void SuggestMotionCheck();
    const WarningSettings& Mode(const AllSettings& s) const;
    uint32_t Now() const { return clock_.TickMs(); }

    EngineHost& host_;
    CoreApi& core_;
    sound::SoundPlayer& sound_;
    EngineOptions options_;
    Clock& clock_;

    // Settings: replaced whole by the window thread, read by every thread.
    mutable std::mutex settingsMutex_;
    std::shared_ptr<const AllSettings> settings_;

    // The shared fields.
    std::atomic<int32_t> running_{0}, dialogOpen_{0}, currentMode_{0}, shutdownStep_{0};
    std::atomic<int32_t> detectCount_{0}, warningCount_{0}, windowCount_{0};
    std::atomic<int32_t> warningHold_{0}, cautionShown_{0}, soundLooping_{0}, alarmTicks_{0};
    std::atomic<uint32_t> warningHoldUntil_{0}, timerDeadline_{0}, windowDeadline_{0};
    std::atomic<int32_t> timerFired_{0}, mailSwitch_{0}, previewOn_{0};
    std::atomic<int32_t> captureKind_{0}, saveKind_{0};
    std::atomic<int32_t> lastLevelShown_{0}, countdownShown_{0};
    unsigned long linkShown_ = 0;  // window thread: the camera link the device line shows
    std::atomic<int32_t> inTray_{0};
    // Written by CaptureThread before RequestHd is set, read by HdThread after.
    WallTime captureTime_{};

    // The seven named events; any change rings the bell, which also announces a thread's end.
    EventBell bell_;
    NamedEvent endMain_{"QuorvexRequestEndMainThread", &bell_};
    NamedEvent endCapture_{"QuorvexRequestEndCaptureThread", &bell_};
    NamedEvent requestCapture_{"QuorvexRequestCapture", &bell_};
    NamedEvent endHd_{"QuorvexRequestEndHdThread", &bell_};
    NamedEvent requestHd_{"QuorvexRequestHd", &bell_};
    NamedEvent endMail_{"QuorvexRequestEndMailThread", &bell_};
    NamedEvent requestMail_{"QuorvexRequestMail", &bell_};

    // The four threads and their "handle fields" (cleared by each thread as its last act).
    std::thread mainThread_, captureThread_, hdThread_, mailThread_;
    std::atomic<int32_t> mainAlive_{0}, captureAlive_{0}, hdAlive_{0}, mailAlive_{0};
    void EndWarning();
    void Ended(std::atomic<int32_t>& alive);  // a thread's last act
    // A worker's wait for its request (at most kIdleWait). False once its end event is set:
    // the thread has then said it ended and returns.
    bool AwaitRequest(NamedEvent& request, NamedEvent& end, std::atomic<int32_t>& alive,
                      bool& requested);

    TempFolder temp_;
    std::string tmpFrame_, tmp24_, tmpStamped_, tmpJpeg_;  // QVTmp100..103
    MailRequest mailRequest_;  // HdThread -> MailThread, ordered by RequestMail
    uint32_t mailSerial_ = 0;  // HdThread only
    bool mailSent_ = false;    // HdThread only: a mail job was started, at lastMailTick_
    uint32_t lastMailTick_ = 0;
    std::vector<uint32_t> rejectedDetections_;  // MainThread only: times of the recent ones
    std::atomic<int32_t> hintPosted_{0};

    std::mutex logMutex_;  // one event-log writer at a time
    EventList events_;     // window thread
    std::string deviceLine_;
    bool coreStarted_ = false;
    bool finished_ = false;

    // The hooks, configured from [Hooks]; they run on their own thread.
    std::unique_ptr<hooks::Dispatcher> hooks_;
    std::atomic<int32_t> detectLevel_{0};  // the level that made the last detection
    bool diskOutage_ = false;              // HdThread: pictures cannot be saved right now
    // Window thread: since when the camera is lost (tick), and whether camera-lost went out.
    bool linkLost_ = false, lostRaised_ = false;
    uint32_t lostSince_ = 0;
    // The camera-lost mail waiting for the mail thread (its camera's name), after any warning
    // mail.
    std::mutex lostMailMutex_;
    std::vector<std::string> lostMails_;

    // The clean-up thread: at start, every kRetentionPeriod and when woken.
    std::thread retentionThread_;
    std::mutex retentionMutex_;
    std::condition_variable retentionWake_;
    bool retentionWanted_ = false, retentionStop_ = false;
};

}  // namespace qv::engine
