// The frame callback: measurement, reference updates, difference pictures, notifications.
#include <QImage>

#include <cstring>

#include "core/src/CoreState.h"
#include "tests/core/device/DeviceFixture.h"

namespace qvtest {
namespace {

using qv::capture::VideoFormat;

// A frame of the format with a gentle pattern, so that no byte is at the rails.
std::vector<uint8_t> Pattern(const VideoFormat& f) {
    std::vector<uint8_t> frame = SolidFrame(f, 0);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(60 + (i * 7) % 100);
    return frame;
}

// `count` bytes, spread over the frame, raised by `delta`.
std::vector<uint8_t> Changed(std::vector<uint8_t> frame, size_t count, int delta) {
    const size_t step = frame.size() / (count + 1);
    for (size_t k = 0; k < count; ++k)
        frame[step * (k + 1)] = static_cast<uint8_t>(frame[step * (k + 1)] + delta);
    return frame;
}

TEST_F(DeviceTest, TheNineThousandNineHundredNinetyThreeLevel) {
    auto source = OpenCamera(Rgb24(320, 240));
    ASSERT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_MEASURE), 1);
    const std::vector<uint8_t> still = Pattern(source->Format());
    GrabLevel(source, still);  // first frame: the reference becomes a frame
    EXPECT_EQ(GrabLevel(source, still), 0);
    // Bytes differing by 40 count nothing and leave the reference.
    std::vector<uint8_t> faint = still;
    for (auto& b : faint) b = static_cast<uint8_t>(b + 40);
    EXPECT_EQ(GrabLevel(source, faint), 0);
    EXPECT_EQ(GrabLevel(source, still), 0);
    // 10,000 bytes differing by 120: S = 70,000, D = 7, level = 9,993.
    const std::vector<uint8_t> moved = Changed(still, 10000, 120);
    EXPECT_EQ(GrabLevel(source, moved), 9993);
    // That frame is now the reference.
    EXPECT_EQ(GrabLevel(source, moved), 0);
    EXPECT_EQ(qv::core::State().lastDepth.load(), 24);
}

TEST_F(DeviceTest, FirstFrameAfterStartIsNoMotion) {
    // A bright room right after the device starts is not motion: nothing came before it.
    auto source = OpenCamera(Rgb24(320, 240));
    ASSERT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_MEASURE), 1);
    EXPECT_EQ(GrabLevel(source, SolidFrame(source->Format(), 230)), 0);
    // ...but the next change is measured against it.
    EXPECT_GT(GrabLevel(source, SolidFrame(source->Format(), 20)), 0);
}

TEST_F(DeviceTest, ReferenceKeptAtSumTenReplacedAtEleven) {
    // 16 x 16 pixels: D = 0, so the level is the sum itself.
    auto source = OpenCamera(Rgb24(16, 16));
    ASSERT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_MEASURE), 1);
    const std::vector<uint8_t> a = Pattern(source->Format());
    GrabLevel(source, a);
    ASSERT_EQ(GrabLevel(source, a), 0);
    // A raw difference of 50 weighs 1.
    EXPECT_EQ(GrabLevel(source, Changed(a, 10, 50)), 10);
    EXPECT_EQ(GrabLevel(source, a), 0);  // still compared with a
    EXPECT_EQ(GrabLevel(source, Changed(a, 11, 50)), 11);
    EXPECT_EQ(GrabLevel(source, a), 11);  // compared with the eleven-byte frame
}

TEST_F(DeviceTest, SlowChangesAddUpAgainstTheOldReference) {
    auto source = OpenCamera(Rgb24(16, 16));
    ASSERT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_MEASURE), 1);
    const std::vector<uint8_t> a = Pattern(source->Format());
    GrabLevel(source, a);
    ASSERT_EQ(GrabLevel(source, a), 0);
    // Each step is 30 (nothing) from the last, but 60 (weight 1) from the reference.
    EXPECT_EQ(GrabLevel(source, Changed(a, 20, 30)), 0);
    EXPECT_EQ(GrabLevel(source, Changed(a, 20, 60)), 20);
}

