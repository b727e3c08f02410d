#include "app/window/HistoryWindow.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace qv::window {
namespace {

constexpr QSize kThumbnail(160, 120);

QImage ReadScaled(const std::string& path, QSize box) {
    QImageReader reader(QString::fromStdString(path));
    const QSize size = reader.size();
    // JPEG decodes straight to a smaller size, which keeps a day of pictures quick to list.
    if (size.isValid()) reader.setScaledSize(size.scaled(box, Qt::KeepAspectRatio));
    return reader.read();
}

bool Steppable(const qv::history::Entry& e) {
    return !e.Picture.empty() && e.Exists;
}

}  // namespace

QString HistoryCaption(const qv::history::Entry& e) {
    QString text =
        QString::asprintf("%02d:%02d:%02d ", e.When.tm_hour, e.When.tm_min, e.When.tm_sec);
    if (e.Kind == qv::history::kMail) {
        text += e.MailFailed ? QStringLiteral("メール失敗 ") : QStringLiteral("メール ");
        return text + QString::fromStdString(e.Text);
    }
    text +=
        e.Kind == qv::history::kDetect ? QStringLiteral("動体検知") : QStringLiteral("タイマー");
    if (e.Warning) text += QStringLiteral(" 警告");
    if (!e.Exists) text += QStringLiteral(" （削除済み）");
    return text;
}

CHistoryWindow::CHistoryWindow(qv::history::Folders folders, QWidget* parent)
    : QWidget(parent, Qt::Window), folders_(std::move(folders)) {
    setWindowTitle(QStringLiteral("履歴"));
    Confirm = [this](const QString& question) {
        return QMessageBox::question(this, windowTitle(), question) == QMessageBox::Yes;
    };
    stack_ = new QStackedWidget(this);
    auto* box = new QVBoxLayout(this);
    box->addWidget(stack_);

    // The day: the days on the left, the day's thumbnails beside them.
    auto* dayPage = new QWidget(stack_);
    auto* dayRow = new QHBoxLayout(dayPage);
    days_ = new QListWidget(dayPage);
    days_->setObjectName(QStringLiteral("historyDays"));
    days_->setMaximumWidth(120);
    pictures_ = new QListWidget(dayPage);
    pictures_->setObjectName(QStringLiteral("historyPictures"));
    pictures_->setViewMode(QListView::IconMode);
    pictures_->setIconSize(kThumbnail);
    pictures_->setResizeMode(QListView::Adjust);
    pictures_->setMovement(QListView::Static);
    pictures_->setWordWrap(true);
    pictures_->setGridSize(kThumbnail + QSize(24, 48));
    dayRow->addWidget(days_);
    dayRow->addWidget(pictures_, 1);
    stack_->addWidget(dayPage);
    connect(days_, &QListWidget::currentTextChanged, this,
            [this](const QString& day) { ShowDay(day.toStdString()); });
    connect(pictures_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { OpenLarge(pictures_->row(item)); });

    // One picture, large.
    auto* largePage = new QWidget(stack_);
    auto* largeBox = new QVBoxLayout(largePage);
    caption_ = new QLabel(largePage);
    large_ = new QLabel(largePage);
    large_->setAlignment(Qt::AlignCenter);
    large_->setMinimumSize(1, 1);
    auto* buttons = new QHBoxLayout;
    previous_ = new QPushButton(QStringLiteral("◀ 前へ"), largePage);
    next_ = new QPushButton(QStringLiteral("次へ ▶"), largePage);
    auto* remove = new QPushButton(QStringLiteral("削除"), largePage);
    auto* back = new QPushButton(QStringLiteral("一覧へ"), largePage);
    previous_->setObjectName(QStringLiteral("historyPrevious"));
    next_->setObjectName(QStringLiteral("historyNext"));
    remove->setObjectName(QStringLiteral("historyDelete"));
    back->setObjectName(QStringLiteral("historyBack"));
    for (QPushButton* b : {previous_, next_, remove, back}) {
        b->setFocusPolicy(Qt::NoFocus);  // the arrow keys stay the window's
        buttons->addWidget(b);
    }
    largeBox->addWidget(caption_);
    largeBox->addWidget(large_, 1);
    largeBox->addLayout(buttons);
    stack_->addWidget(largePage);
    // The list is newest first: "previous" is the older picture, further down.
    connect(previous_, &QPushButton::clicked, this, [this] { Step(+1); });
    connect(next_, &QPushButton::clicked, this, [this] { Step(-1); });
    connect(remove, &QPushButton::clicked, this, [this] { DeleteShown(); });
    connect(back, &QPushButton::clicked, this, [this] { BackToDay(); });

    setFocusPolicy(Qt::StrongFocus);
    resize(760, 520);
    Reload();
}

