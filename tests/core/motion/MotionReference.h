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

// R, G, B of one YUV pixel (u and v already minus 128).
void YuvToRgb(int y, int u, int v, int rgb[3]);
// Y', U', V' of the difference picture from the channel differences of a pixel.
int OutLuma(int vr, int vg, int vb);
int OutU(int vr, int vg, int vb);
int OutV(int vr, int vg, int vb);

}  // namespace qv::core::reference
