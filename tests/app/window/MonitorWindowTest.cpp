// The skinned main window with its real engine on a scripted core library, under the
// offscreen platform: mouse rules, dragging and snapping, switches, tray, menus, the
// settings bracket, the event list and the picture viewer.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include "app/dialogs/DialogWidgets.h"
#include "app/settings/ProgramFolder.h"
#include "app/window/CMonitorDlg.h"
#include "app/window/Menus.h"
#include "app/window/PictureViewer.h"
#include "tests/app/engine/EngineFakes.h"
#include "tests/support/TestSupport.h"
#if QUORVEX_TEST_WITH_NEWS
#include "app/news/News.h"
#include "tests/core/http/HttpRecorder.h"
#endif

using namespace qv::window;
namespace state = qv::engine::state;

namespace {

class MonitorWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = home.Path() + "/";
        // A known place, well inside the screen.
        qvtest::WriteFile(folder + "Quorvex.ini", "[Window]\r\nMainLeft=100\r\nMainTop=80\r\n");
        Open();
    }
    void TearDown() override { window.reset(); }

    void Open() {
        qv::engine::EngineOptions options;
        options.ProgramFolder = folder;
        options.SettingsFile = SettingsFilePath(folder);
        options.PollMs = 10;
        options.Echo = nullptr;
        window = std::make_unique<CMonitorDlg>(core, sound, options);
        window->RunDialog = [this](QDialog& d) {
            ++dialogsRun;
            dialogOpenSeen = window->Engine().DialogOpen();
            return onDialog ? onDialog(d) : static_cast<int>(QDialog::Rejected);
        };
        window->TrayAvailable = [this] { return trayAvailable; };
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        QApplication::processEvents();
    }

    void Send(QEvent::Type type, QPoint client, Qt::MouseButtons held) {
        const QPoint global = window->mapToGlobal(client);
        QMouseEvent e(type, QPointF(client), QPointF(global),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                      Qt::NoModifier);
        QApplication::sendEvent(window.get(), &e);
    }
    void Press(QPoint p) { Send(QEvent::MouseButtonPress, p, Qt::LeftButton); }
    void MoveTo(QPoint p) { Send(QEvent::MouseMove, p, Qt::LeftButton); }
    void Release(QPoint p) { Send(QEvent::MouseButtonRelease, p, Qt::NoButton); }
    void Click(QPoint p) {
        Press(p);
        Release(p);
    }

    // The window as painted now.
    QImage Shot() {
        window->repaint();
        return window->BackBuffer();
    }
    bool RegionIs(const QImage& shot, QPoint at, int bitmap) {
        const QImage& b = skin.Bitmap(bitmap);
        return shot.copy(QRect(at, b.size())) == b.convertToFormat(QImage::Format_RGB32);
    }

    qvtest::TempDir home;
    std::string folder;
    qvtest::FakeCore core;
    qvtest::FakeSound sound;
    std::unique_ptr<CMonitorDlg> window;
    std::function<int(QDialog&)> onDialog;
    int dialogsRun = 0;
    bool dialogOpenSeen = false;
    bool trayAvailable = true;
    Skin skin = [] {
        Skin s;
        s.Load({std::string(QUORVEX_SOURCE_ASSETS) + "/"});
        return s;
    }();
};

}  // namespace

TEST_F(MonitorWindow, IsTheFixedFramelessSkinnedWindow) {
    EXPECT_EQ(window->size(), QSize(650, 510));
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window->windowTitle(), "TavorinSekuvo");
    EXPECT_EQ(window->pos(), QPoint(100, 80));
    EXPECT_EQ(window->EventListWidget()->geometry(), QRect(333, 291, 305, 206));
    const QImage shot = Shot();
    EXPECT_TRUE(RegionIs(shot, {5, 25}, Logo));
    EXPECT_TRUE(RegionIs(shot, {602, 3}, Btn11));
    EXPECT_TRUE(RegionIs(shot, {31, 382}, Mosw1On));
    EXPECT_TRUE(RegionIs(shot, {241, 294}, SwOn));  // mode 1 sends mail: switch on
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_TRUE(RegionIs(Shot(), {0, 25}, Frm31));  // the active frame
}

