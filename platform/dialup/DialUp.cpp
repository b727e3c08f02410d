#include "platform/dialup/DialUp.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/file/Owners.h"

extern char** environ;

namespace qv::dialup {

namespace {

using Clock = std::chrono::steady_clock;

struct RunResult {
    bool Ran = false;  // started and exited by itself
    int ExitCode = -1;
    std::string Output;
};

// Runs nmcli with args (no shell), collects its standard output, kills it after timeoutMs
// or when stop says so.
RunResult RunNmcli(const std::vector<std::string>& args, int timeoutMs,
                   const std::function<bool()>& stop) {
    RunResult result;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return result;
    qv::UniqueFd readEnd(pipeFds[0]);
    qv::UniqueFd writeEnd(pipeFds[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<std::string> argv{"nmcli"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    // Its own process group, so that a kill also reaches whatever it started.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    int rc = ::posix_spawnp(&pid, "nmcli", &actions, &attr, cargv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.reset();
    if (rc != 0) return result;

    auto deadline = Clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
    bool killed = false;
    bool eof = false;
    int status = 0;
    // Wakes on output and on the child's exit (its pidfd); the slice bounds how late the
    // deadline and the stop check are seen.
    qv::UniqueFd exitFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    for (;;) {
        pollfd p[2] = {{eof ? -1 : readEnd.get(), POLLIN, 0}, {exitFd.get(), POLLIN, 0}};
        if (::poll(p, 2, 50) > 0 && (p[0].revents & (POLLIN | POLLHUP))) {
            char buf[4096];
            ssize_t n = ::read(readEnd.get(), buf, sizeof buf);
            if (n > 0)
                result.Output.append(buf, static_cast<size_t>(n));
            else if (n == 0 || (errno != EINTR && errno != EAGAIN))
                eof = true;
        }
        pid_t w = ::waitpid(pid, &status, WNOHANG);
        if (w == pid) {
            // Drain what is left in the pipe.
            for (;;) {
                pollfd p{readEnd.get(), POLLIN, 0};
                if (eof || ::poll(&p, 1, 0) <= 0) break;
                char buf[4096];
                ssize_t n = ::read(readEnd.get(), buf, sizeof buf);
                if (n <= 0) break;
                result.Output.append(buf, static_cast<size_t>(n));
            }
            break;
        }
        if (!killed && (Clock::now() >= deadline || (stop && stop()))) {
            ::kill(-pid, SIGKILL);
            killed = true;
        }
    }
    if (!killed && WIFEXITED(status)) {
        // posix_spawnp reports a missing program as exit code 127 of the child.
        result.Ran = WEXITSTATUS(status) != 127;
        result.ExitCode = WEXITSTATUS(status);
    }
    return result;
}

// nmcli's terse mode escapes ':' and '\' with a backslash.
std::string Unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 1 < field.size()) ++i;
        out.push_back(field[i]);
    }
    return out;
}

}  // namespace

std::vector<std::string> PhonebookEntries() {
    RunResult r = RunNmcli({"-t", "-f", "NAME", "connection", "show"}, 10000, nullptr);
    std::vector<std::string> names;
    if (!r.Ran || r.ExitCode != 0) return names;
    size_t pos = 0;
    while (pos < r.Output.size()) {
        size_t nl = r.Output.find('\n', pos);
        if (nl == std::string::npos) nl = r.Output.size();
        std::string line = Unescape(r.Output.substr(pos, nl - pos));
        if (!line.empty()) names.push_back(line);
        pos = nl + 1;
    }
    return names;
}

bool BringUp(const std::string& entry, int timeoutMs, const std::function<bool()>& stop) {
    if (entry.empty()) return false;
    std::vector<std::string> names = PhonebookEntries();
    if (std::find(names.begin(), names.end(), entry) == names.end()) return false;
    // nmcli waits for the activation itself; our own limit is a little longer.
    int seconds = std::max(1, (timeoutMs + 999) / 1000);
    RunResult r = RunNmcli({"-w", std::to_string(seconds), "connection", "up", "id", entry},
                           timeoutMs + 2000, stop);
    return r.Ran && r.ExitCode == 0;
}

bool TakeDown(const std::string& entry, int timeoutMs) {
    if (entry.empty()) return false;
    int seconds = std::max(1, (timeoutMs + 999) / 1000);
    RunResult r = RunNmcli({"-w", std::to_string(seconds), "connection", "down", "id", entry},
                           timeoutMs + 2000, nullptr);
    return r.Ran && r.ExitCode == 0;
}

}  // namespace qv::dialup
