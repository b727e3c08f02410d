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
    const __m256i w6lo = Broadcast16(t.weight6), w6hi = Broadcast16(t.weight6 + 16);
    const __m256i m5 = _mm256_set1_epi16(31), m6 = _mm256_set1_epi16(63);
    const __m256i cap = _mm256_set1_epi16(15);
    const __m256i zero = _mm256_setzero_si256();
    uint64_t total = 0;
    size_t i = 0;
    while (pixels - i >= 16) {
        // At most 21 a pixel: 1024 rounds stay below 65536 in every 16-bit lane.
        const size_t end = i + std::min<size_t>((pixels - i) / 16, 1024) * 16;
        __m256i acc = zero;
        for (; i < end; i += 16) {
            const __m256i a = Load(f + 2 * i), b = Load(r + 2 * i);
            if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, b)) == -1) {
                Store(o + 2 * i, zero);  // nothing moved here: black, weight 0
                continue;
            }
            __m256i ra, rb, ga, gb;
            if constexpr (k565) {
                ra = _mm256_srli_epi16(a, 11);
                rb = _mm256_srli_epi16(b, 11);
                ga = _mm256_and_si256(_mm256_srli_epi16(a, 5), m6);
                gb = _mm256_and_si256(_mm256_srli_epi16(b, 5), m6);
            } else {
                ra = _mm256_and_si256(_mm256_srli_epi16(a, 10), m5);
                rb = _mm256_and_si256(_mm256_srli_epi16(b, 10), m5);
                ga = _mm256_and_si256(_mm256_srli_epi16(a, 5), m5);
                gb = _mm256_and_si256(_mm256_srli_epi16(b, 5), m5);
            }
            const __m256i ba = _mm256_and_si256(a, m5), bb = _mm256_and_si256(b, m5);
            const __m256i dr = _mm256_abs_epi16(_mm256_sub_epi16(ra, rb));
            const __m256i dg = _mm256_abs_epi16(_mm256_sub_epi16(ga, gb));
            const __m256i db = _mm256_abs_epi16(_mm256_sub_epi16(ba, bb));
            const __m256i orr = _mm256_min_epi16(_mm256_add_epi16(dr, dr), m5);
            const __m256i ob = _mm256_min_epi16(_mm256_add_epi16(db, db), m5);
            __m256i og, wg;
            if constexpr (k565) {
                og = _mm256_min_epi16(_mm256_add_epi16(dg, dg), m6);
                // weight6[d] is 7 from d = 30 on: two 16-entry lookups cover 0..31.
                const __m256i x = _mm256_min_epi16(dg, m5);
                wg = _mm256_or_si256(
                    _mm256_shuffle_epi8(w6lo, _mm256_adds_epu8(x, _mm256_set1_epi8(0x70))),
                    _mm256_shuffle_epi8(w6hi, _mm256_sub_epi8(x, _mm256_set1_epi8(16))));
            } else {
                og = _mm256_min_epi16(_mm256_add_epi16(dg, dg), m5);
                wg = _mm256_shuffle_epi8(w5, _mm256_min_epi16(dg, cap));
            }
            const __m256i out = _mm256_or_si256(_mm256_slli_epi16(orr, k565 ? 11 : 10),
                                                _mm256_or_si256(_mm256_slli_epi16(og, 5), ob));
            Store(o + 2 * i, out);
            const __m256i wr = _mm256_shuffle_epi8(w5, _mm256_min_epi16(dr, cap));
            const __m256i wb = _mm256_shuffle_epi8(w5, _mm256_min_epi16(db, cap));
            acc = _mm256_add_epi16(acc, _mm256_add_epi16(wr, _mm256_add_epi16(wg, wb)));
        }
        total += Sum16(acc);
    }
    return total + Rgb16Scalar<k565>(f + 2 * i, r + 2 * i, o + 2 * i, pixels - i);
}

struct Rgb16 {
    __m256i r, g, b;
    int exact;  // groups whose green sits on an integer: evaluated in double instead
};

