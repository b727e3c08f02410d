// StampTime over arbitrary files: it must refuse what does not fit, never read or write out of
// bounds, and never leave a destination behind when it fails.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/engine/StampTime.h"

namespace {

std::string TempPath(const char* tag) {
    return "/tmp/qvfuzz-stamp-" + std::to_string(::getpid()) + "-" + tag;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string src = TempPath("src"), dst = TempPath("dst");
    if (std::FILE* f = std::fopen(src.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    bool ok = qv::engine::StampTime(src, dst, {1057000000, 0});
    std::FILE* out = std::fopen(dst.c_str(), "rb");
    if (!ok && out) std::abort();  // a failure must not leave a destination
    if (out) std::fclose(out);
    std::remove(dst.c_str());
    return 0;
}