TEST_F(MonitorWindow, ButtonMovedOffBeforeReleaseOpensNothingMovedBackOpens) {
    const QPoint onButton4(270, 420), off(270, 480);
    Press(onButton4);
    EXPECT_TRUE(RegionIs(window->BackBuffer(), {242, 395}, SetHmOn));  // repainted at once
    MoveTo(off);
    EXPECT_TRUE(RegionIs(window->BackBuffer(), {242, 395}, SetHmOff));
    Release(off);
    EXPECT_EQ(dialogsRun, 0);

    Press(onButton4);
    MoveTo(off);
    MoveTo(onButton4);
    EXPECT_TRUE(RegionIs(window->BackBuffer(), {242, 395}, SetHmOn));
    bool releasedWhenOpened = false;
    onDialog = [&](QDialog& d) {
        releasedWhenOpened = RegionIs(window->BackBuffer(), {242, 395}, SetHmOff);
        EXPECT_EQ(d.windowTitle(), "警告設定");
        return static_cast<int>(QDialog::Rejected);
    };
    Release(onButton4);
    EXPECT_EQ(dialogsRun, 1);
    EXPECT_TRUE(releasedWhenOpened);  // the button shows released before the dialog opens
}

TEST_F(MonitorWindow, DraggingSnapsToTheWorkAreaWithinFifteenPixels) {
    const QRect work = window->screen()->availableGeometry();
    const QPoint grip(400, 10);  // the top frame: no button there
    auto dragTo = [&](QPoint topLeft) {
        const QPoint start = window->pos();
        Press(grip);
        // The cursor travels as far as the window should.
        const QPoint travel = topLeft - start;
        const QPoint global = window->mapToGlobal(grip) + travel;
        QMouseEvent move(QEvent::MouseMove, QPointF(grip + travel), QPointF(global), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &move);
        Release(grip + travel);
        return window->pos();
    };
    EXPECT_EQ(dragTo(QPoint(work.left() + 15, work.top() + 100)).x(), work.left());
    EXPECT_EQ(dragTo(QPoint(work.left() + 16, work.top() + 100)).x(), work.left() + 16);
    EXPECT_EQ(dragTo(QPoint(work.left() + 40, work.top() + 15)).y(), work.top());
    EXPECT_EQ(dragTo(QPoint(work.left() + 40, work.top() + 16)).y(), work.top() + 16);
    EXPECT_EQ(dialogsRun, 0);
    EXPECT_FALSE(window->Engine().Running());  // a drag runs no button
}

TEST_F(MonitorWindow, SwitchesActOnRelease) {
    Click(QPoint(50, 300));
    EXPECT_TRUE(window->Engine().Running());
    EXPECT_TRUE(RegionIs(Shot(), {27, 294}, SwOn));
    Click(QPoint(160, 300));
    EXPECT_FALSE(window->Engine().PreviewOn());
    EXPECT_TRUE(RegionIs(Shot(), {134, 294}, SwOff));
    Click(QPoint(50, 425));  // mode 2
    EXPECT_EQ(window->Engine().CurrentMode(), 1);
    const QImage shot = Shot();
    EXPECT_TRUE(RegionIs(shot, {31, 414}, Mosw2On));
    EXPECT_TRUE(RegionIs(shot, {31, 382}, Mosw1Off));
}

TEST_F(MonitorWindow, MailSwitchIsDrawnOffInAModeThatSendsNoMail) {
    window->OnCommand(CmdMode2);  // SendMail 0
    QApplication::processEvents();
    window->Engine().ToggleMailSwitch();  // the switch itself is on ...
    ASSERT_TRUE(window->Engine().MailSwitch());
    EXPECT_TRUE(RegionIs(Shot(), {241, 294}, SwOff));  // ... but drawn off
    Click(QPoint(270, 300));
    EXPECT_TRUE(window->Engine().MailSwitch());  // and the button leaves it alone
    window->OnCommand(CmdMode1);
    QApplication::processEvents();
    EXPECT_TRUE(RegionIs(Shot(), {241, 294}, SwOn));
    Click(QPoint(270, 300));
    EXPECT_FALSE(window->Engine().MailSwitch());
    EXPECT_TRUE(RegionIs(Shot(), {241, 294}, SwOff));
}