TEST_F(DeviceTest, ShowModeDrawsTheDifferencePicture) {
    auto source = OpenCamera(Rgb24(32, 24));
    ASSERT_EQ(QvSetDeviceState(QV_DS_DISPLAY_MODE, QV_DISPLAY_PREVIEW), 1);
    ASSERT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_SHOW), 1);
    const std::vector<uint8_t> still = Pattern(source->Format());
    GrabLevel(source, still);
    GrabLevel(source, still);
    // A still scene shows black (but for the buffer's last byte, which is never compared:
    // the red of the top-right pixel).
    QImage shown = Window()->ShownImage();
    ASSERT_FALSE(shown.isNull());
    bool black = true;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            if ((shown.pixel(x, y) & (x == shown.width() - 1 && y == 0 ? 0x00FFFF : 0xFFFFFF)) != 0)
                black = false;
    EXPECT_TRUE(black);
    // A moving spot shows up bright; the reference still took the untouched frame.
    std::vector<uint8_t> moved = still;
    moved[0] = static_cast<uint8_t>(moved[0] + 100);  // blue of the bottom-left pixel
    for (int i = 1; i < 60; ++i) moved[i * 3] = static_cast<uint8_t>(moved[i * 3] + 100);
    GrabLevel(source, moved);
    shown = Window()->ShownImage();
    EXPECT_EQ(qBlue(shown.pixel(0, 23)), 200);
    EXPECT_EQ(GrabLevel(source, moved), 0);

    // In mode 2 the picture stays as it came.
    ASSERT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_MEASURE), 1);
    GrabLevel(source, still);
    shown = Window()->ShownImage();
    EXPECT_EQ(qBlue(shown.pixel(0, 23)), still[0]);
    EXPECT_EQ(qGreen(shown.pixel(0, 23)), still[1]);
}

TEST_F(DeviceTest, UncompressedSixteenBitIsMeasuredAsFiveFiveFive) {
    // Bit 10 is the low red bit in 5-5-5 (8 in 8 bits, counts nothing) but the top green
    // bit in 5-6-5 (128, counts 7).
    for (bool bitfields : {false, true}) {
        SCOPED_TRACE(bitfields);
        auto source = OpenCamera(bitfields ? Rgb565(16, 16) : Rgb555(16, 16));
        ASSERT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_MEASURE), 1);
        std::vector<uint8_t> a = SolidFrame(source->Format(), 0);
        GrabLevel(source, a);
        ASSERT_EQ(GrabLevel(source, a), 0);
        std::vector<uint8_t> b = a;
        for (size_t i = 1; i < b.size(); i += 2) b[i] = 0x04;
        EXPECT_EQ(GrabLevel(source, b), bitfields ? 7 * 256 : 0);
        EXPECT_EQ(qv::core::State().lastDepth.load(), bitfields ? 16 : 15);
        BITMAPINFOHEADER h{};
        ASSERT_EQ(QvGetCaptureDeviceInfo(&h), 1);
        EXPECT_EQ(h.biBitCount, 16);
        QvCleanup();
    }
}

TEST_F(DeviceTest, PackedYuvFramesAreMeasured) {
    for (auto format : {Yuy2(16, 16), Uyvy(16, 16)}) {
        auto source = OpenCamera(format);
        ASSERT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_MEASURE), 1);
        std::vector<uint8_t> a = SolidFrame(format, 128);
        GrabLevel(source, a);
        ASSERT_EQ(GrabLevel(source, a), 0);
        // One group's luma up by 122: both pixels differ by 122 in R, G and B.
        std::vector<uint8_t> b = a;
        const bool yuy2 = format.compression == qv::capture::bmp::kYuy2;
        b[yuy2 ? 0 : 1] = 250;
        b[yuy2 ? 2 : 3] = 250;
        EXPECT_EQ(GrabLevel(source, b), 2 * 3 * 7);
        QvCleanup();
    }
}

TEST_F(DeviceTest, FailedAllocationSkipsTheFrame) {
    auto source = OpenCamera(Rgb24(16, 16));
    ASSERT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_MEASURE), 1);
    const std::vector<uint8_t> a = Pattern(source->Format());
    GrabLevel(source, a);
    ASSERT_EQ(GrabLevel(source, Changed(a, 12, 50)), 12);  // reference: the changed frame
    // Working copy fails: level and reference stay, the frame is still announced.
    Spin(20);
    const int before = host_->Notifications();
    qv::core::FailNextFrameAllocation(2);
    EXPECT_EQ(GrabLevel(source, Changed(a, 30, 120)), 12);
    EXPECT_TRUE(SpinUntil([&] { return host_->Notifications() == before + 1; }));
    EXPECT_EQ(GrabLevel(source, Changed(a, 12, 50)), 0);
    // A larger frame needs a larger reference; when that fails, the frame is skipped too.
    source->SetFormats({Rgb24(16, 16), Rgb24(32, 32)});
    ASSERT_TRUE(source->SetFormat(Rgb24(32, 32)));
    qv::core::FailNextFrameAllocation(1);
    const std::vector<uint8_t> big = Pattern(source->Format());
    EXPECT_EQ(GrabLevel(source, big), 0);
    EXPECT_EQ(qv::core::State().referenceSize, 16u * 16 * 3);
    GrabLevel(source, big);
    EXPECT_EQ(qv::core::State().referenceSize, 32u * 32 * 3);
    EXPECT_EQ(GrabLevel(source, big), 0);
}

