// Text quoted as a JSON string: quotes, backslashes and control characters escaped, and < > &
// too, so a value is safe even where it lands in HTML. UTF-8 passes through unchanged.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace qv::text {

inline std::string JsonString(std::string_view s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7f || c == '<' || c == '>' || c == '&') {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\u%04x", c);
                    out += esc;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

}  // namespace qv::text
