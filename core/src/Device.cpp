// Library frame, device list, device session and device state.
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/include/QuorCore.h"
#include "core/src/CoreState.h"
#include "platform/capture/CaptureSession.h"
#include "platform/file/Owners.h"

using qv::capture::CaptureSession;

namespace qv::core {

DeviceState& State() {
    static DeviceState state;
    return state;
}

void ResetState() {
    DeviceState& s = State();
    std::memset(s.deviceTable, 0, sizeof s.deviceTable);
    s.deviceCount = 0;
    s.tempDir.clear();
    s.currentDevice = -1;
    s.hwndNotify = nullptr;
    s.hwndParent = nullptr;
    s.window = nullptr;
    s.displayMode = 0;
    s.displayCaps = 0;
    s.windowX = s.windowY = s.windowWidth = s.windowHeight = 0;
    s.motionMode = 0;
    s.motionLevel = 0;
    s.dialogCaps = 0;
    s.capturing = 0;
    s.reference.clear();
    s.lastDepth = 0;
    s.saving = 0;
    s.sequenceDestination.clear();
}

namespace {

bool DeviceStarted() {
    if (State().currentDevice.load() >= 0) return true;
    Trace("QvCore: Device is not started up.\n");
    return false;
}

// Moves and scales the capture window for display modes 2 and 4.
void ApplyWindowPlacement(CaptureSession* w) {
    unsigned long x = 0, y = 0, width = 0, height = 0;
    QvGetDeviceState(QV_DS_WINDOW_X, &x);
    QvGetDeviceState(QV_DS_WINDOW_Y, &y);
    QvGetDeviceState(QV_DS_WINDOW_WIDTH, &width);
    QvGetDeviceState(QV_DS_WINDOW_HEIGHT, &height);
    DeviceState& s = State();
    w->SetScale(s.windowWidth.load() != 0 && s.windowHeight.load() != 0);
    w->MoveTo(static_cast<int>(x), static_cast<int>(y), static_cast<int>(width),
              static_cast<int>(height));
}

}  // namespace

}  // namespace qv::core

using namespace qv::core;

extern "C" {

QV_API int QvStartup(void) {
    Trace("QvStartup\n");
    DeviceState& s = State();
    if (s.started.load()) {
        Trace("QvCore: Qv system is already started up.\n");
        return 0;
    }
    ResetState();
    s.currentDevice = -1;
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = tmp && *tmp ? tmp : "/tmp";
    if (dir.size() > 255) dir.resize(255);
    if (!dir.empty() && dir.back() != '/') dir += '/';
    s.tempDir = dir;
    s.started = 1;
    return 1;
}

QV_API int QvCleanup(void) {
    Trace("QvCleanup\n");
    DeviceState& s = State();
    if (!s.started.load()) {
        Trace("QvCore: Qv system is not started up.\n");
        return 0;
    }
    if (s.currentDevice.load() >= 0) QvCleanupDevice();
    s.started = 0;
    return 1;
}

QV_API int QvGetDeviceCount(void) {
    DeviceState& s = State();
    if (s.deviceCount.load() >= 1) return s.deviceCount.load();
    const std::vector<qv::capture::DriverEntry> drivers = qv::capture::ListDrivers();
    bool entered[10] = {};
    int count = 0;
    for (size_t i = 0; i < 10 && i < drivers.size(); ++i) {
        char desc[256] = {};
        std::strncpy(desc, drivers[i].description.c_str(), sizeof desc - 1);
        bool duplicate = false;
        for (size_t j = 0; j < i; ++j)
            if (entered[j] && strcasecmp(s.deviceTable[j], desc) == 0) duplicate = true;
        if (duplicate) continue;
        std::memcpy(s.deviceTable[i], desc, sizeof desc);
        entered[i] = true;
        ++count;
    }
    for (int i = 0; i < count; ++i) Trace("Device %2d[%d] = %s\n", i, i, s.deviceTable[i]);
    s.deviceCount = count;
    return count;
}

QV_API int QvGetDeviceInfo(QvDEVICEINFO* info, int device) {
    DeviceState& s = State();
    if (device < 0 || device >= s.deviceCount.load()) {
        Trace("QvCore: Invalid device number.\n");
        return 0;
    }
    if (!info) return 0;
    std::memcpy(info->szDeviceName, s.deviceTable[device], sizeof info->szDeviceName);
    return 1;
}

QV_API int QvGetDeviceNo(char* description) {
    if (!description) return -1;
    const int count = QvGetDeviceCount();
    for (int i = 0; i < count; ++i)
        if (std::strcmp(State().deviceTable[i], description) == 0) return i;
    return -1;
}

QV_API int QvGetCurDevice(void) {
    return State().currentDevice.load();
}

QV_API void QvCoreLogOutputFile(char* const text) {
    if (!text) return;
    qv::UniqueFile f(std::fopen("QvLog.log", "a"));
    if (f) std::fprintf(f.get(), "%s\n", text);
}

QV_API int QvStartupDevice(QvSTARTUPDEVICEINFO* const info, int device) {
    DeviceState& s = State();
    if (device < 0 || device >= s.deviceCount.load()) {
        Trace("QvCore: Invalid device number.\n");
        return 0;
    }
    if (s.currentDevice.load() >= 0) {
        Trace("QvCore: Device is already started up.\n");
        return 0;
    }
    // The capture window is a widget: it needs the program's QApplication and its thread.
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!info || !app || QThread::currentThread() != app->thread()) return 0;

    s.displayMode = QV_DISPLAY_NONE;
    s.windowX = s.windowY = s.windowWidth = s.windowHeight = 0;

    auto* w = new CaptureSession(static_cast<QWidget*>(info->hwndParent));
    w->Preview()->setGeometry(0, 0, 640, 480);
    w->Preview()->show();
    w->SetFrameCallback(FrameCallback);
    w->SetStatusCallback(StatusCallback);
    if (!w->DriverConnect(device)) {
        delete w->Preview();
        return 0;
    }
    // The host may destroy the parent (and with it our session) first: forget it then.
    QObject::connect(w, &QObject::destroyed, [w] {
        CaptureSession* expected = w;
        State().window.compare_exchange_strong(expected, nullptr);
    });
    s.window = w;
    QvGetCaptureCaps(w, s.deviceTable[device]);
    s.hwndNotify = info->hwndNotify;
    s.hwndParent = info->hwndParent;
    s.capturing = 0;
    s.reference.clear();
    w->SetPreviewRate(17);
    s.currentDevice = device;
    return 1;
}

