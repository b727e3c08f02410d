#include "app/mail/Base64.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/support/RunProgram.h"
#include "tests/support/TestSupport.h"

using namespace std::string_literals;

TEST(Base64Text, EncodesWithoutPaddingAndPastZeroBytes) {
    EXPECT_EQ(Base64EncodeText(""), "");
    EXPECT_EQ(Base64EncodeText("f"), "Zg");
    EXPECT_EQ(Base64EncodeText("fo"), "Zm8");
    EXPECT_EQ(Base64EncodeText("foo"), "Zm9v");
    EXPECT_EQ(Base64EncodeText("foob"), "Zm9vYg");
    EXPECT_EQ(Base64EncodeText("a\0b"s), "YQBi");
    // Bytes taken as unsigned: the top bit must not smear into the neighbouring groups.
    EXPECT_EQ(Base64EncodeText("\xFF\xFE\xFD"), "//79");
    EXPECT_EQ(Base64EncodeText("\xFB\xFF"), "+/8");
}

TEST(Base64Text, PasswordLengths) {
    EXPECT_EQ(Base64EncodeText("abc").size(), 4u);
    EXPECT_EQ(Base64EncodeText("abcd").size(), 6u);
    // One byte: two characters, read back as the byte and two zero bytes.
    EXPECT_EQ(Base64EncodeText("x").size(), 2u);
    EXPECT_EQ(Base64DecodeText(Base64EncodeText("x")), "x\0\0"s);
}

TEST(Base64Text, DecodingGivesThreeBytesPerGroupAndCountsStrangersAsZero) {
    EXPECT_EQ(Base64DecodeText(""), "");
    EXPECT_EQ(Base64DecodeText("Zm9v"), "foo");
    EXPECT_EQ(Base64DecodeText("Zm9vYg"), "foob\0\0"s);
    // "=" is the value 0 like any character outside the alphabet.
    EXPECT_EQ(Base64DecodeText("Zg=="), "f\0\0"s);
    EXPECT_EQ(Base64DecodeText("Zg=="), Base64DecodeText("ZgAA"));
    EXPECT_EQ(Base64DecodeText("!!!!"), "\0\0\0"s);
    EXPECT_EQ(Base64DecodeText("Z"), "d\0\0"s);  // 25 << 2 = 0x64
    EXPECT_EQ(Base64DecodeText("\xFF\x80+/"), "\0\x0f\xbf"s);
}

TEST(Base64Text, RoundTripsEveryLength) {
    std::mt19937 rng(7);
    for (size_t n = 0; n < 200; ++n) {
        std::string data(n, '\0');
        for (char& c : data) c = static_cast<char>(rng());
        std::string decoded = Base64DecodeText(Base64EncodeText(data));
        ASSERT_EQ(decoded.size(), (n + 2) / 3 * 3) << n;
        EXPECT_EQ(decoded.substr(0, n), data) << n;
        EXPECT_EQ(decoded.substr(n), std::string(decoded.size() - n, '\0')) << n;
    }
}

TEST(Base64Padded, PadsTheFinalGroup) {
    EXPECT_EQ(Base64EncodePadded("f"), "Zg==");
    EXPECT_EQ(Base64EncodePadded("fo"), "Zm8=");
    EXPECT_EQ(Base64EncodePadded("foo"), "Zm9v");
    EXPECT_EQ(Base64EncodePadded(""), "");
}

namespace {

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

}  // namespace

TEST(Base64File, LengthsAndPadding) {
    qvtest::TempDir dir;
    const std::string src = dir.File("src.bin"), dst = dir.File("dst.txt");

    qvtest::WriteFile(src, RandomBytes(100, 1));
    qvtest::WriteFile(dst, "");
    EXPECT_EQ(Base64EncodeFile(src, dst), 1);
    std::string text = qvtest::ReadFile(dst);
    ASSERT_EQ(text.size(), 136u);
    EXPECT_EQ(text.substr(134), "==");
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);

    qvtest::WriteFile(src, "abc");
    qvtest::WriteFile(dst, "");
    EXPECT_EQ(Base64EncodeFile(src, dst), 1);
    EXPECT_EQ(qvtest::ReadFile(dst), "YWJj");

    qvtest::WriteFile(src, "");
    qvtest::WriteFile(dst, "");
    EXPECT_EQ(Base64EncodeFile(src, dst), 1);
    EXPECT_EQ(qvtest::ReadFile(dst), "");
}

TEST(Base64File, MissingFilesWriteNothingAndStillReportOne) {
    qvtest::TempDir dir;
    const std::string src = dir.File("src.bin"), dst = dir.File("dst.txt");
    qvtest::WriteFile(dst, "");
    EXPECT_EQ(Base64EncodeFile(dir.File("missing"), dst), 1);
    EXPECT_EQ(qvtest::ReadFile(dst), "");
    // The destination is not created.
    qvtest::WriteFile(src, "abc");
    EXPECT_EQ(Base64EncodeFile(src, dir.File("absent.txt")), 1);
    EXPECT_FALSE(qvtest::FileExists(dir.File("absent.txt")));
}

TEST(Base64File, WritesFromTheStartWithoutTruncating) {
    qvtest::TempDir dir;
    const std::string src = dir.File("src.bin"), dst = dir.File("dst.txt");
    qvtest::WriteFile(src, "abc");
    qvtest::WriteFile(dst, "0123456789");
    Base64EncodeFile(src, dst);
    EXPECT_EQ(qvtest::ReadFile(dst), "YWJj456789");
}

// Python's base64 module decodes what we wrote back to the picture's bytes.
TEST(Base64File, PythonDecodesIt) {
    std::string python = qvtest::FindProgram("python3");
    if (python.empty()) GTEST_SKIP() << "python3 is not installed";
    qvtest::TempDir dir;
    const std::string src = dir.File("src.bin"), dst = dir.File("dst.txt");
    for (size_t n : {1u, 2u, 3u, 4u, 5u, 1000u, 65537u}) {
        std::string data = RandomBytes(n, static_cast<unsigned>(n));
        qvtest::WriteFile(src, data);
        qvtest::WriteFile(dst, "");
        Base64EncodeFile(src, dst);
        auto r =
            qvtest::RunProgram({python, "-c",
                                "import base64,sys\n"
                                "t=open(sys.argv[1],'rb').read(); d=open(sys.argv[2],'rb').read()\n"
                                "sys.exit(0 if base64.b64decode(t, validate=True)==d else 1)",
                                dst, src},
                               {{"PATH", "/usr/bin:/bin"}});
        EXPECT_EQ(r.ExitCode, 0) << n << " " << r.Err;
    }
}
