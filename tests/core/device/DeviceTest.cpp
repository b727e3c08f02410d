// Library frame, device list, device session and state rules.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QSpinBox>
#include <QTimer>

#include <unistd.h>
#include <cstring>
#include <thread>

#include "core/src/CoreState.h"
#include "tests/core/device/DeviceFixture.h"

namespace qvtest {
namespace {

using qv::capture::VideoFormat;

struct TraceLog {
    std::vector<std::string> lines;
    TraceLog() {
        qv::core::SetTraceHook([this](const std::string& t) { lines.push_back(t); });
    }
    ~TraceLog() { qv::core::SetTraceHook({}); }
    bool Has(const std::string& t) const {
        return std::find(lines.begin(), lines.end(), t) != lines.end();
    }
};

// Answers the next modal dialog with `act` once it shows.
void WhenDialogShows(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(w);
        }
    });
    timer->start(10);
}

TEST_F(DeviceTest, StartupAndCleanupAreOncePerRun) {
    TraceLog trace;
    EXPECT_EQ(QvCleanup(), 0);
    EXPECT_TRUE(trace.Has("QvCore: Qv system is not started up.\n"));
    EXPECT_EQ(QvStartup(), 1);
    EXPECT_EQ(QvGetCurDevice(), -1);
    EXPECT_EQ(QvStartup(), 0);
    EXPECT_TRUE(trace.Has("QvCore: Qv system is already started up.\n"));
    EXPECT_EQ(qv::core::State().tempDir, temp_.Path() + "/");
    EXPECT_EQ(QvCleanup(), 1);
    EXPECT_EQ(QvCleanup(), 0);
    EXPECT_TRUE(trace.Has("QvStartup\n"));
    EXPECT_TRUE(trace.Has("QvCleanup\n"));
}

TEST_F(DeviceTest, NoDriversMeansNoDevices) {
    ASSERT_EQ(QvStartup(), 1);
    QvDEVICEINFO info;
    std::memset(&info, 'x', sizeof info);
    EXPECT_EQ(QvGetDeviceCount(), 0);
    EXPECT_EQ(QvGetDeviceCount(), 0);
    EXPECT_EQ(QvGetDeviceInfo(&info, 0), 0);
    EXPECT_EQ(info.szDeviceName[0], 'x');
    // Enumerated again while empty: a camera that appears later is found.
    auto source = std::make_shared<ScriptedSource>(Rgb24(32, 24));
    qv::capture::SetExtraDrivers({ScriptedEntry("Late Camera", source)});
    EXPECT_EQ(QvGetDeviceCount(), 1);
}

TEST_F(DeviceTest, DeviceListRules) {
    auto a = std::make_shared<ScriptedSource>(Rgb24(32, 24));
    auto b = std::make_shared<ScriptedSource>(Rgb24(32, 24));
    auto c = std::make_shared<ScriptedSource>(Rgb24(32, 24));
    UseCameras({a, b, c}, {"Cam A", "cam a", "Cam B"});
    TraceLog trace;
    QvDEVICEINFO info;
    // Only the count already known is consulted.
    EXPECT_EQ(QvGetDeviceInfo(&info, 0), 0);
    EXPECT_TRUE(trace.Has("QvCore: Invalid device number.\n"));
    // The second name differs only in case: skipped, its slot stays empty.
    EXPECT_EQ(QvGetDeviceCount(), 2);
    ASSERT_EQ(QvGetDeviceInfo(&info, 0), 1);
    EXPECT_STREQ(info.szDeviceName, "Cam A");
    ASSERT_EQ(QvGetDeviceInfo(&info, 1), 1);
    EXPECT_STREQ(info.szDeviceName, "");
    EXPECT_EQ(QvGetDeviceInfo(&info, 2), 0);
    EXPECT_EQ(QvGetDeviceInfo(&info, -1), 0);
    EXPECT_TRUE(trace.Has("Device  0[0] = Cam A\n"));
    char exact[] = "Cam A", other[] = "cam a";
    EXPECT_EQ(QvGetDeviceNo(exact), 0);
    EXPECT_EQ(QvGetDeviceNo(other), -1);
    // The list stays as enumerated until the next start-up.
    qv::capture::SetExtraDrivers({});
    EXPECT_EQ(QvGetDeviceCount(), 2);
    ASSERT_EQ(QvCleanup(), 1);
    ASSERT_EQ(QvStartup(), 1);
    EXPECT_EQ(QvGetDeviceCount(), 0);
}

TEST_F(DeviceTest, LongDescriptionsAreCutTo255Bytes) {
    auto a = std::make_shared<ScriptedSource>(Rgb24(32, 24));
    UseCameras({a}, {std::string(400, 'd')});
    QvDEVICEINFO info;
    ASSERT_EQ(QvGetDeviceCount(), 1);
    ASSERT_EQ(QvGetDeviceInfo(&info, 0), 1);
    EXPECT_EQ(std::strlen(info.szDeviceName), 255u);
}

