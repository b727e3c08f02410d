#include "app/settings/Settings.h"

#include <climits>
#include <cstdio>

#include "app/mail/Base64.h"
#include "app/settings/IniFile.h"
#include "platform/text/Text.h"

namespace {

constexpr const char* kWindow = "Window";
constexpr const char* kBasic = "BasicSettings";
constexpr const char* kMail = "MailSettings";
constexpr const char* kPict = "PictSettings";

std::string Number(int32_t v) {
    return std::to_string(v);
}

int32_t ReadNumber(const std::string& file, const std::string& section, const char* key,
                   int32_t def) {
    return ParseSettingNumber(IniReadString(section, key, Number(def), file));
}

std::string ReadText(const std::string& file, const std::string& section, const char* key,
                     const std::string& def) {
    return IniReadString(section, key, def, file);
}

// Whether the file holds the key (whatever its value).
bool HasKey(const std::string& file, const std::string& section, const char* key) {
    // Two different defaults: only a key that is there gives back the same text for both.
    return IniReadRaw(section, key, "\x01", file) == IniReadRaw(section, key, "\x02", file);
}

// Every key of a section is written even after a failure; the result
// says whether all of them reached the file.
struct Writer {
    const std::string& file;
    std::string section;
    bool ok = true;
    void Put(const char* key, const std::string& value) {
        ok = IniWriteString(section, key, value, file) && ok;
    }
    void Put(const char* key, int32_t value) { Put(key, Number(value)); }
};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

std::vector<SettingKey> BuildKeyTable() {
    using T = SettingType;
    std::vector<SettingKey> keys = {
        {kWindow, "MainLeft", T::Number, nullptr, INT32_MIN, INT32_MAX, 1, "a screen coordinate"},
        {kWindow, "MainTop", T::Number, nullptr, INT32_MIN, INT32_MAX, 1, "a screen coordinate"},
        {kWindow, "SelectMode", T::Number, "0", 0, 2, 1, "0..2"},
        {kBasic, "PreviewRate", T::Number, "3", 0, 6, 1, "0..6"},
        {kBasic, "WakeUpStart", T::Number, "0", 0, 1, 1, "0 or 1"},
        {kBasic, "WakeUpIcon", T::Number, "0", 0, 1, 1, "0 or 1"},
        {kBasic, "DeviceName", T::Text, "", 0, 0, 1, "a device name"},
        {kBasic, "PictureQuality", T::Number, "15", 1, 20, 1, "1..20"},
        {kBasic, "TimerPath", T::Text, "", 0, 0, 1, "a folder"},
        {kBasic, "DetectPath", T::Text, "", 0, 0, 1, "a folder"},
        {kBasic, "ConnMode", T::Number, "", 0, 1, 1, "0 or 1"},
        {kBasic, "DialName", T::Text, "", 0, 0, 1, "a connection name"},
        {kBasic, "DetectPreview", T::Number, "0", 0, 1, 1, "0 or 1"},
    };
    // The per-mode defaults are kept as text for the table; the records hold the same values.
    static const char* const kSensitivity[] = {"3000", "1500", "2000"};
    static const char* const kSecurityTimer[] = {"2", "1", "2"};
    static const char* const kSecCount[] = {"5", "3", "4"};
    static const char* const kOnlyMode0[] = {"1", "0", "0"};
    static const char* const kWave[] = {"beep.wav", "wellcome.wav", "pinpon.wav"};
    static const char* const kTitle[] = {"警告！！", "来客です", "来客です"};
    static const char* const kText[] = {"警告が発生しました。<BR>画像を確認してください。",
                                        "お客様が来ました。", "お客様が来ました。"};
    static const char* const kSections[] = {"WarningSettings0", "WarningSettings1",
                                            "WarningSettings2"};
    for (int m = 0; m < kOperatingModes; ++m) {
        const char* s = kSections[m];
        keys.insert(
            keys.end(),
            {
                {s, "MotionEnable", T::Number, "1", 0, 1, 1, "0 or 1"},
                {s, "MotionSensitivity", T::Number, kSensitivity[m], 1, 9999, 1, "1..9999"},
                {s, "TimerEnable", T::Number, "0", 0, 1, 1, "0 or 1"},
                {s, "TimerInterval", T::Number, "1", 1, 120, 1, "1..120"},
                {s, "SecurityTimerInterval", T::Number, kSecurityTimer[m], 1, 10, 1, "1..10"},
                {s, "SecTimer", T::Number, "30", 10, 120, 1, "10..120"},
                {s, "SecCount", T::Number, kSecCount[m], 1, 10, 1, "1..10"},
                {s, "SecurityPic", T::Number, kOnlyMode0[m], 0, 1, 1, "0 or 1"},
                {s, "SecurityPicName1", T::Text, "caution1.bmp", 0, 0, 1, "a BMP file"},
                {s, "SecurityPicName2", T::Text, "caution2.bmp", 0, 0, 1, "a BMP file"},
                {s, "SecurityWave", T::Number, "1", 0, 1, 1, "0 or 1"},
                {s, "SecurityWaveLoop", T::Number, kOnlyMode0[m], 0, 1, 1, "0 or 1"},
                {s, "SecurityWaveName", T::Text, kWave[m], 0, 0, 1, "a WAVE file"},
                {s, "SendMail", T::Number, kOnlyMode0[m], 0, 1, 1, "0 or 1"},
                {s, "MailInterval", T::Number, "5", 1, 120, 1, "1..120"},
                {s, "MailTitle", T::Text, kTitle[m], 0, 0, 1, "text"},
                {s, "MailText", T::Text, kText[m], 0, 0, 1, "text, line breaks as <BR>"},
                {s, "SendPict", T::Number, kOnlyMode0[m], 0, 1, 1, "0 or 1"},
            });
    }
    keys.insert(
        keys.end(),
        {
            {kMail, "PopSmtp", T::Number, "0", 0, 1, 1, "0 or 1"},
            {kMail, "SmtpServer", T::Text, "", 0, 0, 1, "a server address"},
            {kMail, "MailAddress", T::Text, "", 0, 0, 1, "a mail address"},
            {kMail, "PopServer", T::Text, "", 0, 0, 1, "a server address"},
            {kMail, "UserID", T::Text, "", 0, 0, 1, "a user name"},
            {kMail, "Password", T::Password, "", 0, 0, 1, "a password"},
            {kMail, "SendMailAddress", T::Text, "", 0, 0, 1, "a mail address"},
            {kMail, "SmtpPort", T::Number, "25", 1, 65535, 1, "1..65535", true},
            {kMail, "SmtpSecurity", T::Number, "0", 0, 2, 1,
             "0 (none), 1 (STARTTLS) or 2 (SSL/TLS)", true},
            {kMail, "SmtpAuth", T::Number, "0", 0, 1, 1, "0 or 1", true},
            {kMail, "SmtpUser", T::Text, "", 0, 0, 1, "a user name", true},
            {kMail, "SmtpPassword", T::Password, "", 0, 0, 1, "a password", true},
            {kPict, "Type", T::Number, "0", 0, 1, 1, "0 (PNG) or 1 (JPEG)"},
            {kPict, "PictQuality", T::Number, "7", 0, 20, 1, "0..9 for PNG, 0..20 for JPEG"},
            {kPict, "Width", T::Number, "120", 32, 640, 4, "32..640, a multiple of 4"},
            {kPict, "Height", T::Number, "100", 32, 480, 1, "32..480"},
            {kPict, "Aspect", T::Number, "1", 0, 1, 1, "0 or 1"},
            {kPict, "ColorNum", T::Number, "24", 1, 36, 1, "1..36"},
            {kPict, "ColQuality", T::Number, "4", 0, 4, 1, "0..4"},
        });
    return keys;
}

}  // namespace

