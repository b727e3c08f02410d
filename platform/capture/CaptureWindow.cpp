#include "platform/capture/CaptureWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QSlider>
#include <QSpinBox>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/capture/avi/AviWriter.h"

namespace qv::capture {

namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint8_t Clamp8(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

QString FormatName(const VideoFormat& f) {
    QString kind;
    if (f.compression == bmp::kYuy2)
        kind = QStringLiteral("YUY2");
    else if (f.compression == bmp::kUyvy)
        kind = QStringLiteral("UYVY");
    else if (f.bitCount == 16 && f.compression == bmp::kBitfields)
        kind = QStringLiteral("RGB 5-6-5");
    else if (f.bitCount == 16)
        kind = QStringLiteral("RGB 5-5-5");
    else
        kind = QStringLiteral("RGB %1-bit").arg(f.bitCount);
    return QStringLiteral("%1 x %2, %3").arg(f.width).arg(f.height).arg(kind);
}

}  // namespace

BitmapHeader HeaderOf(const VideoFormat& format) {
    BitmapHeader h;
    h.biWidth = static_cast<int32_t>(format.width);
    h.biHeight = static_cast<int32_t>(format.height);
    h.biBitCount = format.bitCount;
    h.biCompression = format.compression;
    h.biSizeImage = format.imageSize ? format.imageSize : FrameBytes(format);
    return h;
}

QImage FrameToImage(const VideoFormat& f, const uint8_t* data, size_t length) {
    const int w = static_cast<int>(f.width), h = static_cast<int>(f.height);
    if (w <= 0 || h <= 0 || !data) return {};
    if (f.compression == bmp::kYuy2 || f.compression == bmp::kUyvy) {
        // Packed YUV rows run top-down, two pixels per four bytes.
        const size_t stride = static_cast<size_t>((w + 1) / 2) * 4;
        if (length < stride * h) return {};
        const bool yuy2 = f.compression == bmp::kYuy2;
        QImage img(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = data + stride * y;
            auto* d = reinterpret_cast<QRgb*>(img.scanLine(y));
            for (int x = 0; x < w; x += 2, s += 4) {
                const int y0 = yuy2 ? s[0] : s[1], y1 = yuy2 ? s[2] : s[3];
                const int u = (yuy2 ? s[1] : s[0]) - 128, v = (yuy2 ? s[3] : s[2]) - 128;
                for (int k = 0; k < 2 && x + k < w; ++k) {
                    const int yy = k ? y1 : y0;
                    d[x + k] = qRgb(Clamp8(yy + (1436 * v >> 10)),
                                    Clamp8(yy - ((352 * u + 731 * v) >> 10)),
                                    Clamp8(yy + (1815 * u >> 10)));
                }
            }
        }
        return img;
    }
    const bool rgb24 = f.bitCount == 24 && f.compression == bmp::kRgb;
    const bool rgb565 = f.bitCount == 16 && f.compression == bmp::kBitfields;
    const bool rgb555 = f.bitCount == 16 && f.compression == bmp::kRgb;
    if (!rgb24 && !rgb565 && !rgb555) return {};
    const size_t stride = ((static_cast<size_t>(w) * f.bitCount + 31) / 32) * 4;
    if (length < stride * h) return {};
    // RGB frames are bottom-up bitmaps. Everything becomes RGB32, the backing store's own
    // layout, so painting needs no further conversion.
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = data + stride * (h - 1 - y);
        auto* d = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            if (rgb24) {
                d[x] = qRgb(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
            } else {
                const int v = s[2 * x] | s[2 * x + 1] << 8;
                const int r = rgb565 ? (v >> 11) & 31 : (v >> 10) & 31;
                const int g = rgb565 ? (v >> 5) & 63 : (v >> 5) & 31;
                const int b = v & 31;
                d[x] = qRgb(r << 3 | r >> 2, rgb565 ? (g << 2 | g >> 4) : (g << 3 | g >> 2),
                            b << 3 | b >> 2);
            }
        }
    }
    return img;
}

CaptureWindow::CaptureWindow(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    timer_ = new QTimer(this);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &CaptureWindow::PreviewTick);
}

