// The skinned main window with its real engine on a scripted core library, under the offscreen
// platform: mouse rules, dragging and snapping, switches, tray, the settings bracket, the event
// list, the picture viewer and help.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTest>

#include "app/dialogs/DialogWidgets.h"
#include "app/settings/IniFile.h"
#include "app/settings/ProgramFolder.h"
#include "app/window/CMonitorDlg.h"
#include "app/window/HistoryWindow.h"
#include "app/window/Menus.h"
#include "app/window/PictureViewer.h"
#include "app/window/TuningWindow.h"
#include "tests/app/engine/EngineFakes.h"

using namespace qv::window;
using qv::dialogs::Control;
namespace state = qv::engine::state;

namespace {

// The window with the messages it would show kept for the test.
class TestWindow : public CMonitorDlg {
  public:
    using CMonitorDlg::CMonitorDlg;
    void ShowMessage(const std::string& text) override { Messages.push_back(text); }
    std::vector<std::string> Messages;
};

class MonitorWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = home.Path() + "/";
        // A known place, well inside the screen.
        qvtest::WriteFile(folder + "Quorvex.ini", "[Window]\r\nMainLeft=100\r\nMainTop=80\r\n");
        Open();
    }
    void Open() {
        qv::engine::EngineOptions options;
        options.ProgramFolder = folder;
        options.SettingsFile = SettingsFilePath(folder);
        options.PollMs = 10;
        options.Echo = nullptr;
        window = std::make_unique<TestWindow>(core, sound, options);
        window->RunDialog = [this](QDialog& d) {
            ++dialogsRun;
            dialogOpenSeen = window->Engine().DialogOpen();
            return onDialog ? onDialog(d) : static_cast<int>(QDialog::Rejected);
        };
        window->TrayAvailable = [this] { return trayAvailable; };
        window->Clock = [this] { return clockNow; };
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        QApplication::processEvents();
    }
    void Send(QEvent::Type type, QPoint client, QPoint global, Qt::MouseButtons held) {
        QMouseEvent e(type, QPointF(client), QPointF(global),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                      Qt::NoModifier);
        QApplication::sendEvent(window.get(), &e);
    }
    void Press(QPoint p) {
        Send(QEvent::MouseButtonPress, p, window->mapToGlobal(p), Qt::LeftButton);
    }
    void MoveTo(QPoint p) { Send(QEvent::MouseMove, p, window->mapToGlobal(p), Qt::LeftButton); }
    void Release(QPoint p) { Send(QEvent::MouseButtonRelease, p, window->mapToGlobal(p), {}); }
    void Click(QPoint p) { Press(p), Release(p); }
    void Command(int command) {
        window->OnCommand(command);
        QApplication::processEvents();
    }
    QImage Shot() {  // the window as painted now
        window->repaint();
        return window->BackBuffer();
    }
    bool RegionIs(const QImage& shot, QPoint at, int bitmap) {
        const QImage& b = skin.Bitmap(bitmap);
        return shot.copy(QRect(at, b.size())) == b.convertToFormat(QImage::Format_RGB32);
    }
    QAction* TrayAction(const char* text) {
        for (QAction* a : window->TrayIcon()->contextMenu()->actions())
            if (a->text() == QString::fromUtf8(text)) return a;
        return nullptr;
    }
    int MenuCommand(int menuId, const char* text) {  // the command of a menu entry, or 0
        std::unique_ptr<QMenu> menu(window->BuildMenu(menuId));
        for (QAction* a : menu->actions())
            if (a->text() == QString::fromUtf8(text)) return a->data().toInt();
        return 0;
    }
    static std::string PictureName(int i) {
        return "d20260101120000" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".jpg";
    }
    void Log(int n) {  // n more picture lines, with the list up to date
        for (int i = 0; i < n; ++i) window->Engine().WriteLog(0, PictureName(logged++));
        QApplication::processEvents();
    }

    qvtest::TempDir home;
    std::string folder;
    qvtest::FakeCore core;
    qvtest::FakeSound sound;
    std::unique_ptr<TestWindow> window;
    std::function<int(QDialog&)> onDialog;
    int dialogsRun = 0, logged = 0;
    bool dialogOpenSeen = false, trayAvailable = true;
    std::time_t clockNow = 0;
    Skin skin = [] {
        Skin s;
        s.Load({std::string(QUORVEX_SOURCE_ASSETS) + "/"});
        return s;
    }();
};

}  // namespace

