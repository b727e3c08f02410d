// The program's settings: the records the engine, the mail thread and the dialogs use, the
// sections and keys of the settings file with their defaults, and the per-section loads and
// saves. Text fields are UTF-8 in memory (CP932 in the file, at most 255 bytes of it survive
// a restart); numbers are 32-bit. Loads and saves run on the window thread (and in the config
// command); the worker threads only read the records.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings/IniFile.h"

inline constexpr int kOperatingModes = 3;

// The records start with the file defaults of the settings table (Settings.cpp).
struct BasicSettings {
    BasicSettings();
    int32_t PreviewRate{};     // index into kPreviewRates
    int32_t PictureQuality{};  // JPEG quality / 5
    int32_t ConnMode{};        // 0 LAN, 1 dial-up
    int32_t WakeUpStart{};
    int32_t WakeUpIcon{};
    int32_t DetectPreview{};
    std::string DeviceName;  // empty: the first device that opens
    std::string TimerPath;   // empty: "timer" in the program folder
    std::string DetectPath;  // empty: "detect" in the program folder
    std::string DialName;
    bool operator==(const BasicSettings&) const = default;
};

// One per operating mode; a plain record holds mode 0's defaults, DefaultWarningSettings(mode)
// another mode's.
struct WarningSettings {
    WarningSettings();
    int32_t TimerEnable{};
    int32_t TimerInterval{};  // minutes
    int32_t MotionEnable{};
    int32_t MotionSensitivity{};
    int32_t SecurityTimerInterval{};  // minutes without a new warning
    int32_t SecTimer{};               // seconds in which detections are counted
    int32_t SecCount{};               // detections that raise a warning
    int32_t SecurityPic{};
    int32_t SecurityWave{};
    int32_t SecurityWaveLoop{};
    int32_t SendMail{};
    int32_t MailInterval{};
    std::string SecurityWaveName;
    std::string SecurityPicName1;
    std::string SecurityPicName2;
    std::string MailTitle;
    std::string MailText;  // "<BR>" = line break
    int32_t SendPict{};
    // The motion check: a detection also needs motion the check confirms (noise, light changes,
    // speckle and one-frame events do not count); masked areas count for nothing.
    int32_t MotionCheck{};       // 0 off (detection as the level alone says), 1 on
    int32_t MotionCheckNoise{};  // change must stand this many tenths above the learned noise
    int32_t MotionCheckArea{};   // smallest moving area that counts, tenths of a percent
    int32_t MotionCheckMs{};     // how long motion must last to count
    std::string MotionMask;      // areas to ignore: "x,y x,y x,y|..." in 0..1 of the picture
    bool operator==(const WarningSettings&) const = default;
};

struct MailSettings {
    MailSettings();
    int32_t PopSmtp{};
    std::string SmtpServer;
    std::string MailAddress;
    std::string PopServer;
    std::string UserID;
    std::string Password;  // plain in memory, Base64 without padding in the file
    std::string SendMailAddress;
    // Submission as today's providers want it. Left at their defaults the mail goes out with
    // plain HELO on port 25 as ever, and the file gets none of these keys.
    int32_t SmtpPort{};
    int32_t SmtpSecurity{};  // 0 "なし", 1 "STARTTLS", 2 "SSL/TLS" (port 465 typical)
    int32_t SmtpAuth{};      // 1 = AUTH PLAIN or LOGIN with SmtpUser and SmtpPassword
    std::string SmtpUser;
    std::string SmtpPassword;  // stored like Password
    bool operator==(const MailSettings&) const = default;
};

// The labels of SmtpSecurity 0..2, as the settings dialog lists them.
inline constexpr const char* kSmtpSecurityLabels[3] = {"なし", "STARTTLS", "SSL/TLS"};

struct PictSettings {
    PictSettings();
    int32_t Type{};  // 0 PNG, 1 JPEG
    int32_t PictQuality{};
    int32_t Width{};
    int32_t Height{};
    int32_t Aspect{};
    int32_t ColorNum{};
    int32_t ColQuality{};
    bool operator==(const PictSettings&) const = default;
};

// [Window]. MainLeft/MainTop have no default: HasPosition is false when MainLeft is missing.
struct WindowSettings {
    WindowSettings();
    bool HasPosition = false;
    int32_t MainLeft{};
    int32_t MainTop{};
    int32_t SelectMode{};
    int32_t MotionCheckHint{};  // 1 once the window has suggested the motion check
    bool operator==(const WindowSettings&) const = default;
};

