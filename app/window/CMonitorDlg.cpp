#include "app/window/CMonitorDlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <cstdio>

#include "QuorCore.h"
#include "app/dialogs/DialogWidgets.h"
#include "app/mail/TestMail.h"
#include "app/news/News.h"
#include "app/web/Certificate.h"
#include "app/web/WebSettings.h"
#include "app/window/HistoryWindow.h"
#include "app/window/Menus.h"
#include "app/window/PictureViewer.h"
#include "app/window/TuningWindow.h"
#include "platform/dialup/DialUp.h"
#include "platform/notify/Notify.h"

using qv::engine::Area;
namespace state = qv::engine::state;
using namespace qv::window;

namespace {

constexpr const char* kTitle = "TavorinSekuvo";

QString Q(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/quorvex/icons/%1/quorvex.png").arg(size), QSize(size, size));
    }
    return icon;
}

// The viewer decodes through the core library, as the saved pictures were written by it.
QImage DecodeWithCore(const std::string& path) {
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    unsigned int width = 0, height = 0;
    unsigned char* pixels = QvCoreJPG2RGB(name.data(), &width, &height);
    if (!pixels) return QImage();
    QImage image;
    if (width > 0 && height > 0 && width < 65536 && height < 65536) {
        // Blue, green, red, top row first, rows packed.
        image = QImage(pixels, static_cast<int>(width), static_cast<int>(height),
                       static_cast<qsizetype>(width) * 3, QImage::Format_BGR888)
                    .copy();
    }
    QvCoreFreeJpegMem(pixels);
    return image;
}

}  // namespace

CMonitorDlg::CMonitorDlg(qv::engine::CoreApi& core, qv::sound::SoundPlayer& sound,
                         qv::engine::EngineOptions options)
    : QDialog(nullptr, Qt::Window | Qt::FramelessWindowHint),
      handoff_(this),
      core_(core),
      settingsFile_(options.SettingsFile) {
    setWindowTitle(QString::fromLatin1(kTitle));
    setWindowIcon(ProgramIcon());
    setFixedSize(kWindowWidth, kWindowHeight);
    setMouseTracking(false);
    // The preview area is the capture window's; without one it shows the window colour.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(215, 246, 255));
    setPalette(palette);
    setAutoFillBackground(true);

    OpenHelpFile = [](const std::string& path) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(Q(path)));
    };
    TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    DialEntries = [] { return qv::dialup::PhonebookEntries(); };

    // The event list; it gives way to the caution pictures during an alarm.
    events_ = new QListWidget(this);
    events_->setObjectName(QStringLiteral("idc1026"));
    events_->setGeometry(kEventListRect);
    events_->setFrameShape(QFrame::NoFrame);
    events_->setFocusPolicy(Qt::NoFocus);
    events_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    events_->setStyleSheet(
        QStringLiteral("QListWidget { background: #121b25; color: #e2ecf4; }"
                       "QListWidget::item:selected { background: #2f6482; color: white; }"));
    // The scroll bar is always there, and the font small enough that a picture line keeps its
    // file name whole beside it.
    events_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    events_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    QFont listFont(QStringLiteral("IPAGothic"));
    const QString widest = QStringLiteral("12/31 23:59:59 動体検知保存 d2026123123595900.jpg");
    const int room = kEventListRect.width() - style()->pixelMetric(QStyle::PM_ScrollBarExtent) - 8;
    for (int px = 12; px >= 9; --px) {
        listFont.setPixelSize(px);
        if (QFontMetrics(listFont).horizontalAdvance(widest) <= room) break;
    }
    events_->setFont(listFont);
    connect(events_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { OpenEventPicture(events_->row(item)); });

    // The picture viewer, hidden until a line is double-clicked.
    viewer_ = new CPictureViewer(nullptr, DecodeWithCore);
    viewer_->setWindowIcon(windowIcon());

    engine_ = std::make_unique<qv::engine::MonitorEngine>(*this, core, sound, options);
    assetFolders_ = AssetFolders(options.ProgramFolder);

    // Skin, back buffer and font before the settings.
    std::string failed;
    if (!skin_.Load(assetFolders_, &failed)) {
        std::fprintf(stderr, "%s: cannot load %s\n", kTitle, failed.c_str());
        ShowMessage("データの読み込みに失敗しました。インストールしなおしてください");
        QTimer::singleShot(0, this, [this] { OnCommand(CmdExit); });
    }
    backBuffer_ = QImage(kWindowWidth, kWindowHeight, QImage::Format_RGB32);
    backBuffer_.fill(QColor(215, 246, 255));
    font_ = SkinFont(logicalDpiY());

    engine_->LoadSettings();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        const ::WindowPosition place =
            InitialWindowPosition(engine_->Settings()->Window, area.left(), area.top(),
                                  area.width(), area.height(), width(), height());
        move(place.Left, place.Top);
    }
    LoadCautionPictures();
    schedule_.Load(engine_->Settings()->Schedule);
    engine_->Start();
    UpdateTrayIcon(TrayAction::Update);
    tickTimer_ = startTimer(250);
    // Last: the exchange runs on a thread of its own, so the window does not wait for it.
    qv::news::StartNewsCheck(this);
}

