// JPEG files through the decoder behind QvCoreJPG2RGB.
#include <cstdlib>

#include "FuzzFiles.h"
#include "QuorCore.h"
#include "core/src/Pictures.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static qvfuzz::ScratchDir dir;
    QvSetMessageHook([](const char*, const char*, void*) {}, nullptr);
    unsigned w = 1, h = 1;
    // A smaller picture limit than the library's keeps each run quick.
    unsigned char* pixels = qv::core::DecodeJpeg(dir.Input(data, size), &w, &h, uint64_t{1} << 20);
    if (pixels == nullptr && (w != 0 || h != 0)) std::abort();
    // Touch the last byte: the block must hold width x height x 3.
    if (pixels != nullptr)
        (void)static_cast<volatile unsigned char*>(pixels)[size_t(w) * h * 3 - 1];
    QvCoreFreeJpegMem(pixels);
    return 0;
}
