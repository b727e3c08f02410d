// Owners for libcurl's handles: the core library's HTTP and FTP code and the outgoing requests.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace qv::curl {

struct EasyCloser {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct UrlCloser {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct ListCloser {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct CurlTextCloser {
    void operator()(char* p) const { curl_free(p); }
};
using EasyPtr = std::unique_ptr<CURL, EasyCloser>;
using UrlPtr = std::unique_ptr<CURLU, UrlCloser>;
using ListPtr = std::unique_ptr<curl_slist, ListCloser>;
using CurlText = std::unique_ptr<char, CurlTextCloser>;

}  // namespace qv::curl
