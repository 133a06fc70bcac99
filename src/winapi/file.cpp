/*
 * Files, folders and searches of the stand-in. Host names are UTF-8: names given
 * to the A functions are converted from the ANSI code page first, those of the W
 * functions from UTF-16. A path on another machine (\\server\share) is never
 * reachable (ERROR_BAD_NETPATH).
 *
 * Not emulated: share modes (every open shares everything), attributes beyond
 * directory/read-only/archive, short (8.3) names.
 */
#include "winapi/wa_private.h"

#include <algorithm>
#include <atomic>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

/* ---- Helpers ------------------------------------------------------------------------- */

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

/* Seconds and nanoseconds since 1970 -> 100-ns intervals since 1601. */
FILETIME ToFileTime(const struct timespec &ts) {
    const uint64_t ticks = (static_cast<uint64_t>(ts.tv_sec) + 11644473600ULL) * 10000000ULL +
                           static_cast<uint64_t>(ts.tv_nsec) / 100u;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

DWORD AttributesOf(const struct stat &st) {
    DWORD attrs = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) attrs |= FILE_ATTRIBUTE_READONLY;
    return attrs;
}

/* ---- Searches ---------------------------------------------------------------------------- */

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

/* '*' any run, '?' one character; letters match without regard to case. */
bool WildMatch(const char *pattern, const char *name) {
    const char *starP = nullptr;
    const char *starN = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            starP = pattern++;
            starN = name;
        } else if (*pattern == '?' || (*pattern != '\0' && LowerAscii(*pattern) == LowerAscii(*name))) {
            ++pattern;
            ++name;
        } else if (starP != nullptr) {
            pattern = starP + 1;
            name = ++starN;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

bool MatchesSearch(const std::string &pattern, const std::string &name) {
    /* "*.*" is every name, also those without a dot; "x." also finds "x". */
    if (pattern == "*.*") return true;
    if (WildMatch(pattern.c_str(), name.c_str())) return true;
    if (!pattern.empty() && pattern.back() == '.' && name.find('.') == std::string::npos)
        return WildMatch(pattern.substr(0, pattern.size() - 1).c_str(), name.c_str());
    return false;
}

struct FindObject : wa::HandleObject {
    FindObject() : HandleObject(wa::HandleKind::Find) {}
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
};

WIN32_FIND_DATAA FindDataOf(const std::string &name, const struct stat &st) {
    WIN32_FIND_DATAA d;
    memset(&d, 0, sizeof d);
    d.dwFileAttributes = AttributesOf(st);
    d.ftCreationTime = ToFileTime(st.st_ctim);
    d.ftLastAccessTime = ToFileTime(st.st_atim);
    d.ftLastWriteTime = ToFileTime(st.st_mtim);
    if (!S_ISDIR(st.st_mode)) {
        const uint64_t size = static_cast<uint64_t>(st.st_size);
        d.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        d.nFileSizeLow = static_cast<DWORD>(size);
    }
    strncpy(d.cFileName, wa::Utf8ToAnsiText(name).c_str(), MAX_PATH - 1);
    return d;
}

bool IsWild(const std::string &s) { return s.find_first_of("*?") != std::string::npos; }

int CompareNoCase(const WIN32_FIND_DATAA &a, const WIN32_FIND_DATAA &b) { return strcasecmp(a.cFileName, b.cFileName); }

/* ---- Copy --------------------------------------------------------------------------------------- */

DWORD CopyHostFile(const std::string &from, const std::string &to, bool failIfExists) {
    const wa::FdGuard in(open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return wa::HostPathError(errno, from);
    struct stat src;
    if (fstat(in.get(), &src) != 0 || S_ISDIR(src.st_mode)) return ERROR_ACCESS_DENIED;
    struct stat dst;
    if (stat(to.c_str(), &dst) == 0) {
        if (failIfExists) return ERROR_FILE_EXISTS;
        if (S_ISDIR(dst.st_mode)) return ERROR_ACCESS_DENIED;
        /* Copying a file onto itself would truncate it: Windows refuses too. */
        if (dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) return ERROR_SHARING_VIOLATION;
    }
    /* Not guarded: a failing close of the copy is an error of the copy. */
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (failIfExists ? O_EXCL : 0),
                         src.st_mode & 0777);
    if (out < 0) return wa::HostPathError(errno, to);
    DWORD result = ERROR_SUCCESS;
    std::vector<char> buf(1 << 16);
    for (;;) {
        const ssize_t n = read(in.get(), buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) break;
        if (n < 0 || !wa::WriteAll(out, buf.data(), static_cast<size_t>(n))) {
            result = wa::ErrnoToWin32(errno);
            break;
        }
    }
    if (result == ERROR_SUCCESS) {
        /* Windows keeps the last-write time of the source. */
        const struct timespec times[2] = {src.st_atim, src.st_mtim};
        futimens(out, times);
    }
    if (close(out) != 0 && result == ERROR_SUCCESS) result = wa::ErrnoToWin32(errno);
    return result;
}

/* ---- Folder creation --------------------------------------------------------------------------- */

bool HasBadNameChars(const std::string &windowsPath, size_t from) {
    for (size_t i = from; i < windowsPath.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(windowsPath[i]);
        if (c < 0x20 || strchr("<>:\"|?*", c) != nullptr) return true;
    }
    return false;
}

}  // namespace

