// quorvex-uninstall [--library FILE] [--manifest FILE]
// Loads libuninstqv.so, lets UninstInitialize remove the run-time files and the registry
// key, then removes every file the install manifest lists and the program's folders
// that this leaves empty. Defaults: the library in the installed library folder (or
// beside this program) and the manifest <prefix>/share/quorvex/install-manifest.txt.
#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

struct LibraryCloser {
    void operator()(void* h) const { dlclose(h); }
};

std::string ProgramFolder() {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    buf[n] = '\0';
    std::string path = buf;
    return path.substr(0, path.rfind('/'));
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

int RunCleanUp(const std::string& library) {
    std::unique_ptr<void, LibraryCloser> handle(dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!handle) {
        std::fprintf(stderr, "quorvex-uninstall: %s\n", dlerror());
        return 1;
    }
    using Entry = int (*)();
    auto init = reinterpret_cast<Entry>(dlsym(handle.get(), "UninstInitialize"));
    auto uninit = reinterpret_cast<Entry>(dlsym(handle.get(), "UninstUnInitialize"));
    if (!init || !uninit) {
        std::fprintf(stderr, "quorvex-uninstall: %s lacks the clean-up exports\n", library.c_str());
        return 1;
    }
    init();
    uninit();
    return 0;
}

// Removes the listed files, then the folders of the program ("quorvex" in their path)
// that are left empty, deepest first.
int RemoveInstalled(const std::string& manifest) {
    std::ifstream in(manifest);
    if (!in) {
        std::fprintf(stderr, "quorvex-uninstall: cannot read %s\n", manifest.c_str());
        return 1;
    }
    std::set<std::string> folders;
    std::string line;
    int removed = 0, failures = 0;
    const std::filesystem::path base = std::filesystem::path(manifest).parent_path();
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        // Lines are relative to the manifest's folder, wherever the install was moved.
        line = (base / line).lexically_normal().string();
        struct stat st;
        if (::lstat(line.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) continue;  // a manifest lists files only
        if (::unlink(line.c_str()) == 0) {
            ++removed;
            // The file's folders of the program, nested ones included (icons/hicolor/16x16/apps).
            for (std::string f = line.substr(0, line.rfind('/'));
                 f.find("/quorvex") != std::string::npos; f = f.substr(0, f.rfind('/')))
                folders.insert(f);
        } else {
            std::perror(line.c_str());
            ++failures;
        }
    }
    in.close();
    if (::unlink(manifest.c_str()) == 0) folders.insert(manifest.substr(0, manifest.rfind('/')));
    std::vector<std::string> order(folders.begin(), folders.end());
    std::sort(order.begin(), order.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const auto& f : order)
        if (f.find("/quorvex") != std::string::npos) ::rmdir(f.c_str());
    std::printf("quorvex-uninstall: %d files removed\n", removed);
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string here = ProgramFolder();
    std::string library, manifest = here + "/" QUORVEX_DATADIR_FROM_BIN "/install-manifest.txt";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--library" && i + 1 < argc) {
            library = argv[++i];
        } else if (arg == "--manifest" && i + 1 < argc) {
            manifest = argv[++i];
        } else {
            std::fprintf(stderr, "usage: quorvex-uninstall [--library FILE] [--manifest FILE]\n");
            return 2;
        }
    }
    if (library.empty()) {
        library = here + "/" QUORVEX_LIBDIR_FROM_BIN "/libuninstqv.so";
        if (!Exists(library)) library = here + "/libuninstqv.so";
    }
    const int cleanUp = RunCleanUp(library);
    const int files = RemoveInstalled(manifest);
    return cleanUp || files ? 1 : 0;
}
