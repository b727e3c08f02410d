#include "app/engine/StampTime.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace qv::engine {
namespace {

// The digit font, top row first; per row the glyphs 0 1 2 3 4 5 6 7 8 9 : / side by side.
// W white, g dark grey, . transparent.
constexpr const char* kFontRows[12] = {
    "........ ........ ........ ........ ........ ........ ........ ........ ........ ........ "
    "........ ........",
    ".gggggg. .ggggg.. ..ggggg. ..ggggg. ....ggg. ..gggggg ...ggggg .ggggggg .gggggg. .gggggg. "
    "........ ....ggg.",
    "ggWWWWgg .gWWWg.. .ggWWWgg .ggWWWgg ...ggWg. .ggWWWWg ..ggWWWg ggWWWWWg ggWWWWgg ggWWWWgg "
    "..gggg.. ...ggWg.",
    "gWWggWWg .ggWWg.. ggWWWWWg ggWWWWWg ..ggWWg. .gWWWWgg .ggWWggg gWWWWWWg gWWggWWg gWWggWWg "
    "..gWWg.. ...gWgg.",
    "gWWggWWg ..gWWg.. gWgggWWg gWgggWWg ..gWWWg. .gWgggg. ggWWggg. gWgggWgg gWWggWWg gWWggWWg "
    "..gWWg.. ...gWg..",
    "gWWggWWg ..gWWg.. ggg.gWWg gggggWgg .ggWWWg. ggWWWWgg gWWWWWgg gggggWg. gWWWgWgg gWWggWWg "
    "..gggg.. ..ggWg..",
    "gWWggWWg ..gWWg.. ...ggWgg ..gWWWgg ggWgWWg. gWWWWWWg gWWggWWg ...gWgg. ggWWWWgg gWWggWWg "
    "........ ..gWgg..",
    "gWWggWWg ..gWWg.. ..ggWgg. ..ggWWWg gWggWWgg gggggWWg gWWggWWg ...gWg.. gWWgWWWg ggWWWWWg "
    "..gggg.. ..gWg...",
    "gWWggWWg ..gWWg.. .ggWgggg gggggWWg gWWWWWWg ggggggWg gWWggWWg ..ggWg.. gWWggWWg .gggWWgg "
    "..gWWg.. ..gWg...",
    "gWWggWWg .ggWWgg. ggWWWWWg gWWggWWg ggggWWgg gWWggWgg gWWggWWg ..gWgg.. gWWggWWg gggWWgg. "
    "..gWWg.. .gWgg...",
    "ggWWWWgg .gWWWWg. gWWWWWWg gWWWWggg ...gWWg. gWWWWgg. ggWWWWgg ..gWg... ggWWWWgg gWWWgg.. "
    "..gggg.. .gWg....",
    ".gggggg. .gggggg. gggggggg gggggg.. ...gggg. gggggg.. .gggggg. ..ggg... .gggggg. ggggg... "
    "........ .ggg....",
};

constexpr int kGlyphWidth = 8;
constexpr int kGlyphHeight = 12;
constexpr int kColon = 10;
constexpr int kSlash = 11;

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}

// Draws one glyph into the band (rows bottom first) at byte offset x, band row r.
void DrawGlyph(std::vector<uint8_t>& band, size_t stride, int bandRows, int glyph, size_t x,
               int r) {
    for (int gy = 0; gy < kGlyphHeight; ++gy) {
        int bandRow = r + (kGlyphHeight - 1 - gy);  // the glyph's bottom row goes into row r
        if (bandRow < 0 || bandRow >= bandRows) continue;
        for (int gx = 0; gx < kGlyphWidth; ++gx) {
            size_t at = static_cast<size_t>(bandRow) * stride + x + static_cast<size_t>(gx) * 3;
            if (at + 3 > static_cast<size_t>(bandRow + 1) * stride) break;
            uint8_t v = StampGlyphPixel(glyph, gy, gx);
            band[at] = band[at + 1] = band[at + 2] = v;
        }
    }
}

bool CopyBytes(std::FILE* in, std::FILE* out, uint64_t count) {
    std::array<char, 65536> buffer;
    while (count > 0) {
        size_t piece = count < buffer.size() ? static_cast<size_t>(count) : buffer.size();
        if (std::fread(buffer.data(), 1, piece, in) != piece) return false;
        if (std::fwrite(buffer.data(), 1, piece, out) != piece) return false;
        count -= piece;
    }
    return true;
}

