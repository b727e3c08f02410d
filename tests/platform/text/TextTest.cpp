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

TEST(Cp932, CharactersThatShiftJisLosesRoundTrip) {
    // "～" and "①" exist only in CP932; the backslash and tilde must stay ASCII (not yen/macron).
    const std::string utf8 = "～①\\~ABCあ漢字ｱ";
    bool ok = false;
    std::string cp = Utf8ToCp932(utf8, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(cp, Bytes({0x81, 0x60, 0x87, 0x40, 0x5C, 0x7E, 'A', 'B', 'C', 0x82, 0xA0, 0x8A, 0xBF,
                         0x8E, 0x9A, 0xB1}));
    EXPECT_EQ(Cp932ToUtf8(cp, &ok), utf8);
    EXPECT_TRUE(ok);
}

TEST(Cp932, UnmappableAndMalformedUtf8BecomeQuestionMarks) {
    bool ok = true;
    EXPECT_EQ(Utf8ToCp932("a😀b", &ok), "a?b");
    EXPECT_FALSE(ok);
    ok = true;
    // A stray continuation byte and a truncated sequence at the end.
    EXPECT_EQ(Utf8ToCp932("x\x80y\xE3\x81", &ok), "x?y?");
    EXPECT_FALSE(ok);
}

TEST(Cp932, InvalidBytesAreReplacedAndALoneLeadByteAtTheEndDropped) {
    bool ok = true;
    // Lead byte followed by a byte that cannot be a second byte.
    EXPECT_EQ(Cp932ToUtf8(Bytes({'A', 0x81, 0x20, 'B'}), &ok), "A\xEF\xBF\xBD B");
    EXPECT_FALSE(ok);
    ok = true;
    // A value cut in the middle of a double-byte character.
    EXPECT_EQ(Cp932ToUtf8(Bytes({'A', 0x82, 0xA0, 0x82}), &ok), "Aあ");
    EXPECT_FALSE(ok);
    ok = false;
    EXPECT_EQ(Cp932ToUtf8("", &ok), "");
    EXPECT_TRUE(ok);
    // Every byte value converts without crashing.
    for (unsigned a = 0; a < 256; ++a) {
        std::string in = Bytes({a, 0x41, a, a});
        EXPECT_FALSE(Cp932ToUtf8(in).empty()) << a;
    }
}

TEST(Cp932, LeadByteRanges) {
    for (unsigned c = 0; c < 256; ++c) {
        bool expected = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
        EXPECT_EQ(IsCp932LeadByte(static_cast<unsigned char>(c)), expected) << std::hex << c;
    }
}

TEST(SjisToJis, KnownCodes) {
    EXPECT_EQ(SjisToJis(0x8140), 0x2121u);  // ideographic space
    EXPECT_EQ(SjisToJis(0x82A0), 0x2422u);  // あ
    EXPECT_EQ(SjisToJis(0x889F), 0x3021u);  // 亜
    EXPECT_EQ(SjisToJis(0x9FFC), 0x5E7Eu);  // last code of the first lead range
    EXPECT_EQ(SjisToJis(0xE040), 0x5F21u);  // first code of the second lead range
    EXPECT_EQ(SjisToJis(0xEAA4), 0x7426u);  // 熙, the last JIS X 0208 kanji
}

TEST(SjisToJis, CodesOutsideTheRangesGiveZero) {
    EXPECT_EQ(SjisToJis(0x0041), 0u);  // single byte
    EXPECT_EQ(SjisToJis(0x8100), 0u);  // bad second byte
    EXPECT_EQ(SjisToJis(0x813F), 0u);
    EXPECT_EQ(SjisToJis(0x817F), 0u);
    EXPECT_EQ(SjisToJis(0x81FD), 0u);
    EXPECT_EQ(SjisToJis(0xA040), 0u);  // half-width katakana byte as lead
    EXPECT_EQ(SjisToJis(0xF040), 0u);  // user-defined area: no JIS X 0208 row
    EXPECT_EQ(SjisToJis(0xFC40), 0u);
    EXPECT_EQ(SjisToJis(0x18140), 0u);  // more than two bytes
}

// The arithmetic must agree with glibc's own Shift-JIS -> ISO-2022-JP tables for every code
// that both know.
TEST(SjisToJis, AgreesWithIconvIso2022Jp) {
    iconv_t cd = iconv_open("ISO-2022-JP", "SHIFT_JIS");
    if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "iconv has no ISO-2022-JP";
    int compared = 0;
    for (unsigned lead = 0x81; lead <= 0xEF; ++lead) {
        if (lead >= 0xA0 && lead < 0xE0) continue;
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F) continue;
            char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            char out[16];
            char* src = in;
            char* dst = out;
            size_t srcLeft = 2, dstLeft = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) continue;
            // ESC $ B hi lo
            if (dst - out < 5 || out[0] != 0x1B || out[1] != '$' || out[2] != 'B') continue;
            unsigned jis =
                (static_cast<unsigned char>(out[3]) << 8) | static_cast<unsigned char>(out[4]);
            ASSERT_EQ(SjisToJis((lead << 8) | trail), jis) << std::hex << lead << " " << trail;
            ++compared;
        }
    }
    iconv_close(cd);
    EXPECT_GT(compared, 6000);
}

TEST(Cp932, UpperCaseLeavesDoubleByteCharactersAlone) {
    // 0x83 0x61 is "ヂ": its second byte is an ASCII 'a' and must not become 'A'.
    EXPECT_EQ(Cp932ToUpper(Bytes({'k', 0x83, 0x61, 'a', 'z', '['})),
              Bytes({'K', 0x83, 0x61, 'A', 'Z', '['}));
}

TEST(Paths, SeparatorTestAndJoin) {
    EXPECT_TRUE(EndsWithSeparator("/home/u/"));
    EXPECT_FALSE(EndsWithSeparator("/home/u"));
    EXPECT_FALSE(EndsWithSeparator(""));
    // "ソ" ends in 0x5C in CP932: it is a character, not a separator of any kind.
    EXPECT_FALSE(EndsWithSeparator(Bytes({'/', 'x', 0x83, 0x5C})));
    EXPECT_TRUE(EndsWithSeparator(Bytes({'/', 0x83, 0x5C, '/'})));
    EXPECT_EQ(LastCp932CharOffset(Bytes({'a', 0x83, 0x5C})), 1u);
    EXPECT_EQ(LastCp932CharOffset(Bytes({0x83, 0x5C, 0x83})), 2u);  // lone lead byte at the end

    EXPECT_EQ(JoinPath("/a", "Quorvex.ini"), "/a/Quorvex.ini");
    EXPECT_EQ(JoinPath("/a/", "Quorvex.ini"), "/a/Quorvex.ini");
    EXPECT_EQ(JoinPath("", "x"), "x");
    EXPECT_EQ(JoinPath("/写真ソ", "d.jpg"), "/写真ソ/d.jpg");  // UTF-8 folder
    EXPECT_EQ(JoinPath(Bytes({'/', 0x83, 0x5C}), "d"), Bytes({'/', 0x83, 0x5C, '/', 'd'}));
}
