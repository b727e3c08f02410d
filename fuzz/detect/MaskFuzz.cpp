// The mask text of the settings file: any bytes give a mask or a refusal, never a crash, and
// an accepted mask written out reads back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/detect/MotionMask.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    qv::detect::MaskPolygons mask;
    if (!qv::detect::ParseMask(text, mask)) return 0;
    const std::string once = qv::detect::FormatMask(mask);
    qv::detect::MaskPolygons again;
    if (!qv::detect::ParseMask(once, again) || qv::detect::FormatMask(again) != once) std::abort();
    // Rasterising any accepted mask stays inside the picture.
    for (const auto& s : qv::detect::MaskSpans(mask, 37, 23))
        if (s.y < 0 || s.y >= 23 || s.x0 < 0 || s.x1 > 37 || s.x0 >= s.x1) std::abort();
    return 0;
}
