// Widget helpers the dialogs share.
#include <QDialogButtonBox>
#include <QPushButton>

#include "app/dialogs/DialogWidgets.h"

namespace qv::dialogs {

QDialogButtonBox* Buttons(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(dialog);
    AddButton(buttons, "OK", QDialogButtonBox::AcceptRole, ControlId::Ok)->setDefault(true);
    AddButton(buttons, "ｷｬﾝｾﾙ", QDialogButtonBox::RejectRole, ControlId::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

QPushButton* AddButton(QDialogButtonBox* buttons, const char* text,
                       QDialogButtonBox::ButtonRole role, ControlId id) {
    return Named(buttons->addButton(QString::fromUtf8(text), role), id);
}

}  // namespace qv::dialogs
