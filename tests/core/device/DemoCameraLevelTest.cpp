// The demo camera's scene through the real measurement: still frames give 0, the figure
// crossing gives levels well above the default sensitivity, in every offered format.
#include "platform/capture/demo/DemoCamera.h"
#include "tests/core/device/DeviceFixture.h"

namespace qvtest {
namespace {

using qv::capture::DemoCamera;
using qv::capture::VideoFormat;

// Where the figure is in its crossing (0 to 1), or -1 outside it.
double CrossingPosition(uint64_t frame) {
    if (!DemoCamera::FigureVisible(frame)) return -1;
    const int64_t inCycle =
        static_cast<int64_t>(frame * 1000 / DemoCamera::kFramesPerSecond) % DemoCamera::kCycleMs;
    return static_cast<double>(inCycle - DemoCamera::kCrossingStartMs) / DemoCamera::kCrossingMs;
}

std::string Name(const VideoFormat& f) {
    return std::to_string(f.width) + "x" + std::to_string(f.height) + "/" +
           std::to_string(f.bitCount) + "/" + std::to_string(f.compression);
}

TEST_F(DeviceTest, DemoCameraLevelsInEveryFormat) {
    for (const VideoFormat& format : DemoCamera::OfferedFormats()) {
        SCOPED_TRACE(Name(format));
        auto source = OpenCamera(format);
        ASSERT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_MEASURE), 1);
        // Larger pictures: a sample of the still time and of the crossing, at 15 fps.
        std::vector<uint64_t> frames;
        if (format.width == 320) {
            for (uint64_t f = 20; f < 80; ++f) frames.push_back(f);
        } else {
            for (uint64_t f = 24; f < 29; ++f) frames.push_back(f);
            for (uint64_t f = 48; f < 56; ++f) frames.push_back(f);
            for (uint64_t f = 76; f < 80; ++f) frames.push_back(f);
        }
        std::vector<uint8_t> frame;
        long maxMoving = 0;
        int moving = 0;
        for (size_t i = 0; i < frames.size(); ++i) {
            ASSERT_TRUE(DemoCamera::RenderFrame(format, frames[i], frame));
            ASSERT_EQ(frame.size(), format.imageSize);
            const long level = GrabLevel(source, frame);
            if (i == 0 || frames[i - 1] + 1 != frames[i]) continue;  // no measured neighbour
            const double now = CrossingPosition(frames[i]),
                         before = CrossingPosition(frames[i - 1]);
            if (now < 0 && before < 0) {
                EXPECT_EQ(level, 0) << "still frame " << frames[i];
            } else if (now > 0.15 && now < 0.85 && before > 0.15) {
                EXPECT_GT(level, 3000) << "moving frame " << frames[i];
                maxMoving = std::max(maxMoving, level);
                ++moving;
            }
        }
        EXPECT_GT(moving, 3);
        EXPECT_GT(maxMoving, 3000);
        QvCleanup();
    }
}

TEST_F(DeviceTest, DemoCameraFramesAreReproducible) {
    const VideoFormat f = DemoCamera::OfferedFormats().front();
    std::vector<uint8_t> a, b, c;
    ASSERT_TRUE(DemoCamera::RenderFrame(f, 40, a));
    ASSERT_TRUE(DemoCamera::RenderFrame(f, 40, b));
    ASSERT_TRUE(DemoCamera::RenderFrame(f, 41, c));
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);  // noise and movement differ from frame to frame
    VideoFormat odd = f;
    odd.width = 100;
    EXPECT_FALSE(DemoCamera::RenderFrame(odd, 0, a));
}

}  // namespace
}  // namespace qvtest