// Eight groups (16 pixels) to R, G, B in 16-bit lanes, pixel order.
QV_AVX2 inline Rgb16 ToRgbAvx2(__m256i d, bool uyvy) {
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
    const __m256i pickU = _mm256_setr_epi8(0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13, 0, 1,
                                           0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13);
    const __m256i pickV = _mm256_setr_epi8(2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15,
                                           2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15);
    const __m256i u = _mm256_shuffle_epi8(c, pickU);
    const __m256i v = _mm256_shuffle_epi8(c, pickV);
    Rgb16 out;
    // floor(1.402 v) = v + floor(v * 26346 / 65536), floor(1.772 u) = 2u + floor(u * -14942
    // / 65536) for every sample; truncation toward zero adds 1 below zero.
    __m256i t =
        _mm256_add_epi16(_mm256_add_epi16(y, v), _mm256_mulhi_epi16(v, _mm256_set1_epi16(26346)));
    out.r = _mm256_sub_epi16(t, _mm256_cmpgt_epi16(zero, t));
    t = _mm256_add_epi16(_mm256_add_epi16(y, _mm256_add_epi16(u, u)),
                         _mm256_mulhi_epi16(u, _mm256_set1_epi16(-14942)));
    out.b = _mm256_sub_epi16(t, _mm256_cmpgt_epi16(zero, t));
    // Green: k = 344u + 714v once a group; n = floor(-k / 1000), exact when k divides.
    const __m256i k = _mm256_madd_epi16(c, _mm256_set1_epi32((714 << 16) | 344));
    const __m256 q = _mm256_mul_ps(_mm256_cvtepi32_ps(k), _mm256_set1_ps(-0.001f));
    const __m256i n = _mm256_cvtps_epi32(_mm256_floor_ps(_mm256_add_ps(q, _mm256_set1_ps(0.001f))));
    const __m256i onInteger =
        _mm256_andnot_si256(_mm256_cmpeq_epi32(k, zero),
                            _mm256_cmpeq_epi32(_mm256_mullo_epi32(n, _mm256_set1_epi32(1000)),
                                               _mm256_sub_epi32(zero, k)));
    out.exact = _mm256_movemask_ps(_mm256_castsi256_ps(onInteger));
    const __m256i nn = _mm256_blend_epi16(n, _mm256_slli_epi32(n, 16), 0xAA);
    t = _mm256_add_epi16(y, nn);
    out.g = _mm256_sub_epi16(t, _mm256_cmpgt_epi16(zero, t));
    return out;
}

// trunc(k / 1000) for |k| < 2^20; k on a multiple of 1000 gives that multiple exactly.
QV_AVX2 inline __m256i TruncDiv1000(__m256i k) {
    const __m256 q = _mm256_mul_ps(_mm256_cvtepi32_ps(k), _mm256_set1_ps(0.001f));
    const __m256 nudge =
        _mm256_or_ps(_mm256_and_ps(q, _mm256_set1_ps(-0.0f)), _mm256_set1_ps(0.0005f));
    return _mm256_cvttps_epi32(_mm256_add_ps(q, nudge));
}

// k != 0 and n * 1000 == k: the double formula may land just below n there.
QV_AVX2 inline __m256i OnInteger(__m256i k, __m256i n) {
    const __m256i zero = _mm256_setzero_si256();
    return _mm256_andnot_si256(
        _mm256_cmpeq_epi32(k, zero),
        _mm256_cmpeq_epi32(_mm256_mullo_epi32(n, _mm256_set1_epi32(1000)), k));
}

// The difference picture of eight groups from the channel differences (16-bit lanes,
// pixel order). needExact gets the byte mask of lanes the integers cannot settle.
QV_AVX2 inline __m256i OutputAvx2(__m256i vr, __m256i vg, __m256i vb, bool uyvy, __m256i greyLo,
                                  __m256i greyHi, int& needExact) {
    const __m256i zero = _mm256_setzero_si256();
    // Y' of every pixel.
    const __m256i cRG = _mm256_set1_epi32((587 << 16) | 299), cB = _mm256_set1_epi32(114);
    const __m256i kLo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(vr, vg), cRG),
                                         _mm256_madd_epi16(_mm256_unpacklo_epi16(vb, zero), cB));
    const __m256i kHi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(vr, vg), cRG),
                                         _mm256_madd_epi16(_mm256_unpackhi_epi16(vb, zero), cB));
    const __m256i nLo = TruncDiv1000(kLo), nHi = TruncDiv1000(kHi);
    __m256i yq = _mm256_packus_epi32(nLo, nHi);
    const __m256i onInteger = _mm256_packs_epi32(OnInteger(kLo, nLo), OnInteger(kHi, nHi));
    // A change of brightness alone gives vr = vg = vb in every pixel, always on an integer:
    // those come from a table of the grey values the double sum truncates one lower.
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
    const __m256i otherOnInteger = _mm256_andnot_si256(grey, onInteger);
    // U' and V' from pixel 0 of each group (the even 16-bit lanes). Two equal channel
    // differences put them on an integer all the time, so they are evaluated in doubles,
    // term by term as the formula reads.
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    const __m256i r0 = _mm256_and_si256(vr, low16), g0 = _mm256_and_si256(vg, low16),
                  b0 = _mm256_and_si256(vb, low16);
    __m128i uHalf[2], vHalf[2];
    for (int h = 0; h < 2; ++h) {
        const __m128i r4 = h ? _mm256_extracti128_si256(r0, 1) : _mm256_castsi256_si128(r0);
        const __m128i g4 = h ? _mm256_extracti128_si256(g0, 1) : _mm256_castsi256_si128(g0);
        const __m128i b4 = h ? _mm256_extracti128_si256(b0, 1) : _mm256_castsi256_si128(b0);
        const __m256d r = _mm256_cvtepi32_pd(r4), g = _mm256_cvtepi32_pd(g4),
                      b = _mm256_cvtepi32_pd(b4);
        const __m256d half = _mm256_set1_pd(0.5);
        const __m256d u = _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(0.169), r),
                                                      _mm256_mul_pd(_mm256_set1_pd(0.331), g)),
                                        _mm256_mul_pd(half, b));
        const __m256d v = _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(0.419), g),
                                                      _mm256_mul_pd(_mm256_set1_pd(0.081), b)),
                                        _mm256_mul_pd(half, r));
        uHalf[h] = _mm256_cvttpd_epi32(u);
        vHalf[h] = _mm256_cvttpd_epi32(v);
    }
    const __m256i c128 = _mm256_set1_epi32(128);
    const __m256i uq = _mm256_sub_epi32(c128, _mm256_set_m128i(uHalf[1], uHalf[0]));
    const __m256i vq = _mm256_sub_epi32(c128, _mm256_set_m128i(vHalf[1], vHalf[0]));
    needExact = _mm256_movemask_epi8(otherOnInteger);
    if (uyvy) {
        return _mm256_or_si256(_mm256_slli_epi16(yq, 8),
                               _mm256_or_si256(uq, _mm256_slli_epi32(vq, 16)));
    }
    return _mm256_or_si256(yq,
                           _mm256_or_si256(_mm256_slli_epi32(uq, 8), _mm256_slli_epi32(vq, 24)));
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