CaptureWindow::~CaptureWindow() {
    {
        // Callers still waiting get the default result.
        std::lock_guard<std::mutex> lock(queue_->mutex);
        queue_->closed = true;
        for (PendingCall* call : queue_->calls) call->done = true;
        queue_->calls.clear();
    }
    queue_->doneChanged.notify_all();
    if (driver_) driver_->Close();
}

namespace {
const QEvent::Type kRunCallsEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
}

// Any thread: runs f on the window thread and waits for its result.
template <typename F>
auto CaptureWindow::OnWindowThread(F&& f) -> decltype(f()) {
    using R = decltype(f());
    if (QThread::currentThread() == thread()) return f();
    R result{};
    PendingCall call;
    call.run = [&result, &f] { result = f(); };
    std::shared_ptr<CallQueue> queue = queue_;
    // Made before the queue's lock is released, so the window thread, which takes that lock
    // before it looks at an event, sees it whole (Qt's own queue lock is invisible to TSan).
    auto wake = std::make_unique<QEvent>(kRunCallsEvent);
    {
        std::lock_guard<std::mutex> lock(queue->mutex);
        if (queue->closed) return result;
        queue->calls.push_back(&call);
    }
    QCoreApplication::postEvent(this, wake.release());
    std::unique_lock<std::mutex> lock(queue->mutex);
    queue->doneChanged.wait(lock, [&call] { return call.done; });
    return result;
}

void CaptureWindow::RunPendingCalls() {
    // Re-entrant: a call that runs a local event loop (Sequence) lets later calls through.
    for (;;) {
        PendingCall* call = nullptr;
        {
            std::lock_guard<std::mutex> lock(queue_->mutex);
            if (queue_->calls.empty()) return;
            call = queue_->calls.front();
            queue_->calls.pop_front();
        }
        call->run();
        {
            std::lock_guard<std::mutex> lock(queue_->mutex);
            call->done = true;
        }
        queue_->doneChanged.notify_all();
    }
}

bool CaptureWindow::event(QEvent* e) {
    { std::lock_guard<std::mutex> lock(queue_->mutex); }  // pairs with OnWindowThread
    if (e->type() == kRunCallsEvent) {
        RunPendingCalls();
        return true;
    }
    return QWidget::event(e);
}

bool CaptureWindow::DriverConnect(int index) {
    return OnWindowThread([this, index] {
        if (driver_) return false;
        auto list = ListDrivers();
        if (index < 0 || index >= static_cast<int>(list.size()) || !list[index].create)
            return false;
        auto driver = list[index].create();
        if (!driver || !driver->Open()) return false;
        driver_ = std::move(driver);
        driverIndex_ = index;
        haveFrame_ = false;
        frame_.clear();
        shown_ = QImage();
        UpdateTimer();
        return true;
    });
}

bool CaptureWindow::DriverDisconnect() {
    return OnWindowThread([this] {
        if (!driver_) return false;
        driver_->Close();
        driver_.reset();
        driverIndex_ = -1;
        haveFrame_ = false;
        UpdateTimer();
        return true;
    });
}

DriverCaps CaptureWindow::GetDriverCaps() {
    return OnWindowThread([this] {
        DriverCaps caps;
        if (!driver_) return caps;
        caps.deviceIndex = driverIndex_;
        caps.hasOverlay = false;
        caps.hasDlgVideoSource = driver_->HasSourceDialog();
        caps.hasDlgVideoFormat = driver_->HasFormatDialog();
        caps.hasDlgVideoDisplay = true;
        caps.captureInitialized = true;
        return caps;
    });
}

bool CaptureWindow::GetStatus(CaptureStatus& status) {
    return OnWindowThread([this, &status] {
        if (!driver_) return false;
        const VideoFormat f = driver_->Format();
        status.imageWidth = f.width;
        status.imageHeight = f.height;
        status.liveWindow = preview_;
        status.overlayWindow = false;
        status.scale = scale_;
        status.capFileExists = capFileExists_;
        status.capturingNow = capturingNow_;
        status.currentVideoFrame = sequenceFrames_;
        return true;
    });
}

