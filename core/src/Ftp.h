// FTP client (the QFtp exports) on libcurl: listing parser and helpers the tests reach.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "core/include/QuorCore.h"

namespace qv::core {

struct FtpEntry {
    std::string Name;
    bool Directory = false;
    uint64_t Size = 0;
    int64_t Time = 0;  // seconds since 1970, UTC; 0 when the listing gives none
};

// One line of a LIST reply, in the Unix "ls -l" form or the MS-DOS form. `now` decides the
// year of dates listed without one. False for lines that are no entry ("total 12", junk).
bool ParseFtpListLine(const std::string& line, std::time_t now, FtpEntry* entry);

// Fills a find-data record: attribute 16 for folders, 128 for the rest, the listed time as
// all three times, the name cut to 259 bytes.
void FillFindData(const FtpEntry& entry, WIN32_FIND_DATAA* data);

// The folder of a "257" reply to PWD ("257 "/a ""b"" c" is current" gives /a "b" c).
bool ParsePwdReply(const std::string& reply, std::string* folder);

}  // namespace qv::core
