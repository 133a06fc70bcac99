#include "prereq/repair_lock.h"

#include "agent/settings.h"
#include "log/log.h"
#include "platform/files.h"
#include "platform/errors.h"
#include "prereq/reader.h"

#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

constexpr DWORD kPollMs = 200;

bool AllDigits(const char *text, size_t length) {
    if (length == 0) return false;
    for (size_t i = 0; i < length; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

/* Creates the folder of `path` (a file in it), as the plain download does. */
void MakeFolderOf(const std::string &path) {
    WCHAR *wide = nullptr;
    if (AnsiToWide(path.c_str(), &wide)) CreateFolder(wide, nullptr);
    free(wide);
}

}  // namespace

DWORD AcquireRepairLock(const char *patchesFolder, bool makeFolder, RepairLock *lock, bool *waited) {
    lock->file = INVALID_HANDLE_VALUE;
    *waited = false;
    const std::string path = std::string(patchesFolder) + "\\" + REPAIR_LOCK_FILE_NAME;
    if (makeFolder) MakeFolderOf(path);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (!makeFolder && error == ERROR_PATH_NOT_FOUND) return 0;
        LogError("InstallReaderBase : Could not open the repair lock %s --> %d \n", path.c_str(),
                 static_cast<int>(error));
        return error;
    }
    const DWORD limitMs = REPAIR_LOCK_WAIT_MINUTES * 60u * 1000u;
    const DWORD start = GetTickCount();
    for (;;) {
        OVERLAPPED whole;
        memset(&whole, 0, sizeof whole);
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) break;
        DWORD error = GetLastError();
        if (error == ERROR_LOCK_VIOLATION && GetTickCount() - start >= limitMs) error = ERROR_TIMEOUT;
        if (error != ERROR_LOCK_VIOLATION) {
            LogError("InstallReaderBase : Could not take the repair lock %s --> %d \n", path.c_str(),
                     static_cast<int>(error));
            CloseHandle(file);
            return error;
        }
        if (!*waited) LogInfo("InstallReaderBase : Another run is repairing; waiting for it to end \n");
        *waited = true;
        Sleep(kPollMs);
    }
    lock->file = file;
    return 0;
}

void ReleaseRepairLock(RepairLock *lock) {
    if (lock->file == INVALID_HANDLE_VALUE) return;
    OVERLAPPED whole;
    memset(&whole, 0, sizeof whole);
    UnlockFileEx(lock->file, 0, 1, 0, &whole);
    CloseHandle(lock->file);
    lock->file = INVALID_HANDLE_VALUE;
}

int RemoveStaleDownloads(const char *patchesFolder, const char *packageName) {
    const std::string folder = std::string(patchesFolder) + "\\";
    const std::string pattern = folder + packageName + "*.tmp";
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return 0;
    const size_t prefix = strlen(packageName);
    int removed = 0;
    do {
        /* Only "<package><digits>.tmp": the names the downloads give. */
        const size_t length = strlen(found.cFileName);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || length < prefix + 5 ||
            !AllDigits(found.cFileName + prefix, length - prefix - 4))
            continue;
        const std::string stale = folder + found.cFileName;
        if (DeleteFileA(stale.c_str())) {
            ++removed;
            LogInfo("InstallReaderBase : Removed %s, left by an interrupted download \n", stale.c_str());
        }
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return removed;
}

int BeginRepair(const char *patchesFolder, const char *packageName, RepairLock *lock) {
    bool waited = false;
    if (AcquireRepairLock(patchesFolder, gv_dataTransferRateKBps == 0, lock, &waited) != 0) return -1;
    if (waited && IsReaderSourceAvailable() == 0) {
        LogInfo("InstallReaderBase : Another run repaired the source meanwhile; nothing is downloaded or run \n");
        ReleaseRepairLock(lock);
        return 1;
    }
    RemoveStaleDownloads(patchesFolder, packageName);
    return 0;
}
