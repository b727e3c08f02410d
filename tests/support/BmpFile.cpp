#include "tests/support/BmpFile.h"

namespace qvtest {

std::string BmpFile::Bytes() const {
    std::string out = {Magic, 'M'};
    auto put = [&out](uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
    };
    const size_t start = 54 + Table.size() + Gap.size();
    put(start + Pixels.size(), 4), put(0, 4), put(Offset >= 0 ? uint64_t(Offset) : start, 4);
    put(HeaderSize, 4), put(uint32_t(Width), 4), put(uint32_t(Height), 4), put(1, 2);
    put(BitCount, 2), put(Compression, 4);
    put(SizeImage >= 0 ? uint64_t(SizeImage) : Pixels.size(), 4), put(0, 8), put(ClrUsed, 4);
    put(0, 4);
    for (const auto* part : {&Table, &Gap, &Pixels}) out.append(part->begin(), part->end());
    return out;
}

}  // namespace qvtest
