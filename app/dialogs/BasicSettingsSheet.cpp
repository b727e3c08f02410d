// The basic settings sheet, its device selection and the version page.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/dialogs/DialogWidgets.h"
#include "app/dialogs/SpinEdit.h"
#include "platform/capture/stream/StreamUrl.h"

#ifndef QUORVEX_VERSION
#define QUORVEX_VERSION "0"
#endif

namespace qv::dialogs {
namespace {

constexpr unsigned long kDialogSource = 8;
constexpr unsigned long kDialogFormat = 2;

QWidget* VersionPage(QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* box = new QVBoxLayout(page);
    auto* title = new QLabel(QStringLiteral("Quorvex  バージョン %1").arg(QUORVEX_VERSION), page);
    QFont f = title->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.3);
    title->setFont(f);
    box->addWidget(title);
    auto* text = new QLabel(QStringLiteral("ウェブカメラ監視プログラム\n\n"
                                           "カメラの映像から動体を検知して画像を保存し、\n"
                                           "警告画像・警告音・警告メールでお知らせします。\n\n"
                                           "Qt %1 で動作しています。")
                                .arg(QString::fromLatin1(qVersion())),
                            page);
    text->setObjectName(QStringLiteral("versionText"));
    box->addWidget(text);
    box->addStretch(1);
    return page;
}

}  // namespace

// ---------------------------------------------------------------- device selection

std::string StreamSourceProblemMessage(StreamSourceProblem problem) {
    static constexpr StreamSourceProblemTexts kMessages = {
        "",
        "名前を入力してください。",
        "URLを入力してください。",
        "名前とURLに改行は使えません。",
        "名前とURLに「;」は使えません。",
        "名前かURLに、設定ファイルに保存できない文字が含まれています。",
        "名前かURLが長すぎます。255バイト（全角127文字）までにしてください。",
        "同じ名前のデバイスがすでにあります。別の名前を付けてください。",
        "ストリームカメラはこれ以上追加できません。",
    };
    return StreamSourceProblemIn(kMessages, problem, "このストリームカメラは登録できません。");
}

CStreamSourceDlg::CStreamSourceDlg(QWidget* parent, const StreamSource& source, bool editUrl,
                                   std::function<StreamSourceProblem(const StreamSource&)> check)
    : QDialog(parent), source_(source), check_(std::move(check)) {
    setWindowTitle(editUrl ? QStringLiteral("ストリームカメラの追加")
                           : QStringLiteral("ストリームカメラの名前の変更"));
    auto* grid = new QGridLayout;
    name_ = new QLineEdit(Q(source.Name), this);
    name_->setObjectName(QStringLiteral("streamName"));
    name_->setToolTip(QStringLiteral("デバイス一覧に表示する名前を設定します。"));
    grid->addWidget(new QLabel(QStringLiteral("名前："), this), 0, 0);
    grid->addWidget(name_, 0, 1);
    if (editUrl) {
        url_ = new QLineEdit(Q(source.Url), this);
        url_->setObjectName(QStringLiteral("streamUrl"));
        url_->setToolTip(QStringLiteral(
            "ネットワークカメラのURL（rtsp://、http://）か動画ファイルを設定します。"));
        url_->setMinimumWidth(320);
        grid->addWidget(new QLabel(QStringLiteral("URL："), this), 1, 0);
        grid->addWidget(url_, 1, 1);
    }
    auto* box = new QVBoxLayout(this);
    box->addLayout(grid);
    box->addWidget(Buttons(this));
}

void CStreamSourceDlg::accept() {
    // Blanks around a value would not survive the settings file.
    StreamSource edited{S(name_->text().trimmed()), url_ ? S(url_->text().trimmed()) : source_.Url};
    const StreamSourceProblem problem = check_ ? check_(edited) : StreamSourceProblem::None;
    if (problem != StreamSourceProblem::None) {
        QMessageBox::warning(this, windowTitle(), Q(StreamSourceProblemMessage(problem)));
        return;
    }
    source_ = std::move(edited);
    QDialog::accept();
}

