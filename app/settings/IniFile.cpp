#include "app/settings/IniFile.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/file/Owners.h"
#include "platform/text/Text.h"

namespace {

using qv::text::Cp932ToUpper;
using qv::text::LastCp932CharOffset;
using qv::UniqueFd;

struct Line {
    std::string_view text;  // without its line break
    std::string_view end;   // "\r\n", "\n" or "" (the last line of a file without a final break)
};

std::vector<Line> SplitLines(std::string_view content) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t nl = content.find('\n', pos);
        if (nl == std::string_view::npos) {
            lines.push_back({content.substr(pos), {}});
            break;
        }
        size_t textEnd = nl;
        if (textEnd > pos && content[textEnd - 1] == '\r') --textEnd;
        lines.push_back(
            {content.substr(pos, textEnd - pos), content.substr(textEnd, nl + 1 - textEnd)});
        pos = nl + 1;
    }
    return lines;
}

// A line is interpreted as a C string: up to a NUL byte, then up to
// the first ";".
std::string_view CutLine(std::string_view line) {
    size_t nul = line.find('\0');
    if (nul != std::string_view::npos) line = line.substr(0, nul);
    size_t semi = line.find(';');
    if (semi != std::string_view::npos) line = line.substr(0, semi);
    return line;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// "[" first and "]" as the last character (a second byte 0x5D of a double-byte character is not
// a bracket).
bool IsHeader(std::string_view cut) {
    if (cut.size() < 2 || cut.front() != '[') return false;
    size_t last = LastCp932CharOffset(cut);
    return last == cut.size() - 1 && cut.back() == ']';
}

bool SameUpper(std::string_view a, std::string_view b) {
    return a.size() == b.size() && Cp932ToUpper(a) == Cp932ToUpper(b);
}

// Rule for the search of the section: cut, trimmed, bracketed, same name in upper case.
bool IsWantedHeader(std::string_view line, std::string_view section) {
    std::string_view t = Trim(CutLine(line));
    return IsHeader(t) && SameUpper(t.substr(1, t.size() - 2), section);
}

// Rule inside the section: the upper-cased line begins with the upper-cased key.
bool IsEntryFor(std::string_view cut, const std::string& upperKey) {
    if (cut.size() < upperKey.size()) return false;
    return Cp932ToUpper(cut.substr(0, upperKey.size())) == upperKey;
}

void AppendLineBreakIfOpen(std::string& out) {
    if (!out.empty() && out.back() != '\n') out.append("\r\n");
}

bool HasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

enum class ReadResult { Ok, Missing, Failed };

ReadResult ReadWholeFile(const std::string& path, std::string& content, int* error) {
    // Non-blocking so that a FIFO in its place cannot hang the program.
    UniqueFd f(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!f) {
        *error = errno;
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    }
    struct stat st {};
    if (::fstat(f.get(), &st) != 0) {
        *error = errno;
        return ReadResult::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return ReadResult::Failed;
    }
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(f.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = errno;
            return ReadResult::Failed;
        }
        if (n == 0) break;
        content.append(buf, static_cast<size_t>(n));
    }
    return ReadResult::Ok;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void Report(const std::string& file, const char* what, int error) {
    std::fprintf(stderr, "quorvex: cannot write the settings file %s: %s: %s\n", file.c_str(), what,
                 std::strerror(error));
}

// A symbolic link is followed so that the link stays and its target is replaced.
std::string ResolveTarget(const std::string& file) {
    struct stat st;
    if (::lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(file.c_str(), resolved) != nullptr) return resolved;
    }
    return file;
}

// Temporary files of writers that were killed: ".<name>.tmp" + six characters.
void RemoveStaleTemporaries(int dirFd, const std::string& prefix) {
    int fd = ::dup(dirFd);
    if (fd < 0) return;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return;
    }
    std::vector<std::string> stale;
    while (dirent* e = ::readdir(dir)) {
        std::string_view name(e->d_name);
        if (name.size() == prefix.size() + 6 && name.substr(0, prefix.size()) == prefix)
            stale.emplace_back(name);
    }
    ::closedir(dir);
    for (const auto& name : stale) ::unlinkat(dirFd, name.c_str(), 0);
}

}  // namespace

bool IniLookup(std::string_view content, std::string_view section, std::string_view key,
               std::string* value) {
    std::vector<Line> lines = SplitLines(content);
    size_t i = 0;
    while (i < lines.size() && !IsWantedHeader(lines[i].text, section)) ++i;
    if (i == lines.size()) return false;
    const std::string upperKey = Cp932ToUpper(key);
    for (++i; i < lines.size(); ++i) {
        if (lines[i].text.empty()) continue;
        std::string_view cut = CutLine(lines[i].text);
        if (IsHeader(cut)) return false;
        if (IsEntryFor(cut, upperKey)) {
            if (value) {
                if (cut.size() > key.size())
                    value->assign(cut.substr(key.size() + 1));
                else
                    value->clear();
            }
            return true;
        }
    }
    return false;
}

namespace {

std::string IniRawValueOrDefault(std::string_view content, bool exists, std::string_view section,
                                 std::string_view key, std::string_view defCp932, size_t size) {
    std::string value;
    if (!exists || !IniLookup(content, section, key, &value)) value.assign(defCp932);
    if (size == 0) return {};
    if (value.size() > size - 1) value.resize(size - 1);
    return value;
}

}  // namespace

