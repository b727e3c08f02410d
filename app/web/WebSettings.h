// The [Web] section: whether the server runs, on which port, with TLS, and the password's
// salted scrypt hash (the password itself is never stored).
#pragma once

#include <string>
#include <vector>

namespace qv::web {

struct WebSettings {
    bool Enable = false;
    int Port = 8443;
    bool Tls = true;
    std::string PasswordHash;  // "" = no password set: the server does not start
};

WebSettings LoadWebSettings(const std::string& settingsFile);

// "scrypt$N$r$p$SALT$HASH" (salt and hash in hex) of a password with a fresh random salt;
// "" when the random source or scrypt fails.
std::string HashPassword(const std::string& password);

// True when password matches a stored hash; false for a malformed one.
bool VerifyPassword(const std::string& password, const std::string& stored);

// Why the server will not start with these settings ("" when it may).
std::string WhyNotStarting(const WebSettings& settings);

// The addresses a phone on the same network can open ("https://192.168.1.20:8443/"), one per
// IPv4 address of this computer other than loopback; localhost when there is none.
std::vector<std::string> WebAddresses(const WebSettings& settings);

}  // namespace qv::web
