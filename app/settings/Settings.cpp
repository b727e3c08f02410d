#include "app/settings/Settings.h"

#include <climits>
#include <cstdlib>
#include <span>

#include "app/mail/Base64.h"
#include "app/schedule/Schedule.h"
#include "app/settings/IniFile.h"
#include "core/detect/MotionMask.h"
#include "platform/text/Text.h"

namespace {

constexpr const char* kWindow = "Window";
constexpr const char* kBasic = "BasicSettings";
constexpr const char* kMail = "MailSettings";
constexpr const char* kPict = "PictSettings";
constexpr const char* kRetention = "Retention";
constexpr const char* kSchedule = "Schedule";
constexpr const char* kHooks = "Hooks";
constexpr const char* kWeb = "Web";

// A row of the schema: the key and the record member that holds it.
template <class R>
struct Row {
    SettingKey Info;
    int32_t R::*Number = nullptr;
    std::string R::*Text = nullptr;

    constexpr Row Words(const char* range) const {
        return With([&](SettingKey& k) { k.Range = range; });
    }
    constexpr Row Step(int32_t multiple) const {
        return With([&](SettingKey& k) { k.Multiple = multiple; });
    }
    constexpr Row WhenUsed() const {
        return With([](SettingKey& k) { k.WrittenWhenUsed = true; });
    }
    constexpr Row Secret() const {
        return With([](SettingKey& k) { k.Type = SettingType::Password; });
    }
    constexpr Row Hashed() const {
        return With([](SettingKey& k) { k.Type = SettingType::Hash; });
    }
    constexpr Row Checked(bool (*valid)(std::string_view, std::string*)) const {
        return With([&](SettingKey& k) { k.Valid = valid; });
    }
    constexpr Row Button(DefaultButton b, const char* value = nullptr) const {
        return With([&](SettingKey& k) { k.Button = b, k.ButtonValue = value; });
    }
    template <class F>
    constexpr Row With(F f) const {
        Row r = *this;
        f(r.Info);
        return r;
    }
};

using Modes = std::array<const char*, kOperatingModes>;

bool ValidMask(std::string_view text, std::string* why) {
    qv::detect::MaskPolygons mask;
    return qv::detect::ParseMask(text, mask, why);
}

template <class R>
constexpr Row<R> Num(const char* key, int32_t R::*m, Modes def, int32_t min, int32_t max) {
    return {{key, SettingType::Number, def, min, max}, m, nullptr};
}
template <class R>
constexpr Row<R> Txt(const char* key, std::string R::*m, Modes def, const char* range) {
    SettingKey k{key, SettingType::Text, def};
    k.Range = range;
    return {k, nullptr, m};
}

// Adding a setting: one row in its section's table below (in the file's key order) and its
// member in the record; loading, saving, defaults, "quorvex config" and the dialogs' ranges and
// ﾃﾞﾌｫﾙﾄ buttons follow. A per-mode key goes into kWarningRows with its three defaults. A new
// section ([Retention], [Schedule], ...): a record with a constructor, a table, Rows() and
// SectionOf() overloads, a QV_SETTINGS_RECORD line, Load/Save functions that call
// LoadRecord/SaveRecord, and its place in BuildEntries.
using B = BasicSettings;
using W = WarningSettings;
using M = MailSettings;
using P = PictSettings;
using Win = WindowSettings;
using Ret = RetentionSettings;
using Sch = ScheduleSettings;
using Hk = HookSettings;
using Web = WebSettings;
constexpr auto Bb = DefaultButton::Basic;
constexpr auto Wb = DefaultButton::Warning;
constexpr auto Tb = DefaultButton::MailText;
constexpr auto Pb = DefaultButton::Picture;

constexpr Row<Win> kWindowRows[] = {
    Num("MainLeft", &Win::MainLeft, {}, INT32_MIN, INT32_MAX).Words("a screen coordinate"),
    Num("MainTop", &Win::MainTop, {}, INT32_MIN, INT32_MAX).Words("a screen coordinate"),
    Num("SelectMode", &Win::SelectMode, {"0"}, 0, kOperatingModes - 1),
    Num("MotionCheckHint", &Win::MotionCheckHint, {"0"}, 0, 1).WhenUsed(),
};

constexpr Row<B> kBasicRows[] = {
    Num("PreviewRate", &B::PreviewRate, {"3"}, 0, int32_t(kPreviewRates.size()) - 1).Button(Bb),
    Num("WakeUpStart", &B::WakeUpStart, {"0"}, 0, 1).Button(Bb),
    Num("WakeUpIcon", &B::WakeUpIcon, {"0"}, 0, 1).Button(Bb),
    // The ﾃﾞﾌｫﾙﾄ button keeps the camera.
    Txt("DeviceName", &B::DeviceName, {""}, "a device name"),
    Num("PictureQuality", &B::PictureQuality, {"15"}, 1, 20).Button(Bb),
    Txt("TimerPath", &B::TimerPath, {""}, "a folder").Button(Bb),
    Txt("DetectPath", &B::DetectPath, {""}, "a folder").Button(Bb),
    Num("ConnMode", &B::ConnMode, {"0"}, 0, 1).Button(Bb),
    Txt("DialName", &B::DialName, {""}, "a connection name").Button(Bb),
    Num("DetectPreview", &B::DetectPreview, {"0"}, 0, 1).Button(Bb),
};

// Mode 0 is the alarm, modes 1 and 2 greet visitors.
constexpr Row<W> kWarningRows[] = {
    Num("MotionEnable", &W::MotionEnable, {"1"}, 0, 1).Button(Wb),
    Num("MotionSensitivity", &W::MotionSensitivity, {"3000", "1500", "2000"}, 1, 9999).Button(Wb),
    Num("TimerEnable", &W::TimerEnable, {"0"}, 0, 1).Button(Wb),
    Num("TimerInterval", &W::TimerInterval, {"1"}, 1, 120).Button(Wb),
    Num("SecurityTimerInterval", &W::SecurityTimerInterval, {"2", "1", "2"}, 1, 10).Button(Wb),
    Num("SecTimer", &W::SecTimer, {"30"}, 10, 120).Button(Wb),
    Num("SecCount", &W::SecCount, {"5", "3", "4"}, 1, 10).Button(Wb),
    Num("SecurityPic", &W::SecurityPic, {"1", "0", "0"}, 0, 1).Button(Wb),
    Txt("SecurityPicName1", &W::SecurityPicName1, {"caution1.bmp"}, "a BMP file").Button(Wb),
    Txt("SecurityPicName2", &W::SecurityPicName2, {"caution2.bmp"}, "a BMP file").Button(Wb),
    Num("SecurityWave", &W::SecurityWave, {"1"}, 0, 1).Button(Wb),
    Num("SecurityWaveLoop", &W::SecurityWaveLoop, {"1", "0", "0"}, 0, 1).Button(Wb),
    Txt("SecurityWaveName", &W::SecurityWaveName, {"beep.wav", "wellcome.wav", "pinpon.wav"},
        "a WAVE file")
        .Button(Wb),
    Num("SendMail", &W::SendMail, {"1", "0", "0"}, 0, 1).Button(Wb),
    Num("MailInterval", &W::MailInterval, {"5"}, 1, 120).Button(Wb),
    Txt("MailTitle", &W::MailTitle, {"警告！！", "来客です", "来客です"}, "text")
        .Button(Tb, "警告！！"),
    Txt("MailText", &W::MailText,
        {"警告が発生しました。<BR>画像を確認してください。", "お客様が来ました。",
         "お客様が来ました。"},
        "text, line breaks as <BR>")
        .Button(Tb, ""),
    Num("SendPict", &W::SendPict, {"1", "0", "0"}, 0, 1).Button(Tb, "1"),
    Num("MotionCheck", &W::MotionCheck, {"0"}, 0, 1).WhenUsed().Button(Wb),
    Num("MotionCheckNoise", &W::MotionCheckNoise, {"40"}, 10, 200).WhenUsed().Button(Wb),
    Num("MotionCheckArea", &W::MotionCheckArea, {"8"}, 1, 500).WhenUsed().Button(Wb),
    Num("MotionCheckMs", &W::MotionCheckMs, {"700"}, 0, 10000).WhenUsed().Button(Wb),
    Txt("MotionMask", &W::MotionMask, {""}, "polygons \"x,y x,y x,y|...\" (0..1)")
        .Checked(ValidMask)
        .WhenUsed(),
};

constexpr Row<M> kMailRows[] = {
    Num("PopSmtp", &M::PopSmtp, {"0"}, 0, 1).Button(Wb),
    Txt("SmtpServer", &M::SmtpServer, {""}, "a server address").Button(Wb),
    Txt("MailAddress", &M::MailAddress, {""}, "a mail address").Button(Wb),
    Txt("PopServer", &M::PopServer, {""}, "a server address"),
    Txt("UserID", &M::UserID, {""}, "a user name"),
    Txt("Password", &M::Password, {""}, "a password").Secret(),
    Txt("SendMailAddress", &M::SendMailAddress, {""}, "a mail address").Button(Wb),
    Num("SmtpPort", &M::SmtpPort, {"25"}, 1, 65535).WhenUsed().Button(Wb),
    Num("SmtpSecurity", &M::SmtpSecurity, {"0"}, 0, 2)
        .Words("0 (none), 1 (STARTTLS) or 2 (SSL/TLS)")
        .WhenUsed()
        .Button(Wb),
    Num("SmtpAuth", &M::SmtpAuth, {"0"}, 0, 1).WhenUsed().Button(Wb),
    Txt("SmtpUser", &M::SmtpUser, {""}, "a user name").WhenUsed(),
    Txt("SmtpPassword", &M::SmtpPassword, {""}, "a password").Secret().WhenUsed(),
};

constexpr Row<P> kPictRows[] = {
    Num("Type", &P::Type, {"0"}, 0, 1).Words("0 (PNG) or 1 (JPEG)").Button(Pb),
    Num("PictQuality", &P::PictQuality, {"7"}, 0, 20)
        .Words("0..9 for PNG, 0..20 for JPEG")
        .Button(Pb),
    Num("Width", &P::Width, {"120"}, 32, 640).Step(4).Words("32..640, a multiple of 4").Button(Pb),
    Num("Height", &P::Height, {"100"}, 32, 480).Button(Pb),
    Num("Aspect", &P::Aspect, {"1"}, 0, 1).Button(Pb),
    Num("ColorNum", &P::ColorNum, {"24"}, 1, 36).Button(Pb),
    Num("ColQuality", &P::ColQuality, {"4"}, 0, 4).Button(Pb),
};

bool ValidRule(std::string_view text, std::string* why) {
    return text.find_first_not_of(" \t") == std::string_view::npos ||
           qv::schedule::ParseRule(text, why).has_value();
}

constexpr Row<Ret> kRetentionRows[] = {
    Num("PictureDays", &Ret::PictureDays, {"0"}, 0, 36500).WhenUsed(),
    Num("PictureMegabytes", &Ret::PictureMegabytes, {"0"}, 0, INT32_MAX).WhenUsed(),
    Num("LogDays", &Ret::LogDays, {"0"}, 0, 36500).WhenUsed(),
    Num("MinFreeMegabytes", &Ret::MinFreeMegabytes, {"0"}, 0, INT32_MAX).WhenUsed(),
};

constexpr const char* kRuleWords = "\"DAYS HH:MM-HH:MM ACTION\", e.g. \"12345 08:00-18:00 mode1\"";
constexpr Row<Sch> kScheduleRows[] = {
    Num("Enable", &Sch::Enable, {"0"}, 0, 1).WhenUsed(),
    Txt("Rule1", &Sch::Rule1, {""}, kRuleWords).Checked(ValidRule).WhenUsed(),
    Txt("Rule2", &Sch::Rule2, {""}, kRuleWords).Checked(ValidRule).WhenUsed(),
    Txt("Rule3", &Sch::Rule3, {""}, kRuleWords).Checked(ValidRule).WhenUsed(),
    Txt("Rule4", &Sch::Rule4, {""}, kRuleWords).Checked(ValidRule).WhenUsed(),
    Txt("Rule5", &Sch::Rule5, {""}, kRuleWords).Checked(ValidRule).WhenUsed(),
    Txt("Rule6", &Sch::Rule6, {""}, kRuleWords).Checked(ValidRule).WhenUsed(),
    Txt("Rule7", &Sch::Rule7, {""}, kRuleWords).Checked(ValidRule).WhenUsed(),
    Txt("Rule8", &Sch::Rule8, {""}, kRuleWords).Checked(ValidRule).WhenUsed(),
    Txt("Rule9", &Sch::Rule9, {""}, kRuleWords).Checked(ValidRule).WhenUsed(),
    Txt("Rule10", &Sch::Rule10, {""}, kRuleWords).Checked(ValidRule).WhenUsed(),
};

constexpr Row<Hk> kHookRows[] = {
    Txt("Command", &Hk::Command, {""}, "a program and its arguments (%e %t %m %f)").WhenUsed(),
    Txt("CommandEvents", &Hk::CommandEvents, {"warning,camera-lost,camera-back,disk"},
        "events: warning, camera-lost, camera-back, disk, detect")
        .WhenUsed(),
    Txt("WebhookUrl", &Hk::WebhookUrl, {""}, "an http:// or https:// address").WhenUsed(),
    Num("WebhookPicture", &Hk::WebhookPicture, {"0"}, 0, 1).WhenUsed(),
    Txt("PushUrl", &Hk::PushUrl, {""}, "an ntfy topic address").WhenUsed(),
    Txt("PushToken", &Hk::PushToken, {""}, "an access token").Secret().WhenUsed(),
    Num("CameraLostSeconds", &Hk::CameraLostSeconds, {"60"}, 1, 86400).WhenUsed(),
    Num("CameraLostMail", &Hk::CameraLostMail, {"0"}, 0, 1).WhenUsed(),
};

constexpr Row<Web> kWebRows[] = {
    Num("Enable", &Web::Enable, {"0"}, 0, 1).WhenUsed(),
    Num("Port", &Web::Port, {"8443"}, 1, 65535).WhenUsed(),
    Num("Tls", &Web::Tls, {"1"}, 0, 1).WhenUsed(),
    Txt("Password", &Web::Password, {""}, "a password").Hashed().WhenUsed(),
};

std::span<const Row<Win>> Rows(const Win*) {
    return kWindowRows;
}
std::span<const Row<B>> Rows(const B*) {
    return kBasicRows;
}
std::span<const Row<W>> Rows(const W*) {
    return kWarningRows;
}
std::span<const Row<M>> Rows(const M*) {
    return kMailRows;
}
std::span<const Row<P>> Rows(const P*) {
    return kPictRows;
}
std::span<const Row<Ret>> Rows(const Ret*) {
    return kRetentionRows;
}
std::span<const Row<Sch>> Rows(const Sch*) {
    return kScheduleRows;
}
std::span<const Row<Hk>> Rows(const Hk*) {
    return kHookRows;
}
std::span<const Row<Web>> Rows(const Web*) {
    return kWebRows;
}

template <class R>
std::span<const Row<R>> RowsOf() {
    return Rows(static_cast<const R*>(nullptr));
}

std::string SectionOf(const Win*, int) {
    return kWindow;
}
std::string SectionOf(const B*, int) {
    return kBasic;
}
std::string SectionOf(const W*, int mode) {
    return WarningSectionName(mode);
}
std::string SectionOf(const M*, int) {
    return kMail;
}
std::string SectionOf(const P*, int) {
    return kPict;
}
std::string SectionOf(const Ret*, int) {
    return kRetention;
}
std::string SectionOf(const Sch*, int) {
    return kSchedule;
}
std::string SectionOf(const Hk*, int) {
    return kHooks;
}
std::string SectionOf(const Web*, int) {
    return kWeb;
}

template <class R>
void Assign(const Row<R>& row, R& record, std::string_view text) {
    if (row.Number)
        record.*row.Number = ParseSettingNumber(text);
    else
        record.*row.Text = std::string(text);
}

template <class R>
void ResetRecord(R& record, int mode) {
    for (const Row<R>& row : RowsOf<R>()) Assign(row, record, row.Info.DefaultFor(mode));
}

// The text a key holds in the file, or its default.
std::string ReadKey(const std::string& file, const std::string& section, const SettingKey& k,
                    int mode) {
    if (k.Type == SettingType::Password)
        return DecodePassword(IniReadString(section, k.Key, "", file));
    return IniReadString(section, k.Key, k.DefaultFor(mode), file);
}

template <class R>
int LoadRecord(const std::string& file, int mode, R& record) {
    const std::string section = SectionOf(&record, mode);
    for (const Row<R>& row : RowsOf<R>())
        Assign(row, record, ReadKey(file, section, row.Info, mode));
    return 1;
}

// Whether the file holds the key (whatever its value).
bool HasKey(const std::string& file, const std::string& section, const char* key) {
    // Two different defaults: only a key that is there gives back the same text for both.
    return IniReadRaw(section, key, "\x01", file) == IniReadRaw(section, key, "\x02", file);
}

// Every key of a section is written even after a failure; the result says whether all of them
// reached the file.
template <class R>
int SaveRecord(const std::string& file, int mode, const R& record) {
    const std::string section = SectionOf(&record, mode);
    bool ok = true;
    for (const Row<R>& row : RowsOf<R>()) {
        const SettingKey& k = row.Info;
        std::string value = row.Number ? std::to_string(record.*row.Number) : record.*row.Text;
        if (k.Type == SettingType::Password) value = EncodePassword(value);
        if (k.WrittenWhenUsed && value == k.DefaultFor(mode) && !HasKey(file, section, k.Key))
            continue;
        ok = IniWriteString(section, k.Key, value, file) && ok;
    }
    return ok ? 1 : 0;
}

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

template <class R>
void AddEntries(std::vector<SettingEntry>& entries, int mode) {
    for (const Row<R>& row : RowsOf<R>())
        entries.push_back({SectionOf(static_cast<const R*>(nullptr), mode), &row.Info, mode});
}

std::vector<SettingEntry> BuildEntries() {
    std::vector<SettingEntry> entries;
    AddEntries<Win>(entries, 0);
    AddEntries<B>(entries, 0);
    for (int m = 0; m < kOperatingModes; ++m) AddEntries<W>(entries, m);
    AddEntries<M>(entries, 0);
    AddEntries<P>(entries, 0);
    AddEntries<Ret>(entries, 0);
    AddEntries<Sch>(entries, 0);
    AddEntries<Hk>(entries, 0);
    AddEntries<Web>(entries, 0);
    return entries;
}

}  // namespace

