#include "platform/text/Text.h"

#include <errno.h>
#include <iconv.h>

#include <memory>

namespace qv::text {
namespace {

// "CP932" rather than "SHIFT_JIS": the latter maps 0x5C to the yen sign and has no "～" or "①".
constexpr const char* kCp932 = "CP932";

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

IconvHandle OpenIconv(const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return IconvHandle();
    return IconvHandle(cd);
}

// Converts in; on an unconvertible or malformed sequence calls onBad(bytesLeft) which returns
// how many input bytes to skip and appends its replacement to out. Returns false when anything
// had to be replaced.
template <typename OnBad>
bool Convert(iconv_t cd, std::string_view in, std::string& out, OnBad onBad) {
    bool clean = true;
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buf[1024];
    while (srcLeft > 0) {
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, static_cast<size_t>(dst - buf));
        if (r != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        clean = false;
        size_t skip = onBad(std::string_view(src, srcLeft), out);
        if (skip == 0 || skip > srcLeft) skip = srcLeft;
        src += skip;
        srcLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return clean;
}

// Length of the UTF-8 sequence starting with c (1 for a stray byte).
size_t Utf8SequenceLength(std::string_view rest) {
    unsigned char c = static_cast<unsigned char>(rest[0]);
    size_t n = 1;
    if (c >= 0xF0 && c <= 0xF4)
        n = 4;
    else if (c >= 0xE0)
        n = 3;
    else if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    if (c >= 0xF5) n = 1;
    // Stop at the first byte that is not a continuation byte.
    size_t i = 1;
    while (i < n && i < rest.size() && (static_cast<unsigned char>(rest[i]) & 0xC0) == 0x80) ++i;
    return i;
}

}  // namespace

std::string Utf8ToCp932(std::string_view utf8, bool* ok) {
    std::string out;
    out.reserve(utf8.size());
    bool clean = true;
    IconvHandle cd = OpenIconv(kCp932, "UTF-8");
    if (!cd) {
        // No CP932 converter: keep ASCII, replace the rest.
        for (size_t i = 0; i < utf8.size();) {
            unsigned char c = static_cast<unsigned char>(utf8[i]);
            if (c < 0x80) {
                out.push_back(static_cast<char>(c));
                ++i;
            } else {
                out.push_back('?');
                clean = false;
                i += Utf8SequenceLength(utf8.substr(i));
            }
        }
    } else {
        clean = Convert(static_cast<iconv_t>(cd.get()), utf8, out,
                        [](std::string_view rest, std::string& o) {
                            o.push_back('?');
                            return Utf8SequenceLength(rest);
                        });
    }
    if (ok) *ok = clean;
    return out;
}

std::string Cp932ToUtf8(std::string_view cp932, bool* ok) {
    std::string out;
    out.reserve(cp932.size() + cp932.size() / 2);
    bool clean = true;
    IconvHandle cd = OpenIconv("UTF-8", kCp932);
    auto onBad = [](std::string_view rest, std::string& o) -> size_t {
        // A lead byte that is the last byte of the text: half a character, dropped.
        if (rest.size() == 1 && IsCp932LeadByte(static_cast<unsigned char>(rest[0]))) return 1;
        o.append("\xEF\xBF\xBD");
        // A lead byte with a proper second byte that has no mapping: skip the pair.
        if (rest.size() >= 2 && IsCp932LeadByte(static_cast<unsigned char>(rest[0])) &&
            IsCp932TrailByte(static_cast<unsigned char>(rest[1])))
            return 2;
        return 1;
    };
    if (!cd) {
        for (size_t i = 0; i < cp932.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(cp932[i]);
            if (c < 0x80) {
                out.push_back(static_cast<char>(c));
            } else {
                clean = false;
                size_t skip = onBad(cp932.substr(i), out);
                i += skip - 1;
            }
        }
    } else {
        clean = Convert(static_cast<iconv_t>(cd.get()), cp932, out, onBad);
    }
    if (ok) *ok = clean;
    return out;
}

bool IsCp932LeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool IsCp932TrailByte(unsigned char c) {
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

unsigned SjisToJis(unsigned sjisCode) {
    unsigned hi = (sjisCode >> 8) & 0xFF;
    unsigned lo = sjisCode & 0xFF;
    if (sjisCode > 0xFFFF || !IsCp932LeadByte(static_cast<unsigned char>(hi)) ||
        !IsCp932TrailByte(static_cast<unsigned char>(lo)))
        return 0;
    // Rows come in pairs: one lead byte covers two JIS rows.
    hi -= (hi >= 0xE0) ? 0xC1 : 0x81;
    unsigned jis;
    if (lo >= 0x9F)
        jis = ((hi * 2 + 0x22) << 8) | (lo - 0x7E);
    else
        jis = ((hi * 2 + 0x21) << 8) | (lo - (lo <= 0x7E ? 0x1F : 0x20));
    unsigned row = jis >> 8;
    if (row < 0x21 || row > 0x7E) return 0;  // the user-defined area has no JIS X 0208 row
    return jis;
}

std::string Cp932ToUpper(std::string_view cp932) {
    std::string out(cp932);
    for (size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (IsCp932LeadByte(c) && i + 1 < out.size() &&
            IsCp932TrailByte(static_cast<unsigned char>(out[i + 1]))) {
            ++i;
        } else if (c >= 'a' && c <= 'z') {
            out[i] = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::size_t LastCp932CharOffset(std::string_view cp932) {
    size_t last = std::string_view::npos;
    for (size_t i = 0; i < cp932.size();) {
        last = i;
        if (IsCp932LeadByte(static_cast<unsigned char>(cp932[i])) && i + 1 < cp932.size() &&
            IsCp932TrailByte(static_cast<unsigned char>(cp932[i + 1])))
            i += 2;
        else
            i += 1;
    }
    return last;
}

bool EndsWithSeparator(std::string_view cp932Path) {
    size_t last = LastCp932CharOffset(cp932Path);
    return last != std::string_view::npos && last == cp932Path.size() - 1 && cp932Path[last] == '/';
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (!folder.empty() && !EndsWithSeparator(folder)) out.push_back('/');
    out.append(name);
    return out;
}

}  // namespace qv::text
