// The recording HTTP server of http_recorder.py, run as a child on a free loopback port.
#pragma once

#include <string>
#include <vector>

#include "tests/support/PythonServer.h"

namespace qvtest {

struct RecordedRequest {
    std::string RequestLine;
    std::vector<std::string> Headers;  // "Name: value", in the order sent
    std::string Body;
    // The value of the first header of that name (case-insensitive), or "".
    std::string Header(const std::string& name) const;
};

class HttpRecorder {
  public:
    HttpRecorder();
    // False (with the reason in SkipReason) when Python is missing or the server did not start.
    bool Started() const { return server_.Ready(); }
    const std::string& SkipReason() const { return server_.WhyNot(); }
    int Port() const { return server_.Port(); }
    std::string BaseUrl() const { return server_.Url("http"); }
    // Sets the reply for a method (and path, e.g. "/infobbs/x.php"; "" for any path).
    void SetReply(const std::string& method, const std::string& path, const std::string& body,
                  const std::string& contentType = "text/html");
    std::vector<RecordedRequest> Requests() const;

  private:
    TempDir dir_;
    PythonServer server_;
};

}  // namespace qvtest