const char* SettingKey::DefaultFor(int mode) const {
    if (mode > 0 && mode < kOperatingModes && Default[static_cast<size_t>(mode)])
        return Default[static_cast<size_t>(mode)];
    return Default[0] ? Default[0] : "";
}

std::string SettingKey::RangeText() const {
    if (Range) return Range;
    if (Min == 0 && Max == 1) return "0 or 1";
    return std::to_string(Min) + ".." + std::to_string(Max);
}

int32_t PreviewRateFps(int32_t index) {
    if (index < 0 || index >= int32_t(kPreviewRates.size()))
        index = ParseSettingNumber(KeyOf(&BasicSettings::PreviewRate).DefaultFor(0));
    return kPreviewRates[static_cast<size_t>(index)];
}

template <class R>
const SettingKey& KeyOf(int32_t R::*member) {
    for (const Row<R>& row : RowsOf<R>())
        if (row.Number == member) return row.Info;
    std::abort();  // every member has a row
}

template <class R>
const SettingKey& KeyOf(std::string R::*member) {
    for (const Row<R>& row : RowsOf<R>())
        if (row.Text == member) return row.Info;
    std::abort();
}

template <class R>
void PressDefaultButton(DefaultButton button, R& record, int mode) {
    for (const Row<R>& row : RowsOf<R>())
        if (row.Info.Button == button)
            Assign(row, record,
                   row.Info.ButtonValue ? row.Info.ButtonValue : row.Info.DefaultFor(mode));
}