/* ---- Host writes --------------------------------------------------------------------------------- */

namespace wa {

bool WriteAll(int fd, const void *data, size_t size) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = EIO; /* a file that takes nothing more */
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace wa

/* ---- File handles -------------------------------------------------------------------------------- */

namespace {

struct FileObject : wa::HandleObject {
    explicit FileObject(int f) : HandleObject(wa::HandleKind::File), fd(f) {}
    ~FileObject() override {
        if (fd >= 0) close(fd);
    }
    /* A file handle is signalled: waits on it return at once, as on Windows. */
    DWORD Wait(DWORD) override { return WAIT_OBJECT_0; }
    int fd;
    /* Bytes written since the disk writes were last started. */
    std::atomic<uint64_t> unstarted{0};
};

/* Windows' lazy writer puts written pages on disk in the background within about
 * a second, so FlushFileBuffers at the end of a long write finds little left to
 * do. The host keeps dirty pages far longer; starting their writes every few MiB
 * (without waiting for them) gives the same shape. */
constexpr uint64_t kLazyWriteBytes = 8u << 20;

int FdOf(HANDLE h) {
    std::shared_ptr<wa::HandleObject> o = wa::LookupHandle(h, wa::HandleKind::File);
    return o ? static_cast<FileObject *>(o.get())->fd : -1;
}

HANDLE OpenHostFile(const std::string &host, const std::string &windowsName, DWORD access, DWORD disposition,
                    DWORD attributes) {
    int flags = O_CLOEXEC;
    if (attributes & FILE_FLAG_OPEN_REPARSE_POINT) flags |= O_NOFOLLOW;
    const bool wantRead = (access & (GENERIC_READ | GENERIC_ALL)) != 0;
    const bool wantWrite = (access & (GENERIC_WRITE | GENERIC_ALL)) != 0;
    flags |= wantWrite ? (wantRead ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING:
        if (!wantWrite) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        flags |= O_TRUNC;
        break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    if (host.empty()) {
        SetLastError(wa::NoHostPathError(windowsName));
        return INVALID_HANDLE_VALUE;
    }
    struct stat before;
    const bool existed = stat(host.c_str(), &before) == 0;
    if (existed && S_ISDIR(before.st_mode)) {
        /* Folders are not opened as files (no backup semantics here). */
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const int fd = open(host.c_str(), flags, 0666);
    if (fd < 0) {
        SetLastError(wa::HostPathError(errno, host));
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = wa::InsertHandle(std::make_shared<FileObject>(fd));
    if (h == nullptr) return INVALID_HANDLE_VALUE;
    /* CREATE_ALWAYS and OPEN_ALWAYS tell that the file was there already. */
    const bool tells = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    SetLastError(tells && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

}  // namespace

extern "C" HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                              DWORD attributes, HANDLE) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return OpenHostFile(wa::AnsiToHostPath(name), name, access, disposition, attributes);
}

extern "C" HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                              DWORD attributes, HANDLE) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::string utf8 = wa::Narrow(name);
    return OpenHostFile(wa::ToHostPath(utf8), utf8, access, disposition, attributes);
}

extern "C" BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD readCount, LPVOID) {
    if (readCount != nullptr) *readCount = 0;
    const int fd = FdOf(file);
    if (fd < 0) return FALSE;
    if (buffer == nullptr && toRead > 0) return Fail(ERROR_INVALID_PARAMETER);
    DWORD total = 0;
    while (total < toRead) {
        const ssize_t n = read(fd, static_cast<char *>(buffer) + total, toRead - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (readCount != nullptr) *readCount = total;
            return Fail(errno == EBADF ? ERROR_ACCESS_DENIED : wa::ErrnoToWin32(errno));
        }
        if (n == 0) break; /* end of file: success with what was read */
        total += static_cast<DWORD>(n);
    }
    if (readCount != nullptr) *readCount = total;
    return TRUE;
}

extern "C" BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPVOID) {
    if (written != nullptr) *written = 0;
    const std::shared_ptr<wa::HandleObject> object = wa::LookupHandle(file, wa::HandleKind::File);
    if (!object) return FALSE;
    FileObject *handle = static_cast<FileObject *>(object.get());
    const int fd = handle->fd;
    if (buffer == nullptr && toWrite > 0) return Fail(ERROR_INVALID_PARAMETER);
    DWORD total = 0;
    while (total < toWrite) {
        const ssize_t n = write(fd, static_cast<const char *>(buffer) + total, toWrite - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (written != nullptr) *written = total;
            /* A handle opened for reading only: Windows says access denied. */
            return Fail(errno == EBADF ? ERROR_ACCESS_DENIED : wa::ErrnoToWin32(errno));
        }
        total += static_cast<DWORD>(n);
    }
    if (written != nullptr) *written = total;
    if ((handle->unstarted += total) >= kLazyWriteBytes) {
        handle->unstarted = 0;
        sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    }
    return TRUE;
}

