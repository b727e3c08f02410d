// The warning settings dialog and its sub-dialogs (POP, attachment picture, mail content,
// caution pictures) with the two file pickers.
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
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QVBoxLayout>

#include "app/dialogs/DialogWidgets.h"
#include "app/dialogs/SpinEdit.h"

namespace qv::dialogs {
namespace {

QLabel* Label(const char* text, QWidget* parent) {
    return new QLabel(QString::fromUtf8(text), parent);
}
QLabel* Label(const char* text, QWidget* parent, ControlId id) {
    return Named(Label(text, parent), id);
}

// The attachment quality's upper end for a picture type (PNG stops below JPEG's range).
int QualityMax(int type) {
    return type == 1 ? KeyOf(&PictSettings::PictQuality).Max : kPngQualityMax;
}

// A stored number the control cannot show shows as the default.
template <class R>
int32_t ShownValue(int32_t R::*member, int32_t value) {
    const SettingKey& k = KeyOf(member);
    return value >= k.Min && value <= k.Max ? value : ParseSettingNumber(k.DefaultFor(0));
}

QSlider* StepSlider(QWidget* parent) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setSingleStep(1);
    slider->setPageStep(1);
    slider->setTickInterval(1);
    slider->setTickPosition(QSlider::TicksBelow);
    return slider;
}

// Both pickers: the system's open-file dialog owned by the calling dialog.
std::string PickFile(QWidget* owner, const char* title, const char* filter,
                     const PickerStart& start) {
    const QString path = QFileDialog::getOpenFileName(
        owner, QString::fromUtf8(title),
        Q(start.Folder.empty()
              ? start.FileName
              : (start.Folder.back() == '/' ? start.Folder : start.Folder + "/") + start.FileName),
        QString::fromUtf8(filter));
    return S(path);
}

}  // namespace

// ---------------------------------------------------------------- POP settings

CPopSetDlg::CPopSetDlg(QWidget* parent, const MailSettings& mail) : QDialog(parent), mail_(mail) {
    setWindowTitle(QStringLiteral("ＰＯＰ設定"));
    server_ = Named(new QLineEdit(Q(mail_.PopServer), this), ControlId::PopServer,
                    "POP認証を行うPOPサーバーアドレスを設定します。");
    user_ = Named(new QLineEdit(Q(mail_.UserID), this), ControlId::PopUser,
                  "POP認証を行うユーザーＩＤを設定します。");
    password_ = Named(new QLineEdit(Q(mail_.Password), this), ControlId::PopPassword,
                      "POP認証を行うユーザーＩＤのパスワードを設定します。");
    password_->setEchoMode(QLineEdit::Password);
    LimitTextEdit(password_, kPasswordBytes);  // what survives a restart
    auto* grid = new QGridLayout(this);
    grid->addWidget(Label("POPｻｰﾊﾞｰ（受信）：", this), 0, 0);
    grid->addWidget(server_, 0, 1);
    grid->addWidget(Label("ユーザーＩＤ：", this), 1, 0);
    grid->addWidget(user_, 1, 1);
    grid->addWidget(Label("パスワード：", this), 2, 0);
    grid->addWidget(password_, 2, 1);
    grid->addWidget(Buttons(this), 3, 0, 1, 2);
    server_->setMinimumWidth(220);
    LimitTextEdits(this, kTextBytes);
}

void CPopSetDlg::accept() {
    mail_.PopServer = S(server_->text());
    mail_.UserID = S(user_->text());
    mail_.Password = S(password_->text());
    QDialog::accept();
}

// ---------------------------------------------------------------- attachment picture

