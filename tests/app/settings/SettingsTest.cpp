#include "app/settings/Settings.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/mail/Base64.h"
#include "app/settings/IniFile.h"
#include "platform/text/Text.h"
#include "tests/support/TestSupport.h"

namespace {

class SettingsTest : public ::testing::Test {
  protected:
    qvtest::TempDir dir_;
    std::string file_ = dir_.File("Quorvex.ini");
};

// Every field set to something other than its default.
AllSettings Unusual() {
    AllSettings s;
    s.Window = {true, -40, 1200, 2};
    s.Basic = {6, 20, 1, 1, 1, 1, "USB カメラ", "/srv/タイマー", "/srv/detect", "自宅"};
    for (int m = 0; m < kOperatingModes; ++m) {
        WarningSettings& w = s.Warning[m];
        w.TimerEnable = 1;
        w.TimerInterval = 100 + m;
        w.MotionEnable = 0;
        w.MotionSensitivity = 9000 + m;
        w.SecurityTimerInterval = 9;
        w.SecTimer = 110;
        w.SecCount = 8;
        w.SecurityPic = 0;
        w.SecurityWave = 0;
        w.SecurityWaveLoop = 0;
        w.SendMail = 0;
        w.MailInterval = 77;
        w.SecurityWaveName = "/snd/" + std::to_string(m) + ".wav";
        w.SecurityPicName1 = "p1.bmp";
        w.SecurityPicName2 = "p2.bmp";
        w.MailTitle = "件名" + std::to_string(m);
        w.MailText = "一行目<BR>二行目<BR>";
        w.SendPict = 0;
    }
    s.Mail = {1, "smtp.example", "a@example", "pop.example", "ユーザー", "", "b@example"};
    s.Mail.Password = "秘密pw";
    s.Pict = {1, 18, 640, 480, 0, 36, 0};
    return s;
}

void SaveAll(const std::string& file, const AllSettings& s) {
    ASSERT_EQ(SaveWindowSettings(file, s.Window), 1);
    ASSERT_EQ(SaveBasicSettings(file, s.Basic), 1);
    for (int m = 0; m < kOperatingModes; ++m)
        ASSERT_EQ(SaveWarningSettings(file, m, s.Warning[m]), 1);
    ASSERT_EQ(SaveMailSettings(file, s.Mail), 1);
    ASSERT_EQ(SavePictSettings(file, s.Pict), 1);
}

void ExpectSameWarning(const WarningSettings& a, const WarningSettings& b) {
    EXPECT_EQ(a.TimerEnable, b.TimerEnable);
    EXPECT_EQ(a.TimerInterval, b.TimerInterval);
    EXPECT_EQ(a.MotionEnable, b.MotionEnable);
    EXPECT_EQ(a.MotionSensitivity, b.MotionSensitivity);
    EXPECT_EQ(a.SecurityTimerInterval, b.SecurityTimerInterval);
    EXPECT_EQ(a.SecTimer, b.SecTimer);
    EXPECT_EQ(a.SecCount, b.SecCount);
    EXPECT_EQ(a.SecurityPic, b.SecurityPic);
    EXPECT_EQ(a.SecurityWave, b.SecurityWave);
    EXPECT_EQ(a.SecurityWaveLoop, b.SecurityWaveLoop);
    EXPECT_EQ(a.SendMail, b.SendMail);
    EXPECT_EQ(a.MailInterval, b.MailInterval);
    EXPECT_EQ(a.SecurityWaveName, b.SecurityWaveName);
    EXPECT_EQ(a.SecurityPicName1, b.SecurityPicName1);
    EXPECT_EQ(a.SecurityPicName2, b.SecurityPicName2);
    EXPECT_EQ(a.MailTitle, b.MailTitle);
    EXPECT_EQ(a.MailText, b.MailText);
    EXPECT_EQ(a.SendPict, b.SendPict);
}

}  // namespace

