// The measurement written out plainly, one value at a time, in the arithmetic the
// difference picture is defined by (doubles for packed YUV). The fast kernels must give
// exactly these bytes and sums.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Motion.h"

namespace qv::core::reference {

uint64_t MeasureDifference(FrameLayout layout, const uint8_t* frame, const uint8_t* reference,
                           uint8_t* out, size_t length);

}  // namespace qv::core::reference
