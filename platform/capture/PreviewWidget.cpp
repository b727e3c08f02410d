#include "platform/capture/PreviewWidget.h"

#include <QPainter>

#include "platform/capture/Bitmap.h"

namespace qv::capture {

PreviewWidget::PreviewWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setObjectName(kPreviewObjectName);
}

void PreviewWidget::ShowImage(QImage image) {
    shown_ = std::move(image);
    setProperty(kPreviewFrameProperty, shown_);  // shared, not copied
    update();
}

void PreviewWidget::SetScale(bool on) {
    scale_ = on;
    update();
}

void PreviewWidget::SetLink(LinkState link) {
    if (link == link_) return;
    link_ = link;
    update();
}

QString PreviewWidget::Notice() const {
    switch (link_) {
        case LinkState::Connecting:
            return QStringLiteral("接続中…");
        case LinkState::Lost:
            return QStringLiteral("カメラ切断");
        case LinkState::Live:
            break;
    }
    return {};
}

void PreviewWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    const QString notice = Notice();
    if (!notice.isEmpty()) {
        // A network camera that is away shows no stale picture.
        p.setPen(Qt::white);
        p.drawText(rect(), Qt::AlignCenter, notice);
        return;
    }
    if (shown_.isNull()) return;
    if (scale_)
        p.drawImage(rect(), shown_);
    else
        p.drawImage(0, 0, shown_);
}

QImage FrameToImage(const VideoFormat& f, const uint8_t* data, size_t length) {
    const int w = static_cast<int>(f.width), h = static_cast<int>(f.height);
    if (w <= 0 || h <= 0 || !data || length < FrameBytes(f)) return {};
    uint8_t bgr[3];
    // Everything becomes RGB32, the backing store's own layout.
    QImage img(w, h, QImage::Format_RGB32);
    if (f.compression == bitmap::kYuy2 || f.compression == bitmap::kUyvy) {
        // Packed YUV rows run top-down, two pixels per four bytes.
        const size_t stride = static_cast<size_t>((w + 1) / 2) * 4;
        const bool yuy2 = f.compression == bitmap::kYuy2;
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = data + stride * y;
            auto* d = reinterpret_cast<QRgb*>(img.scanLine(y));
            for (int x = 0; x < w; ++x) {
                const uint8_t* g = s + (x / 2) * 4;
                const int luma = g[(yuy2 ? 0 : 1) + (x % 2) * 2];
                bitmap::YuvToBgr(luma, g[yuy2 ? 1 : 0], g[yuy2 ? 3 : 2], bgr);
                d[x] = qRgb(bgr[2], bgr[1], bgr[0]);
            }
        }
        return img;
    }
    const bool rgb24 = f.bitCount == 24 && f.compression == bitmap::kRgb;
    const bool rgb565 = f.bitCount == 16 && f.compression == bitmap::kBitfields;
    const bool rgb555 = f.bitCount == 16 && f.compression == bitmap::kRgb;
    if (!rgb24 && !rgb565 && !rgb555) return {};
    // RGB frames are bottom-up bitmaps.
    const size_t stride = ((static_cast<size_t>(w) * f.bitCount + 31) / 32) * 4;
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = data + stride * (h - 1 - y);
        auto* d = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            if (rgb24) {
                d[x] = qRgb(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
                continue;
            }
            const int v = s[2 * x] | s[2 * x + 1] << 8;
            const int r = rgb565 ? (v >> 11) & 31 : (v >> 10) & 31;
            const int g = rgb565 ? (v >> 5) & 63 : (v >> 5) & 31;
            const int b = v & 31;
            d[x] = qRgb(r << 3 | r >> 2, rgb565 ? (g << 2 | g >> 4) : (g << 3 | g >> 2),
                        b << 3 | b >> 2);
        }
    }
    return img;
}

}  // namespace qv::capture
