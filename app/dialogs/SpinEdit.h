// A number field with up/down arrows, as a right-aligned edit plus a spin whose position is
// what the dialogs store. The edit accepts any digits so that a value out of range can be typed
// and corrected by the dialog's own rules (the attachment width); Position() clamps.
#pragma once

#include <QLineEdit>
#include <QWidget>
#include <cstddef>

#include "app/settings/Settings.h"

class QToolButton;

namespace qv::dialogs {

class SpinEdit : public QWidget {
    Q_OBJECT
  public:
    SpinEdit(int minimum, int maximum, QWidget* parent = nullptr);

    // The spin's position: the edit's number limited to the range (the minimum for no digits).
    int Position() const;
    // Moves the spin and rewrites the edit.
    void SetPosition(int value);
    void SetRange(int minimum, int maximum);
    int Minimum() const { return minimum_; }
    int Maximum() const { return maximum_; }
    QLineEdit* Edit() const { return edit_; }

  signals:
    // The edit's text changed (typed or rewritten).
    void TextChanged(const QString& text);
    // The edit lost the keyboard focus.
    void FocusLost();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Step(int delta);

    QLineEdit* edit_;
    QToolButton* up_;
    QToolButton* down_;
    int minimum_;
    int maximum_;
};

// Refuses input whose Shift-JIS form would exceed maxBytes in every line edit below root that
// has no validator of its own (the number fields keep theirs).
void LimitTextEdits(QWidget* root, std::size_t maxBytes);
// The same for one edit (a password: kPasswordBytes).
void LimitTextEdit(QLineEdit* edit, std::size_t maxBytes);

// A SpinEdit over the range the settings schema offers for member.
template <class R>
SpinEdit* SpinFor(int32_t R::*member, QWidget* parent) {
    const SettingKey& k = KeyOf(member);
    return new SpinEdit(k.Min, k.Max, parent);
}

}  // namespace qv::dialogs