extern "C" BOOL FlushFileBuffers(HANDLE file) {
    const int fd = FdOf(file);
    if (fd < 0) return FALSE;
    if (fdatasync(fd) != 0 && errno != EINVAL && errno != EROFS) return Fail(wa::ErrnoToWin32(errno));
    return TRUE;
}

extern "C" DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
    const int fd = FdOf(file);
    if (fd < 0) return INVALID_FILE_SIZE;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        SetLastError(wa::ErrnoToWin32(errno));
        return INVALID_FILE_SIZE;
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS); /* INVALID_FILE_SIZE can be a real low part */
    return static_cast<DWORD>(size);
}

extern "C" DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
    const int fd = FdOf(file);
    if (fd < 0) return INVALID_SET_FILE_POINTER;
    int64_t offset = distance;
    if (distanceHigh != nullptr)
        offset = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                      static_cast<uint32_t>(distance));
    int whence = SEEK_SET;
    if (method == FILE_CURRENT)
        whence = SEEK_CUR;
    else if (method == FILE_END)
        whence = SEEK_END;
    else if (method != FILE_BEGIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    /* The base is read without moving the pointer, which stays put on failure. */
    off_t base = 0;
    if (whence == SEEK_CUR) {
        base = lseek(fd, 0, SEEK_CUR);
    } else if (whence == SEEK_END) {
        struct stat st;
        base = fstat(fd, &st) == 0 ? st.st_size : -1;
    }
    if (base < 0 || static_cast<int64_t>(base) + offset < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    const off_t pos = lseek(fd, static_cast<off_t>(offset), whence);
    if (pos < 0) {
        SetLastError(wa::ErrnoToWin32(errno));
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(pos) >> 32);
    else if (static_cast<uint64_t>(pos) > 0xFFFFFFFFull) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(pos);
}

/* ---- Searches --------------------------------------------------------------------------------- */

extern "C" HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    if (pattern == nullptr || data == nullptr || pattern[0] == '\0') {
        SetLastError(pattern != nullptr && pattern[0] == '\0' ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::string text = wa::AnsiToUtf8Text(pattern);
    const size_t sep = text.find_last_of("\\/");
    const std::string last = sep == std::string::npos ? text : text.substr(sep + 1);
    std::string folderText = sep == std::string::npos ? std::string(".") : text.substr(0, sep + 1);
    if (sep != std::string::npos && sep == 2 && text[1] == ':') folderText = text.substr(0, 3);
    if (last.empty()) {
        /* "C:\dir\": Windows finds nothing for a name ending in a separator. */
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const std::string folder = wa::ToHostPath(folderText.empty() ? std::string("/") : folderText);
    if (folder.empty()) {
        SetLastError(wa::NoHostPathError(text));
        return INVALID_HANDLE_VALUE;
    }
    auto found = std::make_shared<FindObject>();
    const bool atDriveRoot = wa::ToWindowsPath(folder).size() == 3;

    if (IsWild(last) || last == "." || last == "..") {
        DIR *d = opendir(folder.c_str());
        if (d == nullptr) {
            SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : wa::ErrnoToWin32(errno));
            return INVALID_HANDLE_VALUE;
        }
        while (struct dirent *e = readdir(d)) {
            const std::string name = e->d_name;
            const bool dots = name == "." || name == "..";
            if (dots && atDriveRoot) continue; /* a drive's root has no dot entries */
            if (!MatchesSearch(last, name)) continue;
            struct stat st;
            if (stat((folder + "/" + name).c_str(), &st) != 0) continue;
            found->entries.push_back(FindDataOf(name, st));
        }
        closedir(d);
        std::stable_sort(found->entries.begin(), found->entries.end(),
                         [](const WIN32_FIND_DATAA &a, const WIN32_FIND_DATAA &b) {
                             const bool ad = strcmp(a.cFileName, ".") == 0 || strcmp(a.cFileName, "..") == 0;
                             const bool bd = strcmp(b.cFileName, ".") == 0 || strcmp(b.cFileName, "..") == 0;
                             if (ad != bd) return ad;
                             return CompareNoCase(a, b) < 0;
                         });
    } else {
        /* A plain name: the one entry it names (matched without regard to case). */
        const std::string host = wa::ToHostPath(text);
        struct stat st;
        if (stat(host.c_str(), &st) == 0) {
            const size_t slash = host.find_last_of('/');
            found->entries.push_back(FindDataOf(host.substr(slash + 1), st));
        } else if (!wa::IsHostDir(folder)) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
    }
    if (found->entries.empty()) {
        SetLastError(wa::IsHostDir(folder) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *data = found->entries[0];
    found->next = 1;
    HANDLE h = wa::InsertHandle(found);
    if (h == nullptr) return INVALID_HANDLE_VALUE;
    SetLastError(ERROR_SUCCESS);
    return h;
}

extern "C" BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data) {
    std::shared_ptr<wa::HandleObject> o = wa::LookupHandle(find, wa::HandleKind::Find);
    if (!o) return FALSE;
    if (data == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    FindObject *f = static_cast<FindObject *>(o.get());
    if (f->next >= f->entries.size()) return Fail(ERROR_NO_MORE_FILES);
    *data = f->entries[f->next++];
    return TRUE;
}

extern "C" BOOL FindClose(HANDLE find) {
    if (!wa::LookupHandle(find, wa::HandleKind::Find)) return FALSE;
    return wa::RemoveHandle(find) ? TRUE : FALSE;
}

/* ---- Whole files and folders --------------------------------------------------------------------- */

extern "C" BOOL CopyFileA(LPCSTR existing, LPCSTR target, BOOL failIfExists) {
    if (existing == nullptr || target == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const std::string from = wa::AnsiToHostPath(existing);
    const std::string to = wa::AnsiToHostPath(target);
    if (from.empty() || to.empty()) return Fail(wa::NoHostPathError(from.empty() ? existing : target));
    const DWORD rc = CopyHostFile(from, to, failIfExists != FALSE);
    return rc == ERROR_SUCCESS ? TRUE : Fail(rc);
}

extern "C" BOOL CopyFileW(LPCWSTR existing, LPCWSTR target, BOOL failIfExists) {
    if (existing == nullptr || target == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const std::string from = wa::ToHostPath(wa::Narrow(existing));
    const std::string to = wa::ToHostPath(wa::Narrow(target));
    if (from.empty() || to.empty()) return Fail(wa::NoHostPathError(wa::Narrow(from.empty() ? existing : target)));
    const DWORD rc = CopyHostFile(from, to, failIfExists != FALSE);
    return rc == ERROR_SUCCESS ? TRUE : Fail(rc);
}

namespace {

BOOL DeleteHostFile(const std::string &host, const std::string &windowsName) {
    if (host.empty()) return Fail(wa::NoHostPathError(windowsName));
    if (wa::IsHostDir(host)) return Fail(ERROR_ACCESS_DENIED);
    if (unlink(host.c_str()) != 0) return Fail(wa::HostPathError(errno, host));
    return TRUE;
}

}  // namespace

extern "C" BOOL DeleteFileA(LPCSTR name) {
    if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    return DeleteHostFile(wa::AnsiToHostPath(name), name);
}

extern "C" BOOL DeleteFileW(LPCWSTR name) {
    if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const std::string utf8 = wa::Narrow(name);
    return DeleteHostFile(wa::ToHostPath(utf8), utf8);
}

extern "C" BOOL MoveFileA(LPCSTR existing, LPCSTR target) {
    if (existing == nullptr || target == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const std::string from = wa::AnsiToHostPath(existing);
    const std::string to = wa::AnsiToHostPath(target);
    if (from.empty() || to.empty()) return Fail(wa::NoHostPathError(from.empty() ? existing : target));
    struct stat st;
    if (lstat(from.c_str(), &st) != 0) return Fail(wa::HostPathError(errno, from));
    struct stat dst;
    if (lstat(to.c_str(), &dst) == 0) {
        /* Renaming a name to another spelling of itself is allowed. */
        if (!(dst.st_dev == st.st_dev && dst.st_ino == st.st_ino)) return Fail(ERROR_ALREADY_EXISTS);
    }
    if (rename(from.c_str(), to.c_str()) == 0) return TRUE;
    if (errno == EXDEV && S_ISREG(st.st_mode)) {
        /* Another file system: copy, then remove the original, as Windows does. */
        const DWORD rc = CopyHostFile(from, to, true);
        if (rc != ERROR_SUCCESS) return Fail(rc);
        unlink(from.c_str());
        return TRUE;
    }
    return Fail(wa::HostPathError(errno, to));
}

namespace {

/* fsync of the folder that holds `host`, so that a rename in it is on disk. */
void SyncParentFolder(const std::string &host) {
    const size_t slash = host.find_last_of('/');
    const std::string parent = slash == std::string::npos ? "." : host.substr(0, slash == 0 ? 1 : slash);
    const wa::FdGuard dir(open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) fsync(dir.get());
}

BOOL MoveHostFile(const std::string &from, const std::string &to, DWORD flags) {
    struct stat st;
    if (lstat(from.c_str(), &st) != 0) return Fail(wa::HostPathError(errno, from));
    struct stat dst;
    if (lstat(to.c_str(), &dst) == 0 && !(dst.st_dev == st.st_dev && dst.st_ino == st.st_ino)) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
        /* A folder is never replaced; a symbolic link is replaced like a file. */
        if (S_ISDIR(dst.st_mode) || S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    }
    /* rename() swaps the name in one step: whoever opens the target sees the old
     * file or the new one, never a mixture. */
    if (rename(from.c_str(), to.c_str()) != 0) {
        if (errno == EXDEV) return Fail(ERROR_NOT_SAME_DEVICE);
        return Fail(wa::HostPathError(errno, to));
    }
    if (flags & MOVEFILE_WRITE_THROUGH) SyncParentFolder(to);
    return TRUE;
}

}  // namespace

extern "C" BOOL MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags) {
    if (existing == nullptr || target == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const std::string from = wa::AnsiToHostPath(existing);
    const std::string to = wa::AnsiToHostPath(target);
    if (from.empty() || to.empty()) return Fail(wa::NoHostPathError(from.empty() ? existing : target));
    return MoveHostFile(from, to, flags);
}

extern "C" BOOL MoveFileExW(LPCWSTR existing, LPCWSTR target, DWORD flags) {
    if (existing == nullptr || target == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const std::string fromText = wa::Narrow(existing);
    const std::string toText = wa::Narrow(target);
    const std::string from = wa::ToHostPath(fromText);
    const std::string to = wa::ToHostPath(toText);
    if (from.empty() || to.empty()) return Fail(wa::NoHostPathError(from.empty() ? fromText : toText));
    return MoveHostFile(from, to, flags);
}

namespace {

/* Open-file-description locks: they conflict between two handles of one process
 * as well as between processes, and go with the last descriptor. */
BOOL HostLock(HANDLE file, short type, bool wait, DWORD bytesLow, DWORD bytesHigh, LPOVERLAPPED overlapped) {
    const int fd = FdOf(file);
    if (fd < 0) return FALSE;
    if (overlapped == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    struct flock lock;
    memset(&lock, 0, sizeof lock);
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>((static_cast<uint64_t>(overlapped->OffsetHigh) << 32) | overlapped->Offset);
    lock.l_len = static_cast<off_t>((static_cast<uint64_t>(bytesHigh) << 32) | bytesLow);
    for (;;) {
        if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return TRUE;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EACCES) return Fail(ERROR_LOCK_VIOLATION);
        return Fail(wa::ErrnoToWin32(errno));
    }
}

}  // namespace

extern "C" BOOL LockFileEx(HANDLE file, DWORD flags, DWORD, DWORD bytesLow, DWORD bytesHigh,
                           LPOVERLAPPED overlapped) {
    const short type = (flags & LOCKFILE_EXCLUSIVE_LOCK) ? F_WRLCK : F_RDLCK;
    return HostLock(file, type, (flags & LOCKFILE_FAIL_IMMEDIATELY) == 0, bytesLow, bytesHigh, overlapped);
}

extern "C" BOOL UnlockFileEx(HANDLE file, DWORD, DWORD bytesLow, DWORD bytesHigh, LPOVERLAPPED overlapped) {
    return HostLock(file, F_UNLCK, false, bytesLow, bytesHigh, overlapped);
}

extern "C" BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
    if (path == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const std::string host = wa::AnsiToHostPath(path);
    if (host.empty()) return Fail(wa::NoHostPathError(path));
    if (mkdir(host.c_str(), 0777) != 0) {
        const int err = errno;
        if (err == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
        if (err == ENOENT) return Fail(ERROR_PATH_NOT_FOUND);
        return Fail(wa::ErrnoToWin32(err));
    }
    return TRUE;
}

extern "C" BOOL RemoveDirectoryA(LPCSTR path) {
    if (path == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const std::string host = wa::AnsiToHostPath(path);
    if (host.empty()) return Fail(wa::NoHostPathError(path));
    if (rmdir(host.c_str()) != 0) {
        const int err = errno;
        if (err == ENOTDIR && access(host.c_str(), F_OK) == 0) return Fail(ERROR_DIRECTORY);
        return Fail(wa::HostPathError(err, host));
    }
    return TRUE;
}

extern "C" DWORD GetFileAttributesA(LPCSTR name) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    const std::string host = wa::AnsiToHostPath(name);
    struct stat st;
    if (host.empty() || stat(host.c_str(), &st) != 0) {
        SetLastError(host.empty() ? wa::NoHostPathError(name) : wa::HostPathError(errno, host));
        return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesOf(st);
}

namespace {

/* Every missing folder on the way is made. Codes as the shell gives them:
 * ERROR_BAD_NETPATH for a path on another machine, ERROR_BAD_PATHNAME for a path
 * that is not fully qualified, ERROR_INVALID_NAME
 * for characters no file name may hold, ERROR_FILENAME_EXCED_RANGE beyond the
 * folder length limit, ERROR_PATH_NOT_FOUND when a drive is missing or a file
 * stands where a parent folder should be, ERROR_ALREADY_EXISTS for an existing
 * folder (ERROR_FILE_EXISTS for a file of that name). */
int CreateHostDirectories(const std::string &text) {
    if (text.empty()) {
        SetLastError(ERROR_BAD_PATHNAME);
        return ERROR_BAD_PATHNAME;
    }
    const bool network = wa::NoHostPathError(text) == ERROR_BAD_NETPATH;
    const bool drivePath = text.size() >= 3 && ((text[0] | 0x20) >= 'a' && (text[0] | 0x20) <= 'z') &&
                           text[1] == ':' && (text[2] == '\\' || text[2] == '/');
    const bool posixPath = text[0] == '/';
    int rc = ERROR_SUCCESS;
    std::string host;
    if (network) {
        rc = ERROR_BAD_NETPATH;
    } else if (!drivePath && !posixPath) {
        rc = ERROR_BAD_PATHNAME;
    } else if (drivePath && HasBadNameChars(text, 2)) {
        rc = ERROR_INVALID_NAME;
    } else if (drivePath && text.size() >= MAX_PATH - 12) {
        rc = ERROR_FILENAME_EXCED_RANGE;
    } else {
        host = wa::ToHostPath(text);
        std::string drive;
        if (drivePath) drive = wa::ToHostPath(text.substr(0, 3));
        struct stat st;
        if (drivePath && !wa::IsHostDir(drive)) {
            rc = ERROR_PATH_NOT_FOUND;
        } else if (stat(host.c_str(), &st) == 0) {
            rc = S_ISDIR(st.st_mode) ? ERROR_ALREADY_EXISTS : ERROR_FILE_EXISTS;
        } else {
            /* Make each folder below the drive (or below "/") in turn. */
            size_t pos = drivePath ? drive.size() : 0;
            while (rc == ERROR_SUCCESS) {
                pos = host.find('/', pos + 1);
                const std::string part = host.substr(0, pos);
                if (mkdir(part.c_str(), 0777) != 0) {
                    const int err = errno;
                    if (err == EEXIST && wa::IsHostDir(part)) {
                        /* there already */
                    } else if (err == EEXIST || err == ENOTDIR || err == ENOENT) {
                        rc = ERROR_PATH_NOT_FOUND;
                    } else {
                        rc = static_cast<int>(wa::ErrnoToWin32(err));
                    }
                }
                if (pos == std::string::npos) break;
            }
        }
    }
    SetLastError(static_cast<DWORD>(rc));
    return rc;
}

}  // namespace

extern "C" int SHCreateDirectoryExA(HWND, LPCSTR path, const SECURITY_ATTRIBUTES *) {
    return CreateHostDirectories(path != nullptr ? wa::AnsiToUtf8Text(path) : std::string());
}

extern "C" int SHCreateDirectoryExW(HWND, LPCWSTR path, const SECURITY_ATTRIBUTES *) {
    return CreateHostDirectories(path != nullptr ? wa::Narrow(path) : std::string());
}
