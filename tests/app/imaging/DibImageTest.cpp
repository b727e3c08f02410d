// The in-memory BMP picture: loading what cameras and other programs write, refusing
// what does not add up, and the pixel operations the attachment and the saving use.
#include "app/imaging/DibImage.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/app/imaging/ImagingTestUtil.h"
#include "tests/support/TestSupport.h"

using qv::DibImage;
using qvimagingtest::Bgr;
using qvimagingtest::BmpFile;
using qvimagingtest::IndexAt;
using qvimagingtest::MakePicture;
using qvimagingtest::PixelAt;

namespace {

uint32_t Le32(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
    return v;
}

// A 24-bit BMP of width x height with pixel (x, y) = (x, y, x + y), stride padded.
BmpFile Plain24(int32_t width, int32_t height) {
    BmpFile f;
    f.Width = width;
    f.Height = height;
    f.BitCount = 24;
    const size_t stride = DibImage::RowBytes(width, 24);
    f.Pixels.assign(stride * height, 0);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = &f.Pixels[y * stride + 3 * x];
            p[0] = static_cast<uint8_t>(x), p[1] = static_cast<uint8_t>(y),
            p[2] = static_cast<uint8_t>(x + y);
        }
    return f;
}

class DibImageTest : public ::testing::Test {
  protected:
    std::string Write(const BmpFile& f, const std::string& name = "in.bmp") {
        const std::string path = dir_.File(name);
        qvtest::WriteFile(path, f.Bytes());
        return path;
    }
    bool Load(const BmpFile& f, DibImage& picture) { return picture.LoadBmp(Write(f)); }

    qvtest::TempDir dir_;
};

TEST_F(DibImageTest, LoadRefusesWhatIsNotABmpWithTheShortHeader) {
    DibImage picture;
    BmpFile f = Plain24(4, 2);
    f.Magic[0] = 'M';
    EXPECT_FALSE(Load(f, picture));
    EXPECT_TRUE(picture.Empty());

    f = Plain24(4, 2);
    f.HeaderSize = 108;  // a V4 header is not the kind this program reads
    EXPECT_FALSE(Load(f, picture));

    EXPECT_FALSE(picture.LoadBmp(dir_.File("missing.bmp")));
    qvtest::WriteFile(dir_.File("short.bmp"), "BM\x10");
    EXPECT_FALSE(picture.LoadBmp(dir_.File("short.bmp")));
}

