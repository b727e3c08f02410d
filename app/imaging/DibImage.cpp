#include "app/imaging/DibImage.h"
#include "platform/file/Owners.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/capture/Bitmap.h"

namespace qv {
namespace {

// Sizes beyond these are not camera frames or attachments; refusing them keeps a broken
// header from asking for gigabytes.
constexpr int32_t kMaxSide = 16384;
constexpr uint64_t kMaxPixelBytes = 256ull << 20;

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bitmap::Info ReadHeader(const std::vector<uint8_t>& block) {
    bitmap::Info h{};
    if (block.size() >= sizeof h) std::memcpy(&h, block.data(), sizeof h);
    return h;
}
void WriteHeader(std::vector<uint8_t>& block, const bitmap::Info& h) {
    std::memcpy(block.data(), &h, sizeof h);
}

bool ValidBitCount(int bitCount) {
    return bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 ||
           bitCount == 32;
}

bool HasMasks(const bitmap::Info& h) {
    return h.Compression == bitmap::kBitfields && (h.BitCount == 16 || h.BitCount == 32);
}

// Layouts whose pixel block size follows from width, height and bit count.
bool UncompressedLayout(const bitmap::Info& h) {
    if (h.Compression == bitmap::kRgb) return true;
    if (h.Compression == bitmap::kBitfields) return h.BitCount == 16 || h.BitCount == 32;
    if (h.Compression == bitmap::kYuy2 || h.Compression == bitmap::kUyvy) return h.BitCount == 16;
    return false;
}

bool SaneSize(const bitmap::Info& h) {
    return h.Width > 0 && h.Width <= kMaxSide && h.Height != 0 && h.Height >= -kMaxSide &&
           h.Height <= kMaxSide && ValidBitCount(h.BitCount);
}

uint64_t NeededPixelBytes(const bitmap::Info& h) {
    const int64_t rows = h.Height < 0 ? -static_cast<int64_t>(h.Height) : h.Height;
    return static_cast<uint64_t>(DibImage::RowBytes(h.Width, h.BitCount)) *
           static_cast<uint64_t>(rows);
}

// A channel mask of bit fields: where it starts and how many bits it has.
struct Channel {
    uint32_t Mask = 0;
    int Shift = 0;
    int Bits = 0;
    bool Set(uint32_t mask) {
        Mask = mask;
        if (mask == 0) return true;
        Shift = std::countr_zero(mask);
        const uint32_t run = mask >> Shift;
        Bits = std::popcount(run);
        return (run & (run + 1)) == 0;  // one contiguous run
    }
    uint8_t Take(uint32_t pixel) const {
        if (Mask == 0) return 0;
        const uint32_t v = (pixel & Mask) >> Shift;
        return static_cast<uint8_t>(Bits >= 8 ? v >> (Bits - 8) : v << (8 - Bits));
    }
};

// The capture preview's own conversion, so a saved picture looks like the preview did.
using qv::bitmap::YuvToBgr;

// The header block of a plain picture made from src, followed by tableBytes of zeros for its
// colour table. A colours-used count left behind would make the next load take pixel rows for
// a table, so it goes; what else src says (resolution) stays.
std::vector<uint8_t> DerivedHeader(bitmap::Info h, int32_t width, int32_t height, uint16_t bitCount,
                                   size_t tableBytes = 0) {
    h.Width = width;
    h.Height = height;
    h.BitCount = bitCount;
    h.Compression = bitmap::kRgb;
    h.SizeImage = static_cast<uint32_t>(DibImage::RowBytes(width, bitCount) * height);
    h.ClrUsed = 0;
    h.ClrImportant = 0;
    std::vector<uint8_t> block(40 + tableBytes, 0);
    WriteHeader(block, h);
    return block;
}

// An uncompressed 24-bit picture: its pixel block then holds every row (Assign checks).
bool Plain24(const DibImage& picture) {
    const bitmap::Info h = picture.Header();
    return !picture.Empty() && h.BitCount == 24 && h.Compression == bitmap::kRgb;
}

}  // namespace

void RemovePartial(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) std::remove(path.c_str());
}

size_t DibImage::RowBytes(int32_t width, int bitCount) {
    if (width <= 0 || bitCount <= 0) return 0;
    return static_cast<size_t>((static_cast<uint64_t>(width) * bitCount + 31) / 32 * 4);
}

