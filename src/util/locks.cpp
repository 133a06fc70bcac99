/*
 * Object locks: a process-wide registry of locks keyed by the address of the
 * object they protect.
 *
 * One system mutex guards the held list and is held only for one walk of it.
 * A caller that finds its address busy polls again after a sleep that grows with
 * every poll of that one wait; each new wait starts again from the shortest sleep,
 * so a process that once met contention does not sleep longer ever after.
 * Locks are not owned by threads and are not re-entrant.
 */
#include "util/locks.h"

#include <limits.h>
#include <stdlib.h>

#include <atomic>

#include "log/log.h"
#include "winapi/winapi.h"

namespace {

struct HeldNode {
    const void *object;
    HeldNode *next;
};

/* The registry mutex and the list it guards. */
std::atomic<HANDLE> g_registryMutex{nullptr};
HeldNode *g_heldHead = nullptr;

/*
 * Creates the registry mutex once. A second creation would let two threads walk
 * the list under different mutexes, so a mutex that exists is kept.
 */
HANDLE RegistryMutex() {
    HANDLE mutex = g_registryMutex.load();
    if (mutex != nullptr) return mutex;
    HANDLE created = CreateMutexA(nullptr, FALSE, nullptr);
    if (created == nullptr) return nullptr;
    HANDLE expected = nullptr;
    if (!g_registryMutex.compare_exchange_strong(expected, created)) {
        CloseHandle(created);
        return expected;
    }
    return created;
}

/* Runs `work` on the held list under the registry mutex; busy when the mutex
 * cannot be taken. */
template <typename Work>
unsigned char RegistryStep(Work work) {
    HANDLE mutex = RegistryMutex();
    if (mutex == nullptr) return VT_LOCK_BUSY;
    DWORD wait = WaitForSingleObject(mutex, INFINITE);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return VT_LOCK_BUSY;
    unsigned char result = work();
    ReleaseMutex(mutex);
    return result;
}

unsigned char TryLock(const void *object) {
    HeldNode **link = &g_heldHead;
    for (; *link != nullptr; link = &(*link)->next) {
        if ((*link)->object == object) return VT_LOCK_BUSY;
    }
    HeldNode *node = static_cast<HeldNode *>(calloc(1, sizeof(HeldNode)));
    if (node == nullptr) return VT_LOCK_BUSY;
    node->object = object;
    *link = node;  // the tail
    return VT_LOCK_ACQUIRED;
}

unsigned char Release(const void *object) {
    for (HeldNode **link = &g_heldHead; *link != nullptr; link = &(*link)->next) {
        HeldNode *node = *link;
        if (node->object == object) {
            *link = node->next;
            free(node);
            return VT_LOCK_RELEASED;
        }
    }
    return VT_LOCK_BUSY;
}

/* Next back-off delay of a wait, in microseconds: 10 more than its last one.
 * It stops growing at the largest value instead of overflowing into negative sleeps. */
int NextBackoffDelay(int current) {
    return current > INT_MAX - 10 ? INT_MAX : current + 10;
}

}  // namespace

void InitMutex(void) {
    RegistryMutex();
    LogTrace("\n\t@@@@@ Inside InitMutex() @@@@@\n");
}

unsigned char LockObject(const void *object) {
    unsigned char result = RegistryStep([object] { return TryLock(object); });
    int delay = 0;  /* this wait's back-off */
    while (result == VT_LOCK_BUSY) {
        delay = NextBackoffDelay(delay);
        Sleep(static_cast<DWORD>(delay > 0 ? delay / 1000 : 0));
        result = RegistryStep([object] { return TryLock(object); });
    }
    return result;
}

unsigned char UnlockObject(const void *object) {
    return RegistryStep([object] { return Release(object); });
}
