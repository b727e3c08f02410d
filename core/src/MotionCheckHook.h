// Where the motion check and the ignore masks meet the frame callback. Kept apart from the
// measurement so the callback gains one call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/src/Motion.h"

namespace qv::core {

// Window thread, right after a frame's difference sum is measured and before the
// reference is replaced: takes the masked pixels out of the sum (their difference picture
// shows no change) and, when the check is on, feeds the frame to it.
void CheckFrame(FrameLayout layout, uint16_t bitCount, const uint8_t* frame,
                const uint8_t* reference, uint8_t* out, size_t length, int32_t width,
                int32_t height, uint64_t& sum);

}  // namespace qv::core