bool Stamp(const std::string& src, const std::string& dst, const WallTime& captureTime) {
    File in(std::fopen(src.c_str(), "rb"));
    if (!in) return false;
    uint8_t headers[54];
    if (std::fread(headers, 1, sizeof headers, in.get()) != sizeof headers) return false;
    if (headers[0] != 'B' || headers[1] != 'M') return false;
    const uint8_t* info = headers + 14;
    uint32_t offBits = Le32(headers + 10);
    uint32_t infoSize = Le32(info);
    int32_t width = static_cast<int32_t>(Le32(info + 4));
    int32_t height = static_cast<int32_t>(Le32(info + 8));
    uint16_t bitCount = Le16(info + 14);
    uint32_t compression = Le32(info + 16);
    uint32_t sizeImage = Le32(info + 20);
    if (infoSize != 40 || bitCount != 24 || compression != 0) return false;
    if (width < 80 || width > 1 << 16 || height == 0 || height < -(1 << 16) || height > 1 << 16)
        return false;
    const bool bottomUp = height > 0;
    const uint64_t rows = static_cast<uint64_t>(bottomUp ? height : -static_cast<int64_t>(height));
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t(3);
    const int bandRows = width >= 148 ? 12 : 24;
    const uint64_t pixelSize = rows * stride;
    if (rows < static_cast<uint64_t>(bandRows)) return false;
    if (sizeImage != 0 && sizeImage < pixelSize) return false;
    if (offBits < sizeof headers) return false;
    if (std::fseek(in.get(), 0, SEEK_END) != 0) return false;
    long fileSize = std::ftell(in.get());
    if (fileSize < 0 || static_cast<uint64_t>(fileSize) < offBits + pixelSize) return false;
    if (std::fseek(in.get(), sizeof headers, SEEK_SET) != 0) return false;

    // The band, bottom row first like the picture.
    std::vector<uint8_t> band(static_cast<size_t>(bandRows) * stride, 0);
    std::tm tm = LocalTime(captureTime.Seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    const bool twoLines = bandRows == 24;
    size_t x = 0;
    int r = twoLines ? 12 : 0;
    for (int i = 0; i < 19 && text[i]; ++i) {
        if (i == 10) {
            if (twoLines) {
                x = 0;
                r = 0;
            } else {
                x += 12;
            }
            continue;
        }
        int glyph = (i == 4 || i == 7) ? kSlash : (i == 13 || i == 16) ? kColon : text[i] - '0';
        if (glyph < 0 || glyph > 11) glyph = 0;
        DrawGlyph(band, stride, bandRows, glyph, x, r);
        x += 24;
    }

    File out(std::fopen(dst.c_str(), "wb"));
    if (!out) return false;
    const uint64_t bandBytes = band.size();
    bool ok = std::fwrite(headers, 1, sizeof headers, out.get()) == sizeof headers;
    // Whatever lies between the headers and the pixels (bit masks, a gap) goes over unchanged.
    ok = ok && CopyBytes(in.get(), out.get(), offBits - sizeof headers);
    std::vector<uint8_t> top(band.size());
    auto lay = [&](bool rowsBottomFirst) {
        for (int br = 0; br < bandRows; ++br) {
            size_t row =
                rowsBottomFirst ? static_cast<size_t>(br) : static_cast<size_t>(bandRows - 1 - br);
            const uint8_t* b = band.data() + static_cast<size_t>(br) * stride;
            uint8_t* p = top.data() + row * stride;
            for (size_t px = 0; px + 3 <= static_cast<size_t>(width) * 3; px += 3) {
                if (b[px] | b[px + 1] | b[px + 2]) {
                    p[px] = b[px];
                    p[px + 1] = b[px + 1];
                    p[px + 2] = b[px + 2];
                }
            }
        }
    };
    if (bottomUp) {
        // The last rows of a bottom-up picture are its top rows.
        ok = ok && CopyBytes(in.get(), out.get(), pixelSize - bandBytes);
        ok = ok && std::fread(top.data(), 1, top.size(), in.get()) == top.size();
        if (ok) lay(true);
        ok = ok && std::fwrite(top.data(), 1, top.size(), out.get()) == top.size();
    } else {
        ok = ok && std::fread(top.data(), 1, top.size(), in.get()) == top.size();
        if (ok) lay(false);
        ok = ok && std::fwrite(top.data(), 1, top.size(), out.get()) == top.size();
        ok = ok && CopyBytes(in.get(), out.get(), pixelSize - bandBytes);
    }
    std::FILE* f = out.release();
    ok = (std::fflush(f) == 0) && ok;
    ok = (std::fclose(f) == 0) && ok;
    return ok;
}

}  // namespace

uint8_t StampGlyphPixel(int glyph, int row, int column) {
    if (glyph < 0 || glyph > 11 || row < 0 || row >= kGlyphHeight || column < 0 ||
        column >= kGlyphWidth)
        return 0;
    char c = kFontRows[row][glyph * (kGlyphWidth + 1) + column];
    return c == 'W' ? 255 : c == 'g' ? 64 : 0;
}

bool StampTime(const std::string& src, const std::string& dst, const WallTime& captureTime) {
    if (Stamp(src, dst, captureTime)) return true;
    std::remove(dst.c_str());
    return false;
}

}  // namespace qv::engine
