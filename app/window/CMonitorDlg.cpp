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
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <cstdio>

#include "QuorCore.h"
#include "app/dialogs/DialogWidgets.h"
#include "app/window/Menus.h"
#include "app/window/PictureViewer.h"
#if QUORVEX_WITH_DIALUP
#include "platform/dialup/DialUp.h"
#endif
#if QUORVEX_WITH_NEWS
#include "app/news/News.h"
#endif
#if QUORVEX_WITH_TEST_MAIL
#include "app/mail/TestMail.h"
#endif

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
        QDesktopServices::openUrl(QUrl::fromLocalFile(Q(path)));
    };
    TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
#if QUORVEX_WITH_DIALUP
    DialEntries = [] { return qv::dialup::PhonebookEntries(); };
#endif

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
    QFont listFont(QStringLiteral("IPAGothic"));
    listFont.setPixelSize(12);
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
    engine_->Start();
    UpdateTrayIcon(1);
    tickTimer_ = startTimer(250);
#if QUORVEX_WITH_NEWS
    // Last: the exchange runs on a thread of its own, so the window does not wait for it.
    qv::news::StartNewsCheck(this);
#endif
}

CMonitorDlg::~CMonitorDlg() {
    if (tickTimer_) killTimer(tickTimer_);
    tickTimer_ = 0;
    delete tray_;
    tray_ = nullptr;
    delete viewer_;
    viewer_ = nullptr;
    engine_->Finish();
}

void CMonitorDlg::RequestExit() {
    engine_->RequestExit();
}

// ----------------------------------------------------------------- EngineHost

// Any thread.
void CMonitorDlg::Repaint(Area area) {
    QMetaObject::invokeMethod(
        this, [this, area] { Refresh(area); }, Qt::QueuedConnection);
}

// Any thread.
void CMonitorDlg::Post(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void CMonitorDlg::EventListChanged() {
    const auto& list = engine_->Events();
    const int current = events_->currentRow();
    events_->clear();
    for (int i = 0; i < list.Count(); ++i) {
        events_->addItem(Q(list.Visible(i)));
        events_->item(i)->setToolTip(Q(list.Detail(i)));
    }
    if (current >= 0 && current < events_->count()) events_->setCurrentRow(current);
}

// Any thread.
void CMonitorDlg::SetEventListVisible(bool visible) {
    QMetaObject::invokeMethod(
        this,
        [this, visible] {
            events_->setVisible(visible);
            update(kLogArea);
        },
        Qt::QueuedConnection);
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
    UpdateTrayIcon(2);
    viewer_->hide();
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
            update(ButtonRect(0).united(ButtonRect(1)).united(ButtonRect(2)));
            break;
        case Area::Modes:
            update(ButtonRect(7).united(ButtonRect(9)));
            break;
        case Area::Level:
            update(TextLines({})[2].Rect);
            break;
        case Area::Countdown:
            update(TextLines({})[3].Rect);
            break;
        case Area::DetectCounter:
            update(TextLines({})[4].Rect);
            break;
        case Area::WarningCounter:
            update(TextLines({})[5].Rect);
            break;
        case Area::DeviceLine:
            update(TextLines({})[0].Rect.united(TextLines({})[1].Rect));
            break;
        case Area::Caution:
            update(kLogArea);
            break;
        case Area::TrayTip:
            UpdateTrayIcon(1);
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
        engine_->OnFrameNotify();
        update(kPreviewRect);
        return true;
    }
    return QDialog::event(e);
}

