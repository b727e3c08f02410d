// A BMP file built field by field, so a test can write headers that lie.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvtest {

struct BmpFile {
    char Magic = 'B';
    uint32_t HeaderSize = 40;
    int32_t Width = 0, Height = 0;
    uint16_t BitCount = 24;
    uint32_t Compression = 0, ClrUsed = 0;
    int64_t SizeImage = -1;                         // -1: the size of Pixels
    int64_t Offset = -1;                            // -1: where the pixels start
    std::vector<uint8_t> Table{}, Gap{}, Pixels{};  // Gap: bytes between the table and the pixels

    std::string Bytes() const;
};

}  // namespace qvtest
