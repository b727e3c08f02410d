// The QFtp family on libcurl. One connection at a time, held in module state and used from
// one thread; only QFtpCancel comes from another thread.
//
// libcurl speaks FTP per transfer, so a "connection" here is one easy handle that keeps
// its control connection alive between calls. The server's current folder is ours to
// keep: every call first sends "CWD <folder>" (libcurl is told not to change folders
// itself), so a reconnect behind our back cannot leave us elsewhere.
#include "core/src/Ftp.h"

#include "core/src/CoreState.h"
#include "platform/file/Owners.h"
#include "platform/http/CurlHandles.h"

#include <curl/curl.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace qv::core {

using namespace qv::curl;
namespace {

constexpr char kUnknownError[] = "不明なエラー";
constexpr unsigned long kPassiveFlag = 0x08000000ul;  // INTERNET_FLAG_PASSIVE
constexpr size_t kMaxListing = 16u * 1024 * 1024;
constexpr size_t kErrorSize = 1024;

using FilePtr = qv::UniqueFile;

struct FindHandle {
    std::vector<FtpEntry> Entries;
    size_t Next = 0;
};

struct FtpModule {
    bool Started = false;
    EasyPtr Handle;  // non-null: logged on
    std::string BaseUrl;
    std::string Folder;  // the server's current folder, as PWD gave it
    uint32_t BufferSize = 1024;
    std::atomic<int> Cancel{0};
    char LastError[kErrorSize] = {};
    QFTPSTATE Upload{};
    QFTPSTATE Download{};
    // Replies of the call in progress, each whole (all lines of a multi-line reply).
    std::string Partial;
    std::vector<std::string> Replies;
    std::set<FindHandle*> Finds;
};

FtpModule& Module() {
    static FtpModule m;
    return m;
}

// Any thread: curl_global_init once per process.
void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void SetLastError(const std::string& text) {
    auto& m = Module();
    const size_t n = std::min(text.size(), kErrorSize - 1);
    std::memcpy(m.LastError, text.data(), n);
    m.LastError[n] = '\0';
}

// The server's last reply of this call, else the unknown-error text.
void RecordError() {
    auto& m = Module();
    SetLastError(m.Replies.empty() ? std::string(kUnknownError) : m.Replies.back());
}

bool IsReplyEnd(const std::string& line) {
    return line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
           std::isdigit(static_cast<unsigned char>(line[1])) &&
           std::isdigit(static_cast<unsigned char>(line[2])) &&
           (line.size() == 3 || line[3] == ' ' || line[3] == '\r' || line[3] == '\n');
}

// libcurl hands every server reply line to the header function.
size_t OnReplyLine(char* data, size_t size, size_t count, void*) {
    auto& m = Module();
    const std::string line(data, size * count);
    if (m.Partial.size() < kErrorSize) m.Partial += line;
    if (IsReplyEnd(line)) {
        m.Replies.push_back(std::move(m.Partial));
        m.Partial.clear();
    }
    return size * count;
}

size_t Discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

size_t CollectListing(char* data, size_t size, size_t count, void* user) {
    auto* out = static_cast<std::string*>(user);
    const size_t n = size * count;
    if (out->size() + n > kMaxListing) return 0;
    out->append(data, n);
    return n;
}

bool HasLineBreak(const char* text) {
    return std::strpbrk(text, "\r\n") != nullptr;
}

struct Request {
    std::string Path;                   // escaped URL path below the host, "" for none
    std::vector<std::string> Commands;  // sent after "CWD <folder>", before any transfer
    bool Transfer = false;              // false: commands only
    bool Upload = false;
    std::string ListCommand;  // "LIST ..." for a listing
    curl_read_callback Read = nullptr;
    void* ReadData = nullptr;
    curl_write_callback Write = nullptr;
    void* WriteData = nullptr;
};

Request CommandsOnly(std::vector<std::string> commands) {
    Request r;
    r.Commands = std::move(commands);
    return r;
}

// Runs one exchange on the connection. The calling thread only.
CURLcode Perform(const Request& r) {
    auto& m = Module();
    CURL* h = m.Handle.get();
    m.Replies.clear();
    m.Partial.clear();
    ListPtr quote;
    std::vector<std::string> commands;
    if (!m.Folder.empty()) commands.push_back("CWD " + m.Folder);
    commands.insert(commands.end(), r.Commands.begin(), r.Commands.end());
    for (const auto& c : commands) {
        curl_slist* next = curl_slist_append(quote.get(), c.c_str());
        if (!next) return CURLE_OUT_OF_MEMORY;
        (void)quote.release();
        quote.reset(next);
    }
    const std::string url = m.BaseUrl + r.Path;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_QUOTE, quote.get());
    curl_easy_setopt(h, CURLOPT_NOBODY, r.Transfer ? 0L : 1L);
    curl_easy_setopt(h, CURLOPT_UPLOAD, r.Upload ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST,
                     r.ListCommand.empty() ? nullptr : r.ListCommand.c_str());
    curl_easy_setopt(h, CURLOPT_READFUNCTION, r.Read);
    curl_easy_setopt(h, CURLOPT_READDATA, r.ReadData);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, r.Write ? r.Write : Discard);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, r.WriteData);
    const CURLcode rc = curl_easy_perform(h);
    curl_easy_setopt(h, CURLOPT_QUOTE, nullptr);
    return rc;
}