CPictSetDlg::CPictSetDlg(QWidget* parent, const PictSettings& pict) : QDialog(parent), pict_(pict) {
    setWindowTitle(QStringLiteral("添付画像設定"));
    type_ = Named(new QComboBox(this), ControlId::PictType, "添付する画像の形式を選択します。");
    type_->addItem(QStringLiteral("ＰＮＧ（ｅｚ－ｗｂ）"));
    type_->addItem(QStringLiteral("ＪＰＧ（Vodafone）"));
    quality_ = Named(StepSlider(this), ControlId::PictQuality, "添付する画像の品質を設定します。");
    qualityLabel_ = Label("", this, ControlId::PictQualityLabel);
    width_ = Named(SpinFor(&PictSettings::Width, this), ControlId::PictWidthSpin);
    width_->Edit()->setObjectName(ControlName(ControlId::PictWidth));
    width_->Edit()->setToolTip(
        QStringLiteral("添付する画像の幅を設定します。４の倍数になるように設定してください。"));
    height_ = Named(SpinFor(&PictSettings::Height, this), ControlId::PictHeightSpin);
    height_->Edit()->setObjectName(ControlName(ControlId::PictHeight));
    height_->Edit()->setToolTip(QStringLiteral("添付する画像の高さを設定します。"));
    aspect_ =
        Named(new QCheckBox(QStringLiteral("縦横比を変更しない"), this), ControlId::PictAspect,
              "チェックを付けると画像を縮小する時に縦横比を変更しません。");
    colorNum_ =
        Named(StepSlider(this), ControlId::PictColorNum, "添付する画像の色数を設定します。");
    WithRange(colorNum_, &PictSettings::ColorNum);
    colorNumLabel_ = Label("", this, ControlId::PictColorNumLabel);
    colQuality_ =
        Named(StepSlider(this), ControlId::PictColQuality, "画像を減色する時の品質を設定します。");
    WithRange(colQuality_, &PictSettings::ColQuality);
    colQualityLabel_ = Label("", this, ControlId::PictColQualityLabel);
    for (QLabel* l : {qualityLabel_, colorNumLabel_, colQualityLabel_}) {
        l->setMinimumWidth(40);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }

    QDialogButtonBox* buttons = Buttons(this);
    QPushButton* defaultButton =
        AddButton(buttons, "ﾃﾞﾌｫﾙﾄ", QDialogButtonBox::ResetRole, ControlId::SubDefault);
    auto* grid = new QGridLayout(this);
    grid->addWidget(Label("画像形式：", this), 0, 0);
    grid->addWidget(type_, 0, 1, 1, 2);
    grid->addWidget(Label("画像品質：", this), 1, 0);
    grid->addWidget(quality_, 1, 1);
    grid->addWidget(qualityLabel_, 1, 2);
    auto* size = new QHBoxLayout;
    size->addWidget(Label("幅：", this));
    size->addWidget(width_);
    size->addSpacing(12);
    size->addWidget(Label("高さ：", this));
    size->addWidget(height_);
    size->addStretch(1);
    grid->addWidget(Label("サイズ：", this), 2, 0);
    grid->addLayout(size, 2, 1, 1, 2);
    grid->addWidget(aspect_, 3, 1, 1, 2);
    grid->addWidget(Label("色数：", this), 4, 0);
    grid->addWidget(colorNum_, 4, 1);
    grid->addWidget(colorNumLabel_, 4, 2);
    grid->addWidget(Label("減色品質：", this), 5, 0);
    grid->addWidget(colQuality_, 5, 1);
    grid->addWidget(colQualityLabel_, 5, 2);
    grid->addWidget(buttons, 6, 0, 1, 3);
    grid->setColumnMinimumWidth(1, 220);

    ShowValues();
    connect(type_, &QComboBox::activated, this, &CPictSetDlg::OnType);
    connect(quality_, &QSlider::valueChanged, this, [this](int v) {
        pict_.PictQuality = v;
        UpdateLabels();
    });
    connect(colorNum_, &QSlider::valueChanged, this, [this](int v) {
        pict_.ColorNum = v;
        UpdateLabels();
    });
    connect(colQuality_, &QSlider::valueChanged, this, [this](int v) {
        pict_.ColQuality = v;
        UpdateLabels();
    });
    connect(aspect_, &QCheckBox::clicked, this, [this](bool on) { pict_.Aspect = on ? 1 : 0; });
    const struct {
        SpinEdit* spin;
        int32_t PictSettings::*field;
        int (*limit)(int);
    } sizes[] = {{width_, &PictSettings::Width, &RoundAttachmentWidth},
                 {height_, &PictSettings::Height, &LimitAttachmentHeight}};
    for (const auto& z : sizes) {
        connect(z.spin, &SpinEdit::TextChanged, this,
                [this, z] { OnSizeEdited(z.spin, z.field, z.limit, false); });
        connect(z.spin, &SpinEdit::FocusLost, this,
                [this, z] { OnSizeEdited(z.spin, z.field, z.limit, true); });
    }
    connect(defaultButton, &QPushButton::clicked, this, [this] {
        PressDefaultButton(DefaultButton::Picture, pict_);
        ShowValues();
    });
    initialised_ = true;
}

CPictSetDlg::~CPictSetDlg() {
    // The fields lose the focus while the children go: nothing of this dialog is left then.
    width_->disconnect(this);
    height_->disconnect(this);
}

void CPictSetDlg::ShowValues() {
    const bool was = initialised_;
    initialised_ = false;
    type_->setCurrentIndex(pict_.Type == 1 ? 1 : 0);
    {
        const QSignalBlocker b1(quality_), b2(colorNum_), b3(colQuality_);
        quality_->setRange(KeyOf(&PictSettings::PictQuality).Min, QualityMax(pict_.Type));
        quality_->setValue(pict_.PictQuality);
        colorNum_->setValue(pict_.ColorNum);
        colQuality_->setValue(pict_.ColQuality);
    }
    width_->SetPosition(pict_.Width);
    height_->SetPosition(pict_.Height);
    aspect_->setChecked(pict_.Aspect != 0);
    UpdateLabels();
    initialised_ = was;
}

void CPictSetDlg::UpdateLabels() {
    qualityLabel_->setText(Q(PictQualityLabel(pict_.Type, pict_.PictQuality)));
    colorNumLabel_->setText(Q(ColorNumLabel(pict_.ColorNum)));
    colQualityLabel_->setText(Q(ColQualityLabel(pict_.ColQuality)));
}

void CPictSetDlg::OnType(int index) {
    pict_.Type = index;
    const QSignalBlocker block(quality_);
    const SettingKey& quality = KeyOf(&PictSettings::PictQuality);
    pict_.PictQuality = index == 1 ? kJpegQualityStart : ParseSettingNumber(quality.DefaultFor(0));
    quality_->setRange(quality.Min, QualityMax(index));
    quality_->setValue(pict_.PictQuality);
    UpdateLabels();
}

void CPictSetDlg::OnSizeEdited(SpinEdit* spin, int32_t PictSettings::*field, int (*limit)(int),
                               bool leaving) {
    if (!initialised_) return;
    pict_.*field = limit(spin->Edit()->text().toInt());
    // While typing the field keeps the text; leaving it shows the corrected number.
    if (leaving && spin->Edit()->text() != QString::number(pict_.*field))
        spin->SetPosition(pict_.*field);
}

