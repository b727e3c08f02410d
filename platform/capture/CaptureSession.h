// The capture session: one connected capture driver, the frame pump at the preview rate, the
// frame callback, single frames as BMP files and sequences as AVI files. It feeds its preview
// widget (a child of the host window), which also owns it: the host destroying its window
// ends the session. Operations run on the widget's thread; from another thread they are
// handed over with qv::thread::Handoff::Call and wait for their result.
#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/capture/CaptureDriver.h"
#include "platform/capture/PreviewWidget.h"
#include "platform/thread/Handoff.h"

class QTimer;
class QWidget;

namespace qv::capture {

bitmap::Info HeaderOf(const VideoFormat& format);

struct DriverCaps {
    int32_t deviceIndex = -1;
    bool hasOverlay = false;
    bool hasDlgVideoSource = false;
    bool hasDlgVideoFormat = false;
    bool hasDlgVideoDisplay = false;
    bool captureInitialized = false;
};

struct CaptureStatus {
    uint32_t imageWidth = 0;
    uint32_t imageHeight = 0;
    bool liveWindow = false;  // preview on
    bool scale = false;
    bool capFileExists = false;
    bool capturingNow = false;
    uint32_t currentVideoFrame = 0;  // frames of the running or last sequence
    LinkState link = LinkState::Live;
};

// Sequence capture: the frame period and an optional time limit.
struct SequenceSetup {
    uint32_t requestMicroSecPerFrame = 66667;
    bool limitEnabled = false;
    uint32_t timeLimit = 0;  // seconds
};

// Status ids the status callback receives.
constexpr int kStatusClear = 0;
constexpr int kStatusCaptureBegin = 300;
constexpr int kStatusCaptureEnd = 301;
constexpr int kStatusSaveAsPercent = 417;

class CaptureSession : public QObject {
  public:
    // Return false from the frame callback to say the frame was not handled.
    using FrameCallback = std::function<bool(CaptureSession*, uint8_t* data, size_t length)>;
    using StatusCallback = std::function<bool(CaptureSession*, int id, const std::string& text)>;

    // Window thread: makes the preview widget, a child of parent.
    explicit CaptureSession(QWidget* parent);
    ~CaptureSession() override;

    PreviewWidget* Preview() const { return preview_; }

    // Thread-safe (handed to the window thread): the operations below.
    bool DriverConnect(int index);
    bool DriverDisconnect();
    DriverCaps GetDriverCaps();
    bool GetStatus(CaptureStatus& status);
    bool GetVideoFormat(bitmap::Info& header);
    bool SetPreview(bool on);
    bool SetPreviewRate(int milliseconds);
    bool SetScale(bool on);
    bool MoveTo(int x, int y, int width, int height);
    // Takes a fresh frame from the driver, keeps it as the grabbed frame, runs the frame
    // callback on it and shows it; false when the driver has nothing new.
    bool GrabFrameNoStop();
    // Writes the grabbed frame (as it came, before the callback) as a BMP file, in its own
    // format or, with rgb24, as a plain 24-bit picture.
    bool SaveDib(const std::string& path, bool rgb24 = false);
    bool SetCaptureFile(const std::string& path);
    bool AllocateFile(uint32_t bytes);
    bool SaveCaptureFileAs(const std::string& path);
    bool SetSequenceSetup(const SequenceSetup& setup);
    // Records a sequence into the capture file until the time limit or Stop.
    bool Sequence();
    bool Stop();
    bool DialogVideoSource();
    bool DialogVideoFormat();
    bool DialogVideoDisplay();
    bool DialogVideoCompression();
    void RepaintParent();
    // Once these return, the old callback is not running and never runs again.
    void SetFrameCallback(FrameCallback callback);
    void SetStatusCallback(StatusCallback callback);

    // Window thread only.
    bool Previewing() const { return preview_on_; }
    int PreviewRateMs() const { return previewRateMs_; }

  private:
    void PreviewTick();
    // Takes a frame; false when none came. A vanished device is reported and left alone.
    bool Pull();
    void DeliverFrame();  // frame callback, then what the preview shows
    void UpdateTimer();
    void Status(int id, const std::string& text);
    LinkState CurrentLink() const;

    PreviewWidget* preview_;
    QTimer* timer_;
    std::unique_ptr<CaptureDriver> driver_;
    int driverIndex_ = -1;
    bool lost_ = false;
    std::vector<uint8_t> frame_;  // the current frame, as the driver delivered it
    VideoFormat frameFormat_;
    std::vector<uint8_t> grabbed_;  // the last grabbed frame, before the callback
    VideoFormat grabbedFormat_;
    bool haveGrab_ = false;
    bool preview_on_ = false;
    int previewRateMs_ = 66;
    FrameCallback frameCallback_;
    StatusCallback statusCallback_;

    std::string captureFile_;
    bool capFileExists_ = false;
    SequenceSetup setup_;
    bool capturingNow_ = false;
    bool stopRequested_ = false;
    uint32_t sequenceFrames_ = 0;

    qv::thread::Handoff handoff_{this};  // last: closed first
};

}  // namespace qv::capture