// The URL path of a name relative to the current folder (or absolute with a leading "/").
std::string UrlPath(const std::string& name) {
    CURL* h = Module().Handle.get();
    std::string out;
    size_t pos = 0;
    if (!name.empty() && name[0] == '/') {
        out = "%2F";
        pos = 1;
    }
    bool first = true;
    while (pos <= name.size()) {
        size_t slash = name.find('/', pos);
        if (slash == std::string::npos) slash = name.size();
        CurlText part(curl_easy_escape(h, name.c_str() + pos, static_cast<int>(slash - pos)));
        if (!part) return {};
        if (!first) out += '/';
        out += part.get();
        first = false;
        pos = slash + 1;
    }
    return out;
}

// The folder of the last PWD reply of this call.
bool FolderFromReplies(std::string* folder) {
    const auto& replies = Module().Replies;
    for (auto it = replies.rbegin(); it != replies.rend(); ++it)
        if (it->compare(0, 4, "257 ") == 0) return ParsePwdReply(*it, folder);
    return false;
}

// Changes the server's folder; on success the new folder is ours.
bool ChangeFolder(const std::string& folder) {
    if (Perform(CommandsOnly({"CWD " + folder, "PWD"})) != CURLE_OK) return false;
    std::string now;
    if (!FolderFromReplies(&now)) return false;
    Module().Folder = now;
    return true;
}

bool WildcardPattern(const std::string& s) {
    return s.find_first_of("*?[") != std::string::npos;
}

