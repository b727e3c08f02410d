// QvGetBodyText on arbitrary replies: the result must fit the block and end in a zero.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/include/QuorCore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> block(data, data + size);
    block.push_back('\0');
    const size_t before = std::strlen(block.data());
    char* result = QvGetBodyText(block.data());
    if (result != block.data() || std::strlen(result) > before) std::abort();
    return 0;
}
