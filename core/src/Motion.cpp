// Motion measurement: difference picture and weight sum of one frame against the
// reference. A plain table-driven kernel set runs everywhere; an AVX2 set is picked at
// run time. Both give the same bytes and sums as the double-precision arithmetic the
// measurement is defined by: the packed YUV formulas are computed in integers, and the
// few sample combinations where the double result sits exactly on an integer (and may
// truncate one lower) are handled by evaluating the double formula itself.
#if defined(__x86_64__) || defined(__i386__)
#define QV_MOTION_X86 1
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstdlib>

#include "Motion.h"
#include "MotionKernels.h"
#include "QuorCore.h"

namespace qv::core {

namespace motion {
namespace {

// Floor division by a positive divisor.
constexpr int FloorDiv(int a, int b) {
    const int q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

struct Tables {
    uint8_t weight[256];        // weight of a difference value
    uint8_t doubled[256];       // min(255, 2d) of a byte difference d
    uint8_t weightOfDiff[256];  // weight(min(255, 2d))
    uint8_t weight5[32];        // 5-bit field difference, channel = field x 8
    uint8_t weight6[64];        // 6-bit field difference, channel = field x 4
    int16_t floorR[256];        // floor(1.402 V) by V byte (V = byte - 128)
    int16_t floorB[256];        // floor(1.772 U)
    // Weight by nibbles: weight(v) = base[v >> 4] + ((v & 15) > stepAfter[v >> 4]);
    // every nibble holds at most one step of the weight.
    uint8_t nibbleBase[16];
    uint8_t nibbleStepAfter[16];
    // Grey differences v, v, v whose double luma sum truncates to v - 1.
    uint8_t greyLow[32];
};

Tables BuildTables() {
    Tables t{};
    for (int v = 0; v < 256; ++v) t.weight[v] = static_cast<uint8_t>(v * v / 8192);
    for (int d = 0; d < 256; ++d) {
        const int v = std::min(255, 2 * d);
        t.doubled[d] = static_cast<uint8_t>(v);
        t.weightOfDiff[d] = t.weight[v];
    }
    for (int d = 0; d < 32; ++d) t.weight5[d] = t.weight[std::min(255, 16 * d)];
    for (int d = 0; d < 64; ++d) t.weight6[d] = t.weight[std::min(255, 8 * d)];
    for (int b = 0; b < 256; ++b) {
        t.floorR[b] = static_cast<int16_t>(FloorDiv(1402 * (b - 128), 1000));
        t.floorB[b] = static_cast<int16_t>(FloorDiv(1772 * (b - 128), 1000));
    }
    for (int h = 0; h < 16; ++h) {
        t.nibbleBase[h] = t.weight[h * 16];
        t.nibbleStepAfter[h] = 15;
        for (int lo = 1; lo < 16; ++lo) {
            if (t.weight[h * 16 + lo] != t.nibbleBase[h]) {
                t.nibbleStepAfter[h] = static_cast<uint8_t>(lo - 1);
                break;
            }
        }
    }
    for (int v = 0; v < 256; ++v) {
        if (static_cast<int>(0.299 * v + 0.587 * v + 0.114 * v) != v) {
            t.greyLow[v >> 3] |= static_cast<uint8_t>(1u << (v & 7));
        }
    }
    return t;
}

const Tables& T() {
    static const Tables tables = BuildTables();
    return tables;
}

// ---- plain kernels ----

uint64_t RawScalar(const uint8_t* f, const uint8_t* r, uint8_t* o, size_t n) {
    const Tables& t = T();
    uint64_t sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const int d = std::abs(f[i] - r[i]);
        o[i] = t.doubled[d];
        sum += t.weightOfDiff[d];
    }
    return sum;
}

template <bool k565>
uint64_t Rgb16Scalar(const uint8_t* f, const uint8_t* r, uint8_t* o, size_t pixels) {
    const Tables& t = T();
    uint64_t sum = 0;
    for (size_t i = 0; i < pixels; ++i) {
        const unsigned p = f[2 * i] | (f[2 * i + 1] << 8);
        const unsigned q = r[2 * i] | (r[2 * i + 1] << 8);
        unsigned out;
        if constexpr (k565) {
            const int dr = std::abs(int(p >> 11) - int(q >> 11));
            const int dg = std::abs(int((p >> 5) & 63) - int((q >> 5) & 63));
            const int db = std::abs(int(p & 31) - int(q & 31));
            sum += t.weight5[dr] + t.weight6[dg] + t.weight5[db];
            out = (std::min(31, 2 * dr) << 11) | (std::min(63, 2 * dg) << 5) | std::min(31, 2 * db);
        } else {
            const int dr = std::abs(int((p >> 10) & 31) - int((q >> 10) & 31));
            const int dg = std::abs(int((p >> 5) & 31) - int((q >> 5) & 31));
            const int db = std::abs(int(p & 31) - int(q & 31));
            sum += t.weight5[dr] + t.weight5[dg] + t.weight5[db];
            out = (std::min(31, 2 * dr) << 10) | (std::min(31, 2 * dg) << 5) | std::min(31, 2 * db);
        }
        o[2 * i] = static_cast<uint8_t>(out);
        o[2 * i + 1] = static_cast<uint8_t>(out >> 8);
    }
    return sum;
}

struct YuvOffsets {
    int y0, u, y1, v;
};
constexpr YuvOffsets kYuy2{0, 1, 2, 3};
constexpr YuvOffsets kUyvy{1, 0, 3, 2};

inline int Green(int y, int u, int v) {
    const int k = 344 * u + 714 * v;
    if (k != 0 && k % 1000 == 0) return static_cast<int>(y - 0.344 * u - 0.714 * v);
    const int t = y + FloorDiv(-k, 1000);
    return t + (t < 0);
}

// R, G, B of both pixels of a group.
inline void GroupRgb(const uint8_t* g, const YuvOffsets& at, int rgb[6]) {
    const Tables& t = T();
    const int ub = g[at.u], vb = g[at.v];
    const int fr = t.floorR[vb], fb = t.floorB[ub];
    const int ys[2] = {g[at.y0], g[at.y1]};
    for (int k = 0; k < 2; ++k) {
        const int y = ys[k];
        const int tr = y + fr, tb = y + fb;
        rgb[3 * k] = tr + (tr < 0);
        rgb[3 * k + 1] = Green(y, ub - 128, vb - 128);
        rgb[3 * k + 2] = tb + (tb < 0);
    }
}

inline int OutY(int vr, int vg, int vb) {
    const int k = 299 * vr + 587 * vg + 114 * vb;
    if (k != 0 && k % 1000 == 0) return static_cast<int>(0.299 * vr + 0.587 * vg + 0.114 * vb);
    return k / 1000;
}

inline int OutU(int vr, int vg, int vb) {
    const int k = 169 * vr + 331 * vg - 500 * vb;
    if (k != 0 && k % 1000 == 0) return 128 - static_cast<int>(0.169 * vr + 0.331 * vg - 0.5 * vb);
    return 128 - k / 1000;
}

inline int OutV(int vr, int vg, int vb) {
    const int k = 419 * vg + 81 * vb - 500 * vr;
    if (k != 0 && k % 1000 == 0) return 128 - static_cast<int>(0.419 * vg + 0.081 * vb - 0.5 * vr);
    return 128 - k / 1000;
}

inline void GroupOutput(const int v[6], const YuvOffsets& at, uint8_t* o) {
    o[at.y0] = static_cast<uint8_t>(OutY(v[0], v[1], v[2]));
    o[at.y1] = static_cast<uint8_t>(OutY(v[3], v[4], v[5]));
    o[at.u] = static_cast<uint8_t>(OutU(v[0], v[1], v[2]));
    o[at.v] = static_cast<uint8_t>(OutV(v[0], v[1], v[2]));
}

uint64_t YuvScalar(const YuvOffsets& at, const uint8_t* f, const uint8_t* r, uint8_t* o,
                   size_t groups) {
    const Tables& t = T();
    uint64_t sum = 0;
    for (size_t i = 0; i < groups; ++i) {
        int a[6], b[6], v[6];
        GroupRgb(f + 4 * i, at, a);
        GroupRgb(r + 4 * i, at, b);
        for (int c = 0; c < 6; ++c) {
            v[c] = std::min(255, 2 * std::abs(a[c] - b[c]));
            sum += t.weight[v[c]];
        }
        GroupOutput(v, at, o + 4 * i);
    }
    return sum;
}

// ---- AVX2 kernels ----

#ifdef QV_MOTION_X86

#define QV_AVX2 __attribute__((target("avx2")))
// The per-block helpers return several vectors: inlined, they stay in registers.
#define QV_AVX2_INLINE QV_AVX2 inline __attribute__((always_inline))

QV_AVX2 inline __m256i Broadcast16(const uint8_t* p) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

QV_AVX2 inline __m256i Load(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

QV_AVX2 inline void Store(uint8_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// Weight of difference values held in bytes (or in the low bytes of 16-bit lanes whose
// high bytes are 0).
QV_AVX2 inline __m256i WeightBytes(__m256i v, __m256i base, __m256i stepAfter) {
    const __m256i nibble = _mm256_set1_epi8(15);
    const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
    const __m256i lo = _mm256_and_si256(v, nibble);
    return _mm256_sub_epi8(_mm256_shuffle_epi8(base, hi),
                           _mm256_cmpgt_epi8(lo, _mm256_shuffle_epi8(stepAfter, hi)));
}

QV_AVX2 inline uint64_t Sum64(__m256i v) {
    alignas(32) uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
    return lanes[0] + lanes[1] + lanes[2] + lanes[3];
}

// Sum of the 16-bit lanes (unsigned).
QV_AVX2 inline uint64_t Sum16(__m256i v) {
    const __m256i s32 = _mm256_madd_epi16(v, _mm256_set1_epi16(1));
    alignas(32) uint32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), s32);
    uint64_t s = 0;
    for (uint32_t x : lanes) s += x;
    return s;
}

QV_AVX2 uint64_t RawAvx2(const uint8_t* f, const uint8_t* r, uint8_t* o, size_t n) {
    const Tables& t = T();
    const __m256i base = Broadcast16(t.nibbleBase);
    const __m256i step = Broadcast16(t.nibbleStepAfter);
    const __m256i zero = _mm256_setzero_si256();
    __m256i total = zero;
    size_t i = 0;
    while (n - i >= 32) {
        // 32 rounds of at most 7 keep every byte of the partial sums below 256.
        const size_t end = i + std::min<size_t>((n - i) / 32, 32) * 32;
        __m256i acc = zero;
        for (; i < end; i += 32) {
            const __m256i a = Load(f + i), b = Load(r + i);
            const __m256i d = _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
            const __m256i v = _mm256_adds_epu8(d, d);
            Store(o + i, v);
            acc = _mm256_add_epi8(acc, WeightBytes(v, base, step));
        }
        total = _mm256_add_epi64(total, _mm256_sad_epu8(acc, zero));
    }
    return Sum64(total) + RawScalar(f + i, r + i, o + i, n - i);
}

QV_AVX2 inline __m256i DoubledDiff16(__m256i a, __m256i b) {
    const __m256i d = _mm256_abs_epi16(_mm256_sub_epi16(a, b));
    return _mm256_min_epi16(_mm256_add_epi16(d, d), _mm256_set1_epi16(255));
}

template <bool k565>
QV_AVX2 uint64_t Rgb16Avx2(const uint8_t* f, const uint8_t* r, uint8_t* o, size_t pixels) {
    const Tables& t = T();
    const __m256i w5 = Broadcast16(t.weight5);  // weight5[d] is 7 from d = 15 on
    // Red and blue stay where they are: blue in the low byte, red in the high byte (times 4
    // for 5-5-5, times 8 for 5-6-5), so one byte-wise pass handles both. The same mask is
    // the cap of the doubled differences in place (31 and 31 << 2 or 31 << 3).
    const __m256i redBlue = _mm256_set1_epi16(static_cast<short>(k565 ? 0xF81F : 0x7C1F));
    // min(d, 15) per field (in place) for the weight lookup.
    const __m256i cap15 = _mm256_set1_epi16(static_cast<short>(k565 ? 0x780F : 0x3C0F));
    // Green is taken in place too (times 32).
    const __m256i green = _mm256_set1_epi16(k565 ? 63 << 5 : 31 << 5);
    const __m256i lowByte = _mm256_set1_epi16(0x00FF);
    const __m256i zero = _mm256_setzero_si256();
    uint64_t total = 0;
    size_t i = 0;
    while (pixels - i >= 16) {
        // At most 21 a pixel: 1024 rounds stay below 32768 in every 16-bit lane.
        const size_t end = i + std::min<size_t>((pixels - i) / 16, 1024) * 16;
        __m256i acc = zero;
        for (; i < end; i += 16) {
            const __m256i a = Load(f + 2 * i), b = Load(r + 2 * i);
            if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, b)) == -1) {
                Store(o + 2 * i, zero);  // nothing moved here: black, weight 0
                continue;
            }
            const __m256i rbA = _mm256_and_si256(a, redBlue), rbB = _mm256_and_si256(b, redBlue);
            const __m256i dRB =
                _mm256_or_si256(_mm256_subs_epu8(rbA, rbB), _mm256_subs_epu8(rbB, rbA));
            const __m256i dG = _mm256_abs_epi16(
                _mm256_sub_epi16(_mm256_and_si256(a, green), _mm256_and_si256(b, green)));
            // min(field max, 2d) per field, written back in the same layout.
            const __m256i outRB = _mm256_min_epu8(_mm256_adds_epu8(dRB, dRB), redBlue);
            const __m256i outG = _mm256_min_epi16(_mm256_add_epi16(dG, dG), green);
            Store(o + 2 * i, _mm256_or_si256(outRB, outG));
            const __m256i capped = _mm256_min_epu8(dRB, cap15);
            const __m256i wB = _mm256_and_si256(_mm256_shuffle_epi8(w5, capped), lowByte);
            const __m256i wR = _mm256_shuffle_epi8(w5, _mm256_srli_epi16(capped, k565 ? 11 : 10));
            __m256i wG;
            if constexpr (k565) {
                // 6-bit field d held as 32d: weight min(7, d * d / 128) = min(7, (1024 d * d
                // >> 16) >> 1).
                wG = _mm256_min_epi16(_mm256_srli_epi16(_mm256_mulhi_epu16(dG, dG), 1),
                                      _mm256_set1_epi16(7));
            } else {
                wG = _mm256_shuffle_epi8(
                    w5, _mm256_srli_epi16(_mm256_min_epi16(dG, _mm256_set1_epi16(15 << 5)), 5));
            }
            acc = _mm256_add_epi16(acc, _mm256_add_epi16(wR, _mm256_add_epi16(wG, wB)));
        }
        total += Sum16(acc);
    }
    return total + Rgb16Scalar<k565>(f + 2 * i, r + 2 * i, o + 2 * i, pixels - i);
}