// ---------------------------------------------------------------- mail content

CMailTextDlg::CMailTextDlg(QWidget* parent, const WarningSettings& mode)
    : QDialog(parent), mode_(mode) {
    setWindowTitle(QStringLiteral("警告メール内容設定"));
    title_ = Named(new QLineEdit(Q(mode_.MailTitle), this), ControlId::MailTitle,
                   "送信する警告メールのタイトルを設定します。");
    body_ = Named(new QPlainTextEdit(this), ControlId::MailBody,
                  "送信する警告メールの本文を設定します。");
    // The edit works with LF; MailTextToEdit gives the CR LF form of the stored text.
    body_->setPlainText(Q(MailTextToEdit(mode_.MailText)).remove(QLatin1Char('\r')));
    sendPict_ =
        Named(new QCheckBox(QStringLiteral("画像を添付する"), this), ControlId::MailSendPict,
              "チェックを付けると警告メールに画像が添付されます。");
    sendPict_->setChecked(mode_.SendPict != 0);
    QDialogButtonBox* buttons = Buttons(this);
    QPushButton* defaultButton =
        AddButton(buttons, "ﾃﾞﾌｫﾙﾄ", QDialogButtonBox::ResetRole, ControlId::SubDefault);
    auto* grid = new QGridLayout(this);
    grid->addWidget(Label("タイトル：", this), 0, 0);
    grid->addWidget(title_, 0, 1);
    grid->addWidget(Label("本文：", this), 1, 0, Qt::AlignTop);
    grid->addWidget(body_, 1, 1);
    grid->addWidget(sendPict_, 2, 1);
    grid->addWidget(buttons, 3, 0, 1, 2);
    body_->setMinimumSize(320, 140);
    LimitTextEdits(this, kTextBytes);
    connect(defaultButton, &QPushButton::clicked, this, [this] {
        WarningSettings d = mode_;
        PressDefaultButton(DefaultButton::MailText, d);
        title_->setText(Q(d.MailTitle));
        body_->setPlainText(Q(MailTextToEdit(d.MailText)).remove(QLatin1Char('\r')));
        sendPict_->setChecked(d.SendPict != 0);
    });
}

void CMailTextDlg::accept() {
    mode_.MailTitle = S(title_->text());
    mode_.MailText = CutToCp932Bytes(MailTextFromEdit(S(body_->toPlainText())), kMailBodyBytes);
    mode_.SendPict = sendPict_->isChecked() ? 1 : 0;
    QDialog::accept();
}

// ---------------------------------------------------------------- caution pictures

CCautionPicDlg::CCautionPicDlg(QWidget* parent, const WarningSettings& mode,
                               const std::string& programFolder)
    : QDialog(parent), mode_(mode), programFolder_(programFolder) {
    setWindowTitle(QStringLiteral("警告画像設定"));
    pic1_ = Named(new QLineEdit(Q(mode_.SecurityPicName1), this), ControlId::CautionPic1,
                  "警告画像１のファイル名を指定します。");
    pic2_ = Named(new QLineEdit(Q(mode_.SecurityPicName2), this), ControlId::CautionPic2,
                  "警告画像２のファイル名を指定します。");
    auto* browse1 = Named(new QPushButton(QStringLiteral("参照"), this), ControlId::CautionBrowse1);
    auto* browse2 = Named(new QPushButton(QStringLiteral("参照"), this), ControlId::CautionBrowse2);
    auto* grid = new QGridLayout(this);
    grid->addWidget(Label("警告画像１：", this), 0, 0);
    grid->addWidget(pic1_, 0, 1);
    grid->addWidget(browse1, 0, 2);
    grid->addWidget(Label("警告画像２：", this), 1, 0);
    grid->addWidget(pic2_, 1, 1);
    grid->addWidget(browse2, 1, 2);
    grid->addWidget(Buttons(this), 2, 0, 1, 3);
    pic1_->setMinimumWidth(260);
    LimitTextEdits(this, kTextBytes);
    auto browse = [this](QLineEdit* edit, const char* defaultName) {
        const std::string chosen =
            PickFile(this, "警告画像の設定", "bmp ﾌｧｲﾙ(*.bmp)",
                     FilePickerStart(programFolder_, S(edit->text()), defaultName));
        if (!chosen.empty()) edit->setText(Q(chosen));
    };
    connect(browse1, &QPushButton::clicked, this, [this, browse] {
        browse(pic1_, KeyOf(&WarningSettings::SecurityPicName1).DefaultFor(0));
    });
    connect(browse2, &QPushButton::clicked, this, [this, browse] {
        browse(pic2_, KeyOf(&WarningSettings::SecurityPicName2).DefaultFor(0));
    });
}

void CCautionPicDlg::accept() {
    mode_.SecurityPicName1 = S(pic1_->text());
    mode_.SecurityPicName2 = S(pic2_->text());
    QDialog::accept();
}

// ---------------------------------------------------------------- warning settings

