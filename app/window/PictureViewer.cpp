#include "app/window/PictureViewer.h"

#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

namespace qv::window {

CPictureViewer::CPictureViewer(QWidget* parent, Decoder decoder)
    : QDialog(parent), decoder_(std::move(decoder)) {
    setWindowTitle(QStringLiteral("画像表示"));
    setModal(false);
    if (!decoder_) {
        decoder_ = [](const std::string& path) {
            QImageReader reader(QString::fromStdString(path));
            return reader.read();
        };
    }
    pathLabel_ = new QLabel(this);
    pathLabel_->setObjectName(QStringLiteral("idc1030"));
    pathLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pictureLabel_ = new QLabel(this);
    pictureLabel_->setObjectName(QStringLiteral("idc1028"));
    pictureLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(0);
    box->addWidget(pathLabel_);
    box->addWidget(pictureLabel_, 1);
    box->setSizeConstraint(QLayout::SetFixedSize);
}

void CPictureViewer::LoadPicture(const std::string& path) {
    if (!isVisible()) show();
    picture_ = QImage();  // the old picture goes first
    path_ = path;
    pathLabel_->setText(QString::fromStdString(path));
    picture_ = decoder_(path);
    if (picture_.isNull()) {
        pictureLabel_->setPixmap(QPixmap());
        pictureLabel_->setFixedSize(320, 0);
    } else {
        pictureLabel_->setFixedSize(picture_.size());
        pictureLabel_->setPixmap(QPixmap::fromImage(picture_));
    }
    adjustSize();
    update();
    raise();
    activateWindow();
}

}  // namespace qv::window