WarningSettings DefaultWarningSettings(int mode) {
    WarningSettings w;  // mode 0: the alarm
    if (mode == 1 || mode == 2) {
        w.MotionSensitivity = mode == 1 ? 1500 : 2000;
        w.SecurityTimerInterval = mode == 1 ? 1 : 2;
        w.SecCount = mode == 1 ? 3 : 4;
        w.SecurityPic = 0;
        w.SecurityWaveLoop = 0;
        w.SendMail = 0;
        w.SecurityWaveName = mode == 1 ? "wellcome.wav" : "pinpon.wav";
        w.MailTitle = "来客です";
        w.MailText = "お客様が来ました。";
        w.SendPict = 0;
    }
    return w;
}

std::string WarningSectionName(int mode) {
    return "WarningSettings" + std::to_string(mode);
}

int32_t ParseSettingNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > int64_t(INT32_MAX) + 1) v = int64_t(INT32_MAX) + 1;  // saturate, keep going
    }
    if (negative) v = -v;
    if (v > INT32_MAX) v = INT32_MAX;
    if (v < INT32_MIN) v = INT32_MIN;
    return static_cast<int32_t>(v);
}

int LoadBasicSettings(const std::string& file, BasicSettings& s) {
    const BasicSettings d;
    s.PreviewRate = ReadNumber(file, kBasic, "PreviewRate", d.PreviewRate);
    s.WakeUpStart = ReadNumber(file, kBasic, "WakeUpStart", d.WakeUpStart);
    s.WakeUpIcon = ReadNumber(file, kBasic, "WakeUpIcon", d.WakeUpIcon);
    s.DeviceName = ReadText(file, kBasic, "DeviceName", d.DeviceName);
    s.PictureQuality = ReadNumber(file, kBasic, "PictureQuality", d.PictureQuality);
    s.TimerPath = ReadText(file, kBasic, "TimerPath", d.TimerPath);
    s.DetectPath = ReadText(file, kBasic, "DetectPath", d.DetectPath);
    s.ConnMode = ParseSettingNumber(IniReadString(kBasic, "ConnMode", "", file));
    s.DialName = ReadText(file, kBasic, "DialName", d.DialName);
    s.DetectPreview = ReadNumber(file, kBasic, "DetectPreview", d.DetectPreview);
    return 1;
}

