// The motion kernels behind MeasureDifference, one per instruction set, reachable one by
// one so that tests and benchmarks can hold each of them against the plain arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Motion.h"

namespace qv::core::motion {

enum class Isa { Scalar, Avx2 };

// True when this processor runs the kernel set.
bool IsaAvailable(Isa isa);
// The set MeasureDifference uses on this processor.
Isa BestIsa();

uint64_t MeasureDifferenceWith(Isa isa, FrameLayout layout, const uint8_t* frame,
                               const uint8_t* reference, uint8_t* out, size_t length);

// Weight of one difference value 0..255.
int Weight(int value);

// Pixel colours of packed YUV samples as the measurement sees them: for `groups` groups of
// 4 bytes in the layout's byte order, writes R, G, B of both pixels (6 values a group).
void YuvToRgbWith(Isa isa, FrameLayout layout, const uint8_t* groups, size_t groupCount,
                  int16_t* rgb);

// The difference picture of one group from the channel differences of its two pixels:
// writes Y'0, U', Y'1, V' for every group (vr, vg, vb hold 2 values a group).
void DifferenceToYuvWith(Isa isa, const uint8_t* vr, const uint8_t* vg, const uint8_t* vb,
                         size_t groupCount, uint8_t* yuyv);

}  // namespace qv::core::motion
