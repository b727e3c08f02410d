// The demo camera as a driver: its clock, formats, controls and place in the device list.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/capture/demo/DemoCamera.h"
#include "tests/support/capture/ScriptedDriver.h"

namespace {

using qv::capture::DemoCamera;
using qv::capture::FrameResult;
using qv::capture::VideoFormat;

TEST(DemoCamera, DeliversFifteenFramesASecondFromItsClock) {
    int64_t now = 5000;
    DemoCamera cam([&now] { return now; });
    std::vector<uint8_t> frame;
    EXPECT_EQ(cam.TakeFrame(frame), FrameResult::Lost);  // not open yet
    ASSERT_TRUE(cam.Open());
    EXPECT_EQ(cam.TakeFrame(frame), FrameResult::Frame);
    EXPECT_EQ(frame.size(), 320u * 240 * 3);
    EXPECT_EQ(cam.TakeFrame(frame), FrameResult::NoFrame);
    now += 66;
    EXPECT_EQ(cam.TakeFrame(frame), FrameResult::NoFrame);
    now += 1;
    EXPECT_EQ(cam.TakeFrame(frame), FrameResult::Frame);
    // The scene is the one of that frame number (counted from Open).
    std::vector<uint8_t> expected;
    ASSERT_TRUE(DemoCamera::RenderFrame(cam.Format(), 1, expected));
    EXPECT_EQ(frame, expected);
    // Reopened, it starts again at frame 0: 45 frames in three seconds.
    cam.Close();
    ASSERT_TRUE(cam.Open());
    int frames = 0;
    for (int ms = 0; ms < 3000; ++ms, ++now)
        if (cam.TakeFrame(frame) == FrameResult::Frame) ++frames;
    EXPECT_EQ(frames, 45);
    cam.Close();
    EXPECT_EQ(cam.TakeFrame(frame), FrameResult::Lost);
}

TEST(DemoCamera, OffersThreeSizesInThreeLayouts) {
    DemoCamera cam;
    const std::vector<VideoFormat> formats = cam.Formats();
    ASSERT_EQ(formats.size(), 9u);
    EXPECT_EQ(cam.Format(), formats.front());
    EXPECT_EQ(formats.front(), qvtest::Rgb24(320, 240));
    int yuy2 = 0, rgb565 = 0, rgb24 = 0;
    for (const VideoFormat& f : formats) {
        EXPECT_EQ(f.imageSize, qv::capture::FrameBytes(f));
        yuy2 += f.compression == qv::capture::bmp::kYuy2;
        rgb565 += f.compression == qv::capture::bmp::kBitfields;
        rgb24 += f.bitCount == 24;
        EXPECT_TRUE(cam.SetFormat(f));
        std::vector<uint8_t> frame;
        ASSERT_TRUE(cam.Open());
        ASSERT_EQ(cam.TakeFrame(frame), FrameResult::Frame);
        EXPECT_EQ(frame.size(), f.imageSize);
    }
    EXPECT_EQ(yuy2, 3);
    EXPECT_EQ(rgb565, 3);
    EXPECT_EQ(rgb24, 3);
    EXPECT_FALSE(cam.SetFormat(qvtest::Uyvy(320, 240)));
    EXPECT_FALSE(cam.SetFormat(qvtest::Rgb24(800, 600)));
}

TEST(DemoCamera, ControlsChangeTheScene) {
    int64_t now = 0;
    DemoCamera cam([&now] { return now; });
    ASSERT_TRUE(cam.Open());
    const auto controls = cam.Controls();
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0].name, "Brightness");
    std::vector<uint8_t> plain, bright;
    cam.TakeFrame(plain);
    EXPECT_TRUE(cam.SetControl(DemoCamera::kBrightnessControl, 40));
    EXPECT_FALSE(cam.SetControl(DemoCamera::kBrightnessControl, 400));
    EXPECT_FALSE(cam.SetControl(99, 1));
    now += 67;
    cam.TakeFrame(bright);
    long sumPlain = 0, sumBright = 0;
    for (size_t i = 0; i < plain.size(); ++i) {
        sumPlain += plain[i];
        sumBright += bright[i];
    }
    EXPECT_GT(sumBright, sumPlain + static_cast<long>(plain.size()) * 30);
    EXPECT_EQ(cam.Controls()[0].value, 40);
    // Without the walker the crossing time stays still.
    EXPECT_TRUE(cam.SetControl(DemoCamera::kWalkerControl, 0));
    std::vector<uint8_t> a, b;
    DemoCamera::RenderFrame(cam.Format(), 45, a, 0, false);
    DemoCamera::RenderFrame(cam.Format(), 10, b, 0, true);
    size_t differing = 0;
    for (size_t i = 0; i < a.size(); ++i) differing += std::abs(a[i] - b[i]) > 8;
    EXPECT_EQ(differing, 0u);
}

TEST(DeviceList, DemoCameraAfterRealDevicesAndBeforeExtras) {
    auto source = std::make_shared<qvtest::ScriptedSource>(qvtest::Rgb24(32, 24));
    std::vector<qv::capture::DriverEntry> extra;
    for (int i = 0; i < 12; ++i)
        extra.push_back(qvtest::ScriptedEntry("Extra " + std::to_string(i), source));
    qv::capture::SetExtraDrivers(extra);
    unsetenv("QUORVEX_DEMO_CAMERA");
    auto list = qv::capture::ListDrivers();
    const size_t real = list.size() - std::min<size_t>(list.size(), 10);
    ASSERT_EQ(list.size(), 10u);  // at most ten
    (void)real;
    for (const auto& e : list) EXPECT_NE(e.description, DemoCamera::kDescription);
    setenv("QUORVEX_DEMO_CAMERA", "1", 1);
    list = qv::capture::ListDrivers();
    ASSERT_EQ(list.size(), 10u);
    size_t demo = list.size();
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].description == DemoCamera::kDescription) demo = i;
    ASSERT_LT(demo, list.size());
    EXPECT_EQ(list[demo + 1].description, "Extra 0");
    auto driver = list[demo].create();
    ASSERT_TRUE(driver);
    EXPECT_TRUE(driver->Open());
    setenv("QUORVEX_DEMO_CAMERA", "0", 1);
    list = qv::capture::ListDrivers();
    for (const auto& e : list) EXPECT_NE(e.description, DemoCamera::kDescription);
    unsetenv("QUORVEX_DEMO_CAMERA");
    qv::capture::SetExtraDrivers({});
}

}  // namespace
