// The [Web] section: whether the server runs, on which port, with TLS, and the password's
// salted scrypt hash (the password itself is never stored).
#pragma once

#include <string>
#include <vector>

#include "platform/tls/PasswordHash.h"

namespace qv::web {

struct WebSettings {
    bool Enable = false;
    int Port = 8443;
    bool Tls = true;
    std::string PasswordHash;  // "" = no password set: the server does not start
};

// The [Web] section as the server uses it (defaults from the settings schema).
WebSettings LoadWebSettings(const std::string& settingsFile);

using qv::tls::HashPassword;
using qv::tls::VerifyPassword;

// Why the server will not start with these settings ("" when it may).
std::string WhyNotStarting(const WebSettings& settings);

// The addresses a phone on the same network can open ("https://192.168.1.20:8443/"), one per
// IPv4 address of this computer other than loopback; localhost when there is none.
std::vector<std::string> WebAddresses(const WebSettings& settings);

}  // namespace qv::web