TEST_F(MonitorWindow, ButtonMovedOffBeforeReleaseOpensNothingMovedBackOpens) {
    const QPoint onButton(270, 420), off(270, 480);
    Press(onButton);
    EXPECT_TRUE(RegionIs(window->BackBuffer(), {242, 395}, SetHmOn));  // repainted at once
    MoveTo(off);
    EXPECT_TRUE(RegionIs(window->BackBuffer(), {242, 395}, SetHmOff));
    Release(off);
    EXPECT_EQ(dialogsRun, 0);
    Press(onButton);
    MoveTo(off);
    MoveTo(onButton);
    bool releasedWhenOpened = false;
    onDialog = [&](QDialog&) {
        releasedWhenOpened = RegionIs(window->BackBuffer(), {242, 395}, SetHmOff);
        return static_cast<int>(QDialog::Rejected);
    };
    Release(onButton);
    EXPECT_EQ(dialogsRun, 1);
    EXPECT_TRUE(releasedWhenOpened);  // the button shows released before the dialog opens
}

TEST_F(MonitorWindow, DraggingSnapsToTheWorkAreaWithinFifteenPixels) {
    const QRect work = window->screen()->availableGeometry();
    const QPoint grip(400, 10);  // the top frame: no button there
    auto dragTo = [&](QPoint topLeft) {
        const QPoint travel = topLeft - window->pos();
        Press(grip);
        Send(QEvent::MouseMove, grip + travel, window->mapToGlobal(grip) + travel, Qt::LeftButton);
        Release(grip + travel);
        return window->pos();
    };
    for (auto [to, snapped] : {std::pair{QPoint(15, 100), QPoint(0, 100)},
                               {{16, 100}, {16, 100}},
                               {{40, 15}, {40, 0}},
                               {{40, 16}, {40, 16}}})
        EXPECT_EQ(dragTo(work.topLeft() + to), work.topLeft() + snapped) << to.x() << "," << to.y();
    EXPECT_EQ(dialogsRun, 0);
    EXPECT_FALSE(window->Engine().Running());  // a drag runs no button
}

TEST_F(MonitorWindow, SwitchesActOnReleaseAndMailNeedsAModeThatSendsMail) {
    Click(QPoint(50, 300));
    EXPECT_TRUE(window->Engine().Running());
    EXPECT_TRUE(RegionIs(Shot(), {27, 294}, SwOn));
    Click(QPoint(160, 300));
    EXPECT_FALSE(window->Engine().PreviewOn());
    EXPECT_TRUE(RegionIs(Shot(), {134, 294}, SwOff));
    Click(QPoint(50, 425));  // mode 2, which sends no mail
    EXPECT_EQ(window->Engine().CurrentMode(), 1);
    EXPECT_TRUE(RegionIs(Shot(), {31, 414}, Mosw2On));
    window->Engine().ToggleMailSwitch();               // the switch itself is on ...
    EXPECT_TRUE(RegionIs(Shot(), {241, 294}, SwOff));  // ... but drawn off
    Click(QPoint(270, 300));
    EXPECT_TRUE(window->Engine().MailSwitch());  // and the button leaves it alone
    Command(CmdMode1);
    EXPECT_TRUE(RegionIs(Shot(), {241, 294}, SwOn));
    Click(QPoint(270, 300));
    EXPECT_FALSE(window->Engine().MailSwitch());
}

// The tray: its menu, its tooltip, the place kept for the shutdown; the history opens from both
// menus on the program's log, the event list staying as it is.
TEST_F(MonitorWindow, TrayMenuTooltipThePositionForTheShutdownAndTheHistory) {
    Log(2);
    Command(MenuCommand(kWindowMenu, "履歴"));
    ASSERT_NE(window->History(), nullptr);
    EXPECT_TRUE(window->History()->isVisible());
    EXPECT_EQ(window->History()->Entries().size(), 2u);
    EXPECT_EQ(window->EventListWidget()->count(), 2);
    Log(1);
    core.Level = 12345;
    Command(CmdToTray);
    ASSERT_TRUE(window->InTray());
    ASSERT_NE(window->TrayIcon(), nullptr);
    EXPECT_FALSE(window->isVisible());  // no taskbar entry while in the tray
    EXPECT_TRUE(core.HasState(state::WindowX, 0) && core.HasState(state::WindowWidth, 1));
    int32_t left = 0, top = 0;
    window->WindowPosition(left, top);
    EXPECT_EQ(QPoint(left, top), QPoint(100, 80));
    TrayAction("モード３")->trigger();
    QApplication::processEvents();
    EXPECT_EQ(window->Engine().CurrentMode(), 2);
    EXPECT_EQ(window->TrayIcon()->toolTip(), "停止中:ﾓｰﾄﾞ3:デテクト9999");  // the level clamped
    TrayAction("履歴")->trigger();
    QApplication::processEvents();
    EXPECT_EQ(window->History()->Entries().size(), 3u);  // read again
    TrayAction("元に戻す")->trigger();
    QApplication::processEvents();
    EXPECT_FALSE(window->InTray());
    EXPECT_EQ(window->TrayIcon(), nullptr);
    EXPECT_EQ(window->pos(), QPoint(100, 80));
    EXPECT_TRUE(RegionIs(Shot(), {31, 446}, Mosw3On));
    // Without a notification area the window is minimised instead.
    trayAvailable = false;
    Command(CmdToTray);
    EXPECT_FALSE(window->InTray());
    EXPECT_TRUE(window->isMinimized());
    Command(CmdRestore);
    EXPECT_FALSE(window->isMinimized());
}

