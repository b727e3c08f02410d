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
    void SaveAll(const AllSettings& s, const std::string& f) {  // in the file's order
        ASSERT_TRUE(SaveWindowSettings(f, s.Window) && SaveBasicSettings(f, s.Basic));
        for (int m = 0; m < kOperatingModes; ++m)
            ASSERT_TRUE(SaveWarningSettings(f, m, s.Warning[m]));
        ASSERT_TRUE(SaveMailSettings(f, s.Mail) && SavePictSettings(f, s.Pict) &&
                    SaveRetentionSettings(f, s.Retention) && SaveScheduleSettings(f, s.Schedule) &&
                    SaveHookSettings(f, s.Hooks) && SaveWebSettings(f, s.Web));
    }
    AllSettings Load(const std::string& file) {
        AllSettings s;
        LoadAllSettings(file, s);
        return s;
    }
};

}  // namespace

TEST_F(SettingsTest, NoFileGivesTheSchemaDefaultsAndTheyAreWrittenInItsOrder) {
    AllSettings defaults;
    for (int m = 0; m < kOperatingModes; ++m) defaults.Warning[m] = DefaultWarningSettings(m);
    EXPECT_EQ(Load(file_), defaults);
    SaveAll(defaults, file_);
    std::string expected, section;
    for (const SettingEntry& e : SettingKeys()) {
        if (e.Key->WrittenWhenUsed) continue;  // a file that never used them stays without
        if (section != e.Section) expected += "[" + (section = e.Section) + "]\r\n";
        const std::string def = e.Key->DefaultFor(e.Mode);
        const bool none = def.empty() && e.Key->Type == SettingType::Number;  // MainLeft
        expected +=
            std::string(e.Key->Key) + "=" + qv::text::Utf8ToCp932(none ? "0" : def) + "\r\n";
    }
    EXPECT_EQ(qvtest::ReadFile(file_), expected);
}

// Every key reaches its own member and comes back from it, numbers beyond the dialogs' ranges
// included (the file's numbers are used as they stand).
TEST_F(SettingsTest, EveryKeySurvivesLoadAndSaveAsItStands) {
    std::vector<std::string> written;
    for (const SettingEntry& e : SettingKeys()) {
        const std::string n = std::to_string(12000 + written.size());
        written.push_back(e.Key->Type == SettingType::Number ? n : "値" + n);
        const std::string stored =
            e.Key->Type == SettingType::Password ? EncodePassword(written.back()) : written.back();
        ASSERT_TRUE(IniWriteString(e.Section, e.Key->Key, stored, file_));
    }
    const AllSettings loaded = Load(file_);
    SaveAll(loaded, dir_.File("again.ini"));
    for (size_t i = 0; i < written.size(); ++i)
        EXPECT_EQ(ReadSettingText(dir_.File("again.ini"), SettingKeys()[i]), written[i])
            << SettingKeys()[i].Section << " " << SettingKeys()[i].Key->Key;
    EXPECT_EQ(Load(dir_.File("again.ini")), loaded);
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
        EXPECT_EQ(Load(file_).CurrentMode, 0) << mode;  // never an index past the three modes
    }
    // One preview rate for a stored index, however the device is started.
    for (auto [index, fps] : {std::pair{0, 1}, {6, 60}, {7, 15}, {-1, 15}, {INT32_MAX, 15}})
        EXPECT_EQ(PreviewRateFps(index), fps) << index;
}

TEST_F(SettingsTest, PasswordIsStoredAsUnpaddedBase64OfItsShiftJisBytes) {
    const std::pair<std::string, std::string> cases[] = {
        {"abc", "YWJj"}, {"abcd", "YWJjZA"}, {"x", "eA"}, {"パス", Base64EncodeText("\x83p\x83X")}};
    for (const auto& [plain, stored] : cases)
        EXPECT_EQ(EncodePassword(plain) + "|" + DecodePassword(stored), stored + "|" + plain);
    EXPECT_EQ(DecodePassword("YWJjZA=="), "abcd");
    EXPECT_EQ(DecodePassword("AAAA"), "");  // ends at the first zero byte
    // The longest password still survives a restart.
    EXPECT_EQ(EncodePassword(std::string(kPasswordBytes, 'p')).size(), kIniValueBufferSize - 1);
}

// The Default buttons are checked through the dialogs. Window position: stored, or centred.
TEST_F(SettingsTest, WindowPositionAndFailedSave) {
    qvtest::WriteFile(file_, "[Window]\r\nMainLeft=10\r\n");
    WindowPosition wp = InitialWindowPosition(Load(file_).Window, 0, 0, 1920, 1080, 400, 300);
    EXPECT_EQ(std::pair(wp.Left, wp.Top), std::pair(10, 0));
    wp = InitialWindowPosition(WindowSettings{}, 0, 0, 1920, 1080, 400, 300);
    EXPECT_EQ(std::pair(wp.Left, wp.Top), std::pair(380, 195));  // centred at 760, then halved
    EXPECT_EQ(SaveBasicSettings(dir_.File("missing/Quorvex.ini"), BasicSettings{}), 0);
}