CWarningSetDlg::CWarningSetDlg(QWidget* parent, const WarningDialogData& data, int currentMode,
                               const std::string& programFolder, std::function<void()> openHelp)
    : QDialog(parent),
      data_(data),
      mode_(currentMode >= 0 && currentMode < kOperatingModes ? currentMode : 0),
      programFolder_(programFolder),
      openHelp_(std::move(openHelp)) {
    setWindowTitle(QStringLiteral("警告設定"));
    PickSound = [this](const PickerStart& start) {
        return PickFile(this, "警告音の設定", "wav ﾌｧｲﾙ(*.wav)", start);
    };

    // Upper part: the mail server, shared by the three modes.
    smtp_ = Named(new QLineEdit(this), ControlId::SmtpServer,
                  "メールを送信するＳＭＴＰサーバーのアドレスを設定します。");
    address_ = Named(new QLineEdit(this), ControlId::MailAddress,
                     "メール送信者のメールアドレスを設定します。");
    popSmtp_ = Named(
        new QCheckBox(QStringLiteral("ＰＯＰ認証(POP-before-SMTP)"), this), ControlId::PopSmtp,
        "ＰＯＰ認証が必要なＳＭＴＰサーバーをご利用の場合はチェックを付けてください。");
    popButton_ = Named(new QPushButton(QStringLiteral("POP設定"), this), ControlId::PopSettings,
                       "ＰＯＰ認証の設定を行います。");
    sendAddress_ = Named(new QLineEdit(this), ControlId::SendAddress,
                         "警告メールを送るメールアドレスを設定します。");
    auto* pictButton = Named(new QPushButton(QStringLiteral("添付画像設定"), this),
                             ControlId::PictSettings, "メールに添付する画像の設定を行います。");
    auto* upper = new QGridLayout;
    upper->addWidget(Label("SMTPｻｰﾊﾞｰ(送信)：", this), 0, 0);
    upper->addWidget(smtp_, 0, 1, 1, 2);
    upper->addWidget(Label("メールアドレス：", this), 1, 0);
    upper->addWidget(address_, 1, 1, 1, 2);
    upper->addWidget(popSmtp_, 2, 1);
    upper->addWidget(popButton_, 2, 2);
    upper->addWidget(Label("警告通知先メールアドレス：", this), 3, 0);
    upper->addWidget(sendAddress_, 3, 1);
    upper->addWidget(pictButton, 3, 2);
    upper->setColumnStretch(1, 1);

    // How the SMTP server is reached: port, security and authentication, and a test mail.
    auto* submitGroup = new QGroupBox(QStringLiteral("送信サーバーの接続設定"), this);
    smtpPort_ = new QSpinBox(submitGroup);
    smtpPort_->setObjectName(QStringLiteral("smtpPort"));
    WithRange(smtpPort_, &MailSettings::SmtpPort);
    smtpPort_->setAlignment(Qt::AlignRight);
    smtpPort_->setToolTip(QStringLiteral(
        "ＳＭＴＰサーバーのポート番号を設定します。通常は25、STARTTLSは587、SSL/TLSは465です。"));
    smtpSecurity_ = new QComboBox(submitGroup);
    smtpSecurity_->setObjectName(QStringLiteral("smtpSecurity"));
    for (const char* label : kSmtpSecurityLabels) smtpSecurity_->addItem(QString::fromUtf8(label));
    smtpSecurity_->setToolTip(QStringLiteral("ＳＭＴＰサーバーとの通信の暗号化を選択します。"));
    smtpAuth_ = new QCheckBox(QStringLiteral("SMTP認証"), submitGroup);
    smtpAuth_->setObjectName(QStringLiteral("smtpAuth"));
    smtpAuth_->setToolTip(
        QStringLiteral("ＳＭＴＰ認証が必要なサーバーをご利用の場合はチェックを付けてください。"));
    smtpUser_ = new QLineEdit(submitGroup);
    smtpUser_->setObjectName(QStringLiteral("smtpUser"));
    smtpUser_->setToolTip(QStringLiteral("ＳＭＴＰ認証のユーザー名を設定します。"));
    smtpPassword_ = new QLineEdit(submitGroup);
    smtpPassword_->setObjectName(QStringLiteral("smtpPassword"));
    smtpPassword_->setEchoMode(QLineEdit::Password);
    LimitTextEdit(smtpPassword_, kPasswordBytes);
    smtpPassword_->setToolTip(QStringLiteral("ＳＭＴＰ認証のパスワードを設定します。"));
    testButton_ = new QPushButton(QStringLiteral("テスト送信"), submitGroup);
    testButton_->setObjectName(QStringLiteral("testSend"));
    testButton_->setToolTip(
        QStringLiteral("今の設定で警告通知先メールアドレスにテストメールを送信します。"));
    testButton_->setEnabled(false);
    auto* submitGrid = new QGridLayout(submitGroup);
    submitGrid->addWidget(Label("ポート：", submitGroup), 0, 0);
    submitGrid->addWidget(smtpPort_, 0, 1);
    submitGrid->addWidget(Label("暗号化：", submitGroup), 0, 2);
    submitGrid->addWidget(smtpSecurity_, 0, 3);
    submitGrid->addWidget(smtpAuth_, 0, 4);
    submitGrid->addWidget(Label("ユーザー名：", submitGroup), 1, 0);
    submitGrid->addWidget(smtpUser_, 1, 1, 1, 2);
    submitGrid->addWidget(Label("パスワード：", submitGroup), 1, 3);
    submitGrid->addWidget(smtpPassword_, 1, 4);
    submitGrid->addWidget(testButton_, 0, 5, 2, 1);
    testJob_ = std::make_unique<qv::thread::Handoff>(this);

    tabs_ = Named(new QTabBar(this), ControlId::ModeTabs);
    for (const char* t : {"動作モード１", "動作モード２", "動作モード３"}) {
        tabs_->addTab(QString::fromUtf8(t));
    }
    tabs_->setExpanding(false);

    // Lower part: one mode's WarningSettings.
    auto* sensGroup = new QGroupBox(QStringLiteral("動体検知感度設定"), this);
    sensitivity_ = Named(new QSlider(Qt::Horizontal, sensGroup), ControlId::Sensitivity,
                         "動体検知の感度を設定します。値が小さければ敏感に、値が大きければ鈍感に"
                         "なります。");
    WithRange(sensitivity_, &WarningSettings::MotionSensitivity);
    sensitivity_->setSingleStep(1);
    sensitivity_->setPageStep(100);
    sensitivity_->setTickInterval(1000);
    sensitivity_->setTickPosition(QSlider::TicksBelow);
    sensitivityLabel_ = Label("", sensGroup, ControlId::SensitivityLabel);
    sensitivityLabel_->setMinimumWidth(40);
    sensitivityLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* sensRow = new QHBoxLayout(sensGroup);
    sensRow->addWidget(Label("小", sensGroup));
    sensRow->addWidget(sensitivity_, 1);
    sensRow->addWidget(Label("大", sensGroup));
    sensRow->addWidget(sensitivityLabel_);

    // The motion check: with it on, only motion it confirms is a detection.
    auto* checkGroup = new QGroupBox(QStringLiteral("動き判定"), this);
    motionCheck_ = new QCheckBox(QStringLiteral("動き判定を使用する"), checkGroup);
    motionCheck_->setObjectName(QStringLiteral("motionCheck"));
    motionCheck_->setToolTip(
        QStringLiteral("チェックを付けると、ノイズや明るさの変化を除き、"
                       "人の動きだけを動体検知とします。"));
    checkNoise_ = SpinFor(&WarningSettings::MotionCheckNoise, checkGroup);
    checkArea_ = SpinFor(&WarningSettings::MotionCheckArea, checkGroup);
    checkMs_ = SpinFor(&WarningSettings::MotionCheckMs, checkGroup);
    const struct {
        SpinEdit* spin;
        const char* name;
        const char* tip;
    } checkSpins[] = {
        {checkNoise_, "checkNoise",
         "ノイズの何倍（1/10単位）を超える変化を動きとするかを設定します。"},
        {checkArea_, "checkArea", "動きとみなす最小の面積を画面の0.1%単位で設定します。"},
        {checkMs_, "checkMs", "動きが何ミリ秒続いたら動体検知とするかを設定します。"},
    };
    for (const auto& c : checkSpins) {
        c.spin->Edit()->setObjectName(QString::fromUtf8(c.name));
        c.spin->Edit()->setToolTip(QString::fromUtf8(c.tip));
    }
    QLabel* noiseLabel = Label("ノイズ倍率(×0.1)：", checkGroup);
    QLabel* areaLabel = Label("最小面積(0.1%)：", checkGroup);
    QLabel* msLabel = Label("持続(ms)：", checkGroup);
    auto* checkRow = new QHBoxLayout(checkGroup);
    checkRow->addWidget(motionCheck_);
    checkRow->addStretch(1);
    for (QWidget* w : std::initializer_list<QWidget*>{noiseLabel, checkNoise_, areaLabel,
                                                      checkArea_, msLabel, checkMs_})
        checkRow->addWidget(w);
    checkControls_ = {noiseLabel, checkNoise_, areaLabel, checkArea_, msLabel, checkMs_};

    auto* timerGroup = new QGroupBox(QStringLiteral("タイマー設定"), this);
    timerEnable_ = Named(new QCheckBox(QStringLiteral("タイマー録画を使用する"), timerGroup),
                         ControlId::TimerEnable, "チェックを付けるとタイマー録画を行います。");
    timerInterval_ =
        Named(SpinFor(&WarningSettings::TimerInterval, timerGroup), ControlId::TimerIntervalSpin);
    timerInterval_->Edit()->setObjectName(ControlName(ControlId::TimerInterval));
    timerInterval_->Edit()->setToolTip(QStringLiteral("タイマー録画の間隔を設定します。"));
    QLabel* timerLabel1 = Label("録画の間隔：", timerGroup, ControlId::TimerLabel);
    QLabel* timerLabel2 = Label("分", timerGroup, ControlId::TimerUnitLabel);
    auto* timerRow = new QHBoxLayout(timerGroup);
    timerRow->addWidget(timerEnable_);
    timerRow->addStretch(1);
    timerRow->addWidget(timerLabel1);
    timerRow->addWidget(timerInterval_);
    timerRow->addWidget(timerLabel2);
    timerControls_ = {timerLabel1, timerLabel2, timerInterval_};

    auto* warnGroup = new QGroupBox(QStringLiteral("警告設定"), this);
    secTimer_ = Named(SpinFor(&WarningSettings::SecTimer, warnGroup), ControlId::SecTimerSpin);
    secTimer_->Edit()->setObjectName(ControlName(ControlId::SecTimer));
    secTimer_->Edit()->setToolTip(QStringLiteral("動体検知をカウントする秒数を設定します。"));
    secCount_ = Named(SpinFor(&WarningSettings::SecCount, warnGroup), ControlId::SecCountSpin);
    secCount_->Edit()->setObjectName(ControlName(ControlId::SecCount));
    secCount_->Edit()->setToolTip(QStringLiteral("警告を発生させる動体検知の回数を設定します。"));
    holdMinutes_ = Named(SpinFor(&WarningSettings::SecurityTimerInterval, warnGroup),
                         ControlId::HoldMinutesSpin);
    holdMinutes_->Edit()->setObjectName(ControlName(ControlId::HoldMinutes));
    holdMinutes_->Edit()->setToolTip(
        QStringLiteral("警告が発生してから、次の警告を発生させるまでの間隔を設定します。"));
    securityPic_ = Named(
        new QCheckBox(QStringLiteral("警告が発生したら警告画像を表示する"), warnGroup),
        ControlId::SecurityPic, "チェックを付けると警告が発生したときに警告画面を表示します。");
    auto* picButton = Named(new QPushButton(QStringLiteral("警告画像設定"), warnGroup),
                            ControlId::CautionPictures,
                            "警告画像を設定します。空白の場合はﾃﾞﾌｫﾙﾄの警告画像が表示されます。");
    securityWave_ = Named(
        new QCheckBox(QStringLiteral("警告が発生したら警告音を鳴らす"), warnGroup),
        ControlId::SecurityWave, "チェックを付けると警告が発生したときに警告音を鳴らします。");
    waveName_ = Named(new QLineEdit(warnGroup), ControlId::WaveName,
                      "警告音を設定します。空白の場合はﾃﾞﾌｫﾙﾄの警告音が鳴ります。");
    auto* waveBrowse =
        Named(new QPushButton(QStringLiteral("参照"), warnGroup), ControlId::WaveBrowse);
    QLabel* waveLabel = Label("警告音：", warnGroup, ControlId::WaveLabel);
    waveLoop_ = Named(new QCheckBox(QStringLiteral("警告音をループ再生する"), warnGroup),
                      ControlId::WaveLoop, "チェックを付けると警告音をループ再生します。");
    sendMail_ =
        Named(new QCheckBox(QStringLiteral("警告を検知したらメールを送信する"), warnGroup),
              ControlId::SendMail, "チェックを付けると警告が発生した時にメールを送信します。");
    auto* mailButton = Named(new QPushButton(QStringLiteral("警告メール内容設定"), warnGroup),
                             ControlId::MailContent, "送信する警告メールの内容を設定します。");
    mailInterval_ =
        Named(SpinFor(&WarningSettings::MailInterval, warnGroup), ControlId::MailIntervalSpin);
    mailInterval_->Edit()->setObjectName(ControlName(ControlId::MailInterval));
    mailInterval_->Edit()->setToolTip(
        QStringLiteral("メールを送信してから、次のメールを送信させるまでの間隔を設定します。"));
    QLabel* mailLabel1 = Label("メール通知から", warnGroup, ControlId::MailIntervalLabel);
    QLabel* mailLabel2 =
        Label("分間はメールを送信しない", warnGroup, ControlId::MailIntervalUnitLabel);

    auto* warnBox = new QVBoxLayout(warnGroup);
    auto* row1 = new QHBoxLayout;
    row1->addWidget(secTimer_);
    row1->addWidget(Label("秒間に", warnGroup));
    row1->addWidget(secCount_);
    row1->addWidget(Label("回動体検知したら、警告を発生する", warnGroup));
    row1->addStretch(1);
    auto* row2 = new QHBoxLayout;
    row2->addWidget(Label("警告が発生してから", warnGroup));
    row2->addWidget(holdMinutes_);
    row2->addWidget(Label("分間は警告を発生させない", warnGroup));
    row2->addStretch(1);
    auto* row3 = new QHBoxLayout;
    row3->addWidget(securityPic_);
    row3->addStretch(1);
    row3->addWidget(picButton);
    auto* row4 = new QHBoxLayout;
    row4->addWidget(securityWave_);
    row4->addStretch(1);
    row4->addWidget(waveLoop_);
    auto* row5 = new QHBoxLayout;
    row5->addSpacing(20);
    row5->addWidget(waveLabel);
    row5->addWidget(waveName_, 1);
    row5->addWidget(waveBrowse);
    auto* row6 = new QHBoxLayout;
    row6->addWidget(sendMail_);
    row6->addStretch(1);
    row6->addWidget(mailButton);
    auto* row7 = new QHBoxLayout;
    row7->addSpacing(20);
    row7->addWidget(mailLabel1);
    row7->addWidget(mailInterval_);
    row7->addWidget(mailLabel2);
    row7->addStretch(1);
    for (QLayout* row : {row1, row2, row3, row4, row5, row6, row7}) warnBox->addLayout(row);
    soundControls_ = {waveLabel, waveName_, waveBrowse, waveLoop_};
    mailControls_ = {mailButton, mailInterval_, mailLabel1, mailLabel2};

    QDialogButtonBox* buttons = Buttons(this);
    QPushButton* defaultButton =
        AddButton(buttons, "ﾃﾞﾌｫﾙﾄ", QDialogButtonBox::ResetRole, ControlId::Default);
    QPushButton* helpButton =
        AddButton(buttons, "ﾍﾙﾌﾟ", QDialogButtonBox::HelpRole, ControlId::Help);

    auto* modeFrame = new QVBoxLayout;
    modeFrame->addWidget(sensGroup);
    modeFrame->addWidget(checkGroup);
    modeFrame->addWidget(timerGroup);
    modeFrame->addWidget(warnGroup);
    auto* box = new QVBoxLayout(this);
    box->addLayout(upper);
    box->addWidget(submitGroup);
    box->addSpacing(6);
    box->addWidget(tabs_);
    box->addLayout(modeFrame);
    box->addWidget(buttons);

    LimitTextEdits(this, kTextBytes);
    // Initialisation: the upper part, then the tab of the current mode.
    smtp_->setText(Q(data_.Mail.SmtpServer));
    address_->setText(Q(data_.Mail.MailAddress));
    sendAddress_->setText(Q(data_.Mail.SendMailAddress));
    popSmtp_->setChecked(data_.Mail.PopSmtp != 0);
    popButton_->setEnabled(data_.Mail.PopSmtp != 0);
    tabs_->setCurrentIndex(mode_);
    ShowValues();
    ShowSubmission();
    smtpUser_->setText(Q(data_.Mail.SmtpUser));
    smtpPassword_->setText(Q(data_.Mail.SmtpPassword));

    connect(tabs_, &QTabBar::currentChanged, this, &CWarningSetDlg::OnTabChanged);
    connect(sensitivity_, &QSlider::valueChanged, this, [this](int v) {
        data_.Warning[mode_].MotionSensitivity = v;
        sensitivityLabel_->setText(QString::number(v));
    });
    auto bindCheck = [this](QCheckBox* check, int32_t WarningSettings::*field) {
        connect(check, &QCheckBox::clicked, this, [this, field](bool on) {
            data_.Warning[mode_].*field = on ? 1 : 0;
            EnableControls();
        });
    };
    bindCheck(timerEnable_, &WarningSettings::TimerEnable);
    bindCheck(securityPic_, &WarningSettings::SecurityPic);
    bindCheck(securityWave_, &WarningSettings::SecurityWave);
    bindCheck(waveLoop_, &WarningSettings::SecurityWaveLoop);
    bindCheck(sendMail_, &WarningSettings::SendMail);
    bindCheck(motionCheck_, &WarningSettings::MotionCheck);
    connect(popSmtp_, &QCheckBox::clicked, this, [this](bool on) {
        data_.Mail.PopSmtp = on ? 1 : 0;
        popButton_->setEnabled(on);
    });
    connect(waveBrowse, &QPushButton::clicked, this, [this] {
        const std::string chosen =
            PickSound ? PickSound(FilePickerStart(programFolder_, S(waveName_->text()), "beep.wav"))
                      : std::string();
        if (!chosen.empty()) {
            waveName_->setText(Q(chosen));
            data_.Warning[mode_].SecurityWaveName = chosen;
        }
    });
    connect(picButton, &QPushButton::clicked, this, [this] {
        CCautionPicDlg dialog(this, data_.Warning[mode_], programFolder_);
        if (RunSubDialog(dialog) == QDialog::Accepted) {
            data_.Warning[mode_].SecurityPicName1 = dialog.Result().SecurityPicName1;
            data_.Warning[mode_].SecurityPicName2 = dialog.Result().SecurityPicName2;
        }
    });
    connect(mailButton, &QPushButton::clicked, this, [this] {
        CMailTextDlg dialog(this, data_.Warning[mode_]);
        if (RunSubDialog(dialog) == QDialog::Accepted) {
            data_.Warning[mode_].MailTitle = dialog.Result().MailTitle;
            data_.Warning[mode_].MailText = dialog.Result().MailText;
            data_.Warning[mode_].SendPict = dialog.Result().SendPict;
        }
    });
    connect(popButton_, &QPushButton::clicked, this, [this] {
        CPopSetDlg dialog(this, data_.Mail);
        if (RunSubDialog(dialog) == QDialog::Accepted) {
            data_.Mail.PopServer = dialog.Result().PopServer;
            data_.Mail.UserID = dialog.Result().UserID;
            data_.Mail.Password = dialog.Result().Password;
        }
    });
    connect(pictButton, &QPushButton::clicked, this, [this] {
        CPictSetDlg dialog(this, data_.Pict);
        if (RunSubDialog(dialog) == QDialog::Accepted) data_.Pict = dialog.Result();
    });
    connect(smtpPort_, &QSpinBox::valueChanged, this,
            [this](int port) { data_.Mail.SmtpPort = port; });
    connect(smtpSecurity_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) data_.Mail.SmtpSecurity = index;
    });
    connect(smtpAuth_, &QCheckBox::toggled, this, [this](bool on) {
        data_.Mail.SmtpAuth = on ? 1 : 0;
        smtpUser_->setEnabled(on);
        smtpPassword_->setEnabled(on);
    });
    connect(smtpUser_, &QLineEdit::textChanged, this,
            [this](const QString& text) { data_.Mail.SmtpUser = S(text); });
    connect(smtpPassword_, &QLineEdit::textChanged, this,
            [this](const QString& text) { data_.Mail.SmtpPassword = S(text); });
    connect(testButton_, &QPushButton::clicked, this, &CWarningSetDlg::OnTestSend);
    connect(defaultButton, &QPushButton::clicked, this, &CWarningSetDlg::OnDefault);
    connect(helpButton, &QPushButton::clicked, this, [this] {
        if (openHelp_) openHelp_();
    });
}

