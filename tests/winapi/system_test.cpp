// Handle table, mutexes across threads, the Sleep recorder, ids and time, the
// environment and the run-time look-up of kernel32.
#include "winapi/winapi.h"
#include "winapi/wa_testhooks.h"

#include "support/scratch_root.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <set>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

TEST(HandleTable, InvalidStaleAndWrongKindHandles) {
    for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x7ffffff0),
                       reinterpret_cast<HANDLE>(3)}) {
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(bad));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
    }
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_NE(mutex, nullptr);
    ASSERT_NE(mutex, INVALID_HANDLE_VALUE);
    SetLastError(0);
    EXPECT_FALSE(FindClose(mutex)); /* a mutex is no search */
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    DWORD n = 0;
    EXPECT_FALSE(WriteFile(mutex, "x", 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(mutex));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(mutex)); /* double close */
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    // A new object does not bring the closed handle back to life at once.
    HANDLE next = CreateMutexA(nullptr, FALSE, nullptr);
    EXPECT_NE(next, mutex);
    EXPECT_TRUE(CloseHandle(next));
}

TEST(HandleTable, ManyHandlesStayDistinct) {
    std::set<HANDLE> seen;
    std::vector<HANDLE> open;
    for (int i = 0; i < 200; ++i) {
        HANDLE h = CreateMutexA(nullptr, FALSE, nullptr);
        ASSERT_NE(h, nullptr);
        EXPECT_TRUE(seen.insert(h).second);
        open.push_back(h);
        if (i % 3 == 0) {
            EXPECT_TRUE(CloseHandle(open.front()));
            seen.erase(open.front());
            open.erase(open.begin());
        }
    }
    for (HANDLE h : open) EXPECT_TRUE(CloseHandle(h));
}

DWORD WaitFromOtherThread(HANDLE h, DWORD ms, bool release) {
    DWORD result = 0;
    std::thread t([&] {
        result = WaitForSingleObject(h, ms);
        if (result == WAIT_OBJECT_0 && release) ReleaseMutex(h);
    });
    t.join();
    return result;
}

TEST(Mutex, OwnershipIsPerThreadAndRecursive) {
    HANDLE m = CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(m, INFINITE), WAIT_OBJECT_0); /* again by the owner */
    EXPECT_EQ(WaitFromOtherThread(m, 0, true), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitFromOtherThread(m, 30, true), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_EQ(WaitFromOtherThread(m, 0, true), static_cast<DWORD>(WAIT_TIMEOUT)); /* still held once */
    EXPECT_TRUE(ReleaseMutex(m));
    SetLastError(0);
    EXPECT_FALSE(ReleaseMutex(m));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    EXPECT_EQ(WaitFromOtherThread(m, 0, true), WAIT_OBJECT_0);
    // Another thread cannot release what this thread owns.
    ASSERT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    BOOL released = TRUE;
    std::thread([&] { released = ReleaseMutex(m); }).join();
    EXPECT_FALSE(released);
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_TRUE(CloseHandle(m));
}

TEST(Mutex, InitialOwnerAndWaiterHandOver) {
    HANDLE m = CreateMutexA(nullptr, TRUE, nullptr);
    ASSERT_NE(m, nullptr);
    std::atomic<bool> acquired{false};
    std::thread waiter([&] {
        EXPECT_EQ(WaitForSingleObject(m, INFINITE), WAIT_OBJECT_0);
        acquired = true;
        ReleaseMutex(m);
    });
    EXPECT_FALSE(acquired.load());
    EXPECT_TRUE(ReleaseMutex(m));
    waiter.join();
    EXPECT_TRUE(acquired.load());
    EXPECT_TRUE(CloseHandle(m));
}

TEST(Mutex, CountsStayExactUnderContention) {
    HANDLE m = CreateMutexA(nullptr, FALSE, nullptr);
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                ASSERT_EQ(WaitForSingleObject(m, INFINITE), WAIT_OBJECT_0);
                ++counter;
                ReleaseMutex(m);
            }
        });
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(counter, 2000);
    CloseHandle(m);
}

TEST(Mutex, NamedMutexIsOpenedAgain) {
    HANDLE a = CreateMutexA(nullptr, TRUE, "core-test-named");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    HANDLE b = CreateMutexA(nullptr, FALSE, "core-test-named");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_NE(a, b);
    EXPECT_EQ(WaitFromOtherThread(b, 0, true), static_cast<DWORD>(WAIT_TIMEOUT)); /* same object, owned */
    EXPECT_TRUE(ReleaseMutex(b));
    EXPECT_TRUE(CloseHandle(a));
    EXPECT_TRUE(CloseHandle(b));
}

TEST(SleepRecorder, RecordsInsteadOfSleepingFromAnyThread) {
    wa_test::ClearRecordedSleeps();
    wa_test::RecordSleeps(true);
    Sleep(600000); /* ten minutes: returns at once while recording */
    Sleep(0);
    Sleep(25);
    EXPECT_EQ(wa_test::RecordedSleeps(), (std::vector<DWORD>{600000, 0, 25}));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 100; ++i) Sleep(7);
        });
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(wa_test::RecordedSleeps().size(), 403u);
    wa_test::RecordSleeps(false);
    Sleep(1); /* a real sleep is not recorded */
    EXPECT_EQ(wa_test::RecordedSleeps().size(), 403u);
    wa_test::ClearRecordedSleeps();
    EXPECT_TRUE(wa_test::RecordedSleeps().empty());
}

/* Whole-program tests shorten pauses through the scale that shortens process
 * waits; the recorder keeps the durations asked for. */