std::string IniReadRaw(std::string_view section, std::string_view key, std::string_view defCp932,
                       const std::string& file, std::size_t size) {
    std::string content;
    int error = 0;
    bool exists = !file.empty() && ReadWholeFile(file, content, &error) == ReadResult::Ok;
    return IniRawValueOrDefault(content, exists, section, key, defCp932, size);
}

std::string IniReadString(std::string_view section, std::string_view key, std::string_view def,
                          const std::string& file, std::size_t size) {
    using namespace qv::text;
    return Cp932ToUtf8(
        IniReadRaw(Utf8ToCp932(section), Utf8ToCp932(key), Utf8ToCp932(def), file, size));
}

std::string IniRewrite(std::string_view oldContent, bool hasOld, std::string_view section,
                       std::string_view key, std::string_view value) {
    std::string header = "[" + std::string(section) + "]\r\n";
    std::string entry = std::string(key) + "=" + std::string(value) + "\r\n";
    std::string out;
    out.reserve(oldContent.size() + entry.size() + header.size());
    if (!hasOld) return header + entry;

    std::vector<Line> lines = SplitLines(oldContent);
    auto copyLine = [&out](const Line& l) {
        out.append(l.text);
        out.append(l.end);
    };
    size_t i = 0;
    for (; i < lines.size(); ++i) {
        copyLine(lines[i]);
        if (IsWantedHeader(lines[i].text, section)) break;
    }
    if (i == lines.size()) {
        AppendLineBreakIfOpen(out);
        return out + header + entry;
    }
    const std::string upperKey = Cp932ToUpper(key);
    bool written = false;
    for (++i; i < lines.size() && !written; ++i) {
        if (lines[i].text.empty()) continue;  // blank lines of the target section go
        std::string_view cut = CutLine(lines[i].text);
        if (IsHeader(cut)) {
            AppendLineBreakIfOpen(out);
            out.append(entry);
            written = true;
            --i;  // the next header is copied with the rest
        } else if (IsEntryFor(cut, upperKey)) {
            AppendLineBreakIfOpen(out);
            out.append(entry);  // in place of the old entry
            written = true;
        } else {
            copyLine(lines[i]);
        }
    }
    if (!written) {
        AppendLineBreakIfOpen(out);
        out.append(entry);
    }
    for (; i < lines.size(); ++i) copyLine(lines[i]);
    return out;
}

bool IniWriteRaw(std::string_view section, std::string_view key, std::string_view value,
                 const std::string& file) {
    if (file.empty()) {
        std::fprintf(stderr, "quorvex: no settings file to write\n");
        return false;
    }
    if (HasLineBreakOrNul(section) || HasLineBreakOrNul(key) || HasLineBreakOrNul(value)) {
        std::fprintf(stderr,
                     "quorvex: not written to %s: a section, key or value cannot hold a line "
                     "break or a NUL byte\n",
                     file.c_str());
        return false;
    }
    const std::string target = ResolveTarget(file);
    size_t slash = target.rfind('/');
    const std::string dir =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

    UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd) {
        Report(file, "cannot open its folder", errno);
        return false;
    }
    // One writer at a time (the program and a config command may both write); the kernel drops
    // the lock of a writer that dies.
    bool locked = ::flock(dirFd.get(), LOCK_EX) == 0;
    const std::string tempPrefix = "." + base + ".tmp";
    if (locked) RemoveStaleTemporaries(dirFd.get(), tempPrefix);

    // A file the user made read-only stays as it is (rename would replace it regardless). Said
    // once per process: a save writes many keys.
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
         ::access(target.c_str(), W_OK) != 0)) {
        static std::atomic<bool> said{false};
        if (!said.exchange(true))
            std::fprintf(stderr,
                         "quorvex: the settings file %s is read-only: settings are not saved\n",
                         file.c_str());
        errno = EACCES;
        return false;
    }

    std::string old;
    int error = 0;
    ReadResult rr = ReadWholeFile(target, old, &error);
    if (rr == ReadResult::Failed) {
        Report(file, "cannot read it", error);
        return false;
    }
    const std::string content = IniRewrite(old, rr == ReadResult::Ok, section, key, value);

    // The new content is complete and on disk before it replaces the old file.
    std::string tempPath = dir + "/" + tempPrefix + "XXXXXX";
    std::vector<char> templ(tempPath.begin(), tempPath.end());
    templ.push_back('\0');
    UniqueFd temp(::mkostemp(templ.data(), O_CLOEXEC));
    if (!temp) {
        Report(file, "cannot create a temporary file beside it", errno);
        return false;
    }
    tempPath = templ.data();
    auto fail = [&](const char* what, int err) {
        ::unlink(tempPath.c_str());
        Report(file, what, err);
        return false;
    };
    if (::fchmod(temp.get(), 0600) != 0) return fail("cannot set its mode", errno);
    if (!WriteAll(temp.get(), content)) return fail("cannot write the new content", errno);
    if (::fsync(temp.get()) != 0) return fail("cannot flush the new content", errno);
    int fd = temp.release();
    if (::close(fd) != 0) return fail("cannot close the new content", errno);
    if (::rename(tempPath.c_str(), target.c_str()) != 0) return fail("cannot replace it", errno);
    ::fsync(dirFd.get());
    return true;
}

bool IniWriteString(std::string_view section, std::string_view key, std::string_view value,
                    const std::string& file) {
    using namespace qv::text;
    return IniWriteRaw(Utf8ToCp932(section), Utf8ToCp932(key), Utf8ToCp932(value), file);
}
