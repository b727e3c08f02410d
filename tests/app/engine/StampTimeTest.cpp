// The time stamp: where each glyph lands, one line or two, and the headers it refuses.
#include <gtest/gtest.h>

#include <cstring>

#include "app/engine/StampTime.h"
#include "app/imaging/DibImage.h"
#include "tests/app/engine/EngineFakes.h"

using qv::engine::StampGlyphPixel;
using qv::engine::StampTime;
using qv::engine::WallTime;

namespace {

// Glyph index of each character of "YYYY/MM/DD hh:mm:ss".
int GlyphOf(char c) {
    return c == ':' ? 10 : c == '/' ? 11 : c - '0';
}

// Checks that the glyph of c sits with its top-left pixel at (left, top), top counted from the
// top of the picture, over the unchanged background of the original.
void ExpectGlyphAt(const qv::DibImage& stamped, const qv::DibImage& original, char c, int left,
                   int top) {
    const int h = stamped.Height();
    for (int gy = 0; gy < 12; ++gy) {
        const uint8_t* row = stamped.Row(h - 1 - (top + gy));
        const uint8_t* orig = original.Row(h - 1 - (top + gy));
        for (int gx = 0; gx < 8; ++gx) {
            uint8_t v = StampGlyphPixel(GlyphOf(c), gy, gx);
            int x = (left + gx) * 3;
            uint8_t want = v ? v : orig[x];
            ASSERT_EQ(row[x], want)
                << "'" << c << "' at " << left << "," << top << " glyph pixel " << gx << "," << gy;
            ASSERT_EQ(row[x + 1], want);
            ASSERT_EQ(row[x + 2], want);
        }
    }
}

class StampTimeTest : public ::testing::Test {
  protected:
    // Stamps a ramp picture of the given size (after edit of its bytes) and loads both.
    bool Stamp(int width, int height, const std::function<void(std::string&)>& edit = {}) {
        std::string bytes = qvtest::BmpBytes(width, height);
        if (edit) edit(bytes);
        qvtest::WriteFile(Src(), bytes);
        return StampTime(Src(), Dst(), When()) && in.LoadBmp(Src()) && out.LoadBmp(Dst());
    }
    std::string Src() { return dir.File("src.bmp"); }
    std::string Dst() { return dir.File("dst.bmp"); }
    WallTime When() { return {qvtest::LocalSeconds(2003, 7, 15, 12, 30, 45), 500}; }
    qvtest::TempDir dir;
    qv::DibImage in, out;
};

TEST_F(StampTimeTest, OneLineAtTheTopLeftOfAWidePicture) {
    ASSERT_TRUE(Stamp(160, 120));
    const std::string text = "2003/07/15 12:30:45";
    int x = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i == 10) {
            x += 4;
            continue;
        }
        ExpectGlyphAt(out, in, text[i], x, 0);
        x += 8;
    }
    EXPECT_EQ(x, 148);
    // Everything below the band and right of the text is untouched.
    for (int y = 0; y < 108; ++y)
        ASSERT_EQ(0, std::memcmp(in.Row(y), out.Row(y), in.Stride())) << "row " << y;
    for (int y = 108; y < 120; ++y)
        ASSERT_EQ(0, std::memcmp(in.Row(y) + 148 * 3, out.Row(y) + 148 * 3, (160 - 148) * 3));
    EXPECT_EQ(qvtest::ReadFile(Dst()).size(), qvtest::ReadFile(Src()).size());
}

TEST_F(StampTimeTest, DateOverTimeOnANarrowPictureAndOddRowsKeepTheirPadding) {
    ASSERT_TRUE(Stamp(120, 90));
    const std::string date = "2003/07/15", time = "12:30:45";
    for (size_t i = 0; i < date.size(); ++i) ExpectGlyphAt(out, in, date[i], int(i) * 8, 0);
    for (size_t i = 0; i < time.size(); ++i) ExpectGlyphAt(out, in, time[i], int(i) * 8, 12);
    ASSERT_TRUE(Stamp(149, 13, [](std::string& b) { std::memset(&b[34], 0, 4); }));  // no size
    ExpectGlyphAt(out, in, '5', 140, 0);
    ASSERT_EQ(0, std::memcmp(in.Row(0), out.Row(0), in.Stride()));
}

TEST_F(StampTimeTest, TopDownPictureIsStampedAtItsTop) {
    std::string bytes = qvtest::BmpBytes(160, 40);
    const int32_t negative = -40;
    std::memcpy(&bytes[22], &negative, 4);
    qvtest::WriteFile(Src(), bytes);
    ASSERT_TRUE(StampTime(Src(), Dst(), When()));
    const std::string stamped = qvtest::ReadFile(Dst());
    // First stored row is the top row: glyph '2' row 0 is blank, row 1 starts ".gggggg." at x 1.
    const auto* row1 = reinterpret_cast<const uint8_t*>(stamped.data()) + 54 + 480;
    EXPECT_EQ(row1[1 * 3], 101) << "transparent glyph pixel keeps the picture";
    EXPECT_EQ(row1[2 * 3], 64);
}

TEST_F(StampTimeTest, RefusesWhatDoesNotFit) {
    struct Case {
        const char* what;
        int width, height;
        std::function<void(std::string&)> edit;
    };
    const Case cases[] = {
        {"narrower than 80", 64, 48, [](std::string&) {}},
        {"lower than the band", 160, 10, [](std::string&) {}},
        {"cut short", 160, 120, [](std::string& b) { b.resize(b.size() - 100); }},
        {"image size too small", 160, 120,
         [](std::string& b) {
             uint32_t s = 1000;
             std::memcpy(&b[34], &s, 4);
         }},
        {"height beyond the file", 160, 120,
         [](std::string& b) {
             int32_t h = 100000;
             std::memcpy(&b[22], &h, 4);
         }},
        {"not 24 bits", 160, 120,
         [](std::string& b) {
             uint16_t c = 32;
             std::memcpy(&b[28], &c, 2);
         }},
        {"header of 12 bytes", 160, 120,
         [](std::string& b) {
             uint32_t s = 12;
             std::memcpy(&b[14], &s, 4);
         }},
        {"not a BMP", 160, 120, [](std::string& b) { b[0] = 'X'; }},
        {"header only", 160, 120, [](std::string& b) { b.resize(30); }},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(Stamp(c.width, c.height, c.edit)) << c.what;
        EXPECT_FALSE(qvtest::FileExists(Dst())) << c.what;
    }
    EXPECT_FALSE(StampTime(dir.File("missing.bmp"), Dst(), When()));
}

}  // namespace