void CWarningSetDlg::ShowValues() {
    const WarningSettings& w = data_.Warning[mode_];
    {
        const QSignalBlocker block(sensitivity_);
        sensitivity_->setValue(w.MotionSensitivity);
    }
    sensitivityLabel_->setText(QString::number(w.MotionSensitivity));
    timerInterval_->SetPosition(w.TimerInterval);
    secTimer_->SetPosition(w.SecTimer);
    secCount_->SetPosition(w.SecCount);
    holdMinutes_->SetPosition(w.SecurityTimerInterval);
    mailInterval_->SetPosition(w.MailInterval);
    checkNoise_->SetPosition(w.MotionCheckNoise);
    checkArea_->SetPosition(w.MotionCheckArea);
    checkMs_->SetPosition(w.MotionCheckMs);
    motionCheck_->setChecked(w.MotionCheck != 0);
    timerEnable_->setChecked(w.TimerEnable != 0);
    securityPic_->setChecked(w.SecurityPic != 0);
    securityWave_->setChecked(w.SecurityWave != 0);
    waveLoop_->setChecked(w.SecurityWaveLoop != 0);
    sendMail_->setChecked(w.SendMail != 0);
    waveName_->setText(Q(w.SecurityWaveName));
    EnableControls();
}

void CWarningSetDlg::EnableControls() {
    const WarningSettings& w = data_.Warning[mode_];
    for (QWidget* c : timerControls_) c->setEnabled(w.TimerEnable != 0);
    for (QWidget* c : checkControls_) c->setEnabled(w.MotionCheck != 0);
    for (QWidget* c : soundControls_) c->setEnabled(w.SecurityWave != 0);
    for (QWidget* c : mailControls_) c->setEnabled(w.SendMail != 0);
    popButton_->setEnabled(data_.Mail.PopSmtp != 0);
}

