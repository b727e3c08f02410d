/*
 * The per-user key/value store that stands in for the registry under HKEY_CURRENT_USER.
 *
 * A key path such as "Software\\Kelvar\\TavorinSekuvo" is the file
 * $XDG_CONFIG_HOME/quorvex/registry/Software/Kelvar/TavorinSekuvo.key (default
 * ~/.config/...), created mode 0600 in folders of mode 0700. The file is UTF-8 text, one
 * value a line as name=value; in a value a backslash is written "\\", a line feed "\n" and
 * a carriage return "\r". Lines starting with ';' are comments.
 *
 * Plain C and libc only, so the uninstall helper can carry it without linking anything.
 * Functions return 1 for success and 0 for failure. Any thread: each call reads or
 * replaces the whole file; of two writers of one key at the same moment the last wins.
 */
#ifndef QUORVEX_REGISTRY_H
#define QUORVEX_REGISTRY_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QV_REG_VENDOR_KEY "Software\\Kelvar"
#define QV_REG_PRODUCT_KEY "Software\\Kelvar\\TavorinSekuvo"
#define QV_REG_PRODUCT_SUBKEY "TavorinSekuvo"
#define QV_REG_VALUE_INFO_NO "InfoNo"
#define QV_REG_VALUE_DIRECTORY "Directory"

/* The file that holds a key's values (whether or not it exists yet). */
int QvRegKeyFile(const char* key, char* path, size_t size);

/* A key exists when it holds values or subkeys. */
int QvRegKeyExists(const char* key);

/* Copies a value; 0 when the key or value is missing or the buffer is too small. */
int QvRegGetValue(const char* key, const char* name, char* value, size_t size);

/* Creates the key when needed and sets the value. */
int QvRegSetValue(const char* key, const char* name, const char* value);

int QvRegDeleteValue(const char* key, const char* name);

/* Deletes the subkey of an existing parent key with its values; 0 when the parent key
 * does not exist. Folders left empty are removed, the store's own "quorvex" folder included. */
int QvRegDeleteKey(const char* parent, const char* subkey);

#ifdef __cplusplus
}
#endif

#endif /* QUORVEX_REGISTRY_H */
