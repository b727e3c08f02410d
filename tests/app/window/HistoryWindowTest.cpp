// The history window on real files under the offscreen platform: a day's log in Shift-JIS (with
// lines that are no entries, and files that are no day's log) and the JPEGs it names.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "app/window/HistoryWindow.h"
#include "platform/text/Text.h"
#include "tests/support/TestSupport.h"

using qv::window::CHistoryWindow;

namespace {

class HistoryWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* d : {"log", "detect", "timer"}) ::mkdir(dir.File(d).c_str(), 0700);
        qvtest::WriteFile(
            dir.File("log/2026-12-06.log"),
            qv::text::Utf8ToCp932("1,2026/12/06 09:00:00,タイマー保存,t2026120609000000.jpg\r\n"
                                  "0,2026/12/06 09:00:05,動体検知保存,d2026120609000500.jpg\r\n"
                                  "2,2026/12/06 09:00:09,メール通知,メール送信に失敗しました\r\n"
                                  "garbage line\r\n7,2026/12/06 09:00:10,?,x\r\n"
                                  "0,2026/12/06 09:01:00,動体検知保存,d2026120609010000.jpg\r\n"));
        qvtest::WriteFile(
            dir.File("log/2026-12-05.log"),
            qv::text::Utf8ToCp932("0,2026/12/05 23:59:00,動体検知保存,d2026120523590000.jpg\r\n"));
        qvtest::WriteFile(dir.File("log/notes.log"), "");
        int shade = 40;
        for (const char* p : {"timer/t2026120609000000.jpg", "detect/d2026120609000500.jpg",
                              "detect/d2026120609010000.jpg", "detect/d2026120523590000.jpg"}) {
            QImage picture(320, 240, QImage::Format_RGB32);
            picture.fill(QColor(shade, shade, shade));
            shade += 50;
            ASSERT_TRUE(picture.save(QString::fromStdString(dir.File(p)), "JPEG"));
        }
        folders = {dir.File("log"), dir.File("detect"), dir.File("timer")};
        window = std::make_unique<CHistoryWindow>(folders);
        window->Confirm = [this](const QString&) { return answer; };
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    QPushButton* Button(const char* name) {
        return window->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    // The grey of the picture shown large, which tells the pictures apart.
    int ShownShade() {
        const QImage shown = window->LargePicture()->pixmap().toImage();
        return qGray(shown.pixel(shown.width() / 2, shown.height() / 2));
    }

    qvtest::TempDir dir;
    qv::history::Folders folders;
    std::unique_ptr<CHistoryWindow> window;
    bool answer = false;
};

TEST_F(HistoryWindow, DaysThumbnailsMarksStepsAndDeleting) {
    QListWidget* days = window->DayList();
    ASSERT_EQ(days->count(), 2);
    EXPECT_EQ(days->item(0)->text(), "2026-12-06");
    QListWidget* list = window->PictureList();
    ASSERT_EQ(list->count(), 4);
    // Newest first; the mail outcome marks the warning picture before it.
    EXPECT_EQ(list->item(0)->text(), "09:01:00 動体検知");
    EXPECT_EQ(list->item(1)->text(), "09:00:09 メール失敗 メール送信に失敗しました");
    EXPECT_EQ(list->item(2)->text(), "09:00:05 動体検知 警告");
    EXPECT_EQ(list->item(3)->text(), "09:00:00 タイマー");
    EXPECT_FALSE(list->item(0)->icon().isNull());
    EXPECT_TRUE(list->item(1)->icon().isNull());

    EXPECT_FALSE(window->OpenLarge(1));  // a mail line has no picture, nothing to delete
    EXPECT_FALSE(qv::history::DeletePicture(window->Entries()[1]));
    EXPECT_TRUE(qv::history::ReadDay(folders, "2026-12-01").empty());  // a day without a log
    ASSERT_TRUE(window->OpenLarge(0));
    // Large, yet within the screen.
    const QSize shown = window->LargePicture()->pixmap().size();
    const QSize screen = window->screen()->availableGeometry().size();
    EXPECT_GT(shown.width(), 320);
    EXPECT_TRUE(shown.width() <= screen.width() && shown.height() <= screen.height());
    EXPECT_NEAR(ShownShade(), 140, 8);
    // Left is the older picture, past the mail line; Right comes back; so do the buttons.
    QTest::keyClick(window.get(), Qt::Key_Left);
    EXPECT_EQ(window->Shown(), 2);
    EXPECT_NEAR(ShownShade(), 90, 8);
    QTest::keyClick(window.get(), Qt::Key_Right);
    EXPECT_EQ(window->Shown(), 0);
    EXPECT_FALSE(Button("historyNext")->isEnabled());
    Button("historyPrevious")->click();
    Button("historyPrevious")->click();
    EXPECT_EQ(window->Shown(), 3);
    EXPECT_FALSE(Button("historyPrevious")->isEnabled());
    Button("historyNext")->click();
    EXPECT_EQ(window->Shown(), 2);

    // Deleting asks first; after it the next older picture shows and the day marks it gone.
    Button("historyDelete")->click();
    EXPECT_TRUE(qvtest::FileExists(dir.File("detect/d2026120609000500.jpg")));
    answer = true;
    Button("historyDelete")->click();
    EXPECT_FALSE(qvtest::FileExists(dir.File("detect/d2026120609000500.jpg")));
    EXPECT_EQ(window->Shown(), 3);
    EXPECT_EQ(list->item(2)->text(), "09:00:05 動体検知 警告 （削除済み）");
    QTest::keyClick(window.get(), Qt::Key_Right);
    EXPECT_EQ(window->Shown(), 0);  // the deleted one is stepped over

    days->setCurrentRow(1);
    EXPECT_EQ(window->Shown(), -1);
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "23:59:00 動体検知");
}

}  // namespace