TEST_F(DeviceTest, CoreLogAppendsLines) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(temp_.Path().c_str()), 0);
    WriteFile(temp_.File("QvLog.log"), "earlier\n");
    char text[] = "abc";
    QvCoreLogOutputFile(text);
    QvCoreLogOutputFile(nullptr);
    EXPECT_EQ(ReadFile(temp_.File("QvLog.log")), "earlier\nabc\n");
    ASSERT_EQ(chdir(cwd), 0);
}

TEST_F(DeviceTest, StateIsUnreadableWithoutADevice) {
    unsigned long value = 12345;
    EXPECT_EQ(QvGetDeviceState(QV_DS_MOTION_LEVEL, &value), 0);
    EXPECT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_MEASURE), 0);
    EXPECT_EQ(value, 12345u);
    auto source = OpenCamera(Rgb24(64, 48));
    EXPECT_EQ(QvGetDeviceState(QV_DS_MOTION_MODE, &value), 1);
    EXPECT_EQ(QvCleanupDevice(), 1);
    EXPECT_EQ(QvCleanupDevice(), 0);
    value = 777;
    for (unsigned long id : {QV_DS_DISPLAY_MODE, QV_DS_DISPLAY_CAPS, QV_DS_WINDOW_WIDTH,
                             QV_DS_CAPTURE_WINDOW, QV_DS_MOTION_LEVEL, QV_DS_DIALOG_CAPS}) {
        EXPECT_EQ(QvGetDeviceState(id, &value), 0) << id;
        EXPECT_EQ(value, 777u);
    }
    BITMAPINFOHEADER h{};
    EXPECT_EQ(QvGetCaptureDeviceInfo(&h), 0);
    EXPECT_EQ(QvOpenDialog(QV_DLG_SOURCE), 0);
    ASSERT_EQ(QvCleanup(), 1);
    EXPECT_EQ(QvGetDeviceState(QV_DS_MOTION_MODE, &value), 0);
    EXPECT_EQ(value, 777u);
}

TEST_F(DeviceTest, SessionLifecycle) {
    auto a = std::make_shared<ScriptedSource>(Rgb24(160, 120));
    auto b = std::make_shared<ScriptedSource>(Rgb24(160, 120));
    a->SetDialogs(true, false);
    UseCameras({a, b});
    ASSERT_EQ(QvGetDeviceCount(), 2);
    QvSTARTUPDEVICEINFO info{host_.get(), host_.get()};
    TraceLog trace;
    EXPECT_EQ(QvStartupDevice(&info, 2), 0);
    EXPECT_TRUE(trace.Has("QvCore: Invalid device number.\n"));
    // A driver that does not connect leaves no device; another number still works.
    b->SetFailOpen(true);
    EXPECT_EQ(QvStartupDevice(&info, 1), 0);
    EXPECT_EQ(QvGetCurDevice(), -1);
    ASSERT_EQ(QvStartupDevice(&info, 0), 1);
    EXPECT_EQ(QvGetCurDevice(), 0);
    EXPECT_TRUE(a->IsOpen());
    EXPECT_EQ(QvStartupDevice(&info, 0), 0);
    EXPECT_TRUE(trace.Has("QvCore: Device is already started up.\n"));
    EXPECT_EQ(a->OpenCount(), 1);

    unsigned long v = 0;
    EXPECT_EQ(QvGetDeviceState(QV_DS_DISPLAY_MODE, &v), 1);
    EXPECT_EQ(v, QV_DISPLAY_NONE);
    EXPECT_EQ(QvGetDeviceState(QV_DS_DISPLAY_CAPS, &v), 1);
    EXPECT_EQ(v, 3u);
    EXPECT_EQ(QvGetDeviceState(QV_DS_DIALOG_CAPS, &v), 1);
    EXPECT_EQ(v, QV_DLG_COMPRESSION | QV_DLG_DISPLAY | QV_DLG_SOURCE);
    EXPECT_EQ(QvGetDeviceState(QV_DS_MOTION_MODE, &v), 1);
    EXPECT_EQ(v, QV_MOTION_OFF);
    EXPECT_EQ(QvGetDeviceState(0x1234, &v), 0);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(QvGetDeviceState(QV_DS_MOTION_LEVEL, nullptr), 0);
    ASSERT_NE(Window(), nullptr);
    EXPECT_EQ(Window()->parentWidget(), host_.get());
    EXPECT_EQ(Window()->PreviewRateMs(), 17);

    // Overlay is not offered: refused, mode kept.
    EXPECT_EQ(QvSetDeviceState(QV_DS_DISPLAY_MODE, QV_DISPLAY_OVERLAY), 0);
    EXPECT_EQ(QvSetDeviceState(QV_DS_DISPLAY_MODE, 3), 0);
    EXPECT_EQ(QvSetDeviceState(QV_DS_DISPLAY_CAPS, 7), 0);
    EXPECT_EQ(QvSetDeviceState(QV_DS_MOTION_LEVEL, 7), 0);
    EXPECT_EQ(QvGetDeviceState(QV_DS_DISPLAY_MODE, &v), 1);
    EXPECT_EQ(v, QV_DISPLAY_NONE);
    EXPECT_EQ(QvSetDeviceState(QV_DS_DISPLAY_MODE, QV_DISPLAY_PREVIEW), 1);
    EXPECT_TRUE(Window()->Previewing());
    EXPECT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, 3), 0);
    EXPECT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_SHOW), 1);
    EXPECT_EQ(QvGetDeviceState(QV_DS_MOTION_MODE, &v), 1);
    EXPECT_EQ(v, QV_MOTION_SHOW);

    QvCoreSetPreviewRate(5);
    EXPECT_EQ(Window()->PreviewRateMs(), 200);
    QvCoreSetPreviewRate(0);
    QvCoreSetPreviewRate(-3);
    EXPECT_EQ(Window()->PreviewRateMs(), 200);

    // QvCleanup closes the open device: display off, driver disconnected.
    QPointer<QWidget> window = Window();
    EXPECT_EQ(QvCleanup(), 1);
    EXPECT_FALSE(a->IsOpen());
    EXPECT_EQ(a->CloseCount(), 1);
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(QvGetCurDevice(), -1);
    EXPECT_EQ(QvCleanup(), 0);
}