TEST_F(MonitorWindow, TrayMenuModeChangeMovesTheModeSwitchAndTheTooltip) {
    core.Level = 12345;
    window->OnCommand(CmdToTray);
    QApplication::processEvents();
    ASSERT_TRUE(window->InTray());
    ASSERT_NE(window->TrayIcon(), nullptr);
    EXPECT_FALSE(window->isVisible());  // no taskbar entry while in the tray
    QMenu* menu = window->TrayIcon()->contextMenu();
    ASSERT_NE(menu, nullptr);
    QAction* mode3 = nullptr;
    for (QAction* a : menu->actions()) {
        if (a->text() == "モード３") mode3 = a;
    }
    ASSERT_NE(mode3, nullptr);
    mode3->trigger();
    QApplication::processEvents();
    EXPECT_EQ(window->Engine().CurrentMode(), 2);
    EXPECT_EQ(window->TrayTip(), "停止中:ﾓｰﾄﾞ3:デテクト9999");
    EXPECT_EQ(window->TrayIcon()->toolTip(), "停止中:ﾓｰﾄﾞ3:デテクト9999");
    core.Level = 37;
    window->OnCommand(CmdStartStop);
    QApplication::processEvents();
    EXPECT_EQ(window->TrayIcon()->toolTip(), "動作中:ﾓｰﾄﾞ3:デテクト0037");

    QAction* restore = nullptr;
    for (QAction* a : menu->actions()) {
        if (a->text() == "元に戻す") restore = a;
    }
    ASSERT_NE(restore, nullptr);
    restore->trigger();
    QApplication::processEvents();
    EXPECT_FALSE(window->InTray());
    EXPECT_EQ(window->TrayIcon(), nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->pos(), QPoint(100, 80));
    const QImage shot = Shot();
    EXPECT_TRUE(RegionIs(shot, {31, 446}, Mosw3On));
    EXPECT_TRUE(RegionIs(shot, {31, 382}, Mosw1Off));
}

TEST_F(MonitorWindow, TrayKeepsThePreviewStatesAndThePositionForTheShutdown) {
    window->OnCommand(CmdToTray);
    {
        std::lock_guard lock(core.StateMutex);
        bool x0 = false, y0 = false, shrunk = false;
        for (auto [id, value] : core.StatesSet) {
            x0 |= id == state::WindowX && value == 0;
            y0 |= id == state::WindowY && value == 0;
            shrunk |= id == state::WindowWidth && value == 1;
        }
        EXPECT_TRUE(x0 && y0 && shrunk);
    }
    int32_t left = 0, top = 0;
    window->WindowPosition(left, top);
    EXPECT_EQ(QPoint(left, top), QPoint(100, 80));
    EXPECT_TRUE(window->Engine().ThreadsRunning());  // monitoring goes on
}

TEST_F(MonitorWindow, WithoutASystemTrayTheWindowIsMinimisedInstead) {
    trayAvailable = false;
    window->OnCommand(CmdToTray);
    QApplication::processEvents();
    EXPECT_FALSE(window->InTray());
    EXPECT_EQ(window->TrayIcon(), nullptr);
    EXPECT_TRUE(window->isMinimized());
    window->OnCommand(CmdRestore);
    EXPECT_FALSE(window->isMinimized());
}

TEST_F(MonitorWindow, MenusHaveTheirItemsAndSeparators) {
    auto texts = [](QMenu* m) {
        QStringList out;
        for (QAction* a : m->actions()) {
            out << (a->isSeparator() ? QStringLiteral("-")
                    : a->menu()      ? a->text() + ">"
                                     : a->text());
        }
        return out.join(QLatin1Char(' '));
    };
    std::unique_ptr<QMenu> tray(window->BuildMenu(104));
    EXPECT_EQ(
        texts(tray.get()),
        "開始・停止 - モード１ モード２ モード３ - 基本設定 警告設定 - ヘルプ - 元に戻す 終了");
    std::unique_ptr<QMenu> context(window->BuildMenu(105));
    EXPECT_EQ(texts(context.get()), "基本設定 警告設定 - モード切替> - ヘルプ - アイコン化 終了");
    QMenu* modes = context->actions()[3]->menu();
    EXPECT_EQ(texts(modes), "モード１ モード２ モード３");
    EXPECT_EQ(modes->actions()[2]->data().toInt(), CmdMode3);
}

