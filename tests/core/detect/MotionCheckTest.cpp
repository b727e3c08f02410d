// The motion check's rules over small synthetic scenes: a textured 160x120 room with sensor
// noise, light changes, speckle, blobs of several sizes and lifetimes, and masks.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "core/detect/MotionCheck.h"
#include "tests/support/capture/ScriptedDriver.h"

namespace qv::detect {
namespace {

constexpr int kW = 160, kH = 120;

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};

struct Scene {
    const char* name;
    double noise = 2;                         // sensor noise, standard deviation
    double gainFrom20 = 1, offsetFrom20 = 0;  // light change from frame 20 on
    double pumping = 0;                       // exposure swinging by this share every 2 s
    int speckles = 0;                         // isolated pixels flipped every frame
    Rect blob{};                              // a dark object, moving 3 px a frame
    int contrast = 80;                        // how much darker than the room
    int blobFrom = 20, blobFrames = 0;
    int frameMs = 100, frames = 50;
    int firstGapMs = 0;  // the second frame comes this much later (a start on a busy machine)
    const char* mask = "";
    bool expectConfirmed = false;
};

// One 24-bit bottom-up frame of the scene.
std::vector<uint8_t> Render(const Scene& s, int frame, std::mt19937& rng) {
    std::vector<uint8_t> data(FrameBytes(PixelFormat::Bgr24, kW, kH));
    const size_t stride = data.size() / kH;
    std::normal_distribution<double> noise(0, s.noise);
    double gain = frame >= 20 ? s.gainFrom20 : 1, offset = frame >= 20 ? s.offsetFrom20 : 0;
    gain *= 1 + s.pumping * std::sin(2 * M_PI * frame * s.frameMs / 2000.0);
    const bool blob = s.blobFrames > 0 && frame >= s.blobFrom && frame < s.blobFrom + s.blobFrames;
    const int bx = s.blob.x + 3 * (frame - s.blobFrom);
    std::uniform_int_distribution<int> px(0, kW * kH - 1);
    std::vector<uint8_t> speck(size_t(kW) * kH, 0);
    for (int i = 0; i < s.speckles; ++i) speck[size_t(px(rng))] = 1;
    for (int y = 0; y < kH; ++y) {
        uint8_t* row = data.data() + size_t(kH - 1 - y) * stride;
        for (int x = 0; x < kW; ++x) {
            double v = 70 + ((x * 7 + y * 13) % 97) + 20 * std::sin(x * 0.05);  // the room
            if (blob && x >= bx && x < bx + s.blob.w && y >= s.blob.y && y < s.blob.y + s.blob.h)
                v -= s.contrast;
            v = gain * v + offset + noise(rng);
            if (speck[size_t(y) * kW + x]) v = 255 - v;
            row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = uint8_t(std::clamp(v, 0.0, 255.0));
        }
    }
    return data;
}

// Feeds the scene's frames; true when any was confirmed.
bool Play(const Scene& s, MotionCheck& check) {
    std::mt19937 rng(1234);
    MaskPolygons mask;
    EXPECT_TRUE(ParseMask(s.mask, mask));
    check.SetMask(mask);
    bool any = false;
    for (int f = 0; f < s.frames; ++f) {
        const auto d = Render(s, f, rng);
        const int64_t at = int64_t(f) * s.frameMs + (f > 0 ? s.firstGapMs : 0);
        any |= check.Feed(PixelFormat::Bgr24, d.data(), d.size(), kW, kH, at).confirmed;
    }
    return any;
}

class CheckRules : public ::testing::TestWithParam<Scene> {};

TEST_P(CheckRules, ConfirmsOnlyRealMotion) {
    MotionCheck check;
    EXPECT_EQ(Play(GetParam(), check), GetParam().expectConfirmed);
}

const Rect kPerson{10, 30, 20, 60};  // 6 % of the picture
const Rect kPet{10, 100, 10, 8};     // 0.4 %

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, CheckRules, ::testing::Values(
    Scene{.name = "still_low_noise"}, Scene{.name = "still_high_gain_noise", .noise = 14},
    // A busy machine's start: the second frame comes after the warm-up time has passed.
    Scene{.name = "noise_after_a_late_second_frame", .noise = 14, .firstGapMs = 2000},
    Scene{.name = "low_noise_after_a_late_second_frame", .noise = 10, .firstGapMs = 1500},
    Scene{.name = "lamp_on", .gainFrom20 = 1.6, .offsetFrom20 = 10},
    Scene{.name = "lamp_off", .gainFrom20 = 0.45, .offsetFrom20 = -5},
    Scene{.name = "exposure_pumping", .pumping = 0.2},
    Scene{.name = "speckle", .speckles = 300},
    Scene{.name = "pet_sized_blob", .blob = kPet, .blobFrames = 30},
    Scene{.name = "person_by_day", .blob = kPerson, .blobFrames = 30, .expectConfirmed = true},
    Scene{.name = "person_at_night_through_noise", .noise = 10, .blob = kPerson, .contrast = 45,
          .blobFrames = 30, .expectConfirmed = true},
    Scene{.name = "person_while_lamp_goes_on", .gainFrom20 = 1.4, .blob = kPerson, .blobFrames = 30,
          .expectConfirmed = true},
    // Followed light keeps the noise low enough to see a dim figure.
    Scene{.name = "person_during_exposure_pumping", .pumping = 0.2, .blob = kPerson, .contrast = 45,
          .blobFrames = 30, .expectConfirmed = true},
    Scene{.name = "one_frame_event", .blob = kPerson, .blobFrames = 1},
    Scene{.name = "shorter_than_persistence", .blob = kPerson, .blobFrames = 5},
    Scene{.name = "persistence_counts_time_not_frames_fast", .blob = kPerson, .blobFrom = 60,
          .blobFrames = 15, .frameMs = 33, .frames = 100},
    Scene{.name = "persistence_counts_time_not_frames_slow", .blob = kPerson, .blobFrom = 60,
          .blobFrames = 30, .frameMs = 33, .frames = 100, .expectConfirmed = true},
    Scene{.name = "person_inside_mask", .blob = kPerson, .blobFrames = 30,
          .mask = "0,0 0.85,0 0.85,1 0,1"},
    Scene{.name = "person_beside_mask", .blob = kPerson, .blobFrames = 30,
          .mask = "0.8,0 1,0 1,1 0.8,1", .expectConfirmed = true}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(MotionCheck, MarksTheMovingBlobAndTheMaskForTheView) {
    MotionCheck check;
    // Two polygons, as the settings file holds them: the bottom corners.
    // clang-format off
    Play({.name = "view", .blob = kPerson, .blobFrames = 30, .frames = 30,
          .mask = "0.9,0.9 1,0.9 1,1|0,0.9 0.1,1 0,1"}, check);
    // clang-format on
    const MotionCheckResult& r = check.Result();
    ASSERT_EQ(r.blobs.size(), 1u);
    const int x = kPerson.x + 3 * 9;  // the blob's place in frame 29
    EXPECT_NEAR(r.blobs[0].x0, x, 2);
    EXPECT_NEAR(r.blobs[0].x1, x + kPerson.w, 2);
    EXPECT_NEAR(r.blobs[0].y0, kPerson.y, 2);
    EXPECT_NEAR(r.blobs[0].y1, kPerson.y + kPerson.h, 2);
    EXPECT_EQ(check.Cells()[size_t(kPerson.y + 30) * kW + x + 10], 2);
    EXPECT_EQ(check.Cells()[size_t(kH - 1) * kW + kW - 1], 3);
    EXPECT_EQ(check.Cells()[size_t(kH - 1) * kW + 1], 3);
    EXPECT_EQ(check.Cells()[0], 0);
}

TEST(MotionCheck, IgnoresFramesTooShortOrEmpty) {
    MotionCheck check;
    std::vector<uint8_t> d(100, 7);
    EXPECT_FALSE(check.Feed(PixelFormat::Bgr24, d.data(), d.size(), kW, kH, 0).confirmed);
    EXPECT_FALSE(check.Feed(PixelFormat::Yuy2, nullptr, 0, kW, kH, 0).confirmed);
    EXPECT_FALSE(check.Feed(PixelFormat::Yuy2, d.data(), d.size(), 0, 0, 0).confirmed);
    EXPECT_FALSE(check.Feed(PixelFormat::Rgb565, d.data(), d.size(), -5, 10, 0).confirmed);
    EXPECT_EQ(check.GridWidth(), 0);
}

// Every layout gives the same luma picture, top row first, for a picture bright at the top
// and dark at the bottom.
class LumaLayouts
    : public ::testing::TestWithParam<std::pair<PixelFormat, qv::capture::VideoFormat>> {};

TEST_P(LumaLayouts, TopRowFirstAndSameLuma) {
    const auto [f, video] = GetParam();
    const std::vector<uint8_t> d = qvtest::GreyFrame(video, 200, 48);  // exact in 16-bit RGB
    ASSERT_EQ(d.size(), FrameBytes(f, 20, 8));
    std::vector<float> grid;
    std::vector<uint32_t> rows;
    ASSERT_TRUE(LumaGrid(f, d.data(), d.size(), 20, 8, 2, grid, rows));
    ASSERT_EQ(grid.size(), size_t(10 * 4));
    EXPECT_NEAR(grid[0], 200, 1.5);
    EXPECT_NEAR(grid[10 * 3 + 9], 48, 1.5);
    EXPECT_FALSE(LumaGrid(f, d.data(), d.size() - 1, 20, 8, 2, grid, rows));
}

INSTANTIATE_TEST_SUITE_P(Formats, LumaLayouts,
                         ::testing::Values(std::pair{PixelFormat::Bgr24, qvtest::Rgb24(20, 8)},
                                           std::pair{PixelFormat::Yuy2, qvtest::Yuy2(20, 8)},
                                           std::pair{PixelFormat::Uyvy, qvtest::Uyvy(20, 8)},
                                           std::pair{PixelFormat::Rgb565, qvtest::Rgb565(20, 8)},
                                           std::pair{PixelFormat::Rgb555, qvtest::Rgb555(20, 8)}));

}  // namespace
}  // namespace qv::detect