// [Retention]: what is deleted, oldest first, and when (0: never).
struct RetentionSettings {
    RetentionSettings();
    int32_t PictureDays{};
    int32_t PictureMegabytes{};
    int32_t LogDays{};
    int32_t MinFreeMegabytes{};
    bool operator==(const RetentionSettings&) const = default;
};

// [Schedule]: weekly rules "DAYS HH:MM-HH:MM ACTION" (app/schedule).
inline constexpr int kScheduleRules = 10;
struct ScheduleSettings {
    ScheduleSettings();
    int32_t Enable{};
    std::string Rule1, Rule2, Rule3, Rule4, Rule5, Rule6, Rule7, Rule8, Rule9, Rule10;
    std::array<const std::string*, kScheduleRules> Rules() const {
        return {&Rule1, &Rule2, &Rule3, &Rule4, &Rule5, &Rule6, &Rule7, &Rule8, &Rule9, &Rule10};
    }
    std::array<std::string*, kScheduleRules> Rules() {
        return {&Rule1, &Rule2, &Rule3, &Rule4, &Rule5, &Rule6, &Rule7, &Rule8, &Rule9, &Rule10};
    }
    bool operator==(const ScheduleSettings&) const = default;
};

// [Hooks]: the command, webhook and push channels (app/hooks) and the camera-lost alert.
struct HookSettings {
    HookSettings();
    std::string Command;
    std::string CommandEvents;
    std::string WebhookUrl;
    int32_t WebhookPicture{};
    std::string PushUrl;
    std::string PushToken;  // stored like the mail passwords
    int32_t CameraLostSeconds{};
    int32_t CameraLostMail{};
    bool operator==(const HookSettings&) const = default;
};

// [Web]: the web page (app/web). Password holds a salted scrypt hash, never the password.
struct WebSettings {
    WebSettings();
    int32_t Enable{};
    int32_t Port{};
    int32_t Tls{};
    std::string Password;
    bool operator==(const WebSettings&) const = default;
};

// Everything LoadAllSettings fills.
struct AllSettings {
    WindowSettings Window;
    BasicSettings Basic;
    std::array<WarningSettings, kOperatingModes> Warning;
    MailSettings Mail;
    PictSettings Pict;
    RetentionSettings Retention;
    ScheduleSettings Schedule;
    HookSettings Hooks;
    WebSettings Web;
    int32_t CurrentMode = 0;  // SelectMode, kept within 0..2
    int32_t MailSwitch = 1;   // SendMail of the current mode
    bool operator==(const AllSettings&) const = default;
};

WarningSettings DefaultWarningSettings(int mode);

// The operating mode a stored SelectMode stands for (0 for a value out of range).
int32_t UsableMode(int32_t selectMode);

// "WarningSettings0" .. "WarningSettings2".
std::string WarningSectionName(int mode);

// The plain decimal conversion of the file's numbers: leading blanks, an optional sign, the
// leading digits; text without digits gives 0; values beyond 32 bits saturate.
int32_t ParseSettingNumber(std::string_view text);

// Each load reads every key of its section with the key's default; each save writes every key
// in the file's order (every write rewrites the file). Loads return 1; saves return 1, or 0 when
// a write failed (reported on standard error by the store).
int LoadBasicSettings(const std::string& file, BasicSettings& settings);
int SaveBasicSettings(const std::string& file, const BasicSettings& settings);
int LoadWarningSettings(const std::string& file, int mode, WarningSettings& settings);
int SaveWarningSettings(const std::string& file, int mode, const WarningSettings& settings);
int LoadMailSettings(const std::string& file, MailSettings& settings);
int SaveMailSettings(const std::string& file, const MailSettings& settings);
int LoadPictSettings(const std::string& file, PictSettings& settings);
int SavePictSettings(const std::string& file, const PictSettings& settings);
int LoadWindowSettings(const std::string& file, WindowSettings& settings);
int SaveWindowSettings(const std::string& file, const WindowSettings& settings);
int LoadRetentionSettings(const std::string& file, RetentionSettings& settings);
int SaveRetentionSettings(const std::string& file, const RetentionSettings& settings);
int LoadScheduleSettings(const std::string& file, ScheduleSettings& settings);
int SaveScheduleSettings(const std::string& file, const ScheduleSettings& settings);
int LoadHookSettings(const std::string& file, HookSettings& settings);
int SaveHookSettings(const std::string& file, const HookSettings& settings);
int LoadWebSettings(const std::string& file, WebSettings& settings);
int SaveWebSettings(const std::string& file, const WebSettings& settings);