TEST_F(DibImageTest, LoadReadsTheColourTableTheHeaderAsksFor) {
    DibImage picture;
    BmpFile f;
    f.Width = 4;
    f.Height = 1;
    f.BitCount = 8;
    f.Table.assign(1024, 0);
    for (int i = 0; i < 256; ++i) f.Table[4 * i + 2] = static_cast<uint8_t>(i);  // red = index
    f.Pixels = {1, 2, 3, 4};
    ASSERT_TRUE(Load(f, picture));
    EXPECT_EQ(picture.HeaderBlock().size(), 40u + 1024u);
    EXPECT_EQ(picture.ColourCount(), 256u);
    EXPECT_EQ(picture.PixelBlock(), (std::vector<uint8_t>{1, 2, 3, 4}));

    f.ClrUsed = 16;
    f.Table.resize(64);
    ASSERT_TRUE(Load(f, picture));
    EXPECT_EQ(picture.HeaderBlock().size(), 40u + 64u);
    EXPECT_EQ(picture.PixelBlock(), (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST_F(DibImageTest, LoadComputesTheSizeWhenTheHeaderLeavesItZero) {
    BmpFile f = Plain24(5, 3);  // 15 bytes a row, padded to 16
    f.SizeImage = 0;
    DibImage picture;
    ASSERT_TRUE(Load(f, picture));
    EXPECT_EQ(picture.PixelBlock().size(), 48u);
    EXPECT_EQ(PixelAt(picture, 4, 2), (Bgr{4, 2, 6}));
}

TEST_F(DibImageTest, LoadRefusesSizesThatDoNotFitTheData) {
    DibImage picture;
    BmpFile f = Plain24(5, 3);
    f.SizeImage = 20;  // less than the rows the header describes
    EXPECT_FALSE(Load(f, picture));

    f = Plain24(5, 3);
    f.Pixels.resize(40);  // file ends inside the last row
    f.SizeImage = 48;
    EXPECT_FALSE(Load(f, picture));

    f = Plain24(5, 3);
    f.ClrUsed = 0x40000000;  // a table far larger than the file
    EXPECT_FALSE(Load(f, picture));

    f = Plain24(5, 3);
    f.Width = 0x7FFFFFFF;  // would need gigabytes
    f.SizeImage = 0;
    EXPECT_FALSE(Load(f, picture));

    f = Plain24(5, 3);
    f.BitCount = 7;
    EXPECT_FALSE(Load(f, picture));
    EXPECT_TRUE(picture.Empty());
}

TEST_F(DibImageTest, LoadTurnsTopDownFilesBottomUpAndHonoursAPixelGap) {
    BmpFile f = Plain24(3, 4);
    BmpFile topDown = f;
    topDown.Height = -4;
    const size_t stride = DibImage::RowBytes(3, 24);
    for (int32_t y = 0; y < 4; ++y)
        std::memcpy(&topDown.Pixels[y * stride], &f.Pixels[(3 - y) * stride], stride);
    DibImage picture;
    ASSERT_TRUE(Load(topDown, picture));
    EXPECT_EQ(picture.Height(), 4);
    for (int32_t y = 0; y < 4; ++y)
        EXPECT_EQ(PixelAt(picture, 1, y), (Bgr{1, uint8_t(y), uint8_t(1 + y)}));

    f.Gap.assign(10, 0xEE);
    ASSERT_TRUE(Load(f, picture));
    EXPECT_EQ(PixelAt(picture, 0, 0), (Bgr{0, 0, 0}));
    EXPECT_EQ(PixelAt(picture, 2, 3), (Bgr{2, 3, 5}));
}

TEST_F(DibImageTest, SaveWritesTheFileHeaderFromTheBlockSizes) {
    DibImage picture;
    ASSERT_TRUE(picture.Create(5, 3, 8));
    picture.PixelBlock()[0] = 77;
    const std::string path = dir_.File("out.bmp");
    ASSERT_TRUE(picture.SaveBmp(path));
    const std::string bytes = qvtest::ReadFile(path);
    ASSERT_EQ(bytes.size(), 14u + 1064u + 24u);
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(Le32(bytes, 2), 1064u + 24u + 14u);
    EXPECT_EQ(Le32(bytes, 6), 0u);
    EXPECT_EQ(Le32(bytes, 10), 1064u + 14u);

    DibImage back;
    ASSERT_TRUE(back.LoadBmp(path));
    EXPECT_EQ(back.HeaderBlock(), picture.HeaderBlock());
    EXPECT_EQ(back.PixelBlock(), picture.PixelBlock());

    EXPECT_FALSE(picture.SaveBmp(dir_.File("no/such/folder.bmp")));
    EXPECT_FALSE(DibImage().SaveBmp(dir_.File("empty.bmp")));
    EXPECT_FALSE(qvtest::FileExists(dir_.File("empty.bmp")));
}

TEST_F(DibImageTest, ToTrueColourMapsEightBitsThroughTheTable) {
    BmpFile f;
    f.Width = 3;  // rows of 3 bytes padded to 4
    f.Height = 2;
    f.BitCount = 8;
    f.Table.assign(1024, 0);
    for (int i = 0; i < 256; ++i) {
        f.Table[4 * i] = static_cast<uint8_t>(255 - i);
        f.Table[4 * i + 1] = static_cast<uint8_t>(i / 2);
        f.Table[4 * i + 2] = static_cast<uint8_t>(i);
    }
    f.Pixels = {200, 0, 255, 0xAA, 7, 8, 9, 0xAA};
    DibImage picture, full;
    ASSERT_TRUE(Load(f, picture));
    ASSERT_TRUE(picture.ToTrueColour(full));
    EXPECT_EQ(full.BitCount(), 24);
    EXPECT_EQ(full.Header().Compression, 0u);
    EXPECT_EQ(full.Header().SizeImage, 2u * 12u);
    EXPECT_EQ(PixelAt(full, 0, 0), (Bgr{55, 100, 200}));
    EXPECT_EQ(PixelAt(full, 2, 0), (Bgr{0, 127, 255}));
    EXPECT_EQ(PixelAt(full, 1, 1), (Bgr{247, 4, 8}));

    // Values past a short table come out black; the saved picture loads back whole.
    f.ClrUsed = 8;
    f.Table.resize(32);
    ASSERT_TRUE(Load(f, picture));
    ASSERT_TRUE(picture.ToTrueColour(full));
    EXPECT_EQ(PixelAt(full, 0, 0), (Bgr{0, 0, 0}));
    EXPECT_EQ(PixelAt(full, 0, 1), (Bgr{248, 3, 7}));
    EXPECT_EQ(PixelAt(full, 1, 1), (Bgr{0, 0, 0}));
    ASSERT_TRUE(full.SaveBmp(dir_.File("full.bmp")));
    DibImage back;
    ASSERT_TRUE(back.LoadBmp(dir_.File("full.bmp")));
    EXPECT_EQ(back.PixelBlock(), full.PixelBlock());
}

TEST_F(DibImageTest, ToTrueColourReadsSixteenBitLayouts) {
    auto pixels16 = [](std::vector<uint16_t> values) {
        std::vector<uint8_t> bytes;
        for (uint16_t v : values) bytes.push_back(v & 0xFF), bytes.push_back(v >> 8);
        return bytes;
    };
    BmpFile f;
    f.Width = 2;
    f.Height = 1;
    f.BitCount = 16;
    // red 31, green 0b101010 (6 bits) / 0b10101 + top bit of blue... and pure blue 1.
    f.Pixels = pixels16({0xFD41, 0x0001});
    DibImage picture, full;
    ASSERT_TRUE(Load(f, picture));  // compression 0: 5-5-5
    ASSERT_TRUE(picture.ToTrueColour(full));
    EXPECT_EQ(PixelAt(full, 0, 0), (Bgr{0x01 << 3, 0x0A << 3, 0x1F << 3}));
    EXPECT_EQ(PixelAt(full, 1, 0), (Bgr{8, 0, 0}));

    f.Compression = 3;  // bit fields without masks: 5-6-5
    ASSERT_TRUE(Load(f, picture));
    ASSERT_TRUE(picture.ToTrueColour(full));
    EXPECT_EQ(PixelAt(full, 0, 0), (Bgr{0x01 << 3, 0x2A << 2, 0x1F << 3}));

    // The masks after the header are read as masks, not as pixels.
    f.Table = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
    ASSERT_TRUE(Load(f, picture));
    EXPECT_EQ(picture.PixelBlock().size(), 4u);
    ASSERT_TRUE(picture.ToTrueColour(full));
    EXPECT_EQ(PixelAt(full, 0, 0), (Bgr{0x01 << 3, 0x2A << 2, 0x1F << 3}));
    EXPECT_EQ(PixelAt(full, 1, 0), (Bgr{8, 0, 0}));

    // 5-5-5 masks given explicitly.
    f.Table = {0x00, 0x7C, 0, 0, 0xE0, 0x03, 0, 0, 0x1F, 0, 0, 0};
    ASSERT_TRUE(Load(f, picture));
    ASSERT_TRUE(picture.ToTrueColour(full));
    EXPECT_EQ(PixelAt(full, 0, 0), (Bgr{0x01 << 3, 0x0A << 3, 0x1F << 3}));
}

TEST_F(DibImageTest, ToTrueColourReadsPackedYuvAndThirtyTwoBits) {
    BmpFile f;
    f.Width = 3;  // odd width: the last pixel shares its pair's colour
    f.Height = 1;
    f.BitCount = 16;
    f.Compression = qv::kDibYuy2;
    // Y0 U Y1 V | Y2 U V: grey 128, white 235 and 16 with no colour.
    f.Pixels = {128, 128, 235, 128, 16, 128, 0, 128};
    DibImage picture, full;
    ASSERT_TRUE(Load(f, picture));
    ASSERT_TRUE(picture.ToTrueColour(full));
    EXPECT_EQ(PixelAt(full, 0, 0), (Bgr{128, 128, 128}));
    EXPECT_EQ(PixelAt(full, 1, 0), (Bgr{235, 235, 235}));
    EXPECT_EQ(PixelAt(full, 2, 0), (Bgr{16, 16, 16}));

    f.Compression = qv::kDibUyvy;
    f.Pixels = {128, 235, 128, 16, 128, 128, 0, 0};  // U Y0 V Y1 | U Y2 V
    ASSERT_TRUE(Load(f, picture));
    ASSERT_TRUE(picture.ToTrueColour(full));
    EXPECT_EQ(PixelAt(full, 0, 0), (Bgr{235, 235, 235}));
    EXPECT_EQ(PixelAt(full, 1, 0), (Bgr{16, 16, 16}));

    // Red (Y 76, U 85, V 255) comes out red, and packed YUV rows run top-down: the
    // file's first row is the top of the picture.
    f.Compression = qv::kDibYuy2;
    f.Width = 2;
    f.Height = 2;
    f.Pixels = {76, 85, 76, 255, 200, 128, 200, 128};
    ASSERT_TRUE(Load(f, picture));
    ASSERT_TRUE(picture.ToTrueColour(full));
    const Bgr red = PixelAt(full, 0, 1);
    EXPECT_LE(red.B, 2);
    EXPECT_LE(red.G, 2);
    EXPECT_GE(red.R, 253);
    EXPECT_EQ(PixelAt(full, 1, 0), (Bgr{200, 200, 200}));

    f = BmpFile{};
    f.Width = 2;
    f.Height = 1;
    f.BitCount = 32;
    f.Pixels = {1, 2, 3, 99, 4, 5, 6, 99};
    ASSERT_TRUE(Load(f, picture));
    ASSERT_TRUE(picture.ToTrueColour(full));
    EXPECT_EQ(PixelAt(full, 0, 0), (Bgr{1, 2, 3}));
    EXPECT_EQ(PixelAt(full, 1, 0), (Bgr{4, 5, 6}));
}

TEST_F(DibImageTest, ToTrueColourRefusesOtherDepths) {
    DibImage picture = MakePicture(4, 2, [](int32_t, int32_t) { return Bgr{}; }), full;
    EXPECT_FALSE(picture.ToTrueColour(full));  // already 24 bits

    BmpFile f;
    f.Width = 8;
    f.Height = 1;
    f.BitCount = 1;
    f.Table.assign(8, 0);
    f.Pixels = {0xAA, 0, 0, 0};
    ASSERT_TRUE(Load(f, picture));
    EXPECT_FALSE(picture.ToTrueColour(full));

    f = Plain24(4, 1);
    f.BitCount = 8;
    f.Compression = 1;  // run-length coded
    f.Table.assign(1024, 0);
    ASSERT_TRUE(Load(f, picture));
    EXPECT_FALSE(picture.ToTrueColour(full));
    EXPECT_FALSE(DibImage().ToTrueColour(full));
}

TEST_F(DibImageTest, ScaleTakesTheNearestSourcePixel) {
    DibImage picture = MakePicture(10, 7, [](int32_t x, int32_t y) {
        return Bgr{uint8_t(x), uint8_t(y), 0};
    });
    DibImage scaled;
    ASSERT_TRUE(picture.ScaleDib(4, 3, scaled));
    EXPECT_EQ(scaled.Width(), 4);
    EXPECT_EQ(scaled.Height(), 3);
    EXPECT_EQ(scaled.Header().SizeImage, 3u * 12u);
    // columns floor(10/4 * j) = 0 2 5 7, rows floor(7/3 * i) = 0 2 4
    const int columns[] = {0, 2, 5, 7}, rows[] = {0, 2, 4};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_EQ(PixelAt(scaled, j, i), (Bgr{uint8_t(columns[j]), uint8_t(rows[i]), 0}));

    ASSERT_TRUE(picture.ScaleDib(23, 15, scaled));  // odd widths keep their own padding
    EXPECT_EQ(scaled.PixelBlock().size(), DibImage::RowBytes(23, 24) * 15);
    EXPECT_EQ(PixelAt(scaled, 22, 14), (Bgr{9, 6, 0}));
    EXPECT_FALSE(picture.ScaleDib(0, 3, scaled));

    DibImage eight;
    ASSERT_TRUE(eight.Create(8, 8, 8));
    EXPECT_FALSE(eight.ScaleDib(4, 4, scaled));
}

TEST_F(DibImageTest, CropCutsTheMiddle) {
    DibImage picture = MakePicture(11, 8, [](int32_t x, int32_t y) {
        return Bgr{uint8_t(x), uint8_t(y), 7};
    });
    DibImage cut;
    ASSERT_TRUE(picture.CropDib(4, 3, cut));
    EXPECT_EQ(cut.Width(), 4);
    EXPECT_EQ(cut.Height(), 3);
    // (11 - 4) >> 1 = 3 columns off the left, (8 - 3) >> 1 = 2 rows off the bottom
    EXPECT_EQ(PixelAt(cut, 0, 0), (Bgr{3, 2, 7}));
    EXPECT_EQ(PixelAt(cut, 3, 2), (Bgr{6, 4, 7}));
    EXPECT_FALSE(picture.CropDib(12, 3, cut));
    EXPECT_FALSE(picture.CropDib(4, 9, cut));
    ASSERT_TRUE(picture.CropDib(11, 8, cut));
    EXPECT_EQ(cut.PixelBlock(), picture.PixelBlock());
}

TEST_F(DibImageTest, PopularColoursKeepsTheFrequentColoursInProductOrder) {
    // Three 4-4-4 colours in different amounts, one of them off its cell's corner.
    DibImage picture = MakePicture(16, 4, [](int32_t x, int32_t y) {
        if (y >= 2) return Bgr{0x40, 0x80, 0xC0};
        if (x < 12) return Bgr{0x13, 0x24, 0x35};
        return Bgr{0xF0, 0xF0, 0xF0};
    });
    DibImage popular;
    ASSERT_TRUE(picture.PopularColours(popular));
    EXPECT_EQ(popular.BitCount(), 8);
    ASSERT_EQ(popular.ColourCount(), 256u);
    EXPECT_EQ(popular.Header().SizeImage, 16u * 4u);
    for (int n = 1; n < 256; ++n) {
        const Bgr a = qvimagingtest::PaletteEntry(popular, n - 1),
                  b = qvimagingtest::PaletteEntry(popular, n);
        EXPECT_LE(a.R * a.G * a.B, b.R * b.G * b.B) << n;
    }
    auto colourOf = [&](int32_t x, int32_t y) {
        return qvimagingtest::PaletteEntry(popular, IndexAt(popular, x, y));
    };
    EXPECT_EQ(colourOf(0, 3), (Bgr{0x40, 0x80, 0xC0}));
    EXPECT_EQ(colourOf(0, 0), (Bgr{0x10, 0x20, 0x30}));
    EXPECT_EQ(colourOf(15, 0), (Bgr{0xF0, 0xF0, 0xF0}));

    DibImage eight;
    ASSERT_TRUE(eight.Create(4, 4, 8));
    EXPECT_FALSE(eight.PopularColours(popular));
}

TEST_F(DibImageTest, MaskChannelsCutsTheLowBits) {
    DibImage picture = MakePicture(4, 1, [](int32_t x, int32_t) {
        return x == 0 ? Bgr{0x07, 0x07, 0x07} : Bgr{0x04, 0x04, 0x04};
    });
    DibImage masked;
    ASSERT_TRUE(picture.MaskChannels(15, masked));
    EXPECT_EQ(PixelAt(masked, 0, 0), (Bgr{0, 0, 0}));
    EXPECT_EQ(PixelAt(masked, 1, 0), (Bgr{0, 0, 0}));
    ASSERT_TRUE(picture.MaskChannels(16, masked));
    EXPECT_EQ(PixelAt(masked, 0, 0), (Bgr{0, 0x04, 0}));
    EXPECT_EQ(PixelAt(masked, 1, 0), (Bgr{0, 0x04, 0}));
    EXPECT_FALSE(picture.MaskChannels(24, masked));
}

}  // namespace
