// quorvex-register [FOLDER]: the install step that records the folder holding the
// program's files and log folder as "Directory" of the product key, for the uninstaller.
// Without FOLDER: the folder the program beside it uses (ResolveProgramFolder).
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/settings/ProgramFolder.h"
#include "platform/registry/Registry.h"

int main(int argc, char** argv) {
    if (argc > 2 || (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || argv[1][0] == '\0'))) {
        std::fprintf(stderr, "usage: quorvex-register [FOLDER]\n");
        return 2;
    }
    std::string folder = argc == 2 ? argv[1] : ResolveProgramFolder("");
    char absolute[PATH_MAX];
    // The uninstaller acts only on an absolute folder.
    if (!folder.empty() && folder[0] != '/' && realpath(folder.c_str(), absolute))
        folder = absolute;
    if (folder.empty() || folder[0] != '/' || folder.size() > 255) {
        std::fprintf(stderr, "quorvex-register: need an absolute folder of at most 255 bytes\n");
        return 1;
    }
    if (!QvRegSetValue(QV_REG_PRODUCT_KEY, QV_REG_VALUE_DIRECTORY, folder.c_str())) {
        std::fprintf(stderr, "quorvex-register: cannot write the registry file\n");
        return 1;
    }
    char path[4096];
    if (QvRegKeyFile(QV_REG_PRODUCT_KEY, path, sizeof path))
        std::printf("Directory=%s written to %s\n", folder.c_str(), path);
    return 0;
}