// Y' of the pixels whose luma sum sits on an integer (two mask bits a pixel).
QV_AVX2 inline __m256i PatchLuma(__m256i out, __m256i vr, __m256i vg, __m256i vb,
                                 const YuvOffsets& at, int pixels) {
    alignas(32) uint8_t bytes[32];
    alignas(32) int16_t r[16], g[16], b[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(bytes), out);
    _mm256_store_si256(reinterpret_cast<__m256i*>(r), vr);
    _mm256_store_si256(reinterpret_cast<__m256i*>(g), vg);
    _mm256_store_si256(reinterpret_cast<__m256i*>(b), vb);
    for (int j = 0; j < 16; ++j) {
        if (!(pixels & (1 << (2 * j)))) continue;
        bytes[4 * (j / 2) + (j % 2 ? at.y1 : at.y0)] = static_cast<uint8_t>(OutY(r[j], g[j], b[j]));
    }
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes));
}

QV_AVX2 uint64_t YuvAvx2(bool uyvy, const uint8_t* f, const uint8_t* r, uint8_t* o, size_t groups) {
    const Tables& t = T();
    const YuvOffsets& at = uyvy ? kUyvy : kYuy2;
    const __m256i base = Broadcast16(t.nibbleBase);
    const __m256i step = Broadcast16(t.nibbleStepAfter);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i greyLo = Broadcast16(t.greyLow), greyHi = Broadcast16(t.greyLow + 16);
    // Y' 0, U' 128, Y' 0, V' 128 in the layout's byte order.
    const __m256i still = _mm256_set1_epi32(uyvy ? 0x00800080 : static_cast<int>(0x80008000u));
    uint64_t total = 0;
    size_t i = 0;
    while (groups - i >= 8) {
        const size_t end = i + std::min<size_t>((groups - i) / 8, 1024) * 8;
        __m256i acc = zero;
        for (; i < end; i += 8) {
            const __m256i fa = Load(f + 4 * i), rb = Load(r + 4 * i);
            if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(fa, rb)) == -1) {
                Store(o + 4 * i, still);  // nothing moved here: black, weight 0
                continue;
            }
            const Rgb16 a = ToRgbAvx2(fa, uyvy);
            const Rgb16 b = ToRgbAvx2(rb, uyvy);
            const __m256i ag = a.exact ? PatchGreen(a.g, fa, at, a.exact) : a.g;
            const __m256i bg = b.exact ? PatchGreen(b.g, rb, at, b.exact) : b.g;
            const __m256i vr = DoubledDiff16(a.r, b.r);
            const __m256i vg = DoubledDiff16(ag, bg);
            const __m256i vb = DoubledDiff16(a.b, b.b);
            int needExact;
            __m256i out = OutputAvx2(vr, vg, vb, uyvy, greyLo, greyHi, needExact);
            if (needExact != 0) out = PatchLuma(out, vr, vg, vb, at, needExact);
            Store(o + 4 * i, out);
            const __m256i w = _mm256_add_epi16(
                WeightBytes(vr, base, step),
                _mm256_add_epi16(WeightBytes(vg, base, step), WeightBytes(vb, base, step)));
            acc = _mm256_add_epi16(acc, w);
        }
        total += Sum16(acc);
    }
    return total + YuvScalar(at, f + 4 * i, r + 4 * i, o + 4 * i, groups - i);
}

