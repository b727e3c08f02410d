#include "platform/capture/CaptureSession.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "platform/capture/Bitmap.h"
#include "platform/capture/DriverDialogs.h"
#include "platform/capture/avi/AviWriter.h"
#include "platform/file/Owners.h"

namespace qv::capture {

namespace {

bool IsRgb24(const VideoFormat& f) {
    return f.bitCount == 24 && f.compression == bitmap::kRgb;
}

// The frame as a bottom-up 24-bit bitmap.
bool ToRgb24(const VideoFormat& f, const std::vector<uint8_t>& frame, VideoFormat& out,
             std::vector<uint8_t>& pixels) {
    const QImage img = FrameToImage(f, frame.data(), frame.size());
    if (img.isNull()) return false;
    out = VideoFormat{f.width, f.height, 24, bitmap::kRgb, 0};
    out.imageSize = FrameBytes(out);
    pixels.assign(out.imageSize, 0);
    const size_t stride = out.imageSize / out.height;
    for (uint32_t y = 0; y < out.height; ++y) {
        const auto* s = reinterpret_cast<const QRgb*>(img.constScanLine(static_cast<int>(y)));
        uint8_t* d = pixels.data() + stride * (out.height - 1 - y);
        for (uint32_t x = 0; x < out.width; ++x) {
            d[3 * x] = static_cast<uint8_t>(qBlue(s[x]));
            d[3 * x + 1] = static_cast<uint8_t>(qGreen(s[x]));
            d[3 * x + 2] = static_cast<uint8_t>(qRed(s[x]));
        }
    }
    return true;
}

// A frame in its own format as a BMP file; a bit-field format carries its three masks.
bool WriteDib(const std::string& path, const VideoFormat& f, const std::vector<uint8_t>& pixels) {
    const bool masks = f.bitCount == 16 && f.compression == bitmap::kBitfields;
    const uint32_t imageBytes = static_cast<uint32_t>(
        std::min<size_t>(pixels.size(), f.imageSize ? f.imageSize : pixels.size()));
    const auto info =
        bitmap::InfoHeader(static_cast<int32_t>(f.width), static_cast<int32_t>(f.height),
                           f.bitCount, f.compression, imageBytes);
    const auto head = bitmap::FileHeader(40 + (masks ? 12 : 0), imageBytes);
    uint8_t maskBytes[12];
    bitmap::Put32(maskBytes, 0xF800);
    bitmap::Put32(maskBytes + 4, 0x07E0);
    bitmap::Put32(maskBytes + 8, 0x001F);
    UniqueFile file(std::fopen(path.c_str(), "wb"));
    if (!file) return false;
    if (std::fwrite(head.data(), 1, head.size(), file.get()) != head.size() ||
        std::fwrite(info.data(), 1, info.size(), file.get()) != info.size() ||
        (masks && std::fwrite(maskBytes, 1, 12, file.get()) != 12) ||
        std::fwrite(pixels.data(), 1, imageBytes, file.get()) != imageBytes)
        return false;
    return std::fclose(file.release()) == 0;
}

}  // namespace

bitmap::Info HeaderOf(const VideoFormat& format) {
    bitmap::Info h;
    h.Width = static_cast<int32_t>(format.width);
    h.Height = static_cast<int32_t>(format.height);
    h.BitCount = format.bitCount;
    h.Compression = format.compression;
    h.SizeImage = format.imageSize ? format.imageSize : FrameBytes(format);
    return h;
}

CaptureSession::CaptureSession(QWidget* parent)
    : preview_(new PreviewWidget(parent)), timer_(new QTimer(this)) {
    setParent(preview_);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &CaptureSession::PreviewTick);
}

CaptureSession::~CaptureSession() {
    // Callers still waiting get the default result.
    handoff_.Close();
    if (driver_) driver_->Close();
}

bool CaptureSession::DriverConnect(int index) {
    return handoff_.Call([this, index] {
        if (driver_) return false;
        auto list = ListDrivers();
        if (index < 0 || index >= static_cast<int>(list.size()) || !list[index].create)
            return false;
        auto driver = list[index].create();
        if (!driver || !driver->Open()) return false;
        driver_ = std::move(driver);
        driverIndex_ = index;
        lost_ = false;
        haveGrab_ = false;
        frame_.clear();
        preview_->ShowImage({});
        preview_->SetLink(driver_->Link());
        UpdateTimer();
        return true;
    });
}

bool CaptureSession::DriverDisconnect() {
    return handoff_.Call([this] {
        if (!driver_) return false;
        driver_->Close();
        driver_.reset();
        driverIndex_ = -1;
        haveGrab_ = false;
        UpdateTimer();
        return true;
    });
}

