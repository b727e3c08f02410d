#include "MotionReference.h"

#include <algorithm>
#include <cstdlib>

namespace qv::core::reference {
namespace {

int Weight(int v) {
    return v * v / 8192;
}

// R, G, B of one 16-bit pixel, each scaled to 8 bits.
void Rgb16(int p, bool is565, int rgb[3]) {
    if (is565)
        rgb[0] = (p >> 11) * 8, rgb[1] = ((p >> 5) & 63) * 4;
    else
        rgb[0] = ((p >> 10) & 31) * 8, rgb[1] = ((p >> 5) & 31) * 8;
    rgb[2] = (p & 31) * 8;
}

// R, G, B of one YUV pixel (u and v already minus 128).
void YuvToRgb(int y, int u, int v, int rgb[3]) {
    rgb[0] = static_cast<int>(y + 1.402 * v);
    rgb[1] = static_cast<int>(y - 0.344 * u - 0.714 * v);
    rgb[2] = static_cast<int>(y + 1.772 * u);
}

}  // namespace

uint64_t MeasureDifference(FrameLayout layout, const uint8_t* f, const uint8_t* r, uint8_t* o,
                           size_t length) {
    uint64_t s = 0;
    // Doubled channel differences, capped at 255, each weighing into the sum.
    auto differ = [&s](int a, int b) {
        const int d = std::min(255, 2 * std::abs(a - b));
        s += Weight(d);
        return d;
    };
    // Every byte but the last.
    if (layout == FrameLayout::RawBytes) {
        for (size_t i = 0; i + 1 < length; ++i) o[i] = static_cast<uint8_t>(differ(f[i], r[i]));
        return s;
    }
    if (layout == FrameLayout::Rgb565 || layout == FrameLayout::Rgb555) {
        const bool is565 = layout == FrameLayout::Rgb565;
        for (size_t i = 0; i < length / 2; ++i) {
            int a[3], b[3], d[3];
            Rgb16(f[2 * i] | (f[2 * i + 1] << 8), is565, a);
            Rgb16(r[2 * i] | (r[2 * i + 1] << 8), is565, b);
            for (int c = 0; c < 3; ++c) d[c] = differ(a[c], b[c]);
            const int out = is565 ? ((d[0] & 0xF8) << 8) | ((d[1] & 0xFC) << 3) | (d[2] >> 3)
                                  : ((d[0] & 0xF8) << 7) | ((d[1] & 0xF8) << 2) | (d[2] >> 3);
            o[2 * i] = static_cast<uint8_t>(out);
            o[2 * i + 1] = static_cast<uint8_t>(out >> 8);
        }
        return s;
    }
    // Packed YUV (in doubles): Y' of both pixels, U' and V' of the first.
    const bool uyvy = layout == FrameLayout::Uyvy;
    const int iy[2] = {uyvy ? 1 : 0, uyvy ? 3 : 2}, iu = uyvy ? 0 : 1, iv = uyvy ? 2 : 3;
    for (size_t g = 0; g < length / 4; ++g) {
        const uint8_t *fg = f + 4 * g, *rg = r + 4 * g;
        uint8_t* og = o + 4 * g;
        for (int k = 0; k < 2; ++k) {
            int a[3], b[3], d[3];
            YuvToRgb(fg[iy[k]], fg[iu] - 128, fg[iv] - 128, a);
            YuvToRgb(rg[iy[k]], rg[iu] - 128, rg[iv] - 128, b);
            for (int c = 0; c < 3; ++c) d[c] = differ(a[c], b[c]);
            og[iy[k]] =
                static_cast<uint8_t>(static_cast<int>(0.299 * d[0] + 0.587 * d[1] + 0.114 * d[2]));
            if (k > 0) continue;
            og[iu] = static_cast<uint8_t>(
                128 - static_cast<int>(0.169 * d[0] + 0.331 * d[1] - 0.5 * d[2]));
            og[iv] = static_cast<uint8_t>(
                128 - static_cast<int>(0.419 * d[1] + 0.081 * d[2] - 0.5 * d[0]));
        }
    }
    return s;
}

}  // namespace qv::core::reference
