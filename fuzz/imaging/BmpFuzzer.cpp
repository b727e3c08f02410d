// Feeds arbitrary bytes as a BMP file to DibImage::LoadBmp and every operation that
// accepts what it loaded, and to the colour reduction engine's file input.
#include "app/imaging/DibImage.h"
#include "app/imaging/ReduceColours.h"
#include "fuzz/core/FuzzFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static qvfuzz::ScratchDir dir;
    const std::string path = dir.Input(data, size);
    qv::DibImage picture;
    if (picture.LoadBmp(path)) {
        qv::DibImage out, derived;
        picture.ToTrueColour(out);
        const qv::DibImage& full = out.Empty() ? picture : out;
        full.ScaleDib(37, 23, derived);
        full.CropDib(full.Width() / 2 + 1, full.Height() / 2 + 1, derived);
        full.MaskChannels(16, derived);
        if (int64_t{full.Width()} * full.Height() <= 256 * 256) full.PopularColours(derived);
    }
    // The engine reads the same file through its own header and row reading, and writes
    // only the rows it makes.
    qv::ReduceColours(path, dir.File("out.bmp"), size > 0 ? data[0] % 5 : 2,
                      size > 1 ? 1 + data[1] : 16);
    return 0;
}