TEST_F(MonitorWindow, ScheduleSwitchesLikeTheSwitchesAndAManualChangeHoldsToTheBoundary) {
    qvtest::WriteFile(folder + "Quorvex.ini",
                      "[Schedule]\r\nEnable=1\r\nRule3=12345 08:00-18:00 mode2\r\n");
    window.reset();
    auto Monday = [](int h, int m, int s) { return qvtest::LocalTime(2026, 12, 7, h, m, s); };
    clockNow = Monday(7, 59, 30);
    Open();
    const auto& engine = window->Engine();
    auto at = [&](std::time_t when) {  // the clock moves on and the window's timer sees it
        clockNow = when;
        QTest::qWait(1300);
    };
    at(Monday(7, 59, 40));
    EXPECT_FALSE(engine.Running());
    EXPECT_EQ(window->TrayTip(), "停止中:ﾓｰﾄﾞ1:デテクト0000\n次の切替 12/07 08:00 モード２");
    // A start passing while a settings dialog is open waits for the dialog to close.
    bool runningInDialog = true;
    onDialog = [&](QDialog&) {
        at(Monday(8, 0, 1));
        runningInDialog = engine.Running();
        return static_cast<int>(QDialog::Rejected);
    };
    Command(CmdBasicSettings);
    EXPECT_FALSE(runningInDialog);
    at(Monday(8, 0, 2));
    EXPECT_TRUE(engine.Running());
    EXPECT_EQ(engine.CurrentMode(), 1);
    EXPECT_EQ(window->TrayTip(), "動作中:ﾓｰﾄﾞ2:デテクト0000\n次の切替 12/07 18:00 予定の終了");
    Command(CmdMode3);  // a manual change holds inside the rule
    at(Monday(12, 0, 0));
    EXPECT_EQ(engine.CurrentMode(), 2);
    at(Monday(18, 0, 2));  // and the end brings back the state from before the rule
    EXPECT_FALSE(engine.Running());
    EXPECT_EQ(engine.CurrentMode(), 0);
    // Switched off in the basic settings: saved, and the tooltip is the plain one again.
    onDialog = [](QDialog& d) {
        Control<QCheckBox>(&d, qv::dialogs::ControlId::ScheduleEnable)->setChecked(false);
        d.accept();
        return static_cast<int>(QDialog::Accepted);
    };
    Command(CmdBasicSettings);
    EXPECT_EQ(window->TrayTip(), "停止中:ﾓｰﾄﾞ1:デテクト0000");
    const std::string ini = qvtest::ReadFile(folder + "Quorvex.ini");
    EXPECT_NE(ini.find("Rule3=12345 08:00-18:00 mode2"), std::string::npos) << ini;
}

TEST_F(MonitorWindow, SettingsDialogsPauseTheEngineAndTakeTheCopiesBack) {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    bool inactiveFrame = false;
    onDialog = [&](QDialog& d) {
        inactiveFrame = RegionIs(Shot(), {0, 25}, Frm32);  // the window is drawn inactive
        Control<QCheckBox>(&d, qv::dialogs::ControlId::WakeUpIcon)->click();
        return static_cast<int>(QDialog::Rejected);
    };
    window->OnCommand(CmdBasicSettings);
    EXPECT_TRUE(dialogOpenSeen && inactiveFrame);
    EXPECT_TRUE(core.HasState(state::MotionMode, state::MotionOff));
    // Basic settings: the copy is taken back even after Cancel.
    EXPECT_EQ(window->Engine().Settings()->Basic.WakeUpIcon, 1);
    EXPECT_NE(qvtest::ReadFile(folder + "Quorvex.ini").find("WakeUpIcon=1"), std::string::npos);
    // Warning settings: Cancel keeps nothing, OK keeps and saves.
    for (int result : {QDialog::Rejected, QDialog::Accepted}) {
        onDialog = [result](QDialog& d) {
            Control<QSlider>(&d, qv::dialogs::ControlId::Sensitivity)->setValue(4321);
            if (result == QDialog::Accepted) d.accept();
            return result;
        };
        window->OnCommand(CmdWarningSettings);
        EXPECT_EQ(window->Engine().Settings()->Warning[0].MotionSensitivity,
                  result == QDialog::Accepted ? 4321 : 3000);
    }
    EXPECT_NE(qvtest::ReadFile(folder + "Quorvex.ini").find("MotionSensitivity=4321"),
              std::string::npos);
    EXPECT_FALSE(window->Engine().DialogOpen());
}

