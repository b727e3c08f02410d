#include "app/settings/StreamSources.h"

#include <string_view>

#include "app/settings/IniFile.h"
#include "app/settings/Settings.h"
#include "platform/text/Text.h"

namespace {

std::string NameKey(int i) {
    return "Name" + std::to_string(i);
}
std::string UrlKey(int i) {
    return "Url" + std::to_string(i);
}

StreamSourceProblem CheckText(const std::string& text) {
    if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        return StreamSourceProblem::LineBreak;
    if (text.find(';') != std::string::npos) return StreamSourceProblem::Semicolon;
    bool ok = true;
    const std::string cp932 = qv::text::Utf8ToCp932(text, &ok);
    if (!ok) return StreamSourceProblem::NotShiftJis;
    if (cp932.size() > kIniValueBufferSize - 1) return StreamSourceProblem::TooLong;
    return StreamSourceProblem::None;
}

}  // namespace

std::vector<StreamSource> LoadStreamSources(const std::string& file) {
    std::vector<StreamSource> sources;
    int count = ParseSettingNumber(IniReadString(kStreamSourcesSection, "Count", "0", file));
    if (count < 0) count = 0;
    if (count > kMaxStreamSources) count = kMaxStreamSources;
    for (int i = 0; i < count; ++i) {
        StreamSource s;
        s.Name = IniReadString(kStreamSourcesSection, NameKey(i), "", file);
        s.Url = IniReadString(kStreamSourcesSection, UrlKey(i), "", file);
        if (!s.Name.empty() && !s.Url.empty()) sources.push_back(std::move(s));
    }
    return sources;
}

bool SaveStreamSources(const std::string& file, const std::vector<StreamSource>& sources) {
    const int count = static_cast<int>(std::min<size_t>(sources.size(), kMaxStreamSources));
    if (!IniWriteString(kStreamSourcesSection, "Count", std::to_string(count), file)) return false;
    for (int i = 0; i < count; ++i) {
        if (!IniWriteString(kStreamSourcesSection, NameKey(i), sources[i].Name, file) ||
            !IniWriteString(kStreamSourcesSection, UrlKey(i), sources[i].Url, file))
            return false;
    }
    // Empty what an earlier, longer list left behind.
    for (int i = count; i < kMaxStreamSources; ++i) {
        for (const std::string& key : {NameKey(i), UrlKey(i)}) {
            if (IniReadString(kStreamSourcesSection, key, "", file).empty()) continue;
            if (!IniWriteString(kStreamSourcesSection, key, "", file)) return false;
        }
    }
    return true;
}

StreamSourceProblem CheckNewStreamSource(const StreamSource& source,
                                         const std::vector<StreamSource>& existing) {
    if (source.Name.empty()) return StreamSourceProblem::EmptyName;
    if (source.Url.empty()) return StreamSourceProblem::EmptyUrl;
    for (const std::string* text : {&source.Name, &source.Url}) {
        const StreamSourceProblem p = CheckText(*text);
        if (p != StreamSourceProblem::None) return p;
    }
    for (const StreamSource& s : existing)
        if (s.Name == source.Name) return StreamSourceProblem::DuplicateName;
    if (existing.size() >= static_cast<size_t>(kMaxStreamSources))
        return StreamSourceProblem::TooMany;
    return StreamSourceProblem::None;
}

const char* StreamSourceProblemText(StreamSourceProblem problem) {
    static constexpr StreamSourceProblemTexts kTexts = {
        "",
        "the name is empty",
        "the URL is empty",
        "a name or URL cannot hold a line break",
        "a name or URL cannot hold \";\" (the settings file takes it for the start of a comment; "
        "write %3B in a URL)",
        "the name or URL holds characters the settings file (Shift-JIS, CP932) cannot store",
        "a name or URL may take at most 255 bytes in Shift-JIS",
        "a stream source of that name exists already",
        "ten stream sources at most",
    };
    return StreamSourceProblemIn(kTexts, problem, "");
}
