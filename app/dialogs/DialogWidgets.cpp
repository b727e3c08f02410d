// Widget helpers the dialogs share.
#include <QDialogButtonBox>
#include <QPushButton>

#include "app/dialogs/DialogWidgets.h"

namespace qv::dialogs {

// OK / Cancel and, when defaultId is not 0, a Default button with that id.
QDialogButtonBox* Buttons(QDialog* dialog, int defaultId, QPushButton** defaultButton) {
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("idc1"));
    ok->setDefault(true);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("idc2"));
    if (defaultId) {
        *defaultButton = buttons->addButton(QStringLiteral("ﾃﾞﾌｫﾙﾄ"), QDialogButtonBox::ResetRole);
        (*defaultButton)->setObjectName(QStringLiteral("idc%1").arg(defaultId));
    }
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

}  // namespace qv::dialogs
