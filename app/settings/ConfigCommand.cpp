#include "app/settings/ConfigCommand.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string_view>

#include "app/settings/IniFile.h"
#include "app/settings/ProgramFolder.h"
#include "app/settings/Settings.h"
#include "app/settings/StreamSources.h"
#include "platform/capture/stream/StreamUrl.h"
#include "platform/text/Text.h"
#include "platform/tls/PasswordHash.h"

namespace {

constexpr int kDone = 0;
constexpr int kWriteFailed = 1;
constexpr int kRefused = 2;

// The value the program uses for a key, as text.
std::string ValueInUse(const SettingEntry& e, const std::string& file) {
    const std::string_view key = e.Key->Key;
    if (e.Section == "Window" && (key == "MainLeft" || key == "MainTop")) {
        // Without MainLeft the window is centred: no position is in use.
        WindowSettings w;
        LoadWindowSettings(file, w);
        if (!w.HasPosition) return "";
        return std::to_string(key == "MainLeft" ? w.MainLeft : w.MainTop);
    }
    if (e.Key->Type == SettingType::Hash)  // only whether one is set, never the hash
        return ReadSettingText(file, e).empty() ? "" : "(set)";
    if (e.Section == "Window" && key == "SelectMode") {
        return std::to_string(UsableMode(ParseSettingNumber(ReadSettingText(file, e))));
    }
    return ReadSettingText(file, e);
}

const SettingEntry* Lookup(const std::string& section, const std::string& key, std::ostream& err) {
    if (!IsSettingSection(section)) {
        err << "quorvex config: unknown section \"" << section
            << "\" (see \"quorvex config list\")\n";
        return nullptr;
    }
    const SettingEntry* k = FindSettingKey(section, key);
    if (!k)
        err << "quorvex config: unknown key \"" << key << "\" in section \"" << section
            << "\" (see \"quorvex config list\")\n";
    return k;
}

// Strict decimal: an optional minus and digits only, within 32 bits.
bool ParseStrictNumber(const std::string& text, int32_t* out) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    }
    if (i == text.size()) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
        if (v > int64_t(INT32_MAX) + 1) return false;
    }
    if (negative) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return false;
    *out = static_cast<int32_t>(v);
    return true;
}

// The text to store for value, or false with a message.
bool StoredForm(const SettingEntry& e, const std::string& value, const std::string& file,
                std::string* stored, std::ostream& err) {
    const SettingKey& k = *e.Key;
    const std::string name = "[" + e.Section + "] " + k.Key;
    if (k.Type == SettingType::Number) {
        int32_t v = 0;
        if (!ParseStrictNumber(value, &v)) {
            err << "quorvex config: " << name << " takes a whole number (" << k.RangeText()
                << "), not \"" << value << "\"\n";
            return false;
        }
        int32_t min = k.Min, max = k.Max;
        std::string range = k.RangeText();
        if (&k == &KeyOf(&PictSettings::PictQuality)) {
            PictSettings pict;
            LoadPictSettings(file, pict);
            const bool png = pict.Type != 1;
            if (png) max = kPngQualityMax;
            range = std::to_string(min) + ".." + std::to_string(max) +
                    (png ? " while Type is 0 (PNG)" : " while Type is 1 (JPEG)");
        }
        if (v < min || v > max || v % k.Multiple != 0) {
            err << "quorvex config: " << name << " must be " << range << ", not " << v << "\n";
            return false;
        }
        *stored = std::to_string(v);
        return true;
    }
    if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        err << "quorvex config: " << name << " cannot hold a line break\n";
        return false;
    }
    bool ok = true;
    std::string cp932 = qv::text::Utf8ToCp932(value, &ok);
    if (!ok) {
        err << "quorvex config: " << name
            << ": the value holds characters the settings file (Shift-JIS, CP932) cannot store\n";
        return false;
    }
    if (k.Type == SettingType::Hash) {
        *stored = value.empty() ? "" : qv::tls::HashPassword(value);
        if (!value.empty() && stored->empty()) {
            err << "quorvex config: " << name << " could not be hashed\n";
            return false;
        }
        return true;
    }
    std::string why;
    if (k.Valid && !k.Valid(value, &why)) {
        err << "quorvex config: " << name << ": " << why << " (" << k.RangeText() << ")\n";
        return false;
    }
    if (k.Type == SettingType::Password) {
        *stored = EncodePassword(value);
        if (cp932.size() > kPasswordBytes) {
            err << "quorvex config: " << name << " is too long: at most " << kPasswordBytes
                << " bytes in Shift-JIS\n";
            return false;
        }
        return true;
    }
    if (value.find(';') != std::string::npos) {
        err << "quorvex config: " << name
            << " cannot hold \";\": the settings file takes it for the start of a comment\n";
        return false;
    }
    if (cp932.size() > kIniValueBufferSize - 1) {
        err << "quorvex config: " << name << " is too long: " << cp932.size()
            << " bytes in Shift-JIS, at most " << (kIniValueBufferSize - 1)
            << " are kept by the program\n";
        return false;
    }
    *stored = value;
    return true;
}

void Usage(std::ostream& err) {
    err << "usage: quorvex [--home DIR] config get SECTION KEY\n"
           "       quorvex [--home DIR] config set SECTION KEY VALUE\n"
           "       quorvex [--home DIR] config list\n"
           "       quorvex [--home DIR] config streams list|add NAME URL|remove NAME\n";
}

