// Redaction of camera URLs: never crashes, and what it shows of a URL does not depend on the
// user name or password written into it, whatever they and the rest of the URL hold.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/capture/stream/StreamUrl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    (void)qv::capture::RedactUrl(input);
    (void)qv::capture::RedactText(input);

    // The input as "user NUL password NUL host-and-path".
    const size_t a = input.find('\0');
    if (a == std::string::npos) return 0;
    const size_t b = input.find('\0', a + 1);
    if (b == std::string::npos) return 0;
    const std::string user = input.substr(0, a), password = input.substr(a + 1, b - a - 1),
                      rest = input.substr(b + 1);
    // An "@" after the credentials makes them part of the user information too.
    if (rest.find('@') != std::string::npos) return 0;
    // In running text a URL ends at a blank or quote: credentials holding one split it.
    const bool oneWord = (user + password).find_first_of(" \t\r\n\v\f\"'<>") == std::string::npos;
    for (const std::string scheme : {"rtsp://", "http://"}) {
        const std::string url = scheme + user + ":" + password + "@" + rest;
        const std::string other = scheme + "someone:else@" + rest;
        if (qv::capture::RedactUrl(url) != qv::capture::RedactUrl(other)) std::abort();
        if (oneWord && qv::capture::RedactText("failed: " + url + "\n") !=
                           qv::capture::RedactText("failed: " + other + "\n"))
            std::abort();
    }
    return 0;
}
