// HTTP form post (QvGetHttpUrlData, QvGetBodyText, QvReleaseHttpUrlData) on libcurl.
#include "core/src/Http.h"

#include <curl/curl.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/include/QuorCore.h"
#include "core/src/Pictures.h"
#include "platform/http/CurlHandles.h"
#include "platform/text/Text.h"

namespace qv::core {

using namespace qv::curl;

std::string HttpPostUrl(const char* url, const char* script) {
    UrlPtr u(curl_url());
    if (!u) return {};
    if (curl_url_set(u.get(), CURLUPART_URL, url,
                     CURLU_DEFAULT_SCHEME | CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        return {};
    char* raw = nullptr;
    if (curl_url_get(u.get(), CURLUPART_HOST, &raw, 0) != CURLUE_OK) return {};
    CurlText host(raw);
    raw = nullptr;
    long port = 80;
    if (curl_url_get(u.get(), CURLUPART_PORT, &raw, 0) == CURLUE_OK) {
        CurlText p(raw);
        port = std::strtol(p.get(), nullptr, 10);
    }
    raw = nullptr;
    std::string path = "/";
    if (curl_url_get(u.get(), CURLUPART_PATH, &raw, 0) == CURLUE_OK) {
        CurlText p(raw);
        path = p.get();
    }
    // The script is a file name; keep it from smuggling anything past the path.
    for (const char* c = script; *c; ++c)
        if (static_cast<unsigned char>(*c) <= 0x20 || *c == '#' || *c == 0x7F) return {};
    return "http://" + std::string(host.get()) + ":" + std::to_string(port) + path + script;
}

}  // namespace qv::core

using namespace qv::core;

// Any thread: each call has its own curl handle.
extern "C" QV_API char* QvGetHttpUrlData(char* agent, char* url, char* script, char* form) {
    if (!url || !script) return nullptr;
    const std::string target = HttpPostUrl(url, script);
    if (target.empty()) return nullptr;
    HttpGlobalInit();
    EasyPtr h(curl_easy_init());
    if (!h) return nullptr;

    ListPtr headers;
    for (const char* line : {"Content-Type: application/x-www-form-urlencoded", "Pragma: no-cache",
                             "Cache-Control: no-cache", "Connection: Keep-Alive"}) {
        curl_slist* next = curl_slist_append(headers.get(), line);
        if (!next) return nullptr;
        (void)headers.release();
        headers.reset(next);
    }
    std::string body;
    curl_easy_setopt(h.get(), CURLOPT_URL, target.c_str());
    curl_easy_setopt(h.get(), CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(h.get(), CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(h.get(), CURLOPT_USERAGENT, agent ? agent : "");
    curl_easy_setopt(h.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h.get(), CURLOPT_POST, 1L);
    curl_easy_setopt(h.get(), CURLOPT_POSTFIELDS, form ? form : "");
    curl_easy_setopt(h.get(), CURLOPT_POSTFIELDSIZE,
                     static_cast<long>(form ? std::strlen(form) : 0));
    curl_easy_setopt(h.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h.get(), CURLOPT_TIMEOUT, kHttpTimeoutSeconds);
    curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, CollectReply);
    curl_easy_setopt(h.get(), CURLOPT_WRITEDATA, &body);
    // The proxy comes from http_proxy / no_proxy, as libcurl reads them by default.
    const CURLcode rc = curl_easy_perform(h.get());
    // A failed exchange still gives a block, holding the empty text: callers pass any
    // non-null result on to QvGetBodyText.
    if (rc != CURLE_OK && !(rc == CURLE_WRITE_ERROR && body.size() == kHttpMaxReply)) body.clear();

    auto* block = static_cast<char*>(AllocateBlock(body.size() + 2));
    if (!block) return nullptr;
    std::memcpy(block, body.data(), body.size());
    return block;
}

// Any thread; rewrites only the caller's block.
extern "C" QV_API char* QvGetBodyText(char* reply) {
    if (!reply) return nullptr;
    const std::string upper = qv::text::Cp932ToUpper(reply);
    static constexpr char kOpen[] = "<BODY>\n";
    static constexpr char kClose[] = "</BODY>";
    std::string result;
    const size_t open = upper.find(kOpen);
    if (open != std::string::npos) {
        const size_t start = open + sizeof kOpen - 1;
        const size_t close = upper.find(kClose, start);
        if (close != std::string::npos) result = upper.substr(start, close - start);
    }
    std::memcpy(reply, result.c_str(), result.size() + 1);
    return reply;
}

// Any thread.
extern "C" QV_API void QvReleaseHttpUrlData(char* reply) {
    ReleaseBlock(reply);
}
