#include "app/imaging/ReduceColours.h"
#include "platform/file/Owners.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform/capture/Bitmap.h"

namespace qv {
namespace {

// Pictures beyond this are not attachments; a header asking for more is refused.
constexpr int32_t kMaxSide = 16384;
constexpr int kMaxBoxes = 256;

size_t InputStride(int32_t width) {
    return static_cast<size_t>((24ll * width + 31) / 32 * 4);
}
size_t OutputStride(int32_t width) {
    return static_cast<size_t>((8ll * width + 31) / 32 * 4);
}

// The BMP files. The output's rows sit at fixed places after its 1078-byte
// front; the input's rows start where its file header says (54 when it says less).
struct FileInput {
    FILE* File = nullptr;
    uint32_t PixelOffset = 54;
};

bool ReadHeader(FileInput* in, bitmap::Info* header) {
    uint8_t front[14];
    if (std::fseek(in->File, 0, SEEK_SET) != 0 || std::fread(front, 1, 14, in->File) != 14 ||
        std::fread(header, 1, 40, in->File) != 40)
        return 0;
    const uint32_t offset =
        front[10] | (front[11] << 8) | (front[12] << 16) | (static_cast<uint32_t>(front[13]) << 24);
    in->PixelOffset = offset > 54 && offset < (1u << 30) ? offset : 54;
    return 1;
}

bool ReadRow(FileInput* in, const bitmap::Info& h, int32_t y, uint8_t* row) {
    const long offset = static_cast<long>(in->PixelOffset +
                                          InputStride(h.Width) * static_cast<size_t>(h.Height - y));
    const size_t bytes = static_cast<size_t>(h.Width) * 3;
    return std::fseek(in->File, offset, SEEK_SET) == 0 &&
           std::fread(row, 1, bytes, in->File) == bytes;
}

bool WriteHeader(FILE* f, const bitmap::Info& h, const uint8_t* palette) {
    const auto front = qv::bitmap::FileHeader(1078 - 14, h.SizeImage);
    const auto info = qv::bitmap::Bytes(h);
    return std::fseek(f, 0, SEEK_SET) == 0 && std::fwrite(front.data(), 1, 14, f) == 14 &&
           std::fwrite(info.data(), 1, 40, f) == 40 && std::fwrite(palette, 1, 1024, f) == 1024;
}

bool WriteRow(FILE* f, const bitmap::Info& h, int32_t y, const uint8_t* row) {
    const size_t stride = OutputStride(h.Width);
    const long offset = static_cast<long>(1078 + stride * (h.Height - y));
    // The row's padding is written too, so the file is whole once every row is in.
    static constexpr uint8_t zeros[4] = {};
    const size_t bytes = static_cast<size_t>(h.Width);
    return std::fseek(f, offset, SEEK_SET) == 0 && std::fwrite(row, 1, bytes, f) == bytes &&
           std::fwrite(zeros, 1, stride - bytes, f) == stride - bytes;
}

// One occupied histogram cell: its levels and its (saturated) pixel count.
struct Cell {
    uint8_t R, G, B;
    uint16_t Count;
};

struct Box {
    uint32_t Count = 0;
    uint32_t Cells = 0;
    uint32_t Size = 0;
    int16_t MaxB = 0, MaxG = 0, MaxR = 0, MinB = 0, MinG = 0, MinR = 0;
    // The box's occupied cells, a range of the cell list.
    uint32_t First = 0, Last = 0;

