/*
 * Windows paths on the emulated machine root.
 *
 *   "X:\dir\file"  -> "<root>/drive_x/dir/file"
 *   "Z:\dir\file"  -> "/dir/file": drive Z: is the host's own file system (the
 *                     way a Windows program sees the host's folders outside the
 *                     machine root, so that every path handed back is a Windows path)
 *   "\dir\file"    -> the same on the drive of the current directory (Z: when
 *                     that is outside the machine root)
 *   "dir\file"     -> relative to the process's real current directory
 *   "/any/path"    -> a POSIX absolute path: not re-rooted, only '\' becomes '/'
 *   "\\host\share" -> "" (another machine is never reachable from here)
 *
 * '\' and '/' both separate components; "." and ".." are resolved by text, and
 * trailing dots and blanks of names dropped, as Windows does. Each component is
 * looked up with its exact spelling first; when that name is absent, the folder
 * is searched for a name that matches without regard to case. A component that
 * matches nothing keeps the spelling it was given (so that it can be created),
 * and so do all components after it.
 */
#include "winapi/wa_private.h"

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace wa {

namespace {

bool IsSep(char c) { return c == '\\' || c == '/'; }

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::vector<std::string> SplitComponents(const std::string &text) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : text) {
        if (IsSep(c)) {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) parts.push_back(cur);
    return parts;
}

/* "." and ".." by text; ".." never climbs above the start. Trailing dots and
 * blanks of a name are dropped, as Windows does ("file." names "file"). */
std::vector<std::string> Normalise(const std::vector<std::string> &parts) {
    std::vector<std::string> out;
    for (std::string p : parts) {
        if (p == ".") continue;
        if (p == "..") {
            if (!out.empty()) out.pop_back();
            continue;
        }
        while (!p.empty() && (p.back() == '.' || p.back() == ' ')) p.pop_back();
        if (p.empty()) continue;
        out.push_back(p);
    }
    return out;
}

bool Exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

/* The entry of `dir` whose name equals `name` without regard to (ASCII) case. */
bool FindNoCase(const std::string &dir, const std::string &name, std::string *found) {
    DIR *d = opendir(dir.empty() ? "/" : dir.c_str());
    if (d == nullptr) return false;
    bool ok = false;
    while (struct dirent *e = readdir(d)) {
        if (strcasecmp(e->d_name, name.c_str()) == 0) {
            *found = e->d_name;
            ok = true;
            break;
        }
    }
    closedir(d);
    return ok;
}

/* Appends components to a host folder, matching each one without regard to case. */
std::string AppendMatched(std::string base, const std::vector<std::string> &parts) {
    if (base.empty() && parts.empty()) return "/";
    bool searching = true;
    for (const std::string &p : parts) {
        std::string candidate = base + "/" + p;
        if (searching && !Exists(candidate)) {
            std::string other;
            if (FindNoCase(base, p, &other))
                candidate = base + "/" + other;
            else
                searching = false; /* nothing below a missing folder exists either */
        }
        base = candidate;
    }
    return base;
}

std::string CurrentHostDir() {
    std::vector<char> buf(PATH_MAX);
    for (;;) {
        if (getcwd(buf.data(), buf.size()) != nullptr) return buf.data();
        if (errno != ERANGE) return ".";
        buf.resize(buf.size() * 2);
    }
}

/* The drive letter of the host's own file system. */
constexpr char kHostDrive = 'z';

/* The host folder of a drive's root; "" for the host drive (its root is "/"). */
std::string DriveFolder(char letter) {
    if (LowerAscii(letter) == kHostDrive) return std::string();
    std::string drive = "drive_";
    drive.push_back(LowerAscii(letter));
    /* The system drive always exists on the emulated machine. */
    if (LowerAscii(letter) == 'c') EnsureRootSubdir(drive);
    return RootDir() + "/" + drive;
}

/* "X:\a\b" of the drive letter `letter` and the host path `rest` below its root ("/a/b"). */
std::string DrivePath(char letter, const std::string &rest) {
    std::string out(1, static_cast<char>(letter - 'a' + 'A'));
    out += ":";
    for (const std::string &p : SplitComponents(rest)) out += "\\" + p;
    if (out.size() == 2) out += "\\";
    return out;
}

/* "<prefix>/drive_x[/rest]" -> "X:\rest"; false when `host` is not under `prefix`. */
bool StripRoot(const std::string &host, const std::string &prefix, std::string *windowsPath) {
    const std::string lead = prefix + "/drive_";
    if (prefix.empty() || host.compare(0, lead.size(), lead) != 0) return false;
    if (host.size() < lead.size() + 1) return false;
    const char letter = host[lead.size()];
    if (!(letter >= 'a' && letter <= 'z') || letter == kHostDrive) return false;
    const size_t after = lead.size() + 1;
    if (host.size() > after && host[after] != '/') return false;
    *windowsPath = DrivePath(letter, host.substr(after));
    return true;
}

}  // namespace