void DibImage::Clear() {
    headerBlock_.clear();
    pixelBlock_.clear();
}

bitmap::Info DibImage::Header() const {
    return ReadHeader(headerBlock_);
}

size_t DibImage::Stride() const {
    const bitmap::Info h = Header();
    return RowBytes(h.Width, h.BitCount);
}

uint8_t* DibImage::Row(int32_t y) {
    return const_cast<uint8_t*>(static_cast<const DibImage*>(this)->Row(y));
}

const uint8_t* DibImage::Row(int32_t y) const {
    const bitmap::Info h = Header();
    const size_t stride = Stride();
    if (y < 0 || y >= h.Height || stride == 0) return nullptr;
    const size_t offset = static_cast<size_t>(y) * stride;
    if (offset + stride > pixelBlock_.size()) return nullptr;
    return pixelBlock_.data() + offset;
}

size_t DibImage::ColourCount() const {
    if (headerBlock_.size() < 40) return 0;
    size_t bytes = headerBlock_.size() - 40;
    if (HasMasks(Header())) bytes = bytes >= 12 ? bytes - 12 : 0;
    return bytes / 4;
}

const uint8_t* DibImage::ColourTable() const {
    if (ColourCount() == 0) return nullptr;
    return headerBlock_.data() + 40 + (HasMasks(Header()) ? 12 : 0);
}

bool DibImage::Assign(std::vector<uint8_t> headerBlock, std::vector<uint8_t> pixelBlock) {
    Clear();
    if (headerBlock.size() < 40) return false;
    const bitmap::Info h = ReadHeader(headerBlock);
    if (h.Size != 40 || !SaneSize(h) || h.Height < 0) return false;
    if (UncompressedLayout(h) ? pixelBlock.size() < NeededPixelBytes(h) : pixelBlock.empty())
        return false;
    headerBlock_ = std::move(headerBlock);
    pixelBlock_ = std::move(pixelBlock);
    return true;
}

bool DibImage::Create(int32_t width, int32_t height, int bitCount) {
    Clear();
    if (width <= 0 || width > kMaxSide || height <= 0 || height > kMaxSide) return false;
    if (bitCount != 24 && bitCount != 8) return false;
    bitmap::Info h;
    h.Width = width;
    h.Height = height;
    h.BitCount = static_cast<uint16_t>(bitCount);
    h.SizeImage = static_cast<uint32_t>(RowBytes(width, bitCount) * height);
    std::vector<uint8_t> header(40 + (bitCount == 8 ? 1024 : 0), 0);
    WriteHeader(header, h);
    return Assign(std::move(header), std::vector<uint8_t>(h.SizeImage, 0));
}

