/* Files, folders and searches of the stand-in. Windows paths ("C:\dir\file") are
 * translated to the emulated machine root; POSIX absolute paths pass unchanged. */
#pragma once
#include "winapi/wa_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifndef ERROR_NOT_SAME_DEVICE
#define ERROR_NOT_SAME_DEVICE 17L
#endif
#ifndef ERROR_NEGATIVE_SEEK
#define ERROR_NEGATIVE_SEEK 131L
#endif
#ifndef ERROR_BAD_NETPATH
#define ERROR_BAD_NETPATH 53L
#endif

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)

typedef struct _WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *PWIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

/* '*' and '?' in the last component, matched without regard to (ASCII) case;
 * "*.*" is every name. ERROR_FILE_NOT_FOUND when nothing matches,
 * ERROR_PATH_NOT_FOUND when the folder is missing. Results are a snapshot taken
 * by FindFirstFileA, "." and ".." first (not at a drive's root), then by name. */
HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data);
BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data);
BOOL FindClose(HANDLE find);

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
/* Opens a symbolic link itself instead of what it points to: a name that is a
 * link is never written through (the open fails with ERROR_CANTOPEN here). */
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u

/* Share modes are not emulated. A path on another machine (\\server\share)
 * is never reachable: ERROR_BAD_NETPATH. CREATE_ALWAYS and OPEN_ALWAYS set
 * ERROR_ALREADY_EXISTS when the file was there; a folder cannot be opened
 * (ERROR_ACCESS_DENIED). */
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPVOID overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPVOID overlapped);
BOOL FlushFileBuffers(HANDLE file);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);

BOOL CopyFileA(LPCSTR existing, LPCSTR target, BOOL failIfExists);
BOOL CopyFileW(LPCWSTR existing, LPCWSTR target, BOOL failIfExists);
BOOL DeleteFileA(LPCSTR name);
BOOL DeleteFileW(LPCWSTR name);
BOOL MoveFileA(LPCSTR existing, LPCSTR target);

#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_COPY_ALLOWED 0x00000002
#define MOVEFILE_WRITE_THROUGH 0x00000008
/* One-step rename: with MOVEFILE_REPLACE_EXISTING an existing file (or a symbolic
 * link, which is replaced, not followed) under the target name is replaced;
 * without it that is ERROR_ALREADY_EXISTS. MOVEFILE_WRITE_THROUGH returns only
 * once the new name is on disk. Folders and other file systems are not moved. */
BOOL MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags);
BOOL MoveFileExW(LPCWSTR existing, LPCWSTR target, DWORD flags);

#define LOCKFILE_FAIL_IMMEDIATELY 0x00000001
#define LOCKFILE_EXCLUSIVE_LOCK 0x00000002
typedef struct _OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;
/* Byte-range locks that hold between processes and between handles of one
 * process, and go when the handle is closed or its process ends. With
 * LOCKFILE_FAIL_IMMEDIATELY a range locked elsewhere gives ERROR_LOCK_VIOLATION;
 * without it the call waits. The range starts at overlapped->Offset(High). */
BOOL LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD bytesLow, DWORD bytesHigh, LPOVERLAPPED overlapped);
BOOL UnlockFileEx(HANDLE file, DWORD reserved, DWORD bytesLow, DWORD bytesHigh, LPOVERLAPPED overlapped);
BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES sa);
BOOL RemoveDirectoryA(LPCSTR path);
DWORD GetFileAttributesA(LPCSTR name);

/* shell32: creates the folder and every missing parent. */
int SHCreateDirectoryExA(HWND window, LPCSTR path, const SECURITY_ATTRIBUTES *sa);
int SHCreateDirectoryExW(HWND window, LPCWSTR path, const SECURITY_ATTRIBUTES *sa);

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size);
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
DWORD GetTempPathA(DWORD size, LPSTR buffer);
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);
BOOL SetCurrentDirectoryA(LPCSTR path);

#ifdef __cplusplus
}
#endif