TEST_F(MonitorWindow, EscapeEnterAndCloseDoNothing) {
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QTest::keyClick(window.get(), Qt::Key_Return);
    window->close();
    QApplication::processEvents();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->Engine().ShutdownStep(), 0);
}

// New lines go on top; a selected line keeps its highlight and a scrolled list its place while
// the oldest lines go; a double click opens the line's picture.
TEST_F(MonitorWindow, NewLinesGoOnTopAndTheListKeepsItsPlace) {
    const std::string detect = folder + "detect/";
    ASSERT_TRUE(EnsureFolder(detect));
    for (int i : {2, 50}) {
        QImage picture(40 + i, 30, QImage::Format_RGB32);
        picture.fill(QColor(i * 4, 100, 200));
        ASSERT_TRUE(picture.save(QString::fromStdString(detect + PictureName(i)), "JPEG"));
    }
    QListWidget* list = window->EventListWidget();
    Log(30);
    list->setCurrentRow(3);
    const QString selected = list->currentItem()->text();
    Log(1);
    EXPECT_EQ(list->currentItem()->text(), selected) << "the highlight stays on its entry";
    EXPECT_EQ(list->currentRow(), 4);
    EXPECT_EQ(list->verticalScrollBar()->value(), 0) << "at the top the newest line shows";
    list->scrollToItem(list->item(5), QAbstractItemView::PositionAtTop);
    const QString top = list->itemAt(0, 0)->text();
    Log(20);  // the list fills up: the oldest lines go
    window->Engine().WriteLog(2, "a@b.jpにメール送信");
    QApplication::processEvents();
    ASSERT_EQ(list->count(), 50);
    EXPECT_EQ(list->itemAt(0, 0)->text(), top) << "a scrolled list stays where it was";
    EXPECT_EQ(list->currentItem()->text(), selected);
    EXPECT_TRUE(list->item(0)->text().endsWith("メール通知 a@b.jpにメール送信"));
    EXPECT_TRUE(
        list->item(49)->text().endsWith(QString::fromStdString(PictureName(2))));  // 00 and 01 gone
    // A picture line keeps its file name whole beside the scroll bar.
    const QFontMetrics metrics(list->font());
    EXPECT_LE(metrics.horizontalAdvance(list->item(1)->text()), list->viewport()->width() - 4);
    auto doubleClick = [&](int row) {
        list->setCurrentRow(row);
        emit list->itemDoubleClicked(list->item(row));
        QApplication::processEvents();
    };
    doubleClick(0);  // a mail line opens nothing
    EXPECT_FALSE(window->Viewer()->isVisible());
    doubleClick(49);
    EXPECT_TRUE(window->Viewer()->isVisible());
    EXPECT_EQ(window->Viewer()->ShownPath(), detect + PictureName(2));
    EXPECT_EQ(window->Viewer()->Picture().size(), QSize(42, 30));
    doubleClick(1);
    EXPECT_EQ(window->Viewer()->findChild<QLabel*>("idc1030")->text().toStdString(),
              detect + PictureName(50));
}

TEST_F(MonitorWindow, AlarmShowsTheCautionPicturesInPlaceOfTheListUntilClicked) {
    const std::vector<std::string> folders{std::string(QUORVEX_SOURCE_ASSETS) + "/"};
    const QImage c1 = LoadCautionPicture(folders, "", 1), c2 = LoadCautionPicture(folders, "", 2);
    core.Level = 5000;  // above mode 1's sensitivity 3000
    Command(CmdStartStop);
    ASSERT_TRUE(qvtest::WaitFor([&] { return window->Engine().CautionShown(); }, 10000));
    core.Level = 0;
    QTest::qWait(100);
    EXPECT_FALSE(window->EventListWidget()->isVisible());
    EXPECT_EQ(Shot().copy(kLogArea), window->Engine().AlarmTicks() % 4 == 0 ? c1 : c2);
    Click(QPoint(400, 10));  // any press acknowledges the alarm
    QApplication::processEvents();
    EXPECT_FALSE(window->Engine().CautionShown());
    EXPECT_TRUE(window->EventListWidget()->isVisible());
    EXPECT_TRUE(RegionIs(Shot(), {325, 265}, BaseLog));
}