QV_AVX2 void YuvToRgbAvx2(bool uyvy, const uint8_t* g, size_t groups, int16_t* rgb) {
    const YuvOffsets& at = uyvy ? kUyvy : kYuy2;
    size_t i = 0;
    for (; groups - i >= 8; i += 8) {
        const Rgb16 c = ToRgbAvx2(Load(g + 4 * i), uyvy);
        alignas(32) int16_t r[16], gg[16], b[16];
        _mm256_store_si256(reinterpret_cast<__m256i*>(r), c.r);
        _mm256_store_si256(reinterpret_cast<__m256i*>(gg), c.g);
        _mm256_store_si256(reinterpret_cast<__m256i*>(b), c.b);
        for (int p = 0; p < 16; ++p) {
            int16_t* px = rgb + 3 * (2 * i + p);
            px[0] = r[p];
            px[1] = gg[p];
            px[2] = b[p];
        }
        if (c.exact != 0) {
            const __m256i patched = PatchGreen(c.g, Load(g + 4 * i), at, c.exact);
            _mm256_store_si256(reinterpret_cast<__m256i*>(gg), patched);
            for (int p = 0; p < 16; ++p) rgb[3 * (2 * i + p) + 1] = gg[p];
        }
    }
    for (; i < groups; ++i) {
        int v[6];
        GroupRgb(g + 4 * i, at, v);
        for (int c6 = 0; c6 < 6; ++c6) rgb[6 * i + c6] = static_cast<int16_t>(v[c6]);
    }
}

QV_AVX2 inline __m256i Load16Bytes(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

QV_AVX2 void DifferenceToYuvAvx2(const uint8_t* vr, const uint8_t* vg, const uint8_t* vb,
                                 size_t groups, uint8_t* yuyv) {
    const Tables& t = T();
    const __m256i greyLo = Broadcast16(t.greyLow), greyHi = Broadcast16(t.greyLow + 16);
    size_t i = 0;
    for (; groups - i >= 8; i += 8) {
        const __m256i r = Load16Bytes(vr + 2 * i), g = Load16Bytes(vg + 2 * i),
                      b = Load16Bytes(vb + 2 * i);
        int needExact;
        __m256i out = OutputAvx2(r, g, b, false, greyLo, greyHi, needExact);
        if (needExact != 0) out = PatchLuma(out, r, g, b, kYuy2, needExact);
        Store(yuyv + 4 * i, out);
    }
    for (; i < groups; ++i) {
        const int v[6] = {vr[2 * i],     vg[2 * i],     vb[2 * i],
                          vr[2 * i + 1], vg[2 * i + 1], vb[2 * i + 1]};
        GroupOutput(v, kYuy2, yuyv + 4 * i);
    }
}

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
void YuvToRgbAvx2(bool, const uint8_t*, size_t, int16_t*) {}
void DifferenceToYuvAvx2(const uint8_t*, const uint8_t*, const uint8_t*, size_t, uint8_t*) {}

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

int Weight(int value) {
    return T().weight[value & 255];
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

void YuvToRgbWith(Isa isa, FrameLayout layout, const uint8_t* groups, size_t groupCount,
                  int16_t* rgb) {
    const bool uyvy = layout == FrameLayout::Uyvy;
    if (isa == Isa::Avx2 && IsaAvailable(Isa::Avx2)) {
        YuvToRgbAvx2(uyvy, groups, groupCount, rgb);
        return;
    }
    const YuvOffsets& at = uyvy ? kUyvy : kYuy2;
    for (size_t i = 0; i < groupCount; ++i) {
        int v[6];
        GroupRgb(groups + 4 * i, at, v);
        for (int c = 0; c < 6; ++c) rgb[6 * i + c] = static_cast<int16_t>(v[c]);
    }
}

void DifferenceToYuvWith(Isa isa, const uint8_t* vr, const uint8_t* vg, const uint8_t* vb,
                         size_t groupCount, uint8_t* yuyv) {
    if (isa == Isa::Avx2 && IsaAvailable(Isa::Avx2)) {
        DifferenceToYuvAvx2(vr, vg, vb, groupCount, yuyv);
        return;
    }
    for (size_t i = 0; i < groupCount; ++i) {
        const int v[6] = {vr[2 * i],     vg[2 * i],     vb[2 * i],
                          vr[2 * i + 1], vg[2 * i + 1], vb[2 * i + 1]};
        GroupOutput(v, kYuy2, yuyv + 4 * i);
    }
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
