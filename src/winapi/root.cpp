/*
 * The emulated machine root.
 */
#include "winapi/wa_private.h"

#include <errno.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wa {

std::string RootDir() {
    const char *env = getenv("WINAPI_ROOT");
    std::string root;
    if (env != nullptr && env[0] != '\0') {
        root = env;
    } else {
        const char *home = getenv("HOME");
        if (home == nullptr || home[0] == '\0') {
            const struct passwd *pw = getpwuid(getuid());
            home = (pw != nullptr && pw->pw_dir != nullptr) ? pw->pw_dir : "/tmp";
        }
        root = std::string(home) + "/.winapi";
    }
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return root;
}

bool MakeHostDirs(const std::string &path) {
    if (path.empty()) return false;
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        const std::string part = path.substr(0, pos);
        if (part.empty()) continue;
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EnsureRootSubdir(const std::string &sub) {
    const std::string root = RootDir();
    if (!MakeHostDirs(root)) return false;
    if (sub.empty()) return true;
    return MakeHostDirs(root + "/" + sub);
}

}  // namespace wa
