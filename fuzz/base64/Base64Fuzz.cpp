// Base64DecodeText on arbitrary text, and the text codec's round trip on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/mail/Base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::string decoded = Base64DecodeText(in);
    if (decoded.size() != (size + 3) / 4 * 3) std::abort();

    std::string encoded = Base64EncodeText(in);
    std::string back = Base64DecodeText(encoded);
    if (back.compare(0, size, in) != 0) std::abort();
    if (back.find_first_not_of('\0', size) != std::string::npos) std::abort();
    std::string padded = Base64EncodePadded(in);
    if (padded.size() % 4 != 0 || padded.compare(0, encoded.size(), encoded) != 0) std::abort();
    return 0;
}