TEST_F(DeviceTest, EveryPreviewFrameIsAnnouncedMeasuredOrNot) {
    auto source = OpenCamera(Rgb24(32, 24));
    source->SetRepeatLast(true);
    source->Queue(Pattern(source->Format()));
    QvCoreSetPreviewRate(100);
    ASSERT_EQ(QvSetDeviceState(QV_DS_DISPLAY_MODE, QV_DISPLAY_PREVIEW), 1);
    // Motion off: frames are announced, the level stays.
    EXPECT_TRUE(SpinUntil([&] { return host_->Notifications() >= 5; }));
    unsigned long level = 1;
    ASSERT_EQ(QvGetDeviceState(QV_DS_MOTION_LEVEL, &level), 1);
    EXPECT_EQ(level, 0u);
    ASSERT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_MEASURE), 1);
    const int before = host_->Notifications();
    EXPECT_TRUE(SpinUntil([&] { return host_->Notifications() >= before + 5; }));
    // Display off: no frames.
    ASSERT_EQ(QvSetDeviceState(QV_DS_DISPLAY_MODE, QV_DISPLAY_NONE), 1);
    Spin(30);
    const int stopped = host_->Notifications();
    Spin(100);
    EXPECT_EQ(host_->Notifications(), stopped);
    // Without a device the callback refuses and announces nothing.
    auto* window = Window();
    ASSERT_EQ(QvCleanupDevice(), 1);
    std::vector<uint8_t> frame = Pattern(source->Format());
    EXPECT_FALSE(qv::core::FrameCallback(window, frame.data(), frame.size()));
    Spin(30);
    EXPECT_EQ(host_->Notifications(), stopped);
}

TEST_F(DeviceTest, AVanishedCameraStopsThePreviewWithoutHarm) {
    auto source = OpenCamera(Rgb24(32, 24));
    source->SetRepeatLast(true);
    source->Queue(Pattern(source->Format()));
    ASSERT_EQ(QvSetDeviceState(QV_DS_DISPLAY_MODE, QV_DISPLAY_PREVIEW), 1);
    ASSERT_TRUE(SpinUntil([&] { return host_->Notifications() >= 2; }));
    source->Vanish();
    ASSERT_TRUE(SpinUntil([&] { return !Window()->Previewing(); }));
    EXPECT_EQ(QvCaptureSingleFrame(nullptr, 0), 0);
    EXPECT_EQ(QvCleanupDevice(), 1);
    // Plugged in again, the same device number opens.
    auto again = std::make_shared<ScriptedSource>(Rgb24(32, 24));
    qv::capture::SetExtraDrivers({ScriptedEntry("Scripted Camera 0", again)});
    QvSTARTUPDEVICEINFO info{host_.get(), host_.get()};
    ASSERT_EQ(QvStartupDevice(&info, 0), 1);
    EXPECT_TRUE(again->IsOpen());
}

TEST_F(DeviceTest, TheHostMayDestroyItsWindowFirst) {
    auto source = OpenCamera(Rgb24(32, 24));
    ASSERT_EQ(QvSetDeviceState(QV_DS_DISPLAY_MODE, QV_DISPLAY_PREVIEW), 1);
    host_.reset();  // takes the capture window with it
    EXPECT_FALSE(source->IsOpen());
    BITMAPINFOHEADER h{};
    EXPECT_EQ(QvGetCaptureDeviceInfo(&h), 0);
    EXPECT_EQ(QvSetDeviceState(QV_DS_DISPLAY_MODE, QV_DISPLAY_PREVIEW), 1);
    QvCoreSetPreviewRate(10);
    EXPECT_EQ(QvCaptureSingleFrame(nullptr, 0), 0);
    EXPECT_EQ(QvCleanup(), 1);
    EXPECT_EQ(QvGetCurDevice(), -1);
}

}  // namespace
}  // namespace qvtest