CDeviceSelectDlg::CDeviceSelectDlg(QWidget* parent, const DeviceHooks& hooks,
                                   const std::string& current)
    : QDialog(parent), hooks_(hooks), open_(current), openedOn_(current) {
    setWindowTitle(QStringLiteral("デバイス選択"));
    list_ = Named(new QComboBox(this), ControlId::DeviceList,
                  "利用するキャプチャデバイスを選択します。");
    list_->setMinimumWidth(280);
    QDialogButtonBox* buttons = Buttons(this);
    auto* box = new QVBoxLayout(this);
    box->addWidget(new QLabel(QStringLiteral("キャプチャデバイス："), this));
    box->addWidget(list_);

    if (!hooks_.StreamSourcesFile.empty()) {
        sources_ = LoadStreamSources(hooks_.StreamSourcesFile);
        openedWith_ = sources_;
        auto* group = new QGroupBox(
            QStringLiteral("ストリームカメラ（ネットワークカメラ・動画ファイル）"), this);
        streams_ = new QListWidget(group);
        streams_->setObjectName(QStringLiteral("streamList"));
        streams_->setToolTip(QStringLiteral("登録したストリームカメラです。"));
        streams_->setMinimumHeight(90);
        auto* add = new QPushButton(QStringLiteral("追加..."), group);
        add->setObjectName(QStringLiteral("streamAdd"));
        add->setToolTip(QStringLiteral("ストリームカメラを追加します。"));
        rename_ = new QPushButton(QStringLiteral("名前の変更..."), group);
        rename_->setObjectName(QStringLiteral("streamRename"));
        rename_->setToolTip(QStringLiteral("選択したストリームカメラの名前を変更します。"));
        remove_ = new QPushButton(QStringLiteral("削除"), group);
        remove_->setObjectName(QStringLiteral("streamRemove"));
        remove_->setToolTip(QStringLiteral("選択したストリームカメラを削除します。"));
        auto* side = new QVBoxLayout;
        side->addWidget(add);
        side->addWidget(rename_);
        side->addWidget(remove_);
        side->addStretch(1);
        auto* row = new QHBoxLayout(group);
        row->addWidget(streams_, 1);
        row->addLayout(side);
        box->addWidget(group);
        connect(add, &QPushButton::clicked, this, &CDeviceSelectDlg::AddSource);
        connect(rename_, &QPushButton::clicked, this, &CDeviceSelectDlg::RenameSource);
        connect(remove_, &QPushButton::clicked, this, &CDeviceSelectDlg::RemoveSource);
        connect(streams_, &QListWidget::currentRowChanged, this, [this](int row) {
            rename_->setEnabled(row >= 0);
            remove_->setEnabled(row >= 0);
        });
        FillSources();
    }
    box->addWidget(buttons);
    FillDevices(current);
}

void CDeviceSelectDlg::FillDevices(const std::string& select) {
    const std::vector<std::string> names =
        hooks_.DeviceNames ? hooks_.DeviceNames() : std::vector<std::string>{};
    list_->clear();
    int selected = 0;
    bool found = false;
    for (const std::string& name : names) {
        if (name.empty()) continue;
        if (!found && name == select) {
            selected = list_->count();
            found = true;
        }
        list_->addItem(Q(name));
    }
    list_->setCurrentIndex(list_->count() > 0 ? selected : -1);
}

void CDeviceSelectDlg::FillSources() {
    if (!streams_) return;
    streams_->clear();
    // The list never shows a password: the URL as the log would write it.
    for (const StreamSource& s : sources_)
        streams_->addItem(QStringLiteral("%1    %2").arg(Q(s.Name), Q(capture::RedactUrl(s.Url))));
    rename_->setEnabled(false);
    remove_->setEnabled(false);
}

