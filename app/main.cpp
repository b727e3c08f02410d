// Program start: the settings command line, and otherwise the monitor window.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "app/Program.h"
#include "app/settings/ConfigCommand.h"
#include "app/settings/ProgramFolder.h"

namespace {

void PrintHelp() {
    std::printf(
        "Usage: quorvex [--home DIR] [--demo-camera] [--version] [--help] [Qt options]\n"
        "       quorvex [--home DIR] config get|set|list ...\n"
        "\n"
        "Without a subcommand quorvex starts the monitor window: it watches the camera for\n"
        "motion, saves pictures and raises warnings.\n"
        "\n"
        "Options:\n"
        "  --home DIR       use DIR as the program folder (settings file, logs, pictures);\n"
        "                   otherwise $QUORVEX_HOME, the program's own folder when it is\n"
        "                   writable, or $XDG_DATA_HOME/Quorvex (~/.local/share/Quorvex)\n"
        "  --demo-camera    list a built-in demo camera after the real cameras\n"
        "  -platform offscreen\n"
        "                   (Qt's option) run the monitor without a display\n"
        "  --version        print the version\n"
        "  --help           print this text\n"
        "\n"
        "%s",
        ConfigCommandHelp());
    // Where skins, sounds and the help page come from (the first data folder there is).
    for (const std::string& folder : DataFolders()) {
        std::error_code ec;
        if (std::filesystem::is_directory(folder, ec)) {
            std::printf("\nData files: %s\n", folder.c_str());
            break;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string home;
    bool help = false, version = false;
    int configAt = -1;
    std::vector<std::string> configArgs;
    // --home may stand before or after "config"; everything else after "config" is its own.
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--home") == 0) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quorvex: --home needs a folder\n");
                return 2;
            }
            home = argv[++i];
        } else if (std::strncmp(a, "--home=", 7) == 0) {
            home = a + 7;
        } else if (configAt >= 0) {
            configArgs.emplace_back(a);
        } else if (std::strcmp(a, "config") == 0) {
            configAt = i;
        } else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            help = true;
        } else if (std::strcmp(a, "--version") == 0) {
            version = true;
        }
    }
    if (help) {
        PrintHelp();
        return 0;
    }
    if (version) {
        std::printf("quorvex %s\n", QUORVEX_VERSION);
        return 0;
    }
    const std::string folder = ResolveProgramFolder(home);
    if (configAt >= 0) return RunConfigCommand(configArgs, folder, std::cout, std::cerr);
    return RunMonitor(argc, argv, folder);
}
