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

HttpRecorder::HttpRecorder() {
    // Debian's interpreter, not whatever a version manager put first on PATH.
    std::string python =
        FileExists("/usr/bin/python3") ? "/usr/bin/python3" : FindProgram("python3");
    if (python.empty()) {
        reason_ = "python3 is not installed";
        return;
    }
    ::mkdir(dir_.File("log").c_str(), 0700);
    ::mkdir(dir_.File("replies").c_str(), 0700);
    port_ = FreePort();
    child_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{python, QUORVEX_HTTP_RECORDER, "--port", std::to_string(port_),
                                 "--log", dir_.File("log"), "--replies", dir_.File("replies")},
        dir_.File("server.log"));
    if (!child_->Running() || !WaitForPort(port_, 10000)) {
        reason_ = "the recording HTTP server did not start: " + ReadFile(dir_.File("server.log"));
        child_.reset();
    }
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
        size_t pos = 0;
        bool first = true;
        while (pos < end) {
            size_t eol = raw.find("\r\n", pos);
            if (eol == std::string::npos || eol > end) eol = end;
            std::string line = raw.substr(pos, eol - pos);
            if (first)
                r.RequestLine = line;
            else
                r.Headers.push_back(line);
            first = false;
            pos = eol + 2;
        }
        out.push_back(std::move(r));
    }
    return out;
}

}  // namespace qvtest
