// The dialog classes behind SettingsDialogs.h. Each control carries the object name "idc" plus
// its control id ("idc1064", ControlIds.h), which is how the window code and the tests find them.
#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QWidget>
#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/dialogs/ControlIds.h"
#include "app/dialogs/SettingsDialogs.h"
#include "platform/thread/Handoff.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QSpinBox;
class QTimer;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabBar;
class QTabWidget;
class QTimeEdit;

namespace qv::dialogs {

class SpinEdit;

inline QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
inline std::string S(const QString& s) {
    return s.toStdString();
}

inline QString ControlName(ControlId id) {
    return QStringLiteral("idc%1").arg(static_cast<int>(id));
}

// Gives a control its "idc<id>" name and, when there is one, its tooltip.
template <typename W>
W* Named(W* w, ControlId id, const char* tip = nullptr) {
    w->setObjectName(ControlName(id));
    if (tip) w->setToolTip(QString::fromUtf8(tip));
    return w;
}

// Sets a slider's or spin box's range to what the settings schema offers for member.
template <typename W, class R>
W* WithRange(W* w, int32_t R::*member) {
    const SettingKey& k = KeyOf(member);
    w->setRange(k.Min, k.Max);
    return w;
}

// OK / Cancel, connected to the dialog's accept and reject.
QDialogButtonBox* Buttons(QDialog* dialog);
// One more button in the row (Default, Help, Apply).
QPushButton* AddButton(QDialogButtonBox* buttons, const char* text,
                       QDialogButtonBox::ButtonRole role, ControlId id);

// The control with object name "idc<id>" below root, or nullptr.
template <typename T>
T* Control(const QObject* root, ControlId id) {
    return root->findChild<T*>(ControlName(id));
}

// A stream camera's name and URL (or only its name, for a rename). OK keeps the dialog open
// and shows why while check refuses the source.
class CStreamSourceDlg : public QDialog {
    Q_OBJECT
  public:
    CStreamSourceDlg(QWidget* parent, const StreamSource& source, bool editUrl,
                     std::function<StreamSourceProblem(const StreamSource&)> check);
    void accept() override;
    const StreamSource& Result() const { return source_; }

  private:
    StreamSource source_;
    std::function<StreamSourceProblem(const StreamSource&)> check_;
    QLineEdit* name_;
    QLineEdit* url_ = nullptr;
};

// "デバイス選択": the core library's devices with a name; OK returns the chosen one. With a
// settings file in the hooks it also adds, renames and removes the stream cameras; every
// change is saved at once and the device list is read again.
class CDeviceSelectDlg : public QDialog {
    Q_OBJECT
  public:
    CDeviceSelectDlg(QWidget* parent, const DeviceHooks& hooks, const std::string& current);
    std::string SelectedName() const;
    const std::vector<StreamSource>& Sources() const { return sources_; }
    // キャンセル and the close box: the stream cameras as they were when the dialog opened,
    // saved again, and the device that was open then opened again.
    void reject() override;

  private:
    void FillDevices(const std::string& select);
    void FillSources();
    void AddSource();
    void RenameSource();
    void RemoveSource();
    bool Commit(const std::vector<StreamSource>& sources, const std::string& select,
                const std::string& reopen);
    StreamSourceProblem CheckSource(const StreamSource& source, int skip) const;

    DeviceHooks hooks_;
    std::vector<StreamSource> sources_;
    std::vector<StreamSource> openedWith_;  // sources_ when the dialog opened
    std::string open_;                      // the device the window has open
    std::string openedOn_;                  // open_ when the dialog opened
    QComboBox* list_;
    QListWidget* streams_ = nullptr;
    QPushButton* rename_ = nullptr;
    QPushButton* remove_ = nullptr;
};

// The page "基本設定" of the basic settings sheet.
class CBasicSetPropertyPage : public QWidget {
    Q_OBJECT
  public:
    CBasicSetPropertyPage(QWidget* parent, BasicSettings& settings, const DeviceHooks& hooks,
                          const std::vector<std::string>& dialEntries);
    // Apply / OK: the two paths and the selected dial-up entry into the copy.
    void OnApply();
    bool Modified() const { return modified_; }

  private:
    void ShowValues();
    void OnDefault();
    void OnSelectDevice();
    void BrowseFolder(QLineEdit* edit);
    void UpdateDriverButtons();
    void MarkModified();

