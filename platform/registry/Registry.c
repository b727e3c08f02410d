/* The registry stand-in: one small text file per key. See Registry.h for the format. */
#define _GNU_SOURCE
#include "platform/registry/Registry.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#define QV_REG_PATH_MAX 4096
#define QV_REG_FILE_MAX (64 * 1024)

/* $XDG_CONFIG_HOME/quorvex/registry, or ~/.config/quorvex/registry. */
static int StoreRoot(char* out, size_t size) {
    const char* xdg = getenv("XDG_CONFIG_HOME");
    int n;
    if (xdg && xdg[0] == '/') {
        n = snprintf(out, size, "%s/quorvex/registry", xdg);
    } else {
        const char* home = getenv("HOME");
        if (!home || home[0] != '/') return 0;
        n = snprintf(out, size, "%s/.config/quorvex/registry", home);
    }
    return n > 0 && (size_t)n < size;
}

/* The folder of a key path: the root plus the components joined by '/'. Components
 * cannot be empty, "." or "..", or hold a '/'. */
static int KeyFolder(const char* key, char* out, size_t size) {
    if (!key || !key[0] || !StoreRoot(out, size)) return 0;
    size_t len = strlen(out);
    const char* p = key;
    while (*p) {
        const char* end = strchr(p, '\\');
        size_t n = end ? (size_t)(end - p) : strlen(p);
        if (n == 0 || (n == 1 && p[0] == '.') || (n == 2 && p[0] == '.' && p[1] == '.') ||
            memchr(p, '/', n) != NULL)
            return 0;
        if (len + 1 + n + 1 > size) return 0;
        out[len++] = '/';
        memcpy(out + len, p, n);
        len += n;
        out[len] = '\0';
        p = end ? end + 1 : p + n;
        if (end && !*p) return 0; /* trailing separator */
    }
    return 1;
}

int QvRegKeyFile(const char* key, char* path, size_t size) {
    if (!KeyFolder(key, path, size)) return 0;
    size_t len = strlen(path);
    if (len + 5 > size) return 0;
    memcpy(path + len, ".key", 5);
    return 1;
}

