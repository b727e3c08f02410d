// Motion measurement of one frame against the reference frame: the hot path, run on
// every preview frame on the window thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::core {

enum class FrameLayout { RawBytes, Rgb565, Rgb555, Yuy2, Uyvy };

// Picks the comparison for a video format (bit count and compression of its header).
FrameLayout ClassifyFrame(uint16_t bitCount, uint32_t compression);

// Compares `length` bytes of frame and reference, writes the difference picture into
// out and returns the sum of the weights. out must not overlap frame or reference;
// the bytes of out that no comparison unit covers are left as they are.
uint64_t MeasureDifference(FrameLayout layout, const uint8_t* frame, const uint8_t* reference,
                           uint8_t* out, size_t length);

// The motion level, 0 to 65535, of a sum for a frame of width x height.
int MotionLevel(uint64_t sum, int32_t width, int32_t height);

}  // namespace qv::core
