#include "app/mail/Base64.h"
#include "platform/file/Owners.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int DecodeChar(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return 0;  // outside the alphabet, "=" included
}

void EncodeInto(std::string_view bytes, bool pad, std::string& out) {
    out.reserve(out.size() + (bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t v = (uint32_t(uint8_t(bytes[i])) << 16) | (uint32_t(uint8_t(bytes[i + 1])) << 8) |
                     uint32_t(uint8_t(bytes[i + 2]));
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(kAlphabet[(v >> 6) & 63]);
        out.push_back(kAlphabet[v & 63]);
    }
    size_t rest = bytes.size() - i;
    if (rest == 0) return;
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
    if (rest == 2) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    if (rest == 2) out.push_back(kAlphabet[(v >> 6) & 63]);
    if (pad) out.append(rest == 1 ? "==" : "=");
}

}  // namespace

std::string Base64EncodeText(std::string_view text) {
    std::string out;
    EncodeInto(text, false, out);
    return out;
}

std::string Base64DecodeText(std::string_view text) {
    std::string out;
    out.reserve((text.size() + 3) / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        int v[4] = {0, 0, 0, 0};
        for (size_t k = 0; k < 4 && i + k < text.size(); ++k)
            v[k] = DecodeChar(static_cast<unsigned char>(text[i + k]));
        out.push_back(static_cast<char>(((v[0] << 2) | (v[1] >> 4)) & 0xFF));
        out.push_back(static_cast<char>(((v[1] << 4) | (v[2] >> 2)) & 0xFF));
        out.push_back(static_cast<char>(((v[2] << 6) | v[3]) & 0xFF));
    }
    return out;
}

std::string Base64EncodePadded(std::string_view bytes) {
    std::string out;
    EncodeInto(bytes, true, out);
    return out;
}

int Base64EncodeFile(const std::string& sourcePath, const std::string& destPath) {
    qv::UniqueFd src(::open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!src) return 1;
    std::string data;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(src.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    // The mail thread creates the destination empty; it is neither created nor truncated here.
    qv::UniqueFd dst(::open(destPath.c_str(), O_WRONLY | O_CLOEXEC));
    if (!dst) return 1;
    std::string text;
    EncodeInto(data, true, text);
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(dst.get(), p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        p += n;
        left -= static_cast<size_t>(n);
    }
    return 1;
}