StreamSourceProblem CDeviceSelectDlg::CheckSource(const StreamSource& source, int skip) const {
    std::vector<StreamSource> others;
    for (int i = 0; i < static_cast<int>(sources_.size()); ++i)
        if (i != skip) others.push_back(sources_[static_cast<std::size_t>(i)]);
    const StreamSourceProblem problem = CheckNewStreamSource(source, others);
    if (problem != StreamSourceProblem::None) return problem;
    // The device list drops a second device of the same name, in any letter case.
    const QString name = Q(source.Name);
    for (const StreamSource& s : others)
        if (Q(s.Name).compare(name, Qt::CaseInsensitive) == 0)
            return StreamSourceProblem::DuplicateName;
    const std::vector<std::string> devices =
        hooks_.DeviceNames ? hooks_.DeviceNames() : std::vector<std::string>{};
    for (const std::string& device : devices) {
        if (Q(device).compare(name, Qt::CaseInsensitive) != 0) continue;
        const bool isSkipped =
            skip >= 0 &&
            Q(sources_[static_cast<std::size_t>(skip)].Name).compare(name, Qt::CaseInsensitive) ==
                0;
        if (!isSkipped) return StreamSourceProblem::DuplicateName;
    }
    return StreamSourceProblem::None;
}

bool CDeviceSelectDlg::Commit(const std::vector<StreamSource>& sources, const std::string& select,
                              const std::string& reopen) {
    if (!SaveStreamSources(hooks_.StreamSourcesFile, sources)) {
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("設定ファイルに書き込めませんでした。"));
        return false;
    }
    sources_ = sources;
    open_ = reopen;
    if (hooks_.StreamSourcesChanged) hooks_.StreamSourcesChanged(sources_, open_);
    FillSources();
    FillDevices(select);
    return true;
}

void CDeviceSelectDlg::AddSource() {
    // The device list holds ten devices, local cameras first: an eleventh would not show.
    int listed = 0;
    if (hooks_.DeviceNames)
        for (const std::string& name : hooks_.DeviceNames()) listed += name.empty() ? 0 : 1;
    if (static_cast<int>(sources_.size()) >= kMaxStreamSources || listed >= kMaxStreamSources) {
        QMessageBox::warning(this, windowTitle(),
                             Q(StreamSourceProblemMessage(StreamSourceProblem::TooMany)));
        return;
    }
    CStreamSourceDlg dialog(this, StreamSource{}, true,
                            [this](const StreamSource& s) { return CheckSource(s, -1); });
    if (dialog.exec() != QDialog::Accepted) return;
    std::vector<StreamSource> sources = sources_;
    sources.push_back(dialog.Result());
    // The new camera is what the user most likely wants to watch.
    Commit(sources, dialog.Result().Name, open_);
}

void CDeviceSelectDlg::RenameSource() {
    const int row = streams_ ? streams_->currentRow() : -1;
    if (row < 0 || row >= static_cast<int>(sources_.size())) return;
    const StreamSource old = sources_[static_cast<std::size_t>(row)];
    CStreamSourceDlg dialog(this, old, false,
                            [this, row](const StreamSource& s) { return CheckSource(s, row); });
    if (dialog.exec() != QDialog::Accepted) return;
    std::vector<StreamSource> sources = sources_;
    sources[static_cast<std::size_t>(row)].Name = dialog.Result().Name;
    const std::string selected = SelectedName();
    Commit(sources, selected == old.Name ? dialog.Result().Name : selected,
           open_ == old.Name ? dialog.Result().Name : open_);
}

void CDeviceSelectDlg::RemoveSource() {
    const int row = streams_ ? streams_->currentRow() : -1;
    if (row < 0 || row >= static_cast<int>(sources_.size())) return;
    std::vector<StreamSource> sources = sources_;
    const std::string removed = sources[static_cast<std::size_t>(row)].Name;
    QMessageBox ask(QMessageBox::Question, windowTitle(),
                    QStringLiteral("ストリームカメラ「%1」を削除しますか？").arg(Q(removed)),
                    QMessageBox::NoButton, this);
    QPushButton* yes = ask.addButton(QStringLiteral("削除"), QMessageBox::AcceptRole);
    ask.setDefaultButton(ask.addButton(QStringLiteral("ｷｬﾝｾﾙ"), QMessageBox::RejectRole));
    ask.exec();
    if (ask.clickedButton() != yes) return;
    sources.erase(sources.begin() + row);
    const std::string selected = SelectedName();
    Commit(sources, selected == removed ? std::string() : selected, open_);
}