CMonitorDlg::~CMonitorDlg() {
    if (tickTimer_) killTimer(tickTimer_);
    tickTimer_ = 0;
    delete tray_;
    tray_ = nullptr;
    delete viewer_;
    viewer_ = nullptr;
    delete tuning_;
    tuning_ = nullptr;
    delete history_;
    history_ = nullptr;
    engine_->Finish();
    // Nothing the engine posted runs on a window that is going away.
    handoff_.Close();
}

void CMonitorDlg::RequestExit() {
    engine_->RequestExit();
}

// ----------------------------------------------------------------- EngineHost

// Thread-safe.
void CMonitorDlg::Repaint(Area area) {
    handoff_.Post([this, area] { Refresh(area); });
}

// Thread-safe.
void CMonitorDlg::Post(std::function<void()> fn) {
    handoff_.Post(std::move(fn));
}

// Any thread. Shown on the window thread; the tray's balloon when no notification service runs.
void CMonitorDlg::Notify(const std::string& title, const std::string& body,
                         const std::string& picture, bool urgent, bool always) {
    handoff_.Post([this, title, body, picture, urgent, always] {
        if (!always && !inTray_ && !isMinimized()) return;
        if (qv::notify::Show(title, body, picture, urgent)) return;
        if (tray_)
            tray_->showMessage(QString::fromStdString(title), QString::fromStdString(body),
                               urgent ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information);
    });
}

// Window thread. The engine put one line on top (and may have dropped its oldest): the widget
// does the same, so the highlighted line and a scrolled view stay on their entries.
void CMonitorDlg::EventListChanged() {
    const auto& list = engine_->Events();
    if (list.Count() == 0) return;
    // At the top the newest line shows; further down the view stays on the lines it showed
    // (the list scrolls by whole lines).
    QScrollBar* bar = events_->verticalScrollBar();
    const int scrolled = bar->value();
    events_->insertItem(0, Q(list.Visible(0)));
    events_->item(0)->setToolTip(Q(list.Detail(0)));
    while (events_->count() > list.Count()) delete events_->takeItem(events_->count() - 1);
    if (scrolled > 0) {
        events_->doItemsLayout();
        bar->setValue(scrolled + 1);
    }
}

// Thread-safe.
void CMonitorDlg::SetEventListVisible(bool visible) {
    handoff_.Post([this, visible] {
        events_->setVisible(visible);
        update(kLogArea);
    });
}

void CMonitorDlg::ShowMessage(const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", kTitle, text.c_str());
    // Without a screen nobody could close the box.
    if (QGuiApplication::platformName() == QStringLiteral("offscreen")) return;
    QMessageBox box(QMessageBox::Information, QString::fromLatin1(kTitle), Q(text), QMessageBox::Ok,
                    this);
    box.exec();
}

void CMonitorDlg::WindowPosition(int32_t& left, int32_t& top) {
    const QPoint at = inTray_ ? remembered_ : pos();
    left = at.x();
    top = at.y();
}

void CMonitorDlg::EndMonitor() {
    ending_ = true;
    if (tickTimer_) killTimer(tickTimer_);
    tickTimer_ = 0;
    UpdateTrayIcon(TrayAction::Remove);
    viewer_->hide();
    if (tuning_) tuning_->hide();
    hide();
    QCoreApplication::exit(0);
}

// ----------------------------------------------------------------- painting