// Two 16-bit values in one 32-bit lane: lo in the even lane, hi in the odd one.
constexpr int Pair16(int lo, int hi) {
    return static_cast<int>((static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16) |
                            static_cast<uint16_t>(lo));
}

struct Rgb16 {
    __m256i r, g, b;
    int exact;  // groups whose green sits on an integer: evaluated in double instead
};

// Eight groups (16 pixels) to R, G, B in 16-bit lanes, pixel order. Every channel is
// trunc(Y + k) with k depending on chroma only: Y + floor(k), plus 1 below zero.
QV_AVX2_INLINE Rgb16 ToRgbAvx2(__m256i d, bool uyvy) {
    const __m256i lowByte = _mm256_set1_epi16(0x00FF);
    const __m256i zero = _mm256_setzero_si256();
    __m256i y, c;
    if (uyvy) {
        y = _mm256_srli_epi16(d, 8);
        c = _mm256_and_si256(d, lowByte);
    } else {
        y = _mm256_and_si256(d, lowByte);
        c = _mm256_srli_epi16(d, 8);
    }
    c = _mm256_sub_epi16(c, _mm256_set1_epi16(128));  // lanes u, v, u, v, ...
    // Per group, in the u lane floor(1.772u) = 2u + floor(-14942u / 65536), in the v lane
    // floor(1.402v) = v + floor(26346v / 65536): exact for every sample.
    const __m256i off =
        _mm256_add_epi16(_mm256_mullo_epi16(c, _mm256_set1_epi32(Pair16(2, 1))),
                         _mm256_mulhi_epi16(c, _mm256_set1_epi32(Pair16(-14942, 26346))));
    // floor(-(344u + 714v) / 1000) = (-11272u - 23396v) >> 15 for every (u, v) except those
    // where 344u + 714v is a nonzero multiple of 1000; there the double result may fall
    // either side of the integer depending on Y, so those groups are evaluated in double.
    const __m256i n =
        _mm256_srai_epi32(_mm256_madd_epi16(c, _mm256_set1_epi32(Pair16(-11272, -23396))), 15);
    const __m256i kNeg = _mm256_madd_epi16(c, _mm256_set1_epi32(Pair16(-344, -714)));
    // There n may be one low: the remainder is 0 or 1000 exactly for those, and only them
    // (and u = v = 0, which is exact).
    const __m256i rem =
        _mm256_sub_epi32(kNeg, _mm256_madd_epi16(n, _mm256_set1_epi32(Pair16(1000, 0))));
    const __m256i onInteger =
        _mm256_andnot_si256(_mm256_cmpeq_epi32(c, zero),
                            _mm256_or_si256(_mm256_cmpeq_epi32(rem, zero),
                                            _mm256_cmpeq_epi32(rem, _mm256_set1_epi32(1000))));
    const __m256i pickU = _mm256_setr_epi8(0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13, 0, 1,
                                           0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13);
    const __m256i pickV = _mm256_setr_epi8(2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15,
                                           2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15);
    Rgb16 out;
    // t - (t >> 15): truncation toward zero adds 1 below zero.
    __m256i t = _mm256_add_epi16(y, _mm256_shuffle_epi8(off, pickV));
    out.r = _mm256_sub_epi16(t, _mm256_srai_epi16(t, 15));
    t = _mm256_add_epi16(y, _mm256_shuffle_epi8(n, pickU));
    out.g = _mm256_sub_epi16(t, _mm256_srai_epi16(t, 15));
    t = _mm256_add_epi16(y, _mm256_shuffle_epi8(off, pickU));
    out.b = _mm256_sub_epi16(t, _mm256_srai_epi16(t, 15));
    out.exact = _mm256_movemask_ps(_mm256_castsi256_ps(onInteger));
    return out;
}

