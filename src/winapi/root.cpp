/*
 * The emulated machine root and the UTF-8 <-> WCHAR helpers shared by the
 * stand-in's W functions.
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

namespace {

/* mkdir -p for one absolute or relative path. */
bool MakeDirs(const std::string &path) {
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

void AppendUtf8(std::string *out, uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

bool EnsureRootSubdir(const std::string &sub) {
    const std::string root = RootDir();
    if (!MakeDirs(root)) return false;
    if (sub.empty()) return true;
    return MakeDirs(root + "/" + sub);
}

/* WCHAR text may hold UTF-16 surrogate pairs (text that came through a UTF-16
 * buffer): a valid pair is joined, a lone surrogate becomes U+FFFD. */
std::string Narrow(const WCHAR *text) {
    std::string out;
    if (text == nullptr) return out;
    for (size_t i = 0; text[i] != 0; ++i) {
        uint32_t cp = static_cast<uint32_t>(text[i]);
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            const uint32_t next = static_cast<uint32_t>(text[i + 1]);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (next - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(&out, cp);
    }
    return out;
}

/* Malformed UTF-8 (bad lead byte, truncated or overlong sequence, encoded
 * surrogate) becomes one U+FFFD per offending byte. */
std::wstring Widen(const char *utf8) {
    std::wstring out;
    if (utf8 == nullptr) return out;
    const unsigned char *s = reinterpret_cast<const unsigned char *>(utf8);
    size_t i = 0;
    while (s[i] != 0) {
        const unsigned char c = s[i];
        uint32_t cp = 0;
        int extra = 0;
        uint32_t min = 0;
        if (c < 0x80) {
            out.push_back(static_cast<WCHAR>(c));
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F; extra = 1; min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F; extra = 2; min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07; extra = 3; min = 0x10000;
        } else {
            out.push_back(static_cast<WCHAR>(0xFFFD));
            ++i;
            continue;
        }
        int k = 1;
        for (; k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) break;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (k <= extra || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(static_cast<WCHAR>(0xFFFD));
            ++i;
            continue;
        }
        out.push_back(static_cast<WCHAR>(cp));
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

}  // namespace wa