SkinState CMonitorDlg::CurrentSkinState() const {
    const auto& e = *engine_;
    const auto settings = e.Settings();
    const int mode = qv::engine::ClampMode(e.CurrentMode());
    const WarningSettings& w = settings->Warning[static_cast<std::size_t>(mode)];
    SkinState s;
    s.Active = isActiveWindow() && !e.DialogOpen();
    s.Running = e.Running();
    s.PreviewOn = e.PreviewOn();
    s.MailSwitch = e.MailSwitch();
    s.ModeSendMail = w.SendMail != 0;
    s.TimerEnable = w.TimerEnable != 0;
    s.CurrentMode = mode;
    s.Pressed = mouse_.Pressed();
    s.PressedInside = mouse_.PressedInside();
    s.CautionShown = e.CautionShown();
    s.AlarmTicks = e.AlarmTicks();
    s.Caution1 = &cautions_[static_cast<std::size_t>(mode)][0];
    s.Caution2 = &cautions_[static_cast<std::size_t>(mode)][1];
    s.DeviceName = settings->Basic.DeviceName;
    s.DeviceLine = e.DeviceLine();
    s.Level = e.LastLevelShown();
    s.Countdown = e.CountdownShown();
    s.DetectCount = e.DetectCount();
    s.WarningCount = e.WarningCount();
    return s;
}

void CMonitorDlg::DrawBackBuffer() {
    QPainter p(&backBuffer_);
    DrawWindow(p, skin_, CurrentSkinState(), font_);
}

void CMonitorDlg::paintEvent(QPaintEvent* e) {
    DrawBackBuffer();
    QPainter p(this);
    p.setClipRegion(e->region());
    // Seven copies; the preview area belongs to the capture window.
    for (const QRect& area : CopiedAreas()) p.drawImage(area, backBuffer_, area);
}

void CMonitorDlg::Refresh(Area area) {
    switch (area) {
        case Area::Whole:
            update();
            break;
        case Area::Switches:
            update(ButtonRect(BtnStartStop)
                       .united(ButtonRect(BtnPreview))
                       .united(ButtonRect(BtnMail)));
            break;
        case Area::Modes:
            update(ButtonRect(BtnMode1).united(ButtonRect(BtnMode3)));
            break;
        case Area::Level:
            update(TextLines({})[LineLevel].Rect);
            break;
        case Area::Countdown:
            update(TextLines({})[LineCountdown].Rect);
            break;
        case Area::DetectCounter:
            update(TextLines({})[LineDetectCount].Rect);
            break;
        case Area::WarningCounter:
            update(TextLines({})[LineWarningCount].Rect);
            break;
        case Area::DeviceLine:
            update(TextLines({})[LineDevice].Rect.united(TextLines({})[LineFormat].Rect));
            break;
        case Area::Caution:
            update(kLogArea);
            break;
        case Area::TrayTip:
            UpdateTrayIcon(TrayAction::Update);
            break;
    }
}

void CMonitorDlg::LoadCautionPictures() {
    const auto settings = engine_->Settings();
    for (int m = 0; m < kOperatingModes; ++m) {
        const WarningSettings& w = settings->Warning[static_cast<std::size_t>(m)];
        auto& pictures = cautions_[static_cast<std::size_t>(m)];
        pictures[0] = QImage();
        pictures[1] = QImage();
        pictures[0] = LoadCautionPicture(assetFolders_, w.SecurityPicName1, 1);
        pictures[1] = LoadCautionPicture(assetFolders_, w.SecurityPicName2, 2);
    }
}

// ----------------------------------------------------------------- Qt events

bool CMonitorDlg::event(QEvent* e) {
    if (e->type() == static_cast<QEvent::Type>(QV_FRAME_NOTIFY_EVENT)) {
        update(kPreviewRect);
        return true;
    }
    return QDialog::event(e);
}

void CMonitorDlg::timerEvent(QTimerEvent* e) {
    if (e->timerId() == tickTimer_) {
        engine_->Tick();
        ApplySchedule();
        return;
    }
    QDialog::timerEvent(e);
}

void CMonitorDlg::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (firstShown_) return;
    firstShown_ = true;
    resize(kWindowWidth, kWindowHeight);
    events_->setGeometry(kEventListRect);
    if (engine_->OnFirstShow()) QTimer::singleShot(0, this, [this] { OnCommand(CmdToTray); });
}

void CMonitorDlg::closeEvent(QCloseEvent* e) {
    // Only the exit command ends the program.
    if (!ending_) e->ignore();
}

void CMonitorDlg::changeEvent(QEvent* e) {
    QDialog::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && firstShown_) update();
}

void CMonitorDlg::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || engine_->DialogOpen()) {
        QDialog::mousePressEvent(e);
        return;
    }
    engine_->Acknowledge();
    const int pressed = mouse_.Press(e->position().toPoint(), e->globalPosition().toPoint(), pos());
    if (pressed >= 0) repaint(ButtonRect(pressed));
}

