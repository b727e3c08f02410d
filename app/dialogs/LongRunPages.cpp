// The basic settings sheet's pages for a monitor left running: the weekly schedule as rows of
// checkboxes and times, and the groups for deleting old pictures, the hooks and the web page.
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "app/dialogs/DialogWidgets.h"
#include "app/dialogs/SpinEdit.h"
#include "app/schedule/Schedule.h"

namespace qv::dialogs {
namespace {

constexpr int kActionOff = 3;  // the combo's 停止

QTime FromMinutes(int minutes) {
    return QTime(minutes / 60, minutes % 60);
}
int ToMinutes(const QTime& t) {
    return t.hour() * 60 + t.minute();
}

QCheckBox* Check(QWidget* parent, ControlId id, const char* text, bool on) {
    auto* box = Named(new QCheckBox(QString::fromUtf8(text), parent), id);
    box->setChecked(on);
    return box;
}

QLineEdit* Edit(QWidget* parent, ControlId id, const std::string& text, const char* tip = nullptr) {
    auto* edit = Named(new QLineEdit(Q(text), parent), id, tip);
    return edit;
}

template <class R>
SpinEdit* Spin(QWidget* parent, ControlId id, int32_t R::*member, int32_t value) {
    SpinEdit* spin = Named(SpinFor(member, parent), id);
    spin->SetPosition(value);
    return spin;
}

QLineEdit* ReadOnly(QWidget* parent, ControlId id, const QString& text) {
    auto* edit = Named(new QLineEdit(text, parent), id);
    edit->setReadOnly(true);
    return edit;
}

}  // namespace

CLongRunPages::CLongRunPages(QWidget* parent, const LongRunSettings& settings, WebInfo web)
    : web_(std::move(web)) {
    // In the body: the controls' members must exist before the pages fill them.
    schedule_ = BuildSchedule(parent, settings.Schedule);
    storage_ = BuildStorage(parent, settings);
}

QWidget* CLongRunPages::BuildSchedule(QWidget* parent, const ScheduleSettings& s) {
    auto* page = new QWidget(parent);
    auto* box = new QVBoxLayout(page);
    scheduleEnable_ =
        Check(page, ControlId::ScheduleEnable, "スケジュールで監視を切り替える", s.Enable != 0);
    box->addWidget(scheduleEnable_);
    auto* grid = new QGridLayout;
    box->addLayout(grid);
    box->addStretch(1);
    static const char* const kDays[] = {"月", "火", "水", "木", "金", "土", "日"};
    grid->addWidget(new QLabel(QStringLiteral("使う"), page), 0, 0);
    for (int d = 0; d < 7; ++d)
        grid->addWidget(new QLabel(QString::fromUtf8(kDays[d]), page), 0, 1 + d);
    grid->addWidget(new QLabel(QStringLiteral("開始"), page), 0, 8);
    grid->addWidget(new QLabel(QStringLiteral("終了"), page), 0, 9);
    grid->addWidget(new QLabel(QStringLiteral("動作"), page), 0, 10);
    const auto texts = s.Rules();
    for (int r = 0; r < kScheduleRules; ++r) {
        ScheduleRow& row = rows_[static_cast<std::size_t>(r)];
        row.Stored = *texts[static_cast<std::size_t>(r)];
        const auto rule = qv::schedule::ParseRule(row.Stored);
        const qv::schedule::Rule shown =
            rule.value_or(qv::schedule::Rule{0x1F, 8 * 60, 18 * 60, 0});
        row.Use = Check(page, ScheduleControl(r, ScheduleField::Use), "", rule.has_value());
        grid->addWidget(row.Use, r + 1, 0);
        for (int d = 0; d < 7; ++d) {
            row.Days[static_cast<std::size_t>(d)] = Check(
                page, ScheduleControl(r, ScheduleField::FirstDay, d), "", (shown.Days >> d) & 1);
            grid->addWidget(row.Days[static_cast<std::size_t>(d)], r + 1, 1 + d);
        }
        row.Start = Named(new QTimeEdit(FromMinutes(shown.Start), page),
                          ScheduleControl(r, ScheduleField::Start));
        row.End = Named(new QTimeEdit(FromMinutes(shown.End), page),
                        ScheduleControl(r, ScheduleField::End));
        for (QTimeEdit* t : {row.Start, row.End}) t->setDisplayFormat(QStringLiteral("HH:mm"));
        row.Action = Named(new QComboBox(page), ScheduleControl(r, ScheduleField::Action));
        for (const char* item : {"モード１", "モード２", "モード３", "停止"})
            row.Action->addItem(QString::fromUtf8(item));
        row.Action->setCurrentIndex(shown.Mode < 0 ? kActionOff : shown.Mode);
        grid->addWidget(row.Start, r + 1, 8);
        grid->addWidget(row.End, r + 1, 9);
        grid->addWidget(row.Action, r + 1, 10);
        // A row the user never touches keeps its text, even one that does not read.
        auto touch = [&row] { row.Touched = true; };
        QObject::connect(row.Use, &QCheckBox::toggled, page, touch);
        for (QCheckBox* day : row.Days) QObject::connect(day, &QCheckBox::toggled, page, touch);
        QObject::connect(row.Start, &QTimeEdit::timeChanged, page, touch);
        QObject::connect(row.End, &QTimeEdit::timeChanged, page, touch);
        QObject::connect(row.Action, &QComboBox::currentIndexChanged, page, touch);
    }
    return page;
}

QWidget* CLongRunPages::BuildStorage(QWidget* parent, const LongRunSettings& s) {
    auto* page = new QWidget(parent);
    auto* box = new QVBoxLayout(page);

    auto* keep = new QGroupBox(QStringLiteral("古い画像の削除（0 は削除しない）"), page);
    auto* keepForm = new QFormLayout(keep);
    const RetentionSettings& r = s.Retention;
    retention_ = {
        Spin(keep, ControlId::PictureDays, &RetentionSettings::PictureDays, r.PictureDays),
        Spin(keep, ControlId::PictureMegabytes, &RetentionSettings::PictureMegabytes,
             r.PictureMegabytes),
        Spin(keep, ControlId::LogDays, &RetentionSettings::LogDays, r.LogDays),
        Spin(keep, ControlId::MinFreeMegabytes, &RetentionSettings::MinFreeMegabytes,
             r.MinFreeMegabytes)};
    keepForm->addRow(QStringLiteral("画像を残す日数："), retention_[0]);
    keepForm->addRow(QStringLiteral("画像の合計上限（MB）："), retention_[1]);
    keepForm->addRow(QStringLiteral("ログを残す日数："), retention_[2]);
    keepForm->addRow(QStringLiteral("空き容量の下限（MB）："), retention_[3]);
    box->addWidget(keep);

    auto* notify = new QGroupBox(QStringLiteral("通知"), page);
    auto* notifyForm = new QFormLayout(notify);
    const HookSettings& h = s.Hooks;
    command_ = Edit(notify, ControlId::HookCommand, h.Command,
                    "%e 出来事 %t 時刻 %m モード %f 画像のパス");
    commandEvents_ = Edit(notify, ControlId::HookCommandEvents, h.CommandEvents,
                          "例: warning,camera-lost,detect");
    webhookUrl_ = Edit(notify, ControlId::WebhookUrl, h.WebhookUrl);
    webhookPicture_ = Check(notify, ControlId::WebhookPicture, "画像も送る", h.WebhookPicture != 0);
    pushUrl_ = Edit(notify, ControlId::PushUrl, h.PushUrl, "ntfy のトピックの URL");
    pushToken_ = Edit(notify, ControlId::PushToken, h.PushToken);
    pushToken_->setEchoMode(QLineEdit::Password);
    cameraLostSeconds_ = Spin(notify, ControlId::CameraLostSeconds,
                              &HookSettings::CameraLostSeconds, h.CameraLostSeconds);
    cameraLostMail_ = Check(notify, ControlId::CameraLostMail, "カメラ切断をメールで知らせる",
                            h.CameraLostMail != 0);
    notifyForm->addRow(QStringLiteral("コマンド："), command_);
    notifyForm->addRow(QStringLiteral("コマンドの出来事："), commandEvents_);
    notifyForm->addRow(QStringLiteral("Webhook URL："), webhookUrl_);
    notifyForm->addRow(QString(), webhookPicture_);
    notifyForm->addRow(QStringLiteral("プッシュ URL："), pushUrl_);
    notifyForm->addRow(QStringLiteral("プッシュのトークン："), pushToken_);
    notifyForm->addRow(QStringLiteral("カメラ切断まで（秒）："), cameraLostSeconds_);
    notifyForm->addRow(QString(), cameraLostMail_);
    box->addWidget(notify);

    auto* webGroup = new QGroupBox(QStringLiteral("Web ページ（再起動で反映）"), page);
    auto* webForm = new QFormLayout(webGroup);
    const WebSettings& w = s.Web;
    webEnable_ = Check(webGroup, ControlId::WebEnable, "Web ページを開く", w.Enable != 0);
    webPort_ = Spin(webGroup, ControlId::WebPort, &WebSettings::Port, w.Port);
    webTls_ = Check(webGroup, ControlId::WebTls, "TLS（https）", w.Tls != 0);
    webPassword_ = Named(new QLineEdit(webGroup), ControlId::WebPassword);
    webPassword_->setEchoMode(QLineEdit::Password);
    webPassword_->setPlaceholderText(
        w.Password.empty() ? QStringLiteral("未設定") : QStringLiteral("変更しないときは空のまま"));
    QStringList addresses;
    for (const std::string& a : web_.Addresses) addresses << Q(a);
    webForm->addRow(webEnable_);
    webForm->addRow(QStringLiteral("ポート："), webPort_);
    webForm->addRow(webTls_);
    webForm->addRow(QStringLiteral("パスワード："), webPassword_);
    webForm->addRow(
        QStringLiteral("証明書 SHA-256："),
        ReadOnly(webGroup, ControlId::WebFingerprint,
                 web_.Fingerprint.empty() ? QStringLiteral("（初めての起動で作られます）")
                                          : Q(web_.Fingerprint)));
    webForm->addRow(
        QStringLiteral("開くアドレス："),
        ReadOnly(webGroup, ControlId::WebAddresses, addresses.join(QStringLiteral("  "))));
    box->addWidget(webGroup);
    box->addStretch(1);
    LimitTextEdits(page, kTextBytes);
    LimitTextEdit(webPassword_, kPasswordBytes);
    LimitTextEdit(pushToken_, kPasswordBytes);
    return page;
}

void CLongRunPages::Commit(LongRunSettings& settings) const {
    ScheduleSettings& sched = settings.Schedule;
    sched.Enable = scheduleEnable_->isChecked() ? 1 : 0;
    const auto texts = sched.Rules();
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        const ScheduleRow& row = rows_[r];
        std::string& text = *texts[r];
        if (!row.Touched) {
            text = row.Stored;
            continue;
        }
        qv::schedule::Rule rule;
        for (std::size_t d = 0; d < row.Days.size(); ++d)
            if (row.Days[d]->isChecked()) rule.Days |= static_cast<uint8_t>(1u << d);
        rule.Start = ToMinutes(row.Start->time());
        rule.End = ToMinutes(row.End->time());
        const int action = row.Action->currentIndex();
        rule.Mode = action == kActionOff ? -1 : action;
        // A rule on no day, or from a time to the same time, is no rule.
        const bool usable = row.Use->isChecked() && rule.Days != 0 && rule.Start != rule.End;
        text = usable ? qv::schedule::FormatRule(rule) : std::string();
    }

    RetentionSettings& keep = settings.Retention;
    keep.PictureDays = retention_[0]->Position();
    keep.PictureMegabytes = retention_[1]->Position();
    keep.LogDays = retention_[2]->Position();
    keep.MinFreeMegabytes = retention_[3]->Position();

    HookSettings& h = settings.Hooks;
    h.Command = S(command_->text());
    h.CommandEvents = S(commandEvents_->text());
    h.WebhookUrl = S(webhookUrl_->text());
    h.WebhookPicture = webhookPicture_->isChecked() ? 1 : 0;
    h.PushUrl = S(pushUrl_->text());
    h.PushToken = S(pushToken_->text());
    h.CameraLostSeconds = cameraLostSeconds_->Position();
    h.CameraLostMail = cameraLostMail_->isChecked() ? 1 : 0;

    WebSettings& w = settings.Web;
    w.Enable = webEnable_->isChecked() ? 1 : 0;
    w.Port = webPort_->Position();
    w.Tls = webTls_->isChecked() ? 1 : 0;
    if (!webPassword_->text().isEmpty() && web_.HashPassword)
        w.Password = web_.HashPassword(S(webPassword_->text()));
}

}  // namespace qv::dialogs