// Lists a pattern: a name or folder goes to the server as it is; a wildcard in the last
// part is matched here, since servers differ in globbing.
bool List(const char* pattern, std::vector<FtpEntry>* entries) {
    std::string arg = pattern ? pattern : "";
    std::string filter;
    const size_t slash = arg.rfind('/');
    const std::string last = slash == std::string::npos ? arg : arg.substr(slash + 1);
    if (WildcardPattern(last)) {
        filter = last == "*.*" ? "*" : last;
        arg = slash == std::string::npos ? "" : arg.substr(0, slash + 1);
    }
    std::string listing;
    Request r;
    r.Transfer = true;
    r.ListCommand = arg.empty() ? "LIST" : "LIST " + arg;
    r.Write = CollectListing;
    r.WriteData = &listing;
    if (Perform(r) != CURLE_OK) {
        RecordError();
        return false;
    }
    const std::time_t now = std::time(nullptr);
    size_t pos = 0;
    while (pos < listing.size()) {
        size_t eol = listing.find('\n', pos);
        if (eol == std::string::npos) eol = listing.size();
        std::string line = listing.substr(pos, eol - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pos = eol + 1;
        FtpEntry e;
        if (!ParseFtpListLine(line, now, &e) || e.Name == "." || e.Name == "..") continue;
        if (!filter.empty() && fnmatch(filter.c_str(), e.Name.c_str(), 0) != 0) continue;
        entries->push_back(std::move(e));
    }
    return true;
}

bool LoggedOn() {
    return Module().Handle != nullptr;
}

// libcurl's own buffers follow ours, within the bounds it accepts.
void ApplyBufferSize() {
    auto& m = Module();
    const long size =
        static_cast<long>(std::clamp<unsigned long>(m.BufferSize, 1024, CURL_MAX_READ_SIZE));
    curl_easy_setopt(m.Handle.get(), CURLOPT_BUFFERSIZE, size);
    curl_easy_setopt(m.Handle.get(), CURLOPT_UPLOAD_BUFFERSIZE,
                     std::clamp<long>(size, 16 * 1024, 2 * 1024 * 1024));
}

void DropConnection() {
    auto& m = Module();
    for (FindHandle* f : m.Finds) delete f;
    m.Finds.clear();
    m.Handle.reset();
    m.Folder.clear();
    m.BaseUrl.clear();
}

struct UrlParts {
    std::string User, Password, Host, Path, Scheme;
};

bool SplitUrl(const char* url, UrlParts* parts) {
    if (!url || HasLineBreak(url)) return false;
    std::string text = url;
    if (text.find("://") == std::string::npos) text = "ftp://" + text;
    UrlPtr u(curl_url());
    if (!u ||
        curl_url_set(u.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        return false;
    auto get = [&](CURLUPart part, std::string* out, unsigned flags) {
        char* raw = nullptr;
        if (curl_url_get(u.get(), part, &raw, flags) == CURLUE_OK && raw) {
            CurlText owned(raw);
            *out = owned.get();
        }
    };
    get(CURLUPART_SCHEME, &parts->Scheme, 0);
    get(CURLUPART_USER, &parts->User, CURLU_URLDECODE);
    get(CURLUPART_PASSWORD, &parts->Password, CURLU_URLDECODE);
    get(CURLUPART_HOST, &parts->Host, 0);
    get(CURLUPART_PATH, &parts->Path, CURLU_URLDECODE);
    return !parts->Host.empty() && !HasLineBreak(parts->User.c_str()) &&
           !HasLineBreak(parts->Password.c_str()) && !HasLineBreak(parts->Path.c_str());
}

// Upload: the callback reports a chunk once libcurl asks for the next one, i.e. once the
// chunk has gone to the server.
struct UploadJob {
    std::FILE* File = nullptr;
    QFtpProgressCallback Callback = nullptr;
    void* User = nullptr;
    bool Started = false;
    size_t Pending = 0;  // bytes handed over but not yet counted
};

void ReportUploadPending(UploadJob& job) {
    auto& m = Module();
    if (job.Pending == 0) return;
    m.Upload.dwTransferred += static_cast<uint32_t>(job.Pending);
    job.Pending = 0;
    if (job.Callback) job.Callback(&m.Upload, job.User);
}

size_t ReadChunk(char* buffer, size_t size, size_t count, void* user) {
    auto& job = *static_cast<UploadJob*>(user);
    auto& m = Module();
    if (!job.Started) {
        job.Started = true;
        if (job.Callback) job.Callback(&m.Upload, job.User);
    }
    ReportUploadPending(job);
    if (m.Cancel.load()) return 0;  // ends the file here; the call still succeeds
    const size_t want = std::min<size_t>(m.BufferSize, size * count);
    const size_t n = std::fread(buffer, 1, want, job.File);
    job.Pending = n;
    return n;
}

struct DownloadJob {
    std::string LocalPath;
    FilePtr File;
    QFtpProgressCallback Callback = nullptr;
    void* User = nullptr;
    bool LocalFailed = false;
    bool Cancelled = false;
};

bool OpenLocal(DownloadJob& job) {
    if (job.File) return true;
    job.File.reset(std::fopen(job.LocalPath.c_str(), "wb"));
    if (!job.File) return false;
    if (job.Callback) job.Callback(&Module().Download, job.User);
    return true;
}

size_t WriteChunk(char* data, size_t size, size_t count, void* user) {
    auto& job = *static_cast<DownloadJob*>(user);
    auto& m = Module();
    const size_t total = size * count;
    if (!OpenLocal(job)) {
        job.LocalFailed = true;
        return 0;
    }
    // libcurl's buffer has a floor of 1 KiB; smaller chunks are reported piece by piece.
    for (size_t done = 0; done < total;) {
        if (m.Cancel.load()) {
            job.Cancelled = true;
            return 0;
        }
        const size_t n = std::min<size_t>(m.BufferSize, total - done);
        if (std::fwrite(data + done, 1, n, job.File.get()) != n) {
            job.LocalFailed = true;
            return 0;
        }
        done += n;
        m.Download.dwTransferred += static_cast<uint32_t>(n);
        if (job.Callback) job.Callback(&m.Download, job.User);
    }
    return total;
}

bool DigitsAt(const std::string& s, size_t pos, size_t n) {
    if (pos + n > s.size()) return false;
    for (size_t i = 0; i < n; ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[pos + i]))) return false;
    return true;
}

int MonthOf(const std::string& token) {
    static const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                    "jul", "aug", "sep", "oct", "nov", "dec"};
    if (token.size() != 3) return 0;
    for (int i = 0; i < 12; ++i)
        if (strncasecmp(token.c_str(), kMonths[i], 3) == 0) return i + 1;
    return 0;
}

