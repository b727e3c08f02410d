// The frame callback's side of the masks and the check: masked pixels leave the level's sum
// exactly as if they had not changed, in every layout, and the check's verdict reaches the
// exported functions.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "Motion.h"
#include "MotionCheckHook.h"
#include "QuorCore.h"
#include "core/detect/MotionMask.h"

namespace qv::core {
namespace {

struct Layout {
    FrameLayout layout;
    uint16_t bitCount;
    int width, height;
};

// Byte ranges of pixel (x, y) (top row first) in the layout; packed YUV covers the group.
std::pair<size_t, size_t> PixelBytes(const Layout& l, int x, int y) {
    if (l.layout == FrameLayout::Yuy2 || l.layout == FrameLayout::Uyvy)
        return {size_t(l.width) * 2 * size_t(y) + size_t(x / 2) * 4, 4};
    const size_t n = l.bitCount / 8, stride = (size_t(l.width) * n + 3) & ~size_t(3);
    return {stride * size_t(l.height - 1 - y) + size_t(x) * n, n};
}

class MaskedLevel : public ::testing::TestWithParam<Layout> {};

TEST_P(MaskedLevel, SumIsThatOfTheFrameWithMaskedPixelsUnchanged) {
    const Layout l = GetParam();
    const char* maskText = "0.1,0.1 0.6,0.2 0.4,0.9|0.7,0.5 1,0.5 1,1 0.7,1";
    ASSERT_EQ(QvSetMotionCheck(0, maskText), 1);
    detect::MaskPolygons mask;
    ASSERT_TRUE(detect::ParseMask(maskText, mask));
    const auto bits = detect::MaskBitmap(mask, l.width, l.height);

    size_t length = 0;  // the end of the last pixel, rounded up to whole words
    for (int y : {0, l.height - 1}) {
        const auto [o, n] = PixelBytes(l, l.width - 1, y);
        length = std::max(length, (o + n + 3) & ~size_t(3));
    }
    std::mt19937 rng(3);
    std::vector<uint8_t> frame(length), reference(length);
    for (size_t i = 0; i < length; ++i) frame[i] = uint8_t(rng()), reference[i] = uint8_t(rng());
    // The frame with every masked pixel as it is in the reference.
    std::vector<uint8_t> still = frame;
    for (int y = 0; y < l.height; ++y)
        for (int x = 0; x < l.width; ++x)
            if (bits[size_t(y) * l.width + x]) {
                const auto [o, n] = PixelBytes(l, x, y);
                std::copy(reference.begin() + o, reference.begin() + o + n, still.begin() + o);
            }
    std::vector<uint8_t> out(length, 0xAA), expectedOut(length, 0xAA);
    uint64_t sum = MeasureDifference(l.layout, frame.data(), reference.data(), out.data(), length);
    const uint64_t expected =
        MeasureDifference(l.layout, still.data(), reference.data(), expectedOut.data(), length);
    ASSERT_NE(sum, expected);
    CheckFrame(l.layout, l.bitCount, frame.data(), reference.data(), out.data(), length, l.width,
               l.height, sum);
    EXPECT_EQ(sum, expected);
    EXPECT_EQ(out, expectedOut);
    ASSERT_EQ(QvSetMotionCheck(0, ""), 1);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Layouts, MaskedLevel, ::testing::Values(
    Layout{FrameLayout::RawBytes, 24, 37, 21}, Layout{FrameLayout::RawBytes, 24, 40, 30},
    Layout{FrameLayout::Rgb565, 16, 37, 21}, Layout{FrameLayout::Rgb555, 16, 40, 30},
    Layout{FrameLayout::Yuy2, 16, 40, 30}, Layout{FrameLayout::Uyvy, 16, 38, 21}));
// clang-format on

TEST(MotionCheckExport, RefusesBadMasksAndReportsTheCheck) {
    EXPECT_EQ(QvSetMotionCheck(1, "0.1,0.1 2,0"), 0);
    EXPECT_EQ(QvGetMotionCheckResult(nullptr), 0);
    QvMOTIONCHECKRESULT r;
    ASSERT_EQ(QvGetMotionCheckResult(&r), 1);
    EXPECT_EQ(r.enabled, 0);  // the refused call changed nothing

    ASSERT_EQ(QvSetMotionCheck(1, ""), 1);
    const int w = 64, h = 48;
    std::vector<uint8_t> frame(size_t(w) * h * 3, 120), out(frame.size());
    uint64_t sum = 0;
    CheckFrame(FrameLayout::RawBytes, 24, frame.data(), frame.data(), out.data(), frame.size(), w,
               h, sum);
    ASSERT_EQ(QvGetMotionCheckResult(&r), 1);
    EXPECT_TRUE(r.enabled == 1 && r.gridWidth == w && r.gridHeight == h);
    std::vector<unsigned char> cells(size_t(w) * h);
    EXPECT_EQ(QvGetMotionCheckCells(cells.data(), int(cells.size()) - 1), 0);
    EXPECT_EQ(QvGetMotionCheckCells(cells.data(), int(cells.size())), 1);
    std::vector<unsigned char> luma(cells.size());
    EXPECT_EQ(QvGetMotionCheckPicture(luma.data(), int(luma.size()) - 1), 0);
    ASSERT_EQ(QvGetMotionCheckPicture(luma.data(), int(luma.size())), 1);
    EXPECT_NEAR(luma[0], 120, 1);  // the grey frame's luma
    ASSERT_EQ(QvSetMotionCheck(0, ""), 1);
}

}  // namespace
}  // namespace qv::core