void CMonitorDlg::mouseMoveEvent(QMouseEvent* e) {
    if (engine_->DialogOpen()) return;
    QPoint to;
    if (mouse_.Current() == SkinMouse::Kind::Drag) {
        mouse_.Move(e->position().toPoint(), e->globalPosition().toPoint(), &to);
        QRect work = screen() ? screen()->availableGeometry() : QRect();
        QRect moved(to, size());
        if (!work.isEmpty()) moved = SnapToWorkArea(moved, work);
        move(moved.topLeft());
    } else if (mouse_.Current() == SkinMouse::Kind::Button) {
        const int pressed = mouse_.Pressed();
        if (mouse_.Move(e->position().toPoint(), e->globalPosition().toPoint(), nullptr)) {
            repaint(ButtonRect(pressed));
        }
    }
}

void CMonitorDlg::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || engine_->DialogOpen()) return;
    if (mouse_.Current() == SkinMouse::Kind::Drag) {
        mouse_.Release(e->position().toPoint());
        return;
    }
    if (mouse_.Current() != SkinMouse::Kind::Button) return;
    const int button = mouse_.Release(e->position().toPoint());
    // Switches act at once; dialogs, the tray and exit after the button shows released.
    const bool isSwitch =
        button == BtnStartStop || button == BtnPreview || button == BtnMail || button >= BtnMode1;
    if (isSwitch) RunButton(button);
    repaint();
    if (button >= 0 && !isSwitch) RunButton(button);
}

void CMonitorDlg::RunButton(int index) {
    switch (index) {
        case BtnStartStop:
            engine_->StartStop();
            break;
        case BtnPreview:
            engine_->TogglePreview();
            break;
        case BtnMail:
            // A mode that sends no mail keeps its switch off.
            if (CurrentSkinState().ModeSendMail) engine_->ToggleMailSwitch();
            break;
        case BtnBasicSettings:
            OnCommand(CmdBasicSettings);
            break;
        case BtnWarningSettings:
            OnCommand(CmdWarningSettings);
            break;
        case BtnToTray:
            OnCommand(CmdToTray);
            break;
        case BtnExit:
            OnCommand(CmdExit);
            break;
        case BtnMode1:
        case BtnMode2:
        case BtnMode3:
            engine_->SelectMode(index - BtnMode1);
            break;
        default:
            break;
    }
}

void CMonitorDlg::contextMenuEvent(QContextMenuEvent* e) {
    if (engine_->DialogOpen()) return;
    const QPoint at =
        e->reason() == QContextMenuEvent::Keyboard ? mapToGlobal(QPoint(5, 5)) : e->globalPos();
    std::unique_ptr<QMenu> menu(BuildMenu(kWindowMenu));
    if (QAction* chosen = menu->exec(at)) OnCommand(chosen->data().toInt());
}

QMenu* CMonitorDlg::BuildMenu(int id) {
    auto* menu = new QMenu;
    if (id == kTrayMenu) {
        BuildTrayMenu(*menu);
    } else {
        BuildContextMenu(*menu);
    }
    return menu;
}

// ----------------------------------------------------------------- commands

void CMonitorDlg::OnCommand(int command) {
    switch (command) {
        case CmdStartStop:
            engine_->StartStop();
            break;
        case CmdMode1:
            engine_->SelectMode(0);
            break;
        case CmdMode2:
            engine_->SelectMode(1);
            break;
        case CmdMode3:
            engine_->SelectMode(2);
            break;
        case CmdBasicSettings:
            BasicSettingsDialog();
            break;
        case CmdWarningSettings:
            WarningSettingsDialog();
            break;
        case CmdToTray:
            ToTray();
            break;
        case CmdRestore:
            Restore();
            break;
        case CmdExit:
            engine_->RequestExit();
            break;
        case CmdHelp:
            OpenHelp();
            break;
        case CmdHistory:
            OpenHistory();
            break;
        case CmdShowViewer:
            OpenEventPicture(events_->currentRow());
            break;
        case CmdTuning:
            OpenTuning();
            break;
        default:
            break;
    }
}

// Not a settings dialog: monitoring goes on while it is open, that is what it shows.
void CMonitorDlg::OpenTuning() {
    if (!tuning_) {
        tuning_ = new qv::window::TuningWindow(*engine_);
        tuning_->setWindowIcon(windowIcon());
    }
    tuning_->show();
    tuning_->raise();
    tuning_->activateWindow();
}

