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
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/dialogs/DialogWidgets.h"
#include "app/dialogs/SpinEdit.h"

#ifndef QUORVEX_VERSION
#define QUORVEX_VERSION "0"
#endif

namespace qv::dialogs {
namespace {

constexpr unsigned long kDialogSource = 8;
constexpr unsigned long kDialogFormat = 2;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
std::string S(const QString& s) {
    return s.toStdString();
}

template <typename W>
W* Named(W* w, int id, const char* tip = nullptr) {
    w->setObjectName(QStringLiteral("idc%1").arg(id));
    if (tip) w->setToolTip(QString::fromUtf8(tip));
    return w;
}

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

CDeviceSelectDlg::CDeviceSelectDlg(QWidget* parent, const std::vector<std::string>& names,
                                   const std::string& current)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("デバイス選択"));
    list_ = Named(new QComboBox(this), 1171, "利用するキャプチャデバイスを選択します。");
    int selected = 0;
    int index = 0;
    bool found = false;
    for (const std::string& name : names) {
        if (name.empty()) continue;
        list_->addItem(Q(name));
        if (!found && name == current) {
            selected = index;
            found = true;
        }
        ++index;
    }
    list_->setCurrentIndex(list_->count() > 0 ? selected : -1);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* box = new QVBoxLayout(this);
    box->addWidget(new QLabel(QStringLiteral("キャプチャデバイス："), this));
    box->addWidget(list_);
    box->addWidget(buttons);
    list_->setMinimumWidth(280);
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
    auto* selectButton = Named(new QPushButton(QStringLiteral("デバイスの選択"), deviceGroup), 1002,
                               "キャプチャデバイスを選択します。");
    sourceButton_ = Named(new QPushButton(QStringLiteral("ﾋﾞﾃﾞｵｿｰｽの設定"), deviceGroup), 1003,
                          "キャプチャデバイスのビデオソースを設定します。");
    formatButton_ = Named(new QPushButton(QStringLiteral("ﾋﾞﾃﾞｵ形式の設定"), deviceGroup), 1004,
                          "キャプチャデバイスのビデオ形式を設定します。");
    auto* deviceRow = new QHBoxLayout(deviceGroup);
    deviceRow->addWidget(selectButton);
    deviceRow->addWidget(sourceButton_);
    deviceRow->addWidget(formatButton_);

    auto* previewGroup = new QGroupBox(QStringLiteral("プレビュー設定"), this);
    detectPreview_ = Named(new QCheckBox(QStringLiteral("動体検知表示"), previewGroup), 1087,
                           "チェックを付けるとプレビュー表示が動体検知差分表示となります。");
    rate_ = Named(new QComboBox(previewGroup), 1083);
    for (const char* item : {"１", "５", "１０", "１５", "２０", "３０", "６０"}) {
        rate_->addItem(QString::fromUtf8(item));
    }
    auto* previewRow = new QHBoxLayout(previewGroup);
    previewRow->addWidget(detectPreview_);
    previewRow->addStretch(1);
    previewRow->addWidget(new QLabel(QStringLiteral("フレームレート："), previewGroup));
    previewRow->addWidget(rate_);

    auto* folderGroup = new QGroupBox(QStringLiteral("画像保存フォルダ設定"), this);
    detectPath_ =
        Named(new QLineEdit(folderGroup), 1020, "動体検知で取得した画像の保存先を設定します。");
    timerPath_ =
        Named(new QLineEdit(folderGroup), 1018, "タイマーで取得した画像の保存先を設定します。");
    auto* detectBrowse = Named(new QPushButton(QStringLiteral("参照"), folderGroup), 1021);
    auto* timerBrowse = Named(new QPushButton(QStringLiteral("参照"), folderGroup), 1019);
    quality_ = Named(new QSlider(Qt::Horizontal, folderGroup), 1022,
                     "保存する画像品質を設定します。値が小さいほど画質は悪く、値が大きいほど画質"
                     "は良くなります。");
    quality_->setRange(1, 20);
    quality_->setTickPosition(QSlider::TicksBelow);
    quality_->setTickInterval(1);
    quality_->setPageStep(1);
    qualityLabel_ = Named(new QLabel(folderGroup), 1024);
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
    lan_ = Named(new QRadioButton(QStringLiteral("ＬＡＮ接続"), connGroup), 1080,
                 "回線の接続方法を選択します。");
    dialUp_ = Named(new QRadioButton(QStringLiteral("ﾀﾞｲｱﾙｱｯﾌﾟ"), connGroup), 1081,
                    "回線の接続方法を選択します。");
    dialList_ = Named(new QComboBox(connGroup), 1082, "ダイアルアップの接続先を選択します。");
    dialList_->setMinimumWidth(160);
    auto* connGrid = new QGridLayout(connGroup);
    connGrid->addWidget(lan_, 0, 0);
    connGrid->addWidget(dialUp_, 1, 0);
    connGrid->addWidget(dialList_, 1, 1);

    auto* startGroup = new QGroupBox(QStringLiteral("起動設定"), this);
    wakeUpStart_ = Named(new QCheckBox(QStringLiteral("起動時にスイッチをＯＮにする"), startGroup),
                         1078, "チェックを付けると起動時にスイッチをＯＮにします。");
    wakeUpIcon_ = Named(new QCheckBox(QStringLiteral("起動時にアイコン化する"), startGroup), 1079,
                        "チェックを付けると起動時にアイコン化されます。");
    auto* startBox = new QVBoxLayout(startGroup);
    startBox->addWidget(wakeUpStart_);
    startBox->addWidget(wakeUpIcon_);

    auto* defaultButton = Named(new QPushButton(QStringLiteral("ﾃﾞﾌｫﾙﾄ"), this), 3);

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
    settings_.PreviewRate = 3;
    if (hooks_.SetPreviewRate) hooks_.SetPreviewRate(15);
    settings_.WakeUpIcon = 0;
    settings_.WakeUpStart = 0;
    settings_.DetectPreview = 0;
    settings_.TimerPath.clear();
    settings_.DetectPath.clear();
    settings_.PictureQuality = 15;
    settings_.ConnMode = 0;
    settings_.DialName.clear();
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
    const std::vector<std::string> names =
        hooks_.DeviceNames ? hooks_.DeviceNames() : std::vector<std::string>{};
    CDeviceSelectDlg dialog(this, names, settings_.DeviceName);
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
                               const std::vector<std::string>& dialEntries)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("基本設定"));
    auto* tabs = new QTabWidget(this);
    page_ = new CBasicSetPropertyPage(tabs, settings, hooks, dialEntries);
    tabs->addTab(page_, QStringLiteral("基本設定"));
    tabs->addTab(VersionPage(tabs), QStringLiteral("バージョン情報"));
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("idc1"));
    ok->setDefault(true);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("idc2"));
    QPushButton* apply = buttons->addButton(QStringLiteral("適用"), QDialogButtonBox::ApplyRole);
    apply->setObjectName(QStringLiteral("idc12321"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(apply, &QPushButton::clicked, this, [this] { page_->OnApply(); });
    auto* box = new QVBoxLayout(this);
    box->addWidget(tabs);
    box->addWidget(buttons);
}

void CBasicSetSheet::accept() {
    page_->OnApply();
    QDialog::accept();
}

bool RunBasicSettingsSheet(QWidget* parent, BasicSettings& settings, const DeviceHooks& hooks,
                           const std::vector<std::string>& dialEntries) {
    CBasicSetSheet sheet(parent, settings, hooks, dialEntries);
    return sheet.exec() == QDialog::Accepted;
}

}  // namespace qv::dialogs
