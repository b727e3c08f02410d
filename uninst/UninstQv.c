/* UninstQv: run-time files of the program, removed at uninstall time. libc only. */
#include "uninst/UninstQv.h"

#include <dirent.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "platform/registry/Registry.h"

#define UNINST_PATH_MAX 4096

/* folder + "/" (unless it ends in one) + name */
static int Join(const char* folder, const char* name, char* out, size_t size) {
    size_t len = strlen(folder);
    /* Only an absolute folder: an empty or relative one would aim at the caller's folder. */
    if (len == 0 || folder[0] != '/') return 0;
    const char* sep = folder[len - 1] == '/' ? "" : "/";
    int n = snprintf(out, size, "%s%s%s", folder, sep, name);
    return n > 0 && (size_t)n < size;
}

int UninstLogFolder(const char* installFolder, char* out, size_t size) {
    return Join(installFolder, "log/", out, size);
}

int UninstSettingsFile(const char* installFolder, char* out, size_t size) {
    return Join(installFolder, "Quorvex.ini", out, size);
}

/* Deletes the files of the log folder, then the folder if that left it empty. Subfolders
 * are not entered, so one of them keeps the folder. */
static void RemoveLogFolder(const char* logFolder) {
    DIR* d = opendir(logFolder);
    if (d) {
        struct dirent* e;
        while ((e = readdir(d)) != NULL) {
            char path[UNINST_PATH_MAX];
            if (snprintf(path, sizeof path, "%s%s", logFolder, e->d_name) >= (int)sizeof path)
                continue;
            unlink(path); /* fails for folders, which stay */
        }
        closedir(d);
    }
    rmdir(logFolder);
}

UNINST_API int UninstInitialize(void) {
    if (QvRegKeyExists(QV_REG_PRODUCT_KEY)) {
        char folder[256];
        char path[UNINST_PATH_MAX];
        if (QvRegGetValue(QV_REG_PRODUCT_KEY, QV_REG_VALUE_DIRECTORY, folder, sizeof folder)) {
            if (UninstLogFolder(folder, path, sizeof path)) RemoveLogFolder(path);
            if (UninstSettingsFile(folder, path, sizeof path)) unlink(path);
            /* The web page's certificate and key, made by the program on its first start. */
            if (Join(folder, "web-cert.pem", path, sizeof path)) unlink(path);
            if (Join(folder, "web-key.pem", path, sizeof path)) unlink(path);
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