TEST_F(DeviceTest, WindowPlacementRules) {
    auto source = OpenCamera(Rgb24(160, 120));
    unsigned long v = 0;
    // Nothing stored: the image size.
    EXPECT_EQ(QvGetDeviceState(QV_DS_WINDOW_WIDTH, &v), 1);
    EXPECT_EQ(v, 160u);
    EXPECT_EQ(QvSetDeviceState(QV_DS_WINDOW_X, 8), 1);
    EXPECT_EQ(QvSetDeviceState(QV_DS_WINDOW_Y, 9), 1);
    EXPECT_EQ(QvSetDeviceState(QV_DS_WINDOW_WIDTH, 320), 1);
    // Width alone is not a size: the image width, and no scaling.
    EXPECT_EQ(QvGetDeviceState(QV_DS_WINDOW_WIDTH, &v), 1);
    EXPECT_EQ(v, 160u);
    // Stored values take effect only at the next display mode change.
    EXPECT_EQ(Window()->geometry(), QRect(0, 0, 640, 480));
    ASSERT_EQ(QvSetDeviceState(QV_DS_DISPLAY_MODE, QV_DISPLAY_PREVIEW), 1);
    EXPECT_FALSE(Window()->Scaling());
    EXPECT_EQ(Window()->geometry(), QRect(8, 9, 160, 120));
    EXPECT_EQ(QvSetDeviceState(QV_DS_WINDOW_HEIGHT, 240), 1);
    EXPECT_EQ(QvGetDeviceState(QV_DS_WINDOW_HEIGHT, &v), 1);
    EXPECT_EQ(v, 240u);
    ASSERT_EQ(QvSetDeviceState(QV_DS_DISPLAY_MODE, QV_DISPLAY_PREVIEW), 1);
    EXPECT_TRUE(Window()->Scaling());
    EXPECT_EQ(Window()->geometry(), QRect(8, 9, 320, 240));
    // The main program hides the picture by a 1 x 1 window.
    QvSetDeviceState(QV_DS_WINDOW_WIDTH, 1);
    QvSetDeviceState(QV_DS_WINDOW_HEIGHT, 1);
    ASSERT_EQ(QvSetDeviceState(QV_DS_DISPLAY_MODE, QV_DISPLAY_PREVIEW), 1);
    EXPECT_EQ(Window()->geometry().size(), QSize(1, 1));
    // Display mode 1 stops the preview and zeroes the level.
    ASSERT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_MEASURE), 1);
    GrabLevel(source, SolidFrame(source->Format(), 0));  // becomes the reference
    EXPECT_GT(GrabLevel(source, SolidFrame(source->Format(), 200)), 0);
    ASSERT_EQ(QvSetDeviceState(QV_DS_DISPLAY_MODE, QV_DISPLAY_NONE), 1);
    EXPECT_FALSE(Window()->Previewing());
    EXPECT_EQ(QvGetDeviceState(QV_DS_MOTION_LEVEL, &v), 1);
    EXPECT_EQ(v, 0u);
}

