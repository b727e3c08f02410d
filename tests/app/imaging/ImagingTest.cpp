// The attachment imaging: BMP files loaded or refused, the pixel operations, the colour
// reduction and the conversion steps the mail thread runs, their PNGs read back by Qt's
// decoder (libpng).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QImage>
#include <csignal>
#include <cstring>
#include <functional>
#include <set>
#include <utility>

#include "app/imaging/DibImage.h"
#include "app/imaging/PictureConversion.h"
#include "app/imaging/ReduceColours.h"
#include "tests/support/BmpFile.h"
#include "tests/support/TestSupport.h"

namespace qv {
namespace {

using qvtest::BmpFile;

struct Bgr {
    uint8_t B = 0, G = 0, R = 0;
    bool operator==(const Bgr&) const = default;
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

Bgr At(const DibImage& p, int32_t x, int32_t y) {
    const uint8_t* c = p.BitCount() == 8 ? p.ColourTable() + 4 * p.Row(y)[x] : p.Row(y) + 3 * x;
    return {c[0], c[1], c[2]};
}

// Blue x, green x / 256, red y: every pixel tells where it came from.
DibImage Frame(int32_t width, int32_t height) {
    return Make(width, height, [](int32_t x, int32_t y) {
        return Bgr{uint8_t(x & 255), uint8_t(x >> 8), uint8_t(y)};
    });
}

class Imaging : public ::testing::Test {
  protected:
    std::string Path(const std::string& name) const {
        return name[0] == '/' ? name : dir_.File(name);
    }
    qvtest::TempDir dir_;
};

// Every layout a camera or a program writes: refused, read as the 5 x 3 frame, or read and
// turned to 24 bits (Want: the bottom row, then the next up). Unset sizes and pixels are
// those of the 5 x 3 frame.
TEST_F(Imaging, LoadsAndTurnsToTrueColourEveryFormat) {
    const std::vector<uint8_t> px = Frame(5, 3).PixelBlock(), w = {0x41, 0xFD, 0x01, 0x00};
    std::vector<uint8_t> table(1024), top = px;
    for (int i = 0; i < 256; ++i)
        table[4 * i] = 255 - i, table[4 * i + 1] = i / 2, table[4 * i + 2] = i;
    for (int32_t y = 0; y < 3; ++y) std::memcpy(&top[y * 16], &px[(2 - y) * 16], 16);
    enum { Refused, SameAsFrame, Converted, NotConverted };
    // clang-format off
    struct Case { const char* Name; BmpFile File; int Result; std::vector<Bgr> Want; } cases[] = {
        {"not BM", {.Magic = 'M'}, Refused, {}}, {"V4 header", {.HeaderSize = 108}, Refused, {}},
        {"size below the rows", {.SizeImage = 20}, Refused, {}},
        {"file ends in the last row", {.SizeImage = 48, .Pixels = {px.begin(), px.begin() + 40}},
         Refused, {}},
        {"table beyond the file", {.ClrUsed = 0x40000000}, Refused, {}},
        {"gigabytes", {.Width = 0x7FFFFFFF, .SizeImage = 0}, Refused, {}},
        {"7 bits", {.BitCount = 7}, Refused, {}},
        {"24 bits, size computed", {.SizeImage = 0}, SameAsFrame, {}},
        // The pixels start where the file header says.
        {"gap", {.Gap = std::vector<uint8_t>(10, 0xEE)}, SameAsFrame, {}},
        {"top-down", {.Height = -3, .Pixels = top}, SameAsFrame, {}},
        {"8 bits", {.Width = 3, .Height = 2, .BitCount = 8, .Table = table, .Pixels = {200, 0, 255,
         0, 7, 8, 9, 0}}, Converted, {{55, 100, 200}, {255, 0, 0}, {0, 127, 255}, {248, 3, 7},
         {247, 4, 8}, {246, 4, 9}}},
        {"8 bits, short table", {.Width = 3, .Height = 1, .BitCount = 8, .ClrUsed = 8,
         .Table = {table.begin(), table.begin() + 32}, .Pixels = {200, 7, 1, 0}}, Converted,
         {{0, 0, 0}, {248, 3, 7}, {254, 0, 1}}},
        {"5-5-5", {.Width = 2, .Height = 1, .BitCount = 16, .Pixels = w}, Converted,
         {{8, 80, 248}, {8, 0, 0}}},
        {"5-6-5 by default", {.Width = 2, .Height = 1, .BitCount = 16, .Compression = 3,
         .Pixels = w}, Converted, {{8, 168, 248}, {8, 0, 0}}},
        {"5-6-5 masks", {.Width = 2, .Height = 1, .BitCount = 16, .Compression = 3,
         .Table = {0, 0xF8, 0, 0, 0xE0, 7, 0, 0, 0x1F, 0, 0, 0}, .Pixels = w}, Converted,
         {{8, 168, 248}, {8, 0, 0}}},
        {"5-5-5 masks", {.Width = 2, .Height = 1, .BitCount = 16, .Compression = 3,
         .Table = {0, 0x7C, 0, 0, 0xE0, 3, 0, 0, 0x1F, 0, 0, 0}, .Pixels = w}, Converted,
         {{8, 80, 248}, {8, 0, 0}}},
        {"YUY2, odd width", {.Width = 3, .Height = 1, .BitCount = 16, .Compression = bitmap::kYuy2,
         .Pixels = {128, 128, 235, 128, 16, 128, 0, 128}}, Converted,
         {{128, 128, 128}, {235, 235, 235}, {16, 16, 16}}},
        {"UYVY", {.Width = 2, .Height = 1, .BitCount = 16, .Compression = bitmap::kUyvy,
         .Pixels = {128, 235, 128, 16}}, Converted, {{235, 235, 235}, {16, 16, 16}}},
        // Packed YUV rows run top-down; red (Y 76, U 85, V 255) stays red.
        {"YUY2 rows", {.Width = 2, .Height = 2, .BitCount = 16, .Compression = bitmap::kYuy2,
         .Pixels = {76, 85, 76, 255, 200, 128, 200, 128}}, Converted,
         {{200, 200, 200}, {200, 200, 200}, {0, 0, 254}, {0, 0, 254}}},
        {"32 bits", {.Width = 2, .Height = 1, .BitCount = 32, .Pixels = {1, 2, 3, 99, 4, 5, 6, 99}},
         Converted, {{1, 2, 3}, {4, 5, 6}}},
        {"1 bit", {.Width = 8, .Height = 1, .BitCount = 1, .Table = std::vector<uint8_t>(8),
         .Pixels = {0xAA, 0, 0, 0}}, NotConverted, {}},
        {"run-length", {.Width = 4, .Height = 1, .BitCount = 8, .Compression = 1, .Table = table,
         .Pixels = {0, 0, 0, 0}}, NotConverted, {}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        BmpFile f = c.File;
        f.Width = f.Width ? f.Width : 5, f.Height = f.Height ? f.Height : 3;
        f.Pixels = f.Pixels.empty() ? px : f.Pixels;
        qvtest::WriteFile(Path("in.bmp"), f.Bytes());
        DibImage picture, full;
        ASSERT_EQ(picture.LoadBmp(Path("in.bmp")), c.Result != Refused);
        EXPECT_EQ(picture.Empty(), c.Result == Refused);
        EXPECT_TRUE(c.Result != SameAsFrame || std::as_const(picture).PixelBlock() == px);
        ASSERT_EQ(picture.ToTrueColour(full), c.Result == Converted);  // 24 bits are already
        const int slack = c.File.Compression == bitmap::kYuy2 ? 2 : 0;      // YUV rounding
        for (size_t i = 0; i < c.Want.size(); ++i) {
            const Bgr got = At(full, int32_t(i) % f.Width, int32_t(i) / f.Width), &want = c.Want[i];
            EXPECT_LE(std::max({abs(got.B - want.B), abs(got.G - want.G), abs(got.R - want.R)}),
                      slack)
                << i;
        }
    }
}

TEST_F(Imaging, ReduceColoursKeepsAFewColoursExactly) {
    // Up to the colour count, every colour of the picture (on the coarsest histogram grid) has
    // its own palette entry, at every quality; many pixels in one histogram cell (its counter
    // saturates) change nothing.
    const Bgr colours[] = {{0, 224, 32}, {224, 0, 32},    {32, 32, 224}, {128, 128, 128},
                           {0, 0, 0},    {255, 255, 255}, {96, 64, 32},  {255, 255, 0}};
    DibImage out;
    for (int count : {2, 5, 8})
        for (int quality = 0; quality <= 4; ++quality) {
            SCOPED_TRACE(std::to_string(count) + " colours, quality " + std::to_string(quality));
            auto pixel = [&](int32_t x, int32_t y) {
                return x < 10 && y < 10 ? colours[(x + y) % count] : colours[0];
            };
            ASSERT_TRUE(Make(400, 200, pixel).SaveBmp(Path("in.bmp")));
            ASSERT_EQ(ReduceColours(Path("in.bmp"), Path("out.bmp"), quality, count), kReduceDone);
            ASSERT_TRUE(out.LoadBmp(Path("out.bmp")));
            ASSERT_EQ(out.BitCount(), 8);
            for (int32_t y = 0; y < 12; ++y)
                for (int32_t x = 0; x < 12; ++x) ASSERT_EQ(At(out, x, y), pixel(x, y));
        }
    // One colour for many: the weighted mean of the picture.
    ASSERT_TRUE(Make(4, 1, [](int32_t x, int32_t) {
                    return x == 0 ? Bgr{0, 0, 0} : Bgr{200, 100, 40};
                }).SaveBmp(Path("in.bmp")));
    ASSERT_EQ(ReduceColours(Path("in.bmp"), Path("out.bmp"), 4, 1), kReduceDone);
    ASSERT_TRUE(out.LoadBmp(Path("out.bmp")));
    EXPECT_EQ(At(out, 0, 0), (Bgr{150, 75, 30}));
}

TEST_F(Imaging, ReduceColoursRefusals) {
    ASSERT_TRUE(Frame(8, 8).SaveBmp(Path("24.bmp")));
    DibImage eight;
    ASSERT_TRUE(eight.Create(8, 8, 8) && eight.SaveBmp(Path("8.bmp")));
    qvtest::WriteFile(Path("cut.bmp"), qvtest::ReadFile(Path("24.bmp")).substr(0, 70));
    const int bad = kReduceBadParameters;
    // clang-format off
    struct Case { std::string In, Out; int Quality, Count, Result; } cases[] = {
        {"24.bmp", "out.bmp", 5, 8, bad}, {"24.bmp", "out.bmp", 4, 0, bad},
        {"24.bmp", "out.bmp", 4, 257, bad}, {"missing", "out.bmp", 4, 8, bad},
        {"24.bmp", "no/such/out.bmp", 4, 8, bad}, {"8.bmp", "out.bmp", 4, 8, kReduceNot24Bit},
        {"cut.bmp", "out.bmp", 4, 8, kReduceReadFailed},
        {"24.bmp", "/dev/full", 4, 8, kReduceWriteFailed},
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(ReduceColours(Path(c.In), Path(c.Out), c.Quality, c.Count), c.Result) << c.Out;
}

TEST_F(Imaging, FullDiskLeavesNoPartialPicture) {
    ASSERT_TRUE(Frame(320, 240).SaveBmp(Path("in.bmp")));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const rlimit small{4096, old.rlim_max};  // every file write beyond 4 KB fails
    setrlimit(RLIMIT_FSIZE, &small);
    const bool saved = Frame(320, 240).SaveBmp(Path("out.bmp"));
    const bool encoded = WritePng(Path("in.bmp"), Path("out.png"), 16777216, 0);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(saved || encoded);
    EXPECT_EQ(qvtest::ListDir(dir_.Path()), std::vector<std::string>{"in.bmp"});
}

TEST_F(Imaging, ResizeKeepsTheAspectByCuttingTheMiddle) {
    ASSERT_TRUE(Frame(320, 240).SaveBmp(Path("200")));
    PictSettings pict;  // 120 x 100, keeping the aspect
    DibImage out, spare;
    ASSERT_TRUE(ResizePicture(Path("200"), Path("201"), pict) && out.LoadBmp(Path("201")));
    ASSERT_EQ(out.Width() * 1000 + out.Height(), 120100);
    // Scaled to 133 x 100, then 6 columns off the left.
    for (int32_t y = 0; y < 100; y += 11)
        for (int32_t x = 0; x < 120; x += 7) {
            const int32_t sx = static_cast<int32_t>(320.0 / 133 * (x + 6));
            ASSERT_EQ(At(out, x, y), (Bgr{uint8_t(sx & 255), uint8_t(sx >> 8),
                                          uint8_t(static_cast<int32_t>(2.4 * y))}));
        }
    pict.Aspect = 0;
    ASSERT_TRUE(ResizePicture(Path("200"), Path("201"), pict) && out.LoadBmp(Path("201")));
    EXPECT_EQ(At(out, 119, 99), (Bgr{61, 1, 237}));
    EXPECT_FALSE(out.ScaleDib(0, 3, spare) || out.CropDib(121, 3, spare));
    // Settings a hand-edited file may hold do not break the steps.
    pict.Width = 0, pict.Height = -5, pict.ColorNum = 99, pict.ColQuality = 12,
    pict.PictQuality = 99;
    ASSERT_TRUE(ResizePicture(Path("200"), Path("201"), pict) && out.LoadBmp(Path("201")));
    EXPECT_EQ(out.Width() * 1000 + out.Height(), 32032);
    EXPECT_EQ(ConvertColours(Path("201"), Path("202"), pict), 1);
    EXPECT_TRUE(EncodePicture(Path("202"), Path("203"), pict));
    EXPECT_FALSE(QImage(QString::fromStdString(Path("203"))).isNull());
    // Nothing to read: nothing written.
    qvtest::WriteFile(Path("bad"), "BM this is not a picture at all, not even close......");
    EXPECT_FALSE(ResizePicture(Path("bad"), Path("none"), pict));
    EXPECT_FALSE(WritePng(Path("missing"), Path("none"), 256, 7));
    pict.Type = 2;
    EXPECT_FALSE(EncodePicture(Path("202"), Path("none"), pict));
    EXPECT_FALSE(qvtest::FileExists(Path("none")));
}

TEST_F(Imaging, ColourStepsGiveWhatTheDialogPromises) {
    // A camera-like scene: a bright round face on smooth gradients.
    const auto camera = Make(120, 100, [](int32_t x, int32_t y) {
        const int dx = x - 60, dy = y - 50;
        if (dx * dx + dy * dy < 1000)
            return Bgr{uint8_t(30 + y / 4), uint8_t(90 + x / 8), uint8_t(210 - y / 3)};
        return Bgr{uint8_t(x * 255 / 120), uint8_t(y * 255 / 100), uint8_t((x ^ y) & 0xFF)};
    });
    ASSERT_TRUE(camera.SaveBmp(Path("201")));
    const Bgr a = At(camera, 17, 3);
    // clang-format off
    // Pixel: at (17, 3), for the 24-bit results.
    struct Case { int ColorNum, Result, BitCount; Bgr Pixel; size_t MaxColours; } cases[] = {
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
        ASSERT_EQ(ConvertColours(Path("201"), Path("202"), pict), c.Result);
        DibImage out;
        ASSERT_TRUE(out.LoadBmp(Path("202")));
        ASSERT_EQ(out.BitCount(), c.BitCount);
        if (c.BitCount == 24) {
            EXPECT_EQ(At(out, 17, 3), c.Pixel);
            continue;
        }
        // The PNG has the whole palette, and every pixel as the BMP has it.
        ASSERT_TRUE(EncodePicture(Path("202"), Path("203"), pict));
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
    ASSERT_TRUE(WritePng(Path("201"), Path("rgb.png"), 16777216, 9));
    QImage rgb(QString::fromStdString(Path("rgb.png")), "PNG");
    EXPECT_EQ(rgb.pixel(17, 96), qRgb(a.R, a.G, a.B));
}

}  // namespace
}  // namespace qv
