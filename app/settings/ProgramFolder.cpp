#include "app/settings/ProgramFolder.h"

#include <errno.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/text/Text.h"

namespace {

std::string WithSeparator(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder.push_back('/');
    return folder;
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string HomeFolder() {
    std::string home = Env("HOME");
    if (!home.empty()) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

std::string ExecutableFolder(const std::string& executablePath) {
    std::string exe = executablePath;
    if (exe.empty()) {
        std::vector<char> buf(PATH_MAX + 1);
        ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
        if (n <= 0) return {};
        exe.assign(buf.data(), static_cast<size_t>(n));
    }
    size_t slash = exe.rfind('/');
    if (slash == std::string::npos) return {};
    return exe.substr(0, slash + 1);
}

}  // namespace

std::string ResolveProgramFolder(const std::string& homeOption, const std::string& executablePath) {
    if (!homeOption.empty()) return WithSeparator(homeOption);
    if (std::string env = Env("QUORVEX_HOME"); !env.empty()) return WithSeparator(env);
    // A portable install keeps its settings beside the program.
    if (std::string exeDir = ExecutableFolder(executablePath);
        !exeDir.empty() && ::access(exeDir.c_str(), W_OK | X_OK) == 0)
        return exeDir;
    std::string data = Env("XDG_DATA_HOME");
    // XDG: a relative value is to be ignored.
    if (data.empty() || data.front() != '/') data = WithSeparator(HomeFolder()) + ".local/share";
    return WithSeparator(WithSeparator(data) + "Quorvex");
}

std::string SettingsFilePath(const std::string& folder) {
    return qv::text::JoinPath(folder, "Quorvex.ini");
}

bool EnsureFolder(const std::string& folder) {
    if (folder.empty()) return false;
    std::string path;
    size_t pos = 0;
    while (pos <= folder.size()) {
        size_t slash = folder.find('/', pos);
        if (slash == std::string::npos) slash = folder.size();
        path = folder.substr(0, slash);
        if (!path.empty()) {
            if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
        }
        pos = slash + 1;
    }
    struct stat st;
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> DataFolders(const std::string& executablePath) {
    std::vector<std::string> folders;
    auto add = [&folders](const std::string& folder) {
        std::string f = WithSeparator(folder);
        if (!f.empty() && std::find(folders.begin(), folders.end(), f) == folders.end())
            folders.push_back(f);
    };
    if (std::string exeDir = ExecutableFolder(executablePath); !exeDir.empty())
        add((std::filesystem::path(exeDir) / QUORVEX_DATADIR_FROM_BIN).lexically_normal());
    add(QUORVEX_DATADIR);
    add(QUORVEX_SOURCE_ASSETS);
    return folders;
}
