/* Included ahead of every test source of the Windows build: the C runtime calls the
 * tests use that the Windows C runtime spells differently. */
#pragma once
#ifdef _WIN32
#include <stdlib.h>
#include <time.h>

inline int setenv(const char *name, const char *value, int overwrite) {
    if (!overwrite && getenv(name)) return 0;
    return _putenv_s(name, value) == 0 ? 0 : -1;
}
inline int unsetenv(const char *name) { return _putenv_s(name, "") == 0 ? 0 : -1; }
inline struct tm *localtime_r(const time_t *t, struct tm *out) { return localtime_s(out, t) == 0 ? out : nullptr; }
inline struct tm *gmtime_r(const time_t *t, struct tm *out) { return gmtime_s(out, t) == 0 ? out : nullptr; }
#endif