// Window values, then [BasicSettings], the three modes, [MailSettings], [PictSettings]; sets
// CurrentMode and MailSwitch. The window itself is placed later with InitialWindowPosition.
int LoadAllSettings(const std::string& file, AllSettings& settings);

// The stored password form: Base64 (no padding) of the password's CP932 bytes, and back (the
// password ends at the first zero byte the decoding gives).
std::string EncodePassword(std::string_view passwordUtf8);
// The longest password (CP932 bytes) whose stored form survives a restart: 191 bytes give
// 255 Base64 characters.
inline constexpr std::size_t kPasswordBytes = (kIniValueBufferSize - 1) * 3 / 4;
std::string DecodePassword(std::string_view stored);

// Where the main window goes at start-up: the stored corner when there is one; otherwise the
// window is centred on the screen and then moved to half the centred left and top.
struct WindowPosition {
    int32_t Left = 0;
    int32_t Top = 0;
};
WindowPosition InitialWindowPosition(const WindowSettings& window, int screenLeft, int screenTop,
                                     int screenWidth, int screenHeight, int windowWidth,
                                     int windowHeight);

// The settings schema: one row per key says where it lives in the file and in its record, its
// default, the range the dialogs offer and what the dialogs' ﾃﾞﾌｫﾙﾄ buttons set it to. Loading,
// saving, the records' defaults, "quorvex config" and the dialogs all read it.
// Password: kept as Base64 in the file; Hash: only a salted slow hash is kept (setting one
// stores its hash), and neither "get" nor "list" prints it.
enum class SettingType { Number, Text, Password, Hash };

// The ﾃﾞﾌｫﾙﾄ button that resets a key (None: no button touches it).
enum class DefaultButton { None, Basic, Warning, MailText, Picture };

struct SettingKey {
    const char* Key = nullptr;
    SettingType Type = SettingType::Number;
    // The file default (UTF-8), per operating mode for the warning sections ([1] and [2]
    // nullptr: as [0]); [0] nullptr: the key has no default (MainLeft, MainTop).
    std::array<const char*, kOperatingModes> Default{};
    int32_t Min = 0;  // numbers: the range the dialogs offer; a file may hold anything
    int32_t Max = 0;
    int32_t Multiple = 1;         // the value must be a multiple of this (Width: 4)
    const char* Range = nullptr;  // the range in words; nullptr: "Min..Max" or "0 or 1"
    // Saved only once it differs from its default or stands in the file (the SMTP submission
    // keys): a file that never used them stays as it was.
    bool WrittenWhenUsed = false;
    DefaultButton Button = DefaultButton::None;
    const char* ButtonValue = nullptr;  // where the button's value is not the file default
    // Texts with a form of their own: false with the reason for a value the program cannot use.
    bool (*Valid)(std::string_view text, std::string* why) = nullptr;

    const char* DefaultFor(int mode) const;  // "" when there is none
    std::string RangeText() const;
};

// The quality slider of the attachment offers 0..9 for PNG (the table's range is JPEG's) and
// starts a switch to JPEG at this value.
inline constexpr int32_t kPngQualityMax = 9;
inline constexpr int32_t kJpegQualityStart = 12;

// The frame rates behind BasicSettings::PreviewRate; an index out of range runs at the
// default index's rate.
inline constexpr std::array<int32_t, 7> kPreviewRates = {1, 5, 10, 15, 20, 30, 60};
int32_t PreviewRateFps(int32_t index);

// The schema row of a record member, e.g. KeyOf(&PictSettings::Width).Max.
template <class Record>
const SettingKey& KeyOf(int32_t Record::*member);
template <class Record>
const SettingKey& KeyOf(std::string Record::*member);

// Sets every key that button resets to the button's value (mode: the warning record's mode).
template <class Record>
void PressDefaultButton(DefaultButton button, Record& record, int mode = 0);

// Every key in the file's order of sections and keys ([Window], [BasicSettings],
// [WarningSettings0..2], [MailSettings], [PictSettings], [Retention], [Schedule], [Hooks],
// [Web]), for the config command.
struct SettingEntry {
    std::string Section;
    const SettingKey* Key;
    int Mode;  // the operating mode of a warning section, else 0
};
const std::vector<SettingEntry>& SettingKeys();

// The entry with this section and key name (ASCII case ignored), or nullptr.
const SettingEntry* FindSettingKey(std::string_view section, std::string_view key);
// True when some key lives in this section (ASCII case ignored).
bool IsSettingSection(std::string_view section);

// The value the program loads for an entry, as text (a number as it parses, a password
// decoded).
std::string ReadSettingText(const std::string& file, const SettingEntry& entry);
