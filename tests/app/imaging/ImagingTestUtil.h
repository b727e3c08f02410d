// Pictures for the imaging tests: BMP files byte by byte, 24-bit pictures from a
// function, and a libpng reader to check what we write.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/imaging/DibImage.h"

namespace qvimagingtest {

struct Bgr {
    uint8_t B = 0, G = 0, R = 0;
    bool operator==(const Bgr&) const = default;
};

// A BMP file assembled field by field, so tests can write headers that lie.
struct BmpFile {
    char Magic[2] = {'B', 'M'};
    uint32_t FileSize = 0;     // 0: computed
    int64_t PixelOffset = -1;  // -1: straight after the table
    uint32_t HeaderSize = 40;
    int32_t Width = 0;
    int32_t Height = 0;
    uint16_t BitCount = 24;
    uint32_t Compression = 0;
    int64_t SizeImage = -1;  // -1: the size of Pixels
    uint32_t ClrUsed = 0;
    std::vector<uint8_t> Table;  // written after the header (colour table or masks)
    std::vector<uint8_t> Gap;    // bytes between the table and the pixels
    std::vector<uint8_t> Pixels;

    std::string Bytes() const;
};

// A 24-bit picture whose pixel (x, y), y = 0 the bottom row, comes from the function.
qv::DibImage MakePicture(int32_t width, int32_t height,
                         const std::function<Bgr(int32_t x, int32_t y)>& pixel);
Bgr PixelAt(const qv::DibImage& picture, int32_t x, int32_t y);      // 24-bit pictures
uint8_t IndexAt(const qv::DibImage& picture, int32_t x, int32_t y);  // 8-bit pictures
// Colour table entry n of an 8-bit picture.
Bgr PaletteEntry(const qv::DibImage& picture, int n);

// A PNG decoded with libpng: its header values and its pixels expanded to RGB, top row first.
struct PngPicture {
    bool Ok = false;
    uint32_t Width = 0, Height = 0;
    int ColourType = -1;
    int BitDepth = 0;
    int PaletteEntries = 0;
    std::vector<Bgr> Palette;
    std::vector<Bgr> Pixels;  // Width x Height
};
PngPicture ReadPng(const std::string& path);

}  // namespace qvimagingtest
