/*
 * Last error, time, thread and process ids, mutexes and waits, Sleep (with the
 * test recorder and the wait scale), system memory and the environment of the
 * stand-in.
 */
#include "winapi/wa_hook_state.h"
#include "winapi/wa_private.h"
#include "winapi/wa_process_hooks.h"
#include "winapi/wa_testhooks.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <errno.h>
#include <map>
#include <mutex>
#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char **environ;

/* ---- Last error --------------------------------------------------------------- */

namespace {
thread_local DWORD tLastError = 0;
}

extern "C" DWORD GetLastError(void) { return tLastError; }
extern "C" void SetLastError(DWORD code) { tLastError = code; }

/* ---- Time ---------------------------------------------------------------------- */

namespace {

void FillSystemTime(const struct tm &tm, long nanoseconds, LPSYSTEMTIME st) {
    st->wYear = static_cast<WORD>(tm.tm_year + 1900);
    st->wMonth = static_cast<WORD>(tm.tm_mon + 1);
    st->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
    st->wDay = static_cast<WORD>(tm.tm_mday);
    st->wHour = static_cast<WORD>(tm.tm_hour);
    st->wMinute = static_cast<WORD>(tm.tm_min);
    /* A leap second shows as :59 like Windows, which has none. */
    st->wSecond = static_cast<WORD>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
    st->wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
}

/* The current time broken down by localtime_r or gmtime_r. */
void FillNow(struct tm *(*breakDown)(const time_t *, struct tm *), LPSYSTEMTIME st) {
    if (st == nullptr) return;
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm;
    breakDown(&ts.tv_sec, &tm);
    FillSystemTime(tm, ts.tv_nsec, st);
}

}  // namespace

extern "C" void GetLocalTime(LPSYSTEMTIME st) { FillNow(localtime_r, st); }

extern "C" void GetSystemTime(LPSYSTEMTIME st) { FillNow(gmtime_r, st); }

/* Milliseconds since boot, wrapping after 49.7 days like Windows. */
extern "C" DWORD GetTickCount(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms);
}

/* ---- Threads and processes --------------------------------------------------------- */

extern "C" DWORD GetCurrentThreadId(void) {
    thread_local DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
    return id;
}

extern "C" DWORD GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

extern "C" HANDLE GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

/* ---- Mutexes ------------------------------------------------------------------------- */

namespace {

struct MutexObject : wa::HandleObject {
    MutexObject() : HandleObject(wa::HandleKind::Mutex) {}

    DWORD Wait(DWORD milliseconds) override {
        const DWORD self = GetCurrentThreadId();
        std::unique_lock<std::mutex> lock(guard);
        if (owner == self) {
            ++depth;
            return WAIT_OBJECT_0;
        }
        const auto isFree = [this] { return owner == 0; };
        if (milliseconds == INFINITE) {
            changed.wait(lock, isFree);
        } else if (!changed.wait_for(lock, std::chrono::milliseconds(milliseconds), isFree)) {
            return WAIT_TIMEOUT;
        }
        owner = self;
        depth = 1;
        return WAIT_OBJECT_0;
    }

    bool Release() {
        std::lock_guard<std::mutex> lock(guard);
        if (owner != GetCurrentThreadId()) return false;
        if (--depth == 0) {
            owner = 0;
            changed.notify_one();
        }
        return true;
    }

    std::mutex guard;
    std::condition_variable changed;
    DWORD owner = 0; /* thread id, 0 when free */
    unsigned depth = 0;
};

std::mutex gNamedLock;
std::map<std::string, std::weak_ptr<MutexObject>> &NamedMutexes() {
    static auto *names = new std::map<std::string, std::weak_ptr<MutexObject>>;
    return *names;
}

}  // namespace

extern "C" HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
    std::shared_ptr<MutexObject> mutex;
    bool existed = false;
    if (name != nullptr && name[0] != '\0') {
        std::lock_guard<std::mutex> lock(gNamedLock);
        std::weak_ptr<MutexObject> &slot = NamedMutexes()[name];
        mutex = slot.lock();
        existed = mutex != nullptr;
        if (!existed) {
            mutex = std::make_shared<MutexObject>();
            slot = mutex;
        }
    } else {
        mutex = std::make_shared<MutexObject>();
    }
    if (initialOwner && !existed) mutex->Wait(INFINITE);
    HANDLE h = wa::InsertHandle(mutex);
    if (h != nullptr) SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

extern "C" BOOL ReleaseMutex(HANDLE h) {
    std::shared_ptr<wa::HandleObject> object = wa::LookupHandle(h, wa::HandleKind::Mutex);
    if (!object) return FALSE;
    if (!static_cast<MutexObject *>(object.get())->Release()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}

extern "C" DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds) {
    std::shared_ptr<wa::HandleObject> object = wa::LookupAnyHandle(h);
    if (!object) return WAIT_FAILED;
    return object->Wait(milliseconds);
}

/* ---- Sleep and its recorder ------------------------------------------------------------ */

namespace wa {

void RealSleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(milliseconds / 1000);
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace wa

extern "C" void Sleep(DWORD milliseconds) {
    if (wa::RecordSleep(milliseconds)) return;
    /* The wait scale that shortens process waits shortens pauses too. */
    const DWORD scale = wa_test::ProcessWaitScale();
    if (scale > 1 && milliseconds != INFINITE) milliseconds /= scale;
    wa::RealSleep(milliseconds);
}

/* ---- Memory handed out by the system ----------------------------------------------------- */

extern "C" HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    if (bytes == 0) bytes = 1; /* a zero-size block is still a distinct block */
    void *p = (flags & LMEM_ZEROINIT) ? calloc(1, bytes) : malloc(bytes);
    if (p == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return p;
}

extern "C" HLOCAL LocalFree(HLOCAL mem) {
    free(mem);
    return nullptr;
}

extern "C" HLOCAL GlobalAlloc(UINT flags, SIZE_T bytes) { return LocalAlloc(flags, bytes); }
extern "C" HLOCAL GlobalFree(HLOCAL mem) { return LocalFree(mem); }

/* ---- Environment ----------------------------------------------------------------------------- */

namespace {

std::mutex gEnvLock;

/* The value of `name`: the exact name first, else the first entry whose name
 * matches without regard to case (Windows environment names ignore case). */
bool FindEnv(const char *name, std::string *value) {
    if (const char *exact = getenv(name)) {
        *value = exact;
        return true;
    }
    const size_t len = strlen(name);
    for (char **e = environ; e != nullptr && *e != nullptr; ++e) {
        if (strncasecmp(*e, name, len) == 0 && (*e)[len] == '=') {
            *value = *e + len + 1;
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    if (name == nullptr || name[0] == '\0' || strchr(name, '=') != nullptr) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    std::string value;
    {
        std::lock_guard<std::mutex> lock(gEnvLock);
        if (!FindEnv(name, &value)) {
            SetLastError(ERROR_ENVVAR_NOT_FOUND);
            return 0;
        }
    }
    if (buffer == nullptr || size <= value.size()) return static_cast<DWORD>(value.size() + 1);
    memcpy(buffer, value.c_str(), value.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(value.size());
}

extern "C" BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
    if (name == nullptr || name[0] == '\0' || strchr(name, '=') != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(gEnvLock);
    const int rc = value != nullptr ? setenv(name, value, 1) : unsetenv(name);
    if (rc != 0) {
        SetLastError(wa::ErrnoToWin32(errno));
        return FALSE;
    }
    return TRUE;
}
