// The plain HTTP GET behind the news window's pages and pictures (exported as QvGetHttpUrl),
// and the pieces the form post shares with it.
#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "QuorCore.h"
#include "core/src/Http.h"
#include "core/src/Pictures.h"
#include "platform/http/CurlHandles.h"

namespace qv::core {

using namespace qv::curl;

void HttpGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t CollectReply(char* data, size_t size, size_t count, void* user) {
    auto* out = static_cast<std::string*>(user);
    const size_t n = size * count;
    const size_t room = kHttpMaxReply - std::min(out->size(), kHttpMaxReply);
    out->append(data, std::min(n, room));
    // Stop the transfer once the block is full; what we have is the reply.
    return n <= room ? n : 0;
}

HttpReply HttpGet(const std::string& url, const std::string& agent, long timeoutSeconds) {
    HttpReply reply;
    HttpGlobalInit();
    EasyPtr h(curl_easy_init());
    if (!h) return reply;
    curl_easy_setopt(h.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(h.get(), CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(h.get(), CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(h.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h.get(), CURLOPT_TIMEOUT, timeoutSeconds);
    curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, CollectReply);
    curl_easy_setopt(h.get(), CURLOPT_WRITEDATA, &reply.Body);
    const CURLcode rc = curl_easy_perform(h.get());
    if (rc != CURLE_OK && !(rc == CURLE_WRITE_ERROR && reply.Body.size() == kHttpMaxReply)) {
        reply.Body.clear();
        return reply;
    }
    curl_easy_getinfo(h.get(), CURLINFO_RESPONSE_CODE, &reply.Status);
    char* type = nullptr;
    if (curl_easy_getinfo(h.get(), CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
        reply.ContentType = type;
    reply.Ok = true;
    return reply;
}

}  // namespace qv::core

extern "C" QV_API char* QvGetHttpUrl(const char* agent, const char* url, long* status,
                                     unsigned long* length, char* contentType,
                                     int contentTypeSize) {
    if (status != nullptr) *status = 0;
    if (length != nullptr) *length = 0;
    if (contentType != nullptr && contentTypeSize > 0) contentType[0] = '\0';
    if (url == nullptr) return nullptr;
    const qv::core::HttpReply reply =
        qv::core::HttpGet(url, agent != nullptr ? agent : "", qv::core::kHttpTimeoutSeconds);
    if (!reply.Ok) return nullptr;
    auto* block = static_cast<char*>(qv::core::AllocateBlock(reply.Body.size() + 1));
    if (block == nullptr) return nullptr;
    std::memcpy(block, reply.Body.data(), reply.Body.size());
    block[reply.Body.size()] = '\0';
    if (status != nullptr) *status = reply.Status;
    if (length != nullptr) *length = reply.Body.size();
    if (contentType != nullptr && contentTypeSize > 0) {
        const size_t n =
            std::min(reply.ContentType.size(), static_cast<size_t>(contentTypeSize - 1));
        std::memcpy(contentType, reply.ContentType.data(), n);
        contentType[n] = '\0';
    }
    return block;
}
