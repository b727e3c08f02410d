// Keeps the picture folders and the log folder within what the user allows: pictures older than
// some days, a size cap on the pictures, a floor on the free space, logs older than some days.
// Only files the program names itself are ever deleted (d/t + 16 digits + ".jpg" pictures,
// YYYY-MM-DD.log logs), never through a symbolic link, oldest first. Nothing happens unless a
// limit is set.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::retention {

struct Policy {
    int64_t PictureDays = 0;       // 0: keep pictures forever
    int64_t PictureMegabytes = 0;  // 0: no cap on the detect and timer folders together
    int64_t LogDays = 0;           // 0: keep logs forever
    int64_t MinFreeMegabytes = 0;  // 0: no floor on the free space of a picture folder's disk
    bool Any() const {
        return PictureDays > 0 || PictureMegabytes > 0 || LogDays > 0 || MinFreeMegabytes > 0;
    }
};

struct Result {
    int Pictures = 0;
    uint64_t Bytes = 0;  // of the pictures deleted
    int Logs = 0;
    // One line for standard output, or "" when nothing was deleted.
    std::string Summary() const;
};

bool IsPictureName(std::string_view name);
bool IsLogName(std::string_view name);

// Free bytes on the filesystem of a folder, or nullopt when it cannot be read.
using FreeSpaceFn = std::function<std::optional<uint64_t>(const std::string& folder)>;
std::optional<uint64_t> SystemFreeSpace(const std::string& folder);

// Any thread; touches only the files. The same folder may be named twice (detect == timer).
Result CleanUp(const Policy& policy, const std::vector<std::string>& pictureFolders,
               const std::string& logFolder, std::time_t now,
               const FreeSpaceFn& freeSpace = SystemFreeSpace);

}  // namespace qv::retention
