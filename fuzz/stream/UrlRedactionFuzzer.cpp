// Redaction of camera URLs: never crashes, and a password written into the user information
// never survives, whatever the rest of the URL holds.
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
    if (password.size() < 4 || password.find('@') != std::string::npos) return 0;
    if (user.find(password) != std::string::npos) return 0;
    if (rest.find(password) != std::string::npos) return 0;
    for (const std::string scheme : {"rtsp://", "http://"}) {
        // What the redacted text holds besides the rest may contain the password by chance.
        if (("failed: " + scheme + "***").find(password) != std::string::npos ||
            password.find('\n') != std::string::npos)
            continue;
        const std::string url = scheme + user + ":" + password + "@" + rest;
        const std::string shown = qv::capture::RedactUrl(url);
        if (shown.find(password) != std::string::npos) std::abort();
        const std::string text = qv::capture::RedactText("failed: " + url + "\n");
        // In running text the URL ends at a blank or quote: only then is it one URL.
        if (url.find_first_of(" \t\r\n\v\f\"'<>") == std::string::npos &&
            text.find(password) != std::string::npos)
            std::abort();
    }
    return 0;
}
