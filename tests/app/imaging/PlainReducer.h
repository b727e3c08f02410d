// The colour reduction written the plain way, straight from the rules: full L^3 counters,
// slab-by-slab shrinking, every cell of a box visited, a cache cleared to 0xFFFF. The
// tests hold the engine to its results; the benchmark shows what the engine saves.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "app/imaging/DibImage.h"

namespace qvimagingtest {

using qv::DibImage;

struct PlainResult {
    std::array<uint8_t, 1024> Palette{};
    std::vector<uint8_t> Pixels;  // bottom row first, rows padded to 4
};

class PlainReducer {
  public:
    PlainReducer(const DibImage& picture, int quality, int colours)
        : picture_(picture), p_(quality + 3), l_((1 << p_) + 1), colours_(colours) {}

    PlainResult Run() {
        hist_.assign(static_cast<size_t>(l_) * l_ * l_, 0);
        const int32_t w = picture_.Width(), h = picture_.Height();
        for (int32_t y = 1; y <= h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const uint8_t* c = picture_.Row(h - y) + 3 * x;
                uint16_t& cell = At(Level(c[2]), Level(c[1]), Level(c[0]));
                if (cell < 65535) ++cell;
            }
        Boxes();
        PlainResult result;
        Palette(result.Palette);
        Map(result);
        return result;
    }

  private:
    struct Box {
        uint32_t Count = 0, Cells = 0, Size = 0;
        int Max[3] = {0, 0, 0};  // red, green, blue
        int Min[3] = {0, 0, 0};
        bool Single() const { return Max[0] == Min[0] && Max[1] == Min[1] && Max[2] == Min[2]; }
    };

    int Level(int v) const { return (v + (1 << (7 - p_))) >> (8 - p_); }
    int Value(int level) const { return level == (1 << p_) ? 255 : level << (8 - p_); }
    uint16_t& At(int r, int g, int b) { return hist_[(static_cast<size_t>(r) * l_ + g) * l_ + b]; }

    template <class F>
    void Each(const Box& box, F f) {
        for (int r = box.Min[0]; r <= box.Max[0]; ++r)
            for (int g = box.Min[1]; g <= box.Max[1]; ++g)
                for (int b = box.Min[2]; b <= box.Max[2]; ++b) f(r, g, b, At(r, g, b));
    }
    bool SlabEmpty(const Box& box, int axis, int level) {
        Box slab = box;
        slab.Min[axis] = slab.Max[axis] = level;
        bool empty = true;
        Each(slab, [&](int, int, int, uint16_t n) { empty = empty && n == 0; });
        return empty;
    }
    void Shrink(Box& box) {
        for (int axis = 0; axis < 3; ++axis) {
            while (box.Min[axis] < box.Max[axis] && SlabEmpty(box, axis, box.Min[axis]))
                ++box.Min[axis];
            while (box.Max[axis] > box.Min[axis] && SlabEmpty(box, axis, box.Max[axis]))
                --box.Max[axis];
        }
    }
    void Count(Box& box) {
        box.Count = box.Cells = 0;
        Each(box, [&](int, int, int, uint16_t n) {
            box.Count += n;
            box.Cells += n != 0;
        });
    }
    static void SizeOf(Box& box) {
        box.Size = 0;
        for (int a = 0; a < 3; ++a)
            box.Size += (box.Max[a] - box.Min[a]) * (box.Max[a] - box.Min[a]);
    }

    void Boxes() {
        boxes_.assign(256, Box{});
        Box& first = boxes_[0];
        for (int a = 0; a < 3; ++a) first.Min[a] = 0, first.Max[a] = 1 << p_;
        Shrink(first);
        Count(first);
        SizeOf(first);
        made_ = 1;
        for (int i = 0; i < colours_ - 1;) {
            int chosen = 0;
            uint32_t best = 0;
            for (int k = 0; k <= i; ++k) {
                if (boxes_[k].Single()) continue;
                const uint32_t v = 2 * i < colours_ ? boxes_[k].Size : boxes_[k].Cells;
                if (v > best) best = v, chosen = k;
            }
            Box& old = boxes_[chosen];
            if (old.Single()) break;
            const uint32_t total = old.Count, cells = old.Cells;
            const int d[3] = {old.Max[0] - old.Min[0], old.Max[1] - old.Min[1],
                              old.Max[2] - old.Min[2]};
            const int axis = (d[1] >= d[0] && d[1] >= d[2]) ? 1 : (d[2] >= d[0] ? 2 : 0);
            Box& added = boxes_[i + 1];
            added = old;
            old.Max[axis] = old.Min[axis] + d[axis] / 2;
            added.Min[axis] = old.Min[axis] + d[axis] / 2 + 1;
            Shrink(old);
            Shrink(added);
            Count(old);
            added.Count = total - old.Count;
            added.Cells = cells - old.Cells;
            SizeOf(old);
            SizeOf(added);
            if (old.Count == 0) {
                old = added;
                continue;
            }
            if (added.Count == 0) continue;
            ++i;
            made_ = i + 1;
        }
    }