DriverCaps CaptureSession::GetDriverCaps() {
    return handoff_.Call([this] {
        DriverCaps caps;
        if (!driver_) return caps;
        caps.deviceIndex = driverIndex_;
        caps.hasDlgVideoSource = driver_->HasSourceDialog();
        caps.hasDlgVideoFormat = driver_->HasFormatDialog();
        caps.hasDlgVideoDisplay = true;
        caps.captureInitialized = true;
        return caps;
    });
}

LinkState CaptureSession::CurrentLink() const {
    return lost_ ? LinkState::Lost : driver_->Link();
}

bool CaptureSession::GetStatus(CaptureStatus& status) {
    return handoff_.Call([this, &status] {
        if (!driver_) return false;
        const VideoFormat f = driver_->Format();
        status.imageWidth = f.width;
        status.imageHeight = f.height;
        status.liveWindow = preview_on_;
        status.scale = preview_->Scaling();
        status.capFileExists = capFileExists_;
        status.capturingNow = capturingNow_;
        status.currentVideoFrame = sequenceFrames_;
        status.link = CurrentLink();
        return true;
    });
}

bool CaptureSession::GetVideoFormat(bitmap::Info& header) {
    return handoff_.Call([this, &header] {
        if (!driver_) return false;
        header = HeaderOf(driver_->Format());
        return true;
    });
}

bool CaptureSession::SetPreview(bool on) {
    return handoff_.Call([this, on] {
        preview_on_ = on && driver_;
        UpdateTimer();
        preview_->update();
        return driver_ != nullptr;
    });
}

bool CaptureSession::SetPreviewRate(int milliseconds) {
    return handoff_.Call([this, milliseconds] {
        previewRateMs_ = std::max(1, milliseconds);
        UpdateTimer();
        return true;
    });
}

bool CaptureSession::SetScale(bool on) {
    return handoff_.Call([this, on] {
        preview_->SetScale(on);
        return true;
    });
}

bool CaptureSession::MoveTo(int x, int y, int width, int height) {
    return handoff_.Call([this, x, y, width, height] {
        preview_->setGeometry(x, y, std::max(0, width), std::max(0, height));
        preview_->repaint();
        return true;
    });
}

bool CaptureSession::Pull() {
    const FrameResult r = driver_->TakeFrame(frame_);
    if (r == FrameResult::Lost) {
        // The camera went away: stop asking until it is connected again.
        lost_ = true;
        preview_->SetLink(LinkState::Lost);
        UpdateTimer();
        return false;
    }
    preview_->SetLink(driver_->Link());
    if (r != FrameResult::Frame) return false;
    frameFormat_ = driver_->Format();
    return true;
}

bool CaptureSession::GrabFrameNoStop() {
    return handoff_.Call([this] {
        if (!driver_ || lost_ || !Pull()) return false;
        grabbed_ = frame_;
        grabbedFormat_ = frameFormat_;
        haveGrab_ = true;
        DeliverFrame();
        return true;
    });
}

bool CaptureSession::SaveDib(const std::string& path, bool rgb24) {
    return handoff_.Call([this, &path, rgb24] {
        if (!driver_ || !haveGrab_) return false;
        if (!rgb24 || IsRgb24(grabbedFormat_)) return WriteDib(path, grabbedFormat_, grabbed_);
        VideoFormat f;
        std::vector<uint8_t> pixels;
        return ToRgb24(grabbedFormat_, grabbed_, f, pixels) && WriteDib(path, f, pixels);
    });
}

bool CaptureSession::SetCaptureFile(const std::string& path) {
    return handoff_.Call([this, &path] {
        if (capturingNow_) return false;
        captureFile_ = path;
        capFileExists_ = false;
        return true;
    });
}