// Called on the picture-saving and mail threads, each on its own objects.
bool DibImage::LoadBmp(const std::string& path) {
    Clear();
    qv::UniqueFile file(std::fopen(path.c_str(), "rb"));
    if (!file) return false;
    struct stat st {};
    if (fstat(fileno(file.get()), &st) != 0) return false;
    const uint64_t fileSize = static_cast<uint64_t>(st.st_size);

    uint8_t fileHeader[14];
    if (std::fread(fileHeader, 1, sizeof fileHeader, file.get()) != sizeof fileHeader) return false;
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') return false;
    const uint32_t pixelOffset = Get32(fileHeader + 10);

    std::vector<uint8_t> header(40);
    if (std::fread(header.data(), 1, 40, file.get()) != 40) return false;
    bitmap::Info h = ReadHeader(header);
    if (h.Size != 40 || !SaneSize(h)) return false;

    uint64_t tableBytes = static_cast<uint64_t>(h.ClrUsed) * 4;
    if (h.ClrUsed == 0 && h.BitCount <= 8) tableBytes = 4ull << h.BitCount;
    // Bit fields: the three channel masks precede any table, unless the pixel offset says
    // the pixels follow the header at once.
    if (HasMasks(h) && pixelOffset != 54 + tableBytes) tableBytes += 12;
    if (54 + tableBytes > fileSize) return false;
    header.resize(40 + tableBytes, 0);
    if (tableBytes && std::fread(header.data() + 40, 1, tableBytes, file.get()) != tableBytes)
        return false;

    uint64_t pixelBytes = h.SizeImage;
    if (UncompressedLayout(h)) {
        const uint64_t needed = NeededPixelBytes(h);
        // A short image size would let every reader of the rows run off the block.
        if (pixelBytes == 0) pixelBytes = needed;
        if (pixelBytes < needed) return false;
    } else if (pixelBytes == 0 || h.Height < 0) {
        return false;
    }
    if (pixelBytes > kMaxPixelBytes) return false;

    // Pixels usually follow the table; a writer that leaves a gap says so in the offset.
    uint64_t start = 54 + tableBytes;
    if (pixelOffset > start && pixelOffset + pixelBytes <= fileSize) start = pixelOffset;
    if (start + pixelBytes > fileSize) return false;
    if (std::fseek(file.get(), static_cast<long>(start), SEEK_SET) != 0) return false;
    std::vector<uint8_t> pixels(pixelBytes);
    if (std::fread(pixels.data(), 1, pixelBytes, file.get()) != pixelBytes) return false;

    if (h.Height < 0) {  // top-down: keep every picture in memory bottom-up
        const size_t stride = RowBytes(h.Width, h.BitCount);
        const int32_t rows = -h.Height;
        for (int32_t top = 0, bottom = rows - 1; top < bottom; ++top, --bottom)
            std::swap_ranges(pixels.begin() + top * stride, pixels.begin() + (top + 1) * stride,
                             pixels.begin() + bottom * stride);
        h.Height = rows;
        WriteHeader(header, h);
    }
    return Assign(std::move(header), std::move(pixels));
}

// Called on the picture-saving and mail threads, each on its own objects.
bool DibImage::SaveBmp(const std::string& path) const {
    if (Empty()) return false;
    const auto fileHeader = qv::bitmap::FileHeader(static_cast<uint32_t>(headerBlock_.size()),
                                                   static_cast<uint32_t>(pixelBlock_.size()));
    qv::UniqueFile file(std::fopen(path.c_str(), "wb"));
    if (!file) return false;
    bool ok =
        std::fwrite(fileHeader.data(), 1, 14, file.get()) == 14 &&
        std::fwrite(headerBlock_.data(), 1, headerBlock_.size(), file.get()) ==
            headerBlock_.size() &&
        std::fwrite(pixelBlock_.data(), 1, pixelBlock_.size(), file.get()) == pixelBlock_.size();
    if (std::fclose(file.release()) != 0) ok = false;
    // A half-written picture must not pass for a whole one at the next step.
    if (!ok) RemovePartial(path);
    return ok;
}

bool DibImage::ScaleDib(int32_t newWidth, int32_t newHeight, DibImage& out) const {
    const bitmap::Info src = Header();
    if (!Plain24(*this)) return false;
    if (newWidth <= 0 || newWidth > kMaxSide || newHeight <= 0 || newHeight > kMaxSide)
        return false;
    const size_t newStride = RowBytes(newWidth, 24);
    std::vector<uint8_t> header = DerivedHeader(src, newWidth, newHeight, 24);
    std::vector<uint8_t> pixels(newStride * newHeight, 0);

    const double xStep = static_cast<double>(src.Width) / newWidth;
    const double yStep = static_cast<double>(src.Height) / newHeight;
    std::vector<int32_t> column(newWidth);
    for (int32_t j = 0; j < newWidth; ++j)
        column[j] = std::min(static_cast<int32_t>(std::floor(xStep * j)), src.Width - 1);
    for (int32_t i = 0; i < newHeight; ++i) {
        const int32_t sy = std::min(static_cast<int32_t>(std::floor(yStep * i)), src.Height - 1);
        const uint8_t* from = Row(sy);
        uint8_t* to = pixels.data() + static_cast<size_t>(i) * newStride;
        for (int32_t j = 0; j < newWidth; ++j) std::memcpy(to + 3 * j, from + 3 * column[j], 3);
    }
    return out.Assign(std::move(header), std::move(pixels));
}

