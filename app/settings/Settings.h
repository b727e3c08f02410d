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

inline constexpr int kOperatingModes = 3;

struct BasicSettings {
    int32_t PreviewRate = 3;      // index into 1, 5, 10, 15, 20, 30, 60 frames per second
    int32_t PictureQuality = 15;  // JPEG quality / 5
    int32_t ConnMode = 0;         // 0 LAN, 1 dial-up
    int32_t WakeUpStart = 0;
    int32_t WakeUpIcon = 0;
    int32_t DetectPreview = 0;
    std::string DeviceName;  // empty: the first device that opens
    std::string TimerPath;   // empty: "timer" in the program folder
    std::string DetectPath;  // empty: "detect" in the program folder
    std::string DialName;
};

// One per operating mode; DefaultWarningSettings(mode) gives the mode's defaults.
struct WarningSettings {
    int32_t TimerEnable = 0;
    int32_t TimerInterval = 1;  // minutes
    int32_t MotionEnable = 1;
    int32_t MotionSensitivity = 3000;
    int32_t SecurityTimerInterval = 2;  // minutes without a new warning
    int32_t SecTimer = 30;              // seconds in which detections are counted
    int32_t SecCount = 5;               // detections that raise a warning
    int32_t SecurityPic = 1;
    int32_t SecurityWave = 1;
    int32_t SecurityWaveLoop = 1;
    int32_t SendMail = 1;
    int32_t MailInterval = 5;
    std::string SecurityWaveName = "beep.wav";
    std::string SecurityPicName1 = "caution1.bmp";
    std::string SecurityPicName2 = "caution2.bmp";
    std::string MailTitle = "警告！！";
    std::string MailText =
        "警告が発生しました。<BR>画像を確認してください。";  // "<BR>" = line break
    int32_t SendPict = 1;
};

struct MailSettings {
    int32_t PopSmtp = 0;
    std::string SmtpServer;
    std::string MailAddress;
    std::string PopServer;
    std::string UserID;
    std::string Password;  // plain in memory, Base64 without padding in the file
    std::string SendMailAddress;
    // Submission as today's providers want it. Left at these defaults the mail goes out with
    // plain HELO on port 25 as ever, and the file gets none of these keys.
    int32_t SmtpPort = 25;
    int32_t SmtpSecurity = 0;  // 0 "なし", 1 "STARTTLS", 2 "SSL/TLS" (port 465 typical)
    int32_t SmtpAuth = 0;      // 1 = AUTH PLAIN or LOGIN with SmtpUser and SmtpPassword
    // The {} keep brace lists that set only the fields above free of warnings.
    std::string SmtpUser{};
    std::string SmtpPassword{};  // stored like Password
};

// The labels of SmtpSecurity 0..2, as the settings dialog lists them.
inline constexpr const char* kSmtpSecurityLabels[3] = {"なし", "STARTTLS", "SSL/TLS"};

struct PictSettings {
    int32_t Type = 0;  // 0 PNG, 1 JPEG
    int32_t PictQuality = 7;
    int32_t Width = 120;
    int32_t Height = 100;
    int32_t Aspect = 1;
    int32_t ColorNum = 24;
    int32_t ColQuality = 4;
};

// [Window]. MainLeft/MainTop have no default: HasPosition is false when MainLeft is missing.
struct WindowSettings {
    bool HasPosition = false;
    int32_t MainLeft = 0;
    int32_t MainTop = 0;
    int32_t SelectMode = 0;
};

// Everything LoadAllSettings fills.
struct AllSettings {
    WindowSettings Window;
    BasicSettings Basic;
    std::array<WarningSettings, kOperatingModes> Warning;
    MailSettings Mail;
    PictSettings Pict;
    int32_t CurrentMode = 0;  // SelectMode, kept within 0..2
    int32_t MailSwitch = 1;   // SendMail of the current mode
};

WarningSettings DefaultWarningSettings(int mode);

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

// Window values, then [BasicSettings], the three modes, [MailSettings], [PictSettings]; sets
// CurrentMode and MailSwitch. The window itself is placed later with InitialWindowPosition.
int LoadAllSettings(const std::string& file, AllSettings& settings);

// The stored password form: Base64 (no padding) of the password's CP932 bytes, and back (the
// password ends at the first zero byte the decoding gives).
std::string EncodePassword(std::string_view passwordUtf8);
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

// Description of every key, for the config command. Order: the file's order of sections and
// keys ([Window], [BasicSettings], [WarningSettings0..2], [MailSettings], [PictSettings]).
enum class SettingType { Number, Text, Password };

struct SettingKey {
    const char* Section;
    const char* Key;
    SettingType Type;
    const char* Default;  // UTF-8; nullptr when the key has no default (MainLeft, MainTop)
    int32_t Min;          // allowed range of a number as the settings dialogs offer it
    int32_t Max;
    int32_t Multiple;   // the value must be a multiple of this (Width: 4), else 1
    const char* Range;  // the range in words, for messages
    // Saved only once it differs from its default or stands in the file (the SMTP submission
    // keys): a file that never used them stays as it was.
    bool WrittenWhenUsed = false;
};

const std::vector<SettingKey>& SettingKeys();

// The key with this section and key name (ASCII case ignored), or nullptr.
const SettingKey* FindSettingKey(std::string_view section, std::string_view key);
// True when some key lives in this section (ASCII case ignored).
bool IsSettingSection(std::string_view section);
