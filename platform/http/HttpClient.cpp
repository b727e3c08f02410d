#include "platform/http/HttpClient.h"

#include <curl/curl.h>

#include <cstdio>
#include <memory>

#include "platform/file/Owners.h"
#include "platform/http/CurlHandles.h"

namespace qv::http {

namespace {

using curl::EasyPtr;
using curl::ListPtr;

struct MimeCloser {
    void operator()(curl_mime* m) const { curl_mime_free(m); }
};

size_t Discard(char*, size_t size, size_t n, void*) {
    return size * n;
}

int Progress(void* cancelled, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* fn = static_cast<const std::function<bool()>*>(cancelled);
    return *fn && (*fn)() ? 1 : 0;
}

size_t ReadFile(char* buffer, size_t size, size_t n, void* file) {
    return std::fread(buffer, size, n, static_cast<std::FILE*>(file));
}

}  // namespace

Response Send(const Request& request) {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    Response response;
    EasyPtr easy(initialised ? curl_easy_init() : nullptr);
    if (!easy) {
        response.Error = "libcurl could not start";
        return response;
    }
    CURL* h = easy.get();
    char error[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(h, CURLOPT_URL, request.Url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, request.TimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, std::min(request.TimeoutSeconds, 15L));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &request.Cancelled);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

    ListPtr headers;
    for (const std::string& line : request.Headers) {
        curl_slist* next = curl_slist_append(headers.get(), line.c_str());
        if (!next) {
            response.Error = "out of memory";
            return response;
        }
        (void)headers.release();
        headers.reset(next);
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

    std::unique_ptr<curl_mime, MimeCloser> mime;
    UniqueFile body;
    if (!request.Parts.empty()) {
        mime.reset(curl_mime_init(h));
        for (const Part& p : request.Parts) {
            curl_mimepart* part = curl_mime_addpart(mime.get());
            curl_mime_name(part, p.Name.c_str());
            CURLcode rc = !p.File.empty() ? curl_mime_filedata(part, p.File.c_str())
                                          : curl_mime_data(part, p.Data.data(), p.Data.size());
            if (rc != CURLE_OK) {
                response.Error = "cannot read " + p.File;
                return response;
            }
            if (!p.FileName.empty()) curl_mime_filename(part, p.FileName.c_str());
            if (!p.ContentType.empty()) curl_mime_type(part, p.ContentType.c_str());
        }
        curl_easy_setopt(h, CURLOPT_MIMEPOST, mime.get());
    } else if (!request.BodyFile.empty()) {
        body.reset(std::fopen(request.BodyFile.c_str(), "rb"));
        if (!body) {
            response.Error = "cannot read " + request.BodyFile;
            return response;
        }
        std::fseek(body.get(), 0, SEEK_END);
        const long size = std::ftell(body.get());
        std::rewind(body.get());
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_READFUNCTION, ReadFile);
        curl_easy_setopt(h, CURLOPT_READDATA, body.get());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
    } else {
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.Body.c_str());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.Body.size()));
    }
    if (request.Method != "POST")
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.Method.c_str());

    const CURLcode rc = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.Status);
    if (rc != CURLE_OK) {
        response.Error = rc == CURLE_ABORTED_BY_CALLBACK ? "cancelled"
                         : *error                        ? error
                                                         : curl_easy_strerror(rc);
    } else if (response.Status < 200 || response.Status > 299) {
        response.Error = "the server answered " + std::to_string(response.Status);
    } else {
        response.Ok = true;
    }
    return response;
}

}  // namespace qv::http
