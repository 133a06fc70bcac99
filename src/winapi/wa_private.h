/*
 * Private header of the POSIX stand-in: what the family files share.
 * Nothing outside src/winapi includes it.
 */
#pragma once
#include "winapi/winapi.h"
#include "winapi/wa_machine.h"

#include <unistd.h>

#include <memory>
#include <string>

namespace wa {

/* ---- Emulated machine root ------------------------------------------------ */

/* $WINAPI_ROOT, else ~/.winapi; read on every call so tests can switch roots. */
std::string RootDir();
/* Creates the root folder (and `sub` under it) when missing; false on failure. */
bool EnsureRootSubdir(const std::string &sub);
/* Creates the host folder `path` and every missing folder on the way (mkdir -p);
 * true when it is a folder afterwards. */
bool MakeHostDirs(const std::string &path);

/* ---- Paths ----------------------------------------------------------------- */

/* "X:\dir\file" -> "<root>/drive_x/dir/file", each component matched without
 * regard to case when the exact name is absent; drive Z: is the host's own file
 * system ("Z:\tmp\f" -> "/tmp/f"); "\dir" is taken on the current drive; a
 * relative path is relative to the current directory; a POSIX absolute path
 * passes unchanged. */
std::string ToHostPath(const std::string &windowsPath);
/* A path handed to an A function, which is in the ANSI code page, as a host path
 * (host names are UTF-8): converted first, then as ToHostPath. */
std::string AnsiToHostPath(const char *ansiPath);
/* The error for a path that has no host path (ToHostPath gave ""): a path on
 * another machine ("\\server\share\...") is never reachable on the emulated
 * machine, ERROR_BAD_NETPATH as for a share that does not answer; anything else
 * ERROR_PATH_NOT_FOUND. */
DWORD NoHostPathError(const std::string &windowsPath);
/* The reverse, always a Windows path for an absolute host path:
 * "<root>/drive_x/a/b" -> "X:\a\b", any other "/a/b" -> "Z:\a\b". */
std::string ToWindowsPath(const std::string &hostPath);
/* The Windows directory in Windows form ("C:\Windows" unless "SystemRoot" says otherwise). */
std::string WindowsDirectory();

/* errno -> Win32 error code. */
DWORD ErrnoToWin32(int err);
/* errno of an operation on the host path `host` -> Win32 error code; for ENOENT,
 * ERROR_FILE_NOT_FOUND when the parent folder exists, else ERROR_PATH_NOT_FOUND
 * (a folder on the way is missing), as Windows tells them apart. */
DWORD HostPathError(int err, const std::string &host);
/* True when `host` names an existing folder (symbolic links followed). */
bool IsHostDir(const std::string &host);

/* ---- Host file descriptors ------------------------------------------------------ */

/* Owns one POSIX file descriptor (-1 when empty) and closes it when it goes. Code
 * that must see the result of close() releases the descriptor and closes it itself. */
class FdGuard {
public:
    FdGuard() = default;
    explicit FdGuard(int fd) noexcept : fd_(fd) {}
    ~FdGuard() { reset(); }
    FdGuard(FdGuard &&other) noexcept : fd_(other.release()) {}
    FdGuard &operator=(FdGuard &&other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    FdGuard(const FdGuard &) = delete;
    FdGuard &operator=(const FdGuard &) = delete;

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    int release() noexcept {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

/* Writes all `size` bytes, again after a signal; false with errno set on failure. */
bool WriteAll(int fd, const void *data, size_t size);

/* ---- UTF-8 (utf8.cpp) -------------------------------------------------------- */

/* Appends the UTF-8 form of a code point; a surrogate or a value beyond U+10FFFF
 * is written as U+FFFD. */
void AppendUtf8(std::string *out, uint32_t codePoint);
/* Decodes the UTF-8 sequence at text[*i] (of n bytes, *i < n) and moves *i past it.
 * A malformed sequence (bad lead byte, truncated or overlong form, encoded
 * surrogate, beyond U+10FFFF) gives U+FFFD, moves on by one byte and sets
 * *malformed when that is given. */
uint32_t DecodeUtf8(const char *text, size_t n, size_t *i, bool *malformed = nullptr);
/* The code point of the UTF-16 surrogate pair (high, low), or 0 when it is none. */
uint32_t JoinSurrogates(uint32_t high, uint32_t low);

/* UTF-8 bytes -> WCHAR text, one WCHAR per code point. A malformed sequence gives
 * U+FFFD per offending byte, or false (with part of the text appended) when `strict`. */
bool DecodeUtf8Text(const char *text, size_t n, bool strict, std::wstring *out);
/* WCHAR text -> UTF-8, a UTF-16 surrogate pair joined into one code point. A lone
 * surrogate or a value beyond U+10FFFF gives U+FFFD, or false when `strict`. */
bool EncodeUtf8Text(const WCHAR *text, size_t n, bool strict, std::string *out);

/* The byte of Windows-1252 that Windows writes for a character the code page has
 * no place for ("best fit": U+0100 as 'A'), or -1 when there is none. */
int Cp1252BestFit(uint32_t unicode);

/* ANSI code page (Windows-1252) <-> UTF-8, for the A functions' paths. A
 * character the code page lacks becomes its best fit, else '?', as Windows' A
 * functions give it. */
std::string AnsiToUtf8Text(const char *ansi);
std::string Utf8ToAnsiText(const std::string &utf8);

/* The same for terminated texts, never strict: the W functions of the stand-in. */
std::string Narrow(const WCHAR *text);
std::wstring Widen(const char *utf8);

/* ---- Handles --------------------------------------------------------------- */

enum class HandleKind { Mutex, File, Find, Process, Thread, Other };

/* A kernel object behind a HANDLE. Waitable kinds override Wait. */
struct HandleObject {
    explicit HandleObject(HandleKind k) : kind(k) {}
    virtual ~HandleObject() = default;
    /* WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED (with the last error set). */
    virtual DWORD Wait(DWORD milliseconds);
    const HandleKind kind;
};

/* Registers an object; the handle is never NULL nor INVALID_HANDLE_VALUE. */
HANDLE InsertHandle(std::shared_ptr<HandleObject> object);
/* The object behind a handle when it is of the kind asked for, else null
 * (ERROR_INVALID_HANDLE set). */
std::shared_ptr<HandleObject> LookupHandle(HANDLE h, HandleKind kind);
std::shared_ptr<HandleObject> LookupAnyHandle(HANDLE h);
/* Removes the handle; false and ERROR_INVALID_HANDLE when unknown. */
bool RemoveHandle(HANDLE h);

/* ---- Registry ---------------------------------------------------------------- */

/* ReadMachineString / ReadMachineDword (wa_machine.h) read the emulated registry's
 * 64-bit (unredirected) view. */
/* True when the emulated machine is 64-bit (our 32-bit process runs under WOW64). */
bool MachineIs64Bit();

/* ---- Sleep ------------------------------------------------------------------------ */

/* The real sleep, bypassing the recorder (for the stand-in's own polling). */
void RealSleep(DWORD milliseconds);

}  // namespace wa
