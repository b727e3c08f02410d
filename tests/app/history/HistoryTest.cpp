#include "app/history/History.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/text/Text.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace qv::history;

TEST(History, ReadsDaysPicturesAndMailOutcomesNewestFirst) {
    qvtest::TempDir dir;
    for (const char* d : {"log", "detect", "timer"}) ::mkdir(dir.File(d).c_str(), 0700);
    const std::string log =
        "1,2026/12/06 09:00:00,タイマー保存,t2026120609000000.jpg\r\n"
        "0,2026/12/06 09:00:05,動体検知保存,d2026120609000500.jpg\r\n"
        "0,2026/12/06 09:00:06,動体検知保存,d2026120609000600.jpg\r\n"
        "2,2026/12/06 09:00:09,メール通知,メール送信に失敗しました\r\n"
        "garbage line\r\n"
        "7,2026/12/06 09:00:10,?,x\r\n"
        "0,2026/12/06 09:01:00,動体検知保存,d2026120609010000.jpg\r\n";
    qvtest::WriteFile(dir.File("log/2026-12-06.log"), qv::text::Utf8ToCp932(log));
    qvtest::WriteFile(dir.File("log/2026-12-05.log"), "");
    qvtest::WriteFile(dir.File("log/notes.log"), "");
    for (const char* p : {"timer/t2026120609000000.jpg", "detect/d2026120609000600.jpg",
                          "detect/d2026120609010000.jpg"})
        qvtest::WriteFile(dir.File(p), "jpeg");

    EXPECT_EQ(Days(dir.File("log")), (std::vector<std::string>{"2026-12-06", "2026-12-05"}));
    Folders f{dir.File("log"), dir.File("detect"), dir.File("timer")};
    auto entries = ReadDay(f, "2026-12-06");
    struct {
        int kind;
        const char* text;
        bool exists, warning, failed;
    } expected[] = {
        {kDetect, "d2026120609010000.jpg", true, false, false},
        {kMail, "メール送信に失敗しました", false, false, true},
        {kDetect, "d2026120609000600.jpg", true, true, false},    // the warning's picture
        {kDetect, "d2026120609000500.jpg", false, false, false},  // deleted since
        {kTimer, "t2026120609000000.jpg", true, false, false},
    };
    ASSERT_EQ(entries.size(), std::size(expected));
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].Kind, expected[i].kind) << i;
        EXPECT_EQ(entries[i].Text, expected[i].text) << i;
        EXPECT_EQ(entries[i].Exists, expected[i].exists) << i;
        EXPECT_EQ(entries[i].Warning, expected[i].warning) << i;
        EXPECT_EQ(entries[i].MailFailed, expected[i].failed) << i;
    }
    EXPECT_EQ(entries[0].When.tm_min, 1);
    EXPECT_EQ(entries[4].Picture, dir.File("timer/t2026120609000000.jpg"));

    EXPECT_TRUE(DeletePicture(entries[0]));
    EXPECT_FALSE(qvtest::FileExists(dir.File("detect/d2026120609010000.jpg")));
    EXPECT_FALSE(DeletePicture(entries[1]));  // a mail line has no picture
    EXPECT_TRUE(ReadDay(f, "2026-12-01").empty());
}

}  // namespace
