// The preview: a child widget of the host window that paints the newest camera picture
// (scaled to the widget or at its own size) or, while a network camera is away, says so.
// Window thread only.
#pragma once

#include <QImage>
#include <QWidget>

#include <cstddef>
#include <cstdint>

#include "platform/capture/CaptureDriver.h"

namespace qv::capture {

// The preview's object name and the property holding its newest picture: the core library is a
// shared library with its own hidden copy of this class, so the program reaches its preview
// through QObject alone.
inline constexpr const char* kPreviewObjectName = "qv-capture-preview";
inline constexpr const char* kPreviewFrameProperty = "qvFrame";

class PreviewWidget : public QWidget {
  public:
    explicit PreviewWidget(QWidget* parent);

    void ShowImage(QImage image);
    void SetScale(bool on);
    void SetLink(LinkState link);

    bool Scaling() const { return scale_; }
    LinkState Link() const { return link_; }
    const QImage& ShownImage() const { return shown_; }
    // What the preview says instead of a picture, or an empty text.
    QString Notice() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage shown_;
    bool scale_ = false;
    LinkState link_ = LinkState::Live;
};

// A frame of a format as a picture for painting (top row first); null when it does not fit.
QImage FrameToImage(const VideoFormat& format, const uint8_t* data, size_t length);

}  // namespace qv::capture
