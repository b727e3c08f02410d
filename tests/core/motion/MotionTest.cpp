// Every motion kernel set this processor runs against the plain arithmetic (exhaustively for
// the byte, 16-bit pixel and YUV sample values), and the level figures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "Motion.h"
#include "MotionKernels.h"

namespace qv::core {
namespace {

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

// The measurement written out plainly, one value at a time, in the arithmetic the difference
// picture is defined by (doubles for packed YUV). The fast kernels must give exactly these
// bytes and sums.
uint64_t Reference(FrameLayout layout, const uint8_t* f, const uint8_t* r, uint8_t* o,
                   size_t length) {
    uint64_t s = 0;
    // Doubled channel differences, capped at 255, each weighing into the sum.
    auto differ = [&s](int a, int b) {
        const int d = std::min(255, 2 * std::abs(a - b));
        s += d * d / 8192;
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

using motion::Isa;
using Bytes = std::vector<uint8_t>;
constexpr FrameLayout kLayouts[] = {FrameLayout::RawBytes, FrameLayout::Rgb565, FrameLayout::Rgb555,
                                    FrameLayout::Yuy2, FrameLayout::Uyvy};

// Runs every kernel set and the reference on copies placed at misalignments from the shift,
// with the output pre-filled so untouched bytes are compared too.
void ExpectSame(FrameLayout layout, const Bytes& frame, const Bytes& ref, size_t shift,
                const std::string& what) {
    const size_t n = frame.size();
    Bytes fb(n + 64), rb(n + 64), ob(n + 64), expected(n, 0xA5);
    const uint64_t sum = Reference(layout, frame.data(), ref.data(), expected.data(), n);
    for (Isa isa : {Isa::Scalar, Isa::Avx2}) {
        if (!motion::IsaAvailable(isa)) continue;
        uint8_t *f = fb.data() + shift, *r = rb.data() + (shift * 7 + 3) % 32,
                *o = ob.data() + (shift * 5 + 1) % 32;
        std::copy(frame.begin(), frame.end(), f);
        std::copy(ref.begin(), ref.end(), r);
        std::fill(o, o + n, 0xA5);
        const std::string where = what + " isa " + std::to_string(int(isa)) + " layout " +
                                  std::to_string(int(layout)) + " n=" + std::to_string(n);
        ASSERT_EQ(motion::MeasureDifferenceWith(isa, layout, f, r, o, n), sum) << where;
        const auto diff = std::mismatch(o, o + n, expected.begin());
        ASSERT_EQ(diff.first, o + n) << where << " byte " << (diff.first - o);
    }
}

TEST(MotionKernel, EveryBytePairAndEverySixteenBitPixel) {
    Bytes frame(65536 + 1), ref(65536 + 1);
    for (int i = 0; i < 65536; ++i) frame[i] = uint8_t(i >> 8), ref[i] = uint8_t(i);
    for (FrameLayout l : {FrameLayout::RawBytes, FrameLayout::Rgb565, FrameLayout::Rgb555})
        ExpectSame(l, frame, ref, 0, "byte pairs");
    // All 16-bit pixels against a spread of references covers every field difference.
    frame.resize(2 * 65536);
    ref.resize(2 * 65536);
    for (uint32_t refPixel : {0x0000u, 0xFFFFu, 0x8410u, 0x7BEFu, 0x1234u}) {
        for (uint32_t p = 0; p < 65536; ++p) {
            frame[2 * p] = uint8_t(p), frame[2 * p + 1] = uint8_t(p >> 8);
            ref[2 * p] = uint8_t(refPixel), ref[2 * p + 1] = uint8_t(refPixel >> 8);
        }
        ExpectSame(FrameLayout::Rgb565, frame, ref, 1, "pixels");
        ExpectSame(FrameLayout::Rgb555, frame, ref, 1, "pixels");
    }
}

TEST(MotionKernel, EveryYuvSampleInBothByteOrders) {
    // For each U: every (V, Y) as pixel 0 (and 255 - Y as pixel 1), against references that
    // run through the other values, so the differences vary as widely as the samples.
    Bytes frame(256 * 256 * 4), ref(frame.size());
    for (FrameLayout layout : {FrameLayout::Yuy2, FrameLayout::Uyvy})
        for (int u = 0; u < 256; ++u) {
            for (size_t g = 0; g < 65536; ++g) {
                const int v = int(g >> 8), y = int(g & 255);
                const uint8_t f4[4] = {uint8_t(y), uint8_t(u), uint8_t(255 - y), uint8_t(v)};
                const uint8_t r4[4] = {uint8_t(v), uint8_t(u * 97 + 31), uint8_t(255 - v),
                                       uint8_t(y)};
                // YUY2 is Y0 U Y1 V; UYVY is U Y0 V Y1.
                for (int k = 0; k < 4; ++k) {
                    const int at = layout == FrameLayout::Uyvy ? (k ^ 1) : k;
                    frame[4 * g + at] = f4[k], ref[4 * g + at] = r4[k];
                }
            }
            ExpectSame(layout, frame, ref, 0, "U=" + std::to_string(u));
        }
}

TEST(MotionKernel, RandomFramesOfOddSizesAndAlignments) {
    std::mt19937 rng(12345);
    for (size_t n : {0,  1,  2,  3,  4,   5,   7,    8,    15,        17,       31,
                     33, 63, 65, 67, 127, 257, 1025, 4099, 16384 + 7, 65536 + 5}) {
        // Runs of another scene, sensor noise, a luma step on even bytes and the same bytes.
        Bytes frame(n), ref(n);
        for (size_t i = 0; i < n; ++i) {
            const int b = frame[i] = uint8_t(rng()), kind = int((i / 7 + n) % 4);
            ref[i] = kind == 0   ? uint8_t(rng())
                     : kind == 1 ? uint8_t(std::clamp(b + int(rng() % 9) - 4, 0, 255))
                     : kind == 2 ? uint8_t(i % 2 ? b : std::min(255, b + 37))
                                 : uint8_t(b);
        }
        for (FrameLayout l : kLayouts)
            for (size_t shift : {0, 1, 3}) ExpectSame(l, frame, ref, shift, "random");
    }
    // The same frame twice gives nothing.
    Bytes same(1000, 77), out(1000);
    for (FrameLayout l : kLayouts)
        EXPECT_EQ(MeasureDifference(l, same.data(), same.data(), out.data(), 1000), 0u);
}

// level = S / D - D with D = (w * h * 3) >> 15 (at least 1 to divide by), within 0..65535; a
// top-down format (negative height) gives a negative offset.
TEST(MotionLevel, OffsetAndDivisorFollowTheFrameSize) {
    // clang-format off
    struct Case { uint64_t sum; int w, h, level; } cases[] = {
        {0, 160, 120, 0}, {1000, 160, 120, 999}, {2000, 176, 144, 998}, {7000, 320, 240, 993},
        {28000, 640, 480, 972}, {28027, 640, 480, 972}, {27, 640, 480, 0}, {500, 8, 8, 500},
        {uint64_t(1) << 40, 640, 480, 65535}, {100, 320, -240, 108},
    };
    // clang-format on
    for (const Case& c : cases) EXPECT_EQ(MotionLevel(c.sum, c.w, c.h), c.level) << c.sum;
}

}  // namespace
}  // namespace qv::core
