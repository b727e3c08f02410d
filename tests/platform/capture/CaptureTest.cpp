// The capture layer's own parts: the demo camera, the device list and AVI files as ffprobe
// reads them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>

#include "platform/capture/avi/AviWriter.h"
#include "platform/capture/demo/DemoCamera.h"
#include "tests/support/TestSupport.h"
#include "tests/support/capture/ScriptedDriver.h"

namespace {

using qv::capture::DemoCamera;
using qv::capture::FrameResult;
using qv::capture::VideoFormat;

TEST(DemoCamera, FifteenFramesASecondFromItsClockInEveryFormat) {
    int64_t now = 5000;
    DemoCamera cam([&now] { return now; });
    std::vector<uint8_t> frame, expected;
    EXPECT_EQ(cam.TakeFrame(frame), FrameResult::Lost);  // not open yet
    ASSERT_TRUE(cam.Open());
    EXPECT_EQ(cam.TakeFrame(frame), FrameResult::Frame);
    now += 66;
    EXPECT_EQ(cam.TakeFrame(frame), FrameResult::NoFrame);
    now += 1;
    EXPECT_EQ(cam.TakeFrame(frame), FrameResult::Frame);
    ASSERT_TRUE(DemoCamera::RenderFrame(cam.Format(), 1, expected));  // counted from Open
    EXPECT_EQ(frame, expected);
    cam.Close();  // reopened, it starts again at frame 0
    ASSERT_TRUE(cam.Open());
    int frames = 0;
    for (int ms = 0; ms < 3000; ++ms, ++now) frames += cam.TakeFrame(frame) == FrameResult::Frame;
    EXPECT_EQ(frames, 45);
    // Three sizes, each 24-bit, YUY2 and 5-6-5; nothing else.
    ASSERT_EQ(cam.Formats().size(), 9u);
    for (const VideoFormat& f : cam.Formats()) {
        ASSERT_TRUE(cam.SetFormat(f));
        now += 67;
        ASSERT_EQ(cam.TakeFrame(frame), FrameResult::Frame);
        EXPECT_EQ(frame.size(), qv::capture::FrameBytes(f));
    }
    EXPECT_FALSE(cam.SetFormat(qvtest::Uyvy(320, 240)));
    EXPECT_FALSE(cam.SetFormat(qvtest::Rgb24(800, 600)));
    cam.Close();
    EXPECT_EQ(cam.TakeFrame(frame), FrameResult::Lost);
}

TEST(DemoCamera, ControlsChangeTheScene) {
    const VideoFormat f = qvtest::Rgb24(320, 240);
    std::vector<uint8_t> plain, bright, still, empty;
    DemoCamera cam;
    EXPECT_TRUE(cam.SetControl(DemoCamera::kBrightnessControl, 40));
    EXPECT_FALSE(cam.SetControl(DemoCamera::kBrightnessControl, 400));
    EXPECT_FALSE(cam.SetControl(99, 1));
    EXPECT_EQ(cam.Controls()[0].value, 40);
    DemoCamera::RenderFrame(f, 5, plain);
    DemoCamera::RenderFrame(f, 5, bright, 40);
    EXPECT_GT(std::accumulate(bright.begin(), bright.end(), 0L),
              std::accumulate(plain.begin(), plain.end(), 0L) + long(plain.size()) * 30);
    // Without the walker the crossing time looks like the empty room.
    DemoCamera::RenderFrame(f, 45, still, 0, false);
    DemoCamera::RenderFrame(f, 10, empty);
    EXPECT_TRUE(std::equal(still.begin(), still.end(), empty.begin(),
                           [](int a, int b) { return std::abs(a - b) <= 8; }));
}

TEST(DeviceList, DemoCameraBeforeTheExtrasAndTenAtMost) {
    auto source = std::make_shared<qvtest::ScriptedSource>(qvtest::Rgb24(32, 24));
    std::vector<qv::capture::DriverEntry> extra;
    for (int i = 0; i < 12; ++i)
        extra.push_back(qvtest::ScriptedEntry("Extra " + std::to_string(i), source));
    qv::capture::SetExtraDrivers(extra);
    for (const char* demo : {"0", "1"}) {
        setenv("QUORVEX_DEMO_CAMERA", demo, 1);
        const auto list = qv::capture::ListDrivers();
        ASSERT_EQ(list.size(), 10u);
        size_t at = list.size();
        for (size_t i = 0; i < list.size(); ++i)
            if (list[i].description == DemoCamera::kDescription) at = i;
        ASSERT_EQ(at < list.size(), *demo == '1');
        EXPECT_TRUE(at == list.size() || list[at + 1].description == "Extra 0");
    }
    unsetenv("QUORVEX_DEMO_CAMERA");
    qv::capture::SetExtraDrivers({});
}

struct AviCase {
    VideoFormat format;
    const char* pixFmt;
    int frames;
};

class AviFiles : public ::testing::TestWithParam<AviCase> {};

TEST_P(AviFiles, FfprobeReadsThemWhole) {
    if (qvtest::FindProgram("ffprobe").empty()) GTEST_SKIP() << "ffprobe is not installed";
    const AviCase& c = GetParam();
    qvtest::TempDir dir;
    const std::string path = dir.File("seq.avi");
    qv::capture::AviWriter avi;
    ASSERT_TRUE(avi.Open(path, c.format, 100000));
    // An odd frame size is padded to an even chunk and still indexed right.
    std::vector<uint8_t> frame(qv::capture::FrameBytes(c.format) - (c.format.width == 3), 0x5A);
    for (int k = 0; k < c.frames; ++k) ASSERT_TRUE(avi.AddFrame(frame.data(), frame.size()));
    ASSERT_TRUE(avi.Close());
    auto kv = qvtest::ProbeVideo(path);
    EXPECT_EQ(kv["error"], "");
    EXPECT_EQ(kv["codec_name"], "rawvideo");
    EXPECT_EQ(kv["pix_fmt"], c.pixFmt);
    EXPECT_EQ(kv["width"], std::to_string(c.format.width));
    if (c.frames == 0) {
        EXPECT_TRUE(kv["nb_frames"] == "0" || kv["nb_frames"] == "N/A") << kv["nb_frames"];
    } else {
        EXPECT_EQ(kv["nb_frames"], std::to_string(c.frames));
        EXPECT_EQ(kv["r_frame_rate"], "10/1");
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, AviFiles,
                         ::testing::Values(AviCase{qvtest::Rgb24(30, 20), "bgr24", 4},
                                           AviCase{qvtest::Rgb24(3, 3), "bgr24", 3},
                                           AviCase{qvtest::Rgb24(8, 8), "bgr24", 0},
                                           AviCase{qvtest::Yuy2(32, 16), "yuyv422", 5},
                                           AviCase{qvtest::Uyvy(32, 16), "uyvy422", 5},
                                           AviCase{qvtest::Rgb555(32, 16), "rgb555le", 5},
                                           AviCase{qvtest::Rgb565(32, 16), "rgb565le", 5}));

TEST(AviWriter, RefusesMisuse) {
    qvtest::TempDir dir;
    const VideoFormat f = qvtest::Rgb24(8, 8);
    qv::capture::AviWriter avi;
    EXPECT_FALSE(avi.AddFrame(nullptr, 0));  // not open
    EXPECT_FALSE(avi.Close());
    EXPECT_FALSE(avi.Open(dir.File("no/such/dir.avi"), f, 66667));
    EXPECT_FALSE(avi.Open(dir.File("a.avi"), VideoFormat{0, 8, 24, 0, 0}, 66667));
    EXPECT_FALSE(avi.Open(dir.File("a.avi"), f, 0));
}

}  // namespace
