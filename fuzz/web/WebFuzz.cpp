// What reaches the web page from outside or from the settings file: a stored password hash
// (first line; any text is refused or checked, never a crash or an unbounded scrypt), a Cookie
// header (second line) and any text quoted as JSON (all of it).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/web/WebServer.h"
#include "app/web/WebSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t line = text.find('\n');
    const std::string stored = text.substr(0, line);
    const std::string rest = line == std::string::npos ? "" : text.substr(line + 1);
    qv::web::VerifyPassword("password", stored);
    const std::string value = qv::web::CookieValue(rest, "qvsession");
    if (value.size() > rest.size() || value.find(';') != std::string::npos) std::abort();
    const std::string json = qv::web::JsonString(text);
    if (json.size() < 2 || json.front() != '"' || json.back() != '"') std::abort();
    for (size_t i = 1; i + 1 < json.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(json[i]);
        if (c < 0x20 || c == '<' || c == '>' || c == '&') std::abort();
        if (c == '"' && json[i - 1] != '\\') std::abort();
    }
    return 0;
}
