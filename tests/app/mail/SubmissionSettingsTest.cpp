// The submission keys of [MailSettings]: a file that never used them stays as it was, used ones
// survive a restart, and which settings switch the extended dialogue on.
#include <gtest/gtest.h>

#include <sstream>

#include "app/mail/Base64.h"
#include "app/mail/MailJob.h"
#include "app/settings/ConfigCommand.h"
#include "app/settings/IniFile.h"
#include "app/settings/Settings.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kPlainSection =
    "[MailSettings]\r\nPopSmtp=0\r\nSmtpServer=smtp.example\r\nMailAddress=\r\nPopServer=\r\n"
    "UserID=\r\nPassword=\r\nSendMailAddress=\r\n";

TEST(SubmissionSettings, UntouchedSettingsWriteTheFileAsBefore) {
    qvtest::TempDir dir;
    std::string file = dir.File("Quorvex.ini");
    MailSettings m;
    m.SmtpServer = "smtp.example";
    m.SmtpUser = "";  // defaults all through
    ASSERT_EQ(SaveMailSettings(file, m), 1);
    EXPECT_EQ(qvtest::ReadFile(file), kPlainSection);
    // A user name typed while authentication stays off is kept, but switches nothing on.
    MailSettings back;
    LoadMailSettings(file, back);
    EXPECT_FALSE(UsesSubmission(back));
    EXPECT_FALSE(SubmissionOf(back).Extended);
}

TEST(SubmissionSettings, UsedKeysSurviveARestartAndStayOnceWritten) {
    qvtest::TempDir dir;
    std::string file = dir.File("Quorvex.ini");
    MailSettings m;
    m.SmtpServer = "smtp.example";
    m.SmtpPort = 587;
    m.SmtpSecurity = 1;
    m.SmtpAuth = 1;
    m.SmtpUser = "alice@example.org";
    m.SmtpPassword = "パス";
    ASSERT_EQ(SaveMailSettings(file, m), 1);
    EXPECT_EQ(qvtest::ReadFile(file), kPlainSection +
                                          "SmtpPort=587\r\nSmtpSecurity=1\r\nSmtpAuth=1\r\n"
                                          "SmtpUser=alice@example.org\r\nSmtpPassword=" +
                                          Base64EncodeText("\x83p\x83X") + "\r\n");
    MailSettings back;
    LoadMailSettings(file, back);
    EXPECT_EQ(back.SmtpPort, 587);
    EXPECT_EQ(back.SmtpSecurity, 1);
    EXPECT_EQ(back.SmtpAuth, 1);
    EXPECT_EQ(back.SmtpUser, "alice@example.org");
    EXPECT_EQ(back.SmtpPassword, "パス");
    SmtpSubmission s = SubmissionOf(back);
    EXPECT_TRUE(s.Extended);
    EXPECT_EQ(s.Security, 1);
    EXPECT_TRUE(s.Auth);
    EXPECT_EQ(s.Password, "パス");

    // Set back to the defaults: the keys stay, holding the defaults, and read back as such.
    ASSERT_EQ(SaveMailSettings(file, MailSettings{}), 1);
    EXPECT_EQ(IniReadRaw("MailSettings", "SmtpPort", "", file), "25");
    EXPECT_EQ(IniReadRaw("MailSettings", "SmtpSecurity", "", file), "0");
    EXPECT_EQ(IniReadRaw("MailSettings", "SmtpPassword", "x", file), "");
    LoadMailSettings(file, back);
    EXPECT_FALSE(UsesSubmission(back));
}

TEST(SubmissionSettings, AnyOneOfPortSecurityOrAuthSwitchesTheDialogueOn) {
    qvtest::TempDir dir;
    std::string file = dir.File("Quorvex.ini");
    for (const char* line : {"SmtpPort=465", "SmtpSecurity=2", "SmtpAuth=1"}) {
        qvtest::WriteFile(file, std::string("[MailSettings]\r\n") + line + "\r\n");
        MailSettings m;
        LoadMailSettings(file, m);
        EXPECT_TRUE(UsesSubmission(m)) << line;
    }
    // An explicit 25 is the default: still plain HELO.
    qvtest::WriteFile(file, "[MailSettings]\r\nSmtpPort=25\r\nSmtpSecurity=0\r\n");
    MailSettings m;
    LoadMailSettings(file, m);
    EXPECT_FALSE(UsesSubmission(m));
}

TEST(SubmissionSettings, ConfigCommandSetsThemWithinTheirRanges) {
    qvtest::TempDir dir;
    std::ostringstream out, err;
    EXPECT_EQ(
        RunConfigCommand({"set", "MailSettings", "SmtpPort", "587"}, dir.Path() + "/", out, err),
        0);
    EXPECT_EQ(
        RunConfigCommand({"set", "mailsettings", "smtppassword", "pw"}, dir.Path() + "/", out, err),
        0);
    EXPECT_NE(
        RunConfigCommand({"set", "MailSettings", "SmtpSecurity", "3"}, dir.Path() + "/", out, err),
        0);
    EXPECT_NE(
        RunConfigCommand({"set", "MailSettings", "SmtpPort", "0"}, dir.Path() + "/", out, err), 0);
    MailSettings m;
    LoadMailSettings(dir.File("Quorvex.ini"), m);
    EXPECT_EQ(m.SmtpPort, 587);
    EXPECT_EQ(m.SmtpSecurity, 0);
    EXPECT_EQ(m.SmtpPassword, "pw");
    EXPECT_EQ(IniReadRaw("MailSettings", "SmtpPassword", "", dir.File("Quorvex.ini")), "cHc");
}

}  // namespace