uint32_t CaptureWindow::VideoFormatSize() {
    return OnWindowThread([this]() -> uint32_t {
        if (!driver_) return 0;
        const VideoFormat f = driver_->Format();
        // A bit-field format carries its three colour masks after the header.
        return sizeof(BitmapHeader) +
               (f.bitCount == 16 && f.compression == bmp::kBitfields ? 12 : 0);
    });
}

bool CaptureWindow::GetVideoFormat(BitmapHeader& header) {
    return OnWindowThread([this, &header] {
        if (!driver_) return false;
        header = HeaderOf(driver_->Format());
        return true;
    });
}

bool CaptureWindow::SetPreview(bool on) {
    return OnWindowThread([this, on] {
        preview_ = on && driver_;
        UpdateTimer();
        update();
        return driver_ != nullptr;
    });
}

bool CaptureWindow::SetOverlay(bool on) {
    return OnWindowThread([this, on] { return !on && driver_ != nullptr; });
}

bool CaptureWindow::SetPreviewRate(int milliseconds) {
    return OnWindowThread([this, milliseconds] {
        previewRateMs_ = std::max(1, milliseconds);
        UpdateTimer();
        return true;
    });
}

bool CaptureWindow::SetScale(bool on) {
    return OnWindowThread([this, on] {
        scale_ = on;
        update();
        return true;
    });
}

bool CaptureWindow::MoveTo(int x, int y, int width, int height) {
    return OnWindowThread([this, x, y, width, height] {
        setGeometry(x, y, std::max(0, width), std::max(0, height));
        repaint();
        return true;
    });
}

bool CaptureWindow::GrabFrameNoStop() {
    return OnWindowThread([this] {
        if (!driver_) return false;
        const FrameResult r = driver_->TakeFrame(frame_);
        if (r == FrameResult::Lost) {
            ReportError(1, "The capture device is gone.");
            return false;
        }
        if (r != FrameResult::Frame) return false;
        frameFormat_ = driver_->Format();
        haveFrame_ = true;
        DeliverFrame();
        return true;
    });
}

bool CaptureWindow::SaveDib(const std::string& path) {
    return OnWindowThread([this, &path] {
        if (!driver_ || !haveFrame_) return false;
        const BitmapHeader h = HeaderOf(frameFormat_);
        const bool masks = h.biBitCount == 16 && h.biCompression == bmp::kBitfields;
        const uint32_t offset = 14 + 40 + (masks ? 12 : 0);
        const uint32_t imageBytes = static_cast<uint32_t>(
            std::min<size_t>(frame_.size(), h.biSizeImage ? h.biSizeImage : frame_.size()));
        std::vector<uint8_t> head;
        head.reserve(offset);
        head.push_back('B');
        head.push_back('M');
        Put32(head, offset + imageBytes);
        Put16(head, 0);
        Put16(head, 0);
        Put32(head, offset);
        Put32(head, h.biSize);
        Put32(head, static_cast<uint32_t>(h.biWidth));
        Put32(head, static_cast<uint32_t>(h.biHeight));
        Put16(head, h.biPlanes);
        Put16(head, h.biBitCount);
        Put32(head, h.biCompression);
        Put32(head, imageBytes);
        Put32(head, 0);
        Put32(head, 0);
        Put32(head, 0);
        Put32(head, 0);
        if (masks) {
            Put32(head, 0xF800);
            Put32(head, 0x07E0);
            Put32(head, 0x001F);
        }
        FilePtr file(std::fopen(path.c_str(), "wb"));
        if (!file) return false;
        if (std::fwrite(head.data(), 1, head.size(), file.get()) != head.size()) return false;
        if (std::fwrite(frame_.data(), 1, imageBytes, file.get()) != imageBytes) return false;
        return std::fclose(file.release()) == 0;
    });
}

bool CaptureWindow::SetCaptureFile(const std::string& path) {
    return OnWindowThread([this, &path] {
        if (capturingNow_) return false;
        captureFile_ = path;
        capFileExists_ = false;
        return true;
    });
}

