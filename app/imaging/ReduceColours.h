// The colour reduction engine: a 24-bit picture to an 8-bit palette picture of at most
// the requested number of colours (median-cut boxes, serpentine error diffusion).
// Every run keeps its own state; runs on different threads do not meet.
#pragma once

#include <cstdint>
#include <string>

#include "app/imaging/DibImage.h"

namespace qv {

// Result codes.
inline constexpr int kReduceDone = 0;
inline constexpr int kReduceNot24Bit = 1;
inline constexpr int kReduceNoMemory = 2;
inline constexpr int kReduceReadFailed = 3;
inline constexpr int kReduceWriteFailed = 4;
inline constexpr int kReduceBadParameters = 6;

// The 24-bit BMP file at source as an 8-bit palette BMP of at most colourCount (1..256) colours
// at destination. quality 0..4: 3 + quality bits per channel in the histogram.
// Called on the mail thread; touches only its two files.
int ReduceColours(const std::string& source, const std::string& destination, int quality,
                  int colourCount);

}  // namespace qv
