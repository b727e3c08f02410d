// HTTP on libcurl: the form post behind QvGetHttpUrlData and a plain GET for the news
// window's pages and pictures.
#pragma once

#include <cstddef>
#include <string>

namespace qv::core {

// Replies are cut at this size.
inline constexpr std::size_t kHttpMaxReply = 1024 * 1024;
inline constexpr long kHttpTimeoutSeconds = 10;

struct HttpReply {
    bool Ok = false;  // the exchange completed (any status)
    long Status = 0;
    std::string Body;
    std::string ContentType;
};

// curl_global_init, once per process. Any thread.
void HttpGlobalInit();

// libcurl write function appending to a std::string, cut at kHttpMaxReply (the transfer
// then stops with CURLE_WRITE_ERROR and a full string). Any thread.
size_t CollectReply(char* data, size_t size, size_t count, void* user);

// GETs a URL (http only), following no redirects, with the given time-out.
// Any thread; touches nothing shared.
HttpReply HttpGet(const std::string& url, const std::string& agent, long timeoutSeconds);

// The URL the form post goes to: http, the host and port the URL names (80 when it names
// none), its path followed by the script; "" when the URL does not parse or the script
// holds blanks or control characters. Any thread.
std::string HttpPostUrl(const char* url, const char* script);

// Upper-cases ASCII letters in place, leaving both bytes of a Shift-JIS pair alone.
// Any thread.
void UpperCaseKeepingDoubleBytes(std::string& text);

}  // namespace qv::core