int SaveBasicSettings(const std::string& file, const BasicSettings& s) {
    Writer w{file, kBasic};
    w.Put("PreviewRate", s.PreviewRate);
    w.Put("WakeUpStart", s.WakeUpStart);
    w.Put("WakeUpIcon", s.WakeUpIcon);
    w.Put("DeviceName", s.DeviceName);
    w.Put("PictureQuality", s.PictureQuality);
    w.Put("TimerPath", s.TimerPath);
    w.Put("DetectPath", s.DetectPath);
    w.Put("ConnMode", s.ConnMode);
    w.Put("DialName", s.DialName);
    w.Put("DetectPreview", s.DetectPreview);
    return w.ok ? 1 : 0;
}

int LoadWarningSettings(const std::string& file, int mode, WarningSettings& s) {
    const WarningSettings d = DefaultWarningSettings(mode);
    const std::string sec = WarningSectionName(mode);
    s.MotionEnable = ReadNumber(file, sec, "MotionEnable", d.MotionEnable);
    s.MotionSensitivity = ReadNumber(file, sec, "MotionSensitivity", d.MotionSensitivity);
    s.TimerEnable = ReadNumber(file, sec, "TimerEnable", d.TimerEnable);
    s.TimerInterval = ReadNumber(file, sec, "TimerInterval", d.TimerInterval);
    s.SecurityTimerInterval =
        ReadNumber(file, sec, "SecurityTimerInterval", d.SecurityTimerInterval);
    s.SecTimer = ReadNumber(file, sec, "SecTimer", d.SecTimer);
    s.SecCount = ReadNumber(file, sec, "SecCount", d.SecCount);
    s.SecurityPic = ReadNumber(file, sec, "SecurityPic", d.SecurityPic);
    s.SecurityPicName1 = ReadText(file, sec, "SecurityPicName1", d.SecurityPicName1);
    s.SecurityPicName2 = ReadText(file, sec, "SecurityPicName2", d.SecurityPicName2);
    s.SecurityWave = ReadNumber(file, sec, "SecurityWave", d.SecurityWave);
    s.SecurityWaveLoop = ReadNumber(file, sec, "SecurityWaveLoop", d.SecurityWaveLoop);
    s.SecurityWaveName = ReadText(file, sec, "SecurityWaveName", d.SecurityWaveName);
    s.SendMail = ReadNumber(file, sec, "SendMail", d.SendMail);
    s.MailInterval = ReadNumber(file, sec, "MailInterval", d.MailInterval);
    s.MailTitle = ReadText(file, sec, "MailTitle", d.MailTitle);
    s.MailText = ReadText(file, sec, "MailText", d.MailText);
    s.SendPict = ReadNumber(file, sec, "SendPict", d.SendPict);
    return 1;
}

