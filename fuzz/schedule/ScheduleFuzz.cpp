// Schedule rules and hook command lines come from the settings file: any text must parse or be
// refused, and a parsed rule must print back to itself.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/hooks/Hooks.h"
#include "app/schedule/Schedule.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (auto rule = qv::schedule::ParseRule(text)) {
        if (qv::schedule::ParseRule(qv::schedule::FormatRule(*rule)) != rule) std::abort();
        std::tm t{};
        for (int minute = 0; minute < 24 * 60; minute += 7) {
            t.tm_hour = minute / 60;
            t.tm_min = minute % 60;
            t.tm_wday = minute % 7;
            qv::schedule::ActiveRule({*rule}, t);
        }
    }
    qv::hooks::Event e;
    e.Name = "warning";
    e.Picture = text;
    qv::hooks::ExpandCommand(qv::hooks::SplitCommand(text), e);
    return 0;
}
