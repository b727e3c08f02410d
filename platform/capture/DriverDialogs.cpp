#include "platform/capture/DriverDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace qv::capture {

namespace {

// OK and キャンセル under the dialog's contents.
void AddButtons(QDialog& dlg, QVBoxLayout* layout) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    layout->addWidget(buttons);
}

QWidget* ControlEditor(const DriverControl& c, QDialog& dlg,
                       const std::function<void(uint32_t, int32_t)>& set) {
    const uint32_t id = c.id;
    switch (c.kind) {
        case DriverControl::Kind::Boolean: {
            auto* box = new QCheckBox;
            box->setChecked(c.value != 0);
            QObject::connect(box, &QCheckBox::toggled, &dlg,
                             [set, id](bool on) { set(id, on ? 1 : 0); });
            return box;
        }
        case DriverControl::Kind::Menu: {
            auto* box = new QComboBox;
            for (const std::string& item : c.menuItems) box->addItem(QString::fromStdString(item));
            box->setCurrentIndex(c.value - c.minimum);
            const int32_t minimum = c.minimum;
            QObject::connect(box, &QComboBox::currentIndexChanged, &dlg, [set, id, minimum](int i) {
                if (i >= 0) set(id, minimum + i);
            });
            return box;
        }
        case DriverControl::Kind::Integer:
            break;
    }
    auto* box = new QSpinBox;
    box->setRange(c.minimum, c.maximum);
    box->setSingleStep(std::max(1, c.step));
    box->setValue(c.value);
    QObject::connect(box, &QSpinBox::valueChanged, &dlg, [set, id](int v) { set(id, v); });
    return box;
}

}  // namespace

QString FormatName(const VideoFormat& f) {
    QString kind;
    if (f.compression == bitmap::kYuy2)
        kind = QStringLiteral("YUY2");
    else if (f.compression == bitmap::kUyvy)
        kind = QStringLiteral("UYVY");
    else if (f.bitCount == 16 && f.compression == bitmap::kBitfields)
        kind = QStringLiteral("RGB 5-6-5");
    else if (f.bitCount == 16)
        kind = QStringLiteral("RGB 5-5-5");
    else
        kind = QStringLiteral("RGB %1ビット").arg(f.bitCount);
    return QStringLiteral("%1 × %2、%3").arg(f.width).arg(f.height).arg(kind);
}

void RunSourceDialog(QWidget* parent, const std::vector<DriverControl>& controls,
                     const std::function<void(uint32_t, int32_t)>& setControl) {
    QDialog dlg(parent);
    dlg.setObjectName(QStringLiteral("QvVideoSourceDialog"));
    dlg.setWindowTitle(QStringLiteral("ビデオソース"));
    auto* form = new QFormLayout;
    if (controls.empty())
        form->addRow(new QLabel(QStringLiteral("このカメラには調整できる項目がありません。")));
    for (const DriverControl& c : controls) {
        QWidget* editor = ControlEditor(c, dlg, setControl);
        editor->setObjectName(QString::fromStdString(c.name));
        form->addRow(QString::fromStdString(c.name), editor);
    }
    auto* layout = new QVBoxLayout(&dlg);
    layout->addLayout(form);
    AddButtons(dlg, layout);
    if (dlg.exec() != QDialog::Accepted)
        for (const DriverControl& c : controls) setControl(c.id, c.value);
}

std::optional<VideoFormat> RunFormatDialog(QWidget* parent, const std::vector<VideoFormat>& formats,
                                           const VideoFormat& current) {
    QDialog dlg(parent);
    dlg.setObjectName(QStringLiteral("QvVideoFormatDialog"));
    dlg.setWindowTitle(QStringLiteral("ビデオ形式"));
    auto* box = new QComboBox;
    box->setObjectName(QStringLiteral("formats"));
    for (const VideoFormat& f : formats) {
        box->addItem(FormatName(f));
        if (f.width == current.width && f.height == current.height &&
            f.bitCount == current.bitCount && f.compression == current.compression)
            box->setCurrentIndex(box->count() - 1);
    }
    auto* layout = new QVBoxLayout(&dlg);
    layout->addWidget(new QLabel(QStringLiteral("サイズとピクセル形式：")));
    layout->addWidget(box);
    AddButtons(dlg, layout);
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    const int i = box->currentIndex();
    if (i < 0 || i >= static_cast<int>(formats.size()) || formats[i] == current)
        return std::nullopt;
    return formats[i];
}

std::optional<bool> RunDisplayDialog(QWidget* parent, const VideoFormat& current, bool scale) {
    QDialog dlg(parent);
    dlg.setObjectName(QStringLiteral("QvVideoDisplayDialog"));
    dlg.setWindowTitle(QStringLiteral("ビデオ表示"));
    auto* layout = new QVBoxLayout(&dlg);
    layout->addWidget(new QLabel(FormatName(current)));
    auto* box = new QCheckBox(QStringLiteral("映像をウィンドウの大きさに合わせる"));
    box->setObjectName(QStringLiteral("scale"));
    box->setChecked(scale);
    layout->addWidget(box);
    AddButtons(dlg, layout);
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    return box->isChecked();
}

void RunCompressionDialog(QWidget* parent) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("ビデオ圧縮"),
                    QStringLiteral("映像は圧縮せずに記録します。選べる形式はありません。"),
                    QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("QvVideoCompressionDialog"));
    box.exec();
}

}  // namespace qv::capture
