/* The test hooks of wa_testhooks.h, wa_process_hooks.h and wa_winhttp_hooks.h for
 * the Windows test programs. The product's libraries are linked into each test
 * program, so their calls of Sleep, WaitForSingleObject and the WinHTTP functions
 * go through the program's import table: when the program starts, those imports
 * are pointed at the replacements below. With no hook in use a replacement only
 * passes the call on (WinHTTP calls are counted).
 *
 * The threads library and the C++ runtime are linked in too and call Sleep through
 * the same table (starting and ending a thread, std::this_thread::sleep_for and
 * yield). Those calls are neither recorded nor scaled: at start-up the program
 * makes them once and notes the functions they come from. */
#ifdef _WIN32
#include "winapi/wa_hook_state.h"
#include "winapi/wa_process_hooks.h"

#include "support/import_patch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

/* ---- Sleep and the wait scale ------------------------------------------------------------ */

decltype(&Sleep) gv_sleep = Sleep;
decltype(&WaitForSingleObject) gv_waitForSingleObject = WaitForSingleObject;

DWORD Scaled(DWORD milliseconds) {
    const DWORD scale = wa_test::ProcessWaitScale();
    return scale > 1 && milliseconds != INFINITE ? milliseconds / scale : milliseconds;
}

/* The function a call returning to `at` was made from: its start where the program
 * has a function table (64-bit), else the call site itself. */
const void *CallingFunction(void *at) {
#ifdef _WIN64
    DWORD64 image = 0;
    if (PRUNTIME_FUNCTION f = RtlLookupFunctionEntry(reinterpret_cast<DWORD64>(at), &image, nullptr))
        return reinterpret_cast<const void *>(image + f->BeginAddress);
#endif
    return at;
}

/* The runtime's callers of Sleep, noted at start-up (read-only afterwards). */
std::atomic<bool> gv_noting{false};
std::vector<const void *> &RuntimeCallers() {
    static auto *callers = new std::vector<const void *>;
    return *callers;
}
bool FromRuntime(const void *caller) {
    const std::vector<const void *> &callers = RuntimeCallers();
    return std::find(callers.begin(), callers.end(), caller) != callers.end();
}
/* A thread that starts or ends may note a caller while the one that started it does. */
void NoteRuntimeCaller(const void *caller) {
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    if (!FromRuntime(caller)) RuntimeCallers().push_back(caller);
}

void WINAPI HookedSleep(DWORD milliseconds) {
    const void *caller = CallingFunction(__builtin_return_address(0));
    if (gv_noting.load()) {
        NoteRuntimeCaller(caller);
    } else if (!FromRuntime(caller)) {
        if (!wa::RecordSleep(milliseconds)) gv_sleep(Scaled(milliseconds));
        return;
    }
    gv_sleep(milliseconds);
}

/* Only waits on process handles are shortened; the last error a wait leaves is its own. */
DWORD WINAPI HookedWaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    if (milliseconds != INFINITE && wa_test::ProcessWaitScale() > 1) {
        const DWORD saved = GetLastError();
        if (GetProcessId(handle) != 0) milliseconds = Scaled(milliseconds);
        SetLastError(saved);
    }
    return gv_waitForSingleObject(handle, milliseconds);
}

/* ---- WinHTTP faults and call counts ------------------------------------------------------- */

/* A replacement of a WinHTTP function: a pending fault makes it return `failed`
 * with the fault's code as the last error and do nothing; else the call goes on. */
#define VT_WINHTTP_HOOK(Ret, Name, failed, Params, Args)                  \
    decltype(&Name) gv_##Name = Name;                                     \
    Ret WINAPI Hooked##Name Params {                                      \
        if (const DWORD code = wa::TakeWinHttpFault(#Name)) {             \
            SetLastError(code);                                           \
            return failed;                                                \
        }                                                                 \
        return gv_##Name Args;                                            \
    }

VT_WINHTTP_HOOK(HINTERNET, WinHttpOpen, nullptr,
                (LPCWSTR agent, DWORD access, LPCWSTR proxy, LPCWSTR bypass, DWORD flags),
                (agent, access, proxy, bypass, flags))
VT_WINHTTP_HOOK(HINTERNET, WinHttpConnect, nullptr,
                (HINTERNET session, LPCWSTR server, INTERNET_PORT port, DWORD reserved),
                (session, server, port, reserved))