TEST_F(DeviceTest, CaptureDeviceInfoNeverWritesPastTheHeader) {
    auto source = OpenCamera(Rgb565(176, 144));
    struct {
        BITMAPINFOHEADER header;
        unsigned char canary[16];
    } buf;
    std::memset(&buf, 0xA5, sizeof buf);
    ASSERT_EQ(QvGetCaptureDeviceInfo(&buf.header), 1);
    EXPECT_EQ(buf.header.biSize, 40u);
    EXPECT_EQ(buf.header.biWidth, 176);
    EXPECT_EQ(buf.header.biHeight, 144);
    EXPECT_EQ(buf.header.biBitCount, 16);
    EXPECT_EQ(buf.header.biCompression, QV_BI_BITFIELDS);
    EXPECT_EQ(buf.header.biSizeImage, 176u * 144 * 2);
    for (unsigned char c : buf.canary) EXPECT_EQ(c, 0xA5);
    EXPECT_EQ(QvGetCaptureDeviceInfo(nullptr), 0);
}

TEST_F(DeviceTest, SourceDialogEditsControlsAndStopsMeasuring) {
    auto source = OpenCamera(Rgb24(64, 48));
    ASSERT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_MEASURE), 1);
    GrabLevel(source, SolidFrame(source->Format(), 0));  // becomes the reference
    ASSERT_GT(GrabLevel(source, SolidFrame(source->Format(), 250)), 0);
    WhenDialogShows([](QWidget* dlg) {
        auto* spin = dlg->findChild<QSpinBox*>(QStringLiteral("Brightness"));
        if (spin) spin->setValue(77);
        static_cast<QDialog*>(dlg)->accept();
    });
    EXPECT_NE(QvOpenDialog(QV_DLG_SOURCE), 0);
    EXPECT_EQ(source->ControlValue(1), 77);
    unsigned long v = 99;
    EXPECT_EQ(QvGetDeviceState(QV_DS_MOTION_MODE, &v), 1);
    EXPECT_EQ(v, QV_MOTION_OFF);
    EXPECT_EQ(QvGetDeviceState(QV_DS_MOTION_LEVEL, &v), 1);
    EXPECT_EQ(v, 0u);
    // Cancel puts the control back.
    WhenDialogShows([](QWidget* dlg) {
        if (auto* spin = dlg->findChild<QSpinBox*>(QStringLiteral("Brightness"))) spin->setValue(5);
        static_cast<QDialog*>(dlg)->reject();
    });
    EXPECT_NE(QvOpenDialog(QV_DLG_SOURCE), 0);
    EXPECT_EQ(source->ControlValue(1), 77);
    EXPECT_EQ(QvOpenDialog(16), 0);
    EXPECT_EQ(QvOpenDialog(3), 0);
}

TEST_F(DeviceTest, FormatDialogSwitchesTheDriverFormat) {
    auto source = std::make_shared<ScriptedSource>(Rgb24(320, 240));
    source->SetFormats({Rgb24(320, 240), Yuy2(640, 480), Rgb565(1280, 720)});
    UseCameras({source});
    ASSERT_EQ(QvGetDeviceCount(), 1);
    QvSTARTUPDEVICEINFO info{host_.get(), host_.get()};
    ASSERT_EQ(QvStartupDevice(&info, 0), 1);
    WhenDialogShows([](QWidget* dlg) {
        auto* box = dlg->findChild<QComboBox*>(QStringLiteral("formats"));
        if (box) box->setCurrentIndex(1);
        static_cast<QDialog*>(dlg)->accept();
    });
    EXPECT_NE(QvOpenDialog(QV_DLG_FORMAT), 0);
    BITMAPINFOHEADER h{};
    ASSERT_EQ(QvGetCaptureDeviceInfo(&h), 1);
    EXPECT_EQ(h.biWidth, 640);
    EXPECT_EQ(h.biHeight, 480);
    EXPECT_EQ(h.biCompression, QV_FOURCC_YUY2);
    // The compression dialog only says there is nothing to choose.
    WhenDialogShows([](QWidget* dlg) { static_cast<QDialog*>(dlg)->done(0); });
    EXPECT_NE(QvOpenDialog(QV_DLG_COMPRESSION), 0);
    WhenDialogShows([](QWidget* dlg) { static_cast<QDialog*>(dlg)->reject(); });
    EXPECT_NE(QvOpenDialog(QV_DLG_DISPLAY), 0);
}

TEST_F(DeviceTest, NoCaptureWindowWithoutTheGuiThread) {
    auto source = std::make_shared<ScriptedSource>(Rgb24(32, 24));
    UseCameras({source});
    ASSERT_EQ(QvGetDeviceCount(), 1);
    QvSTARTUPDEVICEINFO info{host_.get(), host_.get()};
    int result = -1;
    std::thread t([&] { result = QvStartupDevice(&info, 0); });
    t.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(QvGetCurDevice(), -1);
    EXPECT_FALSE(source->IsOpen());
}

}  // namespace
}  // namespace qvtest
