/* One repair of the Reader base installation at a time on a machine, and the
 * temporary files that interrupted repairs left behind. */
#pragma once
#include "winapi/winapi.h"

/* The lock file, in the patches folder. It stays there between runs. */
#define REPAIR_LOCK_FILE_NAME "repair.lock"
/* How long a run waits for another one's repair: msiexec's 100-minute limit plus
 * the 10-minute window in which a download must show progress. */
#define REPAIR_LOCK_WAIT_MINUTES 110

/* Held while a run repairs; `file` is INVALID_HANDLE_VALUE when no lock is held. */
struct RepairLock {
    HANDLE file;
};

/* Takes the repair lock: "<patches>\repair.lock", created when missing, locked
 * exclusively. While another run holds it, waits (polling) up to
 * REPAIR_LOCK_WAIT_MINUTES and sets *waited. The lock goes when it is released or
 * its process ends, however it ends. When `makeFolder` is false and the patches
 * folder is missing, no lock is taken and 0 returned: nothing can be downloaded
 * into that folder. 0, or the Windows error (ERROR_TIMEOUT after the wait). */
DWORD AcquireRepairLock(const char *patchesFolder, bool makeFolder, RepairLock *lock, bool *waited);
void ReleaseRepairLock(RepairLock *lock);

/* The start of a repair: takes the lock (making the patches folder when the plain
 * download would make it anyway, i.e. without a rate limit); when another run held
 * it, checks the source again; removes stale downloads of the package. 0: repair,
 * with the lock held in *lock; 1: another run repaired the source meanwhile,
 * nothing is to be done; -1: the lock could not be taken (logged). */
int BeginRepair(const char *patchesFolder, const char *packageName, RepairLock *lock);

#ifdef __cplusplus
/* Releases the lock when the repair ends, on every path. */
class RepairLockHolder {
public:
    RepairLockHolder() { lock.file = INVALID_HANDLE_VALUE; }
    ~RepairLockHolder() { ReleaseRepairLock(&lock); }
    RepairLockHolder(const RepairLockHolder &) = delete;
    RepairLockHolder &operator=(const RepairLockHolder &) = delete;
    RepairLock lock;
};
#endif

/* Removes "<package><thread id>.tmp" files from the patches folder: downloads of
 * runs that ended before they could clean up. Only for the lock holder. Returns
 * how many were removed. */
int RemoveStaleDownloads(const char *patchesFolder, const char *packageName);
