// What the [Web] section (WebSettings in app/settings) means for the server: whether it may
// start and where a phone finds it. The password is kept only as a salted scrypt hash.
#pragma once

#include <string>
#include <vector>

#include "app/settings/Settings.h"
#include "platform/tls/PasswordHash.h"

namespace qv::web {

using qv::tls::HashPassword;
using qv::tls::VerifyPassword;

// Why the server will not start with these settings ("" when it may).
std::string WhyNotStarting(const ::WebSettings& settings);

// The addresses a phone on the same network can open ("https://192.168.1.20:8443/"), one per
// IPv4 address of this computer other than loopback; localhost when there is none.
std::vector<std::string> WebAddresses(const ::WebSettings& settings);

}  // namespace qv::web
