#include "platform/tls/PasswordHash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <cstdint>
#include <vector>

#include "platform/tls/Secrets.h"

namespace qv::tls {
namespace {

// N = 2^15, r = 8, p = 1: about 32 MiB and a few tens of milliseconds per try, which also
// slows a password guesser that got hold of the settings file.
constexpr uint64_t kN = 1u << 15;
constexpr uint64_t kR = 8;
constexpr uint64_t kP = 1;
constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;
constexpr uint64_t kMaxMem = 64ull * 1024 * 1024;

bool Unhex(const std::string& text, std::vector<unsigned char>& out) {
    if (text.empty() || text.size() % 2) return false;
    out.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        int v = 0;
        for (int k = 0; k < 2; ++k) {
            char c = text[i + k];
            int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (d < 0) return false;
            v = v * 16 + d;
        }
        out.push_back(static_cast<unsigned char>(v));
    }
    return true;
}

bool Scrypt(const std::string& password, const unsigned char* salt, size_t saltLen, uint64_t n,
            uint64_t r, uint64_t p, unsigned char* out, size_t outLen) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_SCRYPT, nullptr);
    if (!ctx) return false;
    size_t len = outLen;
    bool ok =
        EVP_PKEY_derive_init(ctx) > 0 &&
        EVP_PKEY_CTX_set1_pbe_pass(ctx, password.data(), static_cast<int>(password.size())) > 0 &&
        EVP_PKEY_CTX_set1_scrypt_salt(ctx, salt, static_cast<int>(saltLen)) > 0 &&
        EVP_PKEY_CTX_set_scrypt_N(ctx, n) > 0 && EVP_PKEY_CTX_set_scrypt_r(ctx, r) > 0 &&
        EVP_PKEY_CTX_set_scrypt_p(ctx, p) > 0 &&
        EVP_PKEY_CTX_set_scrypt_maxmem_bytes(ctx, kMaxMem) > 0 &&
        EVP_PKEY_derive(ctx, out, &len) > 0 && len == outLen;
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value) {
    if (text.empty() || text.size() > 10) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value >= 1 && value <= max;
}

}  // namespace

std::string HashPassword(const std::string& password) {
    unsigned char salt[kSaltBytes], hash[kHashBytes];
    if (!RandomBytes(salt, sizeof salt)) return "";
    if (!Scrypt(password, salt, sizeof salt, kN, kR, kP, hash, sizeof hash)) return "";
    return "scrypt$" + std::to_string(kN) + "$" + std::to_string(kR) + "$" + std::to_string(kP) +
           "$" + Hex(salt, sizeof salt) + "$" + Hex(hash, sizeof hash);
}

bool VerifyPassword(const std::string& password, const std::string& stored) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = stored.find('$', start);
        parts.push_back(stored.substr(start, at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
    if (parts.size() != 6 || parts[0] != "scrypt") return false;
    uint64_t n = 0, r = 0, p = 0;
    // Bounds keep a doctored file from asking for gigabytes or minutes per try.
    if (!ParseNumber(parts[1], 1u << 20, n) || (n & (n - 1)) != 0 || n < 2) return false;
    if (!ParseNumber(parts[2], 32, r) || !ParseNumber(parts[3], 16, p)) return false;
    std::vector<unsigned char> salt, want;
    if (!Unhex(parts[4], salt) || !Unhex(parts[5], want) || want.size() > 64) return false;
    std::vector<unsigned char> got(want.size());
    if (!Scrypt(password, salt.data(), salt.size(), n, r, p, got.data(), got.size())) return false;
    return CRYPTO_memcmp(got.data(), want.data(), want.size()) == 0;
}

}  // namespace qv::tls