// trunc(k / 1000) for |k| <= 300000: the multiplier sits a little above 1/1000 so that
// multiples of 1000 do not round below their quotient, and little enough that no other k
// reaches the next integer (the every-triple test covers every k the outputs produce).
QV_AVX2_INLINE __m256i TruncDiv1000(__m256i k) {
    const float c = static_cast<float>(0.001 * (1.0 + 0x1p-21));
    return _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(k), _mm256_set1_ps(c)));
}

struct YuvOut {
    __m256i bytes;    // the eight groups in YUY2 byte order
    int lumaExact;    // two mask bits a pixel: Y' sits on an integer (not grey)
    int chromaExact;  // four mask bits a group: U' or V' may sit on an integer
};

// The difference picture of eight groups from the channel differences (16-bit lanes,
// pixel order), in integers. Where the double formula sits exactly on an integer it may
// truncate one lower; grey pixels get that from a table, the rest is flagged for
// PatchOutput.
QV_AVX2_INLINE YuvOut OutputAvx2(__m256i vr, __m256i vg, __m256i vb, __m256i greyLo,
                                 __m256i greyHi) {
    const __m256i zero = _mm256_setzero_si256();
    YuvOut res;
    // Y' = trunc((299 vr + 587 vg + 114 vb) / 1000) of every pixel.
    const __m256i cRG = _mm256_set1_epi32(Pair16(299, 587)), cB = _mm256_set1_epi32(114);
    const __m256i kLo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(vr, vg), cRG),
                                         _mm256_madd_epi16(_mm256_unpacklo_epi16(vb, zero), cB));
    const __m256i kHi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(vr, vg), cRG),
                                         _mm256_madd_epi16(_mm256_unpackhi_epi16(vb, zero), cB));
    const __m256i nLo = TruncDiv1000(kLo), nHi = TruncDiv1000(kHi);
    __m256i yq = _mm256_packus_epi32(nLo, nHi);
    const __m256i c1000 = _mm256_set1_epi32(Pair16(1000, 0));
    const __m256i onInteger = _mm256_andnot_si256(
        _mm256_cmpeq_epi16(yq, zero),
        _mm256_packs_epi32(_mm256_cmpeq_epi32(_mm256_madd_epi16(nLo, c1000), kLo),
                           _mm256_cmpeq_epi32(_mm256_madd_epi16(nHi, c1000), kHi)));
    // A change of brightness alone gives vr = vg = vb, always on an integer: those come
    // from a table of the grey values the double sum truncates one lower (no branch: grey
    // pixels are common in noisy frames).
    const __m256i grey = _mm256_and_si256(_mm256_cmpeq_epi16(vr, vg), _mm256_cmpeq_epi16(vg, vb));
    const __m256i idx = _mm256_srli_epi16(vr, 3);
    const __m256i bits =
        _mm256_or_si256(_mm256_shuffle_epi8(greyLo, _mm256_adds_epu8(idx, _mm256_set1_epi8(0x70))),
                        _mm256_shuffle_epi8(greyHi, _mm256_sub_epi8(idx, _mm256_set1_epi8(16))));
    const __m256i bit =
        _mm256_shuffle_epi8(_mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0,
                                             1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0),
                            _mm256_and_si256(vr, _mm256_set1_epi16(7)));
    const __m256i hit = _mm256_and_si256(_mm256_and_si256(bits, bit), _mm256_set1_epi16(0x00FF));
    yq = _mm256_add_epi16(yq, _mm256_andnot_si256(_mm256_cmpeq_epi16(hit, zero), grey));
    res.lumaExact = _mm256_movemask_epi8(_mm256_andnot_si256(grey, onInteger));
    // U' = 128 - trunc((169 vr + 331 vg - 500 vb) / 1000) and V' = 128 - trunc((419 vg +
    // 81 vb - 500 vr) / 1000) from pixel 0 of each group (the even 16-bit lanes).
    const __m256i rg = _mm256_blend_epi16(vr, _mm256_slli_epi32(vg, 16), 0xAA);
    const __m256i gb = _mm256_blend_epi16(vg, _mm256_slli_epi32(vb, 16), 0xAA);
    const __m256i ku = _mm256_add_epi32(_mm256_madd_epi16(rg, _mm256_set1_epi32(Pair16(169, 331))),
                                        _mm256_madd_epi16(vb, _mm256_set1_epi32(Pair16(-500, 0))));
    const __m256i kv = _mm256_add_epi32(_mm256_madd_epi16(gb, _mm256_set1_epi32(Pair16(419, 81))),
                                        _mm256_madd_epi16(vr, _mm256_set1_epi32(Pair16(-500, 0))));
    const __m256i c128 = _mm256_set1_epi32(128);
    const __m256i uq = _mm256_sub_epi32(c128, TruncDiv1000(ku));
    const __m256i vq = _mm256_sub_epi32(c128, TruncDiv1000(kv));
    // The double formulas leave the integer only when two channel differences are equal
    // (vr = vg for U', vg = vb for V'), both at one of a few values from 27 to 253.
    const __m256i equal = _mm256_or_si256(_mm256_cmpeq_epi16(vr, vg), _mm256_cmpeq_epi16(vg, vb));
    const __m256i inRange = _mm256_andnot_si256(_mm256_cmpgt_epi16(vg, _mm256_set1_epi16(253)),
                                                _mm256_cmpgt_epi16(vg, _mm256_set1_epi16(26)));
    res.chromaExact = _mm256_movemask_epi8(
        _mm256_and_si256(_mm256_and_si256(equal, inRange), _mm256_set1_epi32(0xFFFF)));
    res.bytes =
        _mm256_or_si256(yq, _mm256_or_si256(_mm256_slli_epi32(uq, 8), _mm256_slli_epi32(vq, 24)));
    return res;
}

