// The attachment conversion, step by step and as the mail thread runs it, with the
// results opened by libpng (and libjpeg through Qt for JPEG attachments).
#include "app/imaging/PictureConversion.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <thread>

#include "app/imaging/DibImage.h"
#include "tests/app/imaging/ImagingTestUtil.h"
#include "tests/support/TestSupport.h"

#if defined(QV_TEST_WITH_CORE)
#include <QImage>
#endif

using qv::DibImage;
using qvimagingtest::Bgr;
using qvimagingtest::MakePicture;
using qvimagingtest::PixelAt;

namespace {

// Pixel (x, y) tells where it came from: blue x, green x / 256, red y.
DibImage Frame(int32_t width, int32_t height) {
    return MakePicture(width, height, [](int32_t x, int32_t y) {
        return Bgr{uint8_t(x & 255), uint8_t(x >> 8), uint8_t(y)};
    });
}

DibImage Camera(int32_t width, int32_t height) {
    return MakePicture(width, height, [&](int32_t x, int32_t y) {
        const int dx = x - width / 2, dy = y - height / 2;
        if (dx * dx + dy * dy < height * height / 10)
            return Bgr{uint8_t(30 + y / 4), uint8_t(90 + x / 8), uint8_t(210 - y / 3)};
        return Bgr{uint8_t(x * 255 / width), uint8_t(y * 255 / height), uint8_t((x ^ y) & 0xFF)};
    });
}

class PictureConversionTest : public ::testing::Test {
  protected:
    std::string Path(const std::string& name) const { return dir_.File(name); }
    qvtest::TempDir dir_;
};

TEST_F(PictureConversionTest, ResizeKeepingTheAspectCutsTheMiddle) {
    ASSERT_TRUE(Frame(320, 240).SaveBmp(Path("200")));
    PictSettings pict;  // 120 x 100, Aspect 1
    ASSERT_TRUE(qv::ResizePicture(Path("200"), Path("201"), pict));
    DibImage out;
    ASSERT_TRUE(out.LoadBmp(Path("201")));
    ASSERT_EQ(out.Width(), 120);
    ASSERT_EQ(out.Height(), 100);
    // Scaled to 133 x 100, then 6 columns dropped on the left.
    for (int32_t y = 0; y < 100; y += 11)
        for (int32_t x = 0; x < 120; x += 7) {
            const int32_t sx = static_cast<int32_t>(320.0 / 133 * (x + 6));
            const int32_t sy = static_cast<int32_t>(240.0 / 100 * y);
            EXPECT_EQ(PixelAt(out, x, y), (Bgr{uint8_t(sx & 255), uint8_t(sx >> 8), uint8_t(sy)}))
                << x << "," << y;
        }

    pict.Aspect = 0;
    ASSERT_TRUE(qv::ResizePicture(Path("200"), Path("201"), pict));
    ASSERT_TRUE(out.LoadBmp(Path("201")));
    ASSERT_EQ(out.Width(), 120);
    ASSERT_EQ(out.Height(), 100);
    const int32_t sx = static_cast<int32_t>(320.0 / 120 * 119);
    EXPECT_EQ(PixelAt(out, 119, 99), (Bgr{uint8_t(sx & 255), uint8_t(sx >> 8), 237}));

    // A tall source is cut top and bottom instead.
    ASSERT_TRUE(Frame(100, 300).SaveBmp(Path("tall")));
    pict.Aspect = 1;
    ASSERT_TRUE(qv::ResizePicture(Path("tall"), Path("201"), pict));
    ASSERT_TRUE(out.LoadBmp(Path("201")));
    EXPECT_EQ(out.Width(), 120);
    EXPECT_EQ(out.Height(), 100);
}

TEST_F(PictureConversionTest, ResizeOfAMissingPictureWritesNothing) {
    PictSettings pict;
    EXPECT_FALSE(qv::ResizePicture(Path("none"), Path("201"), pict));
    EXPECT_FALSE(qvtest::FileExists(Path("201")));
    qvtest::WriteFile(Path("bad"), "BM this is not a picture at all, not even close......");
    EXPECT_FALSE(qv::ResizePicture(Path("bad"), Path("201"), pict));
    EXPECT_FALSE(qvtest::FileExists(Path("201")));
}

TEST_F(PictureConversionTest, SettingsOutOfRangeDoNotBreakTheConversion) {
    ASSERT_TRUE(Camera(64, 48).SaveBmp(Path("200")));
    PictSettings pict;
    pict.Width = 0;  // a hand-edited settings file
    pict.Height = -5;
    pict.ColorNum = 99;
    pict.ColQuality = 12;
    pict.PictQuality = 99;
    ASSERT_TRUE(qv::ResizePicture(Path("200"), Path("201"), pict));
    DibImage out;
    ASSERT_TRUE(out.LoadBmp(Path("201")));
    EXPECT_EQ(out.Width(), 32);
    EXPECT_EQ(out.Height(), 32);
    EXPECT_EQ(qv::ConvertColours(Path("201"), Path("202"), pict), 1);
    EXPECT_TRUE(qv::EncodePicture(Path("202"), Path("203"), pict));
    EXPECT_TRUE(qvimagingtest::ReadPng(Path("203")).Ok);
}

TEST_F(PictureConversionTest, ColourStepsMakeWhatTheDialogPromises) {
    ASSERT_TRUE(Camera(120, 100).SaveBmp(Path("201")));
    DibImage source;
    ASSERT_TRUE(source.LoadBmp(Path("201")));
    PictSettings pict;
    DibImage out;

    pict.ColorNum = 36;  // unchanged
    EXPECT_EQ(qv::ConvertColours(Path("201"), Path("202"), pict), 1);
    EXPECT_EQ(qvtest::ReadFile(Path("202")), qvtest::ReadFile(Path("201")));

    pict.ColorNum = 34;
    EXPECT_EQ(qv::ConvertColours(Path("201"), Path("202"), pict), 1);
    ASSERT_TRUE(out.LoadBmp(Path("202")));
    EXPECT_EQ(out.BitCount(), 24);
    const Bgr a = PixelAt(source, 17, 3), b = PixelAt(out, 17, 3);
    EXPECT_EQ(b, (Bgr{uint8_t(a.B & 0xF8), uint8_t(a.G & 0xF8), uint8_t(a.R & 0xF8)}));

    pict.ColorNum = 35;
    EXPECT_EQ(qv::ConvertColours(Path("201"), Path("202"), pict), 1);
    ASSERT_TRUE(out.LoadBmp(Path("202")));
    EXPECT_EQ(PixelAt(out, 17, 3),
              (Bgr{uint8_t(a.B & 0xF8), uint8_t(a.G & 0xFC), uint8_t(a.R & 0xF8)}));

    pict.ColorNum = 33;
    EXPECT_EQ(qv::ConvertColours(Path("201"), Path("202"), pict), 1);
    ASSERT_TRUE(out.LoadBmp(Path("202")));
    EXPECT_EQ(out.BitCount(), 8);
    EXPECT_EQ(out.ColourCount(), 256u);

    // Step 2 is shown as 16 colours: the engine gets 16, not 2.
    pict.ColorNum = 2;
    pict.ColQuality = 4;
    EXPECT_EQ(qv::ConvertColours(Path("201"), Path("202"), pict), 0);
    ASSERT_TRUE(out.LoadBmp(Path("202")));
    EXPECT_EQ(out.BitCount(), 8);
    std::set<uint8_t> used;
    for (int32_t y = 0; y < 100; ++y)
        for (int32_t x = 0; x < 120; ++x) used.insert(qvimagingtest::IndexAt(out, x, y));
    EXPECT_GT(used.size(), 2u);
    EXPECT_LE(used.size(), 16u);
    for (uint8_t index : used) EXPECT_LT(index, 16);

    EXPECT_NE(qv::ConvertColours(Path("missing"), Path("202"), pict), 0);
    pict.ColorNum = 33;
    EXPECT_EQ(qv::ConvertColours(Path("missing"), Path("202x"), pict), 0);
    EXPECT_FALSE(qvtest::FileExists(Path("202x")));
}

TEST_F(PictureConversionTest, PngOfTheEngineOutputCarriesTheFullPalette) {
    ASSERT_TRUE(Camera(120, 100).SaveBmp(Path("201")));
    PictSettings pict;  // ColorNum 24: 192 colours, quality 4, PNG level 7
    ASSERT_EQ(qv::ConvertColours(Path("201"), Path("202"), pict), 0);
    ASSERT_TRUE(qv::EncodePicture(Path("202"), Path("203"), pict));
    const qvimagingtest::PngPicture png = qvimagingtest::ReadPng(Path("203"));
    ASSERT_TRUE(png.Ok);
    EXPECT_EQ(png.Width, 120u);
    EXPECT_EQ(png.Height, 100u);
    EXPECT_EQ(png.ColourType, 3);  // palette
    EXPECT_EQ(png.BitDepth, 8);
    ASSERT_EQ(png.PaletteEntries, 256);
    for (int n = 192; n < 256; ++n) EXPECT_EQ(png.Palette[n], (Bgr{})) << n;

    DibImage reduced;
    ASSERT_TRUE(reduced.LoadBmp(Path("202")));
    for (int n = 0; n < 256; ++n)
        EXPECT_EQ(png.Palette[n], qvimagingtest::PaletteEntry(reduced, n));
    for (int32_t y = 0; y < 100; ++y)  // PNG rows run top down
        for (int32_t x = 0; x < 120; ++x)
            ASSERT_EQ(
                png.Pixels[y * 120 + x],
                qvimagingtest::PaletteEntry(reduced, qvimagingtest::IndexAt(reduced, x, 99 - y)));
}

TEST_F(PictureConversionTest, PngOfTrueColourIsRgbWithEveryPixel) {
    DibImage picture = Camera(122, 37);  // rows with padding
    ASSERT_TRUE(picture.SaveBmp(Path("202")));
    ASSERT_TRUE(qv::WritePng(Path("202"), Path("203"), 16777216, 9));
    const qvimagingtest::PngPicture png = qvimagingtest::ReadPng(Path("203"));
    ASSERT_TRUE(png.Ok);
    EXPECT_EQ(png.ColourType, 2);  // RGB
    EXPECT_EQ(png.PaletteEntries, 0);
    ASSERT_EQ(png.Width, 122u);
    ASSERT_EQ(png.Height, 37u);
    for (int32_t y = 0; y < 37; ++y)
        for (int32_t x = 0; x < 122; ++x)
            ASSERT_EQ(png.Pixels[y * 122 + x], PixelAt(picture, x, 36 - y)) << x << "," << y;

    // A 16-bit picture is brought to 24 bits first.
    qvimagingtest::BmpFile f;
    f.Width = 2;
    f.Height = 1;
    f.BitCount = 16;
    f.Pixels = {0x1F, 0x7C, 0xE0, 0x03};  // 5-5-5 red+blue, green
    qvtest::WriteFile(Path("16"), f.Bytes());
    ASSERT_TRUE(qv::WritePng(Path("16"), Path("16.png"), 32768, 6));
    const qvimagingtest::PngPicture small = qvimagingtest::ReadPng(Path("16.png"));
    ASSERT_TRUE(small.Ok);
    EXPECT_EQ(small.Pixels[0], (Bgr{248, 0, 248}));
    EXPECT_EQ(small.Pixels[1], (Bgr{0, 248, 0}));
}

TEST_F(PictureConversionTest, WritePngFailuresLeaveNoFile) {
    EXPECT_FALSE(qv::WritePng(Path("missing"), Path("out.png"), 256, 7));
    EXPECT_FALSE(qvtest::FileExists(Path("out.png")));
    ASSERT_TRUE(Camera(8, 8).SaveBmp(Path("202")));
    EXPECT_FALSE(qv::WritePng(Path("202"), Path("no/such/dir/out.png"), 256, 7));

    PictSettings pict;
    pict.Type = 2;  // neither PNG nor JPEG
    EXPECT_FALSE(qv::EncodePicture(Path("202"), Path("203"), pict));
    EXPECT_FALSE(qvtest::FileExists(Path("203")));
}

TEST_F(PictureConversionTest, TheMailThreadsRunWithDefaultSettings) {
    ASSERT_TRUE(Camera(320, 240).SaveBmp(Path("QVTmp200.___")));
    PictSettings pict;
    qv::ResizePicture(Path("QVTmp200.___"), Path("QVTmp201.___"), pict);
    qv::ConvertColours(Path("QVTmp201.___"), Path("QVTmp202.___"), pict);
    qv::EncodePicture(Path("QVTmp202.___"), Path("QVTmp203.___"), pict);
    const std::string bytes = qvtest::ReadFile(Path("QVTmp203.___"));
    ASSERT_GT(bytes.size(), 8u);
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
    const qvimagingtest::PngPicture png = qvimagingtest::ReadPng(Path("QVTmp203.___"));
    ASSERT_TRUE(png.Ok);
    EXPECT_EQ(png.Width, 120u);
    EXPECT_EQ(png.Height, 100u);
    EXPECT_EQ(png.ColourType, 3);
    std::set<std::array<uint8_t, 3>> colours;
    for (const Bgr& c : png.Pixels) colours.insert({c.B, c.G, c.R});
    EXPECT_GT(colours.size(), 24u);  // 192 were asked for
    EXPECT_LE(colours.size(), 192u);
}

TEST_F(PictureConversionTest, JpegAttachmentFromTheReducedPicture) {
#if !defined(QV_TEST_WITH_CORE)
    GTEST_SKIP() << "the core library (QvCoreBMP2JPG) is not part of this build";
#else
    ASSERT_TRUE(Camera(320, 240).SaveBmp(Path("200")));
    PictSettings pict;
    pict.Type = 1;
    pict.PictQuality = 16;
    ASSERT_TRUE(qv::ResizePicture(Path("200"), Path("201"), pict));
    ASSERT_EQ(qv::ConvertColours(Path("201"), Path("202"), pict), 0);
    ASSERT_TRUE(qv::EncodePicture(Path("202"), Path("203"), pict));
    QImage jpeg;
    ASSERT_TRUE(jpeg.load(QString::fromStdString(Path("203")), "JPEG"));
    EXPECT_EQ(jpeg.width(), 120);
    EXPECT_EQ(jpeg.height(), 100);
    DibImage reduced;
    ASSERT_TRUE(reduced.LoadBmp(Path("202")));
    const Bgr want = qvimagingtest::PaletteEntry(reduced, qvimagingtest::IndexAt(reduced, 60, 50));
    const QRgb got = jpeg.pixel(60, 49);
    EXPECT_NEAR(qRed(got), want.R, 40);
    EXPECT_NEAR(qGreen(got), want.G, 40);
    EXPECT_NEAR(qBlue(got), want.B, 40);
#endif
}

}  // namespace