int SaveWarningSettings(const std::string& file, int mode, const WarningSettings& s) {
    Writer w{file, WarningSectionName(mode)};
    w.Put("MotionEnable", s.MotionEnable);
    w.Put("MotionSensitivity", s.MotionSensitivity);
    w.Put("TimerEnable", s.TimerEnable);
    w.Put("TimerInterval", s.TimerInterval);
    w.Put("SecurityTimerInterval", s.SecurityTimerInterval);
    w.Put("SecTimer", s.SecTimer);
    w.Put("SecCount", s.SecCount);
    w.Put("SecurityPic", s.SecurityPic);
    w.Put("SecurityPicName1", s.SecurityPicName1);
    w.Put("SecurityPicName2", s.SecurityPicName2);
    w.Put("SecurityWave", s.SecurityWave);
    w.Put("SecurityWaveLoop", s.SecurityWaveLoop);
    w.Put("SecurityWaveName", s.SecurityWaveName);
    w.Put("SendMail", s.SendMail);
    w.Put("MailInterval", s.MailInterval);
    w.Put("MailTitle", s.MailTitle);
    w.Put("MailText", s.MailText);
    w.Put("SendPict", s.SendPict);
    return w.ok ? 1 : 0;
}

std::string EncodePassword(std::string_view passwordUtf8) {
    return Base64EncodeText(qv::text::Utf8ToCp932(passwordUtf8));
}

std::string DecodePassword(std::string_view stored) {
    std::string bytes = Base64DecodeText(qv::text::Utf8ToCp932(stored));
    size_t zero = bytes.find('\0');
    if (zero != std::string::npos) bytes.resize(zero);
    return qv::text::Cp932ToUtf8(bytes);
}

int LoadMailSettings(const std::string& file, MailSettings& s) {
    const MailSettings d;
    s.PopSmtp = ReadNumber(file, kMail, "PopSmtp", d.PopSmtp);
    s.SmtpServer = ReadText(file, kMail, "SmtpServer", d.SmtpServer);
    s.MailAddress = ReadText(file, kMail, "MailAddress", d.MailAddress);
    s.PopServer = ReadText(file, kMail, "PopServer", d.PopServer);
    s.UserID = ReadText(file, kMail, "UserID", d.UserID);
    s.Password = DecodePassword(ReadText(file, kMail, "Password", ""));
    s.SendMailAddress = ReadText(file, kMail, "SendMailAddress", d.SendMailAddress);
    s.SmtpPort = ReadNumber(file, kMail, "SmtpPort", d.SmtpPort);
    s.SmtpSecurity = ReadNumber(file, kMail, "SmtpSecurity", d.SmtpSecurity);
    s.SmtpAuth = ReadNumber(file, kMail, "SmtpAuth", d.SmtpAuth);
    s.SmtpUser = ReadText(file, kMail, "SmtpUser", d.SmtpUser);
    s.SmtpPassword = DecodePassword(ReadText(file, kMail, "SmtpPassword", ""));
    return 1;
}

int SaveMailSettings(const std::string& file, const MailSettings& s) {
    Writer w{file, kMail};
    w.Put("PopSmtp", s.PopSmtp);
    w.Put("SmtpServer", s.SmtpServer);
    w.Put("MailAddress", s.MailAddress);
    w.Put("PopServer", s.PopServer);
    w.Put("UserID", s.UserID);
    w.Put("Password", EncodePassword(s.Password));
    w.Put("SendMailAddress", s.SendMailAddress);
    // The submission keys reach the file only once they were used: a file of a user who never
    // touched them stays exactly as before.
    const MailSettings d;
    auto putUsed = [&](const char* key, const std::string& value, bool isDefault) {
        if (!isDefault || HasKey(file, kMail, key)) w.Put(key, value);
    };
    putUsed("SmtpPort", Number(s.SmtpPort), s.SmtpPort == d.SmtpPort);
    putUsed("SmtpSecurity", Number(s.SmtpSecurity), s.SmtpSecurity == d.SmtpSecurity);
    putUsed("SmtpAuth", Number(s.SmtpAuth), s.SmtpAuth == d.SmtpAuth);
    putUsed("SmtpUser", s.SmtpUser, s.SmtpUser.empty());
    putUsed("SmtpPassword", EncodePassword(s.SmtpPassword), s.SmtpPassword.empty());
    return w.ok ? 1 : 0;
}