int64_t UtcSeconds(int year, int month, int day, int hour, int minute) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    return static_cast<int64_t>(timegm(&t));
}

bool ParseUnsigned(const std::string& s, uint64_t* value) {
    if (s.empty() || s.size() > 19) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    *value = v;
    return true;
}

struct Token {
    std::string Text;
    size_t End;  // position after the token in the line
};

std::vector<Token> Tokens(const std::string& line, size_t maxTokens) {
    std::vector<Token> out;
    size_t pos = 0;
    while (out.size() < maxTokens) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
        if (pos >= line.size()) break;
        size_t end = pos;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
        out.push_back({line.substr(pos, end - pos), end});
        pos = end;
    }
    return out;
}

// The rest of the line after a token, less the blanks that separate it.
std::string RestAfter(const std::string& line, size_t end) {
    while (end < line.size() && (line[end] == ' ' || line[end] == '\t')) ++end;
    return line.substr(end);
}

bool ParseUnixLine(const std::string& line, std::time_t now, FtpEntry* e) {
    const char type = line[0];
    if (std::strchr("-dlbcps", type) == nullptr) return false;
    const auto tokens = Tokens(line, 12);
    // Find "<size> <month> <day> <time-or-year>", wherever owner and group put it.
    for (size_t i = 2; i + 2 < tokens.size(); ++i) {
        const int month = MonthOf(tokens[i].Text);
        uint64_t size = 0, day = 0;
        if (!month || !ParseUnsigned(tokens[i - 1].Text, &size) ||
            !ParseUnsigned(tokens[i + 1].Text, &day) || day < 1 || day > 31)
            continue;
        const std::string& when = tokens[i + 2].Text;
        int year = 0, hour = 0, minute = 0;
        if (when.size() == 5 && when[2] == ':' && DigitsAt(when, 0, 2) && DigitsAt(when, 3, 2)) {
            hour = std::stoi(when.substr(0, 2));
            minute = std::stoi(when.substr(3, 2));
            std::tm today{};
            gmtime_r(&now, &today);
            year = today.tm_year + 1900;
            // "ls" shows the time only for the last six months: a date ahead of today
            // belongs to last year.
            if (UtcSeconds(year, month, static_cast<int>(day), hour, minute) > now + 86400) --year;
        } else if (when.size() == 4 && DigitsAt(when, 0, 4)) {
            year = std::stoi(when);
        } else {
            continue;
        }
        std::string name = RestAfter(line, tokens[i + 2].End);
        if (name.empty()) return false;
        if (type == 'l') {
            const size_t arrow = name.find(" -> ");
            if (arrow != std::string::npos) name.resize(arrow);
        }
        e->Name = name;
        e->Directory = type == 'd';
        e->Size = size;
        e->Time = UtcSeconds(year, month, static_cast<int>(day), hour, minute);
        return true;
    }
    return false;
}

