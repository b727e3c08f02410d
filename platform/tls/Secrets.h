// Small secrets from the system's random source, and comparing them without a timing leak.
#pragma once

#include <cstddef>
#include <string>

namespace qv::tls {

// Lower-case hex of n bytes.
std::string Hex(const unsigned char* data, std::size_t n);

// n random bytes into out; false when the random source fails. Any thread.
bool RandomBytes(unsigned char* out, std::size_t n);

// n random bytes as lower-case hex; "" when the random source fails. Any thread.
std::string RandomHex(std::size_t n);

// True when a and b are equal and not empty, in time that does not depend on where they differ.
bool SameSecret(const std::string& a, const std::string& b);

}  // namespace qv::tls
