/* The handle guards: each handle closed exactly once, never one the guard does
 * not own, and never one of the two invalid values. */
#include "platform/handle_guard.h"

#include <gtest/gtest.h>

#include <utility>

#include "support/scratch_root.h"

namespace {

using vt_platform::HandleGuard;
using vt_platform::KeyGuard;

HANDLE NewMutex() {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    EXPECT_NE(mutex, nullptr);
    return mutex;
}

/* True while the handle is still open (a wait on an unowned mutex succeeds). */
bool IsOpen(HANDLE mutex) {
    if (WaitForSingleObject(mutex, 0) != WAIT_OBJECT_0) return false;
    ReleaseMutex(mutex);
    return true;
}

/* False with ERROR_INVALID_HANDLE for a handle somebody already closed. */
bool WasClosed(HANDLE handle) {
    SetLastError(0);
    return !CloseHandle(handle) && GetLastError() == ERROR_INVALID_HANDLE;
}

TEST(HandleGuard, OwnershipMovesAndTheOwnerClosesOnce) {
    HANDLE first = NewMutex();
    HANDLE second = NewMutex();
    {
        HandleGuard outer(first);
        {
            HandleGuard moved(std::move(outer));
            EXPECT_EQ(outer.get(), nullptr);
            EXPECT_EQ(moved.get(), first);
            HandleGuard other(second);
            other = std::move(moved);  // the guard's own handle goes, the moved one stays
            EXPECT_TRUE(WasClosed(second));
            EXPECT_TRUE(IsOpen(first));
        }
        EXPECT_TRUE(WasClosed(first)) << "the last owner closes the handle";
    }

    HANDLE kept = NewMutex();
    {
        HandleGuard guard(kept);
        EXPECT_EQ(guard.release(), kept);
    }
    EXPECT_TRUE(IsOpen(kept)) << "a released handle belongs to the caller";
    EXPECT_TRUE(CloseHandle(kept));

    HANDLE replaced = NewMutex();
    HandleGuard guard(replaced);
    HANDLE *slot = guard.out();
    EXPECT_TRUE(WasClosed(replaced)) << "out() closes what the guard held";
    EXPECT_EQ(*slot, nullptr);
}

TEST(HandleGuard, InvalidValuesAreNeverClosed) {
    for (HANDLE value : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        SetLastError(0xdeadbeef);
        {
            HandleGuard guard(value);
            EXPECT_FALSE(static_cast<bool>(guard));
        }
        EXPECT_EQ(GetLastError(), 0xdeadbeefu) << "CloseHandle was called on an invalid value";
    }
}

TEST(KeyGuard, TheOpenedKeyIsClosedWithTheGuard) {
    vt_test::ScratchRoot root;
    HKEY opened = nullptr;
    {
        KeyGuard key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\GuardTest", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, key.out(), nullptr),
                  ERROR_SUCCESS);
        opened = key.get();
        ASSERT_NE(opened, nullptr);
    }
    EXPECT_EQ(RegCloseKey(opened), ERROR_INVALID_HANDLE);
}

}  // namespace
