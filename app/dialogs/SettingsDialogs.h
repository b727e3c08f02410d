// The settings dialogs: the basic settings sheet (with the device selection and the driver
// dialogs), the warning settings dialog and its four sub-dialogs, and the file pickers. Every
// dialog edits copies of the settings records; the caller decides what to keep. All of it runs
// on the window thread.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "app/settings/Settings.h"
#include "app/settings/StreamSources.h"

class QWidget;

namespace qv::dialogs {

// What the basic settings page needs from the capture side; the main window supplies these
// (the core library's device list, restart, driver dialogs and preview rate). Empty functions
// are treated as "nothing there".
struct DeviceHooks {
    // Names of the core library's devices in device order (empty names included).
    std::function<std::vector<std::string>()> DeviceNames;
    // Closes the open device and starts the named one with the window's preview settings.
    // True when it started.
    std::function<bool(const std::string& name)> RestartDevice;
    // State 6144: which driver dialogs the open device offers (QV_DLG_* bits).
    std::function<unsigned long()> DialogCaps;
    // QvOpenDialog: 8 source, 2 format.
    std::function<void(unsigned long dialog)> OpenDriverDialog;
    // QvCoreSetPreviewRate, in frames per second.
    std::function<void(int framesPerSecond)> SetPreviewRate;
    // The settings file that keeps the stream cameras; empty: the device selection offers
    // no stream cameras.
    std::string StreamSourcesFile;
    // The stream cameras changed (already saved): hand them to the core library, list the
    // devices anew and open reopen again (its name after a rename; the first device when it
    // is gone). DeviceNames then includes them.
    std::function<void(const std::vector<StreamSource>& sources, const std::string& reopen)>
        StreamSourcesChanged;
};

// The Japanese sentence the device selection shows for a refused stream camera.
std::string StreamSourceProblemMessage(StreamSourceProblem problem);

// The frame rates behind PreviewRate's index (the settings schema's).
using ::kPreviewRates;
using ::PreviewRateFps;

// The settings for a monitor left running: the schedule, what is deleted, the hooks and the
// web page. The basic settings sheet edits them on pages of their own when given them.
struct LongRunSettings {
    RetentionSettings Retention;
    ScheduleSettings Schedule;
    HookSettings Hooks;
    WebSettings Web;
    bool operator==(const LongRunSettings&) const = default;
};

// What the web group shows (read-only) and how a typed password becomes the stored hash.
struct WebInfo {
    std::string Fingerprint;             // the certificate's SHA-256, "" when there is none yet
    std::vector<std::string> Addresses;  // what a phone opens
    std::function<std::string(const std::string& password)> HashPassword;
};

// The basic settings sheet ("基本設定" page and a version page). Works on `settings` in
// place: changes made with the controls go into it at once (as the sheet's caller takes the
// copy back whichever button closed it); the paths and the dial-up entry go in on Apply / OK.
// dialEntries are the dial-up phonebook entries. Returns true for OK.
bool RunBasicSettingsSheet(QWidget* parent, BasicSettings& settings, const DeviceHooks& hooks,
                           const std::vector<std::string>& dialEntries);

// The warning settings dialog. On OK the edited copies are written back and true is returned;
// Cancel leaves every argument unchanged (sub-dialog edits included).
struct WarningDialogData {
    MailSettings Mail;
    PictSettings Pict;
    std::array<WarningSettings, kOperatingModes> Warning;
};

// "テスト送信": sends one mail with the given settings and returns whether it went out and
// what happened in words. Runs on a worker thread; stop() turns true when the dialog closes.
struct TestSendOutcome {
    bool Sent = false;
    std::string Text;
};
using TestSendFunction =
    std::function<TestSendOutcome(const MailSettings& mail, std::function<bool()> stop)>;
bool RunWarningSettingsDialog(QWidget* parent, WarningDialogData& data, int currentMode,
                              const std::string& programFolder, std::function<void()> openHelp);

// Attachment width as the dialog keeps it: limited to its range and raised to a multiple of 4.
int RoundAttachmentWidth(int width);
// Attachment height: limited to its range.
int LimitAttachmentHeight(int height);

// The mail body between the record ("<BR>" for a line break) and the edit field (CR LF).
std::string MailTextToEdit(const std::string& stored);
std::string MailTextFromEdit(const std::string& edited);  // CRs dropped, LF -> "<BR>"

// Label texts of the attachment sliders.
std::string PictQualityLabel(int type, int quality);  // PNG: value, JPEG: value x 5
std::string ColorNumLabel(int colorNum);              // x 8 up to 32, then 4096/3万/6万/16万
std::string ColQualityLabel(int colQuality);          // 極低 .. 極高

// The longest prefix of utf8 whose Shift-JIS form fits in maxBytes (whole characters only):
// the settings file keeps 255 bytes of a text (4095 of the mail body while running).
std::string CutToCp932Bytes(const std::string& utf8, std::size_t maxBytes);
inline constexpr std::size_t kTextBytes = 255;
inline constexpr std::size_t kMailBodyBytes = 4095;

// Where an open-file picker starts: the folder of the current name when it has one, else the
// program folder; the file name of the current name, or defaultName when it is empty.
struct PickerStart {
    std::string Folder;
    std::string FileName;
};
PickerStart FilePickerStart(const std::string& programFolder, const std::string& currentName,
                            const std::string& defaultName);

}  // namespace qv::dialogs
