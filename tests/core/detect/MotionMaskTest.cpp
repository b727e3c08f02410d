// Mask polygons: the settings text and which pixels they cover.
#include <gtest/gtest.h>

#include <numeric>

#include "core/detect/MotionMask.h"

namespace qv::detect {
namespace {

std::string Repeat(const std::string& part, size_t times, const std::string& between) {
    std::string s = part;
    for (size_t i = 1; i < times; ++i) s += between + part;
    return s;
}

struct ParseCase {
    std::string text;
    size_t polygons;  // 0 with ok false: refused
    bool ok;
};

class MaskText : public ::testing::TestWithParam<ParseCase> {};

TEST_P(MaskText, ParsesOrRefuses) {
    MaskPolygons m{{{0.5f, 0.5f}}}, again;
    std::string error;
    EXPECT_EQ(ParseMask(GetParam().text, m, &error), GetParam().ok) << error;
    EXPECT_EQ(m.size(), GetParam().polygons);
    EXPECT_EQ(error.empty(), GetParam().ok);
    // What is written reads back the same.
    ASSERT_TRUE(ParseMask(FormatMask(m), again));
    EXPECT_EQ(again, m);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, MaskText, ::testing::Values(
    ParseCase{"", 0, true}, ParseCase{"  ", 0, true},
    ParseCase{"0.1,0.1 0.4,0.1 0.4,0.5", 1, true},
    // '|' between polygons is what the settings file holds; ';' is read too.
    ParseCase{"0.1,0.1 0.4,0.1 0.4,0.5|0.7,0.7 0.9,0.7 0.9,0.9 0.7,0.9", 2, true},
    ParseCase{" 0,0  1,0\t1,1 ;0.7,0.7 0.9,0.7 0.9,0.9 0.7,0.9", 2, true},
    ParseCase{Repeat("0,0 1,0 1,1", kMaxMaskPolygons, "|"), kMaxMaskPolygons, true},
    ParseCase{Repeat("0,0 1,0 1,1", kMaxMaskPolygons + 1, "|"), 0, false},
    ParseCase{Repeat("0.5,0.5", kMaxMaskPoints + 1, " "), 0, false},
    ParseCase{"0.1,0.1 0.4,0.1", 0, false},           // two points
    ParseCase{"0.1,0.1 0.4,0.1 0.4,0.5|", 0, false},  // empty polygon
    ParseCase{"0.1,0.1 1.5,0.1 0.4,0.5", 0, false},   // beyond the picture
    ParseCase{"-0.1,0.1 0.4,0.1 0.4,0.5", 0, false}, ParseCase{"0.1;0.1 0.4,0.1 0.4,0.5", 0, false},
    ParseCase{"0.1,0.1,0.2 0.4,0.1 0.4,0.5", 0, false}, ParseCase{"a,b c,d e,f", 0, false},
    ParseCase{"1e-1,0 1,0 1,1", 0, false}, ParseCase{"nan,0 1,0 1,1", 0, false}));
// clang-format on

TEST(MaskRaster, CoversPixelsWhoseCentreIsInside) {
    const std::pair<const char*, int> cases[] = {
        {"0,0 1,0 1,1 0,1", 100},
        {"0,0 0.5,0 0.5,0.5 0,0.5", 25},
        {"0,0 0.95,0 0,0.95", 45},  // centres below the diagonal
        {"0,0 0.5,0 0.5,0.3 0.3,0.3 0.3,0.5 0,0.5", 15 + 6},
        {"0,0 0.5,0 0.5,0.5 0,0.5|0.2,0.2 0.6,0.2 0.6,0.6 0.2,0.6", 25 + 16 - 9},  // once
    };
    MaskPolygons m;
    for (const auto& [text, covered] : cases) {
        ASSERT_TRUE(ParseMask(text, m));
        const auto bits = MaskBitmap(m, 10, 10);
        EXPECT_EQ(std::accumulate(bits.begin(), bits.end(), 0), covered) << text;
    }
    ASSERT_TRUE(ParseMask("0.2,0.5 0.6,0.5 0.6,1 0.2,1", m));
    const auto spans = MaskSpans(m, 10, 4);
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[0].y * 100 + spans[0].x0 * 10 + spans[0].x1, 226);  // row 2, x 2 to 6
    EXPECT_TRUE(MaskSpans(m, 0, 4).empty());
}

}  // namespace
}  // namespace qv::detect
