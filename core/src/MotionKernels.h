// The motion kernels behind MeasureDifference, one set per instruction set, each reachable
// so that every set on this processor can be held against the plain arithmetic.
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

}  // namespace qv::core::motion