void CMonitorDlg::OpenHelp() {
    const std::string path = FindAsset(assetFolders_, "help/help.html");
    if (path.empty()) {
        ShowMessage("ヘルプのページが見つかりませんでした。インストールしなおしてください");
    } else if (!OpenHelpFile || !OpenHelpFile(path)) {
        // No browser registered for HTML files: the user can still open the page by hand.
        ShowMessage(
            "ヘルプを表示するブラウザが見つかりませんでした。ヘルプのページは次の場所に"
            "あります：\n" +
            path);
    }
}

void CMonitorDlg::OpenEventPicture(int row) {
    if (row < 0) return;
    const std::string path = engine_->EventPicturePath(row);
    if (!path.empty()) viewer_->LoadPicture(path);
}

void CMonitorDlg::ToTray() {
    if (inTray_) return;
    remembered_ = pos();
    if (!TrayAvailable || !TrayAvailable()) {
        // No notification area to come back from: a minimised window stays in the taskbar.
        showMinimized();
        return;
    }
    UpdateTrayIcon(TrayAction::Add);
    UpdateTrayIcon(TrayAction::Update);
    engine_->EnterTray();
    inTray_ = true;
    hide();
}

void CMonitorDlg::Restore() {
    if (!inTray_) {
        if (isMinimized()) showNormal();
        raise();
        activateWindow();
        return;
    }
    UpdateTrayIcon(TrayAction::Remove);
    engine_->LeaveTray();
    inTray_ = false;
    move(remembered_);
    show();
    update();
    raise();
    activateWindow();
}

void CMonitorDlg::UpdateTrayIcon(TrayAction action) {
    if (action == TrayAction::Add) {
        if (tray_) return;
        tray_ = new QSystemTrayIcon(this);
        trayMenu_ = BuildMenu(kTrayMenu);
        trayMenu_->setParent(this, trayMenu_->windowFlags());
        connect(trayMenu_, &QMenu::triggered, this,
                [this](QAction* action) { OnCommand(action->data().toInt()); });
        tray_->setContextMenu(trayMenu_);
        connect(
            tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger) {
                    OnCommand(CmdRestore);
                }
            });
        return;
    }
    if (action == TrayAction::Remove) {
        // Restore may come from the icon's own signals: let them return first.
        if (tray_) {
            tray_->hide();
            tray_->deleteLater();
        }
        tray_ = nullptr;
        if (trayMenu_) trayMenu_->deleteLater();
        trayMenu_ = nullptr;
        return;
    }
    unsigned long level = 0;
    core_.GetState(state::MotionLevel, level);
    trayTip_ = TrayTooltip(engine_->Running(), engine_->CurrentMode(), level);
    if (schedule_.Active()) {
        const std::string next = schedule_.NextChangeLine(Clock());
        if (!next.empty()) trayTip_ += "\n" + next;
    }
    if (tray_) {
        tray_->setToolTip(Q(trayTip_));
        if (tray_->icon().isNull()) tray_->setIcon(windowIcon());
        tray_->show();
    }
}

void CMonitorDlg::OpenHistory() {
    // The picture folders as the settings name them now.
    qv::history::Folders folders{engine_->ProgramFolder() + "log", engine_->PictureFolder(0),
                                 engine_->PictureFolder(1)};
    if (!history_) {
        history_ = new CHistoryWindow(std::move(folders));
        history_->setWindowIcon(windowIcon());
    } else {
        history_->SetFolders(std::move(folders));  // and pictures saved since it was last open
    }
    history_->show();
    history_->raise();
    history_->activateWindow();
}

// A schedule boundary switches through the window's own switches, so it acts exactly like a
// click; between boundaries a click holds.
void CMonitorDlg::ApplySchedule() {
    // A boundary passed meanwhile is seen once the dialog closes.
    if (ending_ || engine_->DialogOpen()) return;
    const auto next =
        schedule_.Tick(Clock(), qv::schedule::State{engine_->Running(), engine_->CurrentMode()});
    if (!next) return;
    if (next->Mode != engine_->CurrentMode()) engine_->SelectMode(next->Mode);
    if (next->Monitoring != engine_->Running()) engine_->StartStop();
    UpdateTrayIcon(TrayAction::Update);
}

// ----------------------------------------------------------------- settings dialogs

