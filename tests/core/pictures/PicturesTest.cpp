// BMP reading and writing, and JPEG files checked with libjpeg itself.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>
// jpeglib.h needs FILE and size_t first.
#include <jpeglib.h>

#include "QuorCore.h"
#include "core/src/Pictures.h"
#include "tests/support/TestSupport.h"

namespace {

using qv::core::BmpPicture;
using qv::core::ParseBmp;

void Put16(std::string& s, size_t at, uint32_t v) {
    s[at] = char(v & 0xFF);
    s[at + 1] = char((v >> 8) & 0xFF);
}
void Put32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = char((v >> (8 * i)) & 0xFF);
}

// A BMP file: header, colour table entries (B, G, R, 0) and the rows as given.
std::string Bmp(int32_t width, int32_t height, uint16_t bits, const std::string& palette,
                const std::string& rows, uint32_t colorsUsed = 0, uint32_t compression = 0) {
    std::string s(54, '\0');
    s[0] = 'B', s[1] = 'M';
    Put32(s, 2, uint32_t(54 + palette.size() + rows.size()));
    Put32(s, 10, uint32_t(54 + palette.size()));
    Put32(s, 14, 40);
    Put32(s, 18, uint32_t(width));
    Put32(s, 22, uint32_t(height));
    Put16(s, 26, 1);
    Put16(s, 28, bits);
    Put32(s, 30, compression);
    Put32(s, 46, colorsUsed);
    return s + palette + rows;
}

