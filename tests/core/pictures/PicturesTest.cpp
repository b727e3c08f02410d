// BMP reading and writing, and JPEG files checked with libjpeg itself.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "QuorCore.h"
#include "core/src/Pictures.h"
#include "tests/support/BmpFile.h"
#include "tests/support/TestSupport.h"
#include "tests/support/capture/ScriptedDriver.h"

namespace qv::core {
namespace {

// A BMP file: colour table entries (B, G, R, 0) and the rows as given.
std::string Bmp(int32_t width, int32_t height, uint16_t bits, const std::string& rows,
                const std::string& table = "", uint32_t used = 0, uint32_t compression = 0,
                int64_t offset = -1) {
    qvtest::BmpFile f;
    f.Width = width, f.Height = height, f.BitCount = bits, f.ClrUsed = used;
    f.Compression = compression, f.Offset = offset;
    f.Table.assign(table.begin(), table.end()), f.Pixels.assign(rows.begin(), rows.end());
    return f.Bytes();
}

std::string Palette(int entries, int step) {
    std::string p;
    for (int i = 0; i < entries; ++i) p += {char(i * step), char(255 - i), char(7), 0};
    return p;
}

struct ReadCase {
    const char* name;
    std::string bytes, status, rgb;  // rgb: top-down red, green, blue when read
};

class BmpReader : public ::testing::TestWithParam<ReadCase> {};

TEST_P(BmpReader, ReadsOrRefuses) {
    const std::string& in = GetParam().bytes;
    const BmpPicture p = ParseBmp(reinterpret_cast<const uint8_t*>(in.data()), in.size());
    EXPECT_EQ(p.status, GetParam().status);
    EXPECT_EQ(std::string(p.rgb.begin(), p.rgb.end()), GetParam().rgb);
}

const std::string kPixel("\x01\x02\x03\x00", 4);
const std::string kBits = [] {  // 1010010110 through the 2-entry table of Palette(2, 9)
    std::string s;
    for (char bit : std::string("1010010110"))
        s += bit == '1' ? std::string("\7\xFE\x09") : std::string("\7\xFF\0", 3);
    return s;
}();

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, BmpReader, ::testing::Values(
    // 2 x 2 at 24 bits: rows padded to 8 bytes, the file's first row is the bottom one.
    ReadCase{"Rgb24", Bmp(2, 2, 24, std::string("\1\2\3\4\5\6\0\0\7\x08\x09\x0A\x0B\x0C\0\0", 16)),
             kBmpOk, "\x09\x08\x07\x0C\x0B\x0A\3\2\1\6\5\4"},
    ReadCase{"NoLastPadding", Bmp(1, 2, 24, std::string(7, '\5')), kBmpOk, std::string(6, '\5')},
    ReadCase{"OneBit", Bmp(10, 1, 1, std::string("\xA5\x80\0\0", 4), Palette(2, 9)), kBmpOk, kBits},
    ReadCase{"FourBit", Bmp(3, 1, 4, std::string("\x1F\x20\0\0", 4), Palette(16, 1), 16), kBmpOk,
             std::string("\7\xFE\1\7\xF0\x0F\7\xFD\2", 9)},
    // An index past a short colour table reads black.
    ReadCase{"EightBitShortTable", Bmp(2, 1, 8, std::string("\0\x09\0\0", 4), Palette(1, 1), 1),
             kBmpOk, std::string("\7\xFF\0\0\0\0", 6)},
    ReadCase{"NotBm", "BX" + Bmp(1, 1, 24, kPixel).substr(2), kBmpNotBmp, ""},
    ReadCase{"Empty", "", kBmpNotBmp, ""},
    ReadCase{"CutHeader", Bmp(1, 1, 24, kPixel).substr(0, 40), kBmpReadErrorHeader, ""},
    ReadCase{"Compressed", Bmp(1, 1, 24, kPixel, "", 0, 1), kBmpCompressed, ""},
    ReadCase{"OffsetInsideTable", Bmp(8, 1, 8, std::string(8, 0), Palette(256, 1), 0, 0, 154),
             kBmpCorruptPalette, ""},
    ReadCase{"TableNotInFile", Bmp(8, 1, 8, "", std::string(40, 0)), kBmpReadErrorHeader, ""},
    // Sizes the file cannot hold are refused before anything is allocated.
    ReadCase{"Huge", Bmp(100000, 100000, 24, kPixel), kBmpBadSize, ""},
    ReadCase{"Overflow", Bmp(0x7FFFFFFF, 0x7FFFFFFF, 24, kPixel), kBmpBadSize, ""},
    ReadCase{"OverflowOneBit", Bmp(0x7FFFFFFF, 2, 1, kPixel, std::string(8, 0)), kBmpBadSize, ""},
    ReadCase{"TopDown", Bmp(1, -1, 24, kPixel), kBmpBadSize, ""},
    ReadCase{"ZeroWidth", Bmp(0, 1, 24, kPixel), kBmpBadSize, ""},
    ReadCase{"RowAndAHalf", Bmp(1, 2, 24, std::string(6, 0)), kBmpBadSize, ""},
    ReadCase{"OffsetPastEnd", Bmp(1, 1, 24, kPixel, "", 0, 0, 5000), kBmpBadSize, ""},
    ReadCase{"SixteenBit", Bmp(1, 1, 16, kPixel), kBmpUnsupportedBits, ""},
    ReadCase{"TwoBit", Bmp(1, 1, 2, kPixel), kBmpUnsupportedBits, ""}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

std::vector<std::string> g_messages;

// 63 x 48 (rows padded to 192 bytes), saved by the library from rows bottom first: top
// three quarters red on the left, blue on the right; a green bottom quarter.
class JpegFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        QvSetMessageHook([](const char* text, const char* caption,
                            void*) { g_messages.push_back(std::string(caption) + "|" + text); },
                         nullptr);
        const unsigned char value[] = {230, 200, 220};  // blue, green, red
        for (int i = 0; i < 63 * 48; ++i) {
            const int c = i < 12 * 63 ? 1 : i % 63 < 32 ? 2 : 0;  // buffer rows 0 to 11: green
            bgr_[3 * i + c] = value[c];
        }
        QvCoreSaveBMP(bmp_.c_str(), bgr_.data(), 63, 48);
    }
    void TearDown() override { QvSetMessageHook(nullptr, nullptr), g_messages.clear(); }
    std::string Convert(int quality, const std::string& name = "") {
        std::string out = dir_.File(name.empty() ? "q" + std::to_string(quality) + ".jpg" : name);
        EXPECT_EQ(QvCoreBMP2JPG(bmp_.data(), out.data(), quality), 1);
        return qvtest::ReadFile(out);
    }
    qvtest::TempDir dir_;
    std::string bmp_ = dir_.File("in.bmp");
    std::vector<unsigned char> bgr_ = std::vector<unsigned char>(63 * 48 * 3);
};

TEST_F(JpegFiles, SavedRowsReadBackAndDecodeWithLibjpeg) {
    const std::string file = qvtest::ReadFile(bmp_);
    ASSERT_EQ(file.size(), 54u + 192 * 48);
    EXPECT_EQ(file.substr(54 + 192, 189), std::string(bgr_.begin() + 189, bgr_.begin() + 378));
    const BmpPicture p = ReadBmp(bmp_);
    ASSERT_TRUE(p.Ok());
    EXPECT_EQ(p.rgb[0], 220);                // top-left red: the last row in the buffer
    EXPECT_EQ(p.rgb[3 * 63 * 47 + 1], 200);  // bottom-left green: the first
    const std::string out = Convert(90, "out.jpg");
    const qvtest::DecodedJpeg d = qvtest::DecodeJpegFile(dir_.File("out.jpg"));
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.width * 100 + d.height, 6348);
    auto at = [&](int x, int y, int c) { return int(d.rgb[(size_t(y) * 63 + x) * 3 + c]); };
    EXPECT_NEAR(at(10, 5, 0), 220, 12);  // top left red
    EXPECT_LT(at(10, 5, 2), 20);
    EXPECT_NEAR(at(50, 5, 2), 230, 12);   // top right blue
    EXPECT_NEAR(at(30, 46, 1), 200, 12);  // bottom band green
    // From the reader's red, green, blue rows it is the same file.
    ASSERT_TRUE(WriteJpeg(dir_.File("r.jpg"), p.rgb.data(), p.width, p.height, 90));
    EXPECT_EQ(qvtest::ReadFile(dir_.File("r.jpg")), out);
    // Quality is clamped to 0..100; the low byte of the flags is the quality.
    EXPECT_EQ(Convert(150), Convert(100));
    EXPECT_EQ(qvtest::DecodeJpegFile(dir_.File("q100.jpg")).quant0, 1);
    EXPECT_EQ(Convert(-5), Convert(0));
    EXPECT_NE(Convert(50), Convert(100));
    std::string viaFlags = dir_.File("flags.jpg");
    ASSERT_EQ(QvConvertBMPToJPG(bmp_.data(), viaFlags.data(), 0x1532), 1);
    EXPECT_EQ(qvtest::ReadFile(viaFlags), Convert(50));
    EXPECT_TRUE(g_messages.empty());
}