VT_WINHTTP_HOOK(HINTERNET, WinHttpOpenRequest, nullptr,
                (HINTERNET connect, LPCWSTR verb, LPCWSTR object, LPCWSTR version, LPCWSTR referrer,
                 LPCWSTR *acceptTypes, DWORD flags),
                (connect, verb, object, version, referrer, acceptTypes, flags))
VT_WINHTTP_HOOK(BOOL, WinHttpSetOption, FALSE, (HINTERNET handle, DWORD option, LPVOID buffer, DWORD length),
                (handle, option, buffer, length))
VT_WINHTTP_HOOK(BOOL, WinHttpQueryOption, FALSE, (HINTERNET handle, DWORD option, LPVOID buffer, LPDWORD length),
                (handle, option, buffer, length))
VT_WINHTTP_HOOK(BOOL, WinHttpSetTimeouts, FALSE,
                (HINTERNET handle, int resolve, int connect, int send, int receive),
                (handle, resolve, connect, send, receive))
VT_WINHTTP_HOOK(BOOL, WinHttpCloseHandle, FALSE, (HINTERNET handle), (handle))
VT_WINHTTP_HOOK(BOOL, WinHttpAddRequestHeaders, FALSE,
                (HINTERNET request, LPCWSTR headers, DWORD length, DWORD modifiers),
                (request, headers, length, modifiers))
VT_WINHTTP_HOOK(BOOL, WinHttpQueryHeaders, FALSE,
                (HINTERNET request, DWORD level, LPCWSTR name, LPVOID buffer, LPDWORD length, LPDWORD index),
                (request, level, name, buffer, length, index))
VT_WINHTTP_HOOK(BOOL, WinHttpSendRequest, FALSE,
                (HINTERNET request, LPCWSTR headers, DWORD headersLength, LPVOID optional, DWORD optionalLength,
                 DWORD totalLength, DWORD_PTR context),
                (request, headers, headersLength, optional, optionalLength, totalLength, context))
VT_WINHTTP_HOOK(BOOL, WinHttpReceiveResponse, FALSE, (HINTERNET request, LPVOID reserved), (request, reserved))
VT_WINHTTP_HOOK(BOOL, WinHttpQueryDataAvailable, FALSE, (HINTERNET request, LPDWORD available),
                (request, available))
VT_WINHTTP_HOOK(BOOL, WinHttpReadData, FALSE, (HINTERNET request, LPVOID buffer, DWORD toRead, LPDWORD read),
                (request, buffer, toRead, read))

#undef VT_WINHTTP_HOOK

/* ---- Pointing the imports at the replacements ---------------------------------------------- */

template <typename F>
void Replace(const char *library, const char *function, F replacement, F *original) {
    if (void *was = vt_test::PatchImport(library, function, reinterpret_cast<void *>(replacement)))
        *original = reinterpret_cast<F>(was);
}

struct Installed {
    Installed() {
        Replace("kernel32.dll", "Sleep", &HookedSleep, &gv_sleep);
        Replace("kernel32.dll", "WaitForSingleObject", &HookedWaitForSingleObject, &gv_waitForSingleObject);
#define VT_REPLACE(Name) Replace("winhttp.dll", #Name, &Hooked##Name, &gv_##Name)
        VT_REPLACE(WinHttpOpen);
        VT_REPLACE(WinHttpConnect);
        VT_REPLACE(WinHttpOpenRequest);
        VT_REPLACE(WinHttpSetOption);
        VT_REPLACE(WinHttpQueryOption);
        VT_REPLACE(WinHttpSetTimeouts);
        VT_REPLACE(WinHttpCloseHandle);
        VT_REPLACE(WinHttpAddRequestHeaders);
        VT_REPLACE(WinHttpQueryHeaders);
        VT_REPLACE(WinHttpSendRequest);
        VT_REPLACE(WinHttpReceiveResponse);
        VT_REPLACE(WinHttpQueryDataAvailable);
        VT_REPLACE(WinHttpReadData);
#undef VT_REPLACE
        /* Nothing but the runtime runs now: every Sleep it calls is its own. */
        gv_noting.store(true);
        std::thread([] {}).join();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::nanoseconds(1));
        std::this_thread::yield();
        gv_noting.store(false);
    }
};

/* Before main, while the program has one thread: the hooks are in place before any
 * test runs, whichever hook it uses first. */
const Installed gv_installed;

}  // namespace

/* The hooks' state, as the stand-in keeps it. Built into this file so that a program
 * that uses a hook always has the replacements above too. */
#include "winapi/hook_state.cpp"
#endif