TEST_F(SettingsTest, FirstStartWithoutAFileGivesTheAlarmDefaults) {
    AllSettings s = Unusual();
    LoadAllSettings(file_, s);
    EXPECT_FALSE(qvtest::FileExists(file_));
    EXPECT_FALSE(s.Window.HasPosition);
    EXPECT_EQ(s.CurrentMode, 0);
    EXPECT_EQ(s.MailSwitch, 1);
    EXPECT_EQ(s.Basic.PreviewRate, 3);
    EXPECT_EQ(s.Basic.PictureQuality, 15);
    EXPECT_EQ(s.Basic.ConnMode, 0);
    EXPECT_EQ(s.Basic.DeviceName, "");
    const WarningSettings& alarm = s.Warning[0];
    EXPECT_EQ(alarm.MotionSensitivity, 3000);
    EXPECT_EQ(alarm.SecCount, 5);
    EXPECT_EQ(alarm.SecurityWaveLoop, 1);
    EXPECT_EQ(alarm.SendMail, 1);
    EXPECT_EQ(alarm.MailTitle, "警告！！");
    EXPECT_EQ(alarm.MailText, "警告が発生しました。<BR>画像を確認してください。");
    EXPECT_EQ(s.Warning[1].MotionSensitivity, 1500);
    EXPECT_EQ(s.Warning[1].SecCount, 3);
    EXPECT_EQ(s.Warning[1].SecurityWaveName, "wellcome.wav");
    EXPECT_EQ(s.Warning[1].MailTitle, "来客です");
    EXPECT_EQ(s.Warning[2].MotionSensitivity, 2000);
    EXPECT_EQ(s.Warning[2].SecurityWaveName, "pinpon.wav");
    EXPECT_EQ(s.Warning[2].SendMail, 0);
    EXPECT_EQ(s.Mail.Password, "");
    EXPECT_EQ(s.Pict.ColorNum, 24);
    EXPECT_EQ(s.Pict.Width, 120);
}

TEST_F(SettingsTest, EverythingSurvivesSaveAndLoad) {
    const AllSettings in = Unusual();
    SaveAll(file_, in);
    AllSettings out;
    LoadAllSettings(file_, out);
    EXPECT_TRUE(out.Window.HasPosition);
    EXPECT_EQ(out.Window.MainLeft, -40);
    EXPECT_EQ(out.Window.MainTop, 1200);
    EXPECT_EQ(out.CurrentMode, 2);
    EXPECT_EQ(out.MailSwitch, 0);
    EXPECT_EQ(out.Basic.PreviewRate, 6);
    EXPECT_EQ(out.Basic.PictureQuality, 20);
    EXPECT_EQ(out.Basic.ConnMode, 1);
    EXPECT_EQ(out.Basic.WakeUpStart, 1);
    EXPECT_EQ(out.Basic.WakeUpIcon, 1);
    EXPECT_EQ(out.Basic.DetectPreview, 1);
    EXPECT_EQ(out.Basic.DeviceName, "USB カメラ");
    EXPECT_EQ(out.Basic.TimerPath, "/srv/タイマー");
    EXPECT_EQ(out.Basic.DetectPath, "/srv/detect");
    EXPECT_EQ(out.Basic.DialName, "自宅");
    for (int m = 0; m < kOperatingModes; ++m) ExpectSameWarning(out.Warning[m], in.Warning[m]);
    EXPECT_EQ(out.Mail.PopSmtp, 1);
    EXPECT_EQ(out.Mail.SmtpServer, "smtp.example");
    EXPECT_EQ(out.Mail.MailAddress, "a@example");
    EXPECT_EQ(out.Mail.PopServer, "pop.example");
    EXPECT_EQ(out.Mail.UserID, "ユーザー");
    EXPECT_EQ(out.Mail.Password, "秘密pw");
    EXPECT_EQ(out.Mail.SendMailAddress, "b@example");
    EXPECT_EQ(out.Pict.Type, 1);
    EXPECT_EQ(out.Pict.PictQuality, 18);
    EXPECT_EQ(out.Pict.Width, 640);
    EXPECT_EQ(out.Pict.Height, 480);
    EXPECT_EQ(out.Pict.Aspect, 0);
    EXPECT_EQ(out.Pict.ColorNum, 36);
    EXPECT_EQ(out.Pict.ColQuality, 0);
}

