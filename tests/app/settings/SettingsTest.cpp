#include "app/settings/Settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "app/engine/Engine.h"
#include "app/mail/Base64.h"
#include "platform/text/Text.h"
#include "tests/support/TestSupport.h"

namespace {

class SettingsTest : public ::testing::Test {
  protected:
    qvtest::TempDir dir_;
    std::string file_ = dir_.File("Quorvex.ini");
    void SaveAll(const AllSettings& s) {
        ASSERT_EQ(SaveWindowSettings(file_, s.Window), 1);
        ASSERT_EQ(SaveBasicSettings(file_, s.Basic), 1);
        for (int m = 0; m < kOperatingModes; ++m)
            ASSERT_EQ(SaveWarningSettings(file_, m, s.Warning[m]), 1);
        ASSERT_EQ(SaveMailSettings(file_, s.Mail), 1);
        ASSERT_EQ(SavePictSettings(file_, s.Pict), 1);
    }
    AllSettings Load() {
        AllSettings s;
        LoadAllSettings(file_, s);
        return s;
    }
};

AllSettings Defaults() {
    AllSettings s;
    for (int m = 0; m < kOperatingModes; ++m) s.Warning[m] = DefaultWarningSettings(m);
    return s;
}

}  // namespace

TEST_F(SettingsTest, NoFileGivesTheSchemaDefaultsAndTheyAreWrittenInItsOrder) {
    EXPECT_EQ(Load(), Defaults());
    EXPECT_FALSE(qvtest::FileExists(file_));
    EXPECT_EQ(Defaults().Warning[1].SecurityWaveName, "wellcome.wav");  // per-mode defaults
    SaveAll(Defaults());
    std::string expected, section;
    for (const SettingEntry& e : SettingKeys()) {
        if (section != e.Section) expected += "[" + (section = e.Section) + "]\r\n";
        if (e.Key->WrittenWhenUsed) continue;  // a file that never used them stays without
        const char* def = e.Key->DefaultFor(e.Mode);
        expected += std::string(e.Key->Key) + "=" +
                    qv::text::Utf8ToCp932(*def || e.Key->Type != SettingType::Number ? def : "0") +
                    "\r\n";
    }
    EXPECT_EQ(qvtest::ReadFile(file_), expected);
}

TEST_F(SettingsTest, EveryFieldSurvivesSaveAndLoadAsItStands) {
    AllSettings in = Defaults();
    in.Window.HasPosition = true, in.Window.MainLeft = -40, in.Window.MainTop = 1200;
    in.Window.SelectMode = in.CurrentMode = 2;
    in.Basic.PreviewRate = 6, in.Basic.PictureQuality = 20, in.Basic.DeviceName = "USB カメラ";
    in.Basic.ConnMode = in.Basic.WakeUpStart = in.Basic.WakeUpIcon = in.Basic.DetectPreview = 1;
    in.Basic.TimerPath = "/srv/タイマー", in.Basic.DetectPath = "/d", in.Basic.DialName = "自宅";
    for (int m = 0; m < kOperatingModes; ++m) {
        WarningSettings& w = in.Warning[m];
        // Beyond the dialogs' ranges: the file's numbers are used as they stand.
        w.TimerInterval = 240, w.MotionSensitivity = 12000 + m, w.MailInterval = 777;
        w.TimerEnable = 1, w.MotionEnable = w.SecurityPic = w.SecurityWave = 0;
        w.SecurityWaveLoop = w.SendMail = w.SendPict = 0;
        w.SecurityTimerInterval = 90, w.SecTimer = 5, w.SecCount = 30;
        w.SecurityWaveName = "/snd/" + std::to_string(m) + ".wav";
        w.SecurityPicName1 = "p1.bmp", w.SecurityPicName2 = "p2.bmp";
        w.MailTitle = "件名" + std::to_string(m), w.MailText = "一行目<BR>二行目";
    }
    in.MailSwitch = 0;
    in.Mail = {};
    in.Mail.PopSmtp = in.Mail.SmtpAuth = 1, in.Mail.SmtpPort = 587, in.Mail.SmtpSecurity = 2;
    in.Mail.SmtpServer = "smtp.example", in.Mail.MailAddress = "a@example";
    in.Mail.PopServer = "pop", in.Mail.UserID = "ユーザー", in.Mail.Password = "秘密pw";
    in.Mail.SendMailAddress = "b@example", in.Mail.SmtpUser = "u", in.Mail.SmtpPassword = "p";
    in.Pict.Type = 1, in.Pict.PictQuality = 18, in.Pict.Width = 640, in.Pict.Height = 480;
    in.Pict.Aspect = 0, in.Pict.ColorNum = 36, in.Pict.ColQuality = 0;
    SaveAll(in);
    EXPECT_EQ(Load(), in);
    // The engine keeps them too; only what would break is replaced.
    for (auto [stored, used] : {std::pair{240, 240}, {12000, 12000}, {0, 1}, {-5, 1}})
        EXPECT_EQ(qv::engine::AtLeastOne(stored), used);
    for (auto [stored, used] : {std::pair{20, 100}, {40, 100}, {0, 1}, {INT32_MAX, 100}})
        EXPECT_EQ(qv::engine::JpegQuality(stored), used);
}

