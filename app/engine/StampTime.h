// The capture time drawn into the top-left corner of a 24-bit BMP with the built-in digit font.
#pragma once

#include <cstdint>
#include <string>

#include "app/engine/Clock.h"

namespace qv::engine {

// Copies the BMP at src to dst with the local time of captureTime drawn into its top rows:
// one line "YYYY/MM/DD hh:mm:ss" (148 pixels) when the picture is at least 148 pixels wide,
// else the date over the time (80 pixels); black glyph pixels are transparent.
// Fails (and leaves no dst) for a picture narrower than 80 pixels or lower than the stamp, a
// header that is not a 40-byte 24-bit uncompressed one, sizes that do not fit the file, or a
// read or write error. An image-size field of 0 is taken as rows x padded row length.
bool StampTime(const std::string& src, const std::string& dst, const WallTime& captureTime);

// Glyph pixel colour of the digit font: glyph 0..9, 10 colon, 11 slash; row 0 is the top row.
// 0 transparent, 64 dark grey, 255 white (all three channels alike).
uint8_t StampGlyphPixel(int glyph, int row, int column);

}  // namespace qv::engine
