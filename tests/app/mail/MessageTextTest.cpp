// The warning mail's text: ISO-2022-JP conversion, encoded words and the message line by line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/mail/MessageText.h"
#include "platform/text/Text.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kEscKanji = "\x1b$B";
const std::string kEscAscii = "\x1b(B";

std::string Sjis(const std::string& utf8) {
    return qv::text::Utf8ToCp932(utf8);
}

std::string Compose(const MessageContent& content, const std::string& boundary) {
    std::string out;
    WriteMessage(content, boundary, [&](std::string_view line) { out += line; });
    return out;
}

TEST(ToIso2022Jp, AsciiPassesUnchangedAndCrLfBecomesLf) {
    EXPECT_EQ(ToIso2022Jp("Alarm at the door"), "Alarm at the door");
    EXPECT_EQ(ToIso2022Jp("a\r\nb"), "a\nb");
    EXPECT_EQ(ToIso2022Jp("a\rb"), "a\nb");      // a lone CR keeps the byte after it
    EXPECT_EQ(ToIso2022Jp("line\r"), "line\n");  // a CR at the end reads nothing beyond
    EXPECT_EQ(ToIso2022Jp(""), "");
    // An escape in the text could leave the reader in kanji mode: it never passes.
    EXPECT_EQ(ToIso2022Jp("a\x1b$Bb"), "a$Bb");
}

TEST(ToIso2022Jp, DoubleByteRunsAreBracketedByEscapes) {
    // 警告 = JIS 0x3759 0x3970
    EXPECT_EQ(ToIso2022Jp(Sjis("警告")), kEscKanji + "\x37\x59\x39\x70" + kEscAscii);
    // Two runs separated by ASCII: one pair of escapes each.
    EXPECT_EQ(ToIso2022Jp(Sjis("警A告")),
              kEscKanji + "\x37\x59" + kEscAscii + "A" + kEscKanji + "\x39\x70" + kEscAscii);
    // Half-width katakana is a single byte and is copied as it is.
    EXPECT_EQ(ToIso2022Jp("\xb1"), "\xb1");
}

TEST(ToIso2022Jp, StopsAtTheTerminatorAndDropsALoneLeadByte) {
    std::string text = Sjis("警");
    text.push_back('\x8c');  // half of a character, as a value cut at its byte limit leaves
    EXPECT_EQ(ToIso2022Jp(text), kEscKanji + "\x37\x59" + kEscAscii);
    EXPECT_EQ(ToIso2022Jp("\x8c"), "");
    std::string withZero("ab\0\x8c\x78zz", 7);
    EXPECT_EQ(ToIso2022Jp(withZero), "ab");
}

TEST(ToIso2022Jp, UnmappableCodesBecomeTheGetaMark) {
    // 0xF040 is in the user-defined area: no JIS X 0208 row.
    EXPECT_EQ(ToIso2022Jp("\xf0\x40"), kEscKanji + "\x22\x2e" + kEscAscii);
    // A lead byte followed by a byte that cannot be a second byte: the byte stays a character.
    EXPECT_EQ(ToIso2022Jp("\x81\x0d\x0a"), kEscKanji + "\x22\x2e" + kEscAscii + "\n");
}

TEST(ToIso2022Jp, LongTextsGrowWithoutLimit) {
    std::string text;
    for (int i = 0; i < 2000; ++i) text += Sjis("警A");
    std::string out = ToIso2022Jp(text);
    // Each "警A" costs 3 + 2 + 3 + 1 bytes: far beyond any fixed buffer.
    EXPECT_EQ(out.size(), 2000u * 9u);
    EXPECT_EQ(out.substr(out.size() - 4), kEscAscii + "A");
}