// The file written by the saves lists sections and keys in the order of the key table, and
// the table's defaults are the records' defaults.
TEST_F(SettingsTest, SavedFileFollowsTheKeyTable) {
    AllSettings defaults;
    for (int m = 0; m < kOperatingModes; ++m) defaults.Warning[m] = DefaultWarningSettings(m);
    SaveAll(file_, defaults);
    std::string expected;
    std::string section;
    for (const SettingKey& k : SettingKeys()) {
        if (section != k.Section) {
            section = k.Section;
            expected += "[" + section + "]\r\n";
        }
        if (k.WrittenWhenUsed) continue;  // absent from files that never used them
        std::string value = k.Default ? k.Default : "0";
        if (std::string(k.Key) == "ConnMode") value = "0";  // stored as "%d" of 0
        expected += std::string(k.Key) + "=" + qv::text::Utf8ToCp932(value) + "\r\n";
    }
    EXPECT_EQ(qvtest::ReadFile(file_), expected);
}

TEST_F(SettingsTest, KeyTableFindsKeysInAnyCaseAndRefusesStrangers) {
    std::set<std::string> seen;
    for (const SettingKey& k : SettingKeys())
        EXPECT_TRUE(seen.insert(std::string(k.Section) + "/" + k.Key).second) << k.Key;
    EXPECT_EQ(seen.size(), 3u + 10u + 3u * 18u + 12u + 7u);
    const SettingKey* k = FindSettingKey("warningsettings2", "MOTIONSENSITIVITY");
    ASSERT_NE(k, nullptr);
    EXPECT_STREQ(k->Section, "WarningSettings2");
    EXPECT_STREQ(k->Default, "2000");
    EXPECT_EQ(k->Min, 1);
    EXPECT_EQ(k->Max, 9999);
    EXPECT_EQ(FindSettingKey("WarningSettings3", "MotionSensitivity"), nullptr);
    EXPECT_EQ(FindSettingKey("BasicSettings", "Preview"), nullptr);
    EXPECT_FALSE(IsSettingSection("Basic"));
    EXPECT_TRUE(IsSettingSection("pictsettings"));
}

TEST_F(SettingsTest, AFileWithOnlyWindowValuesGivesAllOtherDefaults) {
    qvtest::WriteFile(file_, "[Window]\r\nMainLeft=10\r\nSelectMode=1\r\n");
    AllSettings s = Unusual();
    LoadAllSettings(file_, s);
    EXPECT_TRUE(s.Window.HasPosition);
    EXPECT_EQ(s.Window.MainLeft, 10);
    EXPECT_EQ(s.Window.MainTop, 0);  // MainTop missing: top 0
    EXPECT_EQ(s.CurrentMode, 1);
    EXPECT_EQ(s.MailSwitch, 0);  // mode 1 sends no mail
    EXPECT_EQ(s.Warning[1].MotionSensitivity, 1500);
    EXPECT_EQ(s.Basic.DeviceName, "");
    EXPECT_EQ(s.Mail.SmtpServer, "");
    EXPECT_EQ(s.Pict.Height, 100);
    WindowPosition p = InitialWindowPosition(s.Window, 0, 0, 1920, 1080, 400, 300);
    EXPECT_EQ(p.Left, 10);
    EXPECT_EQ(p.Top, 0);
}