TEST_F(SettingsTest, BrokenNumbersReadAsThePlainDecimalConversion) {
    const std::pair<const char*, int32_t> cases[] = {{"abc", 0},
                                                     {"", 0},
                                                     {"  12x", 12},
                                                     {"-5", -5},
                                                     {"+7", 7},
                                                     {"1 2", 1},
                                                     {"99999999999999999999", INT32_MAX},
                                                     {"-99999999999999999999", INT32_MIN}};
    for (auto [text, value] : cases) EXPECT_EQ(ParseSettingNumber(text), value) << text;
    for (const char* mode : {"3", "-1", "99999999999"}) {
        qvtest::WriteFile(file_, std::string("[Window]\r\nSelectMode=") + mode + "\r\n");
        EXPECT_EQ(Load().CurrentMode, 0) << mode;  // never an index past the three modes
        EXPECT_EQ(Load().MailSwitch, 1) << mode;
    }
    // One preview rate for a stored index, however the device is started.
    for (auto [index, fps] : {std::pair{0, 1}, {6, 60}, {7, 15}, {-1, 15}, {INT32_MAX, 15}})
        EXPECT_EQ(PreviewRateFps(index), fps) << index;
}

TEST_F(SettingsTest, PasswordIsStoredAsUnpaddedBase64OfItsShiftJisBytes) {
    const std::pair<std::string, std::string> cases[] = {{"abc", "YWJj"},
                                                         {"abcd", "YWJjZA"},
                                                         {"x", "eA"},
                                                         {"パス", Base64EncodeText("\x83p\x83X")},
                                                         {std::string(kPasswordBytes, 'p'), ""}};
    for (const auto& [plain, stored] : cases) {
        MailSettings m;
        m.Password = plain;
        ASSERT_EQ(SaveMailSettings(file_, m), 1);
        const std::string raw = IniReadRaw("MailSettings", "Password", "", file_);
        if (!stored.empty()) {
            EXPECT_EQ(raw, stored);
        }
        EXPECT_LE(raw.size(), kIniValueBufferSize - 1);  // the longest one still survives
        MailSettings back;
        LoadMailSettings(file_, back);
        EXPECT_EQ(back.Password, plain);
    }
    EXPECT_EQ(EncodePassword(std::string(kPasswordBytes + 1, 'p')).size(), kIniValueBufferSize);
    EXPECT_EQ(DecodePassword("YWJjZA=="), "abcd");
    EXPECT_EQ(DecodePassword("AAAA"), "");
}

TEST_F(SettingsTest, DefaultButtonsSetWhatTheSchemaSays) {
    AllSettings s;
    s.Basic.DeviceName = "cam", s.Basic.PreviewRate = 6, s.Basic.TimerPath = "/t";
    PressDefaultButton(DefaultButton::Basic, s.Basic);
    BasicSettings expectBasic;
    expectBasic.DeviceName = "cam";  // the camera stays
    EXPECT_EQ(s.Basic, expectBasic);

    WarningSettings w = DefaultWarningSettings(1);
    w.MailTitle = "x", w.MailText = "y", w.SendPict = 0, w.SecCount = 9;
    PressDefaultButton(DefaultButton::Warning, w, 1);
    EXPECT_EQ(w.SecCount, DefaultWarningSettings(1).SecCount);
    EXPECT_EQ(w.MailTitle, "x");  // the mail text has its own dialog
    PressDefaultButton(DefaultButton::MailText, w, 1);
    EXPECT_EQ(w.MailTitle, "警告！！");
    EXPECT_EQ(w.MailText, "");
    EXPECT_EQ(w.SendPict, 1);

    PictSettings p;
    p.Width = 640, p.Type = 1, p.ColQuality = 0;
    PressDefaultButton(DefaultButton::Picture, p);
    EXPECT_EQ(p, PictSettings{});
}

TEST_F(SettingsTest, WindowPositionAndFailedSave) {
    qvtest::WriteFile(file_, "[Window]\r\nMainLeft=10\r\n");
    EXPECT_TRUE(Load().Window.HasPosition);
    WindowPosition p = InitialWindowPosition(Load().Window, 0, 0, 1920, 1080, 400, 300);
    EXPECT_EQ(p.Left, 10);
    EXPECT_EQ(p.Top, 0);
    p = InitialWindowPosition(WindowSettings{}, 0, 0, 1920, 1080, 400, 300);
    EXPECT_EQ(p.Left, 380);  // centred at 760, then halved
    EXPECT_EQ(p.Top, 195);
    EXPECT_EQ(SaveBasicSettings(dir_.File("missing/Quorvex.ini"), BasicSettings{}), 0);
}