BmpPicture Parse(const std::string& bytes) {
    return ParseBmp(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string Rgb(const BmpPicture& p) {
    return std::string(p.rgb.begin(), p.rgb.end());
}

TEST(BmpReader, TwentyFourBitRowsArePaddedAndTurnedTopDown) {
    // 3 x 3: rows of 9 bytes plus 3 padding bytes; the file's first row is the bottom one.
    std::string rows;
    for (int row = 0; row < 3; ++row) {
        for (int x = 0; x < 3; ++x) rows += {char(10 * row + x), char(100 + x), char(200 + row)};
        rows += std::string(3, '\x7F');
    }
    const BmpPicture p = Parse(Bmp(3, 3, 24, "", rows));
    ASSERT_TRUE(p.Ok()) << p.status;
    EXPECT_EQ(p.width, 3);
    EXPECT_EQ(p.height, 3);
    ASSERT_EQ(p.rgb.size(), 27u);
    // Top row = the file's last row (row 2), in red, green, blue order.
    EXPECT_EQ(p.rgb[0], 202);
    EXPECT_EQ(p.rgb[1], 100);
    EXPECT_EQ(p.rgb[2], 20);
    EXPECT_EQ(p.rgb[24], 200);  // bottom right pixel: file row 0, x 2
    EXPECT_EQ(p.rgb[25], 102);
    EXPECT_EQ(p.rgb[26], 2);
}

TEST(BmpReader, IndexedPicturesUnpackFromTheHighBits) {
    // 1 bit, colours used 0: a 2-entry table; 10 pixels wide = 2 bytes + 2 padding a row.
    const std::string palette = std::string("\x00\x00\x00\x00\x10\x20\x30\x00", 8);
    const std::string rows =
        std::string("\xA5\x80\x00\x00", 4) + std::string("\x00\x40\x00\x00", 4);
    const BmpPicture p = Parse(Bmp(10, 2, 1, palette, rows));
    ASSERT_TRUE(p.Ok()) << p.status;
    std::string top, bottom;
    for (int x = 0; x < 10; ++x) {
        top += p.rgb[3 * x] ? '1' : '0';
        bottom += p.rgb[30 + 3 * x] ? '1' : '0';
    }
    EXPECT_EQ(bottom, "1010010110");  // file row 0: 0xA5, 0x80
    EXPECT_EQ(top, "0000000001");     // file row 1: 0x00, 0x40
    EXPECT_EQ(p.rgb[30], 0x30);       // red from the entry's third byte
    EXPECT_EQ(p.rgb[31], 0x20);
    EXPECT_EQ(p.rgb[32], 0x10);

    // 4 and 8 bits with explicit tables.
    std::string pal16;
    for (int i = 0; i < 16; ++i) pal16 += {char(i), char(i * 2), char(i * 3), 0};
    const BmpPicture p4 = Parse(Bmp(3, 1, 4, pal16, std::string("\x1F\x20\x00\x00", 4), 16));
    ASSERT_TRUE(p4.Ok()) << p4.status;
    EXPECT_EQ(Rgb(p4), std::string({3, 2, 1, 45, 30, 15, 6, 4, 2}));
    std::string pal256;
    for (int i = 0; i < 256; ++i) pal256 += {char(i), char(255 - i), char(7), 0};
    const BmpPicture p8 = Parse(Bmp(2, 1, 8, pal256, std::string("\x00\xFF\x00\x00", 4)));
    ASSERT_TRUE(p8.Ok()) << p8.status;
    EXPECT_EQ(Rgb(p8), std::string({7, char(255), 0, 7, 0, char(255)}));
}

TEST(BmpReader, StatusTexts) {
    const std::string good = Bmp(1, 1, 24, "", std::string(4, '\x01'));
    ASSERT_TRUE(Parse(good).Ok());
    std::string notM = good;
    notM[1] = 'X';
    EXPECT_EQ(Parse(notM).status, "Not a valid BMP File");
    EXPECT_EQ(Parse("B").status, "Not a valid BMP File");
    EXPECT_EQ(Parse("").status, "Not a valid BMP File");
    EXPECT_EQ(Parse(good.substr(0, 40)).status, "Read Error!");
    EXPECT_EQ(Parse(Bmp(1, 1, 24, "", std::string(4, '\0'), 0, 1)).status,
              "This is a compressed file.");
    // Pixel data offset inside the colour table.
    std::string corrupt = Bmp(8, 1, 8, std::string(256 * 4, '\0'), std::string(8, '\0'));
    Put32(corrupt, 10, 54 + 100);
    EXPECT_EQ(Parse(corrupt).status, "Corrupt palette");
    // A colour table the file does not hold.
    EXPECT_EQ(Parse(Bmp(8, 1, 8, std::string(40, '\0'), "")).status, "Read Error!");

    qvtest::TempDir dir;
    const std::string missing = dir.File("none.bmp");
    EXPECT_EQ(qv::core::ReadBmp(missing).status, "Can't open file for reading :\n" + missing);
    qvtest::WriteFile(dir.File("a.bmp"), good);
    EXPECT_TRUE(qv::core::ReadBmp(dir.File("a.bmp")).Ok());
}

TEST(BmpReader, RefusesSizesTheFileDoesNotHold) {
    // 60 bytes claiming 100000 x 100000 pixels, or sizes whose product overflows: refused
    // before anything is allocated.
    const std::string rows(6, '\0');
    EXPECT_EQ(Parse(Bmp(100000, 100000, 24, "", rows)).status, "Bad picture size");
    EXPECT_EQ(Parse(Bmp(0x7FFFFFFF, 0x7FFFFFFF, 24, "", rows)).status, "Bad picture size");
    EXPECT_EQ(Parse(Bmp(0x7FFFFFFF, 2, 1, std::string(8, '\0'), rows)).status, "Bad picture size");
    EXPECT_EQ(Parse(Bmp(1, -1, 24, "", rows)).status, "Bad picture size");
    EXPECT_EQ(Parse(Bmp(0, 1, 24, "", rows)).status, "Bad picture size");
    EXPECT_EQ(Parse(Bmp(-5, 1, 24, "", rows)).status, "Bad picture size");
    // Two rows of 4 bytes needed, one and a half given.
    EXPECT_EQ(Parse(Bmp(1, 2, 24, "", std::string(6, '\0'))).status, "Bad picture size");
    // Pixel data offset past the end of the file.
    std::string far = Bmp(1, 1, 24, "", std::string(4, '\0'));
    Put32(far, 10, 5000);
    EXPECT_EQ(Parse(far).status, "Bad picture size");
    // The last row may lack its padding.
    const BmpPicture p = Parse(Bmp(1, 2, 24, "", std::string(7, '\x05')));
    EXPECT_TRUE(p.Ok()) << p.status;
    // Bit counts the reader does not read.
    for (uint16_t bits : {0, 2, 16, 32, 48}) {
        EXPECT_EQ(Parse(Bmp(1, 1, bits, "", std::string(64, '\0'))).status, "Unsupported bit count")
            << bits;
    }
    // An index past a short colour table reads black.
    const BmpPicture q = Parse(
        Bmp(2, 1, 8, std::string("\x01\x02\x03\x00", 4), std::string("\x00\x09\x00\x00", 4), 1));
    ASSERT_TRUE(q.Ok()) << q.status;
    EXPECT_EQ(Rgb(q), std::string({3, 2, 1, 0, 0, 0}));
}

TEST(SaveBmp, OnePixelFileIs58BytesAndReadsBack) {
    qvtest::TempDir dir;
    unsigned char pixel[3] = {0x11, 0x22, 0x33};  // blue, green, red
    const std::string path = dir.File("one.bmp");
    QvCoreSaveBMP(path.c_str(), pixel, 1, 1);
    const std::string bytes = qvtest::ReadFile(path);
    ASSERT_EQ(bytes.size(), 58u);
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(uint8_t(bytes[2]), 58);
    EXPECT_EQ(uint8_t(bytes[10]), 54);
    EXPECT_EQ(uint8_t(bytes[14]), 40);
    EXPECT_EQ(uint8_t(bytes[28]), 24);
    EXPECT_EQ(bytes.substr(54), std::string("\x11\x22\x33\x00", 4));
    const BmpPicture p = qv::core::ReadBmp(path);
    ASSERT_TRUE(p.Ok());
    EXPECT_EQ(Rgb(p), "\x33\x22\x11");

    // 5 x 2: rows padded to 16 bytes; bottom row first in the buffer and in the file.
    std::vector<unsigned char> px(30);
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<unsigned char>(i);
    QvCoreSaveBMP(path.c_str(), px.data(), 5, 2);
    EXPECT_EQ(qvtest::ReadFile(path).size(), 54u + 32u);
    const BmpPicture r = qv::core::ReadBmp(path);
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(r.rgb[0], 17);  // top-left red = second buffer row's first pixel, byte 2
    EXPECT_EQ(r.rgb[15], 2);  // bottom-left red

    EXPECT_EQ(qv::core::SaveBmp(dir.File("no/such/dir.bmp"), pixel, 1, 1),
              "Can't open file for writing");
}

// libjpeg reading back what we wrote.
struct Decoded {
    bool ok = false;
    int width = 0, height = 0, components = 0;
    std::vector<uint8_t> pixels;
    std::vector<int> quant0;
};

struct TestJpegErrors {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

void TestErrorExit(j_common_ptr c) {
    longjmp(reinterpret_cast<TestJpegErrors*>(c->err)->jump, 1);
}

Decoded Decode(const std::string& path) {
    Decoded d;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return d;
    struct Closer {
        FILE* file;
        ~Closer() { std::fclose(file); }
    } closer{f};
    jpeg_decompress_struct cinfo{};
    TestJpegErrors err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = TestErrorExit;
    if (setjmp(err.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return Decoded{};
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    for (int i = 0; i < DCTSIZE2; ++i) d.quant0.push_back(cinfo.quant_tbl_ptrs[0]->quantval[i]);
    jpeg_start_decompress(&cinfo);
    d.width = int(cinfo.output_width), d.height = int(cinfo.output_height);
    d.components = cinfo.output_components;
    d.pixels.resize(size_t(d.width) * d.height * d.components);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = d.pixels.data() + size_t(cinfo.output_scanline) * d.width * d.components;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    d.ok = true;
    return d;
}

void Encode(const std::string& path, int w, int h, int components, const std::vector<uint8_t>& px) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = JDIMENSION(w), cinfo.image_height = JDIMENSION(h);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(px.data() + size_t(cinfo.next_scanline) * w * components);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
}

// A 24-bit BMP file of a picture: left half red, right half blue, a green bottom band.
std::string TestPicture(int w, int h) {
    std::string rows;
    const int stride = (w * 3 + 3) & ~3;
    for (int fileRow = 0; fileRow < h; ++fileRow) {
        std::string row;
        for (int x = 0; x < w; ++x) {
            if (fileRow < h / 4) {
                row += {0, char(200), 0};  // bottom band (the file's first rows)
            } else if (x < w / 2) {
                row += {0, 0, char(220)};
            } else {
                row += {char(230), 0, 0};
            }
        }
        row.resize(size_t(stride), '\0');
        rows += row;
    }
    return Bmp(w, h, 24, "", rows);
}

std::vector<std::string> g_messages;
void RecordMessage(const char* text, const char* caption, void*) {
    g_messages.push_back(std::string(caption) + "|" + text);
}

class JpegFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        g_messages.clear();
        QvSetMessageHook(RecordMessage, nullptr);
        qvtest::WriteFile(bmp_, TestPicture(64, 48));
    }
    void TearDown() override { QvSetMessageHook(nullptr, nullptr); }
    std::string Path(const char* name) { return dir_.File(name); }
    qvtest::TempDir dir_;
    std::string bmp_ = dir_.File("in.bmp");
};

TEST_F(JpegFiles, ConvertedPictureDecodesWithLibjpeg) {
    std::string out = Path("out.jpg");
    ASSERT_EQ(QvCoreBMP2JPG(bmp_.data(), out.data(), 90), 1);
    const Decoded d = Decode(out);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, 64);
    EXPECT_EQ(d.height, 48);
    ASSERT_EQ(d.components, 3);
    auto at = [&](int x, int y, int c) { return int(d.pixels[(size_t(y) * 64 + x) * 3 + c]); };
    EXPECT_NEAR(at(10, 5, 0), 220, 12);  // top left red
    EXPECT_LT(at(10, 5, 2), 20);
    EXPECT_NEAR(at(50, 5, 2), 230, 12);   // top right blue
    EXPECT_NEAR(at(30, 46, 1), 200, 12);  // bottom band green
    EXPECT_TRUE(g_messages.empty());
    // Compressing straight from the file's rows gives the same file as from the reader's
    // red, green, blue rows.
    const BmpPicture p = qv::core::ReadBmp(bmp_);
    ASSERT_TRUE(p.Ok());
    const std::string viaReader = Path("reader.jpg");
    ASSERT_TRUE(qv::core::WriteJpeg(viaReader, p.rgb.data(), p.width, p.height, 90));
    EXPECT_EQ(qvtest::ReadFile(viaReader), qvtest::ReadFile(out));
}

TEST_F(JpegFiles, QualityIsClampedToZeroToHundred) {
    std::string q150 = Path("150.jpg"), q100 = Path("100.jpg"), qm5 = Path("m5.jpg"),
                q0 = Path("0.jpg"), q50 = Path("50.jpg");
    ASSERT_EQ(QvCoreBMP2JPG(bmp_.data(), q150.data(), 150), 1);
    ASSERT_EQ(QvCoreBMP2JPG(bmp_.data(), q100.data(), 100), 1);
    ASSERT_EQ(QvCoreBMP2JPG(bmp_.data(), qm5.data(), -5), 1);
    ASSERT_EQ(QvCoreBMP2JPG(bmp_.data(), q0.data(), 0), 1);
    ASSERT_EQ(QvCoreBMP2JPG(bmp_.data(), q50.data(), 50), 1);
    EXPECT_EQ(qvtest::ReadFile(q150), qvtest::ReadFile(q100));
    EXPECT_EQ(qvtest::ReadFile(qm5), qvtest::ReadFile(q0));
    EXPECT_NE(qvtest::ReadFile(q50), qvtest::ReadFile(q100));
    const Decoded best = Decode(q150);
    ASSERT_TRUE(best.ok);
    for (int v : best.quant0) EXPECT_EQ(v, 1);  // quality 100
    // The low byte of the flags is the quality.
    std::string viaFlags = Path("flags.jpg");
    ASSERT_EQ(QvConvertBMPToJPG(bmp_.data(), viaFlags.data(), 0x1532), 1);
    EXPECT_EQ(qvtest::ReadFile(viaFlags), qvtest::ReadFile(q50));
}

TEST_F(JpegFiles, FailuresOfReadingAndWriting) {
    std::string out = Path("x.jpg");
    std::string bad = Path("bad.bmp");
    qvtest::WriteFile(bad, Bmp(1, 1, 24, "", std::string(4, '\0'), 0, 1));
    EXPECT_EQ(QvCoreBMP2JPG(bad.data(), out.data(), 80), 0);
    EXPECT_FALSE(qvtest::FileExists(out));
    std::string missing = Path("missing.bmp");
    EXPECT_EQ(QvCoreBMP2JPG(missing.data(), out.data(), 80), 0);
    EXPECT_TRUE(g_messages.empty());
    // The BMP was read: 1 even though the JPEG cannot be created; the writer says why.
    std::string nowhere = Path("no/such/dir/x.jpg");
    EXPECT_EQ(QvCoreBMP2JPG(bmp_.data(), nowhere.data(), 80), 1);
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0], "Error|JpegFile :\nCan't open " + nowhere + "\n");
}