bool CaptureSession::AllocateFile(uint32_t bytes) {
    return handoff_.Call([this, bytes] {
        if (captureFile_.empty() || capturingNow_) return false;
        UniqueFd fd(::open(captureFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
        if (!fd) return false;
        capFileExists_ = false;
        return ::ftruncate(fd.get(), static_cast<off_t>(bytes)) == 0;
    });
}

bool CaptureSession::SaveCaptureFileAs(const std::string& path) {
    return handoff_.Call([this, &path] {
        if (!capFileExists_ || capturingNow_ || path == captureFile_) return false;
        UniqueFile in(std::fopen(captureFile_.c_str(), "rb"));
        if (!in) return false;
        struct stat st {};
        if (fstat(fileno(in.get()), &st) != 0) return false;
        UniqueFile out(std::fopen(path.c_str(), "wb"));
        if (!out) return false;
        std::vector<char> buf(1 << 16);
        const long long total = std::max<long long>(1, st.st_size);
        long long done = 0;
        int lastPercent = -1;
        bool ok = true;
        while (const size_t n = std::fread(buf.data(), 1, buf.size(), in.get())) {
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

bool CaptureSession::SetSequenceSetup(const SequenceSetup& setup) {
    return handoff_.Call([this, &setup] {
        if (capturingNow_) return false;
        setup_ = setup;
        return true;
    });
}

bool CaptureSession::Sequence() {
    return handoff_.Call([this] {
        if (!driver_ || lost_ || capturingNow_ || captureFile_.empty()) return false;
        const VideoFormat format = driver_->Format();
        const uint32_t usPerFrame = std::max<uint32_t>(1000, setup_.requestMicroSecPerFrame);
        AviWriter writer;
        if (!writer.Open(captureFile_, format, usPerFrame)) return false;
        capturingNow_ = true;
        stopRequested_ = false;
        sequenceFrames_ = 0;
        Status(kStatusCaptureBegin, "Capture start");

        // The capture runs inside this request: a local loop keeps the thread's events
        // (Stop, calls handed over from other threads) flowing while frames are recorded.
        QEventLoop loop;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QElapsedTimer clock;
        clock.start();
        const qint64 limitMs =
            setup_.limitEnabled ? static_cast<qint64>(setup_.timeLimit) * 1000 : -1;
        std::vector<uint8_t> latest;
        bool ok = true;
        qint64 nextFrameUs = 0;
        auto step = [&] {
            if (stopRequested_ || lost_ || (limitMs >= 0 && clock.elapsed() >= limitMs)) {
                loop.quit();
                return;
            }
            if (Pull()) latest = frame_;
            // Frames go in at the requested rate; a slow source repeats its last frame.
            while (!latest.empty() && clock.nsecsElapsed() / 1000 >= nextFrameUs) {
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
        if (!stopRequested_ && !lost_) loop.exec();
        tick.stop();
        if (!writer.Close()) ok = false;
        capturingNow_ = false;
        capFileExists_ = ok && sequenceFrames_ > 0;
        Status(kStatusCaptureEnd, "Capture end");
        Status(kStatusClear, "");
        return ok;
    });
}

bool CaptureSession::Stop() {
    return handoff_.Call([this] {
        if (!capturingNow_) return false;
        stopRequested_ = true;
        return true;
    });
}

void CaptureSession::SetFrameCallback(FrameCallback callback) {
    handoff_.Call([this, &callback] { frameCallback_ = std::move(callback); });
}

void CaptureSession::SetStatusCallback(StatusCallback callback) {
    handoff_.Call([this, &callback] { statusCallback_ = std::move(callback); });
}

void CaptureSession::RepaintParent() {
    handoff_.Call([this] {
        if (QWidget* p = preview_->parentWidget()) p->repaint();
    });
}

void CaptureSession::Status(int id, const std::string& text) {
    if (statusCallback_) statusCallback_(this, id, text);
}

void CaptureSession::UpdateTimer() {
    if (preview_on_ && driver_ && !lost_) {
        if (!timer_->isActive() || timer_->interval() != previewRateMs_)
            timer_->start(previewRateMs_);
    } else {
        timer_->stop();
    }
}

void CaptureSession::PreviewTick() {
    if (!driver_ || !preview_on_ || capturingNow_) return;
    if (Pull()) DeliverFrame();
}

void CaptureSession::DeliverFrame() {
    // The callback may rewrite the buffer (the difference picture); the preview shows it.
    if (frameCallback_) frameCallback_(this, frame_.data(), frame_.size());
    if (preview_on_) preview_->ShowImage(FrameToImage(frameFormat_, frame_.data(), frame_.size()));
}

// Driver dialogs, modal on the window thread; the result says one was shown.

bool CaptureSession::DialogVideoSource() {
    return handoff_.Call([this] {
        if (!driver_ || !driver_->HasSourceDialog()) return false;
        RunSourceDialog(preview_, driver_->Controls(), [this](uint32_t id, int32_t value) {
            if (driver_) driver_->SetControl(id, value);
        });
        return true;
    });
}

bool CaptureSession::DialogVideoFormat() {
    return handoff_.Call([this] {
        if (!driver_ || !driver_->HasFormatDialog()) return false;
        const auto chosen = RunFormatDialog(preview_, driver_->Formats(), driver_->Format());
        if (chosen && driver_ && driver_->SetFormat(*chosen)) {
            haveGrab_ = false;
            preview_->ShowImage({});
        }
        return true;
    });
}

bool CaptureSession::DialogVideoDisplay() {
    return handoff_.Call([this] {
        if (!driver_) return false;
        if (const auto scale = RunDisplayDialog(preview_, driver_->Format(), preview_->Scaling()))
            preview_->SetScale(*scale);
        return true;
    });
}

bool CaptureSession::DialogVideoCompression() {
    return handoff_.Call([this] {
        if (!driver_) return false;
        RunCompressionDialog(preview_);
        return true;
    });
}

}  // namespace qv::capture
