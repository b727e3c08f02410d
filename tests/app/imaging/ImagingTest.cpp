// The attachment imaging: BMP files loaded or refused, the pixel operations, the colour
// reduction and the conversion steps the mail thread runs, their PNGs read back by Qt's
// decoder (libpng).
#include <gtest/gtest.h>

#include <QImage>
#include <cstring>
#include <functional>
#include <set>

#include "app/imaging/DibImage.h"
#include "app/imaging/PictureConversion.h"
#include "app/imaging/ReduceColours.h"
#include "tests/support/TestSupport.h"

namespace {

using qv::DibImage;

struct Bgr {
    uint8_t B = 0, G = 0, R = 0;
    bool operator==(const Bgr&) const = default;
};

void Put(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// A BMP file field by field, so a test can write headers that lie.
struct BmpFile {
    char Magic = 'B';
    uint32_t HeaderSize = 40;
    int32_t Width = 0, Height = 0;
    uint16_t BitCount = 24;
    uint32_t Compression = 0, ClrUsed = 0;
    int64_t SizeImage = -1;                   // -1: the size of Pixels
    std::vector<uint8_t> Table, Gap, Pixels;  // Gap: bytes between the table and the pixels

    std::string Bytes() const {
        std::string out = {Magic, 'M'};
        Put(out, 54 + Table.size() + Gap.size() + Pixels.size(), 4);
        Put(out, 0, 4);
        Put(out, 54 + Table.size() + Gap.size(), 4);
        Put(out, HeaderSize, 4);
        Put(out, static_cast<uint32_t>(Width), 4);
        Put(out, static_cast<uint32_t>(Height), 4);
        Put(out, 1, 2);
        Put(out, BitCount, 2);
        Put(out, Compression, 4);
        Put(out, SizeImage >= 0 ? SizeImage : Pixels.size(), 4);
        Put(out, 0, 8);
        Put(out, ClrUsed, 4);
        Put(out, 0, 4);
        out.append(Table.begin(), Table.end());
        out.append(Gap.begin(), Gap.end());
        out.append(Pixels.begin(), Pixels.end());
        return out;
    }
};

// A 24-bit picture; pixel (x, y), y = 0 the bottom row, from the function.
DibImage Make(int32_t width, int32_t height, const std::function<Bgr(int32_t, int32_t)>& pixel) {
    DibImage picture;
    picture.Create(width, height, 24);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const Bgr c = pixel(x, y);
            std::memcpy(picture.Row(y) + 3 * x, &c, 3);
        }
    return picture;
}

Bgr At(const DibImage& picture, int32_t x, int32_t y) {
    Bgr c;
    if (picture.BitCount() == 8)
        std::memcpy(&c, picture.ColourTable() + 4 * picture.Row(y)[x], 3);
    else
        std::memcpy(&c, picture.Row(y) + 3 * x, 3);
    return c;
}

// Blue x, green x / 256, red y: every pixel tells where it came from.
DibImage Frame(int32_t width, int32_t height) {
    return Make(width, height, [](int32_t x, int32_t y) {
        return Bgr{uint8_t(x & 255), uint8_t(x >> 8), uint8_t(y)};
    });
}

DibImage Camera(int32_t width, int32_t height) {
    return Make(width, height, [&](int32_t x, int32_t y) {
        const int dx = x - width / 2, dy = y - height / 2;
        if (dx * dx + dy * dy < height * height / 10)
            return Bgr{uint8_t(30 + y / 4), uint8_t(90 + x / 8), uint8_t(210 - y / 3)};
        return Bgr{uint8_t(x * 255 / width), uint8_t(y * 255 / height), uint8_t((x ^ y) & 0xFF)};
    });
}

BmpFile Plain24(int32_t width, int32_t height) {
    BmpFile f;
    f.Width = width, f.Height = height;
    const DibImage picture = Frame(width, height);
    f.Pixels = picture.PixelBlock();
    return f;
}

class Imaging : public ::testing::Test {
  protected:
    std::string Path(const std::string& name) const { return dir_.File(name); }
    bool Load(const BmpFile& f, DibImage& picture) {
        qvtest::WriteFile(Path("in.bmp"), f.Bytes());
        return picture.LoadBmp(Path("in.bmp"));
    }
    qvtest::TempDir dir_;
};

TEST_F(Imaging, LoadRefusesWhatDoesNotAddUp) {
    std::vector<std::pair<const char*, std::function<void(BmpFile&)>>> cases = {
        {"not BM", [](BmpFile& f) { f.Magic = 'M'; }},
        {"V4 header", [](BmpFile& f) { f.HeaderSize = 108; }},
        {"size below the rows", [](BmpFile& f) { f.SizeImage = 20; }},
        {"file ends in the last row", [](BmpFile& f) { f.Pixels.resize(40), f.SizeImage = 48; }},
        {"table beyond the file", [](BmpFile& f) { f.ClrUsed = 0x40000000; }},
        {"gigabytes", [](BmpFile& f) { f.Width = 0x7FFFFFFF, f.SizeImage = 0; }},
        {"7 bits", [](BmpFile& f) { f.BitCount = 7; }},
    };
    for (auto& [name, spoil] : cases) {
        BmpFile f = Plain24(5, 3);
        spoil(f);
        DibImage picture;
        EXPECT_FALSE(Load(f, picture)) << name;
        EXPECT_TRUE(picture.Empty()) << name;
    }
}

TEST_F(Imaging, LoadReadsWhatProgramsWrite) {
    DibImage picture;
    BmpFile f = Plain24(5, 3);
    f.SizeImage = 0;  // computed: 15 bytes a row, padded to 16
    ASSERT_TRUE(Load(f, picture));
    EXPECT_EQ(picture.PixelBlock().size(), 48u);
    EXPECT_EQ(At(picture, 4, 2), (Bgr{4, 0, 2}));
    f.Gap.assign(10, 0xEE);  // the pixels start where the file header says
    ASSERT_TRUE(Load(f, picture));
    EXPECT_EQ(At(picture, 4, 2), (Bgr{4, 0, 2}));
    // Top-down rows come out bottom-up.
    BmpFile topDown = f;
    topDown.Height = -3;
    for (int32_t y = 0; y < 3; ++y)
        std::memcpy(&topDown.Pixels[y * 16], &f.Pixels[(2 - y) * 16], 16);
    ASSERT_TRUE(Load(topDown, picture));
    EXPECT_EQ(At(picture, 1, 2), (Bgr{1, 0, 2}));
}

TEST_F(Imaging, ToTrueColourReadsTheCameraFormats) {
    auto words = [](std::vector<uint16_t> values) {
        std::vector<uint8_t> bytes;
        for (uint16_t v : values) bytes.push_back(v & 0xFF), bytes.push_back(v >> 8);
        return bytes;
    };
    std::vector<uint8_t> table(1024);
    for (int i = 0; i < 256; ++i)
        table[4 * i] = 255 - i, table[4 * i + 1] = i / 2, table[4 * i + 2] = i;
    // clang-format off
    struct Case {
        const char* Name;
        int32_t Width, Height;
        uint16_t BitCount;
        uint32_t Compression, ClrUsed;
        std::vector<uint8_t> Table, Pixels;
        std::vector<Bgr> Want;  // the bottom row, then the next up
    } cases[] = {
        {"8 bits", 3, 2, 8, 0, 0, table, {200, 0, 255, 0, 7, 8, 9, 0}, {{55, 100, 200}, {255, 0, 0},
         {0, 127, 255}, {248, 3, 7}, {247, 4, 8}, {246, 4, 9}}},
        {"8 bits, short table", 3, 1, 8, 0, 8, std::vector<uint8_t>(table.begin(),
         table.begin() + 32), {200, 7, 1, 0}, {{0, 0, 0}, {248, 3, 7}, {254, 0, 1}}},
        {"5-5-5", 2, 1, 16, 0, 0, {}, words({0xFD41, 0x0001}), {{8, 80, 248}, {8, 0, 0}}},
        {"5-6-5 by default", 2, 1, 16, 3, 0, {}, words({0xFD41, 0x0001}), {{8, 168, 248}, {8, 0,
         0}}},
        {"5-6-5 masks", 2, 1, 16, 3, 0, {0, 0xF8, 0, 0, 0xE0, 7, 0, 0, 0x1F, 0, 0, 0},
         words({0xFD41, 0x0001}), {{8, 168, 248}, {8, 0, 0}}},
        {"5-5-5 masks", 2, 1, 16, 3, 0, {0, 0x7C, 0, 0, 0xE0, 3, 0, 0, 0x1F, 0, 0, 0},
         words({0xFD41, 0x0001}), {{8, 80, 248}, {8, 0, 0}}},
        {"YUY2, odd width", 3, 1, 16, qv::bitmap::kYuy2, 0, {}, {128, 128, 235, 128, 16, 128, 0, 128},
         {{128, 128, 128}, {235, 235, 235}, {16, 16, 16}}},
        {"UYVY", 2, 1, 16, qv::bitmap::kUyvy, 0, {}, {128, 235, 128, 16}, {{235, 235, 235}, {16, 16,
         16}}},
        // Packed YUV rows run top-down; red (Y 76, U 85, V 255) stays red.
        {"YUY2 rows", 2, 2, 16, qv::bitmap::kYuy2, 0, {}, {76, 85, 76, 255, 200, 128, 200, 128}, {{200,
         200, 200}, {200, 200, 200}, {0, 0, 254}, {0, 0, 254}}},
        {"32 bits", 2, 1, 32, 0, 0, {}, {1, 2, 3, 99, 4, 5, 6, 99}, {{1, 2, 3}, {4, 5, 6}}},
        {"1 bit", 8, 1, 1, 0, 0, std::vector<uint8_t>(8), {0xAA, 0, 0, 0}, {}},
        {"run-length", 4, 1, 8, 1, 0, table, {0, 0, 0, 0}, {}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        BmpFile f;
        f.Width = c.Width, f.Height = c.Height, f.BitCount = c.BitCount;
        f.Compression = c.Compression, f.ClrUsed = c.ClrUsed, f.Table = c.Table,
        f.Pixels = c.Pixels;
        DibImage picture, full;
        ASSERT_TRUE(Load(f, picture));
        ASSERT_EQ(picture.ToTrueColour(full), !c.Want.empty());
        for (size_t i = 0; i < c.Want.size(); ++i) {
            Bgr got =
                At(full, static_cast<int32_t>(i) % c.Width, static_cast<int32_t>(i) / c.Width);
            if (c.Want[i].R == 254)
                got.R = got.R >= 253 ? 254 : got.R, got.B = got.B <= 2 ? 0 : got.B,
                got.G = got.G <= 2 ? 0 : got.G;
            EXPECT_EQ(got, c.Want[i]) << i;
        }
    }
    DibImage full;
    EXPECT_FALSE(Frame(4, 2).ToTrueColour(full));  // already 24 bits
}

TEST_F(Imaging, PixelOperations) {
    DibImage picture = Frame(10, 7), out;
    // Scaling takes the nearest source pixel: columns 0 2 5 7, rows 0 2 4.
    ASSERT_TRUE(picture.ScaleDib(4, 3, out));
    EXPECT_EQ(At(out, 3, 2), (Bgr{7, 0, 4}));
    EXPECT_EQ(At(out, 2, 1), (Bgr{5, 0, 2}));
    ASSERT_TRUE(picture.ScaleDib(23, 15, out));  // odd widths keep their own padding
    EXPECT_EQ(out.PixelBlock().size(), DibImage::RowBytes(23, 24) * 15);
    EXPECT_EQ(At(out, 22, 14), (Bgr{9, 0, 6}));
    EXPECT_FALSE(picture.ScaleDib(0, 3, out));
    // Cropping keeps the middle: (10 - 4) / 2 columns off the left, (7 - 3) / 2 rows below.
    ASSERT_TRUE(picture.CropDib(4, 3, out));
    EXPECT_EQ(At(out, 0, 0), (Bgr{3, 0, 2}));
    EXPECT_FALSE(picture.CropDib(11, 3, out));
}

TEST_F(Imaging, ReduceColoursKeepsAFewColoursExactly) {
    // Up to the colour count, every colour of the picture (on the coarsest histogram grid) has
    // its own palette entry, at every quality; many pixels in one histogram cell (its counter
    // saturates) change nothing.
    const Bgr colours[] = {{0, 224, 32}, {224, 0, 32},    {32, 32, 224}, {128, 128, 128},
                           {0, 0, 0},    {255, 255, 255}, {96, 64, 32},  {255, 255, 0}};
    for (int count : {2, 5, 8})
        for (int quality = 0; quality <= 4; ++quality) {
            SCOPED_TRACE(std::to_string(count) + " colours, quality " + std::to_string(quality));
            ASSERT_TRUE(Make(400, 200, [&](int32_t x, int32_t y) {
                            return x < 10 && y < 10 ? colours[(x + y) % count] : colours[0];
                        }).SaveBmp(Path("in.bmp")));
            ASSERT_EQ(qv::ReduceColours(Path("in.bmp"), Path("out.bmp"), quality, count),
                      qv::kReduceDone);
            DibImage out;
            ASSERT_TRUE(out.LoadBmp(Path("out.bmp")));
            ASSERT_EQ(out.BitCount(), 8);
            for (int32_t y = 0; y < 12; ++y)
                for (int32_t x = 0; x < 12; ++x)
                    ASSERT_EQ(At(out, x, y),
                              (x < 10 && y < 10 ? colours[(x + y) % count] : colours[0]));
        }
    // One colour for many: the weighted mean of the picture.
    ASSERT_TRUE(Make(4, 1, [](int32_t x, int32_t) {
                    return x == 0 ? Bgr{0, 0, 0} : Bgr{200, 100, 40};
                }).SaveBmp(Path("in.bmp")));
    ASSERT_EQ(qv::ReduceColours(Path("in.bmp"), Path("out.bmp"), 4, 1), qv::kReduceDone);
    DibImage out;
    ASSERT_TRUE(out.LoadBmp(Path("out.bmp")));
    EXPECT_EQ(At(out, 0, 0), (Bgr{150, 75, 30}));
}

TEST_F(Imaging, ReduceColoursRefusals) {
    ASSERT_TRUE(Frame(8, 8).SaveBmp(Path("24.bmp")));
    DibImage eight;
    ASSERT_TRUE(eight.Create(8, 8, 8) && eight.SaveBmp(Path("8.bmp")));
    qvtest::WriteFile(Path("cut.bmp"), qvtest::ReadFile(Path("24.bmp")).substr(0, 70));
    // clang-format off
    struct Case {
        std::string In, Out;
        int Quality, Count, Result;
    } cases[] = {
        {"24.bmp", "out.bmp", 5, 8, qv::kReduceBadParameters},
        {"24.bmp", "out.bmp", 4, 257, qv::kReduceBadParameters},
        {"missing", "out.bmp", 4, 8, qv::kReduceBadParameters},
        {"24.bmp", "no/such/out.bmp", 4, 8, qv::kReduceBadParameters},
        {"8.bmp", "out.bmp", 4, 8, qv::kReduceNot24Bit},
        {"cut.bmp", "out.bmp", 4, 8, qv::kReduceReadFailed},
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(qv::ReduceColours(Path(c.In), Path(c.Out), c.Quality, c.Count), c.Result) << c.In;
}

TEST_F(Imaging, ResizeKeepsTheAspectByCuttingTheMiddle) {
    ASSERT_TRUE(Frame(320, 240).SaveBmp(Path("200")));
    PictSettings pict;  // 120 x 100, keeping the aspect
    DibImage out;
    ASSERT_TRUE(qv::ResizePicture(Path("200"), Path("201"), pict) && out.LoadBmp(Path("201")));
    ASSERT_EQ(out.Width() * 1000 + out.Height(), 120100);
    // Scaled to 133 x 100, then 6 columns off the left.
    for (int32_t y = 0; y < 100; y += 11)
        for (int32_t x = 0; x < 120; x += 7) {
            const int32_t sx = static_cast<int32_t>(320.0 / 133 * (x + 6));
            ASSERT_EQ(At(out, x, y), (Bgr{uint8_t(sx & 255), uint8_t(sx >> 8),
                                          uint8_t(static_cast<int32_t>(2.4 * y))}));
        }
    pict.Aspect = 0;
    ASSERT_TRUE(qv::ResizePicture(Path("200"), Path("201"), pict) && out.LoadBmp(Path("201")));
    EXPECT_EQ(At(out, 119, 99), (Bgr{61, 1, 237}));
    // Settings a hand-edited file may hold do not break the steps.
    pict.Width = 0, pict.Height = -5, pict.ColorNum = 99, pict.ColQuality = 12,
    pict.PictQuality = 99;
    ASSERT_TRUE(qv::ResizePicture(Path("200"), Path("201"), pict) && out.LoadBmp(Path("201")));
    EXPECT_EQ(out.Width() * 1000 + out.Height(), 32032);
    EXPECT_EQ(qv::ConvertColours(Path("201"), Path("202"), pict), 1);
    EXPECT_TRUE(qv::EncodePicture(Path("202"), Path("203"), pict));
    EXPECT_FALSE(QImage(QString::fromStdString(Path("203"))).isNull());
    // Nothing to read: nothing written.
    qvtest::WriteFile(Path("bad"), "BM this is not a picture at all, not even close......");
    EXPECT_FALSE(qv::ResizePicture(Path("bad"), Path("none"), pict));
    EXPECT_FALSE(qv::WritePng(Path("missing"), Path("none"), 256, 7));
    pict.Type = 2;
    EXPECT_FALSE(qv::EncodePicture(Path("202"), Path("none"), pict));
    EXPECT_FALSE(qvtest::FileExists(Path("none")));
}

TEST_F(Imaging, ColourStepsGiveWhatTheDialogPromises) {
    ASSERT_TRUE(Camera(120, 100).SaveBmp(Path("201")));
    const DibImage source = Camera(120, 100);
    const Bgr a = At(source, 17, 3);
    // clang-format off
    struct Case {
        int ColorNum, Result, BitCount;
        Bgr Pixel;  // at (17, 3), for the 24-bit results
        size_t MaxColours;
    } cases[] = {
        {36, 1, 24, a, 0},
        {34, 1, 24, {uint8_t(a.B & 0xF8), uint8_t(a.G & 0xF8), uint8_t(a.R & 0xF8)}, 0},
        {35, 1, 24, {uint8_t(a.B & 0xF8), uint8_t(a.G & 0xFC), uint8_t(a.R & 0xF8)}, 0},
        {33, 1, 8, {}, 256},
        {2, 0, 8, {}, 16},  // step 2 is shown as 16 colours: the engine gets 16
        {24, 0, 8, {}, 192},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ColorNum);
        PictSettings pict;
        pict.ColorNum = c.ColorNum;
        ASSERT_EQ(qv::ConvertColours(Path("201"), Path("202"), pict), c.Result);
        DibImage out;
        ASSERT_TRUE(out.LoadBmp(Path("202")));
        ASSERT_EQ(out.BitCount(), c.BitCount);
        if (c.BitCount == 24) {
            EXPECT_EQ(At(out, 17, 3), c.Pixel);
            continue;
        }
        // The PNG has the whole palette, and every pixel as the BMP has it.
        ASSERT_TRUE(qv::EncodePicture(Path("202"), Path("203"), pict));
        QImage png(QString::fromStdString(Path("203")), "PNG");
        ASSERT_EQ(png.format(), QImage::Format_Indexed8);
        EXPECT_EQ(png.colorCount(), 256);
        std::set<int> used;
        for (int32_t y = 0; y < 100; ++y)
            for (int32_t x = 0; x < 120; ++x) {
                const Bgr want = At(out, x, y);
                ASSERT_EQ(png.pixel(x, 99 - y), qRgb(want.R, want.G, want.B));
                used.insert(png.pixelIndex(x, 99 - y));
            }
        EXPECT_GT(used.size(), 2u);
        EXPECT_LE(used.size(), c.MaxColours);
    }
    // A true-colour PNG has every pixel.
    ASSERT_TRUE(qv::WritePng(Path("201"), Path("rgb.png"), 16777216, 9));
    QImage rgb(QString::fromStdString(Path("rgb.png")), "PNG");
    EXPECT_EQ(rgb.pixel(17, 96), qRgb(a.R, a.G, a.B));
}

}  // namespace