TEST_F(JpegFiles, DecoderGivesBlueGreenRedRows) {
    std::string path = Path("c.jpg");
    std::vector<uint8_t> px(16 * 8 * 3);
    for (size_t i = 0; i < px.size(); i += 3) px[i] = 250, px[i + 1] = 10, px[i + 2] = 60;
    Encode(path, 16, 8, 3, px);
    unsigned w = 99, h = 99;
    unsigned char* block = QvCoreJPG2RGB(path.data(), &w, &h);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(w, 16u);
    EXPECT_EQ(h, 8u);
    EXPECT_NEAR(block[0], 60, 6);   // blue
    EXPECT_NEAR(block[1], 10, 6);   // green
    EXPECT_NEAR(block[2], 250, 6);  // red
    EXPECT_NEAR(block[16 * 8 * 3 - 1], 250, 6);
    QvCoreFreeJpegMem(block);
}

TEST_F(JpegFiles, GreyscaleJpegGivesThreeEqualBytes) {
    std::string path = Path("g.jpg");
    std::vector<uint8_t> px(24 * 10);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t(i * 7);
    Encode(path, 24, 10, 1, px);
    unsigned w = 0, h = 0;
    unsigned char* block = QvCoreJPG2RGB(path.data(), &w, &h);
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(w * h, 240u);
    bool varied = false;
    for (unsigned i = 0; i < w * h; ++i) {
        ASSERT_EQ(block[3 * i], block[3 * i + 1]);
        ASSERT_EQ(block[3 * i], block[3 * i + 2]);
        varied |= block[3 * i] != block[0];
    }
    EXPECT_TRUE(varied);
    QvCoreFreeJpegMem(block);
}

