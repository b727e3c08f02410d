// Helpers every test shares: temporary folders, free ports, child servers.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qvtest {

// A private folder under $TMPDIR, removed with everything in it when the object dies.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // Path of a name inside the folder.
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
std::vector<std::string> ListDir(const std::string& path);  // names, sorted, without . and ..

// Tests done() until it holds or limitMs pass, running pump between tests (by default the Qt
// event loop when the test has an application object, else a short sleep); returns done().
bool WaitFor(const std::function<bool()>& done, int limitMs = 15000,
             const std::function<void()>& pump = {});

// A bottom-up BMP of a horizontal grey ramp (100 + x % 50): 24 bits, or 8 with a grey palette.
std::string BmpBytes(int width, int height, int bitCount = 24);

// A TCP port on 127.0.0.1 that nothing listens on right now.
int FreePort();
// Polls until something accepts on 127.0.0.1:port; false after timeoutMs.
bool WaitForPort(int port, int timeoutMs);

// A child process (a real server for a protocol test); killed and reaped on destruction.
class ChildProcess {
  public:
    // argv[0] is looked up on PATH. Output goes to logPath when it is not empty.
    explicit ChildProcess(const std::vector<std::string>& argv, const std::string& logPath = "");
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Running() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    // Sends SIGTERM and waits; returns the exit status as waitpid gives it.
    int Stop(int graceMs = 2000);  // SIGKILL after graceMs

  private:
    pid_t pid_ = -1;
};

// Full path of a program on PATH, or "" when it is not installed.
std::string FindProgram(const std::string& name);

}  // namespace qvtest