void CDeviceSelectDlg::reject() {
    if (streams_ && sources_ != openedWith_) Commit(openedWith_, openedOn_, openedOn_);
    QDialog::reject();
}

std::string CDeviceSelectDlg::SelectedName() const {
    return S(list_->currentText());
}

// ---------------------------------------------------------------- basic settings page

CBasicSetPropertyPage::CBasicSetPropertyPage(QWidget* parent, BasicSettings& settings,
                                             const DeviceHooks& hooks,
                                             const std::vector<std::string>& dialEntries)
    : QWidget(parent), settings_(settings), hooks_(hooks), dialEntries_(dialEntries) {
    auto* deviceGroup = new QGroupBox(QStringLiteral("キャプチャデバイスの設定"), this);
    auto* selectButton = Named(new QPushButton(QStringLiteral("デバイスの選択"), deviceGroup),
                               ControlId::SelectDevice, "キャプチャデバイスを選択します。");
    sourceButton_ = Named(new QPushButton(QStringLiteral("ﾋﾞﾃﾞｵｿｰｽの設定"), deviceGroup),
                          ControlId::VideoSource, "キャプチャデバイスのビデオソースを設定します。");
    formatButton_ = Named(new QPushButton(QStringLiteral("ﾋﾞﾃﾞｵ形式の設定"), deviceGroup),
                          ControlId::VideoFormat, "キャプチャデバイスのビデオ形式を設定します。");
    auto* deviceRow = new QHBoxLayout(deviceGroup);
    deviceRow->addWidget(selectButton);
    deviceRow->addWidget(sourceButton_);
    deviceRow->addWidget(formatButton_);

    auto* previewGroup = new QGroupBox(QStringLiteral("プレビュー設定"), this);
    detectPreview_ =
        Named(new QCheckBox(QStringLiteral("動体検知表示"), previewGroup), ControlId::DetectPreview,
              "チェックを付けるとプレビュー表示が動体検知差分表示となります。");
    rate_ = Named(new QComboBox(previewGroup), ControlId::PreviewRate);
    for (const char* item : {"１", "５", "１０", "１５", "２０", "３０", "６０"}) {
        rate_->addItem(QString::fromUtf8(item));
    }
    auto* previewRow = new QHBoxLayout(previewGroup);
    previewRow->addWidget(detectPreview_);
    previewRow->addStretch(1);
    previewRow->addWidget(new QLabel(QStringLiteral("フレームレート："), previewGroup));
    previewRow->addWidget(rate_);

    auto* folderGroup = new QGroupBox(QStringLiteral("画像保存フォルダ設定"), this);
    detectPath_ = Named(new QLineEdit(folderGroup), ControlId::DetectPath,
                        "動体検知で取得した画像の保存先を設定します。");
    timerPath_ = Named(new QLineEdit(folderGroup), ControlId::TimerPath,
                       "タイマーで取得した画像の保存先を設定します。");
    auto* detectBrowse =
        Named(new QPushButton(QStringLiteral("参照"), folderGroup), ControlId::DetectBrowse);
    auto* timerBrowse =
        Named(new QPushButton(QStringLiteral("参照"), folderGroup), ControlId::TimerBrowse);
    quality_ = Named(new QSlider(Qt::Horizontal, folderGroup), ControlId::PictureQuality,
                     "保存する画像品質を設定します。値が小さいほど画質は悪く、値が大きいほど画質"
                     "は良くなります。");
    WithRange(quality_, &BasicSettings::PictureQuality);
    quality_->setTickPosition(QSlider::TicksBelow);
    quality_->setTickInterval(1);
    quality_->setPageStep(1);
    qualityLabel_ = Named(new QLabel(folderGroup), ControlId::PictureQualityLabel);
    qualityLabel_->setMinimumWidth(28);
    qualityLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* folderGrid = new QGridLayout(folderGroup);
    folderGrid->addWidget(new QLabel(QStringLiteral("動体検知保存："), folderGroup), 0, 0);
    folderGrid->addWidget(detectPath_, 0, 1);
    folderGrid->addWidget(detectBrowse, 0, 2);
    folderGrid->addWidget(new QLabel(QStringLiteral("タイマー保存："), folderGroup), 1, 0);
    folderGrid->addWidget(timerPath_, 1, 1);
    folderGrid->addWidget(timerBrowse, 1, 2);
    folderGrid->addWidget(new QLabel(QStringLiteral("画像クオリティ："), folderGroup), 2, 0);
    folderGrid->addWidget(quality_, 2, 1);
    folderGrid->addWidget(qualityLabel_, 2, 2);

    auto* connGroup = new QGroupBox(QStringLiteral("接続方法"), this);
    lan_ = Named(new QRadioButton(QStringLiteral("ＬＡＮ接続"), connGroup), ControlId::Lan,
                 "回線の接続方法を選択します。");
    dialUp_ = Named(new QRadioButton(QStringLiteral("ﾀﾞｲｱﾙｱｯﾌﾟ"), connGroup), ControlId::DialUp,
                    "回線の接続方法を選択します。");
    dialList_ = Named(new QComboBox(connGroup), ControlId::DialList,
                      "ダイアルアップの接続先を選択します。");
    dialList_->setMinimumWidth(160);
    auto* connGrid = new QGridLayout(connGroup);
    connGrid->addWidget(lan_, 0, 0);
    connGrid->addWidget(dialUp_, 1, 0);
    connGrid->addWidget(dialList_, 1, 1);

    auto* startGroup = new QGroupBox(QStringLiteral("起動設定"), this);
    wakeUpStart_ =
        Named(new QCheckBox(QStringLiteral("起動時にスイッチをＯＮにする"), startGroup),
              ControlId::WakeUpStart, "チェックを付けると起動時にスイッチをＯＮにします。");
    wakeUpIcon_ = Named(new QCheckBox(QStringLiteral("起動時にアイコン化する"), startGroup),
                        ControlId::WakeUpIcon, "チェックを付けると起動時にアイコン化されます。");
    auto* startBox = new QVBoxLayout(startGroup);
    startBox->addWidget(wakeUpStart_);
    startBox->addWidget(wakeUpIcon_);

    auto* defaultButton =
        Named(new QPushButton(QStringLiteral("ﾃﾞﾌｫﾙﾄ"), this), ControlId::Default);

    auto* lowRow = new QHBoxLayout;
    lowRow->addWidget(connGroup, 1);
    lowRow->addWidget(startGroup, 1);
    auto* defaultRow = new QHBoxLayout;
    defaultRow->addStretch(1);
    defaultRow->addWidget(defaultButton);
    auto* page = new QVBoxLayout(this);
    page->addWidget(deviceGroup);
    page->addWidget(previewGroup);
    page->addWidget(folderGroup);
    page->addLayout(lowRow);
    page->addLayout(defaultRow);

    LimitTextEdits(this, kTextBytes);
    // Initialisation: the phonebook, the values, then the handlers.
    for (const std::string& entry : dialEntries_) dialList_->addItem(Q(entry));
    ShowValues();
    UpdateDriverButtons();

    connect(selectButton, &QPushButton::clicked, this, &CBasicSetPropertyPage::OnSelectDevice);
    connect(sourceButton_, &QPushButton::clicked, this, [this] {
        if (hooks_.OpenDriverDialog) hooks_.OpenDriverDialog(kDialogSource);
    });
    connect(formatButton_, &QPushButton::clicked, this, [this] {
        if (hooks_.OpenDriverDialog) hooks_.OpenDriverDialog(kDialogFormat);
    });
    connect(rate_, &QComboBox::activated, this, [this](int index) {
        settings_.PreviewRate = index;
        if (hooks_.SetPreviewRate) hooks_.SetPreviewRate(PreviewRateFps(index));
        MarkModified();
    });
    connect(quality_, &QSlider::valueChanged, this, [this](int value) {
        settings_.PictureQuality = value;
        qualityLabel_->setText(QString::number(value * 5));
        MarkModified();
    });
    connect(lan_, &QRadioButton::clicked, this, [this] {
        settings_.ConnMode = 0;
        dialList_->setEnabled(false);
        MarkModified();
    });
    connect(dialUp_, &QRadioButton::clicked, this, [this] {
        settings_.ConnMode = 1;
        dialList_->setEnabled(true);
        MarkModified();
    });
    connect(wakeUpStart_, &QCheckBox::clicked, this, [this](bool on) {
        settings_.WakeUpStart = on ? 1 : 0;
        MarkModified();
    });
    connect(wakeUpIcon_, &QCheckBox::clicked, this, [this](bool on) {
        settings_.WakeUpIcon = on ? 1 : 0;
        MarkModified();
    });
    connect(detectPreview_, &QCheckBox::clicked, this, [this](bool on) {
        settings_.DetectPreview = on ? 1 : 0;
        MarkModified();
    });
    connect(dialList_, &QComboBox::activated, this, [this] { MarkModified(); });
    connect(detectPath_, &QLineEdit::textEdited, this, [this] { MarkModified(); });
    connect(timerPath_, &QLineEdit::textEdited, this, [this] { MarkModified(); });
    connect(detectBrowse, &QPushButton::clicked, this, [this] { BrowseFolder(detectPath_); });
    connect(timerBrowse, &QPushButton::clicked, this, [this] { BrowseFolder(timerPath_); });
    connect(defaultButton, &QPushButton::clicked, this, &CBasicSetPropertyPage::OnDefault);
    initialised_ = true;
}

