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
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <cstddef>
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

/* One conversion of a message's format, already split into its parts. */
struct Conversion {
    std::string flags;
    std::string width;      /* digits, or empty */
    std::string precision;  /* ".digits", or empty */
    std::string length;     /* "hh", "h", "l", "ll", "L", "j", "z", "t" or empty */
    bool wide = false;      /* a wide text or character */
    char type = 0;
};

/* Formats one value with the conversion, as the C runtime does. */
template <typename T>
void AppendOne(std::string *out, const Conversion &c, T value) {
    const std::string conversion = "%" + c.flags + c.width + c.precision + c.length + c.type;
    char small[256];
    const int n = snprintf(small, sizeof small, conversion.c_str(), value);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        out->append(small, static_cast<size_t>(n));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    snprintf(&big[0], big.size(), conversion.c_str(), value);
    out->append(big.data(), static_cast<size_t>(n));
}

/* UTF-8 of `count` WCHARs (or up to the terminator for -1); "(null)" for none. */
std::string Utf8Of(const WCHAR *text, long count) {
    if (text == nullptr) return "(null)";
    long length = 0;
    while ((count < 0 || length < count) && text[length] != 0) ++length;
    if (length == 0) return "";
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return "";
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &utf8[0], n, nullptr, nullptr);
    return utf8;
}

/* Reads the conversion at *p (after its '%'); false for one this log does not know. */
bool ParseConversion(const char **p, va_list *args, Conversion *c) {
    const char *s = *p;
    while (*s != '\0' && strchr("-+ #0'", *s) != nullptr) c->flags += *s++;
    if (*s == '*') {
        c->width = std::to_string(va_arg(*args, int));  /* a negative width left-aligns */
        ++s;
    } else {
        while (*s >= '0' && *s <= '9') c->width += *s++;
    }
    if (*s == '.') {
        ++s;
        if (*s == '*') {
            const int precision = va_arg(*args, int);
            if (precision >= 0) c->precision = "." + std::to_string(precision);
            ++s;
        } else {
            std::string digits;
            while (*s >= '0' && *s <= '9') digits += *s++;
            c->precision = "." + (digits.empty() ? std::string("0") : digits);
        }
    }
    /* Length modifiers, with the Windows runtime's own spellings. */
    if (strncmp(s, "hh", 2) == 0 || strncmp(s, "ll", 2) == 0) {
        c->length.assign(s, 2);
        s += 2;
    } else if (strncmp(s, "I64", 3) == 0) {
        c->length = "ll";
        s += 3;
    } else if (strncmp(s, "I32", 3) == 0) {
        s += 3;
    } else if (*s == 'q') {
        c->length = "ll";
        ++s;
    } else if (*s == 'I') {
        c->length = "z";
        ++s;
    } else if (*s == 'w') {
        c->wide = true;
        ++s;
    } else if (*s != '\0' && strchr("hlLjzt", *s) != nullptr) {
        c->length.assign(s, 1);
        ++s;
    }
    c->type = *s;
    if (c->type == '\0' || strchr("diouxXcCsSpfFeEgGaAn%", c->type) == nullptr) return false;
    if (c->type == 'S' || c->type == 'C' || ((c->type == 's' || c->type == 'c') && c->length == "l")) c->wide = true;
    *p = s + 1;
    return true;
}

/* Appends the value of one conversion, taken from the arguments. */
void AppendConversion(std::string *out, Conversion c, va_list *args) {
    const std::string &len = c.length;
    switch (c.type) {
    case '%':
        out->push_back('%');
        return;
    case 'c':
    case 'C':
        if (c.wide) {
            const WCHAR ch = static_cast<WCHAR>(va_arg(*args, unsigned int));
            c.length.clear();
            c.type = 's';
            AppendOne(out, c, Utf8Of(&ch, 1).c_str());
            return;
        }
        AppendOne(out, c, va_arg(*args, int));
        return;
    case 's':
    case 'S':
        if (c.wide) {
            /* The precision counts bytes written, and a character never goes in part. */
            std::string text = Utf8Of(va_arg(*args, const WCHAR *), -1);
            if (!c.precision.empty()) {
                size_t end = static_cast<size_t>(strtoul(c.precision.c_str() + 1, nullptr, 10));
                if (end < text.size()) {
                    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
                    text.resize(end);
                }
            }
            c.precision.clear();
            c.length.clear();
            c.type = 's';
            AppendOne(out, c, text.c_str());
            return;
        }
        AppendOne(out, c, va_arg(*args, const char *));
        return;
    case 'p':
        AppendOne(out, c, va_arg(*args, void *));
        return;
    case 'n':
        (void)va_arg(*args, void *);  /* counts are never written back */
        return;
    case 'd':
    case 'i':
        if (len == "l") AppendOne(out, c, va_arg(*args, long));
        else if (len == "ll") AppendOne(out, c, va_arg(*args, long long));
        else if (len == "j") AppendOne(out, c, va_arg(*args, intmax_t));
        else if (len == "z" || len == "t") AppendOne(out, c, va_arg(*args, ptrdiff_t));
        else AppendOne(out, c, va_arg(*args, int));
        return;
    case 'o':
    case 'u':
    case 'x':
    case 'X':
        if (len == "l") AppendOne(out, c, va_arg(*args, unsigned long));
        else if (len == "ll") AppendOne(out, c, va_arg(*args, unsigned long long));
        else if (len == "j") AppendOne(out, c, va_arg(*args, uintmax_t));
        else if (len == "z" || len == "t") AppendOne(out, c, va_arg(*args, size_t));
        else AppendOne(out, c, va_arg(*args, unsigned int));
        return;
    default: /* floating point */
        if (len == "L") AppendOne(out, c, va_arg(*args, long double));
        else {
            c.length.clear();
            AppendOne(out, c, va_arg(*args, double));
        }
        return;
    }
}

/* The message of a line, by the printf conventions, except that wide texts and
 * characters are written as UTF-8 whatever the C runtime's locale: in its "C"
 * locale the runtime writes some of them as single bytes and stops the line at
 * the first one it cannot convert. A conversion this log does not know is
 * written as it stands, with the rest of the format. */
std::string FormatMessageText(const char *format, va_list *args) {
    std::string out;
    const char *p = format;
    while (*p != '\0') {
        const char *percent = strchr(p, '%');
        if (percent == nullptr) {
            out += p;
            break;
        }
        out.append(p, static_cast<size_t>(percent - p));
        const char *next = percent + 1;
        Conversion c;
        if (!ParseConversion(&next, args, &c)) {
            out += percent;
            break;
        }
        AppendConversion(&out, c, args);
        p = next;
    }
    return out;
}

void WriteLine(unsigned char threshold, const char *tag, const char *format, va_list args) {
    if (gv_logFilePtr == nullptr || g_level == 0 || g_level < threshold || g_lockToken == nullptr) return;
    ErrorKeeper keep;
    va_list copy;
    va_copy(copy, args);
    const std::string message = FormatMessageText(format, &copy);
    va_end(copy);
    const void *token = g_lockToken;
    LockObject(token);
    char *stamp = GetTimeStamp();
    fprintf(gv_logFilePtr, "[ %s ] [ %u ] %s ", stamp != nullptr ? stamp : "",
            static_cast<unsigned>(GetCurrentThreadId()), tag);
    free(stamp);
    fwrite(message.data(), 1, message.size(), gv_logFilePtr);
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
