// Passwords kept only as a salted slow hash (scrypt through OpenSSL).
#pragma once

#include <string>

namespace qv::tls {

// "scrypt$N$r$p$SALT$HASH" (salt and hash in hex) of a password with a fresh random salt;
// "" when the random source or scrypt fails. Any thread.
std::string HashPassword(const std::string& password);

// True when password matches a stored hash; false for a malformed one. Any thread.
bool VerifyPassword(const std::string& password, const std::string& stored);

}  // namespace qv::tls