void CBasicSetPropertyPage::MarkModified() {
    if (initialised_) modified_ = true;
}

void CBasicSetPropertyPage::ShowValues() {
    const bool was = initialised_;
    initialised_ = false;  // showing values is not a change
    rate_->setCurrentIndex(settings_.PreviewRate >= 0 && settings_.PreviewRate < rate_->count()
                               ? settings_.PreviewRate
                               : -1);
    wakeUpStart_->setChecked(settings_.WakeUpStart != 0);
    wakeUpIcon_->setChecked(settings_.WakeUpIcon != 0);
    detectPreview_->setChecked(settings_.DetectPreview != 0);
    detectPath_->setText(Q(settings_.DetectPath));
    timerPath_->setText(Q(settings_.TimerPath));
    {
        // The slider clamps; the label shows what the record holds.
        const QSignalBlocker block(quality_);
        quality_->setValue(settings_.PictureQuality);
    }
    qualityLabel_->setText(QString::number(settings_.PictureQuality * 5));

    if (dialEntries_.empty()) {
        dialUp_->setEnabled(false);
        dialList_->setEnabled(false);
        lan_->setChecked(true);
    } else if (settings_.ConnMode != 0) {
        dialUp_->setChecked(true);
        dialList_->setEnabled(true);
    } else {
        lan_->setChecked(true);
        dialList_->setEnabled(false);
    }
    int selected = dialEntries_.empty() ? -1 : 0;
    for (std::size_t i = 0; i < dialEntries_.size(); ++i) {
        if (dialEntries_[i].compare(0, settings_.DialName.size(), settings_.DialName) == 0) {
            selected = static_cast<int>(i);
            break;
        }
    }
    dialList_->setCurrentIndex(selected);
    initialised_ = was;
}