int QvRegKeyExists(const char* key) {
    char path[QV_REG_PATH_MAX];
    struct stat st;
    if (!QvRegKeyFile(key, path, sizeof path)) return 0;
    if (stat(path, &st) == 0 && S_ISREG(st.st_mode)) return 1;
    path[strlen(path) - 4] = '\0';
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

/* Reads the whole key file into a zero-terminated heap block; *text is NULL when the file
 * does not exist (and the call still succeeds). */
static int ReadKeyFile(const char* path, char** text) {
    *text = NULL;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > QV_REG_FILE_MAX) {
        close(fd);
        return 0;
    }
    char* buf = malloc((size_t)st.st_size + 1);
    if (!buf) {
        close(fd);
        return 0;
    }
    size_t got = 0;
    while (got < (size_t)st.st_size) {
        ssize_t n = read(fd, buf + got, (size_t)st.st_size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += (size_t)n;
    }
    close(fd);
    buf[got] = '\0';
    *text = buf;
    return 1;
}

/* Finds the line "name=..." and returns the start of its value, or NULL. */
static const char* FindValue(const char* text, const char* name, const char** lineStart,
                             const char** lineEnd) {
    size_t nameLen = strlen(name);
    const char* p = text;
    while (p && *p) {
        const char* eol = strchr(p, '\n');
        const char* end = eol ? eol : p + strlen(p);
        if (*p != ';' && (size_t)(end - p) > nameLen && p[nameLen] == '=' &&
            memcmp(p, name, nameLen) == 0) {
            if (lineStart) *lineStart = p;
            if (lineEnd) *lineEnd = eol ? eol + 1 : end;
            return p + nameLen + 1;
        }
        p = eol ? eol + 1 : NULL;
    }
    return NULL;
}

static int ValidName(const char* name) {
    return name && name[0] && name[0] != ';' && strpbrk(name, "=\r\n") == NULL;
}

int QvRegGetValue(const char* key, const char* name, char* value, size_t size) {
    char path[QV_REG_PATH_MAX];
    char* text = NULL;
    if (!ValidName(name) || !value || size == 0 || !QvRegKeyFile(key, path, sizeof path) ||
        !ReadKeyFile(path, &text) || !text) {
        free(text);
        return 0;
    }
    const char* v = FindValue(text, name, NULL, NULL);
    int ok = v != NULL;
    size_t out = 0;
    for (; ok && *v && *v != '\n'; ++v) {
        char c = *v;
        if (c == '\r') continue;
        if (c == '\\' && v[1]) {
            ++v;
            c = *v == 'n' ? '\n' : *v == 'r' ? '\r' : *v;
        }
        if (out + 1 >= size) {
            ok = 0;
            break;
        }
        value[out++] = c;
    }
    if (ok) value[out] = '\0';
    free(text);
    return ok;
}

/* mkdir -p for the key's folder, mode 0700. */
static int MakeFolders(const char* filePath) {
    char path[QV_REG_PATH_MAX];
    size_t len = strlen(filePath);
    if (len >= sizeof path) return 0;
    memcpy(path, filePath, len + 1);
    for (char* p = path + 1; *p; ++p) {
        if (*p != '/') continue;
        *p = '\0';
        if (mkdir(path, 0700) != 0 && errno != EEXIST) return 0;
        *p = '/';
    }
    return 1;
}

/* Replaces the key file in one step: a temporary file beside it, renamed over it. */
static int WriteKeyFile(const char* path, const char* key, const char* body, size_t bodyLen) {
    char tmp[QV_REG_PATH_MAX];
    if (!MakeFolders(path) || snprintf(tmp, sizeof tmp, "%s.XXXXXX", path) >= (int)sizeof tmp)
        return 0;
    int fd = mkostemp(tmp, O_CLOEXEC);
    if (fd < 0) return 0;
    FILE* f = fdopen(fd, "w");
    if (!f) {
        close(fd);
        unlink(tmp);
        return 0;
    }
    int ok = fchmod(fd, 0600) == 0;
    ok = ok && fprintf(f, "; Quorvex registry key HKEY_CURRENT_USER\\%s\n", key) > 0;
    ok = ok && fwrite(body, 1, bodyLen, f) == bodyLen;
    ok = ok && fflush(f) == 0 && fsync(fd) == 0;
    ok = (fclose(f) == 0) && ok;
    if (ok && rename(tmp, path) == 0) return 1;
    unlink(tmp);
    return 0;
}

/* The file's lines without its comments and without the line of `name`. */
static size_t OtherLines(const char* text, const char* name, char* out) {
    size_t n = 0;
    const char* p = text;
    while (p && *p) {
        const char* eol = strchr(p, '\n');
        const char* end = eol ? eol + 1 : p + strlen(p);
        size_t nameLen = strlen(name);
        int same =
            (size_t)(end - p) > nameLen && p[nameLen] == '=' && memcmp(p, name, nameLen) == 0;
        if (*p != ';' && *p != '\n' && !same) {
            memcpy(out + n, p, (size_t)(end - p));
            n += (size_t)(end - p);
            if (!eol) out[n++] = '\n';
        }
        p = eol ? eol + 1 : NULL;
    }
    return n;
}

int QvRegSetValue(const char* key, const char* name, const char* value) {
    char path[QV_REG_PATH_MAX];
    char* text = NULL;
    if (!ValidName(name) || !value || !QvRegKeyFile(key, path, sizeof path) ||
        !ReadKeyFile(path, &text))
        return 0;
    size_t oldLen = text ? strlen(text) : 0;
    size_t cap = oldLen + 1 + strlen(name) + 1 + 2 * strlen(value) + 2;
    char* body = malloc(cap);
    if (!body) {
        free(text);
        return 0;
    }
    size_t n = text ? OtherLines(text, name, body) : 0;
    free(text);
    n += (size_t)sprintf(body + n, "%s=", name);
    for (const char* v = value; *v; ++v) {
        if (*v == '\\' || *v == '\n' || *v == '\r') {
            body[n++] = '\\';
            body[n++] = *v == '\n' ? 'n' : *v == '\r' ? 'r' : '\\';
        } else {
            body[n++] = *v;
        }
    }
    body[n++] = '\n';
    int ok = n <= QV_REG_FILE_MAX && WriteKeyFile(path, key, body, n);
    free(body);
    return ok;
}

int QvRegDeleteValue(const char* key, const char* name) {
    char path[QV_REG_PATH_MAX];
    char* text = NULL;
    if (!ValidName(name) || !QvRegKeyFile(key, path, sizeof path) || !ReadKeyFile(path, &text) ||
        !text || !FindValue(text, name, NULL, NULL)) {
        free(text);
        return 0;
    }
    char* body = malloc(strlen(text) + 2);
    if (!body) {
        free(text);
        return 0;
    }
    size_t n = OtherLines(text, name, body);
    free(text);
    int ok = WriteKeyFile(path, key, body, n);
    free(body);
    return ok;
}

/* Removes a folder tree that holds only subkeys (files and folders). */
static void RemoveTree(const char* folder, int depth) {
    if (depth > 32) return;
    DIR* d = opendir(folder);
    if (!d) return;
    struct dirent* e;
    while ((e = readdir(d)) != NULL) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        char path[QV_REG_PATH_MAX];
        if (snprintf(path, sizeof path, "%s/%s", folder, e->d_name) >= (int)sizeof path) continue;
        struct stat st;
        if (lstat(path, &st) != 0) continue;
        if (S_ISDIR(st.st_mode))
            RemoveTree(path, depth + 1);
        else
            unlink(path);
    }
    closedir(d);
    rmdir(folder);
}

int QvRegDeleteKey(const char* parent, const char* subkey) {
    char parentFolder[QV_REG_PATH_MAX], path[QV_REG_PATH_MAX], root[QV_REG_PATH_MAX];
    struct stat st;
    if (!subkey || !subkey[0] || strpbrk(subkey, "\\/") ||
        !KeyFolder(parent, parentFolder, sizeof parentFolder) || stat(parentFolder, &st) != 0 ||
        !S_ISDIR(st.st_mode))
        return 0;
    if (snprintf(path, sizeof path, "%s/%s.key", parentFolder, subkey) >= (int)sizeof path)
        return 0;
    int found = unlink(path) == 0;
    path[strlen(path) - 4] = '\0';
    if (stat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
        RemoveTree(path, 0);
        found = 1;
    }
    /* Prune folders left empty, up to and including the store's "quorvex" folder. */
    if (StoreRoot(root, sizeof root)) {
        char* stop = strrchr(root, '/'); /* .../quorvex */
        if (stop) *stop = '\0';
        size_t rootLen = strlen(root);
        while (strlen(parentFolder) >= rootLen && rmdir(parentFolder) == 0) {
            char* slash = strrchr(parentFolder, '/');
            if (!slash) break;
            *slash = '\0';
        }
    }
    return found;
}