// "12-06-26  08:15PM       <DIR>          name" or "... 1234 name"
bool ParseDosLine(const std::string& line, FtpEntry* e) {
    const auto tokens = Tokens(line, 3);
    if (tokens.size() < 3) return false;
    const std::string& date = tokens[0].Text;
    const std::string& time = tokens[1].Text;
    if (!(date.size() == 8 || date.size() == 10) || !DigitsAt(date, 0, 2) || date[2] != '-' ||
        !DigitsAt(date, 3, 2) || date[5] != '-' || !DigitsAt(date, 6, date.size() - 6))
        return false;
    if (time.size() != 7 || !DigitsAt(time, 0, 2) || time[2] != ':' || !DigitsAt(time, 3, 2))
        return false;
    int month = std::stoi(date.substr(0, 2)), day = std::stoi(date.substr(3, 2));
    int year = std::stoi(date.substr(6));
    if (date.size() == 8) year += year < 70 ? 2000 : 1900;
    int hour = std::stoi(time.substr(0, 2)) % 12;
    const int minute = std::stoi(time.substr(3, 2));
    const char half = static_cast<char>(std::toupper(static_cast<unsigned char>(time[5])));
    if ((half != 'A' && half != 'P') || std::toupper(static_cast<unsigned char>(time[6])) != 'M')
        return false;
    if (half == 'P') hour += 12;
    if (month < 1 || month > 12 || day < 1 || day > 31) return false;
    if (tokens[2].Text == "<DIR>") {
        e->Directory = true;
    } else if (!ParseUnsigned(tokens[2].Text, &e->Size)) {
        return false;
    }
    e->Name = RestAfter(line, tokens[2].End);
    if (e->Name.empty()) return false;
    e->Time = UtcSeconds(year, month, day, hour, minute);
    return true;
}

}  // namespace

bool ParseFtpListLine(const std::string& line, std::time_t now, FtpEntry* entry) {
    if (line.size() < 10) return false;
    FtpEntry e;
    const bool ok = std::isdigit(static_cast<unsigned char>(line[0]))
                        ? ParseDosLine(line, &e)
                        : ParseUnixLine(line, now, &e);
    if (!ok) return false;
    *entry = std::move(e);
    return true;
}

void FillFindData(const FtpEntry& entry, WIN32_FIND_DATAA* data) {
    std::memset(data, 0, sizeof *data);
    data->dwFileAttributes =
        entry.Directory ? QV_FILE_ATTRIBUTE_DIRECTORY : QV_FILE_ATTRIBUTE_NORMAL;
    data->nFileSizeHigh = static_cast<uint32_t>(entry.Size >> 32);
    data->nFileSizeLow = static_cast<uint32_t>(entry.Size);
    if (entry.Time != 0) {
        // 100-ns ticks since 1601-01-01.
        const uint64_t ticks = static_cast<uint64_t>(entry.Time + 11644473600LL) * 10000000ull;
        const QvFILETIME ft{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
        data->ftCreationTime = ft;
        data->ftLastAccessTime = ft;
        data->ftLastWriteTime = ft;
    }
    const size_t n = std::min(entry.Name.size(), sizeof data->cFileName - 1);
    std::memcpy(data->cFileName, entry.Name.data(), n);
}

bool ParsePwdReply(const std::string& reply, std::string* folder) {
    if (reply.compare(0, 4, "257 ") != 0) return false;
    size_t pos = reply.find('"');
    if (pos == std::string::npos) return false;
    std::string out;
    for (++pos; pos < reply.size(); ++pos) {
        if (reply[pos] == '"') {
            if (pos + 1 < reply.size() && reply[pos + 1] == '"') {
                out += '"';
                ++pos;
                continue;
            }
            if (out.empty() || HasLineBreak(out.c_str())) return false;
            *folder = out;
            return true;
        }
        out += reply[pos];
    }
    return false;
}

}  // namespace qv::core

