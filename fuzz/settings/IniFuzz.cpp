// The settings file reader and rewriter on arbitrary files. Input: section, key and value on
// the first three lines, then the file content.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/settings/IniFile.h"
#include "platform/text/Text.h"

namespace {

std::string_view NextLine(std::string_view& in) {
    size_t nl = in.find('\n');
    std::string_view line = in.substr(0, nl);
    in = nl == std::string_view::npos ? std::string_view() : in.substr(nl + 1);
    return line;
}

bool Simple(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::string_view section = NextLine(in);
    std::string_view key = NextLine(in);
    std::string_view value = NextLine(in);
    std::string_view content = in;

    std::string found;
    if (IniLookup(content, section, key, &found)) qv::text::Cp932ToUtf8(found);

    std::string rewritten = IniRewrite(content, true, section, key, value);
    // What was written must read back when the names and the value are plain.
    if (Simple(section) && Simple(key) &&
        value.find_first_of(std::string_view(";\r\0", 3)) == std::string_view::npos) {
        std::string back;
        if (!IniLookup(rewritten, section, key, &back) || back != value) std::abort();
        // Writing the same value again changes nothing.
        if (IniRewrite(rewritten, true, section, key, value) != rewritten) std::abort();
    }
    return 0;
}
