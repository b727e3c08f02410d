// A test server written in Python (a real protocol server from Debian's packages, or a small
// recorder), run by tests/support/testserver.py as a child on a free loopback port.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace qvtest {

// Debian's python3 when it imports all of modules ("aiosmtpd, PIL"; "" for none), else any
// python3 on PATH that does; "" with the reason when none does. Debian's comes first: a python3
// of a version manager lacks the Debian packages the servers need.
std::string DebianPython(const std::string& modules, std::string* whyNot = nullptr);

class PythonServer {
  public:
    // Runs "testserver.py script PORT args...": script's serve(port, *args) listens on
    // 127.0.0.1:PORT. Not Ready() (with the reason) when a module is missing or it did not start.
    PythonServer(const std::string& script, const std::vector<std::string>& args,
                 const std::string& modules = "");
    bool Ready() const { return child_ != nullptr; }
    const std::string& WhyNot() const { return whyNot_; }
    int Port() const { return port_; }
    std::string Url(const std::string& scheme) const {
        return scheme + "://127.0.0.1:" + std::to_string(port_);
    }

  private:
    TempDir log_;
    int port_ = -1;
    std::string whyNot_;
    std::unique_ptr<ChildProcess> child_;
};

}  // namespace qvtest