TEST(SleepRecorder, WaitScaleShortensRealSleepsOnly) {
    const auto secondsFor = [](DWORD milliseconds) {
        const auto start = std::chrono::steady_clock::now();
        Sleep(milliseconds);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    setenv("WINAPI_WAIT_SCALE", "60000", 1);
    EXPECT_LT(secondsFor(600000), 5.0) << "ten minutes scaled to 10 ms";
    wa_test::ClearRecordedSleeps();
    wa_test::RecordSleeps(true);
    Sleep(30000);
    wa_test::RecordSleeps(false);
    EXPECT_EQ(wa_test::RecordedSleeps(), (std::vector<DWORD>{30000}));
    unsetenv("WINAPI_WAIT_SCALE");
    EXPECT_GE(secondsFor(300), 0.29) << "no scale: the whole pause";
    wa_test::ClearRecordedSleeps();
}

TEST(Identity, ThreadAndProcessIds) {
    const DWORD mine = GetCurrentThreadId();
    EXPECT_EQ(GetCurrentThreadId(), mine);
    DWORD other = mine;
    std::thread([&] { other = GetCurrentThreadId(); }).join();
    EXPECT_NE(other, mine);
    EXPECT_NE(other, 0u);
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
}

TEST(Time, LocalAndSystemTimeAgreeWithTheClock) {
    SYSTEMTIME local, utc;
    const time_t now = time(nullptr);
    GetLocalTime(&local);
    GetSystemTime(&utc);
    struct tm tmLocal, tmUtc;
    localtime_r(&now, &tmLocal);
    gmtime_r(&now, &tmUtc);
    EXPECT_EQ(local.wYear, tmLocal.tm_year + 1900);
    EXPECT_EQ(local.wMonth, tmLocal.tm_mon + 1);
    EXPECT_EQ(utc.wYear, tmUtc.tm_year + 1900);
    EXPECT_EQ(utc.wDayOfWeek, tmUtc.tm_wday);
    EXPECT_LT(local.wMilliseconds, 1000);
    EXPECT_LT(local.wHour, 24);
    const DWORD t1 = GetTickCount();
    EXPECT_GE(GetTickCount() - t1, 0u);
}

TEST(Environment, SizeProtocolAndNames) {
    ASSERT_TRUE(SetEnvironmentVariableA("CORE_TEST_VAR", "value"));
    char buf[16];
    memset(buf, '#', sizeof buf);
    EXPECT_EQ(GetEnvironmentVariableA("CORE_TEST_VAR", buf, 5), 6u);
    EXPECT_EQ(buf[0], '#');
    EXPECT_EQ(GetEnvironmentVariableA("CORE_TEST_VAR", buf, 6), 5u);
    EXPECT_STREQ(buf, "value");
    EXPECT_EQ(GetEnvironmentVariableA("core_test_var", buf, sizeof buf), 5u);
    ASSERT_TRUE(SetEnvironmentVariableA("CORE_TEST_VAR", nullptr));
    SetLastError(0);
    EXPECT_EQ(GetEnvironmentVariableA("CORE_TEST_VAR", buf, sizeof buf), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
}

TEST(Memory, LocalAllocZeroFills) {
    char *p = static_cast<char *>(LocalAlloc(LPTR, 64));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0);
    EXPECT_EQ(LocalFree(p), nullptr);
    void *empty = LocalAlloc(LMEM_FIXED, 0); /* a zero-size block still exists */
    EXPECT_NE(empty, nullptr);
    LocalFree(empty);
}

TEST(RuntimeLookup, Kernel32IsTheOnlyLibrary) {
    struct Case {
        const char *name;
        bool loads;
    } cases[] = {{"kernel32.dll", true}, {"KERNEL32.DLL", true}, {"Kernel32", true},
                 {"C:\\Windows\\System32\\kernel32.dll", true}, {"user32.dll", false},
                 {"kernel3", false}, {"kernel32.dllx", false}, {"", false}};
    for (const Case &c : cases) {
        SetLastError(0);
        HMODULE m = LoadLibraryA(c.name);
        EXPECT_EQ(m != nullptr, c.loads) << c.name;
        if (m) {
            EXPECT_EQ(m, GetModuleHandleA("kernel32"));
            EXPECT_TRUE(FreeLibrary(m));
        } else {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND)) << c.name;
        }
    }
    HMODULE k = GetModuleHandleA("kernel32");
    ASSERT_NE(k, nullptr);
    EXPECT_NE(GetProcAddress(k, "IsWow64Process"), nullptr);
    for (const char *bad : {"isWow64Process", "NoSuchFunction", ""}) {
        SetLastError(0);
        EXPECT_EQ(GetProcAddress(k, bad), nullptr) << bad;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND)) << bad;
    }
    EXPECT_EQ(GetProcAddress(k, reinterpret_cast<LPCSTR>(1)), nullptr); /* ordinal */
    EXPECT_EQ(GetModuleHandleA("advapi32.dll"), nullptr);
}

TEST(RuntimeLookup, IsWow64FollowsTheMachineArchitecture) {
    vt_test::ScratchRoot root;
    typedef BOOL (*Fn)(HANDLE, PBOOL);
    Fn fn = reinterpret_cast<Fn>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(GetModuleHandleA("kernel32"), "IsWow64Process")));
    ASSERT_NE(fn, nullptr);
    const char *key = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment]\n";
    for (const char *arch : {"AMD64", "x86"}) {
        root.WriteHive(std::string(key) + "\"PROCESSOR_ARCHITECTURE\"=\"" + arch + "\"\n\n");
        BOOL wow = 7;
        ASSERT_TRUE(fn(GetCurrentProcess(), &wow)) << arch;
        EXPECT_EQ(wow, std::string(arch) == "AMD64" ? TRUE : FALSE) << arch;
    }
    EXPECT_FALSE(fn(GetCurrentProcess(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
