#include "tests/support/http/HttpRecorder.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>

namespace qvtest {

std::string RecordedRequest::Header(const std::string& name) const {
    for (const auto& h : Headers) {
        if (h.size() > name.size() && h[name.size()] == ':' &&
            strncasecmp(h.c_str(), name.c_str(), name.size()) == 0) {
            size_t start = name.size() + 1;
            while (start < h.size() && h[start] == ' ') ++start;
            return h.substr(start);
        }
    }
    return {};
}

HttpRecorder::HttpRecorder()
    : server_(QUORVEX_HTTP_RECORDER, {dir_.File("log"), dir_.File("replies")}) {
    ::mkdir(dir_.File("log").c_str(), 0700);
    ::mkdir(dir_.File("replies").c_str(), 0700);
}

void HttpRecorder::SetReply(const std::string& method, const std::string& path,
                            const std::string& body, const std::string& contentType) {
    std::string name = method + path;
    std::replace(name.begin(), name.end(), '/', '_');
    const std::string file = dir_.File("replies/" + name);
    WriteFile(file + ".tmp", body);
    WriteFile(file + ".type", contentType);
    ::rename((file + ".tmp").c_str(), file.c_str());
}

std::vector<RecordedRequest> HttpRecorder::Requests() const {
    std::vector<RecordedRequest> out;
    for (const auto& name : ListDir(dir_.File("log"))) {
        if (name.size() < 4 || name.substr(name.size() - 4) != ".txt") continue;
        const std::string raw = ReadFile(dir_.File("log/" + name));
        const size_t end = raw.find("\r\n\r\n");
        if (end == std::string::npos) continue;
        RecordedRequest r;
        r.Body = raw.substr(end + 4);
        for (size_t pos = 0, eol = 0; pos < end; pos = eol + 2) {
            eol = raw.find("\r\n", pos);  // the last header line ends where the body starts
            (pos == 0 ? r.RequestLine : r.Headers.emplace_back()) = raw.substr(pos, eol - pos);
        }
        out.push_back(std::move(r));
    }
    return out;
}

}  // namespace qvtest