void CWarningSetDlg::StoreSpins() {
    WarningSettings& w = data_.Warning[mode_];
    w.TimerInterval = timerInterval_->Position();
    w.SecTimer = secTimer_->Position();
    w.SecCount = secCount_->Position();
    w.SecurityTimerInterval = holdMinutes_->Position();
    w.MailInterval = mailInterval_->Position();
    w.MotionCheckNoise = checkNoise_->Position();
    w.MotionCheckArea = checkArea_->Position();
    w.MotionCheckMs = checkMs_->Position();
    w.SecurityWaveName = S(waveName_->text());
}

void CWarningSetDlg::OnTabChanged(int index) {
    if (index < 0 || index >= kOperatingModes || index == mode_) return;
    StoreSpins();
    mode_ = index;
    ShowValues();
}

void CWarningSetDlg::OnDefault() {
    PressDefaultButton(DefaultButton::Warning, data_.Mail);
    for (int m = 0; m < kOperatingModes; ++m)
        PressDefaultButton(DefaultButton::Warning, data_.Warning[m], m);
    smtp_->clear();
    address_->clear();
    sendAddress_->clear();
    popSmtp_->setChecked(false);
    ShowValues();
    ShowSubmission();
}

void CWarningSetDlg::ShowSubmission() {
    const MailSettings m = data_.Mail;  // the setters below write back into data_
    smtpPort_->setValue(ShownValue(&MailSettings::SmtpPort, m.SmtpPort));
    smtpSecurity_->setCurrentIndex(ShownValue(&MailSettings::SmtpSecurity, m.SmtpSecurity));
    smtpAuth_->setChecked(m.SmtpAuth != 0);
    smtpUser_->setEnabled(m.SmtpAuth != 0);
    smtpPassword_->setEnabled(m.SmtpAuth != 0);
    // What the controls could not show goes back as they show it.
    data_.Mail.SmtpPort = smtpPort_->value();
    data_.Mail.SmtpSecurity = smtpSecurity_->currentIndex();
}

