// Every motion kernel set this processor runs against the plain arithmetic (exhaustively for
// the byte, 16-bit pixel and YUV sample values), and the level figures.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "Motion.h"
#include "MotionKernels.h"
#include "MotionReference.h"

namespace qv::core {
namespace {

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
    const uint64_t sum =
        reference::MeasureDifference(layout, frame.data(), ref.data(), expected.data(), n);
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