    BasicSettings& settings_;
    DeviceHooks hooks_;
    std::vector<std::string> dialEntries_;
    bool initialised_ = false;
    bool modified_ = false;

    QPushButton* sourceButton_;
    QPushButton* formatButton_;
    QCheckBox* detectPreview_;
    QComboBox* rate_;
    QLineEdit* detectPath_;
    QLineEdit* timerPath_;
    QSlider* quality_;
    QLabel* qualityLabel_;
    QRadioButton* lan_;
    QRadioButton* dialUp_;
    QComboBox* dialList_;
    QCheckBox* wakeUpStart_;
    QCheckBox* wakeUpIcon_;
};

// One row of the schedule page: a rule edited with checkboxes, two times and an action.
struct ScheduleRow {
    QCheckBox* Use;
    std::array<QCheckBox*, 7> Days;  // Monday .. Sunday
    QTimeEdit* Start;
    QTimeEdit* End;
    QComboBox* Action;   // モード１..モード３, 停止
    std::string Stored;  // the text as it was read: kept while the row is not touched
    bool Touched = false;
};

// The pages "スケジュール" and "保存・通知・Web" of the basic settings sheet (schedule row r's
// controls: ScheduleControl).
class CLongRunPages {
  public:
    CLongRunPages(QWidget* parent, const LongRunSettings& settings, WebInfo web);
    QWidget* SchedulePage() const { return schedule_; }
    QWidget* StoragePage() const { return storage_; }
    // The controls' values over settings (the password only when one was typed).
    void Commit(LongRunSettings& settings) const;

  private:
    QWidget* BuildSchedule(QWidget* parent, const ScheduleSettings& s);
    QWidget* BuildStorage(QWidget* parent, const LongRunSettings& s);

    WebInfo web_;
    QWidget* schedule_ = nullptr;
    QWidget* storage_ = nullptr;
    QCheckBox* scheduleEnable_ = nullptr;
    std::array<ScheduleRow, kScheduleRules> rows_{};
    std::array<SpinEdit*, 4> retention_{};
    QLineEdit* command_ = nullptr;
    QLineEdit* commandEvents_ = nullptr;
    QLineEdit* webhookUrl_ = nullptr;
    QCheckBox* webhookPicture_ = nullptr;
    QLineEdit* pushUrl_ = nullptr;
    QLineEdit* pushToken_ = nullptr;
    SpinEdit* cameraLostSeconds_ = nullptr;
    QCheckBox* cameraLostMail_ = nullptr;
    QCheckBox* webEnable_ = nullptr;
    SpinEdit* webPort_ = nullptr;
    QCheckBox* webTls_ = nullptr;
    QLineEdit* webPassword_ = nullptr;
};

// The sheet "基本設定": the settings page and a version page, OK / Cancel / Apply; with
// longRun also the schedule and storage pages, whose values go into *longRun on OK and Apply
// only (LongRunApplied() then says so).
class CBasicSetSheet : public QDialog {
    Q_OBJECT
  public:
    CBasicSetSheet(QWidget* parent, BasicSettings& settings, const DeviceHooks& hooks,
                   const std::vector<std::string>& dialEntries, LongRunSettings* longRun = nullptr,
                   WebInfo web = {});
    ~CBasicSetSheet() override;
    CBasicSetPropertyPage* Page() const { return page_; }
    void accept() override;
    bool LongRunApplied() const { return longRunApplied_; }

  private:
    void Apply();

    CBasicSetPropertyPage* page_;
    LongRunSettings* longRun_;
    std::unique_ptr<CLongRunPages> longRunPages_;
    bool longRunApplied_ = false;
};

// "ＰＯＰ設定".
class CPopSetDlg : public QDialog {
    Q_OBJECT
  public:
    CPopSetDlg(QWidget* parent, const MailSettings& mail);
    void accept() override;
    const MailSettings& Result() const { return mail_; }

  private:
    MailSettings mail_;
    QLineEdit* server_;
    QLineEdit* user_;
    QLineEdit* password_;
};

// "添付画像設定".
class CPictSetDlg : public QDialog {
    Q_OBJECT
  public:
    CPictSetDlg(QWidget* parent, const PictSettings& pict);
    ~CPictSetDlg() override;
    const PictSettings& Result() const { return pict_; }