TEST_F(SettingsTest, WindowWithoutPositionGoesAboveAndLeftOfCentre) {
    WindowSettings w;
    WindowPosition p = InitialWindowPosition(w, 0, 0, 1920, 1080, 400, 300);
    EXPECT_EQ(p.Left, 380);  // centred at 760, then halved
    EXPECT_EQ(p.Top, 195);
}

TEST_F(SettingsTest, ModeOutsideTheThreeIsNotUsedAsAnIndex) {
    for (const char* mode : {"3", "-1", "99999999999"}) {
        qvtest::WriteFile(file_, std::string("[Window]\r\nSelectMode=") + mode + "\r\n");
        AllSettings s;
        LoadAllSettings(file_, s);
        EXPECT_EQ(s.CurrentMode, 0) << mode;
        EXPECT_EQ(s.MailSwitch, 1) << mode;
    }
}

TEST_F(SettingsTest, NumbersUseThePlainDecimalConversion) {
    EXPECT_EQ(ParseSettingNumber("abc"), 0);
    EXPECT_EQ(ParseSettingNumber(""), 0);
    EXPECT_EQ(ParseSettingNumber("  12x"), 12);
    EXPECT_EQ(ParseSettingNumber("-5"), -5);
    EXPECT_EQ(ParseSettingNumber("+7"), 7);
    EXPECT_EQ(ParseSettingNumber("1 2"), 1);
    EXPECT_EQ(ParseSettingNumber("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(ParseSettingNumber("-99999999999999999999"), INT32_MIN);
    qvtest::WriteFile(file_,
                      "[BasicSettings]\r\nPreviewRate=abc\r\nConnMode=\r\nPictureQuality= 9 \r\n");
    BasicSettings b;
    LoadBasicSettings(file_, b);
    EXPECT_EQ(b.PreviewRate, 0);
    EXPECT_EQ(b.ConnMode, 0);
    EXPECT_EQ(b.PictureQuality, 9);
}

TEST_F(SettingsTest, PasswordIsStoredAsUnpaddedBase64) {
    MailSettings m;
    m.Password = "abc";
    SaveMailSettings(file_, m);
    EXPECT_EQ(IniReadRaw("MailSettings", "Password", "", file_), "YWJj");
    m.Password = "abcd";
    SaveMailSettings(file_, m);
    EXPECT_EQ(IniReadRaw("MailSettings", "Password", "", file_), "YWJjZA");
    MailSettings back;
    LoadMailSettings(file_, back);
    EXPECT_EQ(back.Password, "abcd");
    // A one-byte password comes back without the zero bytes the decoding adds.
    m.Password = "x";
    SaveMailSettings(file_, m);
    LoadMailSettings(file_, back);
    EXPECT_EQ(back.Password, "x");
    // Non-ASCII: the Shift-JIS bytes are encoded.
    m.Password = "パス";
    SaveMailSettings(file_, m);
    EXPECT_EQ(IniReadRaw("MailSettings", "Password", "", file_), Base64EncodeText("\x83p\x83X"));
    LoadMailSettings(file_, back);
    EXPECT_EQ(back.Password, "パス");
    // A stored password with padding or junk still decodes; it ends at the first zero byte.
    EXPECT_EQ(DecodePassword("YWJjZA=="), "abcd");
    EXPECT_EQ(DecodePassword("AAAA"), "");
}

TEST_F(SettingsTest, LongTextIsCutTo255BytesOnLoad) {
    WarningSettings w = DefaultWarningSettings(0);
    w.MailText = std::string(300, 'x') + "<BR>";
    SaveWarningSettings(file_, 0, w);
    WarningSettings back;
    LoadWarningSettings(file_, 0, back);
    EXPECT_EQ(back.MailText, std::string(255, 'x'));
}

TEST_F(SettingsTest, SaveReportsAFileThatCannotBeWritten) {
    EXPECT_EQ(SaveBasicSettings(dir_.File("missing/Quorvex.ini"), BasicSettings{}), 0);
}