TEST(EncodeHeaderWord, AsciiSubjectIsStillAnEncodedWord) {
    EXPECT_EQ(EncodeHeaderWord(ToIso2022Jp("Alarm")), "=?ISO-2022-JP?B?QWxhcm0=?=");
    EXPECT_EQ(EncodeHeaderWord(""),
              "=?ISO-2022-JP?B?"
              "?=");
    EXPECT_EQ(EncodeHeaderWord(std::string("ab\0cd", 5)), "=?ISO-2022-JP?B?YWI=?=");
}

TEST(MakeBoundary, HoldsTheTimeOfComposition) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(MakeBoundaryAt(1072245289), "__++ZORIZERAZ__20031224055449__MULTIPART++__");
    EXPECT_EQ(MakeBoundary().size(), 44u);
}

TEST(AttachmentContentType, ByExtensionCaseIgnored) {
    EXPECT_EQ(AttachmentContentType("20031224055449.png"), "image/png");
    EXPECT_EQ(AttachmentContentType("20031224055449.jpg"), "image/jpeg");
    EXPECT_EQ(AttachmentContentType("a.JpG"), "image/jpeg");
    EXPECT_EQ(AttachmentContentType("a.bmp"), "image/bmp");
    EXPECT_EQ(AttachmentContentType("a.gif"), "image/gif");
    EXPECT_EQ(AttachmentContentType("a.tif"), "image/png");
    EXPECT_EQ(AttachmentContentType("noext"), "image/png");
    EXPECT_EQ(AttachmentContentType("dir.jpg/file"), "image/png");
}

TEST(SplitBodyLines, EveryPieceEvenEmptyOnes) {
    EXPECT_EQ(SplitBodyLines(""), std::vector<std::string>{""});
    EXPECT_EQ(SplitBodyLines("a<BR>b"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(SplitBodyLines("a<BR>"), (std::vector<std::string>{"a", ""}));
    EXPECT_EQ(SplitBodyLines("<BR><BR>"), (std::vector<std::string>{"", "", ""}));
    EXPECT_EQ(SplitBodyLines("a<br>b"), std::vector<std::string>{"a<br>b"});
}

TEST(WriteMessage, LayoutWithoutAttachment) {
    MessageContent c;
    c.SenderAddress = "cam@example.org";
    c.RecipientAddress = "me@example.org";
    c.Subject = "Alarm";
    c.Body = "first<BR>second";
    c.MailerName = "Quorvex";
    std::string b = "__++ZORIZERAZ__20031224055449__MULTIPART++__";
    EXPECT_EQ(Compose(c, b),
              "From: cam@example.org\r\n"
              "Subject: =?ISO-2022-JP?B?QWxhcm0=?= \r\n"
              "X-Mailer: Quorvex\r\n"
              "MIME-Version: 1.0\r\n"
              "Content-Type: multipart/mixed; boundary=\"" +
                  b +
                  "\"\r\n"
                  "Content-Transfer-Encoding: 7bit\r\n"
                  "\r\n"
                  "--" +
                  b +
                  "\r\n"
                  "Content-Type: text/plain; charset=\"ISO-2022-JP\"\r\n"
                  "Content-Transfer-Encoding: 7bit\r\n"
                  "\r\n"
                  "first\r\n"
                  "second\r\n"
                  "--" +
                  b + "--\r\n");
}

TEST(WriteMessage, DisplayNamesEmptySubjectAndMissingAttachmentFile) {
    MessageContent c;
    c.SenderAddress = "cam@example.org";
    c.SenderName = "Cam";
    c.RecipientAddress = "me@example.org";
    c.RecipientName = "Me";
    c.Body = "";
    c.MailerName = "Quorvex";
    c.AttachmentFile = "/nonexistent/quorvex-b64";
    c.AttachmentName = "x.png";
    std::string text = Compose(c, "B");
    EXPECT_NE(text.find("From: =?ISO-2022-JP?B?Q2Ft?=<cam@example.org>\r\n"), std::string::npos);
    EXPECT_NE(text.find("To: =?ISO-2022-JP?B?TWU=?=<me@example.org>\r\n"), std::string::npos);
    // An empty subject goes out as "なし".
    EXPECT_NE(text.find("Subject: " + EncodeHeaderWord(ToIso2022Jp(Sjis("なし"))) + " \r\n"),
              std::string::npos);
    // One empty body line, then the close delimiter: the unreadable file gives no part.
    EXPECT_NE(text.find("7bit\r\n\r\n\r\n--B--\r\n"), std::string::npos);
    EXPECT_EQ(text.find("Content-Disposition"), std::string::npos);
}

TEST(WriteMessage, BodyCannotEndTheDataEarly) {
    MessageContent c;
    c.SenderAddress = "a@b";
    c.RecipientAddress = "c@d";
    c.Body = ".<BR>..x<BR>a\r\n.\r\nMAIL FROM:<x@y><BR>ok";
    c.MailerName = "Quorvex";
    std::string text = Compose(c, "B");
    size_t start = text.find("7bit\r\n\r\n", text.find("text/plain"));
    ASSERT_NE(start, std::string::npos);
    std::string body = text.substr(start + 8, text.find("--B--") - start - 8);
    EXPECT_EQ(body, "..\r\n...x\r\na\r\n..\r\nMAIL FROM:<x@y>\r\nok\r\n");
    EXPECT_EQ(text.find("\r\n.\r\n"), std::string::npos);
    // No bare LF anywhere in the data.
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
        }
    }
}

