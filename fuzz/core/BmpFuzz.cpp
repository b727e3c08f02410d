// BMP files: the reader and the conversion to JPEG straight from the file's rows.
#include <cstdlib>

#include "FuzzFiles.h"
#include "QuorCore.h"
#include "core/src/Pictures.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static qvfuzz::ScratchDir dir;
    QvSetMessageHook([](const char*, const char*, void*) {}, nullptr);
    const qv::core::BmpPicture p = qv::core::ParseBmp(data, size);
    if (p.rgb.size() != (p.Ok() ? size_t(p.width) * size_t(p.height) * 3 : 0)) std::abort();
    // Keep the JPEG work small: the reader is what is being searched.
    if (p.Ok() && size_t(p.width) * size_t(p.height) <= 4096) {
        std::string in = dir.Input(data, size), out = dir.File("out.jpg");
        if (QvCoreBMP2JPG(in.data(), out.data(), int(size % 101)) != 1) std::abort();
    }
    return 0;
}
