/*
 * UninstQv: the clean-up the uninstaller runs before it removes the installed files. It
 * removes what the program made at run time: the log folder, the settings file and the
 * registry key of the product.
 */
#ifndef QUORVEX_UNINSTQV_H
#define QUORVEX_UNINSTQV_H

#ifdef __cplusplus
extern "C" {
#endif

#define UNINST_API __attribute__((visibility("default")))

/* Removes the log folder, the settings file and the key; always returns 0. */
UNINST_API int UninstInitialize(void);
/* Does nothing; returns 0. */
UNINST_API int UninstUnInitialize(void);
/* The library entry point of the original platform; returns 1 for every notification. */
UNINST_API int LibMain(void* instance, unsigned long reason, void* reserved);

#ifdef __cplusplus
}
#endif

#endif /* QUORVEX_UNINSTQV_H */