    void Palette(std::array<uint8_t, 1024>& palette) {
        std::stable_sort(boxes_.begin(), boxes_.begin() + made_,
                         [](const Box& a, const Box& b) { return a.Count > b.Count; });
        std::vector<std::array<int, 3>> entries(colours_, {0, 0, 0});  // r, g, b
        for (int k = 0; k < made_; ++k) {
            uint64_t sum[3] = {0, 0, 0}, total = 0;
            Each(boxes_[k], [&](int r, int g, int b, uint16_t n) {
                sum[0] += uint64_t{n} * Value(r);
                sum[1] += uint64_t{n} * Value(g);
                sum[2] += uint64_t{n} * Value(b);
                total += n;
            });
            for (int a = 0; a < 3; ++a)
                entries[k][a] = total ? static_cast<int>((sum[a] + total / 2) / total)
                                      : Value((boxes_[k].Min[a] + boxes_[k].Max[a]) / 2);
        }
        std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            return a[0] * a[1] * a[2] < b[0] * b[1] * b[2];
        });
        palette.fill(0);
        for (int k = 0; k < colours_; ++k) {
            palette[4 * k] = static_cast<uint8_t>(entries[k][2]);
            palette[4 * k + 1] = static_cast<uint8_t>(entries[k][1]);
            palette[4 * k + 2] = static_cast<uint8_t>(entries[k][0]);
        }
        palette_ = palette;
    }

    void Map(PlainResult& result) {
        std::fill(hist_.begin(), hist_.end(), 0xFFFF);
        const int32_t w = picture_.Width(), h = picture_.Height();
        const size_t stride = DibImage::RowBytes(w, 8);
        result.Pixels.assign(stride * h, 0);
        std::vector<std::array<int, 3>> cur(w + 2), next(w + 2, {0, 0, 0});
        for (int32_t y = 1; y <= h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                const uint8_t* c = picture_.Row(h - y) + 3 * x;
                cur[x + 1] = {next[x + 1][0] + c[0], next[x + 1][1] + c[1], next[x + 1][2] + c[2]};
            }
            std::fill(next.begin(), next.end(), std::array<int, 3>{0, 0, 0});
            for (int32_t n = 0; n < w; ++n) {
                const int32_t x = (y & 1) ? w - 1 - n : n;
                const int dir = (y & 1) ? -1 : 1;
                int v[3];
                for (int a = 0; a < 3; ++a) v[a] = std::clamp(cur[x + 1][a], 0, 255);
                uint16_t& cell = At(Level(v[2]), Level(v[1]), Level(v[0]));
                if (cell == 0xFFFF) {
                    int best = 0, bestSum = 1 << 30;
                    for (int k = 0; k < colours_; ++k) {
                        int sum = 0;
                        for (int a = 0; a < 3; ++a)
                            sum += (v[a] - palette_[4 * k + a]) * (v[a] - palette_[4 * k + a]);
                        if (sum < bestSum) bestSum = sum, best = k;
                    }
                    cell = static_cast<uint16_t>(best);
                }
                result.Pixels[(h - y) * stride + x] = static_cast<uint8_t>(cell);
                for (int a = 0; a < 3; ++a) {
                    const int e = v[a] - palette_[4 * cell + a];
                    cur[x + 1 + dir][a] += 8 * e / 16;
                    next[x][a] += 2 * e / 16;
                    next[x + 1][a] += 4 * e / 16;
                    next[x + 2][a] += e / 16;
                }
            }
        }
    }

    const DibImage& picture_;
    int p_, l_, colours_;
    std::vector<uint16_t> hist_;
    std::vector<Box> boxes_;
    int made_ = 0;
    std::array<uint8_t, 1024> palette_{};
};

}  // namespace qvimagingtest
