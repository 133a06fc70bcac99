/* Processes of the stand-in: CreateProcessA, GetExitCodeProcess, TerminateProcess.
 *
 * A command line is split by the Windows rules (those of CommandLineToArgvW); its
 * program is a Windows path translated to the emulated machine root ("C:\Windows\
 * system32\msiexec.exe" runs <root>/drive_c/Windows/system32/msiexec.exe) or a POSIX
 * absolute path, and is run as a host executable with the remaining arguments. A
 * program without an extension that does not exist is tried again with ".exe".
 *
 * Every program starts in a process group of its own; TerminateProcess kills the
 * whole group (the program and the children it started). Without inheritHandles the
 * program gets only the standard streams (descriptors 0 to 2) of the caller.
 *
 * Host exit statuses have 8 bits, Windows exit codes 32. A started program finds in
 * its environment:
 *   WINAPI_EXIT_CODE_FILE     a file; a decimal number written there (e.g. 3010)
 *                             replaces the exit status as the process's exit code;
 *   WINAPI_COMMAND_LINE       the command line exactly as given to CreateProcessA;
 *   WINAPI_CURRENT_DIRECTORY  its current directory in Windows form.
 * A program killed by a signal other than through TerminateProcess exits with 128 +
 * the signal number.
 *
 * Waits on process handles (WaitForSingleObject) can be shortened for tests: the
 * time-out is divided by the wait scale of wa_process_hooks.h, or else by the
 * positive integer in the environment variable WINAPI_WAIT_SCALE (INFINITE is never
 * scaled).
 */
#pragma once
#include "winapi/wa_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define DEBUG_PROCESS 0x00000001
#define DEBUG_ONLY_THIS_PROCESS 0x00000002
#define CREATE_SUSPENDED 0x00000004
#define DETACHED_PROCESS 0x00000008
#define CREATE_NEW_CONSOLE 0x00000010
#define NORMAL_PRIORITY_CLASS 0x00000020
#define CREATE_NEW_PROCESS_GROUP 0x00000200
#define CREATE_UNICODE_ENVIRONMENT 0x00000400
#define CREATE_DEFAULT_ERROR_MODE 0x04000000
#define CREATE_NO_WINDOW 0x08000000

#define STARTF_USESHOWWINDOW 0x00000001
#define STARTF_USESIZE 0x00000002
#define STARTF_USEPOSITION 0x00000004
#define STARTF_USESTDHANDLES 0x00000100

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_SHOW 5

#define STILL_ACTIVE 259

#ifndef ERROR_BAD_EXE_FORMAT
#define ERROR_BAD_EXE_FORMAT 193L
#endif

typedef struct _STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

typedef struct _PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *PPROCESS_INFORMATION, *LPPROCESS_INFORMATION;

/* applicationName, when given, names the program (no search, no ".exe" added) and
 * commandLine only supplies the arguments after its first token. environment is an
 * ANSI block ("A=1\0B=2\0\0") or empty for the caller's environment. The handles of
 * processInformation are closed with CloseHandle. Failures: ERROR_FILE_NOT_FOUND or
 * ERROR_PATH_NOT_FOUND for a missing program, ERROR_ACCESS_DENIED or
 * ERROR_BAD_EXE_FORMAT for one that cannot run, ERROR_DIRECTORY for a current
 * directory that is not a folder, ERROR_INVALID_PARAMETER for missing arguments. */
BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                    LPPROCESS_INFORMATION processInformation);

/* STILL_ACTIVE while the process runs, else its exit code. */
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);

/* Kills the process and its group; the exit code becomes exitCode. FALSE with
 * ERROR_ACCESS_DENIED when the process has already ended. */
BOOL TerminateProcess(HANDLE process, UINT exitCode);

#ifdef __cplusplus
}
#endif
