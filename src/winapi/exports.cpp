/*
 * Run-time look-up of the stand-in: one system library, "kernel32.dll", whose
 * exports are listed in the table below (add a line to export another function).
 */
#include "winapi/wa_private.h"

#include <atomic>
#include <string.h>
#include <strings.h>

namespace {

struct Export {
    const char *name;
    FARPROC proc;
};

template <typename F>
FARPROC Proc(F *function) {
    /* Through void (*)(void), the type that any function pointer may pass through. */
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(function));
}

/* Names are compared with regard to case, as GetProcAddress does. */
const Export kKernel32Exports[] = {
    {"IsWow64Process", Proc(&IsWow64Process)},
    {"GetNativeSystemInfo", Proc(&GetNativeSystemInfo)},
    {"GetProductInfo", Proc(&GetProductInfo)},
};

/* The module handle is the address of this object; a load count as on Windows. */
struct Module {
    std::atomic<int> loads{0};
} gKernel32;

HMODULE Kernel32Handle() { return reinterpret_cast<HMODULE>(&gKernel32); }

/* "C:\Windows\system32\KERNEL32.DLL", "kernel32.dll" and "Kernel32" all name it. */
bool IsKernel32(const char *name) {
    if (name == nullptr) return false;
    const char *base = name;
    for (const char *p = name; *p != '\0'; ++p)
        if (*p == '\\' || *p == '/') base = p + 1;
    const size_t len = strlen(base);
    if (len == 8) return strncasecmp(base, "kernel32", 8) == 0;
    if (len == 12) return strcasecmp(base, "kernel32.dll") == 0;
    if (len == 9) return strcasecmp(base, "kernel32.") == 0; /* a trailing dot: no extension */
    return false;
}

}  // namespace

extern "C" HMODULE LoadLibraryA(LPCSTR fileName) {
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!IsKernel32(fileName)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ++gKernel32.loads;
    return Kernel32Handle();
}

extern "C" HMODULE GetModuleHandleA(LPCSTR moduleName) {
    /* kernel32 is always loaded into a process; the program itself has no image here. */
    if (IsKernel32(moduleName)) return Kernel32Handle();
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

extern "C" FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    if (module != Kernel32Handle()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    /* Ordinals (a value below 64K in place of a name) are not exported by number. */
    if (procName == nullptr || reinterpret_cast<uintptr_t>(procName) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    for (const Export &e : kKernel32Exports)
        if (strcmp(e.name, procName) == 0 && wa::VersionExportPresent(procName)) return e.proc;
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

extern "C" BOOL FreeLibrary(HMODULE module) {
    if (module != Kernel32Handle()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    /* kernel32 stays mapped whatever the count says. */
    int loads = gKernel32.loads.load();
    while (loads > 0 && !gKernel32.loads.compare_exchange_weak(loads, loads - 1)) {
    }
    return TRUE;
}

extern "C" BOOL IsWow64Process(HANDLE process, PBOOL wow64) {
    if (wow64 == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (process != GetCurrentProcess() && !wa::LookupHandle(process, wa::HandleKind::Process)) return FALSE;
    /* Every process of the stand-in is a 32-bit program: it runs under WOW64
     * exactly when the emulated machine is 64-bit. */
    *wow64 = wa::MachineIs64Bit() ? TRUE : FALSE;
    return TRUE;
}