bool CaptureWindow::AllocateFile(uint32_t bytes) {
    return OnWindowThread([this, bytes] {
        if (captureFile_.empty() || capturingNow_) return false;
        const int fd = ::open(captureFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) return false;
        const bool ok = ::ftruncate(fd, static_cast<off_t>(bytes)) == 0;
        ::close(fd);
        capFileExists_ = false;
        return ok;
    });
}

bool CaptureWindow::SaveCaptureFileAs(const std::string& path) {
    return OnWindowThread([this, &path] {
        if (!capFileExists_ || capturingNow_ || path == captureFile_) return false;
        FilePtr in(std::fopen(captureFile_.c_str(), "rb"));
        if (!in) return false;
        struct stat st {};
        if (fstat(fileno(in.get()), &st) != 0) return false;
        FilePtr out(std::fopen(path.c_str(), "wb"));
        if (!out) return false;
        std::vector<char> buf(1 << 16);
        const long long total = std::max<long long>(1, st.st_size);
        long long done = 0;
        int lastPercent = -1;
        bool ok = true;
        for (;;) {
            const size_t n = std::fread(buf.data(), 1, buf.size(), in.get());
            if (n == 0) break;
            if (std::fwrite(buf.data(), 1, n, out.get()) != n) {
                ok = false;
                break;
            }
            done += static_cast<long long>(n);
            const int percent = static_cast<int>(done * 100 / total);
            if (percent != lastPercent) {
                lastPercent = percent;
                Status(kStatusSaveAsPercent, "Saving file: " + std::to_string(percent) + "%");
            }
        }
        if (std::ferror(in.get())) ok = false;
        if (std::fclose(out.release()) != 0) ok = false;
        Status(kStatusClear, "");
        return ok;
    });
}

bool CaptureWindow::GetSequenceSetup(SequenceSetup& setup) {
    return OnWindowThread([this, &setup] {
        setup = setup_;
        return true;
    });
}

bool CaptureWindow::SetSequenceSetup(const SequenceSetup& setup) {
    return OnWindowThread([this, &setup] {
        if (capturingNow_) return false;
        setup_ = setup;
        return true;
    });
}

bool CaptureWindow::Sequence() {
    return OnWindowThread([this] {
        if (!driver_ || capturingNow_ || captureFile_.empty()) return false;
        const VideoFormat format = driver_->Format();
        const uint32_t usPerFrame = std::max<uint32_t>(1000, setup_.requestMicroSecPerFrame);
        AviWriter writer;
        if (!writer.Open(captureFile_, format, usPerFrame)) {
            ReportError(2, "Cannot create the capture file.");
            return false;
        }
        capturingNow_ = true;
        stopRequested_ = false;
        sequenceFrames_ = 0;
        Status(kStatusCaptureBegin, "Capture start");

        // The capture runs inside this request: a local loop keeps the thread's events
        // (Stop, queued calls from other threads) flowing while frames are recorded.
        QEventLoop loop;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QElapsedTimer clock;
        clock.start();
        const qint64 limitMs =
            setup_.limitEnabled ? static_cast<qint64>(setup_.timeLimit) * 1000 : -1;
        std::vector<uint8_t> latest;
        bool haveLatest = false;
        bool ok = true;
        qint64 nextFrameUs = 0;
        auto step = [&] {
            if (stopRequested_ || (limitMs >= 0 && clock.elapsed() >= limitMs)) {
                loop.quit();
                return;
            }
            const FrameResult r = driver_->TakeFrame(frame_);
            if (r == FrameResult::Lost) {
                ReportError(1, "The capture device is gone.");
                loop.quit();
                return;
            }
            if (r == FrameResult::Frame) {
                frameFormat_ = driver_->Format();
                haveFrame_ = true;
                latest = frame_;
                haveLatest = true;
            }
            // Frames go in at the requested rate; a slow source repeats its last frame.
            while (haveLatest && clock.nsecsElapsed() / 1000 >= nextFrameUs) {
                if (!writer.AddFrame(latest.data(), latest.size())) {
                    ok = false;
                    loop.quit();
                    return;
                }
                ++sequenceFrames_;
                nextFrameUs += usPerFrame;
            }
        };
        connect(&tick, &QTimer::timeout, &loop, step);
        tick.start(std::max<int>(1, static_cast<int>(usPerFrame / 2000)));
        step();
        if (!stopRequested_) loop.exec();
        tick.stop();
        if (!writer.Close()) ok = false;
        capturingNow_ = false;
        capFileExists_ = ok && sequenceFrames_ > 0;
        Status(kStatusCaptureEnd, "Capture end");
        Status(kStatusClear, "");
        return ok;
    });
}

