// The time stamp: the glyphs read back from the stamped picture, one line or two, the rest of the
// picture untouched, and the headers it refuses.
#include <gtest/gtest.h>

#include <cstring>

#include "app/imaging/DibImage.h"
#include "tests/app/engine/EngineFakes.h"

using qv::engine::StampTime;

namespace {

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
    qv::engine::WallTime When() { return {qvtest::LocalTime(2003, 7, 15, 12, 30, 45), 500}; }
    // The stamp as read from the picture (rows counted from its top), exact to the pixel.
    std::string Read(bool twoLines) {
        double worst = -1;
        const std::string text = qvtest::ReadStamp(
            [&](int x, int y) { return out.Row(out.Height() - 1 - y)[x * 3]; }, twoLines, &worst);
        EXPECT_EQ(worst, 0.0) << text;
        return text;
    }
    // Rows [from, to) of the picture, from byte `skip` of each row on, are as they were.
    void ExpectUntouched(int from, int to, int skip = 0) {
        for (int y = from; y < to; ++y)
            ASSERT_EQ(0, std::memcmp(in.Row(y) + skip, out.Row(y) + skip, in.Stride() - skip)) << y;
    }
    qvtest::TempDir dir;
    qv::DibImage in, out;
};

TEST_F(StampTimeTest, OneLineOnAWidePictureDateOverTimeOnANarrowOne) {
    ASSERT_TRUE(Stamp(160, 120));
    EXPECT_EQ(Read(false), "2003/07/15 12:30:45");
    ExpectUntouched(0, 108);  // below the band, and right of the text
    ExpectUntouched(108, 120, 148 * 3);
    EXPECT_EQ(qvtest::ReadFile(Dst()).size(), qvtest::ReadFile(Src()).size());
    ASSERT_TRUE(Stamp(120, 90));
    EXPECT_EQ(Read(true), "2003/07/15 12:30:45");
    // Odd rows keep their padding; a header without the image size is read all the same.
    ASSERT_TRUE(Stamp(149, 13, [](std::string& b) { std::memset(&b[34], 0, 4); }));
    EXPECT_EQ(Read(false), "2003/07/15 12:30:45");
    ExpectUntouched(0, 1);
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
    auto put = [](size_t at, auto value) {
        return [=](std::string& b) { std::memcpy(&b[at], &value, sizeof value); };
    };
    const struct {
        const char* what;
        int width, height;
        std::function<void(std::string&)> edit;
    } cases[] = {
        {"narrower than 80", 64, 48, {}},
        {"lower than the band", 160, 10, {}},
        {"cut short", 160, 120, [](std::string& b) { b.resize(b.size() - 100); }},
        {"image size too small", 160, 120, put(34, uint32_t(1000))},
        {"height beyond the file", 160, 120, put(22, int32_t(100000))},
        {"not 24 bits", 160, 120, put(28, uint16_t(32))},
        {"header of 12 bytes", 160, 120, put(14, uint32_t(12))},
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