MailSettings CWarningSetDlg::CurrentMail() const {
    MailSettings mail = data_.Mail;
    mail.SmtpServer = S(smtp_->text());
    mail.MailAddress = S(address_->text());
    mail.SendMailAddress = S(sendAddress_->text());
    return mail;
}

void CWarningSetDlg::SetTestSend(TestSendFunction send) {
    testSend_ = std::move(send);
    testButton_->setEnabled(testSend_ && !testJob_->Busy());
}

void CWarningSetDlg::OnTestSend() {
    if (!testSend_ || testJob_->Busy()) return;
    testButton_->setEnabled(false);
    testStop_ = false;
    testJob_->RunInBackground(
        [this, send = testSend_, mail = CurrentMail()] {
            return send(mail, [this] { return testStop_.load(); });
        },
        [this](const TestSendOutcome& outcome) {
            testButton_->setEnabled(static_cast<bool>(testSend_));
            if (outcome.Sent)
                QMessageBox::information(this, QStringLiteral("テスト送信"), Q(outcome.Text));
            else
                QMessageBox::warning(this, QStringLiteral("テスト送信"), Q(outcome.Text));
        });
}

// Closing the dialog ends a test mail under way: its waits give up at once.
void CWarningSetDlg::StopTestSend() {
    testStop_ = true;
    testJob_->Close();
    testJob_ = std::make_unique<qv::thread::Handoff>(this);
    testButton_->setEnabled(static_cast<bool>(testSend_));
}

CWarningSetDlg::~CWarningSetDlg() {
    testStop_ = true;
    testJob_.reset();
}

void CWarningSetDlg::done(int result) {
    StopTestSend();
    QDialog::done(result);
}

void CWarningSetDlg::accept() {
    data_.Mail.SmtpServer = S(smtp_->text());
    data_.Mail.MailAddress = S(address_->text());
    data_.Mail.SendMailAddress = S(sendAddress_->text());
    StoreSpins();
    QDialog::accept();
}

bool RunWarningSettingsDialog(QWidget* parent, WarningDialogData& data, int currentMode,
                              const std::string& programFolder, std::function<void()> openHelp) {
    CWarningSetDlg dialog(parent, data, currentMode, programFolder, std::move(openHelp));
    if (dialog.exec() != QDialog::Accepted) return false;
    data = dialog.Result();
    return true;
}

}  // namespace qv::dialogs
