// A Qt program that drives libquorcore.so through QuorCore.h alone: it opens the demo
// camera, previews and measures it, and captures a BMP and a JPEG from a worker thread.
#include "QuorCore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWidget>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "check failed: %s\n", what);
    ++failures;
}

std::string Head(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char s[3] = {};
    in.read(s, 3);
    return std::string(s, static_cast<size_t>(in.gcount()));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::string dir = argc > 1 ? argv[1] : ".";
    QWidget host;
    host.resize(320, 240);
    host.show();
    char name[] = "Quorvex Demo Camera";
    QvSTARTUPDEVICEINFO info{&host, &host};
    Check(QvStartup() == 1 && QvGetDeviceCount() >= 1, "QvStartup and a device");
    if (QvStartupDevice(&info, QvGetDeviceNo(name)) != 1) {
        std::fprintf(stderr, "cannot open the demo camera\n");
        return 1;
    }
    Check(QvSetDeviceState(QV_DS_DISPLAY_MODE, QV_DISPLAY_PREVIEW) == 1, "preview");
    Check(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_MEASURE) == 1, "measure");
    BITMAPINFOHEADER h{};
    Check(QvGetCaptureDeviceInfo(&h) == 1 && h.biWidth == 320 && h.biBitCount == 24, "format");

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
    Check(bmpResult.load() == 1 && Head(bmp).substr(0, 2) == "BM", "BMP capture");
    Check(jpgResult.load() == 1 && Head(jpg) == "\xFF\xD8\xFF", "JPEG capture");
    unsigned long link = 9;
    Check(QvGetDeviceState(QV_DS_DEVICE_LINK, &link) == 1 && link == QV_LINK_LIVE, "live");
    Check(QvCleanup() == 1, "QvCleanup");
    if (failures == 0) std::printf("qt_program: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