TEST_F(MonitorWindow, SettingsDialogsPauseTheEngineAndTakeTheCopiesBack) {
    // Basic settings: the copy is taken back even after Cancel.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    bool inactiveFrame = false;
    onDialog = [&](QDialog& d) {
        // While a dialog is open the window is drawn inactive.
        inactiveFrame = RegionIs(Shot(), {0, 25}, Frm32) && RegionIs(Shot(), {0, 505}, Frm22);
        EXPECT_EQ(d.windowTitle(), "基本設定");
        qv::dialogs::Control<QCheckBox>(&d, 1079)->click();
        return static_cast<int>(QDialog::Rejected);
    };
    window->OnCommand(CmdBasicSettings);
    EXPECT_TRUE(dialogOpenSeen);
    EXPECT_TRUE(inactiveFrame);
    EXPECT_FALSE(window->Engine().DialogOpen());
    EXPECT_EQ(window->Engine().Settings()->Basic.WakeUpIcon, 1);
    EXPECT_NE(qvtest::ReadFile(folder + "Quorvex.ini").find("WakeUpIcon=1"), std::string::npos);
    {
        std::lock_guard lock(core.StateMutex);
        bool paused = false;
        for (auto [id, value] : core.StatesSet) paused |= id == state::MotionMode && value == 1;
        EXPECT_TRUE(paused);
    }

    // Warning settings: Cancel keeps nothing, OK keeps and saves.
    onDialog = [](QDialog& d) {
        qv::dialogs::Control<QSlider>(&d, 1007)->setValue(4321);
        return static_cast<int>(QDialog::Rejected);
    };
    window->OnCommand(CmdWarningSettings);
    EXPECT_EQ(window->Engine().Settings()->Warning[0].MotionSensitivity, 3000);
    onDialog = [](QDialog& d) {
        qv::dialogs::Control<QSlider>(&d, 1007)->setValue(4321);
        d.accept();
        return static_cast<int>(QDialog::Accepted);
    };
    window->OnCommand(CmdWarningSettings);
    EXPECT_EQ(window->Engine().Settings()->Warning[0].MotionSensitivity, 4321);
    EXPECT_NE(qvtest::ReadFile(folder + "Quorvex.ini").find("MotionSensitivity=4321"),
              std::string::npos);
    EXPECT_FALSE(window->Engine().DialogOpen());
}

TEST_F(MonitorWindow, DeviceSelectionRestartsTheDeviceWithTheWindowsPreview) {
    core.DeviceCount = 2;
    core.Names = {"Cam A", "Cam B"};
    const int startsBefore = core.StartupCalls;
    {
        std::lock_guard lock(core.StateMutex);
        core.StatesSet.clear();
    }
    onDialog = [](QDialog& sheet) {
        // The device selection is modal inside the sheet: answer it when it shows.
        QTimer::singleShot(0, [] {
            auto* select = QApplication::activeModalWidget();
            ASSERT_NE(select, nullptr);
            auto* list = qv::dialogs::Control<QComboBox>(select, 1171);
            ASSERT_NE(list, nullptr);
            list->setCurrentIndex(1);
            static_cast<QDialog*>(select)->accept();
        });
        qv::dialogs::Control<QPushButton>(&sheet, 1002)->click();
        return static_cast<int>(QDialog::Accepted);
    };
    window->OnCommand(CmdBasicSettings);
    EXPECT_EQ(core.StartupCalls, startsBefore + 1);
    EXPECT_EQ(window->Engine().Settings()->Basic.DeviceName, "Cam B");
    std::lock_guard lock(core.StateMutex);
    auto has = [&](unsigned long id, unsigned long value) {
        for (auto [i, v] : core.StatesSet) {
            if (i == id && v == value) return true;
        }
        return false;
    };
    EXPECT_TRUE(has(state::WindowX, 325));
    EXPECT_TRUE(has(state::WindowY, 25));
    EXPECT_TRUE(has(state::WindowWidth, 320));  // the preview is on
    EXPECT_TRUE(has(state::DisplayMode, state::DisplayPreview));
    EXPECT_TRUE(has(state::MotionMode, state::MotionMeasure));
}

TEST_F(MonitorWindow, EscapeEnterAndCloseDoNothing) {
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QTest::keyClick(window.get(), Qt::Key_Return);
    window->close();
    QApplication::processEvents();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->Engine().ShutdownStep(), 0);
}