// Green of the groups whose chroma term sits on an integer, from the double formula.
QV_AVX2 inline __m256i PatchGreen(__m256i g, __m256i raw, const YuvOffsets& at, int groups) {
    alignas(32) uint8_t bytes[32];
    alignas(32) int16_t lanes[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(bytes), raw);
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), g);
    for (int i = 0; i < 8; ++i) {
        if (!(groups & (1 << i))) continue;
        const uint8_t* q = bytes + 4 * i;
        lanes[2 * i] = static_cast<int16_t>(Green(q[at.y0], q[at.u] - 128, q[at.v] - 128));
        lanes[2 * i + 1] = static_cast<int16_t>(Green(q[at.y1], q[at.u] - 128, q[at.v] - 128));
    }
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes));
}

// Y' of the flagged pixels (two mask bits a pixel) and U', V' of the flagged groups (four
// bits a group) from the exact formulas; out is in YUY2 order.
QV_AVX2 __attribute__((noinline)) __m256i PatchOutput(__m256i out, __m256i vr, __m256i vg,
                                                      __m256i vb, int luma, int chroma) {
    alignas(32) uint8_t bytes[32];
    alignas(32) int16_t r[16], g[16], b[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(bytes), out);
    _mm256_store_si256(reinterpret_cast<__m256i*>(r), vr);
    _mm256_store_si256(reinterpret_cast<__m256i*>(g), vg);
    _mm256_store_si256(reinterpret_cast<__m256i*>(b), vb);
    for (int j = 0; j < 16; ++j) {
        if (!(luma & (1 << (2 * j)))) continue;
        bytes[4 * (j / 2) + 2 * (j % 2)] = static_cast<uint8_t>(OutY(r[j], g[j], b[j]));
    }
    for (int i = 0; i < 8; ++i) {
        if (!(chroma & (1 << (4 * i)))) continue;
        bytes[4 * i + 1] = static_cast<uint8_t>(OutU(r[2 * i], g[2 * i], b[2 * i]));
        bytes[4 * i + 3] = static_cast<uint8_t>(OutV(r[2 * i], g[2 * i], b[2 * i]));
    }
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes));
}

