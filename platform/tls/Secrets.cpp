#include "platform/tls/Secrets.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <climits>
#include <vector>

namespace qv::tls {

std::string Hex(const unsigned char* data, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

bool RandomBytes(unsigned char* out, std::size_t n) {
    return n <= INT_MAX && RAND_bytes(out, static_cast<int>(n)) == 1;
}

std::string RandomHex(std::size_t n) {
    std::vector<unsigned char> bytes(n);
    if (!RandomBytes(bytes.data(), n)) return "";
    return Hex(bytes.data(), n);
}

bool SameSecret(const std::string& a, const std::string& b) {
    return a.size() == b.size() && !a.empty() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace qv::tls