int LoadPictSettings(const std::string& file, PictSettings& s) {
    const PictSettings d;
    s.Type = ReadNumber(file, kPict, "Type", d.Type);
    s.PictQuality = ReadNumber(file, kPict, "PictQuality", d.PictQuality);
    s.Width = ReadNumber(file, kPict, "Width", d.Width);
    s.Height = ReadNumber(file, kPict, "Height", d.Height);
    s.Aspect = ReadNumber(file, kPict, "Aspect", d.Aspect);
    s.ColorNum = ReadNumber(file, kPict, "ColorNum", d.ColorNum);
    s.ColQuality = ReadNumber(file, kPict, "ColQuality", d.ColQuality);
    return 1;
}

int SavePictSettings(const std::string& file, const PictSettings& s) {
    Writer w{file, kPict};
    w.Put("Type", s.Type);
    w.Put("PictQuality", s.PictQuality);
    w.Put("Width", s.Width);
    w.Put("Height", s.Height);
    w.Put("Aspect", s.Aspect);
    w.Put("ColorNum", s.ColorNum);
    w.Put("ColQuality", s.ColQuality);
    return w.ok ? 1 : 0;
}

int LoadWindowSettings(const std::string& file, WindowSettings& s) {
    std::string left = IniReadString(kWindow, "MainLeft", "", file);
    s.HasPosition = !left.empty();
    s.MainLeft = s.HasPosition ? ParseSettingNumber(left) : 0;
    s.MainTop = s.HasPosition ? ParseSettingNumber(IniReadString(kWindow, "MainTop", "", file)) : 0;
    s.SelectMode = ReadNumber(file, kWindow, "SelectMode", 0);
    return 1;
}

int SaveWindowSettings(const std::string& file, const WindowSettings& s) {
    Writer w{file, kWindow};
    w.Put("MainLeft", s.MainLeft);
    w.Put("MainTop", s.MainTop);
    w.Put("SelectMode", s.SelectMode);
    return w.ok ? 1 : 0;
}

int LoadAllSettings(const std::string& file, AllSettings& s) {
    LoadWindowSettings(file, s.Window);
    // The mode indexes the three records: a value out of 0..2 would reach past them.
    s.CurrentMode = (s.Window.SelectMode >= 0 && s.Window.SelectMode < kOperatingModes)
                        ? s.Window.SelectMode
                        : 0;
    LoadBasicSettings(file, s.Basic);
    for (int m = 0; m < kOperatingModes; ++m) LoadWarningSettings(file, m, s.Warning[m]);
    LoadMailSettings(file, s.Mail);
    LoadPictSettings(file, s.Pict);
    s.MailSwitch = s.Warning[s.CurrentMode].SendMail;
    return 1;
}

WindowPosition InitialWindowPosition(const WindowSettings& window, int screenLeft, int screenTop,
                                     int screenWidth, int screenHeight, int windowWidth,
                                     int windowHeight) {
    if (window.HasPosition) return {window.MainLeft, window.MainTop};
    int64_t centredLeft = int64_t(screenLeft) + (int64_t(screenWidth) - windowWidth) / 2;
    int64_t centredTop = int64_t(screenTop) + (int64_t(screenHeight) - windowHeight) / 2;
    return {static_cast<int32_t>(centredLeft / 2), static_cast<int32_t>(centredTop / 2)};
}

const std::vector<SettingKey>& SettingKeys() {
    static const std::vector<SettingKey> keys = BuildKeyTable();
    return keys;
}

const SettingKey* FindSettingKey(std::string_view section, std::string_view key) {
    for (const SettingKey& k : SettingKeys())
        if (EqualsIgnoringCase(k.Section, section) && EqualsIgnoringCase(k.Key, key)) return &k;
    return nullptr;
}

bool IsSettingSection(std::string_view section) {
    for (const SettingKey& k : SettingKeys())
        if (EqualsIgnoringCase(k.Section, section)) return true;
    return false;
}