TEST_F(JpegFiles, DecoderFailures) {
    unsigned w = 5, h = 5;
    std::string missing = Path("none.jpg");
    EXPECT_EQ(QvCoreJPG2RGB(missing.data(), &w, &h), nullptr);
    EXPECT_EQ(w, 0u);
    EXPECT_EQ(h, 0u);
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0], "Error|JPEG :\nCan't open " + missing + "\n");
    // Not a JPEG, or a JPEG cut short: null without a message.
    g_messages.clear();
    std::string junk = Path("junk.jpg");
    qvtest::WriteFile(junk, "this is no picture");
    w = h = 5;
    EXPECT_EQ(QvCoreJPG2RGB(junk.data(), &w, &h), nullptr);
    EXPECT_EQ(w, 0u);
    std::string whole = Path("whole.jpg");
    ASSERT_EQ(QvCoreBMP2JPG(bmp_.data(), whole.data(), 80), 1);
    const std::string bytes = qvtest::ReadFile(whole);
    std::string cut = Path("cut.jpg");
    qvtest::WriteFile(cut, bytes.substr(0, 200));
    unsigned char* partial = QvCoreJPG2RGB(cut.data(), &w, &h);
    QvCoreFreeJpegMem(partial);  // libjpeg pads a cut stream; either way nothing leaks
    EXPECT_TRUE(g_messages.empty());
    QvCoreFreeJpegMem(nullptr);
}

