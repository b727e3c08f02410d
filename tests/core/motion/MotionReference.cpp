#include "MotionReference.h"

#include <algorithm>
#include <cstdlib>

namespace qv::core::reference {
namespace {

int WeightOf(int v) {
    return v * v / 8192;
}
int Doubled(int a, int b) {
    return std::min(255, 2 * std::abs(a - b));
}

// R, G, B of one YUV pixel (u and v already minus 128).
void YuvToRgb(int y, int u, int v, int rgb[3]) {
    rgb[0] = static_cast<int>(y + 1.402 * v);
    rgb[1] = static_cast<int>(y - 0.344 * u - 0.714 * v);
    rgb[2] = static_cast<int>(y + 1.772 * u);
}

// Y', U', V' of the difference picture from the channel differences of a pixel.
int OutLuma(int vr, int vg, int vb) {
    return static_cast<int>(0.299 * vr + 0.587 * vg + 0.114 * vb);
}
int OutU(int vr, int vg, int vb) {
    return 128 - static_cast<int>(0.169 * vr + 0.331 * vg - 0.5 * vb);
}
int OutV(int vr, int vg, int vb) {
    return 128 - static_cast<int>(0.419 * vg + 0.081 * vb - 0.5 * vr);
}

}  // namespace

uint64_t MeasureDifference(FrameLayout layout, const uint8_t* f, const uint8_t* r, uint8_t* o,
                           size_t length) {
    uint64_t s = 0;
    switch (layout) {
        case FrameLayout::RawBytes:
            if (length < 2) return 0;
            for (size_t i = 0; i + 1 < length; ++i) {
                const int v = Doubled(f[i], r[i]);
                o[i] = static_cast<uint8_t>(v);
                s += WeightOf(v);
            }
            return s;
        case FrameLayout::Rgb565:
        case FrameLayout::Rgb555: {
            const bool is565 = layout == FrameLayout::Rgb565;
            for (size_t i = 0; i < length / 2; ++i) {
                const int p = f[2 * i] | (f[2 * i + 1] << 8);
                const int q = r[2 * i] | (r[2 * i + 1] << 8);
                int pr, pg, pb, qr, qg, qb;
                if (is565) {
                    pr = (p >> 11) * 8, pg = ((p >> 5) & 63) * 4, pb = (p & 31) * 8;
                    qr = (q >> 11) * 8, qg = ((q >> 5) & 63) * 4, qb = (q & 31) * 8;
                } else {
                    pr = ((p >> 10) & 31) * 8, pg = ((p >> 5) & 31) * 8, pb = (p & 31) * 8;
                    qr = ((q >> 10) & 31) * 8, qg = ((q >> 5) & 31) * 8, qb = (q & 31) * 8;
                }
                const int vr = Doubled(pr, qr), vg = Doubled(pg, qg), vb = Doubled(pb, qb);
                s += WeightOf(vr) + WeightOf(vg) + WeightOf(vb);
                const int out = is565 ? ((vr & 0xF8) << 8) | ((vg & 0xFC) << 3) | (vb >> 3)
                                      : ((vr & 0xF8) << 7) | ((vg & 0xF8) << 2) | (vb >> 3);
                o[2 * i] = static_cast<uint8_t>(out);
                o[2 * i + 1] = static_cast<uint8_t>(out >> 8);
            }
            return s;
        }
        case FrameLayout::Yuy2:
        case FrameLayout::Uyvy: {
            const bool uyvy = layout == FrameLayout::Uyvy;
            const int iy0 = uyvy ? 1 : 0, iu = uyvy ? 0 : 1, iy1 = uyvy ? 3 : 2, iv = uyvy ? 2 : 3;
            for (size_t g = 0; g < length / 4; ++g) {
                const uint8_t* fg = f + 4 * g;
                const uint8_t* rg = r + 4 * g;
                uint8_t* og = o + 4 * g;
                for (int k = 0; k < 2; ++k) {
                    int a[3], b[3];
                    YuvToRgb(fg[k ? iy1 : iy0], fg[iu] - 128, fg[iv] - 128, a);
                    YuvToRgb(rg[k ? iy1 : iy0], rg[iu] - 128, rg[iv] - 128, b);
                    const int vr = Doubled(a[0], b[0]), vg = Doubled(a[1], b[1]),
                              vb = Doubled(a[2], b[2]);
                    s += WeightOf(vr) + WeightOf(vg) + WeightOf(vb);
                    og[k ? iy1 : iy0] = static_cast<uint8_t>(OutLuma(vr, vg, vb));
                    if (k == 0) {
                        og[iu] = static_cast<uint8_t>(OutU(vr, vg, vb));
                        og[iv] = static_cast<uint8_t>(OutV(vr, vg, vb));
                    }
                }
            }
            return s;
        }
    }
    return s;
}

}  // namespace qv::core::reference