// YUY2 byte order to UYVY: swap the bytes of every 16-bit lane.
QV_AVX2_INLINE __m256i SwapBytes16(__m256i v) {
    return _mm256_or_si256(_mm256_slli_epi16(v, 8), _mm256_srli_epi16(v, 8));
}

QV_AVX2_INLINE __m256i Weight16(__m256i v) {
    // floor(v * v / 8192); v * v < 65536 for v up to 255.
    return _mm256_srli_epi16(_mm256_mullo_epi16(v, v), 13);
}

QV_AVX2_INLINE __m256i DifferencePicture(__m256i vr, __m256i vg, __m256i vb, __m256i greyLo,
                                         __m256i greyHi) {
    const YuvOut res = OutputAvx2(vr, vg, vb, greyLo, greyHi);
    if ((res.lumaExact | res.chromaExact) == 0) return res.bytes;
    return PatchOutput(res.bytes, vr, vg, vb, res.lumaExact, res.chromaExact);
}

QV_AVX2 uint64_t YuvAvx2(bool uyvy, const uint8_t* f, const uint8_t* r, uint8_t* o, size_t groups) {
    const Tables& t = T();
    const YuvOffsets& at = uyvy ? kUyvy : kYuy2;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i greyLo = Broadcast16(t.greyLow), greyHi = Broadcast16(t.greyLow + 16);
    // Y' 0, U' 128, Y' 0, V' 128 in the layout's byte order.
    const __m256i still = _mm256_set1_epi32(uyvy ? 0x00800080 : static_cast<int>(0x80008000u));
    uint64_t total = 0;
    size_t i = 0;
    while (groups - i >= 8) {
        // At most 21 a lane per block: 1024 blocks stay below 32768 in every 16-bit lane.
        const size_t end = i + std::min<size_t>((groups - i) / 8, 1024) * 8;
        __m256i acc = zero;
        for (; i < end; i += 8) {
            const __m256i fa = Load(f + 4 * i), rb = Load(r + 4 * i);
            if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(fa, rb)) == -1) {
                Store(o + 4 * i, still);  // nothing moved here: black, weight 0
                continue;
            }
            Rgb16 a = ToRgbAvx2(fa, uyvy);
            Rgb16 b = ToRgbAvx2(rb, uyvy);
            if ((a.exact | b.exact) != 0) {
                if (a.exact) a.g = PatchGreen(a.g, fa, at, a.exact);
                if (b.exact) b.g = PatchGreen(b.g, rb, at, b.exact);
            }
            const __m256i vr = DoubledDiff16(a.r, b.r);
            const __m256i vg = DoubledDiff16(a.g, b.g);
            const __m256i vb = DoubledDiff16(a.b, b.b);
            const __m256i out = DifferencePicture(vr, vg, vb, greyLo, greyHi);
            Store(o + 4 * i, uyvy ? SwapBytes16(out) : out);
            acc = _mm256_add_epi16(
                acc, _mm256_add_epi16(Weight16(vr), _mm256_add_epi16(Weight16(vg), Weight16(vb))));
        }
        total += Sum16(acc);
    }
    return total + YuvScalar(at, f + 4 * i, r + 4 * i, o + 4 * i, groups - i);
}

