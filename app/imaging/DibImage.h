// A BMP picture in memory: the information header with its colour table (the header
// block) and the rows, bottom row first, each padded to 4 bytes (the pixel block).
// Used by picture saving and by the attachment conversion; each thread works on its
// own objects, nothing is shared between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/capture/Bitmap.h"

namespace qv {

class DibImage {
  public:
    DibImage() = default;
    DibImage(DibImage&&) noexcept = default;
    DibImage& operator=(DibImage&&) noexcept = default;
    DibImage(const DibImage&) = delete;
    DibImage& operator=(const DibImage&) = delete;

    // Bytes of one BMP row: width x bitCount bits rounded up to a multiple of 4 bytes.
    static size_t RowBytes(int32_t width, int bitCount);

    // Takes over the two blocks after checking that the header is 40 bytes long and
    // that the pixel block holds every row the header describes; false leaves *this empty.
    bool Assign(std::vector<uint8_t> headerBlock, std::vector<uint8_t> pixelBlock);
    // A blank bottom-up picture (24 or 8 bits; 8 bits get a 256-entry black table).
    bool Create(int32_t width, int32_t height, int bitCount);
    void Clear();

    // Reads a whole BMP file; refuses a file whose header sizes do not fit its data.
    // Top-down files are turned bottom-up. False leaves *this empty.
    bool LoadBmp(const std::string& path);
    // Writes the file header, the header block and the pixel block. On failure the
    // partial file is removed.
    bool SaveBmp(const std::string& path) const;

    // Nearest-neighbour scaling of a 24-bit picture.
    bool ScaleDib(int32_t newWidth, int32_t newHeight, DibImage& out) const;
    // The middle width x height of a 24-bit picture (no larger than the picture).
    bool CropDib(int32_t width, int32_t height, DibImage& out) const;
    // 8-bit palette, 16-bit (5-5-5, 5-6-5/bit fields, YUY2, UYVY) and 32-bit to 24 bits.
    bool ToTrueColour(DibImage& out) const;
    // 24-bit to an 8-bit picture of the 256 most frequent 4-4-4 colours.
    bool PopularColours(DibImage& out) const;
    // 24-bit picture with each channel cut to 15-bit (bits 15) or 16-bit (bits 16) colour.
    bool MaskChannels(int bits, DibImage& out) const;

    bool Empty() const { return headerBlock_.empty(); }
    bitmap::Info Header() const;  // a zero header when empty
    int32_t Width() const { return Header().Width; }
    int32_t Height() const { return Header().Height; }
    int BitCount() const { return Header().BitCount; }
    size_t Stride() const;  // RowBytes of this picture

    // Header block: 40-byte header, then the colour table (or the three bit-field masks).
    const std::vector<uint8_t>& HeaderBlock() const { return headerBlock_; }
    const std::vector<uint8_t>& PixelBlock() const { return pixelBlock_; }
    std::vector<uint8_t>& PixelBlock() { return pixelBlock_; }
    // Row y counted from the bottom (0 = bottom row); nullptr when out of range.
    uint8_t* Row(int32_t y);
    const uint8_t* Row(int32_t y) const;
    // Colour table entries (blue, green, red, 0) after the header; 0 when none.
    size_t ColourCount() const;
    const uint8_t* ColourTable() const;

  private:
    std::vector<uint8_t> headerBlock_;
    std::vector<uint8_t> pixelBlock_;
};

// Removes a half-written output file (only a plain file; devices and pipes stay).
void RemovePartial(const std::string& path);

}  // namespace qv