qv::dialogs::DeviceHooks CMonitorDlg::MakeDeviceHooks(BasicSettings& edited) {
    qv::dialogs::DeviceHooks hooks;
    hooks.DeviceNames = [this] {
        std::vector<std::string> names;
        const int count = core_.GetDeviceCount();
        for (int i = 0; i < count; ++i) {
            std::string name;
            core_.GetDeviceName(i, name);
            names.push_back(name);
        }
        return names;
    };
    hooks.RestartDevice = [this, &edited](const std::string& name) {
        return engine_->RestartDevice(name, edited);
    };
    hooks.DialogCaps = [this] {
        unsigned long caps = 0;
        core_.GetState(state::DialogCaps, caps);
        return caps;
    };
    hooks.OpenDriverDialog = [this](unsigned long dialog) { core_.OpenDriverDialog(dialog); };
    hooks.SetPreviewRate = [this](int fps) { core_.SetPreviewRate(fps); };
    hooks.StreamSourcesFile = settingsFile_;
    hooks.StreamSourcesChanged = [this, &edited](const std::vector<StreamSource>& sources,
                                                 const std::string& reopen) {
        StreamSourcesChanged(sources, reopen, edited);
    };
    return hooks;
}

void CMonitorDlg::StreamSourcesChanged(const std::vector<StreamSource>& sources,
                                       const std::string& reopen, BasicSettings& edited) {
    core_.SetStreamSources(sources);
    // The core library lists its devices once per start-up: start it again and bring the
    // open device back (the first one when it is gone).
    core_.Cleanup();
    core_.Startup();
    if (core_.GetDeviceCount() <= 0) return;
    std::string opened;
    if (engine_->RestartDevice(reopen, edited, &opened)) edited.DeviceName = opened;
}

void CMonitorDlg::BasicSettingsDialog() {
    engine_->BeginSettingsDialog();
    update();
    BasicSettings edited = engine_->Settings()->Basic;
    // The long-run records are read from the file: the dialog is where they change.
    qv::dialogs::LongRunSettings longRun;
    LoadRetentionSettings(settingsFile_, longRun.Retention);
    LoadScheduleSettings(settingsFile_, longRun.Schedule);
    LoadHookSettings(settingsFile_, longRun.Hooks);
    LoadWebSettings(settingsFile_, longRun.Web);
    qv::dialogs::WebInfo web;
    web.Fingerprint = qv::web::CertificateFingerprint(engine_->ProgramFolder());
    web.Addresses = qv::web::WebAddresses(longRun.Web);
    web.HashPassword = [](const std::string& password) { return qv::web::HashPassword(password); };
    bool longRunApplied = false;
    {
        qv::dialogs::CBasicSetSheet sheet(this, edited, MakeDeviceHooks(edited),
                                          DialEntries ? DialEntries() : std::vector<std::string>{},
                                          &longRun, std::move(web));
        RunDialog(sheet);
        longRunApplied = sheet.LongRunApplied();
    }
    // The copy goes back whichever button closed the sheet; the long-run pages only after OK
    // or Apply.
    if (longRunApplied) {
        // The engine saves and applies the clean-up limits and the hooks at once.
        engine_->EndLivingSettings(longRun.Retention, longRun.Hooks);
        SaveScheduleSettings(settingsFile_, longRun.Schedule);
        SaveWebSettings(settingsFile_, longRun.Web);
        schedule_.Load(longRun.Schedule);
    }
    engine_->EndBasicSettings(edited);
    UpdateTrayIcon(TrayAction::Update);
    update();
}

void CMonitorDlg::WarningSettingsDialog() {
    engine_->BeginSettingsDialog();
    update();
    const auto settings = engine_->Settings();
    qv::dialogs::WarningDialogData data{settings->Mail, settings->Pict, settings->Warning};
    qv::dialogs::CWarningSetDlg dialog(this, data, engine_->CurrentMode(), engine_->ProgramFolder(),
                                       [this] { OpenHelp(); });
    // Worker thread of the dialog: its own mail session, nothing shared.
    dialog.SetTestSend([](const MailSettings& mail, std::function<bool()> stop) {
        TestMailOptions options;
        options.StopRequested = std::move(stop);
        const TestMailResult result = SendTestMail(mail, options);
        return qv::dialogs::TestSendOutcome{result.Sent, result.Text};
    });
    const bool accepted = RunDialog(dialog) == QDialog::Accepted;
    const auto& result = dialog.Result();
    engine_->EndWarningSettings(accepted, result.Mail, result.Pict, result.Warning);
    if (accepted) LoadCautionPictures();
    update();
}
