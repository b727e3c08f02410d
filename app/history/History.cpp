#include "app/history/History.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>

#include "app/retention/Retention.h"
#include "platform/text/Text.h"

namespace qv::history {

namespace {

// "K,YYYY/MM/DD hh:mm:ss,KIND TEXT,TEXT"
bool ParseLine(const std::string& line, Entry& e) {
    int kind = -1, y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, used = 0;
    if (std::sscanf(line.c_str(), "%d,%d/%d/%d %d:%d:%d,%n", &kind, &y, &mo, &d, &h, &mi, &s,
                    &used) != 7 ||
        used == 0 || kind < kDetect || kind > kMail)
        return false;
    const size_t comma = line.find(',', static_cast<size_t>(used));
    if (comma == std::string::npos) return false;
    e.Kind = kind;
    e.When.tm_year = y - 1900;
    e.When.tm_mon = mo - 1;
    e.When.tm_mday = d;
    e.When.tm_hour = h;
    e.When.tm_min = mi;
    e.When.tm_sec = s;
    e.Text = line.substr(comma + 1);
    return true;
}

}  // namespace

bool IsMailFailure(const std::string& text) {
    return text.find("失敗") != std::string::npos;
}

std::vector<std::string> Days(const std::string& logFolder) {
    std::vector<std::string> days;
    struct DirCloser {
        void operator()(DIR* d) const { closedir(d); }
    };
    std::unique_ptr<DIR, DirCloser> dir(::opendir(logFolder.c_str()));
    if (!dir) return days;
    while (const dirent* e = ::readdir(dir.get()))
        if (retention::IsLogName(e->d_name)) days.emplace_back(e->d_name, 10);
    std::sort(days.rbegin(), days.rend());
    return days;
}

std::vector<Entry> ReadDay(const Folders& folders, const std::string& day) {
    std::vector<Entry> entries;
    std::ifstream in(text::JoinPath(folders.Log, day + ".log"), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Entry e;
        if (!ParseLine(text::Cp932ToUtf8(line), e)) continue;
        if (e.Kind == kMail) {
            e.MailFailed = IsMailFailure(e.Text);
            // The warning that sent it is the detect picture saved just before.
            for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
                if (it->Kind == kMail) break;
                if (it->Kind == kDetect) {
                    it->Warning = true;
                    break;
                }
            }
        } else if (retention::IsPictureName(e.Text)) {
            e.Picture = text::JoinPath(e.Kind == kDetect ? folders.Detect : folders.Timer, e.Text);
            e.Exists = ::access(e.Picture.c_str(), F_OK) == 0;
        }
        entries.push_back(std::move(e));
    }
    std::reverse(entries.begin(), entries.end());
    return entries;
}

bool DeletePicture(const Entry& entry) {
    if (entry.Picture.empty() || !retention::IsPictureName(entry.Text)) return false;
    return ::unlink(entry.Picture.c_str()) == 0;
}

}  // namespace qv::history
