// The capture layer's own parts: the demo camera's formats and controls (the program runs
// show only its default), and AVI files as ffprobe reads them.
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

TEST(DemoCamera, EveryFormatFromItsClock) {
    int64_t now = 5000;
    DemoCamera cam([&now] { return now; });
    std::vector<uint8_t> frame, expected;
    EXPECT_EQ(cam.TakeFrame(frame), FrameResult::Lost);  // not open yet
    ASSERT_TRUE(cam.Open());
    // Three sizes, each 24-bit, YUY2 and 5-6-5; a new format gives a frame at once.
    ASSERT_EQ(cam.Formats().size(), 9u);
    for (const VideoFormat& f : cam.Formats()) {
        ASSERT_TRUE(cam.SetFormat(f));
        ASSERT_EQ(cam.TakeFrame(frame), FrameResult::Frame);
        EXPECT_EQ(frame.size(), qv::capture::FrameBytes(f));
    }
    EXPECT_EQ(cam.TakeFrame(frame), FrameResult::NoFrame);
    now += 67;  // fifteen frames a second, counted from Open
    ASSERT_EQ(cam.TakeFrame(frame), FrameResult::Frame);
    ASSERT_TRUE(DemoCamera::RenderFrame(cam.Format(), 1, expected));
    EXPECT_EQ(frame, expected);
    EXPECT_FALSE(cam.SetFormat(qvtest::Uyvy(320, 240)) || cam.SetFormat(qvtest::Rgb24(800, 600)));
    cam.Close();
    EXPECT_EQ(cam.TakeFrame(frame), FrameResult::Lost);
}

TEST(DemoCamera, ControlsChangeTheScene) {
    const VideoFormat f = qvtest::Rgb24(320, 240);
    std::vector<uint8_t> plain, bright, still, empty;
    DemoCamera cam;
    EXPECT_TRUE(cam.SetControl(DemoCamera::kBrightnessControl, 40));
    EXPECT_FALSE(cam.SetControl(DemoCamera::kBrightnessControl, 400) || cam.SetControl(99, 1));
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
    EXPECT_EQ(kv["error"] + kv["codec_name"] + " " + kv["pix_fmt"] + " " + kv["width"],
              "rawvideo " + std::string(c.pixFmt) + " " + std::to_string(c.format.width));
    if (c.frames) {  // an empty file has no count or rate to give
        EXPECT_EQ(kv["nb_frames"] + " " + kv["r_frame_rate"], std::to_string(c.frames) + " 10/1");
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
    EXPECT_FALSE(avi.AddFrame(nullptr, 0) || avi.Close());  // not open
    EXPECT_FALSE(avi.Open(dir.File("no/such/dir.avi"), f, 66667) ||
                 avi.Open(dir.File("a.avi"), VideoFormat{0, 8, 24, 0, 0}, 66667) ||
                 avi.Open(dir.File("a.avi"), f, 0));
}

}  // namespace