QV_API int QvCleanupDevice(void) {
    DeviceState& s = State();
    if (!DeviceStarted()) return 0;
    if (s.capturing.load()) {
        // Let a capture that is under way finish; the window thread keeps serving it.
        QElapsedTimer waited;
        waited.start();
        const bool windowThread =
            QCoreApplication::instance() &&
            QThread::currentThread() == QCoreApplication::instance()->thread();
        while (s.capturing.load() && waited.elapsed() < 500) {
            if (windowThread) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (s.capturing.load()) QvStopCapture();
    }
    QvSetDeviceState(QV_DS_DISPLAY_MODE, QV_DISPLAY_NONE);
    CaptureSession* w = s.window.load();
    // The callbacks are swapped out on the window thread, where they run: once that returns,
    // no frame is being measured and none will be, and the reference can go.
    if (w) {
        w->SetStatusCallback({});
        w->SetFrameCallback({});
    }
    std::vector<uint8_t>().swap(s.reference);
    std::vector<uint8_t>().swap(s.work);
    w = s.window.exchange(nullptr);
    if (w) {
        w->DriverDisconnect();
        if (QThread::currentThread() == w->thread())
            delete w->Preview();
        else
            w->Preview()->deleteLater();
    }
    s.currentDevice = -1;
    return 1;
}

// Any thread (the monitoring thread polls the level); size queries go to the window thread.
QV_API int QvGetDeviceState(unsigned long id, unsigned long* value) {
    DeviceState& s = State();
    if (!DeviceStarted()) return 0;
    if (!value) return 0;
    *value = 0;
    CaptureSession* w = s.window.load();
    switch (id) {
        case QV_DS_DISPLAY_MODE:
            *value = s.displayMode.load();
            return 1;
        case QV_DS_DISPLAY_CAPS:
            *value = s.displayCaps.load();
            return 1;
        case QV_DS_WINDOW_X:
            *value = s.windowX.load();
            return 1;
        case QV_DS_WINDOW_Y:
            *value = s.windowY.load();
            return 1;
        case QV_DS_WINDOW_WIDTH:
        case QV_DS_WINDOW_HEIGHT: {
            const uint32_t width = s.windowWidth.load(), height = s.windowHeight.load();
            if (width != 0 && height != 0) {
                *value = id == QV_DS_WINDOW_WIDTH ? width : height;
                return 1;
            }
            qv::capture::CaptureStatus status;
            if (!w || !w->GetStatus(status)) return 0;
            *value = id == QV_DS_WINDOW_WIDTH ? status.imageWidth : status.imageHeight;
            return 1;
        }
        case QV_DS_CAPTURE_WINDOW:
            *value = reinterpret_cast<unsigned long>(w);
            return 1;
        case QV_DS_MOTION_MODE:
            *value = s.motionMode.load();
            return 1;
        case QV_DS_MOTION_LEVEL:
            *value = static_cast<unsigned long>(s.motionLevel.load());
            return 1;
        case QV_DS_DIALOG_CAPS:
            *value = s.dialogCaps.load();
            return 1;
        case QV_DS_CAPTURE_FILE_EXISTS:
        case QV_DS_DEVICE_LINK: {
            qv::capture::CaptureStatus status;
            if (!w || !w->GetStatus(status)) return 0;
            if (id == QV_DS_CAPTURE_FILE_EXISTS)
                *value = status.capFileExists ? 1 : 0;
            else
                *value = status.link == qv::capture::LinkState::Connecting ? QV_LINK_CONNECTING
                         : status.link == qv::capture::LinkState::Lost     ? QV_LINK_LOST
                                                                           : QV_LINK_LIVE;
            return 1;
        }
        default:
            return 0;
    }
}

QV_API int QvSetDeviceState(unsigned long id, unsigned long value) {
    DeviceState& s = State();
    if (!DeviceStarted()) return 0;
    CaptureSession* w = s.window.load();
    switch (id) {
        case QV_DS_DISPLAY_MODE: {
            if ((value != QV_DISPLAY_NONE && value != QV_DISPLAY_PREVIEW &&
                 value != QV_DISPLAY_OVERLAY) ||
                !(s.displayCaps.load() & value))
                return 0;
            if (value == QV_DISPLAY_NONE) {
                if (w) w->SetPreview(false);
                s.motionLevel = 0;
            } else if (w) {
                ApplyWindowPlacement(w);
                w->SetPreview(value == QV_DISPLAY_PREVIEW);
            }
            s.displayMode = static_cast<uint32_t>(value);
            return 1;
        }
        case QV_DS_WINDOW_X:
            s.windowX = static_cast<uint32_t>(value);
            return 1;
        case QV_DS_WINDOW_Y:
            s.windowY = static_cast<uint32_t>(value);
            return 1;
        case QV_DS_WINDOW_WIDTH:
            s.windowWidth = static_cast<uint32_t>(value);
            return 1;
        case QV_DS_WINDOW_HEIGHT:
            s.windowHeight = static_cast<uint32_t>(value);
            return 1;
        case QV_DS_MOTION_MODE:
            if (value != QV_MOTION_OFF && value != QV_MOTION_MEASURE && value != QV_MOTION_SHOW)
                return 0;
            s.motionMode = static_cast<uint32_t>(value);
            return 1;
        default:
            return 0;
    }
}

QV_API int QvGetCaptureCaps(QvHWND captureWindow, char* deviceName) {
    (void)deviceName;
    DeviceState& s = State();
    qv::capture::DriverCaps caps;
    CaptureSession* w = s.window.load();
    if (captureWindow && captureWindow == static_cast<QvHWND>(w)) caps = w->GetDriverCaps();
    s.motionMode = QV_MOTION_OFF;
    s.motionLevel = 0;
    s.displayCaps =
        QV_DISPLAY_NONE | QV_DISPLAY_PREVIEW | (caps.hasOverlay ? QV_DISPLAY_OVERLAY : 0);
    s.dialogCaps = QV_DLG_COMPRESSION | (caps.hasDlgVideoFormat ? QV_DLG_FORMAT : 0) |
                   (caps.hasDlgVideoDisplay ? QV_DLG_DISPLAY : 0) |
                   (caps.hasDlgVideoSource ? QV_DLG_SOURCE : 0);
    return 1;
}

QV_API int QvOpenDialog(unsigned long dialog) {
    DeviceState& s = State();
    if (!DeviceStarted()) return 0;
    if (s.capturing.load()) {
        Trace("QvCore: Device is being used for capturing.\n");
        return 0;
    }
    CaptureSession* w = s.window.load();
    if (!w) return 0;
    int result = 0;
    switch (dialog) {
        case QV_DLG_COMPRESSION:
            result = w->DialogVideoCompression();
            break;
        case QV_DLG_FORMAT:
            result = w->DialogVideoFormat();
            break;
        case QV_DLG_DISPLAY:
            result = w->DialogVideoDisplay();
            break;
        case QV_DLG_SOURCE:
            result = w->DialogVideoSource();
            QvReConnectDevice();
            break;
        default:
            return 0;
    }
    if (result) w->RepaintParent();
    return result;
}

QV_API void QvCoreSetPreviewRate(int framesPerSecond) {
    CaptureSession* w = State().window.load();
    // A rate below 1 would divide by zero; the current rate stays.
    if (!w || framesPerSecond < 1) return;
    w->SetPreviewRate(1000 / framesPerSecond);
}

QV_API int QvReConnectDevice(void) {
    DeviceState& s = State();
    const int device = s.currentDevice.load();
    if (device < 0) return 1;
    QvGetCaptureCaps(s.window.load(), s.deviceTable[device]);
    return 1;
}

QV_API int QvGetCaptureDeviceInfo(BITMAPINFOHEADER* header) {
    DeviceState& s = State();
    CaptureSession* w = s.window.load();
    if (!w || !header) return 0;
    qv::bitmap::Info h;
    if (!w->GetVideoFormat(h)) return 0;
    // Only the header itself is copied: colour masks or tables that follow it in the
    // driver's format would run past the caller's record.
    static_assert(sizeof(BITMAPINFOHEADER) == sizeof(h) &&
                  offsetof(BITMAPINFOHEADER, biBitCount) == offsetof(qv::bitmap::Info, BitCount) &&
                  offsetof(BITMAPINFOHEADER, biClrImportant) ==
                      offsetof(qv::bitmap::Info, ClrImportant));
    std::memcpy(header, &h, sizeof *header);
    if (s.lastDepth.load() == 16 && header->biBitCount == 16 && (header->biCompression & 3) == 0)
        header->biBitCount = 15;
    return 1;
}

}  // extern "C"
