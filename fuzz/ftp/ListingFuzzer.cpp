// FTP LIST lines and PWD replies from a hostile server: parsed or refused, never a crash.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/src/Ftp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    qv::core::FtpEntry entry;
    if (qv::core::ParseFtpListLine(text, 1796500000, &entry)) {
        if (entry.Name.empty()) std::abort();
        WIN32_FIND_DATAA find;
        qv::core::FillFindData(entry, &find);
        if (find.cFileName[sizeof find.cFileName - 1] != '\0') std::abort();
    }
    std::string folder;
    qv::core::ParsePwdReply(text, &folder);
    return 0;
}
