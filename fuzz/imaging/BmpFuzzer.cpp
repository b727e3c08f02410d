// Feeds arbitrary bytes as a BMP file to DibImage::LoadBmp and every operation that
// accepts what it loaded, and to the colour reduction engine's file input.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/imaging/DibImage.h"
#include "app/imaging/ReduceColours.h"

namespace {

const std::string& Folder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/qvimaging-fuzz-XXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made ? made : "/tmp");
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = Folder() + "/in.bmp";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    qv::DibImage picture;
    if (picture.LoadBmp(path)) {
        qv::DibImage out;
        picture.ToTrueColour(out);
        const qv::DibImage& full = out.Empty() ? picture : out;
        qv::DibImage derived;
        full.ScaleDib(37, 23, derived);
        full.CropDib(full.Width() / 2 + 1, full.Height() / 2 + 1, derived);
        full.MaskChannels(16, derived);
        if (int64_t{full.Width()} * full.Height() <= 256 * 256) full.PopularColours(derived);
    }

    // The engine reads the same file through its own header and row reading, and writes
    // only the rows it makes.
    const std::string out = Folder() + "/out.bmp";
    qv::ReduceColours(path, out, size > 0 ? data[0] % 5 : 2, size > 1 ? 1 + data[1] : 16);
    return 0;
}
