// What every BMP the program writes shares: the 14-byte file header, the 40-byte information
// header, little-endian, and the one YUV to RGB conversion of camera pictures. Header-only, so
// the modules that only write pictures need not link the capture layer.
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

// The 40-byte information header; sizeImage 0 is left 0 (allowed for uncompressed pictures).
inline std::array<uint8_t, 40> InfoHeader(int32_t width, int32_t height, uint16_t bitCount,
                                          uint32_t compression, uint32_t sizeImage,
                                          uint32_t coloursUsed = 0) {
    std::array<uint8_t, 40> h{};
    Put32(&h[0], 40);
    Put32(&h[4], static_cast<uint32_t>(width));
    Put32(&h[8], static_cast<uint32_t>(height));
    Put16(&h[12], 1);
    Put16(&h[14], bitCount);
    Put32(&h[16], compression);
    Put32(&h[20], sizeImage);
    Put32(&h[32], coloursUsed);
    return h;
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