std::string ToHostPath(const std::string &windowsPath) {
    const std::string &p = windowsPath;
    if (p.empty()) return p;
    if (p[0] == '/') {
        /* POSIX absolute path: only the separators change. */
        std::string out = p;
        for (char &c : out)
            if (c == '\\') c = '/';
        return out;
    }
    if (p.size() >= 2 && IsDriveLetter(p[0]) && p[1] == ':') {
        /* "X:\a" and also the drive-relative "X:a", taken from the drive's root. */
        return AppendMatched(DriveFolder(p[0]), Normalise(SplitComponents(p.substr(2))));
    }
    if (p[0] == '\\') {
        if (p.size() >= 2 && IsSep(p[1])) {
            /* A path on another machine: nothing on this host may stand in for it. */
            return std::string();
        }
        std::string cwdWindows = ToWindowsPath(CurrentHostDir());
        const char drive = (cwdWindows.size() >= 2 && cwdWindows[1] == ':') ? cwdWindows[0] : 'C';
        return AppendMatched(DriveFolder(drive), Normalise(SplitComponents(p)));
    }
    /* Relative: resolved against the current directory by text, as Windows does. */
    const std::string cwd = CurrentHostDir();
    std::string cwdWindows = ToWindowsPath(cwd);
    if (cwdWindows.size() >= 2 && cwdWindows[1] == ':') {
        std::vector<std::string> parts = SplitComponents(cwdWindows.substr(2));
        for (const std::string &c : SplitComponents(p)) parts.push_back(c);
        return AppendMatched(DriveFolder(cwdWindows[0]), Normalise(parts));
    }
    std::vector<std::string> parts = SplitComponents(cwd);
    const size_t keep = parts.size();
    for (const std::string &c : SplitComponents(p)) parts.push_back(c);
    parts = Normalise(parts);
    /* Components of the current directory itself are taken as they are. */
    std::string base;
    size_t i = 0;
    for (; i < parts.size() && i < keep; ++i) base += "/" + parts[i];
    std::vector<std::string> tail(parts.begin() + static_cast<std::ptrdiff_t>(i), parts.end());
    if (base.empty() && tail.empty()) return "/";
    return AppendMatched(base, tail);
}

std::string AnsiToHostPath(const char *ansiPath) {
    return ansiPath != nullptr ? ToHostPath(AnsiToUtf8Text(ansiPath)) : std::string();
}

DWORD NoHostPathError(const std::string &windowsPath) {
    const bool network = windowsPath.size() >= 2 && IsSep(windowsPath[0]) && IsSep(windowsPath[1]);
    return network ? ERROR_BAD_NETPATH : ERROR_PATH_NOT_FOUND;
}

std::string ToWindowsPath(const std::string &hostPath) {
    const std::string root = RootDir();
    std::string out;
    if (StripRoot(hostPath, root, &out)) return out;
    /* The root may be spelled through a symbolic link or a relative name. */
    char *real = realpath(root.c_str(), nullptr);
    if (real != nullptr) {
        const std::string realRoot = real;
        free(real);
        if (realRoot != root && StripRoot(hostPath, realRoot, &out)) return out;
    }
    if (hostPath.empty() || hostPath[0] != '/') return hostPath;
    /* Outside the machine root: on the host drive. */
    return DrivePath(kHostDrive, hostPath);
}

std::string WindowsDirectory() {
    std::string value;
    if (ReadMachineString("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot", &value) &&
        !value.empty()) {
        while (value.size() > 3 && IsSep(value.back())) value.pop_back();
        return value;
    }
    return "C:\\Windows";
}

DWORD ErrnoToWin32(int err) {
    switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case ELOOP: return ERROR_CANTOPEN;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ENOSYS:
    case ENOTSUP: return ERROR_NOT_SUPPORTED;
    default: return ERROR_GEN_FAILURE;
    }
}

bool IsHostDir(const std::string &host) {
    struct stat st;
    return stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

DWORD HostPathError(int err, const std::string &host) {
    if (err != ENOENT) return ErrnoToWin32(err);
    const size_t slash = host.find_last_of('/');
    const std::string parent = slash == std::string::npos ? "." : host.substr(0, slash == 0 ? 1 : slash);
    return IsHostDir(parent) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

}  // namespace wa

/* ---- Folders of the emulated machine --------------------------------------------- */

namespace {

/* Windows' size protocol for text results: the length without terminator when
 * it fits, else the size needed with the terminator. */
DWORD CopyOut(const std::string &text, LPSTR buffer, DWORD size) {
    if (buffer == nullptr || size <= text.size()) return static_cast<DWORD>(text.size() + 1);
    memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

}  // namespace

extern "C" UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    return CopyOut(wa::WindowsDirectory(), buffer, size);
}

extern "C" UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
    return CopyOut(wa::WindowsDirectory() + "\\system32", buffer, size);
}

extern "C" DWORD GetTempPathA(DWORD size, LPSTR buffer) {
    std::string dir;
    for (const char *name : {"TMP", "TEMP"}) {
        const char *v = getenv(name);
        if (v != nullptr && v[0] != '\0') {
            dir = wa::ToWindowsPath(v);
            break;
        }
    }
    if (dir.empty()) {
        dir = wa::WindowsDirectory() + "\\Temp";
        /* Windows always has its temp folder; make sure the emulated one is there. */
        wa::MakeHostDirs(wa::ToHostPath(dir));
    }
    if (dir.back() != '\\' && dir.back() != '/') dir.push_back(dir[0] == '/' ? '/' : '\\');
    return CopyOut(dir, buffer, size);
}

extern "C" DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    return CopyOut(wa::Utf8ToAnsiText(wa::ToWindowsPath(wa::CurrentHostDir())), buffer, size);
}

extern "C" BOOL SetCurrentDirectoryA(LPCSTR path) {
    if (path == nullptr || path[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string host = wa::AnsiToHostPath(path);
    if (host.empty()) {
        SetLastError(wa::NoHostPathError(path));
        return FALSE;
    }
    if (chdir(host.c_str()) != 0) {
        const int err = errno;
        struct stat st;
        if (err == ENOTDIR && stat(host.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
            SetLastError(ERROR_DIRECTORY);
        else
            SetLastError(wa::HostPathError(err, host));
        return FALSE;
    }
    return TRUE;
}