TEST_F(JpegFiles, ConversionsRunOnSeveralThreadsAtOnce) {
    // The picture-saving and mail threads convert at the same time.
    std::string first = Path("t0.jpg");
    ASSERT_EQ(QvCoreBMP2JPG(bmp_.data(), first.data(), 75), 1);
    const std::string expected = qvtest::ReadFile(first);
    std::vector<std::thread> threads;
    std::vector<int> ok(4, 0);
    for (int k = 0; k < 4; ++k) {
        threads.emplace_back([&, k] {
            std::string out = Path(("t" + std::to_string(k + 1) + ".jpg").c_str());
            for (int round = 0; round < 5; ++round) {
                if (QvCoreBMP2JPG(bmp_.data(), out.data(), 75) != 1) return;
                unsigned w = 0, h = 0;
                unsigned char* px = QvCoreJPG2RGB(out.data(), &w, &h);
                QvCoreFreeJpegMem(px);
                if (px == nullptr || w != 64 || h != 48) return;
            }
            ok[k] = qvtest::ReadFile(out) == expected;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(ok, std::vector<int>(4, 1));
}

TEST(MessageHook, WithoutHookTheTextGoesToStandardError) {
    QvSetMessageHook(nullptr, nullptr);
    qvtest::TempDir dir;
    std::string missing = dir.File("none.jpg");
    testing::internal::CaptureStderr();
    unsigned w, h;
    EXPECT_EQ(QvCoreJPG2RGB(missing.data(), &w, &h), nullptr);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("JPEG :\nCan't open " + missing), std::string::npos) << err;
}

}  // namespace
