// The main window: a frameless 650 x 510 window drawn from the skin bitmaps through a back
// buffer, with the ten skin buttons, dragging with snapping, the six text lines, the caution
// pictures, the menus, the tray icon and the settings dialogs. It owns the monitoring engine
// and carries out what the engine asks of its window (EngineHost); the monitoring logic stays
// in the engine. Window thread, except where a function says otherwise.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPointer>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/dialogs/SettingsDialogs.h"
#include "app/engine/Engine.h"
#include "app/window/Skin.h"
#include "app/window/WindowSchedule.h"
#include "platform/thread/Handoff.h"

class QListWidget;
class QMenu;
class QSystemTrayIcon;

namespace qv::window {
class CHistoryWindow;
class CPictureViewer;
class TuningWindow;
}  // namespace qv::window

class CMonitorDlg : public QDialog, public qv::engine::EngineHost {
    Q_OBJECT
  public:
    CMonitorDlg(qv::engine::CoreApi& core, qv::sound::SoundPlayer& sound,
                qv::engine::EngineOptions options);
    ~CMonitorDlg() override;

    // The exit command (also SIGINT and SIGTERM).
    void RequestExit();
    qv::engine::MonitorEngine& Engine() { return *engine_; }

    // Runs a menu command (the ids of Command).
    void OnCommand(int command);

    // Seams for the tests: how modal dialogs run, how the help and the dial-up phonebook are
    // reached, whether a system tray exists.
    std::function<int(QDialog&)> RunDialog = [](QDialog& d) { return d.exec(); };
    std::function<bool(const std::string& path)> OpenHelpFile;  // false: nothing opened it
    std::function<std::vector<std::string>()> DialEntries;
    std::function<bool()> TrayAvailable;
    // The wall clock the schedule is read against.
    std::function<std::time_t()> Clock = [] { return std::time(nullptr); };
    // What the core library's device list and driver dialogs are reached through.
    qv::dialogs::DeviceHooks MakeDeviceHooks(BasicSettings& edited);

    // State for tests and the tray.
    bool InTray() const { return inTray_; }
    const std::string& TrayTip() const { return trayTip_; }
    QSystemTrayIcon* TrayIcon() const { return tray_; }
    QListWidget* EventListWidget() const { return events_; }
    qv::window::CPictureViewer* Viewer() const { return viewer_; }
    qv::window::TuningWindow* Tuning() const { return tuning_; }  // null until first opened
    qv::window::CHistoryWindow* History() const { return history_; }
    const QImage& BackBuffer() const { return backBuffer_; }
    QMenu* BuildMenu(int id);  // a MenuId; the caller owns it

    // EngineHost.
    void Repaint(qv::engine::Area area) override;
    void Post(std::function<void()> fn) override;
    void EventListChanged() override;
    void SetEventListVisible(bool visible) override;
    void ShowMessage(const std::string& text) override;
    void WindowPosition(int32_t& left, int32_t& top) override;
    void EndMonitor() override;
    void* CaptureWindow() override { return static_cast<QWidget*>(this); }
    void Notify(const std::string& title, const std::string& body, const std::string& picture,
                bool urgent, bool always) override;

  public slots:
    void accept() override {}  // Enter does nothing
    void reject() override {}  // nor does Escape

  protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void timerEvent(QTimerEvent* e) override;

  private:
    void Refresh(qv::engine::Area area);
    qv::window::SkinState CurrentSkinState() const;
    void DrawBackBuffer();
    void LoadCautionPictures();
    enum class TrayAction { Add, Update, Remove };  // Update: tooltip and icon shown
    void UpdateTrayIcon(TrayAction action);
    void ToTray();
    void Restore();
    void OpenHelp();
    void BasicSettingsDialog();
    void WarningSettingsDialog();
    void OpenEventPicture(int row);
    void OpenTuning();
    void OpenHistory();
    void RunButton(int index);
    void ApplySchedule();
    void StreamSourcesChanged(const std::vector<StreamSource>& sources, const std::string& reopen,
                              BasicSettings& edited);

    qv::thread::Handoff handoff_;  // before the engine, which posts through it
    std::unique_ptr<qv::engine::MonitorEngine> engine_;
    qv::engine::CoreApi& core_;
    std::string settingsFile_;
    std::vector<std::string> assetFolders_;
    qv::window::Skin skin_;
    QFont font_;
    QImage backBuffer_;
    std::array<std::array<QImage, 2>, kOperatingModes> cautions_;
    qv::window::SkinMouse mouse_;
    QListWidget* events_ = nullptr;
    qv::window::CPictureViewer* viewer_ = nullptr;
    qv::window::TuningWindow* tuning_ = nullptr;
    qv::window::CHistoryWindow* history_ = nullptr;  // made when first opened
    QSystemTrayIcon* tray_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    std::string trayTip_;
    qv::window::WindowSchedule schedule_;
    int tickTimer_ = 0;
    bool firstShown_ = false;
    bool ending_ = false;
    bool inTray_ = false;
    QPoint remembered_;
};