TEST(WriteAttachmentPart, HundredBytesGiveTwoFullLinesAndOneOfEight) {
    qvtest::TempDir dir;
    std::string b64(136, 'A');
    b64.replace(134, 2, "==");
    qvtest::WriteFile(dir.File("b64"), b64);
    std::vector<std::string> lines;
    ASSERT_TRUE(WriteAttachmentPart([&](std::string_view l) { lines.emplace_back(l); },
                                    dir.File("b64"), "B", "20031224055449.png"));
    std::vector<std::string> expected = {
        "Content-Type: image/png; name=\"20031224055449.png\"\r\n",
        "Content-Disposition: attachment; filename=\"20031224055449.png\"\r\n",
        "Content-Transfer-Encoding: base64\r\n",
        "\r\n",
        std::string(64, 'A') + "\r\n",
        std::string(64, 'A') + "\r\n",
        "AAAAAA==\r\n",
        "\r\n",
        "--B--\r\n"};
    EXPECT_EQ(lines, expected);
    // Exactly 64 characters: no empty line after the last full one.
    qvtest::WriteFile(dir.File("b64"), std::string(128, 'Q'));
    lines.clear();
    WriteAttachmentPart([&](std::string_view l) { lines.emplace_back(l); }, dir.File("b64"), "B",
                        "");
    ASSERT_EQ(lines.size(), 8u);
    // Without a name the file's path is announced, as image/png.
    EXPECT_EQ(lines[0], "Content-Type: image/png; name=\"" + dir.File("b64") + "\"\r\n");
    EXPECT_EQ(lines[6], "\r\n");
    EXPECT_FALSE(WriteAttachmentPart([&](std::string_view) {}, dir.File("missing"), "B", "x"));
}

TEST(WriteMessage, AttachmentFollowsTheTextPart) {
    qvtest::TempDir dir;
    qvtest::WriteFile(dir.File("b64"), "iVBORw0K");
    MessageContent c;
    c.SenderAddress = "a@b";
    c.RecipientAddress = "c@d";
    c.Body = "x";
    c.MailerName = "Quorvex";
    c.AttachmentFile = dir.File("b64");
    c.AttachmentName = "20031224055449.jpg";
    std::string text = Compose(c, "B");
    EXPECT_NE(text.find("x\r\n--B\r\nContent-Type: image/jpeg; name=\"20031224055449.jpg\"\r\n"),
              std::string::npos);
    std::string tail = "Content-Transfer-Encoding: base64\r\n\r\niVBORw0K\r\n\r\n--B--\r\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

}  // namespace