void CBasicSetPropertyPage::OnDefault() {
    PressDefaultButton(DefaultButton::Basic, settings_);
    if (hooks_.SetPreviewRate) hooks_.SetPreviewRate(PreviewRateFps(settings_.PreviewRate));
    ShowValues();
    MarkModified();
}

void CBasicSetPropertyPage::OnApply() {
    settings_.DetectPath = S(detectPath_->text());
    settings_.TimerPath = S(timerPath_->text());
    settings_.DialName = S(dialList_->currentText());
}

void CBasicSetPropertyPage::UpdateDriverButtons() {
    const unsigned long caps = hooks_.DialogCaps ? hooks_.DialogCaps() : 0;
    sourceButton_->setEnabled((caps & kDialogSource) != 0);
    formatButton_->setEnabled((caps & kDialogFormat) != 0);
}

void CBasicSetPropertyPage::OnSelectDevice() {
    CDeviceSelectDlg dialog(this, hooks_, settings_.DeviceName);
    if (dialog.exec() != QDialog::Accepted) return;
    const std::string chosen = dialog.SelectedName();
    const bool started = hooks_.RestartDevice && hooks_.RestartDevice(chosen);
    if (!started) {
        QMessageBox::warning(this, QStringLiteral("Quorvex"),
                             QStringLiteral("選択できませんでした"));
    }
    settings_.DeviceName = chosen;
    UpdateDriverButtons();
    MarkModified();
}

