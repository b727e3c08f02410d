// BMP reading and writing, JPEG writing and decoding on libjpeg (the 6b interface), and
// the memory blocks the library hands across its boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv::core {

// Status texts of the BMP reader.
inline constexpr const char kBmpOk[] = "OK";
inline constexpr const char kBmpCantOpen[] = "Can't open file for reading :\n";  // + path
inline constexpr const char kBmpReadErrorHeader[] = "Read Error!";
inline constexpr const char kBmpNotBmp[] = "Not a valid BMP File";
inline constexpr const char kBmpCompressed[] = "This is a compressed file.";
inline constexpr const char kBmpOutOfMemory[] = "Out of memory";
inline constexpr const char kBmpCorruptPalette[] = "Corrupt palette";
inline constexpr const char kBmpAllocFailed[] = "Memory alloc Failed";
inline constexpr const char kBmpReadError[] = "Read Error";
// Files the reader refuses rather than misread: bit counts other than 1, 4, 8 and 24, and
// sizes that are not positive, overflow, or need more pixel bytes than the file holds.
inline constexpr const char kBmpUnsupportedBits[] = "Unsupported bit count";
inline constexpr const char kBmpBadSize[] = "Bad picture size";

// A BMP picture as rows top-down, pixels red, green, blue, no padding.
struct BmpPicture {
    std::vector<uint8_t> rgb;
    int32_t width = 0;
    int32_t height = 0;
    std::string status = kBmpOk;
    bool Ok() const { return status == kBmpOk; }
};

// Any thread.
BmpPicture ReadBmp(const std::string& path);
// The same reading from bytes already in memory (the whole file).
BmpPicture ParseBmp(const uint8_t* data, size_t size);

// Writes top-down RGB rows as a JPEG file, quality clamped to 0..100. Shows a message when
// the file cannot be created; libjpeg's own errors give up silently. Any thread.
bool WriteJpeg(const std::string& path, const uint8_t* rgb, int32_t width, int32_t height,
               int quality);

// Decodes a JPEG file into a block from AllocateBlock: rows top-down, pixels blue, green,
// red. Pictures of more than maxPixels are refused. Any thread.
unsigned char* DecodeJpeg(const std::string& path, unsigned int* width, unsigned int* height,
                          uint64_t maxPixels = uint64_t{1} << 27);

// Writes 24-bit rows (blue, green, red, bottom row first) as a BMP file; returns the status
// ("OK", "Can't open file for writing", "fwrite error\nGiving up"). Any thread.
std::string SaveBmp(const std::string& path, const uint8_t* pixels, uint32_t width,
                    uint32_t height);

// Blocks handed to the caller (decoded pixels, HTTP replies): zero-filled, released only
// through ReleaseBlock (QvCoreFreeJpegMem, QvReleaseHttpUrlData). Any thread.
void* AllocateBlock(size_t size);
void ReleaseBlock(void* block);

}  // namespace qv::core
