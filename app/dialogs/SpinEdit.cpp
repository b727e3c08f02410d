#include "app/dialogs/SpinEdit.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>
#include <QValidator>
#include <algorithm>

#include "platform/text/Text.h"

namespace qv::dialogs {
namespace {

class Cp932ByteValidator : public QValidator {
  public:
    Cp932ByteValidator(std::size_t maxBytes, QObject* parent)
        : QValidator(parent), maxBytes_(maxBytes) {}
    State validate(QString& input, int&) const override {
        return qv::text::Utf8ToCp932(input.toStdString()).size() > maxBytes_ ? Invalid : Acceptable;
    }

  private:
    std::size_t maxBytes_;
};

}  // namespace

void LimitTextEdit(QLineEdit* edit, std::size_t maxBytes) {
    edit->setValidator(new Cp932ByteValidator(maxBytes, edit));
}

void LimitTextEdits(QWidget* root, std::size_t maxBytes) {
    for (QLineEdit* edit : root->findChildren<QLineEdit*>()) {
        if (!edit->validator()) LimitTextEdit(edit, maxBytes);
    }
}

SpinEdit::SpinEdit(int minimum, int maximum, QWidget* parent)
    : QWidget(parent), minimum_(minimum), maximum_(maximum) {
    edit_ = new QLineEdit(this);
    edit_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Digits only, but any count of them: the range is the spin's business.
    edit_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,6}")), edit_));
    edit_->setMaximumWidth(64);
    edit_->installEventFilter(this);
    up_ = new QToolButton(this);
    down_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFixedSize(16, 11);
        b->setFocusPolicy(Qt::NoFocus);
    }
    auto* arrows = new QVBoxLayout;
    arrows->setContentsMargins(0, 0, 0, 0);
    arrows->setSpacing(0);
    arrows->addWidget(up_);
    arrows->addWidget(down_);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(1);
    row->addWidget(edit_);
    row->addLayout(arrows);
    connect(up_, &QToolButton::clicked, this, [this] { Step(1); });
    connect(down_, &QToolButton::clicked, this, [this] { Step(-1); });
    connect(edit_, &QLineEdit::textChanged, this, &SpinEdit::TextChanged);
    setFocusProxy(edit_);
    SetPosition(minimum);
}

int SpinEdit::Position() const {
    bool ok = false;
    const long long v = edit_->text().toLongLong(&ok);
    if (!ok) return minimum_;
    return static_cast<int>(std::clamp<long long>(v, minimum_, maximum_));
}

void SpinEdit::SetPosition(int value) {
    value = std::clamp(value, minimum_, maximum_);
    edit_->setText(QString::number(value));
}

void SpinEdit::SetRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
}

void SpinEdit::Step(int delta) {
    SetPosition(Position() + delta);
}

bool SpinEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit_) {
        if (event->type() == QEvent::FocusOut) {
            emit FocusLost();
        } else if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Up || key == Qt::Key_Down) {
                Step(key == Qt::Key_Up ? 1 : -1);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace qv::dialogs
