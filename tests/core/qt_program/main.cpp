// Opens the demo camera through the core library's C interface, watches the levels of a
// still room and of the figure crossing it, and captures a frame as BMP and JPEG.
#include "QuorCore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QThread>
#include <QWidget>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "check failed: %s\n", what);
        ++failures;
    }
}

struct Sample {
    qint64 ms;
    unsigned long level;
};

class Host : public QWidget {
  public:
    QElapsedTimer clock;
    std::vector<Sample> samples;

  protected:
    bool event(QEvent* e) override {
        if (e->type() == static_cast<QEvent::Type>(QV_FRAME_NOTIFY_EVENT)) {
            unsigned long level = 0;
            if (QvGetDeviceState(QV_DS_MOTION_LEVEL, &level))
                samples.push_back({clock.elapsed(), level});
            return true;
        }
        return QWidget::event(e);
    }
};

void SpinFor(qint64 ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

std::string Head(const std::string& path, size_t n) {
    std::ifstream in(path, std::ios::binary);
    std::string s(n, '\0');
    in.read(s.data(), static_cast<std::streamsize>(n));
    s.resize(static_cast<size_t>(in.gcount()));
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::string dir = argc > 1 ? argv[1] : ".";
    Host host;
    host.resize(320, 240);
    host.show();

    Check(QvStartup() == 1, "QvStartup");
    Check(QvGetDeviceCount() >= 1, "a device");
    char name[] = "Quorvex Demo Camera";
    const int device = QvGetDeviceNo(name);
    Check(device >= 0, "the demo camera is listed");
    QvSTARTUPDEVICEINFO info{&host, &host};
    if (device < 0 || QvStartupDevice(&info, device) != 1) {
        std::fprintf(stderr, "cannot open the demo camera\n");
        return 1;
    }
    host.clock.start();
    unsigned long caps = 0;
    Check(QvGetDeviceState(QV_DS_DISPLAY_CAPS, &caps) == 1 && caps == 3, "display caps");
    QvSetDeviceState(QV_DS_WINDOW_X, 0);
    QvSetDeviceState(QV_DS_WINDOW_Y, 0);
    QvSetDeviceState(QV_DS_WINDOW_WIDTH, 320);
    QvSetDeviceState(QV_DS_WINDOW_HEIGHT, 240);
    Check(QvSetDeviceState(QV_DS_DISPLAY_MODE, QV_DISPLAY_PREVIEW) == 1, "preview");
    Check(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_MEASURE) == 1, "measure");
    QvCoreSetPreviewRate(30);
    BITMAPINFOHEADER h{};
    Check(QvGetCaptureDeviceInfo(&h) == 1 && h.biWidth == 320 && h.biHeight == 240 &&
              h.biBitCount == 24,
          "320 x 240 24-bit");

    // The room is still for two seconds, then the figure crosses it for three.
    SpinFor(5200);
    unsigned long stillMax = 0, movingMax = 0;
    int still = 0, moving = 0;
    for (const Sample& s : host.samples) {
        if (s.ms >= 400 && s.ms < 1900) {
            stillMax = std::max(stillMax, s.level);
            ++still;
        }
        if (s.ms >= 2800 && s.ms < 4200) {
            movingMax = std::max(movingMax, s.level);
            ++moving;
        }
    }
    std::printf("frames %zu, still %d (max %lu), moving %d (max %lu)\n", host.samples.size(), still,
                stillMax, moving, movingMax);
    Check(still >= 5 && stillMax == 0, "a still room measures 0");
    Check(moving >= 5 && movingMax > 3000, "the crossing measures above 3000");

    // Captures from a worker thread while this thread keeps its loop running.
    std::string bmp = dir + "/qt_program.bmp", jpg = dir + "/qt_program.jpg";
    std::atomic<int> bmpResult{-1}, jpgResult{-1};
    std::thread worker([&] {
        bmpResult = QvCaptureSingleFrame(bmp.data(), 0);
        jpgResult = QvCaptureSingleFrame(jpg.data(), QV_CAPTURE_JPEG | 0x40);
    });
    QElapsedTimer t;
    t.start();
    while (jpgResult.load() == -1 && t.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    worker.join();
    Check(bmpResult.load() == 1, "BMP capture");
    Check(jpgResult.load() == 1, "JPEG capture");
    Check(Head(bmp, 2) == "BM", "BMP signature");
    Check(Head(jpg, 3) == "\xFF\xD8\xFF", "JPEG signature");

    Check(QvCleanup() == 1, "QvCleanup");
    if (failures == 0) std::printf("qt_program: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