#undef QV_AVX2_INLINE
#undef QV_AVX2

#else  // not x86: the plain kernels stand in

uint64_t RawAvx2(const uint8_t* f, const uint8_t* r, uint8_t* o, size_t n) {
    return RawScalar(f, r, o, n);
}
template <bool k565>
uint64_t Rgb16Avx2(const uint8_t* f, const uint8_t* r, uint8_t* o, size_t pixels) {
    return Rgb16Scalar<k565>(f, r, o, pixels);
}
uint64_t YuvAvx2(bool uyvy, const uint8_t* f, const uint8_t* r, uint8_t* o, size_t groups) {
    return YuvScalar(uyvy ? kUyvy : kYuy2, f, r, o, groups);
}

#endif

}  // namespace

bool IsaAvailable(Isa isa) {
    switch (isa) {
        case Isa::Scalar:
            return true;
        case Isa::Avx2:
#ifdef QV_MOTION_X86
            return __builtin_cpu_supports("avx2");
#else
            return false;
#endif
    }
    return false;
}

Isa BestIsa() {
    static const Isa best = IsaAvailable(Isa::Avx2) ? Isa::Avx2 : Isa::Scalar;
    return best;
}

uint64_t MeasureDifferenceWith(Isa isa, FrameLayout layout, const uint8_t* frame,
                               const uint8_t* reference, uint8_t* out, size_t length) {
    const bool avx2 = isa == Isa::Avx2 && IsaAvailable(Isa::Avx2);
    switch (layout) {
        case FrameLayout::RawBytes:
            // The last byte of the buffer is not compared.
            if (length < 2) return 0;
            return avx2 ? RawAvx2(frame, reference, out, length - 1)
                        : RawScalar(frame, reference, out, length - 1);
        case FrameLayout::Rgb565:
            return avx2 ? Rgb16Avx2<true>(frame, reference, out, length / 2)
                        : Rgb16Scalar<true>(frame, reference, out, length / 2);
        case FrameLayout::Rgb555:
            return avx2 ? Rgb16Avx2<false>(frame, reference, out, length / 2)
                        : Rgb16Scalar<false>(frame, reference, out, length / 2);
        case FrameLayout::Yuy2:
        case FrameLayout::Uyvy: {
            // Whole groups only: a trailing part group would be read past the buffer.
            const bool uyvy = layout == FrameLayout::Uyvy;
            if (avx2) return YuvAvx2(uyvy, frame, reference, out, length / 4);
            return YuvScalar(uyvy ? kUyvy : kYuy2, frame, reference, out, length / 4);
        }
    }
    return 0;
}

}  // namespace motion

