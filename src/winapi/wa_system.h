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
DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds);

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);
BOOL ReleaseMutex(HANDLE mutex);

/* Sleep goes through the test hook of wa_testhooks.h: when recording, it only
 * records the duration and returns at once. */
void Sleep(DWORD milliseconds);

DWORD GetCurrentThreadId(void);
DWORD GetCurrentProcessId(void);
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

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value);

/* Run-time look-up: the stand-in "kernel32.dll" exports IsWow64Process,
 * GetNativeSystemInfo and GetProductInfo. */
HMODULE LoadLibraryA(LPCSTR fileName);
HMODULE GetModuleHandleA(LPCSTR moduleName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);

BOOL IsWow64Process(HANDLE process, PBOOL wow64);

#ifdef __cplusplus
}
#endif