    bool SingleCell() const { return MaxR == MinR && MaxG == MinG && MaxB == MinB; }
};

// The occupied cells inside a box are exactly the cells of its range, so shrinking the
// box to its non-empty slabs is shrinking it to the bounding box of that range. A box
// with no cells ends up as the single cell at its maxima.
void Shrink(Box& box, const std::vector<Cell>& cells) {
    if (box.First == box.Last) {
        box.MinR = box.MaxR;
        box.MinG = box.MaxG;
        box.MinB = box.MaxB;
        return;
    }
    int minR = 255, minG = 255, minB = 255, maxR = 0, maxG = 0, maxB = 0;
    for (uint32_t i = box.First; i < box.Last; ++i) {
        const Cell& c = cells[i];
        minR = std::min<int>(minR, c.R), maxR = std::max<int>(maxR, c.R);
        minG = std::min<int>(minG, c.G), maxG = std::max<int>(maxG, c.G);
        minB = std::min<int>(minB, c.B), maxB = std::max<int>(maxB, c.B);
    }
    box.MinR = static_cast<int16_t>(minR), box.MaxR = static_cast<int16_t>(maxR);
    box.MinG = static_cast<int16_t>(minG), box.MaxG = static_cast<int16_t>(maxG);
    box.MinB = static_cast<int16_t>(minB), box.MaxB = static_cast<int16_t>(maxB);
}

void Measure(Box& box, const std::vector<Cell>& cells) {
    uint32_t count = 0;
    for (uint32_t i = box.First; i < box.Last; ++i) count += cells[i].Count;
    box.Count = count;
    box.Cells = box.Last - box.First;
}

void MeasureSize(Box& box) {
    const int dr = box.MaxR - box.MinR, dg = box.MaxG - box.MinG, db = box.MaxB - box.MinB;
    box.Size = static_cast<uint32_t>(dr * dr + dg * dg + db * db);
}

// Cuts box at the middle of its longest side (ties: green, then blue, then red) into
// itself and 'added'.
void Cut(Box& box, Box& added, std::vector<Cell>& cells) {
    const uint32_t total = box.Count, totalCells = box.Cells;
    const int dr = box.MaxR - box.MinR, dg = box.MaxG - box.MinG, db = box.MaxB - box.MinB;
    added = box;
    auto split = [&](uint8_t Cell::*axis, int16_t Box::*min, int16_t Box::*max, int extent) {
        const int16_t middle = static_cast<int16_t>(box.*min + extent / 2);
        box.*max = middle;
        added.*min = static_cast<int16_t>(middle + 1);
        auto it = std::partition(cells.begin() + box.First, cells.begin() + box.Last,
                                 [&](const Cell& c) { return c.*axis <= middle; });
        box.Last = added.First = static_cast<uint32_t>(it - cells.begin());
    };
    if (dg >= dr && dg >= db)
        split(&Cell::G, &Box::MinG, &Box::MaxG, dg);
    else if (db >= dr)
        split(&Cell::B, &Box::MinB, &Box::MaxB, db);
    else
        split(&Cell::R, &Box::MinR, &Box::MaxR, dr);
    Shrink(box, cells);
    Shrink(added, cells);
    Measure(box, cells);
    added.Count = total - box.Count;
    added.Cells = totalCells - box.Cells;
    MeasureSize(box);
    MeasureSize(added);
}

// Sorts the histogram keys of all pixels and counts each distinct key (saturating at
// 65535), which gives the occupied cells without clearing or scanning L^3 counters.
std::vector<Cell> CountCells(std::vector<uint32_t>& keys, int levels) {
    const uint32_t cellCount = static_cast<uint32_t>(levels * levels * levels);
    std::vector<uint32_t> buffer(keys.size());
    constexpr int kDigit = 11;
    for (int shift = 0; (cellCount - 1) >> shift; shift += kDigit) {
        std::array<uint32_t, (1 << kDigit) + 1> start{};
        for (uint32_t k : keys) ++start[((k >> shift) & ((1 << kDigit) - 1)) + 1];
        for (size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
        for (uint32_t k : keys) buffer[start[(k >> shift) & ((1 << kDigit) - 1)]++] = k;
        keys.swap(buffer);
    }
    std::vector<Cell> cells;
    const uint32_t plane = static_cast<uint32_t>(levels * levels);
    for (size_t i = 0; i < keys.size();) {
        size_t j = i;
        while (j < keys.size() && keys[j] == keys[i]) ++j;
        const uint32_t k = keys[i];
        cells.push_back({static_cast<uint8_t>(k / plane), static_cast<uint8_t>(k / levels % levels),
                         static_cast<uint8_t>(k % levels),
                         static_cast<uint16_t>(std::min<size_t>(j - i, 65535))});
        i = j;
    }
    return cells;
}

// Nearest palette entry per histogram cell, remembered for the whole mapping pass. Only
// the cells the picture reaches are kept, in an open-addressed table.
class CellCache {
  public:
    // Sized for the cells a picture can reach; it grows if a big one reaches more.
    bool Init(size_t pixels, size_t cellCount) {
        size_t capacity = 64;
        const size_t wanted = 2 * std::min({pixels, cellCount, size_t{1} << 18});
        while (capacity < wanted) capacity *= 2;
        return Allocate(capacity);
    }
    // The slot of a cell; Known() tells whether it holds an answer.
    size_t Slot(uint32_t cell) const {
        const uint32_t key = cell + 1;
        size_t slot = (key * 2654435761u) & mask_;
        while (keys_[slot] != 0 && keys_[slot] != key) slot = (slot + 1) & mask_;
        return slot;
    }
    bool Known(size_t slot) const { return keys_[slot] != 0; }
    uint8_t Value(size_t slot) const { return values_[slot]; }
    // False when the table could not grow (out of memory).
    bool Store(size_t slot, uint32_t cell, uint8_t value) {
        keys_[slot] = cell + 1;
        values_[slot] = value;
        return ++used_ * 2 <= keys_.size() || Grow();
    }

  private:
    bool Allocate(size_t capacity) {
        try {
            keys_.assign(capacity, 0);
            values_.assign(capacity, 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
        mask_ = capacity - 1;
        used_ = 0;
        return true;
    }
    bool Grow() {
        std::vector<uint32_t> keys = std::move(keys_);
        std::vector<uint8_t> values = std::move(values_);
        if (!Allocate(keys.size() * 2)) return false;
        for (size_t i = 0; i < keys.size(); ++i)
            if (keys[i]) {
                const size_t slot = Slot(keys[i] - 1);
                keys_[slot] = keys[i];
                values_[slot] = values[i];
                ++used_;
            }
        return true;
    }

    std::vector<uint32_t> keys_;
    std::vector<uint8_t> values_;
    size_t mask_ = 0;
    size_t used_ = 0;
};

struct Run {
    int ColourCount = 256;
    FileInput Input;
    FILE* Output = nullptr;
    bitmap::Info In{};
    bitmap::Info Out{};
    std::array<uint8_t, 1024> Palette{};
    int Bits = 0;    // p
    int Levels = 0;  // 2^p + 1

    int Level(int v) const { return (v + (1 << (7 - Bits))) >> (8 - Bits); }
    int LevelValue(int level) const { return level == (1 << Bits) ? 255 : level << (8 - Bits); }
};

int BuildPalette(Run& run) {
    const int32_t width = run.In.Width, height = run.In.Height;
    const int colours = run.ColourCount;
    std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
    std::vector<uint32_t> keys;
    try {
        // The header alone is no proof the rows exist: reserve for at most a large frame.
        keys.reserve(std::min<size_t>(static_cast<size_t>(width) * height, size_t{1} << 20));
    } catch (const std::bad_alloc&) {
        return kReduceNoMemory;
    }
    const uint32_t plane = static_cast<uint32_t>(run.Levels * run.Levels);
    for (int32_t y = 1; y <= height; ++y) {
        if (!ReadRow(&run.Input, run.In, y, row.data())) return kReduceReadFailed;
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* p = &row[3 * x];
            keys.push_back(run.Level(p[2]) * plane + run.Level(p[1]) * run.Levels +
                           run.Level(p[0]));
        }
    }
    std::vector<Cell> cells = CountCells(keys, run.Levels);
    keys = {};

    std::array<Box, kMaxBoxes> boxes{};
    const int16_t top = static_cast<int16_t>(1 << run.Bits);
    boxes[0].MaxR = boxes[0].MaxG = boxes[0].MaxB = top;
    boxes[0].Last = static_cast<uint32_t>(cells.size());
    Shrink(boxes[0], cells);
    Measure(boxes[0], cells);
    MeasureSize(boxes[0]);

    int made = 1;
    int repeats = 0;
    for (int i = 0; i < colours - 1;) {
        const bool bySize = 2 * i < colours;
        int chosen = 0;
        uint32_t best = 0;
        for (int k = 0; k <= i; ++k) {
            if (boxes[k].SingleCell()) continue;
            const uint32_t value = bySize ? boxes[k].Size : boxes[k].Cells;
            if (value > best) best = value, chosen = k;
        }
        if (boxes[chosen].SingleCell()) break;
        Cut(boxes[chosen], boxes[i + 1], cells);
        // An empty half is dropped and the same step is taken again; no box stays empty
        // for long, so the guard only stops a broken histogram from looping.
        if (boxes[chosen].Count == 0 && repeats < 4 * kMaxBoxes) {
            boxes[chosen] = boxes[i + 1];
            ++repeats;
            continue;
        }
        if (boxes[i + 1].Count == 0 && repeats < 4 * kMaxBoxes) {
            ++repeats;
            continue;
        }
        ++i;
        made = i + 1;
    }

    std::stable_sort(boxes.begin(), boxes.begin() + made,
                     [](const Box& a, const Box& b) { return a.Count > b.Count; });
    struct Entry {
        uint8_t B, G, R;
    };
    std::vector<Entry> entries(colours, Entry{0, 0, 0});
    for (int k = 0; k < made && k < colours; ++k) {
        const Box& box = boxes[k];
        uint64_t sumR = 0, sumG = 0, sumB = 0, total = 0;
        for (uint32_t c = box.First; c < box.Last; ++c) {
            const Cell& cell = cells[c];
            sumR += static_cast<uint64_t>(cell.Count) * run.LevelValue(cell.R);
            sumG += static_cast<uint64_t>(cell.Count) * run.LevelValue(cell.G);
            sumB += static_cast<uint64_t>(cell.Count) * run.LevelValue(cell.B);
            total += cell.Count;
        }
        if (total == 0) {
            entries[k] = {static_cast<uint8_t>(run.LevelValue((box.MinB + box.MaxB) / 2)),
                          static_cast<uint8_t>(run.LevelValue((box.MinG + box.MaxG) / 2)),
                          static_cast<uint8_t>(run.LevelValue((box.MinR + box.MaxR) / 2))};
        } else {
            entries[k] = {static_cast<uint8_t>((sumB + total / 2) / total),
                          static_cast<uint8_t>((sumG + total / 2) / total),
                          static_cast<uint8_t>((sumR + total / 2) / total)};
        }
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.R * a.G * a.B < b.R * b.G * b.B;
    });
    run.Palette.fill(0);
    for (int k = 0; k < colours; ++k) {
        run.Palette[4 * k] = entries[k].B;
        run.Palette[4 * k + 1] = entries[k].G;
        run.Palette[4 * k + 2] = entries[k].R;
    }
    return kReduceDone;
}

// The palette entry nearest to a colour (smallest sum of squared differences, the lowest
// index among equals), found without trying every entry: the entries are kept in green
// order and the search walks out from the colour's green, stopping on each side once the
// green difference alone exceeds the best distance so far. It starts from a guess (the
// neighbour's answer), which makes that bound tight at once.
class NearestSearch {
  public:
    NearestSearch(const uint8_t* palette, int colours) {
        for (int k = 0; k < colours; ++k)
            entries_.push_back(
                {palette[4 * k], palette[4 * k + 1], palette[4 * k + 2], static_cast<uint8_t>(k)});
        std::stable_sort(entries_.begin(), entries_.end(),
                         [](const Entry& a, const Entry& b) { return a.G < b.G; });
        size_t i = 0;
        for (int g = 0; g < 256; ++g) {
            while (i < entries_.size() && entries_[i].G < g) ++i;
            start_[g] = static_cast<uint16_t>(i);
        }
        palette_ = palette;
    }

    int Nearest(int b, int g, int r, int guess) const {
        const uint8_t* e = palette_ + 4 * guess;
        int best = guess;
        int bestDistance = Square(b - e[0]) + Square(g - e[1]) + Square(r - e[2]);
        auto consider = [&](const Entry& entry) {
            const int d = Square(b - entry.B) + Square(g - entry.G) + Square(r - entry.R);
            if (d < bestDistance || (d == bestDistance && entry.Index < best))
                bestDistance = d, best = entry.Index;
        };
        const int count = static_cast<int>(entries_.size());
        for (int i = start_[g]; i < count && Square(entries_[i].G - g) <= bestDistance; ++i)
            consider(entries_[i]);
        for (int i = start_[g] - 1; i >= 0 && Square(g - entries_[i].G) <= bestDistance; --i)
            consider(entries_[i]);
        return best;
    }

  private:
    struct Entry {
        uint8_t B, G, R, Index;
    };
    static int Square(int v) { return v * v; }

    std::vector<Entry> entries_;
    std::array<uint16_t, 256> start_{};
    const uint8_t* palette_ = nullptr;
};

int MapPixels(Run& run) {
    const int32_t width = run.In.Width, height = run.In.Height;
    const int colours = run.ColourCount;
    CellCache cache;
    if (!cache.Init(static_cast<size_t>(width) * height,
                    static_cast<size_t>(run.Levels) * run.Levels * run.Levels))
        return kReduceNoMemory;
    std::vector<uint8_t> in(static_cast<size_t>(width) * 3);
    std::vector<uint8_t> out(static_cast<size_t>(width));
    // Working values with one spare pixel at each end: column x lives at x + 1.
    std::vector<int> current((static_cast<size_t>(width) + 2) * 3, 0);
    std::vector<int> next((static_cast<size_t>(width) + 2) * 3, 0);
    const uint8_t* pal = run.Palette.data();
    const int plane = run.Levels * run.Levels;
    const NearestSearch search(pal, colours);

    int previous = 0;
    for (int32_t y = 1; y <= height; ++y) {
        if (!ReadRow(&run.Input, run.In, y, in.data())) return kReduceReadFailed;
        for (int32_t x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                current[3 * (x + 1) + c] = next[3 * (x + 1) + c] + in[3 * x + c];
        std::fill(next.begin(), next.end(), 0);

        const bool leftward = (y & 1) != 0;
        const int step = leftward ? -1 : 1;
        for (int32_t n = 0; n < width; ++n) {
            const int32_t x = leftward ? width - 1 - n : n;
            int* w = &current[3 * (x + 1)];
            const int b = std::clamp(w[0], 0, 255), g = std::clamp(w[1], 0, 255),
                      r = std::clamp(w[2], 0, 255);
            const uint32_t cell = static_cast<uint32_t>(run.Level(r) * plane +
                                                        run.Level(g) * run.Levels + run.Level(b));
            const size_t slot = cache.Slot(cell);
            uint8_t index;
            if (cache.Known(slot)) {
                index = cache.Value(slot);
            } else {
                index = static_cast<uint8_t>(search.Nearest(b, g, r, previous));
                if (!cache.Store(slot, cell, index)) return kReduceNoMemory;
            }
            previous = index;
            out[x] = index;
            const uint8_t* e = pal + 4 * index;
            const int error[3] = {b - e[0], g - e[1], r - e[2]};
            int* ahead = &current[3 * (x + 1 + step)];
            int* below = &next[3 * (x + 1)];
            for (int c = 0; c < 3; ++c) {
                ahead[c] += 8 * error[c] / 16;
                below[c - 3] += 2 * error[c] / 16;
                below[c] += 4 * error[c] / 16;
                below[c + 3] += error[c] / 16;
            }
        }
        if (!WriteRow(run.Output, run.Out, y, out.data())) return kReduceWriteFailed;
    }
    return kReduceDone;
}

int Reduce(Run& run, int quality) {
    if (!ReadHeader(&run.Input, &run.In)) return kReduceReadFailed;
    if (run.In.BitCount != 24) return kReduceNot24Bit;
    // Rows are addressed bottom-up from the height; other shapes are not a picture here.
    if (run.In.Width <= 0 || run.In.Width > kMaxSide || run.In.Height <= 0 ||
        run.In.Height > kMaxSide)
        return kReduceReadFailed;

    run.Bits = quality + 3;
    run.Levels = (1 << run.Bits) + 1;
    run.Out = run.In;
    run.Out.Size = 40;
    run.Out.BitCount = 8;
    run.Out.Planes = 1;
    run.Out.Compression = bitmap::kRgb;
    run.Out.SizeImage = static_cast<uint32_t>(((run.In.Width + 3) & ~3) * run.In.Height);
    run.Out.ClrUsed = 0;
    run.Out.ClrImportant = 0;

    if (const int result = BuildPalette(run); result != kReduceDone) return result;
    if (!WriteHeader(run.Output, run.Out, run.Palette.data())) return kReduceWriteFailed;
    return MapPixels(run);
}

}  // namespace

int ReduceColours(const std::string& source, const std::string& destination, int quality,
                  int colourCount) {
    if (quality < 0 || quality > 4 || colourCount < 1 || colourCount > 256)
        return kReduceBadParameters;
    qv::UniqueFile inFile(std::fopen(source.c_str(), "rb"));
    if (!inFile) return kReduceBadParameters;
    qv::UniqueFile outFile(std::fopen(destination.c_str(), "wb"));
    if (!outFile) return kReduceBadParameters;
    Run run;
    run.ColourCount = colourCount;
    run.Input.File = inFile.get();
    run.Output = outFile.get();
    int result;
    try {
        result = Reduce(run, quality);
    } catch (const std::bad_alloc&) {
        result = kReduceNoMemory;
    }
    if (std::fclose(outFile.release()) != 0 && result == kReduceDone) result = kReduceWriteFailed;
    return result;
}

}  // namespace qv
