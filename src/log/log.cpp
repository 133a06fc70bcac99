/*
 * The one process-wide log file.
 *
 * A line is written only when the stream is open, the level admits it and a lock
 * token exists. Each line (prefix, message, flush) is written under the object lock
 * of the token, so lines of different threads never interleave. Set-up, open, close
 * and release are not locked: they run while one thread is active.
 */
#include "log/log.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "util/locks.h"
#include "util/strings.h"
#include "winapi/winapi.h"

#ifdef WINAPI_STANDIN
#include <sys/stat.h>
#include <sys/types.h>
#else
#include <direct.h>
#endif

FILE *gv_logFilePtr = nullptr;

namespace {

/* The log settings (one set per process). */
char *g_fileName = nullptr;
char *g_directory = nullptr;
char *g_path = nullptr;
unsigned char g_level = 0;
/* Its address keys the log's object lock; null means no line is written. */
char *g_lockToken = nullptr;

/* The table store's root directory. */
char *g_tamselRoot = nullptr;

constexpr const char *kDefaultFileName = "tamsel.log";
constexpr unsigned char kDefaultLevel = 3;

/* The C runtime's mkdir on a Windows path. */
int CrtMakeDirectory(const char *path) {
    std::string crtPath = WaCrtPath(path);
#ifdef WINAPI_STANDIN
    return mkdir(crtPath.c_str(), 0777);
#else
    return _mkdir(crtPath.c_str());
#endif
}

/* Keeps errno and the last error across a log write, so logging a failure never
 * changes the failure the caller reads afterwards. */
class ErrorKeeper {
public:
    ErrorKeeper() : errnoValue_(errno), lastError_(GetLastError()) {}
    ~ErrorKeeper() {
        SetLastError(lastError_);
        errno = errnoValue_;
    }
    ErrorKeeper(const ErrorKeeper &) = delete;
    ErrorKeeper &operator=(const ErrorKeeper &) = delete;

private:
    int errnoValue_;
    DWORD lastError_;
};

bool ReplaceString(char **slot, const char *value) {
    char *copy = nullptr;
    if (value != nullptr && DuplicateString(&copy, value) != 1) return false;
    free(*slot);
    *slot = copy;
    return true;
}

bool IsSet(const char *text) { return text != nullptr && text[0] != '\0'; }

void WriteLine(unsigned char threshold, const char *tag, const char *format, va_list args) {
    if (gv_logFilePtr == nullptr || g_level == 0 || g_level < threshold || g_lockToken == nullptr) return;
    ErrorKeeper keep;
    const void *token = g_lockToken;
    LockObject(token);
    char *stamp = GetTimeStamp();
    fprintf(gv_logFilePtr, "[ %s ] [ %u ] %s ", stamp != nullptr ? stamp : "",
            static_cast<unsigned>(GetCurrentThreadId()), tag);
    free(stamp);
    vfprintf(gv_logFilePtr, format, args);
    fflush(gv_logFilePtr);
    UnlockObject(token);
}

/* The open and close lines: no level test, no prefix. */
void WriteStampLine(const char *format) {
    char *stamp = GetTimeStamp();
    fprintf(gv_logFilePtr, format, stamp != nullptr ? stamp : "");
    fflush(gv_logFilePtr);
    free(stamp);
}

bool OpenWithMode(const char *mode) {
    if (gv_logFilePtr != nullptr) {
        LogTrace("gv_logFilePtr already Set\n");
        return true;
    }
    if (!IsSet(g_fileName)) return false;
    std::string path;
    if (IsSet(g_directory)) {
        MakeDirectoryTree(g_directory);
        path = std::string(g_directory) + "/" + g_fileName;
    } else if (IsSet(g_tamselRoot)) {
        std::string logs = std::string(g_tamselRoot) + "/logs";
        MakeDirectoryTree(logs.c_str());
        path = logs + "/" + g_fileName;
    } else {
        CrtMakeDirectory("../logs");
        path = std::string("../logs/") + g_fileName;
    }
    if (!ReplaceString(&g_path, path.c_str())) return false;
    FILE *stream = fopen(WaCrtPath(g_path).c_str(), mode);
    if (stream == nullptr) return false;
    gv_logFilePtr = stream;
    WriteStampLine("Log open time: %s\n");
    return true;
}

}  // namespace

/* ---- Level operations -------------------------------------------------------------- */