using namespace qv::core;

namespace {
unsigned long RunCommands(std::initializer_list<const char*> names,
                          std::vector<std::string> commands) {
    if (!LoggedOn()) return QFTP_FAILED;
    for (const char* n : names)
        if (!n || !*n || HasLineBreak(n)) return QFTP_FAILED;
    if (Perform(CommandsOnly(std::move(commands))) != CURLE_OK) {
        RecordError();
        return QFTP_FAILED;
    }
    return QFTP_OK;
}
std::string Str(const char* s) {
    return s ? s : "";
}
}  // namespace

extern "C" {

QV_API unsigned long QFtpStartup(void) {
    Trace("QFtpStartup\n");
    auto& m = Module();
    if (m.Started) {
        Trace("QFtpCore: QFtp system is already started up.\n");
        return QFTP_FAILED;
    }
    GlobalInit();
    m.LastError[0] = '\0';
    DropConnection();
    m.BufferSize = 1024;
    m.Started = true;
    return QFTP_OK;
}

QV_API unsigned long QFtpCleanup(void) {
    Trace("QFtpCleanup\n");
    auto& m = Module();
    if (!m.Started) {
        Trace("QFtpCore: QFtp system is not started up.\n");
        return QFTP_FAILED;
    }
    if (LoggedOn()) QFtpLogOff();
    m.Started = false;
    return QFTP_OK;
}

QV_API unsigned long QFtpLogOn(char* const url, unsigned long flags, int port, int useProxy,
                               char* proxyUrl, int proxyPort) {
    auto& m = Module();
    if (LoggedOn() || (useProxy != 0 && proxyUrl == nullptr)) return QFTP_FAILED;
    m.Replies.clear();
    UrlParts target, proxy;
    if (!SplitUrl(url, &target) || (useProxy != 0 && !SplitUrl(proxyUrl, &proxy))) {
        RecordError();
        return QFTP_FAILED;
    }
    GlobalInit();
    EasyPtr h(curl_easy_init());
    if (!h) {
        RecordError();
        return QFTP_FAILED;
    }
    CURL* c = h.get();
    if (port <= 0 || port > 65535) port = 21;
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, 60L);
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Tavorin");
    curl_easy_setopt(c, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnReplyLine);
    curl_easy_setopt(c, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(c, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (!target.User.empty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, target.User.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, target.Password.c_str());
    }
    if (useProxy != 0) {
        // libcurl reaches FTP servers through an HTTP proxy (CONNECT tunnels for the control
        // and the passive data connections) or a SOCKS proxy named by the scheme.
        const bool socks = proxy.Scheme.rfind("socks", 0) == 0;
        const std::string address = (socks ? proxy.Scheme : std::string("http")) + "://" +
                                    proxy.Host + ":" + std::to_string(proxyPort);
        curl_easy_setopt(c, CURLOPT_PROXY, address.c_str());
        if (!socks) curl_easy_setopt(c, CURLOPT_HTTPPROXYTUNNEL, 1L);
        curl_easy_setopt(c, CURLOPT_NOPROXY, "");
        if (!proxy.User.empty()) curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, proxy.User.c_str());
        if (!proxy.Password.empty())
            curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, proxy.Password.c_str());
    } else {
        // Direct access: no proxy from the environment either.
        curl_easy_setopt(c, CURLOPT_PROXY, "");
        if (!(flags & kPassiveFlag)) curl_easy_setopt(c, CURLOPT_FTPPORT, "-");
    }
    m.Handle = std::move(h);
    ApplyBufferSize();
    m.Folder.clear();
    m.BaseUrl = "ftp://" + target.Host + ":" + std::to_string(port) + "/";
    Request login;
    if (target.Path.size() >= 2) login.Commands.push_back("CWD " + target.Path.substr(1));
    login.Commands.push_back("PWD");
    std::string folder;
    if (Perform(login) != CURLE_OK || !FolderFromReplies(&folder)) {
        RecordError();
        DropConnection();
        return QFTP_FAILED;
    }
    m.Folder = folder;
    return QFTP_OK;
}

