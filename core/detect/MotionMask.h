// Areas of the picture to ignore (a window with trees, a television): polygons in picture
// coordinates from 0 to 1, x to the right, y downwards, origin at the top left. Stored in
// the settings file as text: points "x,y" separated by spaces, polygons separated by '|' (';'
// is read too, but the settings file takes it for a comment), for example
// "0.1,0.1 0.4,0.1 0.4,0.5|0.7,0.7 0.9,0.7 0.9,0.9 0.7,0.9".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::detect {

struct MaskPoint {
    float x = 0, y = 0;
    bool operator==(const MaskPoint&) const = default;
};
using MaskPolygon = std::vector<MaskPoint>;
using MaskPolygons = std::vector<MaskPolygon>;

inline constexpr size_t kMaxMaskPolygons = 16;
inline constexpr size_t kMaxMaskPoints = 64;  // per polygon

// Parses the settings text. Empty (or blank) text is no mask. On bad text returns false,
// leaves out empty and says why in error.
bool ParseMask(std::string_view text, MaskPolygons& out, std::string* error = nullptr);
// The settings text of a mask (ParseMask reads it back to the same polygons, to 4 digits).
std::string FormatMask(const MaskPolygons& mask);

// A run of masked pixels in one row: x0 <= x < x1.
struct MaskSpan {
    int y = 0, x0 = 0, x1 = 0;
};
// The masked pixels of a width x height picture (a pixel is masked when its centre lies
// inside a polygon, even-odd rule per polygon, union of polygons), row by row from the top.
std::vector<MaskSpan> MaskSpans(const MaskPolygons& mask, int width, int height);
// The same as a picture: 1 for masked, 0 for open pixels.
std::vector<uint8_t> MaskBitmap(const MaskPolygons& mask, int width, int height);

}  // namespace qv::detect
