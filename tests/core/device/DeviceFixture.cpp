#include "tests/core/device/DeviceFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QThread>

#include <cstdlib>

namespace qvtest {

bool NotifyWindow::event(QEvent* e) {
    if (e->type() == static_cast<QEvent::Type>(QV_FRAME_NOTIFY_EVENT)) {
        ++notifications_;
        if (onNotify) onNotify();
        return true;
    }
    return QWidget::event(e);
}

bool SpinUntil(const std::function<bool()>& pred, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

void Spin(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

void DeviceTest::SetUp() {
    // The library's temporary files go to this test's own folder.
    const char* tmp = std::getenv("TMPDIR");
    oldTmp_ = tmp ? tmp : "";
    setenv("TMPDIR", temp_.Path().c_str(), 1);
    unsetenv("QUORVEX_DEMO_CAMERA");
    qv::capture::SetExtraDrivers({});
    host_ = std::make_unique<NotifyWindow>();
    host_->resize(640, 480);
    host_->show();
}

void DeviceTest::TearDown() {
    QvCleanup();
    qv::capture::SetExtraDrivers({});
    host_.reset();
    if (oldTmp_.empty())
        unsetenv("TMPDIR");
    else
        setenv("TMPDIR", oldTmp_.c_str(), 1);
}

void DeviceTest::UseCameras(const std::vector<std::shared_ptr<ScriptedSource>>& sources,
                            const std::vector<std::string>& names) {
    std::vector<qv::capture::DriverEntry> entries;
    for (size_t i = 0; i < sources.size(); ++i)
        entries.push_back(ScriptedEntry(
            i < names.size() ? names[i] : "Scripted Camera " + std::to_string(i), sources[i]));
    qv::capture::SetExtraDrivers(entries);
    ASSERT_EQ(QvStartup(), 1);
}

std::shared_ptr<ScriptedSource> DeviceTest::OpenCamera(const qv::capture::VideoFormat& format) {
    auto source = std::make_shared<ScriptedSource>(format);
    UseCameras({source});
    EXPECT_EQ(QvGetDeviceCount(), 1);
    QvSTARTUPDEVICEINFO info{host_.get(), host_.get()};
    EXPECT_EQ(QvStartupDevice(&info, 0), 1);
    return source;
}

qv::capture::CaptureWindow* DeviceTest::Window() {
    unsigned long handle = 0;
    if (!QvGetDeviceState(QV_DS_CAPTURE_WINDOW, &handle)) return nullptr;
    return reinterpret_cast<qv::capture::CaptureWindow*>(handle);
}

long DeviceTest::GrabLevel(const std::shared_ptr<ScriptedSource>& source,
                           std::vector<uint8_t> frame) {
    source->Queue(std::move(frame));
    if (!Window() || !Window()->GrabFrameNoStop()) return -1;
    unsigned long level = 0;
    if (!QvGetDeviceState(QV_DS_MOTION_LEVEL, &level)) return -1;
    return static_cast<long>(level);
}

}  // namespace qvtest