void CHistoryWindow::Reload() {
    const std::string keep = day_;
    const QSignalBlocker block(days_);
    days_->clear();
    int select = 0;
    const auto days = qv::history::Days(folders_.Log);
    for (std::size_t i = 0; i < days.size(); ++i) {
        days_->addItem(QString::fromStdString(days[i]));
        if (days[i] == keep) select = static_cast<int>(i);
    }
    if (days.empty()) {
        day_.clear();
        entries_.clear();
        FillPictures();
        return;
    }
    days_->setCurrentRow(select);
    ShowDay(days[static_cast<std::size_t>(select)]);
}

void CHistoryWindow::SetFolders(qv::history::Folders folders) {
    folders_ = std::move(folders);
    Reload();
}

void CHistoryWindow::ShowDay(const std::string& day) {
    day_ = day;
    entries_ = qv::history::ReadDay(folders_, day);
    FillPictures();
    BackToDay();
}

void CHistoryWindow::FillPictures() {
    pictures_->clear();
    for (const auto& e : entries_) {
        auto* item = new QListWidgetItem(HistoryCaption(e), pictures_);
        if (Steppable(e)) {
            const QImage thumb = ReadScaled(e.Picture, kThumbnail);
            if (!thumb.isNull()) item->setIcon(QIcon(QPixmap::fromImage(thumb)));
        }
        if (e.Warning || e.MailFailed) item->setForeground(QColor(200, 0, 0));
    }
}

bool CHistoryWindow::OpenLarge(int index) {
    if (index < 0 || index >= static_cast<int>(entries_.size()) ||
        !Steppable(entries_[static_cast<std::size_t>(index)]))
        return false;
    shown_ = index;
    ShowLarge();
    return true;
}

void CHistoryWindow::ShowLarge() {
    const auto& e = entries_[static_cast<std::size_t>(shown_)];
    // As large as the screen allows, keeping the picture's shape.
    QSize room(1024, 768);
    if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen())
        room = s->availableGeometry().size() * 9 / 10 - QSize(40, 100);
    const QImage picture = ReadScaled(e.Picture, room);
    large_->setPixmap(QPixmap::fromImage(picture));
    caption_->setText(day_.empty() ? HistoryCaption(e)
                                   : QString::fromStdString(day_) + " " + HistoryCaption(e));
    auto findStep = [this](int delta) {
        for (int i = shown_ + delta; i >= 0 && i < static_cast<int>(entries_.size()); i += delta)
            if (Steppable(entries_[static_cast<std::size_t>(i)])) return i;
        return -1;
    };
    previous_->setEnabled(findStep(+1) >= 0);
    next_->setEnabled(findStep(-1) >= 0);
    stack_->setCurrentIndex(1);
    setFocus();  // the arrow keys
    if (!picture.isNull()) resize(size().expandedTo(picture.size() + QSize(40, 100)));
}

void CHistoryWindow::Step(int delta) {
    if (shown_ < 0) return;
    for (int i = shown_ + delta; i >= 0 && i < static_cast<int>(entries_.size()); i += delta) {
        if (Steppable(entries_[static_cast<std::size_t>(i)])) {
            shown_ = i;
            ShowLarge();
            return;
        }
    }
}

void CHistoryWindow::DeleteShown() {
    if (shown_ < 0) return;
    auto& e = entries_[static_cast<std::size_t>(shown_)];
    if (!Confirm(QStringLiteral("%1 を削除しますか？").arg(QString::fromStdString(e.Text)))) return;
    if (!qv::history::DeletePicture(e)) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("削除できませんでした"));
        return;
    }
    e.Exists = false;
    if (QListWidgetItem* item = pictures_->item(shown_)) {
        item->setText(HistoryCaption(e));
        item->setIcon(QIcon());
    }
    // On to the next older picture, else the newer one, else back to the day.
    const int was = shown_;
    Step(+1);
    if (shown_ == was) Step(-1);
    if (shown_ == was) BackToDay();
}

void CHistoryWindow::BackToDay() {
    shown_ = -1;
    large_->clear();
    stack_->setCurrentIndex(0);
}

void CHistoryWindow::keyPressEvent(QKeyEvent* e) {
    if (shown_ >= 0) {
        switch (e->key()) {
            case Qt::Key_Left:
                Step(+1);
                return;
            case Qt::Key_Right:
                Step(-1);
                return;
            case Qt::Key_Delete:
                DeleteShown();
                return;
            case Qt::Key_Escape:
                BackToDay();
                return;
        }
    }
    QWidget::keyPressEvent(e);
}

}  // namespace qv::window
