// The capture window: a child widget of the host window that owns one connected capture
// driver, pulls its frames at the preview rate, hands them to the frame callback, paints
// them and records sequences to AVI files. Every operation runs on the thread that owns
// the widget; called from another thread it becomes a blocking queued call, so the owning
// thread keeps its event loop running while the caller waits.
#pragma once

#include <QImage>
#include <QWidget>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/capture/CaptureDriver.h"

class QTimer;

namespace qv::capture {

// The 40-byte bitmap information header as a BMP file and the core library lay it out.
struct BitmapHeader {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
static_assert(sizeof(BitmapHeader) == 40);

// Builds the bitmap header of a video format.
BitmapHeader HeaderOf(const VideoFormat& format);

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
    bool overlayWindow = false;
    bool scale = false;
    bool capFileExists = false;
    bool capturingNow = false;
    uint32_t currentVideoFrame = 0;  // frames of the running or last sequence
};

// Sequence capture parameters, the fields of the Windows CAPTUREPARMS that matter here.
struct SequenceSetup {
    uint32_t requestMicroSecPerFrame = 66667;
    bool makeUserHitOkToCapture = false;
    uint32_t percentDropForError = 10;
    bool yield = false;  // captures always run inside the request here
    bool captureAudio = false;
    uint32_t keyAbort = 0;
    bool abortLeftMouse = false;
    bool abortRightMouse = false;
    bool limitEnabled = false;
    uint32_t timeLimit = 0;  // seconds
    bool mciControl = false;
    bool stepCaptureAt2x = false;
};

// Status ids the status callback receives.
constexpr int kStatusClear = 0;
constexpr int kStatusCaptureBegin = 300;
constexpr int kStatusCaptureEnd = 301;
constexpr int kStatusSaveAsPercent = 417;

class CaptureWindow : public QWidget {
    Q_OBJECT
  public:
    // Return false from the frame callback to say the frame was not handled.
    using FrameCallback = std::function<bool(CaptureWindow*, uint8_t* data, size_t length)>;
    using StatusCallback = std::function<bool(CaptureWindow*, int id, const std::string& text)>;
    using ErrorCallback = std::function<bool(CaptureWindow*, int id, const std::string& text)>;

    explicit CaptureWindow(QWidget* parent);
    ~CaptureWindow() override;

    // Any thread (blocking queued onto the window thread): the operations below.
    bool DriverConnect(int index);
    bool DriverDisconnect();
    DriverCaps GetDriverCaps();
    bool GetStatus(CaptureStatus& status);
    uint32_t VideoFormatSize();  // 0 without a driver
    bool GetVideoFormat(BitmapHeader& header);
    bool SetPreview(bool on);
    bool SetOverlay(bool on);  // no driver here has an overlay: false when asked to turn it on
    bool SetPreviewRate(int milliseconds);
    bool SetScale(bool on);
    bool MoveTo(int x, int y, int width, int height);
    // Takes a fresh frame from the driver, runs the frame callback on it and shows it;
    // false when the driver has nothing new.
    bool GrabFrameNoStop();
    // Writes the current frame, in its own format with its header, as a BMP file.
    bool SaveDib(const std::string& path);
    bool SetCaptureFile(const std::string& path);
    bool AllocateFile(uint32_t bytes);
    bool SaveCaptureFileAs(const std::string& path);
    bool GetSequenceSetup(SequenceSetup& setup);
    bool SetSequenceSetup(const SequenceSetup& setup);
    // Records a sequence into the capture file until the time limit or Stop.
    bool Sequence();
    bool Stop();
    bool DialogVideoSource();
    bool DialogVideoFormat();
    bool DialogVideoDisplay();
    bool DialogVideoCompression();
    void RepaintParent();

    // Any thread (blocking queued): the callbacks run on the window thread.
    void SetFrameCallback(FrameCallback callback);
    void SetStatusCallback(StatusCallback callback);
    void SetErrorCallback(ErrorCallback callback);

    // Window thread only (tests, painting).
    bool Previewing() const { return preview_; }
    bool Scaling() const { return scale_; }
    int PreviewRateMs() const { return previewRateMs_; }
    const QImage& ShownImage() const { return shown_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

  private:
    // Requests from other threads wait here for the window thread. The hand-off uses our
    // own mutex and condition so that the waiting side and the window thread agree on
    // what they share (and ThreadSanitizer sees it), while Qt's event only wakes the
    // window thread.
    struct PendingCall {
        std::function<void()> run;
        bool done = false;
    };
    struct CallQueue {
        std::mutex mutex;
        std::condition_variable doneChanged;
        std::deque<PendingCall*> calls;
        bool closed = false;
    };

    template <typename F>
    auto OnWindowThread(F&& f) -> decltype(f());
    void RunPendingCalls();

    void PreviewTick();
    void DeliverFrame();  // frame callback, then what preview shows
    void UpdateTimer();
    void ReportError(int id, const std::string& text);
    void Status(int id, const std::string& text);

    std::shared_ptr<CallQueue> queue_ = std::make_shared<CallQueue>();
    std::unique_ptr<CaptureDriver> driver_;
    int driverIndex_ = -1;
    std::vector<uint8_t> frame_;  // the current frame, as the driver delivered it
    VideoFormat frameFormat_;
    bool haveFrame_ = false;
    QImage shown_;
    QTimer* timer_ = nullptr;
    bool preview_ = false;
    bool scale_ = false;
    int previewRateMs_ = 66;
    FrameCallback frameCallback_;
    StatusCallback statusCallback_;
    ErrorCallback errorCallback_;

    std::string captureFile_;
    bool capFileExists_ = false;
    SequenceSetup setup_;
    bool capturingNow_ = false;
    bool stopRequested_ = false;
    uint32_t sequenceFrames_ = 0;
};

// Converts a frame of a format to a picture for painting (top row first).
QImage FrameToImage(const VideoFormat& format, const uint8_t* data, size_t length);

}  // namespace qv::capture
