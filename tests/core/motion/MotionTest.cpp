// The fast motion kernels against the plain arithmetic, and the level figures.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "Motion.h"
#include "MotionKernels.h"
#include "MotionReference.h"
#include "QuorCore.h"

namespace {

using qv::core::FrameLayout;
using qv::core::motion::Isa;

std::vector<Isa> Isas() {
    std::vector<Isa> isas{Isa::Scalar};
    if (qv::core::motion::IsaAvailable(Isa::Avx2)) isas.push_back(Isa::Avx2);
    return isas;
}

const char* Name(Isa isa) {
    return isa == Isa::Avx2 ? "avx2" : "scalar";
}

const char* Name(FrameLayout l) {
    switch (l) {
        case FrameLayout::RawBytes:
            return "raw";
        case FrameLayout::Rgb565:
            return "565";
        case FrameLayout::Rgb555:
            return "555";
        case FrameLayout::Yuy2:
            return "yuy2";
        case FrameLayout::Uyvy:
            return "uyvy";
    }
    return "?";
}

constexpr FrameLayout kLayouts[] = {FrameLayout::RawBytes, FrameLayout::Rgb565, FrameLayout::Rgb555,
                                    FrameLayout::Yuy2, FrameLayout::Uyvy};

// Runs one kernel and the reference on copies placed at the given misalignments, with the
// output pre-filled so untouched bytes are compared too.
void ExpectSame(Isa isa, FrameLayout layout, const std::vector<uint8_t>& frame,
                const std::vector<uint8_t>& ref, size_t shift, const std::string& what) {
    const size_t n = frame.size();
    std::vector<uint8_t> fb(n + 64), rb(n + 64), ob(n + 64), eb(n + 64, 0xA5);
    uint8_t* f = fb.data() + shift;
    uint8_t* r = rb.data() + (shift * 7 + 3) % 32;
    uint8_t* o = ob.data() + (shift * 5 + 1) % 32;
    std::copy(frame.begin(), frame.end(), f);
    std::copy(ref.begin(), ref.end(), r);
    std::fill(o, o + n, 0xA5);
    const uint64_t expected =
        qv::core::reference::MeasureDifference(layout, frame.data(), ref.data(), eb.data(), n);
    const uint64_t got = qv::core::motion::MeasureDifferenceWith(isa, layout, f, r, o, n);
    ASSERT_EQ(got, expected) << what << " " << Name(isa) << " " << Name(layout) << " n=" << n;
    for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(o[i], eb[i]) << what << " " << Name(isa) << " " << Name(layout) << " n=" << n
                               << " byte " << i;
    }
}

TEST(MotionKernel, EveryByteDifferenceMatchesThePlainArithmetic) {
    // Every (frame, reference) byte pair once, through the raw and the 16-bit paths.
    std::vector<uint8_t> frame(65536 + 1), ref(65536 + 1);
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            frame[a * 256 + b] = static_cast<uint8_t>(a);
            ref[a * 256 + b] = static_cast<uint8_t>(b);
        }
    }
    for (Isa isa : Isas()) {
        for (FrameLayout l : {FrameLayout::RawBytes, FrameLayout::Rgb565, FrameLayout::Rgb555}) {
            ExpectSame(isa, l, frame, ref, 0, "all pairs");
        }
    }
}

TEST(MotionKernel, EveryPixelPairOfSixteenBitFormats) {
    // All 16-bit pixels against a spread of references covers every field difference.
    std::vector<uint8_t> frame(2 * 65536), ref(2 * 65536);
    for (uint32_t refPixel : {0x0000u, 0xFFFFu, 0x8410u, 0x7BEFu, 0x1234u}) {
        for (uint32_t p = 0; p < 65536; ++p) {
            frame[2 * p] = static_cast<uint8_t>(p);
            frame[2 * p + 1] = static_cast<uint8_t>(p >> 8);
            ref[2 * p] = static_cast<uint8_t>(refPixel);
            ref[2 * p + 1] = static_cast<uint8_t>(refPixel >> 8);
        }
        for (Isa isa : Isas()) {
            ExpectSame(isa, FrameLayout::Rgb565, frame, ref, 1, "all pixels");
            ExpectSame(isa, FrameLayout::Rgb555, frame, ref, 1, "all pixels");
        }
    }
}