TEST_F(JpegFiles, FailuresOfReadingAndWriting) {
    std::string out = dir_.File("x.jpg"), bad = dir_.File("bad.bmp"), missing = dir_.File("m.bmp");
    EXPECT_EQ(SaveBmp(dir_.File("no/dir.bmp"), bgr_.data(), 1, 1), "Can't open file for writing");
    EXPECT_EQ(ReadBmp(missing).status, "Can't open file for reading :\n" + missing);
    qvtest::WriteFile(bad, Bmp(1, 1, 24, kPixel, "", 0, 1));
    EXPECT_EQ(QvCoreBMP2JPG(bad.data(), out.data(), 80), 0);
    EXPECT_EQ(QvCoreBMP2JPG(missing.data(), out.data(), 80), 0);
    EXPECT_FALSE(qvtest::FileExists(out));
    EXPECT_TRUE(g_messages.empty());
    // The BMP was read: 1 even though the JPEG cannot be created; the writer says why.
    std::string nowhere = dir_.File("no/such/dir/x.jpg");
    EXPECT_EQ(QvCoreBMP2JPG(bmp_.data(), nowhere.data(), 80), 1);
    // Decoding: a missing file says so; junk and a cut stream give null or a padded picture.
    unsigned w = 5, h = 5;
    EXPECT_EQ(QvCoreJPG2RGB(missing.data(), &w, &h), nullptr);
    EXPECT_EQ(w + h, 0u);
    EXPECT_EQ(g_messages,
              (std::vector<std::string>{"Error|JpegFile :\nCan't open " + nowhere + "\n",
                                        "Error|JPEG :\nCan't open " + missing + "\n"}));
    qvtest::WriteFile(bad, "this is no picture");
    EXPECT_EQ(QvCoreJPG2RGB(bad.data(), &w, &h), nullptr);
    qvtest::WriteFile(bad, Convert(80).substr(0, 200));
    QvCoreFreeJpegMem(QvCoreJPG2RGB(bad.data(), &w, &h));
    QvCoreFreeJpegMem(nullptr);
    EXPECT_EQ(g_messages.size(), 2u);
    // A greyscale JPEG gives three equal bytes a pixel.
    std::string grey = QV_JPEG_CORPUS "/grey_24x10.jpg";
    unsigned char* block = QvCoreJPG2RGB(grey.data(), &w, &h);
    ASSERT_TRUE(block && w * h == 240u);
    for (unsigned i = 0; i < 3 * w * h; i += 3)
        EXPECT_TRUE(block[i] == block[i + 1] && block[i] == block[i + 2]) << i;
    QvCoreFreeJpegMem(block);
    // Without a hook the text goes to standard error.
    QvSetMessageHook(nullptr, nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(QvCoreJPG2RGB(missing.data(), &w, &h), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("JPEG :\nCan't open " + missing),
              std::string::npos);
}

TEST_F(JpegFiles, WriterAndDecoderRunOnSeveralThreadsAtOnce) {
    const std::string expected = Convert(75);
    std::vector<std::thread> threads;
    std::vector<int> ok(4, 0);
    for (int k = 0; k < 4; ++k)
        threads.emplace_back([&, k] {
            std::string out = dir_.File("t" + std::to_string(k) + ".jpg");
            unsigned w = 0, h = 0;
            unsigned char* px = QvCoreBMP2JPG(bmp_.data(), out.data(), 75) == 1
                                    ? QvCoreJPG2RGB(out.data(), &w, &h)
                                    : nullptr;
            // Top left: red, as blue, green, red bytes.
            ok[k] = px && w == 63 && h == 48 && px[2] > 200 && px[0] < 30 &&
                    qvtest::ReadFile(out) == expected;
            QvCoreFreeJpegMem(px);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(ok, std::vector<int>(4, 1));
}

}  // namespace
}  // namespace qv::core
