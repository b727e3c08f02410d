#include "tests/support/PythonServer.h"

#include <cstdlib>

namespace qvtest {

std::string DebianPython(const std::string& modules, std::string* whyNot) {
    for (const std::string& python : {std::string("/usr/bin/python3"), FindProgram("python3")}) {
        if (!python.empty() && FileExists(python) &&
            (modules.empty() ||
             std::system((python + " -c 'import " + modules + "' 2>/dev/null").c_str()) == 0))
            return python;
    }
    if (whyNot)
        *whyNot =
            "python3 with " + (modules.empty() ? "its library" : modules) + " is not installed";
    return "";
}

PythonServer::PythonServer(const std::string& script, const std::vector<std::string>& args,
                           const std::string& modules) {
    const std::string python = DebianPython(modules, &whyNot_);
    if (python.empty()) return;
    port_ = FreePort();
    std::vector<std::string> argv{python, QUORVEX_TEST_SUPPORT_DIR "/testserver.py", script,
                                  std::to_string(port_)};
    argv.insert(argv.end(), args.begin(), args.end());
    auto child = std::make_unique<ChildProcess>(argv, log_.File("server.log"));
    if (child->Running() && WaitForPort(port_, 15000))
        child_ = std::move(child);
    else
        whyNot_ = script + " did not start: " + ReadFile(log_.File("server.log"));
}

}  // namespace qvtest