namespace {

// The picture-saving thread and the mail thread use these at the same time, each on its
// own files: the results must be what one thread alone makes.
TEST(PictureConversionThreads, TwoThreadsConvertAtOnce) {
    qvtest::TempDir dir;
    ASSERT_TRUE(Camera(320, 240).SaveBmp(dir.File("frame.bmp")));
    auto convert = [&](const std::string& tag, int colorNum) {
        PictSettings pict;
        pict.ColorNum = colorNum;
        const std::string a = dir.File(tag + "1"), b = dir.File(tag + "2"), c = dir.File(tag + "3");
        bool ok = qv::ResizePicture(dir.File("frame.bmp"), a, pict);
        qv::ConvertColours(a, b, pict);
        ok = qv::EncodePicture(b, c, pict) && ok;
        return ok ? qvtest::ReadFile(c) : std::string();
    };
    const std::string alone24 = convert("alone24-", 24), alone33 = convert("alone33-", 33);
    ASSERT_FALSE(alone24.empty());
    ASSERT_FALSE(alone33.empty());
    for (int round = 0; round < 3; ++round) {
        std::string first, second;
        std::thread other([&] { second = convert("t2-", 33); });
        first = convert("t1-", 24);
        other.join();
        EXPECT_EQ(first, alone24);
        EXPECT_EQ(second, alone33);
    }
}

}  // namespace