void CBasicSetPropertyPage::BrowseFolder(QLineEdit* edit) {
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("保存フォルダを選択してください"), edit->text());
    if (!folder.isEmpty()) {
        edit->setText(folder);
        MarkModified();
    }
}

// ---------------------------------------------------------------- the sheet

CBasicSetSheet::CBasicSetSheet(QWidget* parent, BasicSettings& settings, const DeviceHooks& hooks,
                               const std::vector<std::string>& dialEntries,
                               LongRunSettings* longRun, WebInfo web)
    : QDialog(parent), longRun_(longRun) {
    setWindowTitle(QStringLiteral("基本設定"));
    auto* tabs = new QTabWidget(this);
    page_ = new CBasicSetPropertyPage(tabs, settings, hooks, dialEntries);
    tabs->addTab(page_, QStringLiteral("基本設定"));
    if (longRun_) {
        longRunPages_ = std::make_unique<CLongRunPages>(tabs, *longRun_, std::move(web));
        tabs->addTab(longRunPages_->SchedulePage(), QStringLiteral("スケジュール"));
        tabs->addTab(longRunPages_->StoragePage(), QStringLiteral("保存・通知・Web"));
    }
    tabs->addTab(VersionPage(tabs), QStringLiteral("バージョン情報"));
    QDialogButtonBox* buttons = Buttons(this);
    QPushButton* apply = AddButton(buttons, "適用", QDialogButtonBox::ApplyRole, ControlId::Apply);
    connect(apply, &QPushButton::clicked, this, [this] { Apply(); });
    auto* box = new QVBoxLayout(this);
    box->addWidget(tabs);
    box->addWidget(buttons);
}

CBasicSetSheet::~CBasicSetSheet() {
    // The pages' controls report edits to rows the page object owns: they go first.
    if (longRunPages_) {
        delete longRunPages_->SchedulePage();
        delete longRunPages_->StoragePage();
    }
}

void CBasicSetSheet::Apply() {
    page_->OnApply();
    if (longRunPages_) {
        longRunPages_->Commit(*longRun_);
        longRunApplied_ = true;
    }
}

void CBasicSetSheet::accept() {
    Apply();
    QDialog::accept();
}

bool RunBasicSettingsSheet(QWidget* parent, BasicSettings& settings, const DeviceHooks& hooks,
                           const std::vector<std::string>& dialEntries) {
    CBasicSetSheet sheet(parent, settings, hooks, dialEntries);
    return sheet.exec() == QDialog::Accepted;
}

}  // namespace qv::dialogs