void CMonitorDlg::timerEvent(QTimerEvent* e) {
    if (e->timerId() == tickTimer_) {
        engine_->Tick();
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
    if (button == 0 || button == 1 || button == 2 || button >= 7) RunButton(button);
    repaint();
    if (button >= 3 && button <= 6) RunButton(button);
}

void CMonitorDlg::RunButton(int index) {
    switch (index) {
        case 0:
            engine_->StartStop();
            break;
        case 1:
            engine_->TogglePreview();
            break;
        case 2:
            // A mode that sends no mail keeps its switch off.
            if (CurrentSkinState().ModeSendMail) engine_->ToggleMailSwitch();
            break;
        case 3:
            OnCommand(CmdBasicSettings);
            break;
        case 4:
            OnCommand(CmdWarningSettings);
            break;
        case 5:
            OnCommand(CmdToTray);
            break;
        case 6:
            OnCommand(CmdExit);
            break;
        case 7:
        case 8:
        case 9:
            engine_->SelectMode(index - 7);
            break;
        default:
            break;
    }
}

void CMonitorDlg::contextMenuEvent(QContextMenuEvent* e) {
    if (engine_->DialogOpen()) return;
    const QPoint at =
        e->reason() == QContextMenuEvent::Keyboard ? mapToGlobal(QPoint(5, 5)) : e->globalPos();
    std::unique_ptr<QMenu> menu(BuildMenu(105));
    if (QAction* chosen = menu->exec(at)) OnCommand(chosen->data().toInt());
}

QMenu* CMonitorDlg::BuildMenu(int id) {
    auto* menu = new QMenu;
    if (id == 104) {
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
        case CmdShowViewer:
            OpenEventPicture(events_->currentRow());
            break;
        default:
            break;
    }
}

void CMonitorDlg::OpenHelp() {
    const std::string path = FindAsset(assetFolders_, "help/help.html");
    if (!path.empty() && OpenHelpFile) OpenHelpFile(path);
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
    UpdateTrayIcon(0);
    UpdateTrayIcon(1);
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
    UpdateTrayIcon(2);
    engine_->LeaveTray();
    inTray_ = false;
    move(remembered_);
    show();
    update();
    raise();
    activateWindow();
}

void CMonitorDlg::UpdateTrayIcon(int action) {
    if (action == 0) {
        if (tray_) return;
        tray_ = new QSystemTrayIcon(this);
        trayMenu_ = BuildMenu(104);
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
    if (action == 2) {
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
    if (tray_) {
        tray_->setToolTip(Q(trayTip_));
        if (tray_->icon().isNull()) tray_->setIcon(windowIcon());
        tray_->show();
    }
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
        return RestartDevice(name, edited);
    };
    hooks.DialogCaps = [this] {
        unsigned long caps = 0;
        core_.GetState(QV_DS_DIALOG_CAPS, caps);
        return caps;
    };
    hooks.OpenDriverDialog = [](unsigned long dialog) { QvOpenDialog(dialog); };
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
    std::vector<const char*> names, urls;
    for (const StreamSource& s : sources) {
        names.push_back(s.Name.c_str());
        urls.push_back(s.Url.c_str());
    }
    QvSetStreamSources(names.data(), urls.data(), static_cast<int>(sources.size()));
    // The core library lists its devices once per start-up: start it again and bring the
    // open device back (the first one when it is gone).
    core_.Cleanup();
    core_.Startup();
    const int count = core_.GetDeviceCount();
    if (count <= 0) return;
    std::string name = reopen;
    bool found = false;
    for (int i = 0; i < count && !found; ++i) {
        std::string n;
        found = core_.GetDeviceName(i, n) && n == name;
    }
    if (!found) core_.GetDeviceName(0, name);
    if (RestartDevice(name, edited)) edited.DeviceName = name;
}

bool CMonitorDlg::RestartDevice(const std::string& name, const BasicSettings& edited) {
    int index = 0;
    const int count = core_.GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        std::string n;
        if (core_.GetDeviceName(i, n) && n == name) {
            index = i;
            break;
        }
    }
    QvCleanupDevice();
    if (!core_.StartupDevice(CaptureWindow(), index)) return false;
    const bool previewOn = engine_->PreviewOn();
    core_.SetState(state::WindowX, 325);
    core_.SetState(state::WindowY, 25);
    core_.SetState(state::WindowWidth, previewOn ? 320 : 1);
    core_.SetState(state::WindowHeight, previewOn ? 240 : 1);
    unsigned long display = 0;
    if (core_.GetState(state::DisplayCaps, display) && (display & 6) != 0) {
        core_.SetState(state::DisplayMode,
                       (display & 4) != 0 ? state::DisplayOverlay : state::DisplayPreview);
    }
    core_.SetState(state::MotionMode,
                   edited.DetectPreview ? state::MotionShow : state::MotionMeasure);
    core_.SetPreviewRate(qv::dialogs::PreviewRateFps(edited.PreviewRate));
    return true;
}

void CMonitorDlg::BasicSettingsDialog() {
    engine_->BeginSettingsDialog();
    update();
    BasicSettings edited = engine_->Settings()->Basic;
    {
        qv::dialogs::CBasicSetSheet sheet(this, edited, MakeDeviceHooks(edited),
                                          DialEntries ? DialEntries() : std::vector<std::string>{});
        RunDialog(sheet);
    }
    // The copy goes back whichever button closed the sheet.
    engine_->EndBasicSettings(edited);
    update();
}

void CMonitorDlg::WarningSettingsDialog() {
    engine_->BeginSettingsDialog();
    update();
    const auto settings = engine_->Settings();
    qv::dialogs::WarningDialogData data{settings->Mail, settings->Pict, settings->Warning};
    qv::dialogs::CWarningSetDlg dialog(this, data, engine_->CurrentMode(), engine_->ProgramFolder(),
                                       [this] { OpenHelp(); });
#if QUORVEX_WITH_TEST_MAIL
    // Worker thread of the dialog: its own mail session, nothing shared.
    dialog.SetTestSend([](const MailSettings& mail, std::function<bool()> stop) {
        TestMailOptions options;
        options.StopRequested = std::move(stop);
        const TestMailResult result = SendTestMail(mail, options);
        return qv::dialogs::TestSendOutcome{result.Sent, result.Text};
    });
#endif
    const bool accepted = RunDialog(dialog) == QDialog::Accepted;
    const auto& result = dialog.Result();
    engine_->EndWarningSettings(accepted, result.Mail, result.Pict, result.Warning);
    if (accepted) LoadCautionPictures();
    update();
}
