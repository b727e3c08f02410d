// Mask polygons: the settings text and which pixels they cover.
#include <gtest/gtest.h>

#include <numeric>

#include "core/detect/MotionMask.h"

namespace qv::detect {
namespace {

struct ParseCase {
    const char* text;
    size_t polygons;  // 0 with ok false: refused
    bool ok;
};

class MaskText : public ::testing::TestWithParam<ParseCase> {};

TEST_P(MaskText, ParsesOrRefuses) {
    MaskPolygons m{{{0.5f, 0.5f}}};
    std::string error;
    EXPECT_EQ(ParseMask(GetParam().text, m, &error), GetParam().ok) << error;
    EXPECT_EQ(m.size(), GetParam().polygons);
    EXPECT_EQ(error.empty(), GetParam().ok);
    if (!GetParam().ok) return;
    // What is written reads back the same.
    MaskPolygons again;
    ASSERT_TRUE(ParseMask(FormatMask(m), again));
    EXPECT_EQ(again, m);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MaskText,
    ::testing::Values(ParseCase{"", 0, true}, ParseCase{"  ", 0, true},
                      ParseCase{"0.1,0.1 0.4,0.1 0.4,0.5", 1, true},
                      ParseCase{" 0,0  1,0\t1,1 ;0.7,0.7 0.9,0.7 0.9,0.9 0.7,0.9", 2, true},
                      ParseCase{"0.1,0.1 0.4,0.1", 0, false},           // two points
                      ParseCase{"0.1,0.1 0.4,0.1 0.4,0.5;", 0, false},  // empty polygon
                      ParseCase{"0.1,0.1 1.5,0.1 0.4,0.5", 0, false},   // beyond the picture
                      ParseCase{"-0.1,0.1 0.4,0.1 0.4,0.5", 0, false},
                      ParseCase{"0.1;0.1 0.4,0.1 0.4,0.5", 0, false},
                      ParseCase{"0.1,0.1,0.2 0.4,0.1 0.4,0.5", 0, false},
                      ParseCase{"a,b c,d e,f", 0, false}, ParseCase{"1e-1,0 1,0 1,1", 0, false},
                      ParseCase{"nan,0 1,0 1,1", 0, false}));

TEST(MaskText, RefusesTooManyPolygonsAndPoints) {
    std::string many;
    for (size_t i = 0; i <= kMaxMaskPolygons; ++i)
        many += (i ? ";" : "") + std::string("0,0 1,0 1,1");
    MaskPolygons m;
    EXPECT_FALSE(ParseMask(many, m));
    std::string big;
    for (size_t i = 0; i <= kMaxMaskPoints; ++i) big += "0.5,0.5 ";
    EXPECT_FALSE(ParseMask(big, m));
}

int Covered(const char* text, int w, int h) {
    MaskPolygons m;
    EXPECT_TRUE(ParseMask(text, m));
    const auto bits = MaskBitmap(m, w, h);
    return std::accumulate(bits.begin(), bits.end(), 0);
}

TEST(MaskRaster, CoversPixelsWhoseCentreIsInside) {
    EXPECT_EQ(Covered("0,0 1,0 1,1 0,1", 10, 10), 100);
    EXPECT_EQ(Covered("0,0 0.5,0 0.5,0.5 0,0.5", 10, 10), 25);
    EXPECT_EQ(Covered("0,0 0.95,0 0,0.95", 10, 10), 45);  // centres below the diagonal
    EXPECT_EQ(Covered("0,0 0.5,0 0.5,0.3 0.3,0.3 0.3,0.5 0,0.5", 10, 10), 15 + 6);
    // Overlapping polygons count once.
    EXPECT_EQ(Covered("0,0 0.5,0 0.5,0.5 0,0.5;0.2,0.2 0.6,0.2 0.6,0.6 0.2,0.6", 10, 10),
              25 + 16 - 9);
    MaskPolygons m;
    ASSERT_TRUE(ParseMask("0.2,0.5 0.6,0.5 0.6,1 0.2,1", m));
    const auto spans = MaskSpans(m, 10, 4);
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[0].y, 2);
    EXPECT_EQ(spans[0].x0, 2);
    EXPECT_EQ(spans[0].x1, 6);
    EXPECT_TRUE(MaskSpans(m, 0, 4).empty());
}

}  // namespace
}  // namespace qv::detect
