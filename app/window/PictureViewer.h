// "画像表示": the modeless window that shows a saved picture picked from the event list.
#pragma once

#include <QDialog>
#include <QImage>
#include <functional>
#include <string>

class QLabel;

namespace qv::window {

class CPictureViewer : public QDialog {
    Q_OBJECT
  public:
    // Decodes a picture file; a null image when it cannot be read.
    using Decoder = std::function<QImage(const std::string& path)>;

    explicit CPictureViewer(QWidget* parent = nullptr, Decoder decoder = {});

    // Shows the path, decodes the picture, fits the window to it and comes to the front.
    // A picture that cannot be decoded leaves the path and no picture.
    void LoadPicture(const std::string& path);

    std::string ShownPath() const { return path_; }
    const QImage& Picture() const { return picture_; }

  private:
    Decoder decoder_;
    std::string path_;
    QImage picture_;
    QLabel* pathLabel_;
    QLabel* pictureLabel_;
};

}  // namespace qv::window