  private:
    void ShowValues();
    void OnType(int index);
    void UpdateLabels();
    // A size field typed in (leaving: and left): the number limited into the copy.
    void OnSizeEdited(SpinEdit* spin, int32_t PictSettings::*field, int (*limit)(int),
                      bool leaving);

    PictSettings pict_;
    bool initialised_ = false;
    QComboBox* type_;
    QSlider* quality_;
    QLabel* qualityLabel_;
    SpinEdit* width_;
    SpinEdit* height_;
    QCheckBox* aspect_;
    QSlider* colorNum_;
    QLabel* colorNumLabel_;
    QSlider* colQuality_;
    QLabel* colQualityLabel_;
};

// "警告メール内容設定" for one mode.
class CMailTextDlg : public QDialog {
    Q_OBJECT
  public:
    CMailTextDlg(QWidget* parent, const WarningSettings& mode);
    void accept() override;
    const WarningSettings& Result() const { return mode_; }

  private:
    WarningSettings mode_;
    QLineEdit* title_;
    QPlainTextEdit* body_;
    QCheckBox* sendPict_;
};

// "警告画像設定" for one mode.
class CCautionPicDlg : public QDialog {
    Q_OBJECT
  public:
    CCautionPicDlg(QWidget* parent, const WarningSettings& mode, const std::string& programFolder);
    void accept() override;
    const WarningSettings& Result() const { return mode_; }

  private:
    WarningSettings mode_;
    std::string programFolder_;
    QLineEdit* pic1_;
    QLineEdit* pic2_;
};

// "警告設定".
class CWarningSetDlg : public QDialog {
    Q_OBJECT
  public:
    CWarningSetDlg(QWidget* parent, const WarningDialogData& data, int currentMode,
                   const std::string& programFolder, std::function<void()> openHelp);
    ~CWarningSetDlg() override;
    void accept() override;
    void done(int result) override;
    // The mail settings as the dialog shows them now, saved or not.
    MailSettings CurrentMail() const;
    const WarningDialogData& Result() const { return data_; }
    int ShownMode() const { return mode_; }

    // Sub-dialogs run through these so that a test can answer them.
    std::function<int(QDialog&)> RunSubDialog = [](QDialog& d) { return d.exec(); };
    // The sound file picker: the chosen path, or empty for Cancel.
    std::function<std::string(const PickerStart&)> PickSound;
    // What "テスト送信" runs (on a worker thread); empty: the button stays disabled.
    void SetTestSend(TestSendFunction send);

  private:
    void ShowValues();
    void ShowSubmission();
    void OnTestSend();
    void StopTestSend();
    void StoreSpins();
    void EnableControls();
    void OnTabChanged(int index);
    void OnDefault();

    WarningDialogData data_;
    int mode_;
    std::string programFolder_;
    std::function<void()> openHelp_;

    QLineEdit* smtp_;
    QLineEdit* address_;
    QCheckBox* popSmtp_;
    QPushButton* popButton_;
    QLineEdit* sendAddress_;
    QTabBar* tabs_;
    QSlider* sensitivity_;
    QLabel* sensitivityLabel_;
    QCheckBox* timerEnable_;
    SpinEdit* timerInterval_;
    SpinEdit* secTimer_;
    SpinEdit* secCount_;
    SpinEdit* holdMinutes_;
    QCheckBox* securityPic_;
    QCheckBox* securityWave_;
    QLineEdit* waveName_;
    QCheckBox* waveLoop_;
    QCheckBox* sendMail_;
    SpinEdit* mailInterval_;
    QCheckBox* motionCheck_;
    SpinEdit* checkNoise_;
    SpinEdit* checkArea_;
    SpinEdit* checkMs_;
    std::vector<QWidget*> checkControls_;
    std::vector<QWidget*> timerControls_;
    std::vector<QWidget*> soundControls_;
    std::vector<QWidget*> mailControls_;

    QSpinBox* smtpPort_;
    QComboBox* smtpSecurity_;
    QCheckBox* smtpAuth_;
    QLineEdit* smtpUser_;
    QLineEdit* smtpPassword_;
    QPushButton* testButton_;
    TestSendFunction testSend_;
    // Tells the test mail under way to give up (the dialog is closing).
    std::atomic<bool> testStop_{false};
    // Runs the test mail off the window thread; declared last so it joins first.
    std::unique_ptr<qv::thread::Handoff> testJob_;
};

}  // namespace qv::dialogs
