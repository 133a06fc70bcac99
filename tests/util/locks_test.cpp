/* Object locks: exclusion per address, independence of addresses, release codes and
 * the growing back-off. The sleeps are recorded, never slept. */
#include "util/locks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "winapi/wa_testhooks.h"
#include "winapi/winapi.h"

namespace {

class ObjectLocks : public ::testing::Test {
protected:
    void SetUp() override {
        InitMutex();
        wa_test::ClearRecordedSleeps();
        wa_test::RecordSleeps(true);
    }
    void TearDown() override {
        wa_test::RecordSleeps(false);
        wa_test::ClearRecordedSleeps();
    }

    /* Waits until the waiter has found the address busy at least `polls` times, or
     * has returned (which it must not do while the address is held). */
    static void WaitForBusyPolls(size_t polls, const std::atomic<bool> &returned) {
        while (!returned.load() && wa_test::RecordedSleeps().size() < polls)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
};

TEST_F(ObjectLocks, SecondLockerReturnsOnlyAfterTheFirstUnlocks) {
    int object = 0;
    ASSERT_EQ(VT_LOCK_ACQUIRED, LockObject(&object));

    std::atomic<bool> acquired{false};
    unsigned char secondResult = 0;
    std::thread second([&] {
        secondResult = LockObject(&object);
        acquired = true;
    });
    WaitForBusyPolls(300, acquired);
    EXPECT_FALSE(acquired.load());

    /* Locks belong to no thread: the holder's address is released from here. */
    EXPECT_EQ(VT_LOCK_RELEASED, UnlockObject(&object));
    second.join();
    EXPECT_TRUE(acquired.load());
    EXPECT_EQ(VT_LOCK_ACQUIRED, secondResult);
    EXPECT_EQ(VT_LOCK_RELEASED, UnlockObject(&object));

    /* Every wait hands out a delay 10 microseconds longer: over 300 waits the
     * sleeps never shrink and grow by at least 2 ms. */
    std::vector<DWORD> sleeps = wa_test::RecordedSleeps();
    ASSERT_GE(sleeps.size(), 300u);
    for (size_t i = 1; i < sleeps.size(); ++i) ASSERT_LE(sleeps[i - 1], sleeps[i]) << "at wait " << i;
    EXPECT_GE(sleeps.back() - sleeps.front(), 2u);
}

TEST_F(ObjectLocks, EachNewWaitStartsFromTheShortestSleep) {
    int object = 0;
    for (int wait = 0; wait < 2; ++wait) {
        SCOPED_TRACE(wait == 0 ? "first wait" : "second wait");
        wa_test::ClearRecordedSleeps();
        ASSERT_EQ(VT_LOCK_ACQUIRED, LockObject(&object));
        std::atomic<bool> acquired{false};
        std::thread waiter([&] {
            LockObject(&object);
            acquired = true;
        });
        WaitForBusyPolls(300, acquired);
        EXPECT_EQ(VT_LOCK_RELEASED, UnlockObject(&object));
        waiter.join();
        EXPECT_EQ(VT_LOCK_RELEASED, UnlockObject(&object));
        /* The growth of the first wait (2 ms and more after 300 polls) is not
         * where the second one begins. */
        const std::vector<DWORD> sleeps = wa_test::RecordedSleeps();
        ASSERT_GE(sleeps.size(), 300u);
        EXPECT_EQ(0u, sleeps.front());
        EXPECT_GE(sleeps.back(), 2u);
    }
}

TEST_F(ObjectLocks, DifferentAddressesNeverWait) {
    int first = 0, second = 0;
    ASSERT_EQ(VT_LOCK_ACQUIRED, LockObject(&first));
    unsigned char otherResult = 0;
    std::thread other([&] { otherResult = LockObject(&second); });
    other.join();
    EXPECT_EQ(VT_LOCK_ACQUIRED, otherResult);
    EXPECT_TRUE(wa_test::RecordedSleeps().empty());
    EXPECT_EQ(VT_LOCK_RELEASED, UnlockObject(&second));
    EXPECT_EQ(VT_LOCK_RELEASED, UnlockObject(&first));
}

TEST_F(ObjectLocks, ReleaseCodesAndListUnlinking) {
    int a = 0, b = 0, c = 0, stranger = 0;
    EXPECT_EQ(VT_LOCK_BUSY, UnlockObject(&stranger));
    ASSERT_EQ(VT_LOCK_ACQUIRED, LockObject(&a));
    ASSERT_EQ(VT_LOCK_ACQUIRED, LockObject(&b));
    ASSERT_EQ(VT_LOCK_ACQUIRED, LockObject(&c));
    EXPECT_EQ(VT_LOCK_BUSY, UnlockObject(&stranger));
    /* Unlink from the middle, the head and the tail; a second release is refused. */
    EXPECT_EQ(VT_LOCK_RELEASED, UnlockObject(&b));
    EXPECT_EQ(VT_LOCK_BUSY, UnlockObject(&b));
    EXPECT_EQ(VT_LOCK_RELEASED, UnlockObject(&a));
    EXPECT_EQ(VT_LOCK_RELEASED, UnlockObject(&c));
    EXPECT_EQ(VT_LOCK_BUSY, UnlockObject(&c));
    /* Free again: locking does not wait. */
    ASSERT_EQ(VT_LOCK_ACQUIRED, LockObject(&b));
    EXPECT_EQ(VT_LOCK_RELEASED, UnlockObject(&b));
    EXPECT_TRUE(wa_test::RecordedSleeps().empty());
}

TEST_F(ObjectLocks, CounterUnderTheLockLosesNoIncrement) {
    int counter = 0;
    constexpr int kThreads = 2;
    constexpr int kIncrements = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&counter] {
            for (int i = 0; i < kIncrements; ++i) {
                LockObject(&counter);
                int seen = counter;
                std::this_thread::yield();
                counter = seen + 1;
                UnlockObject(&counter);
            }
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(kThreads * kIncrements, counter);
    EXPECT_EQ(VT_LOCK_BUSY, UnlockObject(&counter));
}

}  // namespace
