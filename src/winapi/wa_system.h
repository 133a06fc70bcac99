/* Last error, handles, time, threads, mutexes, waits, memory, environment and
 * run-time look-up of the POSIX stand-in. */
#pragma once
#include "winapi/wa_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Last error: one value per thread. */
DWORD GetLastError(void);
void SetLastError(DWORD code);

/* Handles: mutexes, files, searches and processes share one handle table. */
BOOL CloseHandle(HANDLE h);

#define WAIT_OBJECT_0 0x00000000L
#define WAIT_ABANDONED 0x00000080L
#define WAIT_FAILED 0xFFFFFFFFu
#ifndef ERROR_NOT_OWNER
#define ERROR_NOT_OWNER 288L
#endif
#ifndef ERROR_GEN_FAILURE
#define ERROR_GEN_FAILURE 31L
#endif
DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds);

/* Windows mutex semantics: owned by one thread at a time, re-entrant for the
 * owner (each wait needs its own release). A named mutex that exists already is
 * opened again (last error ERROR_ALREADY_EXISTS). Abandonment (an owner thread
 * that ends while holding it) is not detected. */
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);
BOOL ReleaseMutex(HANDLE mutex);

/* Sleep goes through the test hook of wa_testhooks.h: when recording, it only
 * records the duration and returns at once. Otherwise the duration is divided by
 * the wait scale of process waits (wa_process.h, WINAPI_WAIT_SCALE), which never
 * scales INFINITE. */
void Sleep(DWORD milliseconds);

/* The kernel's thread id (small, stable for the life of the thread). */
DWORD GetCurrentThreadId(void);
DWORD GetCurrentProcessId(void);
/* The pseudo handle (HANDLE)-1, as on Windows; it needs no closing. */
HANDLE GetCurrentProcess(void);
DWORD GetTickCount(void);

void GetLocalTime(LPSYSTEMTIME st);
void GetSystemTime(LPSYSTEMTIME st);

/* Memory handed out by the system (FormatMessageA with the allocate flag,
 * NetApiBufferFree, ...). */
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
#define GMEM_FIXED 0x0000
#define GMEM_ZEROINIT 0x0040
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL mem);
HLOCAL GlobalAlloc(UINT flags, SIZE_T bytes);
HLOCAL GlobalFree(HLOCAL mem);

/* Names are matched exactly first, then without regard to case. Size protocol
 * of Windows: the length without terminator when it fits, else the size needed
 * with the terminator; 0 and ERROR_ENVVAR_NOT_FOUND for an unknown name. */
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value);

/* Run-time look-up: the stand-in "kernel32.dll" exports IsWow64Process,
 * GetNativeSystemInfo and GetProductInfo (the table is in exports.cpp). Module
 * names match without regard to case, with or without ".dll" and any folder in
 * front; other libraries fail with ERROR_MOD_NOT_FOUND, unknown procedures (and
 * ordinals) with ERROR_PROC_NOT_FOUND. */
HMODULE LoadLibraryA(LPCSTR fileName);
HMODULE GetModuleHandleA(LPCSTR moduleName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);

/* TRUE in *wow64 when the emulated machine is 64-bit: this is a 32-bit program. */
BOOL IsWow64Process(HANDLE process, PBOOL wow64);

#ifdef __cplusplus
}
#endif