#define QV_SETTINGS_RECORD(R)                              \
    R::R() {                                               \
        ResetRecord(*this, 0);                             \
    }                                                      \
    template const SettingKey& KeyOf<R>(int32_t R::*);     \
    template const SettingKey& KeyOf<R>(std::string R::*); \
    template void PressDefaultButton<R>(DefaultButton, R&, int);
QV_SETTINGS_RECORD(BasicSettings)
QV_SETTINGS_RECORD(WarningSettings)
QV_SETTINGS_RECORD(MailSettings)
QV_SETTINGS_RECORD(PictSettings)
QV_SETTINGS_RECORD(WindowSettings)
QV_SETTINGS_RECORD(RetentionSettings)
QV_SETTINGS_RECORD(ScheduleSettings)
QV_SETTINGS_RECORD(HookSettings)
QV_SETTINGS_RECORD(WebSettings)
#undef QV_SETTINGS_RECORD

WarningSettings DefaultWarningSettings(int mode) {
    WarningSettings w;
    ResetRecord(w, mode);
    return w;
}

int32_t UsableMode(int32_t selectMode) {
    // The mode indexes the three records: a value out of 0..2 would reach past them.
    return selectMode >= 0 && selectMode < kOperatingModes ? selectMode : 0;
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
    return LoadRecord(file, 0, s);
}
int SaveBasicSettings(const std::string& file, const BasicSettings& s) {
    return SaveRecord(file, 0, s);
}
int LoadWarningSettings(const std::string& file, int mode, WarningSettings& s) {
    return LoadRecord(file, mode, s);
}
int SaveWarningSettings(const std::string& file, int mode, const WarningSettings& s) {
    return SaveRecord(file, mode, s);
}
int LoadMailSettings(const std::string& file, MailSettings& s) {
    return LoadRecord(file, 0, s);
}
int SaveMailSettings(const std::string& file, const MailSettings& s) {
    return SaveRecord(file, 0, s);
}
int LoadPictSettings(const std::string& file, PictSettings& s) {
    return LoadRecord(file, 0, s);
}
int SavePictSettings(const std::string& file, const PictSettings& s) {
    return SaveRecord(file, 0, s);
}