// "config streams ...": the stream cameras of [StreamSources]. The list never shows a
// password that a URL holds.
int RunStreamsCommand(const std::vector<std::string>& args, const std::string& programFolder,
                      const std::string& file, std::ostream& out, std::ostream& err) {
    const std::string verb = args.size() > 1 ? args[1] : "";
    std::vector<StreamSource> sources = LoadStreamSources(file);
    if (verb == "list" && args.size() == 2) {
        for (const StreamSource& s : sources)
            out << s.Name << "\t" << qv::capture::RedactUrl(s.Url) << "\n";
        return kDone;
    }
    auto save = [&]() {
        if (!EnsureFolder(programFolder)) {
            err << "quorvex config: cannot create the program folder " << programFolder << "\n";
            return kWriteFailed;
        }
        if (!SaveStreamSources(file, sources)) {
            err << "quorvex config: " << file << " was not changed completely\n";
            return kWriteFailed;
        }
        return kDone;
    };
    if (verb == "add" && args.size() == 4) {
        const StreamSource added{args[2], args[3]};
        const StreamSourceProblem p = CheckNewStreamSource(added, sources);
        if (p != StreamSourceProblem::None) {
            err << "quorvex config streams add: " << StreamSourceProblemText(p) << "\n";
            return kRefused;
        }
        sources.push_back(added);
        return save();
    }
    if (verb == "remove" && args.size() == 3) {
        auto it = std::find_if(sources.begin(), sources.end(),
                               [&](const StreamSource& s) { return s.Name == args[2]; });
        if (it == sources.end()) {
            err << "quorvex config streams remove: no stream source is named \"" << args[2]
                << "\" (see \"quorvex config streams list\")\n";
            return kRefused;
        }
        sources.erase(it);
        return save();
    }
    if (verb == "list" || verb == "add" || verb == "remove")
        err << "quorvex config streams " << verb << ": wrong number of arguments\n";
    else
        err << "quorvex config streams: unknown or missing subcommand \"" << verb << "\"\n";
    Usage(err);
    return kRefused;
}

}  // namespace

const char* ConfigCommandHelp() {
    return "Settings (no display needed):\n"
           "  quorvex config get SECTION KEY        print the value the program uses (the\n"
           "                                        default when the file does not hold it)\n"
           "  quorvex config set SECTION KEY VALUE  store a value; numbers must lie in the\n"
           "                                        range the settings dialogs offer\n"
           "  quorvex config list                   print every section and key with its value\n"
           "                                        (passwords masked)\n"
           "  quorvex config streams list           print the stream cameras (name, URL\n"
           "                                        without its password)\n"
           "  quorvex config streams add NAME URL   add a stream camera: an RTSP or HTTP\n"
           "                                        URL, or a video file that loops\n"
           "  quorvex config streams remove NAME    remove a stream camera\n"
           "  Sections: Window, BasicSettings, WarningSettings0..2 (operating modes 1..3),\n"
           "  MailSettings, PictSettings. The settings file is Quorvex.ini in the program\n"
           "  folder (see --home). Exit code 2: unknown section or key, or a refused value.\n";
}

int RunConfigCommand(const std::vector<std::string>& args, const std::string& programFolder,
                     std::ostream& out, std::ostream& err) {
    const std::string file = SettingsFilePath(programFolder);
    const std::string verb = args.empty() ? "" : args[0];
    if (verb == "--help" || verb == "-h" || verb == "help") {
        out << ConfigCommandHelp();
        return kDone;
    }
    if (verb == "get" && args.size() == 3) {
        const SettingEntry* k = Lookup(args[1], args[2], err);
        if (!k) return kRefused;
        out << ValueInUse(*k, file) << "\n";
        return kDone;
    }
    if (verb == "set" && args.size() == 4) {
        const SettingEntry* k = Lookup(args[1], args[2], err);
        if (!k) return kRefused;
        std::string stored;
        if (!StoredForm(*k, args[3], file, &stored, err)) return kRefused;
        if (!EnsureFolder(programFolder)) {
            err << "quorvex config: cannot create the program folder " << programFolder << "\n";
            return kWriteFailed;
        }
        if (!IniWriteString(k->Section, k->Key->Key, stored, file)) {
            err << "quorvex config: " << file << " was not changed\n";
            return kWriteFailed;
        }
        return kDone;
    }
    if (verb == "streams") return RunStreamsCommand(args, programFolder, file, out, err);
    if (verb == "list" && args.size() == 1) {
        std::string_view section;
        for (const SettingEntry& e : SettingKeys()) {
            if (section != e.Section) {
                section = e.Section;
                out << "[" << section << "]\n";
            }
            std::string value = ValueInUse(e, file);
            // A listing ends up in terminals and bug reports; "get" of the key still tells it.
            if (e.Key->Type == SettingType::Password && !value.empty()) value = "********";
            out << e.Key->Key << "=" << value << "\n";
        }
        return kDone;
    }
    if (verb == "get" || verb == "set" || verb == "list")
        err << "quorvex config " << verb << ": wrong number of arguments\n";
    else if (verb.empty())
        err << "quorvex config: a subcommand is missing\n";
    else
        err << "quorvex config: unknown subcommand \"" << verb << "\"\n";
    Usage(err);
    return kRefused;
}
