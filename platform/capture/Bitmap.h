// What every BMP the program writes shares: the 14-byte file header, the 40-byte information
// header and its compression codes, little-endian, and the one YUV to RGB conversion of camera
// pictures. Header-only, so the modules that only write pictures need not link the capture layer.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace qv::bitmap {

inline void Put16(uint8_t* at, uint16_t v) {
    at[0] = static_cast<uint8_t>(v);
    at[1] = static_cast<uint8_t>(v >> 8);
}

inline void Put32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The file header of a BMP whose headers after it (information header, colour masks or
// table) take headerBytes and whose pixels take pixelBytes.
inline std::array<uint8_t, 14> FileHeader(uint32_t headerBytes, uint32_t pixelBytes) {
    std::array<uint8_t, 14> h{'B', 'M'};
    Put32(&h[2], 14 + headerBytes + pixelBytes);
    Put32(&h[10], 14 + headerBytes);
    return h;
}

// Compression codes: plain rows, 16/32-bit colour masks, and the packed YUV frames cameras send.
inline constexpr uint32_t kRgb = 0;
inline constexpr uint32_t kBitfields = 3;
inline constexpr uint32_t kYuy2 = 0x32595559u;  // 'Y','U','Y','2'
inline constexpr uint32_t kUyvy = 0x59565955u;  // 'U','Y','V','Y'

// The 40-byte information header, laid out as in the file on a little-endian host (the core
// library's BITMAPINFOHEADER has the same layout and is copied from it).
struct Info {
    uint32_t Size = 40;
    int32_t Width = 0;
    int32_t Height = 0;
    uint16_t Planes = 1;
    uint16_t BitCount = 0;
    uint32_t Compression = 0;
    uint32_t SizeImage = 0;
    int32_t XPelsPerMeter = 0;
    int32_t YPelsPerMeter = 0;
    uint32_t ClrUsed = 0;
    uint32_t ClrImportant = 0;
    bool operator==(const Info&) const = default;
};
static_assert(sizeof(Info) == 40, "the information header is 40 bytes");

// The header's bytes as a file holds them, whatever the host's byte order.
inline std::array<uint8_t, 40> Bytes(const Info& info) {
    std::array<uint8_t, 40> h{};
    Put32(&h[0], info.Size);
    Put32(&h[4], static_cast<uint32_t>(info.Width));
    Put32(&h[8], static_cast<uint32_t>(info.Height));
    Put16(&h[12], info.Planes);
    Put16(&h[14], info.BitCount);
    Put32(&h[16], info.Compression);
    Put32(&h[20], info.SizeImage);
    Put32(&h[24], static_cast<uint32_t>(info.XPelsPerMeter));
    Put32(&h[28], static_cast<uint32_t>(info.YPelsPerMeter));
    Put32(&h[32], info.ClrUsed);
    Put32(&h[36], info.ClrImportant);
    return h;
}

// The information header of a picture; sizeImage 0 is allowed for uncompressed pictures.
inline std::array<uint8_t, 40> InfoHeader(int32_t width, int32_t height, uint16_t bitCount,
                                          uint32_t compression, uint32_t sizeImage,
                                          uint32_t coloursUsed = 0) {
    Info info;
    info.Width = width;
    info.Height = height;
    info.BitCount = bitCount;
    info.Compression = compression;
    info.SizeImage = sizeImage;
    info.ClrUsed = coloursUsed;
    return Bytes(info);
}

// Full-range BT.601 (as JPEG cameras send it) to blue, green, red.
inline void YuvToBgr(int y, int u, int v, uint8_t* bgr) {
    auto clamp = [](int c) { return static_cast<uint8_t>(std::clamp(c, 0, 255)); };
    u -= 128;
    v -= 128;
    bgr[0] = clamp(y + ((1815 * u) >> 10));
    bgr[1] = clamp(y - ((352 * u + 731 * v) >> 10));
    bgr[2] = clamp(y + ((1436 * v) >> 10));
}

}  // namespace qv::bitmap