bool CaptureWindow::Stop() {
    return OnWindowThread([this] {
        if (!capturingNow_) return false;
        stopRequested_ = true;
        return true;
    });
}

void CaptureWindow::SetFrameCallback(FrameCallback callback) {
    frameCallback_ = std::move(callback);
}
void CaptureWindow::SetStatusCallback(StatusCallback callback) {
    statusCallback_ = std::move(callback);
}
void CaptureWindow::SetErrorCallback(ErrorCallback callback) {
    errorCallback_ = std::move(callback);
}

void CaptureWindow::RepaintParent() {
    OnWindowThread([this] {
        if (QWidget* p = parentWidget()) {
            p->update();
            p->repaint();
        }
        return true;
    });
}

void CaptureWindow::ReportError(int id, const std::string& text) {
    if (errorCallback_) errorCallback_(this, id, text);
}

void CaptureWindow::Status(int id, const std::string& text) {
    if (statusCallback_) statusCallback_(this, id, text);
}

void CaptureWindow::UpdateTimer() {
    if (preview_ && driver_) {
        if (!timer_->isActive() || timer_->interval() != previewRateMs_)
            timer_->start(previewRateMs_);
    } else {
        timer_->stop();
    }
}

void CaptureWindow::PreviewTick() {
    if (!driver_ || !preview_ || capturingNow_) return;
    const FrameResult r = driver_->TakeFrame(frame_);
    if (r == FrameResult::Lost) {
        // The camera went away: stop asking until it is connected again.
        preview_ = false;
        UpdateTimer();
        ReportError(1, "The capture device is gone.");
        return;
    }
    if (r != FrameResult::Frame) return;
    frameFormat_ = driver_->Format();
    haveFrame_ = true;
    DeliverFrame();
}

void CaptureWindow::DeliverFrame() {
    // The callback may rewrite the buffer (the difference picture); preview shows the result.
    if (frameCallback_) frameCallback_(this, frame_.data(), frame_.size());
    if (preview_) {
        shown_ = FrameToImage(frameFormat_, frame_.data(), frame_.size());
        update();
    }
}

void CaptureWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (shown_.isNull()) {
        p.fillRect(rect(), Qt::black);
        return;
    }
    if (scale_) {
        p.drawImage(rect(), shown_);
    } else {
        p.fillRect(rect(), Qt::black);
        p.drawImage(0, 0, shown_);
    }
}

// Driver dialogs. Each is modal on the window thread; the result says it was shown.