TEST_F(MonitorWindow, FiftyFirstLogLineDropsTheOldestAndDoubleClickOpensTheRightPicture) {
    const std::string detect = folder + "detect/";
    ASSERT_TRUE(EnsureFolder(detect));
    for (int i = 0; i < 51; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "d20260101120000%02d.jpg", i);
        QImage picture(40 + i, 30, QImage::Format_RGB32);
        picture.fill(QColor(i * 4, 100, 200));
        ASSERT_TRUE(picture.save(QString::fromStdString(detect + name), "JPEG"));
        window->Engine().WriteLog(0, name);
    }
    window->Engine().WriteLog(2, "a@b.jpにメール送信");
    QApplication::processEvents();
    QListWidget* list = window->EventListWidget();
    ASSERT_EQ(list->count(), 50);
    EXPECT_TRUE(list->item(0)->text().endsWith("メール通知 a@b.jpにメール送信"));
    EXPECT_TRUE(list->item(1)->text().endsWith("動体検知保存 d2026010112000050.jpg"));
    EXPECT_TRUE(list->item(49)->text().endsWith("d2026010112000002.jpg"));  // 00 and 01 gone

    auto doubleClick = [&](int row) {
        list->setCurrentRow(row);
        emit list->itemDoubleClicked(list->item(row));
        QApplication::processEvents();
    };
    doubleClick(0);  // a mail line opens nothing
    EXPECT_FALSE(window->Viewer()->isVisible());
    doubleClick(49);
    EXPECT_TRUE(window->Viewer()->isVisible());
    EXPECT_EQ(window->Viewer()->windowTitle(), "画像表示");
    EXPECT_EQ(window->Viewer()->ShownPath(), detect + "d2026010112000002.jpg");
    EXPECT_EQ(window->Viewer()->Picture().size(), QSize(42, 30));
    doubleClick(1);
    EXPECT_EQ(window->Viewer()->ShownPath(), detect + "d2026010112000050.jpg");
    EXPECT_EQ(window->Viewer()->Picture().size(), QSize(90, 30));
    auto* path = window->Viewer()->findChild<QLabel*>("idc1030");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(path->text().toStdString(), detect + "d2026010112000050.jpg");
}

TEST_F(MonitorWindow, AlarmShowsTheCautionPicturesInPlaceOfTheListUntilClicked) {
    const auto folders = std::vector<std::string>{std::string(QUORVEX_SOURCE_ASSETS) + "/"};
    const QImage c1 = LoadCautionPicture(folders, "", 1);
    const QImage c2 = LoadCautionPicture(folders, "", 2);
    core.Level = 5000;  // above mode 1's sensitivity 3000
    window->OnCommand(CmdStartStop);
    QDeadlineTimer deadline(10000);
    while (!window->Engine().CautionShown() && !deadline.hasExpired()) QTest::qWait(20);
    ASSERT_TRUE(window->Engine().CautionShown());
    core.Level = 0;
    QTest::qWait(100);
    QApplication::processEvents();
    EXPECT_FALSE(window->EventListWidget()->isVisible());
    const QImage shot = Shot();
    const QImage& expected = window->Engine().AlarmTicks() % 4 == 0 ? c1 : c2;
    EXPECT_EQ(shot.copy(kLogArea), expected);
    Click(QPoint(400, 10));  // any press acknowledges the alarm
    QApplication::processEvents();
    EXPECT_FALSE(window->Engine().CautionShown());
    EXPECT_TRUE(window->EventListWidget()->isVisible());
    EXPECT_TRUE(RegionIs(Shot(), {325, 265}, BaseLog));
}

#if QUORVEX_TEST_WITH_NEWS
// The news check is the window's last start-up step and does not hold the window up.
TEST_F(MonitorWindow, StartUpOpensTheNewsWindowOnceForANewerNotice) {
    qvtest::HttpRecorder server;
    if (!server.Started()) GTEST_SKIP() << server.SkipReason();
    qvtest::TempDir config;
    server.SetReply("POST", "/infobbs/infobbs.php", "<html><body>\n7\n</body></html>");
    server.SetReply("GET", "", "<html><body><p>Notice 6 and 7</p></body></html>");
    window.reset();
    const QByteArray oldUrl = qgetenv("QUORVEX_NEWS_URL");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("QUORVEX_NEWS_URL", QByteArray::fromStdString(server.BaseUrl() + "/infobbs/"));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path()));
    auto newsWindows = [] {
        std::vector<qv::news::NewsWindow*> out;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* n = qobject_cast<qv::news::NewsWindow*>(w); n && n->isVisible())
                out.push_back(n);
        return out;
    };
    Open();
    QDeadlineTimer deadline(15000);
    while (newsWindows().empty() && !deadline.hasExpired()) QTest::qWait(20);
    QTest::qWait(500);
    const auto opened = newsWindows();
    EXPECT_EQ(opened.size(), 1u);
    int posts = 0;
    for (const auto& r : server.Requests()) posts += r.RequestLine.rfind("POST ", 0) == 0;
    EXPECT_EQ(posts, 1);
    for (auto* n : opened) delete n;
    qputenv("QUORVEX_NEWS_URL", oldUrl);
    qputenv("XDG_CONFIG_HOME", oldConfig);
}
#endif

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Every window checks the news at start: never the real service from a test.
    qputenv("QUORVEX_NEWS_URL", "http://127.0.0.1:1/infobbs/");
    qvtest::TempDir config;
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path()));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