TEST(MotionKernel, EveryFieldPairOfSixteenBitFormats) {
    // Red and blue are compared byte-wise in place and green in its own lane: every pair of
    // values of one field, with random values in the other fields (which must not leak
    // into it, in either direction of the difference).
    struct Field {
        FrameLayout layout;
        int shift, bits;
    };
    const Field fields[] = {{FrameLayout::Rgb565, 11, 5}, {FrameLayout::Rgb565, 5, 6},
                            {FrameLayout::Rgb565, 0, 5},  {FrameLayout::Rgb555, 10, 5},
                            {FrameLayout::Rgb555, 5, 5},  {FrameLayout::Rgb555, 0, 5}};
    std::mt19937 rng(99);
    for (const Field& fd : fields) {
        const int n = 1 << fd.bits;
        const unsigned mask = unsigned(n - 1) << fd.shift;
        std::vector<uint8_t> frame(2 * n * n), ref(2 * n * n);
        for (int x = 0; x < n; ++x) {
            for (int y = 0; y < n; ++y) {
                const size_t p = size_t(x) * n + y;
                const unsigned a = (rng() & ~mask & 0xFFFF) | (unsigned(x) << fd.shift);
                const unsigned b = (rng() & ~mask & 0xFFFF) | (unsigned(y) << fd.shift);
                frame[2 * p] = uint8_t(a), frame[2 * p + 1] = uint8_t(a >> 8);
                ref[2 * p] = uint8_t(b), ref[2 * p + 1] = uint8_t(b >> 8);
            }
        }
        for (Isa isa : Isas()) {
            ExpectSame(isa, fd.layout, frame, ref, 2,
                       "field pairs shift " + std::to_string(fd.shift));
        }
    }
}

TEST(MotionKernel, YuvToRgbIsExactForEverySample) {
    // Every (Y, U, V) for pixel 0, and a different Y for pixel 1, in both byte orders.
    std::vector<uint8_t> groups(256 * 256 * 4);
    std::vector<int16_t> rgb(256 * 256 * 6);
    for (FrameLayout layout : {FrameLayout::Yuy2, FrameLayout::Uyvy}) {
        const bool uyvy = layout == FrameLayout::Uyvy;
        for (Isa isa : Isas()) {
            long mismatches = 0;
            for (int u = 0; u < 256; ++u) {
                size_t g = 0;
                for (int v = 0; v < 256; ++v) {
                    for (int y = 0; y < 256; ++y, ++g) {
                        uint8_t* p = &groups[4 * g];
                        const uint8_t y1 = static_cast<uint8_t>(255 - y);
                        if (uyvy) {
                            p[0] = static_cast<uint8_t>(u), p[1] = static_cast<uint8_t>(y),
                            p[2] = static_cast<uint8_t>(v), p[3] = y1;
                        } else {
                            p[0] = static_cast<uint8_t>(y), p[1] = static_cast<uint8_t>(u),
                            p[2] = y1, p[3] = static_cast<uint8_t>(v);
                        }
                    }
                }
                qv::core::motion::YuvToRgbWith(isa, layout, groups.data(), g, rgb.data());
                g = 0;
                for (int v = 0; v < 256; ++v) {
                    for (int y = 0; y < 256; ++y, ++g) {
                        int e0[3], e1[3];
                        qv::core::reference::YuvToRgb(y, u - 128, v - 128, e0);
                        qv::core::reference::YuvToRgb(255 - y, u - 128, v - 128, e1);
                        for (int c = 0; c < 3; ++c) {
                            if (rgb[6 * g + c] != e0[c] || rgb[6 * g + 3 + c] != e1[c]) {
                                if (++mismatches < 5) {
                                    ADD_FAILURE() << Name(isa) << " Y=" << y << " U=" << u
                                                  << " V=" << v << " channel " << c;
                                }
                            }
                        }
                    }
                }
            }
            EXPECT_EQ(mismatches, 0) << Name(isa) << " " << Name(layout);
        }
    }
}

