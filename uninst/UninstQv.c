/* UninstQv: run-time files of the program, removed at uninstall time. libc only. */
#include "uninst/UninstQv.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/registry/Registry.h"

/* Deletes the files of the log folder, then the folder if that left it empty. Nothing is
 * reached through a symbolic link: a linked log folder stays with everything behind it, a
 * link inside it goes as a link, and subfolders (which keep the folder) are not entered. */
static void RemoveLogFolder(int folderFd) {
    int logFd = openat(folderFd, "log", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (logFd < 0) return;
    DIR* d = fdopendir(logFd);
    if (!d) {
        close(logFd);
        return;
    }
    struct dirent* e;
    while ((e = readdir(d)) != NULL) {
        struct stat st;
        if (fstatat(logFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
            unlinkat(logFd, e->d_name, 0);
    }
    closedir(d);
    unlinkat(folderFd, "log", AT_REMOVEDIR);
}

UNINST_API int UninstInitialize(void) {
    if (QvRegKeyExists(QV_REG_PRODUCT_KEY)) {
        char folder[256];
        /* Only an absolute folder: a relative one would aim at the caller's folder. */
        if (QvRegGetValue(QV_REG_PRODUCT_KEY, QV_REG_VALUE_DIRECTORY, folder, sizeof folder) &&
            folder[0] == '/') {
            int folderFd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (folderFd >= 0) {
                RemoveLogFolder(folderFd);
                unlinkat(folderFd, "Quorvex.ini", 0); /* a link goes as a link */
                /* The web page's certificate and key, made by the program on its first start. */
                unlinkat(folderFd, "web-cert.pem", 0);
                unlinkat(folderFd, "web-key.pem", 0);
                close(folderFd);
            }
        }
    }
    QvRegDeleteKey(QV_REG_VENDOR_KEY, QV_REG_PRODUCT_SUBKEY);
    return 0;
}

UNINST_API int UninstUnInitialize(void) {
    return 0;
}

UNINST_API int LibMain(void* instance, unsigned long reason, void* reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return 1;
}
