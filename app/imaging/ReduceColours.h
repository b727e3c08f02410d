// The colour reduction engine: a 24-bit picture to an 8-bit palette picture of at most
// the requested number of colours (median-cut boxes, serpentine error diffusion).
// Every run keeps its own state; runs on different threads do not meet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/imaging/DibImage.h"

namespace qv {

// Where the picture comes from and goes to.
enum ReductionKind : uint16_t {
    kReduceMemory = 0,  // ReductionMemoryInput / ReductionMemoryOutput
    kReduceFile = 1,    // a BMP file path (const char*)
    kReduceHooks = 2,   // the caller's hooks
};

enum ReductionMode : uint16_t {
    kReduceMedianCut = 0,
    kReduceFixedPalette = 1,
    kReduceGrey = 2,
};

// Result codes.
inline constexpr int kReduceDone = 0;
inline constexpr int kReduceNot24Bit = 1;
inline constexpr int kReduceNoMemory = 2;
inline constexpr int kReduceReadFailed = 3;
inline constexpr int kReduceWriteFailed = 4;
inline constexpr int kReduceBadParameters = 6;
inline constexpr int kReduceCancelled = -1;

// Progress stages.
inline constexpr int kStageHistogram = 0x10;
inline constexpr int kStageBoxes = 0x11;
inline constexpr int kStageMapping = 0x100;
inline constexpr int kStageGrey = 0x101;

// Hooks get the input or output argument as handle. Non-zero means success.
// Rows: y = 1 is the top row of the picture. Input rows are width x 3 bytes (blue, green,
// red); output rows are width bytes of palette indices.
using ReadHeaderHook = int (*)(void* input, DibInfoHeader* header);
using ReadRowHook = int (*)(void* input, const DibInfoHeader& header, int32_t y, uint8_t* row);
// palette: 256 entries of blue, green, red, 0.
using WriteHeaderHook = int (*)(void* output, const DibInfoHeader& header, const uint8_t* palette);
using WriteRowHook = int (*)(void* output, const DibInfoHeader& header, int32_t y,
                             const uint8_t* row);
// Returning 0 cancels (where the stage allows it).
using ProgressHook = int (*)(void* context, int stage, int32_t step, int32_t total);

struct ReductionParams {
    uint16_t InputKind = kReduceFile;
    uint16_t OutputKind = kReduceFile;
    uint16_t Mode = kReduceMedianCut;
    uint16_t Quality = 4;        // 0..4: 3 + Quality bits per channel
    uint16_t ColourCount = 256;  // 1..256 in mode 0; 256 in modes 1 and 2
    ReadHeaderHook ReadHeader = nullptr;
    ReadRowHook ReadRow = nullptr;
    WriteHeaderHook WriteHeader = nullptr;
    WriteRowHook WriteRow = nullptr;
    ProgressHook Progress = nullptr;  // none: never cancels
    void* ProgressContext = nullptr;
};

// Input of kind 0: the 40-byte header and the rows (padded to 4 bytes, bottom row first).
struct ReductionMemoryInput {
    const DibInfoHeader* Header = nullptr;
    const uint8_t* Pixels = nullptr;
    size_t PixelBytes = 0;  // size of the Pixels block; rows beyond it are not read
};

// Output of kind 0: emptied at the start, filled with the 1064-byte header and palette
// block and the pixel block.
struct ReductionMemoryOutput {
    std::vector<uint8_t> HeaderAndPalette;
    std::vector<uint8_t> Pixels;
};

// input/output: const char* path (kind 1), ReductionMemoryInput* / ReductionMemoryOutput*
// (kind 0), or the hooks' own handle (kind 2).
// Called on the mail thread (and by tests on any thread); touches only its arguments.
int ReduceColours(void* input, void* output, const ReductionParams& params);

// The built-in 256-colour palette of mode 1 (blue, green, red, 0 per entry).
const uint8_t* FixedPalette();

}  // namespace qv
