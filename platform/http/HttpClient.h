// One HTTP(S) request on libcurl, for the program's outgoing notifications (webhooks, push).
// Certificates are checked against the system's trust store.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qv::http {

struct Part {  // a multipart/form-data part: inline data, or a file
    std::string Name;
    std::string FileName;  // set: the part is a file upload of File (or Data)
    std::string ContentType;
    std::string Data;
    std::string File;
};

struct Request {
    std::string Method = "POST";
    std::string Url;
    std::vector<std::string> Headers;  // "Name: value"
    std::string Body;                  // used when there are no parts and no BodyFile
    std::string BodyFile;              // the body comes from this file
    std::vector<Part> Parts;           // multipart/form-data
    long TimeoutSeconds = 30;          // the whole request
    std::function<bool()> Cancelled;   // polled while it runs; true ends it
};

struct Response {
    bool Ok = false;  // a 2xx answer
    long Status = 0;
    std::string Error;  // why it failed, for the user
};

// Any thread; blocks until the answer, the time-out or the cancel.
Response Send(const Request& request);

}  // namespace qv::http