TEST(MotionKernel, DifferencePictureIsExactForEveryChannelTriple) {
    // Every (vr, vg, vb) as pixel 0 (Y', U', V') and, rotated, as pixel 1 (Y').
    const size_t groups = 256 * 256;
    std::vector<uint8_t> vr(2 * groups), vg(2 * groups), vb(2 * groups), out(4 * groups);
    for (Isa isa : Isas()) {
        long mismatches = 0;
        for (int r = 0; r < 256; ++r) {
            size_t g = 0;
            for (int gg = 0; gg < 256; ++gg) {
                for (int b = 0; b < 256; ++b, ++g) {
                    vr[2 * g] = static_cast<uint8_t>(r), vg[2 * g] = static_cast<uint8_t>(gg),
                           vb[2 * g] = static_cast<uint8_t>(b);
                    vr[2 * g + 1] = static_cast<uint8_t>(b),
                               vg[2 * g + 1] = static_cast<uint8_t>(r),
                               vb[2 * g + 1] = static_cast<uint8_t>(gg);
                }
            }
            qv::core::motion::DifferenceToYuvWith(isa, vr.data(), vg.data(), vb.data(), groups,
                                                  out.data());
            g = 0;
            for (int gg = 0; gg < 256; ++gg) {
                for (int b = 0; b < 256; ++b, ++g) {
                    const uint8_t* o = &out[4 * g];
                    const bool ok = o[0] == qv::core::reference::OutLuma(r, gg, b) &&
                                    o[1] == qv::core::reference::OutU(r, gg, b) &&
                                    o[2] == qv::core::reference::OutLuma(b, r, gg) &&
                                    o[3] == qv::core::reference::OutV(r, gg, b);
                    if (!ok && ++mismatches < 5) {
                        ADD_FAILURE() << Name(isa) << " vr=" << r << " vg=" << gg << " vb=" << b;
                    }
                }
            }
        }
        EXPECT_EQ(mismatches, 0) << Name(isa);
        // Grey differences (a change of brightness alone) fill whole blocks in real frames.
        for (int v = 0; v < 256; ++v) {
            vr[v] = vg[v] = vb[v] = static_cast<uint8_t>(v);
            vr[256 + v] = vg[256 + v] = vb[256 + v] = static_cast<uint8_t>(255 - v);
        }
        qv::core::motion::DifferenceToYuvWith(isa, vr.data(), vg.data(), vb.data(), 256,
                                              out.data());
        for (int k = 0; k < 512; ++k) {
            const int v = vr[k];
            EXPECT_EQ(out[4 * (k / 2) + 2 * (k % 2)], qv::core::reference::OutLuma(v, v, v))
                << Name(isa) << " grey " << v;
        }
    }
}

// Frames of several kinds: noise, a small change of a noisy scene, a change of brightness
// alone, a flat frame, and frames that differ only in a few places.
std::vector<uint8_t> Scene(std::mt19937& rng, size_t n) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

TEST(MotionKernel, RandomFramesOfOddSizesAndAlignments) {
    std::mt19937 rng(12345);
    const size_t sizes[] = {0,   1,   2,   3,   4,    5,    6,    7,         8,        15,
                            16,  17,  31,  32,  33,   63,   64,   65,        66,       67,
                            127, 129, 255, 257, 1023, 1025, 4099, 16384 + 7, 65536 + 5};
    for (size_t n : sizes) {
        for (int kind = 0; kind < 5; ++kind) {
            std::vector<uint8_t> frame = Scene(rng, n), ref = frame;
            switch (kind) {
                case 0:
                    ref = Scene(rng, n);
                    break;
                case 1:  // sensor noise of a few steps
                    for (auto& b : ref) {
                        b = static_cast<uint8_t>(std::clamp(int(b) + int(rng() % 9) - 4, 0, 255));
                    }
                    break;
                case 2:  // brightness alone: luma bytes of YUY2 move, chroma stays
                    for (size_t i = 0; i < n; i += 2) {
                        ref[i] = static_cast<uint8_t>(std::clamp(int(ref[i]) + 37, 0, 255));
                    }
                    break;
                case 3:
                    std::fill(frame.begin(), frame.end(), 0x80);
                    std::fill(ref.begin(), ref.end(), 0x10);
                    break;
                case 4:  // a few changed spots
                    for (size_t k = 0; k < n / 50 + 1 && n > 0; ++k) ref[rng() % n] ^= 0xC0;
                    break;
            }
            for (Isa isa : Isas()) {
                for (FrameLayout l : kLayouts) {
                    for (size_t shift : {size_t{0}, size_t{1}, size_t{3}}) {
                        ExpectSame(isa, l, frame, ref, shift, "kind " + std::to_string(kind));
                    }
                }
            }
        }
    }
}

