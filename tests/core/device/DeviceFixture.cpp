#include "tests/core/device/DeviceFixture.h"

#include <QApplication>
#include <QEvent>

#include <atomic>
#include <cstdlib>
#include <thread>

namespace qvtest {

bool NotifyWindow::event(QEvent* e) {
    if (e->type() != static_cast<QEvent::Type>(QV_FRAME_NOTIFY_EVENT)) return QWidget::event(e);
    ++notifications;
    return true;
}

void OnOtherThread(const std::function<void()>& f) {
    std::atomic<bool> done{false};
    std::thread t([&] {
        f();
        done = true;
    });
    WaitFor([&] { return done.load(); }, 10000);
    t.join();
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

qv::capture::CaptureSession* DeviceTest::Session() {
    return reinterpret_cast<qv::capture::CaptureSession*>(Get(QV_DS_CAPTURE_WINDOW));
}

long DeviceTest::GrabLevel(const std::shared_ptr<ScriptedSource>& source,
                           std::vector<uint8_t> frame) {
    source->Queue(std::move(frame));
    if (!Session() || !Session()->GrabFrameNoStop()) return -1;
    return static_cast<long>(Get(QV_DS_MOTION_LEVEL));
}

unsigned long DeviceTest::Get(unsigned long id) {
    unsigned long value = 0;
    EXPECT_EQ(QvGetDeviceState(id, &value), 1) << std::hex << id;
    return value;
}

std::vector<char> DeviceTest::Path(const std::string& name) const {
    const std::string path = temp_.File(name);
    std::vector<char> p(path.begin(), path.end());
    p.push_back('\0');
    return p;
}

}  // namespace qvtest