void LogInfo(const char *format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine(1, "[INFO]", format, args);
    va_end(args);
}

void LogError(const char *format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine(2, "[ERROR]", format, args);
    va_end(args);
}

void LogDebug(const char *format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine(3, "[DEBUG]", format, args);
    va_end(args);
}

void LogTrace(const char *format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine(4, "[TRACE]", format, args);
    va_end(args);
}

/* ---- Set-up and tear-down ------------------------------------------------------------ */

bool InitLogDefaults(void) {
    if (gv_logFilePtr != nullptr) {
        g_level = kDefaultLevel;
        /* An open log released earlier gets its token back, or it would stay mute. */
        if (g_lockToken == nullptr) g_lockToken = static_cast<char *>(calloc(1, 1));
        return g_lockToken != nullptr;
    }
    if (g_fileName != nullptr) return true;
    char *name = nullptr;
    if (DuplicateString(&name, kDefaultFileName) != 1) return false;
    g_fileName = name;
    free(g_lockToken);
    g_lockToken = static_cast<char *>(calloc(1, 1));
    free(g_directory);
    g_directory = nullptr;
    free(g_path);
    g_path = nullptr;
    g_level = kDefaultLevel;
    return g_lockToken != nullptr;
}

bool SetLogParameters(const char *fileName, const char *directory, int level) {
    if (fileName == nullptr) return false;
    char *name = nullptr;
    char *dir = nullptr;
    if (DuplicateString(&name, fileName) != 1) return false;
    if (directory != nullptr && DuplicateString(&dir, directory) != 1) {
        free(name);
        return false;
    }
    free(g_fileName);
    free(g_directory);
    g_fileName = name;
    g_directory = dir;
    g_level = static_cast<unsigned char>(level & 0xFF);
    return true;
}

bool SetLogFileName(const char *fileName) {
    if (!IsSet(fileName)) return false;
    return ReplaceString(&g_fileName, fileName);
}

bool SetLogDirectory(const char *directory) {
    if (!IsSet(directory)) return false;
    return ReplaceString(&g_directory, directory);
}

void SetLogLevel(int level) { g_level = static_cast<unsigned char>(level & 0xFF); }

bool OpenLogFile(void) { return OpenWithMode("w"); }

bool OpenLogFileAppend(void) { return OpenWithMode("a+"); }

void CloseLogFile(void) {
    if (gv_logFilePtr == nullptr) return;
    WriteStampLine("Log close time: %s\n");
    fclose(gv_logFilePtr);
    gv_logFilePtr = nullptr;
}

void ReleaseLogSettings(void) {
    free(g_fileName);
    free(g_directory);
    free(g_path);
    free(g_lockToken);
    g_fileName = nullptr;
    g_directory = nullptr;
    g_path = nullptr;
    g_lockToken = nullptr;
}

bool SetLogFilePtr(FILE *stream) {
    if (stream == nullptr) return false;
    gv_logFilePtr = stream;
    return true;
}

char *GetTimeStamp(void) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[64];
    snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d:%03d", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond, now.wMilliseconds);
    char *copy = nullptr;
    if (DuplicateString(&copy, text) != 1) return nullptr;
    return copy;
}

int MakeDirectoryTree(const char *path) {
    if (!IsSet(path)) return ENOENT;
    if (CrtMakeDirectory(path) == 0) return 0;
    int error = errno;
    if (error == EEXIST) return 1;
    if (error != ENOENT) return error;
    /* The parent: without trailing '/' and without the last '/'-separated part.
     * Only '/' separates here; a path without one has no parent to make. */
    std::string parent(path);
    while (!parent.empty() && parent.back() == '/') parent.pop_back();
    size_t slash = parent.rfind('/');
    if (slash == std::string::npos || slash == 0) return ENOENT;
    parent.resize(slash);
    int made = MakeDirectoryTree(parent.c_str());
    /* A parent made meanwhile by someone else (1) is as good as one made here. */
    if (made != 0 && made != 1) return made;
    if (CrtMakeDirectory(path) == 0) return 0;
    error = errno;
    return error == EEXIST ? 1 : error;
}

/* ---- The table store's root --------------------------------------------------------- */

void SetTamselRoot(const char *root) { ReplaceString(&g_tamselRoot, IsSet(root) ? root : nullptr); }

const char *GetTamselRoot(void) { return g_tamselRoot; }