TEST_F(MonitorWindow, HelpWithoutABrowserSaysWhereThePageIs) {
    std::string opened;
    window->OpenHelpFile = [&](const std::string& path) { return opened = path, true; };
    Command(CmdHelp);
    ASSERT_NE(opened, "");
    EXPECT_TRUE(window->Messages.empty());
    window->OpenHelpFile = [](const std::string&) { return false; };
    Command(CmdHelp);
    ASSERT_EQ(window->Messages.size(), 1u);
    EXPECT_NE(window->Messages[0].find(opened), std::string::npos) << window->Messages[0];
}

TEST_F(MonitorWindow, TuningWindowLetsMonitoringGoOnAndAppliesChangesAtOnce) {
    auto& engine = window->Engine();
    engine.StartStop();
    // Both menus offer it; the window's opens it.
    EXPECT_NE(MenuCommand(kTrayMenu, "感度調整"), 0);
    Command(MenuCommand(kWindowMenu, "感度調整"));
    TuningWindow* tuning = window->Tuning();
    ASSERT_NE(tuning, nullptr);
    ASSERT_TRUE(tuning->isVisible());
    EXPECT_FALSE(engine.DialogOpen());
    EXPECT_FALSE(core.HasState(state::MotionMode, state::MotionOff));
    core.Level = 5000;
    ASSERT_TRUE(qvtest::WaitFor([&] { return engine.DetectCount() > 0; }));
    core.Level = 0;

    // A dragged rectangle and a clicked triangle become the mode's mask.
    MaskCanvas* canvas = tuning->Canvas();
    auto mouse = [&](QEvent::Type type, QPoint at) {
        QMouseEvent e(type, QPointF(at), canvas->mapToGlobal(QPointF(at)),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
        QApplication::sendEvent(canvas, &e);
    };
    auto drag = [&](QPoint from, QPoint to) {
        mouse(QEvent::MouseButtonPress, from);
        if (from != to) mouse(QEvent::MouseMove, to);
        mouse(QEvent::MouseButtonRelease, to);
    };
    drag({0, 0}, {240, 180});
    for (QPoint p : {QPoint(480, 0), QPoint(480, 360), QPoint(240, 360)}) drag(p, p);
    mouse(QEvent::MouseButtonDblClick, {240, 360});
    mouse(QEvent::MouseButtonRelease, {240, 360});
    qv::detect::MaskPolygons expected, stored;
    ASSERT_TRUE(qv::detect::ParseMask("0,0 0.5,0 0.5,0.5 0,0.5;1,0 1,1 0.5,1", expected));
    ASSERT_TRUE(qv::detect::ParseMask(engine.Settings()->Warning[0].MotionMask, stored));
    EXPECT_EQ(stored, expected);
    EXPECT_EQ(core.LastSetup().Mask, engine.Settings()->Warning[0].MotionMask);

    // Areas beyond what the settings file keeps are refused; the stored text stays whole and
    // reads back as the canvas shows it.
    for (int i = 0; i < 12; ++i) drag({i * 37 + 3, 201}, {i * 37 + 29, 353});
    const std::string full = engine.Settings()->Warning[0].MotionMask;
    EXPECT_LT(full.size(), kIniValueBufferSize);
    ASSERT_TRUE(qv::detect::ParseMask(
        IniReadString("WarningSettings0", "MotionMask", "", SettingsFilePath(folder)), stored));
    EXPECT_EQ(stored.size(), canvas->Mask().size()) << full;
    EXPECT_LT(stored.size(), 14u);
    // A value and the switch reach the core at once.
    tuning->findChild<QSpinBox*>("checkNoise")->setValue(65);
    EXPECT_EQ(core.LastSetup().NoiseTenths, 65);
    tuning->findChild<QCheckBox*>("motionCheck")->click();
    EXPECT_EQ(engine.Settings()->Warning[0].MotionCheck, 1);
    EXPECT_EQ(core.LastSetup(), qv::engine::MotionCheckOf(engine.Settings()->Warning[0]));
    tuning->Refresh();
    EXPECT_FALSE(tuning->Graph()->Levels().empty());
    EXPECT_TRUE(tuning->isVisible());
}
