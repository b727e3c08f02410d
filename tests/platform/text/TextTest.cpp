#include "platform/text/Text.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

using namespace qv::text;

namespace {

std::string Bytes(std::initializer_list<unsigned> b) {
    std::string s;
    for (unsigned c : b) s.push_back(static_cast<char>(c));
    return s;
}

}  // namespace

TEST(Cp932, ConversionsBothWaysAndTheirFailures) {
    // "～" and "①" exist only in CP932; backslash and tilde stay ASCII (not yen or macron).
    const std::string utf8 = "～①\\~Aあ漢ｱ";
    const std::string cp =
        Bytes({0x81, 0x60, 0x87, 0x40, 0x5C, 0x7E, 'A', 0x82, 0xA0, 0x8A, 0xBF, 0xB1});
    bool ok = false;
    EXPECT_EQ(Utf8ToCp932(utf8, &ok), cp);
    EXPECT_EQ(Cp932ToUtf8(cp, &ok), utf8);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Utf8ToCp932("a😀b\x80\xE3\x81", &ok), "a?b??");  // stray and truncated bytes too
    EXPECT_FALSE(ok);
    // A bad second byte, and a value cut inside a character.
    EXPECT_EQ(Cp932ToUtf8(Bytes({'A', 0x81, 0x20, 0x82, 0xA0, 0x82}), &ok), "A\xEF\xBF\xBD あ");
    EXPECT_FALSE(ok);
    for (unsigned a = 0; a < 256; ++a)
        EXPECT_FALSE(Cp932ToUtf8(Bytes({a, 0x41, a, a})).empty()) << a;
    // 0x83 0x61 is "ヂ": its second byte is an ASCII 'a' and must not become 'A'.
    EXPECT_EQ(Cp932ToUpper(Bytes({'k', 0x83, 0x61, 'a'})), Bytes({'K', 0x83, 0x61, 'A'}));
}

// The arithmetic agrees with glibc's Shift-JIS -> ISO-2022-JP tables for every code both know,
// and gives 0 outside the ranges.
TEST(SjisToJis, AgreesWithIconvIso2022Jp) {
    for (unsigned code : {0x0041u, 0x8100u, 0x813Fu, 0x817Fu, 0x81FDu, 0xA040u, 0xF040u, 0x18140u})
        EXPECT_EQ(SjisToJis(code), 0u) << std::hex << code;
    iconv_t cd = iconv_open("ISO-2022-JP", "SHIFT_JIS");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    int compared = 0;
    for (unsigned lead = 0x81; lead <= 0xEF; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFC && (lead < 0xA0 || lead >= 0xE0); ++trail) {
            char in[2] = {static_cast<char>(lead), static_cast<char>(trail)}, out[16];
            char *src = in, *dst = out;
            size_t srcLeft = 2, dstLeft = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (trail == 0x7F || iconv(cd, &src, &srcLeft, &dst, &dstLeft) == size_t(-1) ||
                dst - out < 5 || out[0] != 0x1B || out[1] != '$' || out[2] != 'B')
                continue;  // not a JIS X 0208 character: ESC $ B hi lo
            const unsigned jis =
                (static_cast<unsigned char>(out[3]) << 8) | static_cast<unsigned char>(out[4]);
            ASSERT_EQ(SjisToJis((lead << 8) | trail), jis) << std::hex << lead << " " << trail;
            ++compared;
        }
    }
    iconv_close(cd);
    EXPECT_GT(compared, 6000);
}

TEST(Paths, SeparatorTestAndJoin) {
    // "ソ" ends in 0x5C in CP932: it is a character, not a separator of any kind.
    const std::string so = Bytes({'/', 0x83, 0x5C});
    EXPECT_FALSE(EndsWithSeparator(so) || EndsWithSeparator(""));
    EXPECT_TRUE(EndsWithSeparator(so + "/"));
    EXPECT_EQ(LastCp932CharOffset(Bytes({0x83, 0x5C, 0x83})), 2u);  // lone lead byte at the end
    EXPECT_EQ(JoinPath("/a", "Quorvex.ini") + JoinPath("/a/", "b") + JoinPath("", "x"),
              "/a/Quorvex.ini/a/bx");
    EXPECT_EQ(JoinPath(so, "d"), so + "/d");
}
