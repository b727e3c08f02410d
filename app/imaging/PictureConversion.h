// The attachment picture of a warning mail: resize, colour step, PNG or JPEG file.
// Each step reads one BMP file and writes the next; the mail thread runs them in order.
#pragma once

#include <string>

#include "app/settings/Settings.h"

namespace qv {

// The colour count a ColorNum step stands for (what the settings dialog shows):
// 1..32 -> step x 8, 33 -> 256, 34 -> 32768, 35 -> 65536, 36 -> 16777216.
int ColourCountOfStep(int colorNum);

// Scales (and, with Aspect 1, crops) the source to Width x Height.
bool ResizePicture(const std::string& source, const std::string& destination,
                   const PictSettings& pict);
// ColorNum 1..32: the colour reduction engine's result code (0 = done); 33..36: 1 on
// success, 0 on failure.
int ConvertColours(const std::string& source, const std::string& destination,
                   const PictSettings& pict);
// Type 0 PNG, 1 JPEG; anything else writes nothing. True when the file was written.
bool EncodePicture(const std::string& source, const std::string& destination,
                   const PictSettings& pict);
// An 8-bit BMP becomes a palette PNG (256 entries), a 24-bit one an RGB PNG.
bool WritePng(const std::string& source, const std::string& destination, int colours,
              int compressionLevel);

}  // namespace qv