QV_API unsigned long QFtpLogOff(void) {
    if (!LoggedOn()) return QFTP_FAILED;
    DropConnection();
    return QFTP_OK;
}

QV_API unsigned long QFtpSetBufferSize(unsigned long size) {
    if (!LoggedOn()) return QFTP_FAILED;
    // A zero-byte buffer would end every transfer at once and call it a success.
    if (size == 0 || size > 0x7FFFFFFFul) return QFTP_FAILED;
    Module().BufferSize = static_cast<uint32_t>(size);
    ApplyBufferSize();
    return QFTP_OK;
}

QV_API unsigned long QFtpSetCurrentDirectory(char* const directory, int create) {
    if (!LoggedOn() || !directory || HasLineBreak(directory)) return QFTP_FAILED;
    const std::string dir = directory;
    if (dir.empty()) return QFTP_FAILED;
    if (ChangeFolder(dir)) return QFTP_OK;
    if (!create) {
        RecordError();
        return QFTP_FAILED;
    }
    // The longest prefix that exists; components after it are made one by one.
    size_t start = std::string::npos;
    for (size_t i = dir.size() - 1; i > 0; --i) {
        if (dir[i] == '/' && ChangeFolder(dir.substr(0, i))) {
            start = i + 1;
            break;
        }
    }
    if (start == std::string::npos) {
        // Nothing exists: an absolute path is built from the root, a relative one here.
        if (dir[0] == '/') {
            if (!ChangeFolder("/")) {
                RecordError();
                return QFTP_FAILED;
            }
            start = 1;
        } else {
            start = 0;
        }
    }
    while (start < dir.size()) {
        size_t end = dir.find('/', start);
        if (end == std::string::npos) end = dir.size();
        const std::string part = dir.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;
        if (Perform(CommandsOnly({"MKD " + part})) != CURLE_OK || !ChangeFolder(part)) {
            RecordError();
            return QFTP_FAILED;
        }
    }
    return QFTP_OK;
}

QV_API unsigned long QFtpGetCurrentDirectory(char* directory) {
    if (!LoggedOn() || !directory) return QFTP_FAILED;
    const std::string& f = Module().Folder;
    const size_t n = std::min<size_t>(f.size(), 259);
    std::memcpy(directory, f.data(), n);
    directory[n] = '\0';
    return QFTP_OK;
}

QV_API unsigned long QFtpCreateDirectory(char* const directory) {
    return RunCommands({directory}, {"MKD " + Str(directory)});
}

QV_API unsigned long QFtpRemoveDirectory(char* const directory) {
    return RunCommands({directory}, {"RMD " + Str(directory)});
}

QV_API unsigned long QFtpRenameFile(char* const oldName, char* const newName) {
    return RunCommands({oldName, newName}, {"RNFR " + Str(oldName), "RNTO " + Str(newName)});
}

QV_API unsigned long QFtpDeleteFile(char* const name) {
    return RunCommands({name}, {"DELE " + Str(name)});
}

QV_API unsigned long QFtpFindFirstFile(char* const pattern, void** find, WIN32_FIND_DATAA* data) {
    if (!LoggedOn() || !find || !data || (pattern && HasLineBreak(pattern))) return QFTP_FAILED;
    *find = nullptr;
    auto handle = std::make_unique<FindHandle>();
    if (!List(pattern, &handle->Entries)) return QFTP_FAILED;
    if (handle->Entries.empty()) {
        RecordError();
        return QFTP_FAILED;
    }
    FillFindData(handle->Entries[0], data);
    handle->Next = 1;
    Module().Finds.insert(handle.get());
    *find = handle.release();
    return QFTP_OK;
}

QV_API unsigned long QFtpFindNextFile(void* find, WIN32_FIND_DATAA* data) {
    auto& m = Module();
    auto* handle = static_cast<FindHandle*>(find);
    if (!LoggedOn() || !data || !m.Finds.count(handle)) return QFTP_FAILED;
    if (handle->Next >= handle->Entries.size()) {
        m.Replies.clear();
        RecordError();
        return QFTP_FAILED;
    }
    FillFindData(handle->Entries[handle->Next++], data);
    return QFTP_OK;
}