bool DibImage::CropDib(int32_t width, int32_t height, DibImage& out) const {
    const bitmap::Info src = Header();
    if (!Plain24(*this)) return false;
    if (width <= 0 || height <= 0 || width > src.Width || height > src.Height) return false;
    const int32_t left = (src.Width - width) >> 1;
    const int32_t bottom = (src.Height - height) >> 1;
    const size_t newStride = RowBytes(width, 24);
    std::vector<uint8_t> header = DerivedHeader(src, width, height, 24);
    std::vector<uint8_t> pixels(newStride * height, 0);
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(pixels.data() + static_cast<size_t>(y) * newStride, Row(bottom + y) + 3 * left,
                    static_cast<size_t>(width) * 3);
    return out.Assign(std::move(header), std::move(pixels));
}

// Called on the picture-saving and mail threads, each on its own objects.
bool DibImage::ToTrueColour(DibImage& out) const {
    const bitmap::Info src = Header();
    if (Empty()) return false;
    const int bits = src.BitCount;
    const uint32_t comp = src.Compression;
    enum class Kind { Palette, Rgb555, Masks, Yuy2, Uyvy, Bgrx } kind;
    Channel red, green, blue;
    if (bits == 8 && comp == bitmap::kRgb) {
        kind = Kind::Palette;
    } else if (bits == 16 && comp == bitmap::kRgb) {
        kind = Kind::Rgb555;
    } else if (bits == 16 && comp == bitmap::kYuy2) {
        kind = Kind::Yuy2;
    } else if (bits == 16 && comp == bitmap::kUyvy) {
        kind = Kind::Uyvy;
    } else if (bits == 32 && comp == bitmap::kRgb) {
        kind = Kind::Bgrx;
    } else if ((bits == 16 || bits == 32) && comp == bitmap::kBitfields) {
        kind = Kind::Masks;
        // Without masks in the file: 5-6-5 for 16 bits, blue-green-red-x for 32.
        uint32_t r = bits == 16 ? 0xF800 : 0xFF0000, g = bits == 16 ? 0x07E0 : 0xFF00,
                 b = bits == 16 ? 0x001F : 0xFF;
        if (headerBlock_.size() >= 52) {
            const uint32_t mr = Get32(&headerBlock_[40]), mg = Get32(&headerBlock_[44]),
                           mb = Get32(&headerBlock_[48]);
            if (mr | mg | mb) r = mr, g = mg, b = mb;
        }
        if (!red.Set(r) || !green.Set(g) || !blue.Set(b)) return false;
    } else {
        return false;
    }

    const int32_t width = src.Width;
    const int32_t height = src.Height;
    const size_t newStride = RowBytes(width, 24);
    std::vector<uint8_t> header = DerivedHeader(src, width, height, 24);
    std::vector<uint8_t> pixels(newStride * height, 0);

    const uint8_t* table = ColourTable();
    const size_t entries = ColourCount();
    // Packed YUV frames run top-down whatever the sign of the height.
    const bool topDown = kind == Kind::Yuy2 || kind == Kind::Uyvy;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* s = Row(topDown ? height - 1 - y : y);
        uint8_t* d = pixels.data() + static_cast<size_t>(y) * newStride;
        for (int32_t x = 0; x < width; ++x, d += 3) {
            switch (kind) {
                case Kind::Palette: {
                    const uint8_t index = s[x];
                    // Values past a short table stay black instead of reading beyond it.
                    if (index < entries) std::memcpy(d, table + 4 * index, 3);
                    break;
                }
                case Kind::Rgb555: {
                    const uint32_t p = Get16(s + 2 * x);
                    d[0] = static_cast<uint8_t>((p & 0x1F) << 3);
                    d[1] = static_cast<uint8_t>(((p >> 5) & 0x1F) << 3);
                    d[2] = static_cast<uint8_t>(((p >> 10) & 0x1F) << 3);
                    break;
                }
                case Kind::Masks: {
                    const uint32_t p = bits == 16 ? Get16(s + 2 * x) : Get32(s + 4 * x);
                    d[0] = blue.Take(p);
                    d[1] = green.Take(p);
                    d[2] = red.Take(p);
                    break;
                }
                case Kind::Yuy2: {
                    const uint8_t* pair = s + 4 * (x / 2);
                    YuvToBgr(pair[(x & 1) ? 2 : 0], pair[1], pair[3], d);
                    break;
                }
                case Kind::Uyvy: {
                    const uint8_t* pair = s + 4 * (x / 2);
                    YuvToBgr(pair[(x & 1) ? 3 : 1], pair[0], pair[2], d);
                    break;
                }
                case Kind::Bgrx:
                    std::memcpy(d, s + 4 * x, 3);
                    break;
            }
        }
    }
    return out.Assign(std::move(header), std::move(pixels));
}