TEST(MotionKernel, IdenticalFramesGiveNothing) {
    std::mt19937 rng(7);
    const std::vector<uint8_t> frame = Scene(rng, 320 * 240 * 3);
    std::vector<uint8_t> out(frame.size(), 0x55);
    for (FrameLayout l : kLayouts) {
        EXPECT_EQ(
            qv::core::MeasureDifference(l, frame.data(), frame.data(), out.data(), frame.size()),
            0u)
            << Name(l);
    }
    // Raw and RGB difference pictures of a still scene are black; the last raw byte is not
    // compared, so it keeps what the output held.
    std::fill(out.begin(), out.end(), 0x55);
    qv::core::MeasureDifference(FrameLayout::RawBytes, frame.data(), frame.data(), out.data(),
                                frame.size());
    EXPECT_TRUE(std::all_of(out.begin(), out.end() - 1, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(out.back(), 0x55);
}

TEST(MotionKernel, SmallDifferencesWeighNothing) {
    // Every byte 40 apart: v = 80 weighs 0.
    std::vector<uint8_t> frame(320 * 240 * 3, 100), ref(frame.size(), 140), out(frame.size());
    EXPECT_EQ(qv::core::MeasureDifference(FrameLayout::RawBytes, frame.data(), ref.data(),
                                          out.data(), frame.size()),
              0u);
    EXPECT_EQ(out[0], 80);
}

TEST(MotionLevel, TenThousandChangedBytesOf320x240GiveLevel9993) {
    std::vector<uint8_t> frame(320 * 240 * 3, 10), ref(frame.size(), 10), out(frame.size());
    for (size_t i = 0; i < 10000; ++i) frame[i * 23] = 10 + 120 + (i % 100);
    const uint64_t sum = qv::core::MeasureDifference(FrameLayout::RawBytes, frame.data(),
                                                     ref.data(), out.data(), frame.size());
    EXPECT_EQ(sum, 70000u);
    EXPECT_EQ(qv::core::MotionLevel(sum, 320, 240), 9993);
}

TEST(MotionLevel, OffsetAndDivisorFollowTheFrameSize) {
    // level = S / D - D with D = (w * h * 3) >> 15 for the usual camera sizes.
    struct Case {
        int w, h, d;
    };
    for (const Case c : {Case{160, 120, 1}, Case{176, 144, 2}, Case{320, 240, 7}, Case{352, 288, 9},
                         Case{640, 480, 28}}) {
        EXPECT_EQ(qv::core::MotionLevel(0, c.w, c.h), 0) << c.w;
        EXPECT_EQ(qv::core::MotionLevel(uint64_t(c.d) * 1000, c.w, c.h), 1000 - c.d) << c.w;
        EXPECT_EQ(qv::core::MotionLevel(uint64_t(c.d) * 1001 - 1, c.w, c.h), 1000 - c.d) << c.w;
    }
    // Tiny frames divide by 1; results are clamped to 0..65535.
    EXPECT_EQ(qv::core::MotionLevel(500, 8, 8), 500);
    EXPECT_EQ(qv::core::MotionLevel(uint64_t(1) << 40, 640, 480), 65535);
    EXPECT_EQ(qv::core::MotionLevel(27, 640, 480), 0);
    // A top-down format (negative height) gives a negative offset: divisor 1.
    EXPECT_EQ(qv::core::MotionLevel(100, 320, -240), 100 + 8);
}

TEST(MotionClassify, FormatsPickTheirComparison) {
    using qv::core::ClassifyFrame;
    EXPECT_EQ(ClassifyFrame(15, 0), FrameLayout::Rgb555);
    EXPECT_EQ(ClassifyFrame(16, QV_BI_RGB), FrameLayout::Rgb555);
    EXPECT_EQ(ClassifyFrame(16, 4), FrameLayout::Rgb555);  // low two bits clear
    EXPECT_EQ(ClassifyFrame(16, QV_BI_BITFIELDS), FrameLayout::Rgb565);
    EXPECT_EQ(ClassifyFrame(16, QV_FOURCC_YUY2), FrameLayout::Yuy2);
    EXPECT_EQ(ClassifyFrame(16, QV_FOURCC_UYVY), FrameLayout::Uyvy);
    EXPECT_EQ(ClassifyFrame(16, QV_FOURCC('Y', 'V', '1', '2')), FrameLayout::Rgb565);
    EXPECT_EQ(ClassifyFrame(24, 0), FrameLayout::RawBytes);
    EXPECT_EQ(ClassifyFrame(32, 0), FrameLayout::RawBytes);
    EXPECT_EQ(ClassifyFrame(8, 0), FrameLayout::RawBytes);
}

}  // namespace