int LoadWindowSettings(const std::string& file, WindowSettings& s) {
    LoadRecord(file, 0, s);
    s.HasPosition = !IniReadString(kWindow, "MainLeft", "", file).empty();
    if (!s.HasPosition) s.MainLeft = s.MainTop = 0;
    return 1;
}
int SaveWindowSettings(const std::string& file, const WindowSettings& s) {
    return SaveRecord(file, 0, s);
}
int LoadRetentionSettings(const std::string& file, RetentionSettings& s) {
    return LoadRecord(file, 0, s);
}
int SaveRetentionSettings(const std::string& file, const RetentionSettings& s) {
    return SaveRecord(file, 0, s);
}
int LoadScheduleSettings(const std::string& file, ScheduleSettings& s) {
    return LoadRecord(file, 0, s);
}
int SaveScheduleSettings(const std::string& file, const ScheduleSettings& s) {
    return SaveRecord(file, 0, s);
}
int LoadHookSettings(const std::string& file, HookSettings& s) {
    return LoadRecord(file, 0, s);
}
int SaveHookSettings(const std::string& file, const HookSettings& s) {
    return SaveRecord(file, 0, s);
}
int LoadWebSettings(const std::string& file, WebSettings& s) {
    return LoadRecord(file, 0, s);
}
int SaveWebSettings(const std::string& file, const WebSettings& s) {
    return SaveRecord(file, 0, s);
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

int LoadAllSettings(const std::string& file, AllSettings& s) {
    LoadWindowSettings(file, s.Window);
    s.CurrentMode = UsableMode(s.Window.SelectMode);
    LoadBasicSettings(file, s.Basic);
    for (int m = 0; m < kOperatingModes; ++m) LoadWarningSettings(file, m, s.Warning[m]);
    LoadMailSettings(file, s.Mail);
    LoadPictSettings(file, s.Pict);
    LoadRetentionSettings(file, s.Retention);
    LoadScheduleSettings(file, s.Schedule);
    LoadHookSettings(file, s.Hooks);
    LoadWebSettings(file, s.Web);
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

const std::vector<SettingEntry>& SettingKeys() {
    static const std::vector<SettingEntry> entries = BuildEntries();
    return entries;
}

const SettingEntry* FindSettingKey(std::string_view section, std::string_view key) {
    for (const SettingEntry& e : SettingKeys())
        if (EqualsIgnoringCase(e.Section, section) && EqualsIgnoringCase(e.Key->Key, key))
            return &e;
    return nullptr;
}

bool IsSettingSection(std::string_view section) {
    for (const SettingEntry& e : SettingKeys())
        if (EqualsIgnoringCase(e.Section, section)) return true;
    return false;
}

std::string ReadSettingText(const std::string& file, const SettingEntry& e) {
    std::string text = ReadKey(file, e.Section, *e.Key, e.Mode);
    if (e.Key->Type != SettingType::Number) return text;
    return std::to_string(ParseSettingNumber(text));
}
