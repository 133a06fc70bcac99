/* Included ahead of every test source of the Windows build: the C runtime calls the
 * tests use that the Windows C runtime spells differently. */
#pragma once
#ifdef _WIN32
#include <stdlib.h>
#include <time.h>
#ifdef __cplusplus
#include <filesystem>
#include <system_error>
#endif

inline int setenv(const char *name, const char *value, int overwrite) {
    if (!overwrite && getenv(name)) return 0;
    return _putenv_s(name, value) == 0 ? 0 : -1;
}
inline int unsetenv(const char *name) { return _putenv_s(name, "") == 0 ? 0 : -1; }
inline struct tm *localtime_r(const time_t *t, struct tm *out) { return localtime_s(out, t) == 0 ? out : nullptr; }
inline struct tm *gmtime_r(const time_t *t, struct tm *out) { return gmtime_s(out, t) == 0 ? out : nullptr; }
#ifdef __cplusplus
/* A symbolic link; Windows makes one only with a privilege a test may lack (-1 then). */
inline int symlink(const char *target, const char *link) {
    std::error_code error;
    std::filesystem::create_symlink(std::filesystem::u8path(target), std::filesystem::u8path(link), error);
    return error ? -1 : 0;
}
#endif
#endif
