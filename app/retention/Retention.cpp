#include "app/retention/Retention.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/file/Owners.h"

namespace qv::retention {

namespace {

constexpr uint64_t kMegabyte = 1024 * 1024;

bool Digits(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

struct Entry {
    size_t Folder;  // index into the opened folders
    std::string Name;
    std::time_t Modified;
    uint64_t Size;
    uint64_t Allocated;  // what deleting it frees on the disk
};

struct Folder {
    std::string Path;
    UniqueFd Fd;
    dev_t Device;
};

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

// The program's own files in one folder (regular files only; links are passed over).
template <typename Match>
void List(size_t index, int dirFd, Match match, std::vector<Entry>& out) {
    const int fd = ::dup(dirFd);
    if (fd < 0) return;
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
    if (!dir) {
        ::close(fd);
        return;
    }
    while (const dirent* e = ::readdir(dir.get())) {
        if (!match(std::string_view(e->d_name))) continue;
        struct stat st;
        if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        out.push_back({index, e->d_name, st.st_mtime, static_cast<uint64_t>(st.st_size),
                       static_cast<uint64_t>(st.st_blocks) * 512});
    }
}

bool Older(const Entry& a, const Entry& b) {
    return a.Modified != b.Modified ? a.Modified < b.Modified : a.Name < b.Name;
}

}  // namespace

bool IsPictureName(std::string_view name) {
    return name.size() == 21 && (name[0] == 'd' || name[0] == 't') && Digits(name.substr(1, 16)) &&
           name.substr(17) == ".jpg";
}

bool IsLogName(std::string_view name) {
    return name.size() == 14 && Digits(name.substr(0, 4)) && name[4] == '-' &&
           Digits(name.substr(5, 2)) && name[7] == '-' && Digits(name.substr(8, 2)) &&
           name.substr(10) == ".log";
}

std::string Result::Summary() const {
    if (Pictures == 0 && Logs == 0) return "";
    char text[160];
    std::snprintf(text, sizeof text, "retention: deleted %d picture%s (%.1f MB) and %d log file%s",
                  Pictures, Pictures == 1 ? "" : "s", static_cast<double>(Bytes) / kMegabyte, Logs,
                  Logs == 1 ? "" : "s");
    return text;
}

std::optional<uint64_t> SystemFreeSpace(const std::string& folder) {
    struct statvfs vfs;
    if (::statvfs(folder.c_str(), &vfs) != 0) return std::nullopt;
    return static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

Result CleanUp(const Policy& policy, const std::vector<std::string>& pictureFolders,
               const std::string& logFolder, std::time_t now, const FreeSpaceFn& freeSpace) {
    Result result;
    if (!policy.Any()) return result;

    // Each folder once, however it is named.
    std::vector<Folder> folders;
    std::vector<std::pair<dev_t, ino_t>> seen;
    for (const std::string& path : pictureFolders) {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat st;
        if (!fd || ::fstat(fd.get(), &st) != 0) continue;
        if (std::find(seen.begin(), seen.end(), std::make_pair(st.st_dev, st.st_ino)) != seen.end())
            continue;
        seen.emplace_back(st.st_dev, st.st_ino);
        folders.push_back({path, std::move(fd), st.st_dev});
    }

    std::vector<Entry> pictures;
    for (size_t i = 0; i < folders.size(); ++i)
        List(i, folders[i].Fd.get(), IsPictureName, pictures);
    std::sort(pictures.begin(), pictures.end(), Older);

    std::vector<bool> gone(pictures.size(), false);
    auto remove = [&](size_t i) {
        if (gone[i]) return;
        const Entry& e = pictures[i];
        if (::unlinkat(folders[e.Folder].Fd.get(), e.Name.c_str(), 0) != 0) return;
        gone[i] = true;
        ++result.Pictures;
        result.Bytes += e.Size;
    };

    if (policy.PictureDays > 0) {
        const std::time_t limit = now - static_cast<std::time_t>(policy.PictureDays) * 86400;
        for (size_t i = 0; i < pictures.size() && pictures[i].Modified < limit; ++i) remove(i);
    }
    if (policy.PictureMegabytes > 0) {
        const uint64_t cap = static_cast<uint64_t>(policy.PictureMegabytes) * kMegabyte;
        uint64_t total = 0;
        for (size_t i = 0; i < pictures.size(); ++i)
            if (!gone[i]) total += pictures[i].Size;
        for (size_t i = 0; i < pictures.size() && total > cap; ++i) {
            if (gone[i]) continue;
            remove(i);
            if (gone[i]) total -= pictures[i].Size;
        }
    }
    if (policy.MinFreeMegabytes > 0) {
        const uint64_t floor = static_cast<uint64_t>(policy.MinFreeMegabytes) * kMegabyte;
        for (const Folder& folder : folders) {
            // Oldest pictures on this folder's disk go until the free space is back above the
            // floor; the disk is asked again after each round, as others write to it too.
            for (size_t next = 0;;) {
                std::optional<uint64_t> free = freeSpace(folder.Path);
                if (!free || *free >= floor) break;
                uint64_t freed = 0;
                const uint64_t wanted = floor - *free;
                for (; next < pictures.size() && freed < wanted; ++next) {
                    if (gone[next] || folders[pictures[next].Folder].Device != folder.Device)
                        continue;
                    remove(next);
                    if (gone[next])
                        freed += std::max(pictures[next].Allocated, pictures[next].Size);
                }
                if (freed == 0) break;  // nothing of ours left to delete on this disk
            }
        }
    }

    if (policy.LogDays > 0 && !logFolder.empty()) {
        UniqueFd fd(::open(logFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        std::vector<Entry> logs;
        if (fd) List(0, fd.get(), IsLogName, logs);
        const std::time_t limit = now - static_cast<std::time_t>(policy.LogDays) * 86400;
        for (const Entry& e : logs)
            if (e.Modified < limit && ::unlinkat(fd.get(), e.Name.c_str(), 0) == 0) ++result.Logs;
    }
    return result;
}

}  // namespace qv::retention
