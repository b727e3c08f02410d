#include "app/mail/MessageText.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "app/mail/Base64.h"
#include "platform/file/Owners.h"
#include "platform/text/Text.h"

namespace {

constexpr char kEscKanji[] = "\x1b$B";
constexpr char kEscAscii[] = "\x1b(B";
constexpr unsigned kGetaMark = 0x222E;  // the customary stand-in for an unmappable kanji

// "なし" in CP932: the subject of a mail whose subject is empty.
constexpr char kNoSubject[] = "\x82\xc8\x82\xb5";

// One full read of up to size bytes (a short count only at the end of the file).
ssize_t ReadChunk(int fd, char* buf, size_t size) {
    size_t got = 0;
    while (got < size) {
        ssize_t n = ::read(fd, buf + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

void WriteAttachmentBody(const MessageLineWriter& write, int fd, const std::string& boundary,
                         const std::string& attachmentFile, const std::string& attachmentName) {
    const std::string& name = attachmentName.empty() ? attachmentFile : attachmentName;
    std::string type = AttachmentContentType(attachmentName);
    write("Content-Type: " + type + "; name=\"" + name + "\"\r\n");
    write("Content-Disposition: attachment; filename=\"" + name + "\"\r\n");
    write("Content-Transfer-Encoding: base64\r\n");
    write("\r\n");
    char chunk[64];
    for (;;) {
        ssize_t n = ReadChunk(fd, chunk, sizeof chunk);
        if (n <= 0) break;
        std::string line(chunk, static_cast<size_t>(n));
        // The text file is ours and holds no zero byte; should one appear, the line ends there.
        line.resize(line.find('\0') == std::string::npos ? line.size() : line.find('\0'));
        write(line + "\r\n");
        if (static_cast<size_t>(n) < sizeof chunk) break;
    }
    write("\r\n");
    write("--" + boundary + "--\r\n");
}

// The full-width forms of the half-width katakana 0xA1..0xDF, in that order. ISO-2022-JP has
// no half-width katakana: sent raw they would show as garbage.
constexpr char kFullWidthKana[] =
    "。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホ"
    "マミムメモヤユヨラリルレロワン゛゜";

// The half-width katakana of a CP932 text as full-width ones, a voiced or semi-voiced mark
// combined with the letter before it where a full-width letter has it (ｶﾞ to ガ, ﾊﾟ to パ).
std::string WidenKana(std::string_view cp932) {
    static const std::string table = qv::text::Utf8ToCp932(kFullWidthKana);
    std::string out;
    out.reserve(cp932.size() * 2);
    for (size_t i = 0; i < cp932.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(cp932[i]);
        if (qv::text::IsCp932LeadByte(c) && i + 1 < cp932.size()) {
            out.append(cp932.substr(i, 2));
            ++i;
            continue;
        }
        if (c < 0xA1 || c > 0xDF || table.size() != 2 * 63) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        size_t at = 2 * (c - 0xA1u);
        unsigned code = (static_cast<unsigned char>(table[at]) << 8) |
                        static_cast<unsigned char>(table[at + 1]);
        unsigned char mark = i + 1 < cp932.size() ? static_cast<unsigned char>(cp932[i + 1]) : 0;
        bool voicable = (c >= 0xB6 && c <= 0xC4) || (c >= 0xCA && c <= 0xCE);  // ｶ..ﾄ, ﾊ..ﾎ
        if (mark == 0xDE && c == 0xB3) {
            code = 0x8394;  // ヴ
            ++i;
        } else if (mark == 0xDE && voicable) {
            code += 1;
            ++i;
        } else if (mark == 0xDF && c >= 0xCA && c <= 0xCE) {
            code += 2;
            ++i;
        }
        out.push_back(static_cast<char>(code >> 8));
        out.push_back(static_cast<char>(code & 0xFF));
    }
    return out;
}

}  // namespace

std::string ToIso2022Jp(std::string_view text) {
    size_t cut = text.find('\0');
    const std::string cp932 = WidenKana(text.substr(0, cut));
    const size_t end = cp932.size();
    std::string out;
    out.reserve(end + end / 2 + 8);
    bool kanji = false;
    size_t i = 0;
    while (i < end) {
        unsigned char c = static_cast<unsigned char>(cp932[i]);
        if (qv::text::IsCp932LeadByte(c)) {
            if (i + 1 >= end) break;  // a character cut in half: dropped
            if (!kanji) {
                out += kEscKanji;
                kanji = true;
            }
            unsigned char t = static_cast<unsigned char>(cp932[i + 1]);
            unsigned jis = 0;
            if (qv::text::IsCp932TrailByte(t)) {
                jis = qv::text::SjisToJis((unsigned(c) << 8) | t);
                i += 2;
            } else {
                i += 1;  // the next byte is a character of its own
            }
            if (jis == 0) jis = kGetaMark;
            out.push_back(static_cast<char>(jis >> 8));
            out.push_back(static_cast<char>(jis & 0xFF));
            if (i >= end || !qv::text::IsCp932LeadByte(static_cast<unsigned char>(cp932[i]))) {
                out += kEscAscii;
                kanji = false;
            }
        } else if (c == 0x1B) {
            ++i;  // an escape of its own would switch the reader's character set
        } else if (c == '\r') {
            out.push_back('\n');
            i += (i + 1 < end && cp932[i + 1] == '\n') ? 2 : 1;
        } else {
            out.push_back(static_cast<char>(c));
            ++i;
        }
    }
    if (kanji) out += kEscAscii;  // only after a dropped trailing lead byte
    return out;
}

std::string EncodeHeaderWord(std::string_view iso2022jp) {
    size_t end = iso2022jp.find('\0');
    if (end != std::string_view::npos) iso2022jp = iso2022jp.substr(0, end);
    return "=?ISO-2022-JP?B?" + Base64EncodePadded(iso2022jp) + "?=";
}

std::string MakeBoundaryAt(std::time_t when) {
    std::tm t{};
    localtime_r(&when, &t);
    char buf[64];
    std::snprintf(buf, sizeof buf, "__++ZORIZERAZ__%04d%02d%02d%02d%02d%02d__MULTIPART++__",
                  t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

std::string MakeBoundary() {
    return MakeBoundaryAt(std::time(nullptr));
}

std::string AttachmentContentType(std::string_view attachmentName) {
    // The extension as a path splitter gives it: from the last dot of the last component.
    size_t slash = attachmentName.find_last_of('/');
    std::string_view base =
        slash == std::string_view::npos ? attachmentName : attachmentName.substr(slash + 1);
    size_t dot = base.find_last_of('.');
    std::string ext;
    if (dot != std::string_view::npos) {
        for (char ch : base.substr(dot))
            ext.push_back((ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch);
    }
    if (ext == ".JPG") return "image/jpeg";
    if (ext == ".BMP") return "image/bmp";
    if (ext == ".GIF") return "image/gif";
    return "image/png";
}

std::vector<std::string> SplitBodyLines(std::string_view body) {
    std::vector<std::string> lines;
    size_t pos = 0;
    for (;;) {
        size_t br = body.find("<BR>", pos);
        if (br == std::string_view::npos) {
            lines.emplace_back(body.substr(pos));
            break;
        }
        lines.emplace_back(body.substr(pos, br - pos));
        pos = br + 4;
    }
    return lines;
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

void WriteMessage(const MessageContent& content, const std::string& boundary,
                  const MessageLineWriter& write) {
    if (content.SenderName.empty())
        write("From: " + content.SenderAddress + "\r\n");
    else
        write("From: " + EncodeHeaderWord(ToIso2022Jp(content.SenderName)) + "<" +
              content.SenderAddress + ">\r\n");
    std::string subject = content.Subject.empty() ? std::string(kNoSubject) : content.Subject;
    write("Subject: " + EncodeHeaderWord(ToIso2022Jp(subject)) + " \r\n");
    if (!content.RecipientName.empty())
        write("To: " + EncodeHeaderWord(ToIso2022Jp(content.RecipientName)) + "<" +
              content.RecipientAddress + ">\r\n");
    write("X-Mailer: " + content.MailerName + "\r\n");
    write("MIME-Version: 1.0\r\n");
    write("Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n");
    write("Content-Transfer-Encoding: 7bit\r\n");
    write("\r\n");
    write("--" + boundary + "\r\n");
    write("Content-Type: text/plain; charset=\"ISO-2022-JP\"\r\n");
    write("Content-Transfer-Encoding: 7bit\r\n");
    write("\r\n");
    for (const std::string& piece : SplitBodyLines(content.Body)) {
        std::string converted = ToIso2022Jp(piece);
        size_t pos = 0;
        for (;;) {
            size_t lf = converted.find('\n', pos);
            std::string line = converted.substr(pos, lf == std::string::npos ? lf : lf - pos);
            if (!line.empty() && line[0] == '.') line.insert(line.begin(), '.');
            write(line + "\r\n");
            if (lf == std::string::npos) break;
            pos = lf + 1;
        }
    }
    int fd = content.AttachmentFile.empty()
                 ? -1
                 : ::open(content.AttachmentFile.c_str(), O_RDONLY | O_CLOEXEC);
    qv::UniqueFd file(fd);
    if (file) {
        write("--" + boundary + "\r\n");
        WriteAttachmentBody(write, file.get(), boundary, content.AttachmentFile,
                            content.AttachmentName);
    } else {
        write("--" + boundary + "--\r\n");
    }
}