QV_API unsigned long QFtpFindClose(void* find) {
    auto& m = Module();
    auto* handle = static_cast<FindHandle*>(find);
    // Listings die with their connection; a stale handle is refused, not freed twice.
    if (!LoggedOn() || !m.Finds.erase(handle)) return QFTP_FAILED;
    delete handle;
    return QFTP_OK;
}

QV_API unsigned long QFtpIsFileExist(char* const name) {
    if (!LoggedOn() || !name || HasLineBreak(name)) return QFTP_FAILED;
    std::vector<FtpEntry> entries;
    if (!List(name, &entries)) return QFTP_FAILED;
    for (const auto& e : entries) {
        WIN32_FIND_DATAA d;
        FillFindData(e, &d);
        if (d.dwFileAttributes >= QV_FILE_ATTRIBUTE_NORMAL && d.nFileSizeLow != 0) return QFTP_OK;
    }
    return QFTP_FAILED;
}

QV_API unsigned long QFtpPutFile(char* const localPath, char* const remoteName,
                                 QFtpProgressCallback callback, void* const user) {
    auto& m = Module();
    if (!LoggedOn()) return QFTP_FAILED;
    m.Cancel = 0;
    if (!localPath || !remoteName || !*remoteName || HasLineBreak(remoteName)) return QFTP_FAILED;
    FilePtr file(std::fopen(localPath, "rb"));
    struct stat st;
    if (!file || fstat(fileno(file.get()), &st) != 0 || !S_ISREG(st.st_mode)) return QFTP_FAILED;
    m.Upload = {QFTP_STATE_TRANSFERRING, static_cast<uint32_t>(st.st_size), 0};
    UploadJob job{file.get(), callback, user};
    Request r;
    r.Path = UrlPath(remoteName);
    r.Transfer = true;
    r.Upload = true;
    r.Read = ReadChunk;
    r.ReadData = &job;
    if (Perform(r) != CURLE_OK) {
        RecordError();
        return QFTP_FAILED;
    }
    // libcurl may end a file without asking for more; the last chunk has gone all the same.
    ReportUploadPending(job);
    return QFTP_OK;
}

QV_API unsigned long QFtpGetFile(char* const remoteName, char* const localPath,
                                 QFtpProgressCallback callback, void* const user) {
    auto& m = Module();
    if (!LoggedOn()) return QFTP_FAILED;
    m.Cancel = 0;
    if (!remoteName || !*remoteName || !localPath || HasLineBreak(remoteName)) return QFTP_FAILED;
    std::vector<FtpEntry> entries;
    if (!List(remoteName, &entries) || entries.empty()) return QFTP_FAILED;
    m.Download = {QFTP_STATE_TRANSFERRING, static_cast<uint32_t>(entries[0].Size), 0};
    DownloadJob job{localPath, nullptr, callback, user};
    Request r;
    r.Path = UrlPath(remoteName);
    r.Transfer = true;
    r.Write = WriteChunk;
    r.WriteData = &job;
    const CURLcode rc = Perform(r);
    if (job.Cancelled) return QFTP_OK;
    // A local file that cannot be written is a failed download, not a finished one.
    if (job.LocalFailed) return QFTP_FAILED;
    if (rc != CURLE_OK) {
        RecordError();
        return QFTP_FAILED;
    }
    return OpenLocal(job) ? QFTP_OK : QFTP_FAILED;  // an empty file still lands
}

QV_API unsigned long QFtpChMod(char* const, char* const, QFtpProgressCallback) {
    return LoggedOn() ? QFTP_OK : QFTP_FAILED;
}

// Any thread: only sets the flag the transfer checks between chunks.
QV_API unsigned long QFtpCancel(void) {
    Module().Cancel = 1;
    return QFTP_OK;
}

QV_API unsigned long QFtpGetLastError(char* text) {
    if (!text) return QFTP_FAILED;
    std::strcpy(text, Module().LastError);
    return QFTP_OK;
}

}  // extern "C"