bool CaptureWindow::DialogVideoSource() {
    return OnWindowThread([this] {
        if (!driver_ || !driver_->HasSourceDialog()) return false;
        QDialog dlg(this);
        dlg.setObjectName(QStringLiteral("QvVideoSourceDialog"));
        dlg.setWindowTitle(tr("Video Source"));
        auto* form = new QFormLayout;
        const std::vector<DriverControl> controls = driver_->Controls();
        if (controls.empty())
            form->addRow(new QLabel(tr("This camera has no adjustable controls.")));
        for (const DriverControl& c : controls) {
            const QString name = QString::fromStdString(c.name);
            QWidget* editor = nullptr;
            const uint32_t id = c.id;
            switch (c.kind) {
                case DriverControl::Kind::Boolean: {
                    auto* box = new QCheckBox;
                    box->setChecked(c.value != 0);
                    connect(box, &QCheckBox::toggled, &dlg,
                            [this, id](bool on) { driver_->SetControl(id, on ? 1 : 0); });
                    editor = box;
                    break;
                }
                case DriverControl::Kind::Menu: {
                    auto* box = new QComboBox;
                    for (const std::string& item : c.menuItems)
                        box->addItem(QString::fromStdString(item));
                    box->setCurrentIndex(c.value - c.minimum);
                    const int32_t minimum = c.minimum;
                    connect(box, &QComboBox::currentIndexChanged, &dlg, [this, id, minimum](int i) {
                        if (i >= 0) driver_->SetControl(id, minimum + i);
                    });
                    editor = box;
                    break;
                }
                case DriverControl::Kind::Integer: {
                    auto* box = new QSpinBox;
                    box->setRange(c.minimum, c.maximum);
                    box->setSingleStep(std::max(1, c.step));
                    box->setValue(c.value);
                    connect(box, &QSpinBox::valueChanged, &dlg,
                            [this, id](int v) { driver_->SetControl(id, v); });
                    editor = box;
                    break;
                }
            }
            editor->setObjectName(name);
            form->addRow(name, editor);
        }
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
        auto* layout = new QVBoxLayout(&dlg);
        layout->addLayout(form);
        layout->addWidget(buttons);
        if (dlg.exec() != QDialog::Accepted) {
            // Cancel puts the controls back as they were.
            for (const DriverControl& c : controls)
                if (driver_) driver_->SetControl(c.id, c.value);
        }
        return true;
    });
}

bool CaptureWindow::DialogVideoFormat() {
    return OnWindowThread([this] {
        if (!driver_ || !driver_->HasFormatDialog()) return false;
        const std::vector<VideoFormat> formats = driver_->Formats();
        const VideoFormat current = driver_->Format();
        QDialog dlg(this);
        dlg.setObjectName(QStringLiteral("QvVideoFormatDialog"));
        dlg.setWindowTitle(tr("Video Format"));
        auto* box = new QComboBox;
        box->setObjectName(QStringLiteral("formats"));
        for (const VideoFormat& f : formats) {
            box->addItem(FormatName(f));
            if (f.width == current.width && f.height == current.height &&
                f.bitCount == current.bitCount && f.compression == current.compression)
                box->setCurrentIndex(box->count() - 1);
        }
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
        auto* layout = new QVBoxLayout(&dlg);
        layout->addWidget(new QLabel(tr("Size and pixel format:")));
        layout->addWidget(box);
        layout->addWidget(buttons);
        if (dlg.exec() == QDialog::Accepted && driver_) {
            const int i = box->currentIndex();
            if (i >= 0 && i < static_cast<int>(formats.size()) && !(formats[i] == current)) {
                if (driver_->SetFormat(formats[i])) {
                    haveFrame_ = false;
                    shown_ = QImage();
                } else {
                    ReportError(4, "The camera refused the format.");
                }
            }
        }
        return true;
    });
}

bool CaptureWindow::DialogVideoDisplay() {
    return OnWindowThread([this] {
        if (!driver_) return false;
        QDialog dlg(this);
        dlg.setObjectName(QStringLiteral("QvVideoDisplayDialog"));
        dlg.setWindowTitle(tr("Video Display"));
        auto* layout = new QVBoxLayout(&dlg);
        layout->addWidget(new QLabel(FormatName(driver_->Format())));
        auto* scale = new QCheckBox(tr("Scale the picture to the window"));
        scale->setObjectName(QStringLiteral("scale"));
        scale->setChecked(scale_);
        layout->addWidget(scale);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
        layout->addWidget(buttons);
        if (dlg.exec() == QDialog::Accepted) {
            scale_ = scale->isChecked();
            update();
        }
        return true;
    });
}

bool CaptureWindow::DialogVideoCompression() {
    return OnWindowThread([this] {
        if (!driver_) return false;
        QMessageBox box(QMessageBox::Information, tr("Video Compression"),
                        tr("Frames are recorded uncompressed; there is nothing to choose."),
                        QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("QvVideoCompressionDialog"));
        box.exec();
        return true;
    });
}

}  // namespace qv::capture