FrameLayout ClassifyFrame(uint16_t bitCount, uint32_t compression) {
    if (bitCount == 15 || (bitCount == 16 && (compression & 3u) == 0)) return FrameLayout::Rgb555;
    if (bitCount == 16) {
        if (compression == QV_FOURCC_YUY2) return FrameLayout::Yuy2;
        if (compression == QV_FOURCC_UYVY) return FrameLayout::Uyvy;
        return FrameLayout::Rgb565;
    }
    return FrameLayout::RawBytes;
}

// Window thread (frame callback); reads only its arguments and the constant tables.
uint64_t MeasureDifference(FrameLayout layout, const uint8_t* frame, const uint8_t* reference,
                           uint8_t* out, size_t length) {
    return motion::MeasureDifferenceWith(motion::BestIsa(), layout, frame, reference, out, length);
}

int MotionLevel(uint64_t sum, int32_t width, int32_t height) {
    // 32-bit product as the format header gives it, arithmetic shift.
    const int32_t d =
        static_cast<int32_t>(static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 3u) >>
        15;
    const int64_t divisor = d < 1 ? 1 : d;
    const int64_t level = static_cast<int64_t>(sum) / divisor - d;
    return static_cast<int>(std::clamp<int64_t>(level, 0, 65535));
}

}  // namespace qv::core
