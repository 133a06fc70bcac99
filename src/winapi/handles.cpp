/*
 * The handle table of the stand-in.
 *
 * A HANDLE is (slot index + 1) * 4, so neither NULL nor INVALID_HANDLE_VALUE is
 * ever handed out, and the values look like the small multiples of four that
 * Windows uses. Each slot holds a reference to a type-tagged object; closing the
 * handle drops the table's reference, and the object lives on while anyone else
 * (a thread blocked in a wait, say) still holds one.
 *
 * Freed slots are reused only after the table has gone once round, so a stale
 * handle that is closed twice in a row keeps failing with ERROR_INVALID_HANDLE
 * instead of hitting a freshly created object.
 */
#include "winapi/wa_private.h"

#include <mutex>
#include <vector>

namespace wa {

namespace {

struct HandleTable {
    std::mutex lock;
    std::vector<std::shared_ptr<HandleObject>> slots;
    size_t next = 0; /* where the search for a free slot starts */
    size_t used = 0;
};

HandleTable &Table() {
    static HandleTable *table = new HandleTable; /* never destroyed: handles may be closed at exit */
    return *table;
}

constexpr uintptr_t kHandleStep = 4;
constexpr size_t kMinSlots = 64;

bool SlotOf(HANDLE h, size_t *slot) {
    const uintptr_t v = reinterpret_cast<uintptr_t>(h);
    if (v == 0 || h == INVALID_HANDLE_VALUE || v % kHandleStep != 0) return false;
    *slot = static_cast<size_t>(v / kHandleStep - 1);
    return true;
}

}  // namespace

DWORD HandleObject::Wait(DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

HANDLE InsertHandle(std::shared_ptr<HandleObject> object) {
    if (!object) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HandleTable &t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    size_t slot = t.slots.size();
    /* Grow while the table is small or at least half full; otherwise take the
     * next free slot after the one handed out last. */
    if (t.slots.size() >= kMinSlots && t.used * 2 < t.slots.size()) {
        for (size_t n = 0; n < t.slots.size(); ++n) {
            const size_t i = (t.next + n) % t.slots.size();
            if (!t.slots[i]) {
                slot = i;
                break;
            }
        }
    }
    if (slot == t.slots.size()) t.slots.emplace_back();
    t.slots[slot] = std::move(object);
    t.next = slot + 1;
    ++t.used;
    return reinterpret_cast<HANDLE>((slot + 1) * kHandleStep);
}

std::shared_ptr<HandleObject> LookupAnyHandle(HANDLE h) {
    size_t slot = 0;
    if (SlotOf(h, &slot)) {
        HandleTable &t = Table();
        std::lock_guard<std::mutex> guard(t.lock);
        if (slot < t.slots.size() && t.slots[slot]) return t.slots[slot];
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

std::shared_ptr<HandleObject> LookupHandle(HANDLE h, HandleKind kind) {
    std::shared_ptr<HandleObject> object = LookupAnyHandle(h);
    if (object && object->kind != kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return object;
}

bool RemoveHandle(HANDLE h) {
    size_t slot = 0;
    std::shared_ptr<HandleObject> dropped;
    if (SlotOf(h, &slot)) {
        HandleTable &t = Table();
        std::lock_guard<std::mutex> guard(t.lock);
        if (slot < t.slots.size() && t.slots[slot]) {
            dropped = std::move(t.slots[slot]);
            t.slots[slot].reset();
            --t.used;
        }
    }
    /* The object is destroyed (if this was the last reference) outside the lock. */
    if (!dropped) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return true;
}

}  // namespace wa

extern "C" BOOL CloseHandle(HANDLE h) { return wa::RemoveHandle(h) ? TRUE : FALSE; }