bool DibImage::PopularColours(DibImage& out) const {
    const bitmap::Info src = Header();
    if (!Plain24(*this)) return false;
    const int32_t width = src.Width;
    const int32_t height = src.Height;

    std::array<uint32_t, 4096> counts{};
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* p = Row(y);
        for (int32_t x = 0; x < width; ++x, p += 3)
            ++counts[((p[2] >> 4) << 8) | ((p[1] >> 4) << 4) | (p[0] >> 4)];
    }
    std::array<uint16_t, 4096> order;
    for (int i = 0; i < 4096; ++i) order[i] = static_cast<uint16_t>(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](uint16_t a, uint16_t b) { return counts[a] < counts[b]; });

    struct Entry {
        uint8_t B, G, R;
    };
    std::array<Entry, 256> palette;
    for (int n = 0; n < 256; ++n) {
        const int index = order[4095 - n];  // most frequent first
        palette[n] = {static_cast<uint8_t>((index & 15) * 16),
                      static_cast<uint8_t>(((index >> 4) & 15) * 16),
                      static_cast<uint8_t>(((index >> 8) & 15) * 16)};
    }
    std::stable_sort(palette.begin(), palette.end(), [](const Entry& a, const Entry& b) {
        return a.R * a.G * a.B < b.R * b.G * b.B;
    });

    const size_t newStride = RowBytes(width, 8);
    std::vector<uint8_t> header = DerivedHeader(src, width, height, 8, 1024);
    for (int n = 0; n < 256; ++n) {
        header[40 + 4 * n] = palette[n].B;
        header[41 + 4 * n] = palette[n].G;
        header[42 + 4 * n] = palette[n].R;
    }

    // Nearest entry per exact colour; a small cache since frames repeat colours a lot.
    constexpr size_t kCacheSize = 8192;
    std::vector<uint32_t> cacheKey(kCacheSize, 0xFFFFFFFFu);
    std::vector<uint8_t> cacheIndex(kCacheSize);
    std::vector<uint8_t> pixels(newStride * height, 0);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* p = Row(y);
        uint8_t* d = pixels.data() + static_cast<size_t>(y) * newStride;
        for (int32_t x = 0; x < width; ++x, p += 3) {
            const uint32_t key = p[0] | (p[1] << 8) | (p[2] << 16);
            const size_t slot = (key * 2654435761u) >> 19 & (kCacheSize - 1);
            if (cacheKey[slot] != key) {
                int best = 0;
                int bestDistance = 1 << 30;
                for (int n = 0; n < 256; ++n) {
                    const int db = p[0] - palette[n].B, dg = p[1] - palette[n].G,
                              dr = p[2] - palette[n].R;
                    const int distance = db * db + dg * dg + dr * dr;
                    if (distance < bestDistance) bestDistance = distance, best = n;
                }
                cacheKey[slot] = key;
                cacheIndex[slot] = static_cast<uint8_t>(best);
            }
            d[x] = cacheIndex[slot];
        }
    }
    return out.Assign(std::move(header), std::move(pixels));
}

bool DibImage::MaskChannels(int bits, DibImage& out) const {
    const bitmap::Info src = Header();
    if (!Plain24(*this) || (bits != 15 && bits != 16)) return false;
    const uint8_t greenMask = bits == 16 ? 0xFC : 0xF8;
    std::vector<uint8_t> pixels = pixelBlock_;
    const size_t stride = Stride();
    for (int32_t y = 0; y < src.Height; ++y) {
        uint8_t* p = pixels.data() + static_cast<size_t>(y) * stride;
        for (int32_t x = 0; x < src.Width; ++x, p += 3) {
            p[0] &= 0xF8;
            p[1] &= greenMask;
            p[2] &= 0xF8;
        }
    }
    std::vector<uint8_t> header = headerBlock_;
    return out.Assign(std::move(header), std::move(pixels));
}

}  // namespace qv
