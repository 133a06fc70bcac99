// Files, folders and searches of the stand-in, checked the way a conformance
// test on Windows would: results, last errors, and what is left on disk.
#include "winapi/winapi.h"

#include "support/scratch_root.h"
#include "support/wine.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using vt_test::MakeDirs;
using vt_test::PathExists;
using vt_test::ReadWholeFile;
using vt_test::ScratchRoot;
using vt_test::WriteWholeFile;

/* The names in C:\ (on Windows the machine's own drive, shared by every test). */
std::vector<std::string> DriveCNames() {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA("C:\\*", &data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do names.push_back(data.cFileName);
    while (FindNextFileA(h, &data));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        MakeDirs(root.Host("C:\\"));
        before_ = DriveCNames();
    }
#ifndef WINAPI_STANDIN
    /* Whatever a test made in C:\ of the machine goes again (on Linux it goes with the root). */
    void TearDown() override {
        for (const std::string &name : DriveCNames()) {
            if (std::binary_search(before_.begin(), before_.end(), name)) continue;
            std::error_code ignored;
            std::filesystem::remove_all(std::filesystem::path("C:\\" + name), ignored);
        }
    }
#endif
    /* Host path of C:\<rel>, `rel` written with '/'. */
    std::string Host(std::string rel) const {
        std::replace(rel.begin(), rel.end(), '/', '\\');
        return root.Host("C:\\" + rel);
    }
    ScratchRoot root;
    std::vector<std::string> before_;
};

std::vector<std::string> FindAll(const char *pattern, DWORD *error) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    SetLastError(0xdeadbeef);
    HANDLE h = FindFirstFileA(pattern, &data);
    *error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (h == INVALID_HANDLE_VALUE) return names;
    do names.push_back(data.cFileName);
    while (FindNextFileA(h, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(h));
    return names;
}

TEST_F(FileTest, SearchPatternsMatchTheLastComponentWithoutCase) {
    MakeDirs(Host("Pkg/data"));
    WriteWholeFile(Host("Pkg/Setup.msi"), "12345");
    WriteWholeFile(Host("Pkg/AcroRead.msi"), "x");
    WriteWholeFile(Host("Pkg/readme.txt"), "x");
    WriteWholeFile(Host("Pkg/noext"), "x");
    using Names = std::vector<std::string>;
    struct Case {
        const char *pattern;
        Names names;
        DWORD error;
    } cases[] = {
        {"C:\\Pkg\\*.msi", {"AcroRead.msi", "Setup.msi"}, 0},
        {"C:\\pkg\\*.MSI", {"AcroRead.msi", "Setup.msi"}, 0},
        {"C:\\PKG\\acroread.msi", {"AcroRead.msi"}, 0},
        {"C:\\Pkg\\s?tup.*", {"Setup.msi"}, 0},
        {"C:\\Pkg\\*", {".", "..", "AcroRead.msi", "data", "noext", "readme.txt", "Setup.msi"}, 0},
        {"C:\\Pkg\\*.*", {".", "..", "AcroRead.msi", "data", "noext", "readme.txt", "Setup.msi"}, 0},
        {"C:\\Pkg\\*e*.???", {"AcroRead.msi", "readme.txt", "Setup.msi"}, 0},
        {"C:\\Pkg\\?e*", {"readme.txt", "Setup.msi"}, 0},
        {"C:\\Pkg\\noext.", {"noext"}, 0},
        {"C:\\Pkg\\Data", {"data"}, 0},
        {"C:\\Pkg", {"Pkg"}, 0},
        {"C:\\Pkg\\x*", {}, ERROR_FILE_NOT_FOUND},
        {"C:\\Pkg\\absent.msi", {}, ERROR_FILE_NOT_FOUND},
        {"C:\\Pkg\\", {}, ERROR_FILE_NOT_FOUND},
        {"C:\\NoDir\\*", {}, ERROR_PATH_NOT_FOUND},
        {"C:\\NoDir\\file.msi", {}, ERROR_PATH_NOT_FOUND},
    };
    for (const Case &c : cases) {
        DWORD error = 0;
        EXPECT_EQ(FindAll(c.pattern, &error), c.names) << c.pattern;
        EXPECT_EQ(error, c.error) << c.pattern;
    }
}

TEST_F(FileTest, SearchDataTellsFoldersAndSizes) {
    MakeDirs(Host("d/sub"));
    WriteWholeFile(Host("d/f.bin"), std::string(70000, 'z'));
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA("C:\\d\\f.bin", &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.nFileSizeLow, 70000u);
    EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_NE(data.ftLastWriteTime.dwHighDateTime, 0u);
    FindClose(h);
    h = FindFirstFileA("C:\\d\\SUB", &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_STREQ(data.cFileName, "sub");
    FindClose(h);
}

TEST_F(FileTest, CreateDispositionsAndTheirLastErrors) {
    WriteWholeFile(Host("old.txt"), "old contents");
    struct Case {
        const char *path;
        DWORD disposition;
        bool opens;
        DWORD error; /* after the call */
        const char *left; /* contents afterwards, null when no file */
    } cases[] = {
        {"C:\\new1.txt", CREATE_NEW, true, 0, ""},
        {"C:\\old.txt", CREATE_NEW, false, ERROR_FILE_EXISTS, "old contents"},
        {"C:\\new2.txt", CREATE_ALWAYS, true, 0, ""},
        {"C:\\old.txt", OPEN_EXISTING, true, 0, "old contents"},
        {"C:\\OLD.TXT", OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS, "old contents"},
        {"C:\\new3.txt", OPEN_ALWAYS, true, 0, ""},
        {"C:\\absent.txt", OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, nullptr},
        {"C:\\nodir\\f.txt", CREATE_ALWAYS, false, ERROR_PATH_NOT_FOUND, nullptr},
        {"C:\\absent.txt", TRUNCATE_EXISTING, false, ERROR_FILE_NOT_FOUND, nullptr},
        {"C:\\old.txt", 0, false, ERROR_INVALID_PARAMETER, "old contents"},
        {"C:\\old.txt", CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, ""},
    };
    for (const Case &c : cases) {
        SetLastError(0xdeadbeef);
        HANDLE h = CreateFileA(c.path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, c.disposition, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        EXPECT_EQ(GetLastError(), c.error) << c.path << " " << c.disposition;
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens) << c.path << " " << c.disposition;
        if (h != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(h));
        }
        std::string host = Host(std::string(c.path + 3));
        if (host == Host("OLD.TXT")) host = Host("old.txt");
        if (c.left) {
            EXPECT_EQ(ReadWholeFile(host), c.left) << c.path;
        } else {
            EXPECT_FALSE(PathExists(host)) << c.path;
        }
    }
}

TEST_F(FileTest, ReadWriteSeekAndSize) {
    HANDLE h = CreateFileA("C:\\data.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(h, "hello world", 11, &n, nullptr));
    EXPECT_EQ(n, 11u);
    EXPECT_TRUE(FlushFileBuffers(h));
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(h, &high), 11u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(SetFilePointer(h, 6, nullptr, FILE_BEGIN), 6u);
    char buf[32] = {};
    ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
    EXPECT_EQ(n, 5u);
    EXPECT_STREQ(buf, "world");
    ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr)); /* at the end: success, nothing read */
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(SetFilePointer(h, -5, nullptr, FILE_END), 6u);
    EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_CURRENT), 5u);
    SetLastError(0);
    EXPECT_EQ(SetFilePointer(h, -100, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), 131u); /* a seek before the start */
    EXPECT_EQ(SetFilePointer(h, -100, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 5u); /* unmoved by the failures */
    LONG hi = 1; /* 4 GiB + 2: beyond any 32-bit offset */
    EXPECT_EQ(SetFilePointer(h, 2, &hi, FILE_BEGIN), 2u);
    EXPECT_EQ(hi, 1);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(ReadWholeFile(Host("data.bin")), "hello world");
}

TEST_F(FileTest, AccessRulesOfHandles) {
    WriteWholeFile(Host("ro.txt"), "abc");
    MakeDirs(Host("folder"));
    HANDLE h = CreateFileA("C:\\ro.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 9;
    SetLastError(0);
    EXPECT_FALSE(WriteFile(h, "x", 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(n, 0u);
    CloseHandle(h);
    SetLastError(0);
    EXPECT_EQ(CreateFileA("C:\\folder", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    const std::wstring wide = L"C:\\w\u00e9.txt";
    h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_NE(GetFileAttributesA("C:\\w\xe9.txt"), INVALID_FILE_ATTRIBUTES);
#ifdef WINAPI_STANDIN
    EXPECT_TRUE(PathExists(Host("w\xc3\xa9.txt")));  // the host's names are UTF-8
#endif
}

TEST_F(FileTest, CopyDeleteMoveAndTheirErrors) {
    WriteWholeFile(Host("a.txt"), "AAAA");
    WriteWholeFile(Host("b.txt"), "BB");
    SetLastError(0);
    EXPECT_FALSE(CopyFileA("C:\\a.txt", "C:\\b.txt", TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(ReadWholeFile(Host("b.txt")), "BB");
    EXPECT_TRUE(CopyFileA("C:\\a.txt", "C:\\B.TXT", FALSE));
    EXPECT_EQ(ReadWholeFile(Host("b.txt")), "AAAA");
    // A copy onto itself must not truncate the source.
    EXPECT_FALSE(CopyFileA("C:\\a.txt", "C:\\A.txt", FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(ReadWholeFile(Host("a.txt")), "AAAA");
    EXPECT_FALSE(CopyFileA("C:\\none.txt", "C:\\c.txt", FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(CopyFileW(L"C:\\a.txt", L"C:\\nodir\\c.txt", FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(CopyFileW(L"C:\\a.txt", L"C:\\c.txt", TRUE));
    EXPECT_EQ(ReadWholeFile(Host("c.txt")), "AAAA");

    EXPECT_FALSE(MoveFileA("C:\\a.txt", "C:\\c.txt"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(MoveFileA("C:\\a.txt", "C:\\moved.txt"));
    EXPECT_FALSE(PathExists(Host("a.txt")));
    EXPECT_EQ(ReadWholeFile(Host("moved.txt")), "AAAA");

    EXPECT_TRUE(DeleteFileA("C:\\MOVED.txt"));
    EXPECT_FALSE(PathExists(Host("moved.txt")));
    EXPECT_FALSE(DeleteFileW(L"C:\\moved.txt"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    MakeDirs(Host("dir"));
    EXPECT_FALSE(DeleteFileA("C:\\dir"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FileTest, FoldersAndAttributes) {
    EXPECT_TRUE(CreateDirectoryA("C:\\New", nullptr));
    SetLastError(0);
    EXPECT_FALSE(CreateDirectoryA("C:\\new", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA("C:\\a\\b", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    WriteWholeFile(Host("New/f.txt"), "x");
    EXPECT_NE(GetFileAttributesA("C:\\NEW") & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(GetFileAttributesA("C:\\new\\F.TXT") & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(GetFileAttributesA("C:\\new\\g.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(RemoveDirectoryA("C:\\new"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_FALSE(RemoveDirectoryA("C:\\new\\f.txt"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_TRUE(DeleteFileA("C:\\new\\f.txt"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\new"));
    EXPECT_FALSE(PathExists(Host("New")));
}

TEST_F(FileTest, ShellFolderCreationCodes) {
    WriteWholeFile(Host("file.txt"), "x");
    struct Case {
        std::string path;
        int result;
        const char *made; /* host folder that must exist afterwards */
    };
    std::vector<Case> cases = {
        {"C:\\a\\b\\c", ERROR_SUCCESS, "a/b/c"},
        {"C:\\A\\B\\C", ERROR_ALREADY_EXISTS, "a/b/c"},
        {"C:\\a\\B\\d\\", ERROR_SUCCESS, "a/b/d"},
        {"c:/x/y", ERROR_SUCCESS, "x/y"},
        {"C:\\", ERROR_ALREADY_EXISTS, nullptr},
        {"C:\\file.txt", ERROR_FILE_EXISTS, nullptr},
        {"C:\\file.txt\\sub", ERROR_PATH_NOT_FOUND, nullptr},
        {"Q:\\x", ERROR_PATH_NOT_FOUND, nullptr},
        {"relative\\dir", ERROR_BAD_PATHNAME, nullptr},
        {"\\rooted\\dir", ERROR_BAD_PATHNAME, nullptr},
        {"C:rel", ERROR_BAD_PATHNAME, nullptr},
        {"", ERROR_BAD_PATHNAME, nullptr},
        {"C:\\bad|name", ERROR_INVALID_NAME, nullptr},
        {"C:\\" + std::string(250, 'n'), ERROR_FILENAME_EXCED_RANGE, nullptr},
    };
#ifdef WINAPI_STANDIN
    /* A host path outside the machine is taken as it stands. */
    const std::string posixDir = root.path() + "/posix/a/b";
    cases.push_back({posixDir, ERROR_SUCCESS, nullptr});
#endif
    for (const Case &c : cases) {
        SetLastError(0xdeadbeef);
        EXPECT_EQ(SHCreateDirectoryExA(nullptr, c.path.c_str(), nullptr), c.result) << c.path;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.result)) << c.path;
        if (c.made) {
            EXPECT_TRUE(PathExists(Host(c.made))) << c.path;
        }
    }
#ifdef WINAPI_STANDIN
    EXPECT_TRUE(PathExists(posixDir));
    EXPECT_FALSE(PathExists(root.path() + "/drive_q"));
#endif
}

TEST_F(FileTest, WrongOrStaleHandlesAreRefused) {
    WriteWholeFile(Host("f.txt"), "x");
    HANDLE file = CreateFileA("C:\\f.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA("C:\\*", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    if (!vt_test::UnderWine()) {  // Wine's FindClose and FindNextFile read through a file handle: the program dies
        SetLastError(0);
        EXPECT_FALSE(FindClose(file));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_FALSE(FindNextFileA(file, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    DWORD n = 0;
    char c = 0;
    EXPECT_FALSE(ReadFile(find, &c, 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(FindClose(find));
    SetLastError(0);
    const BOOL closedAgain = FindClose(find);
    const DWORD closeError = GetLastError();
    if (!(closedAgain && vt_test::UnderWine())) {  // Wine closes a closed search again
        EXPECT_FALSE(closedAgain);
        EXPECT_EQ(closeError, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_FALSE(ReadFile(file, &c, 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GetFileSize(file, nullptr), INVALID_FILE_SIZE);
}

}  // namespace

namespace {

TEST_F(FileTest, MoveFileExReplacesInOneStepAndNeverFollowsALink) {
    WriteWholeFile(Host("new.tmp"), "NEW");
    WriteWholeFile(Host("pkg.msi"), "OLD");
    SetLastError(0);
    EXPECT_FALSE(MoveFileExA("C:\\new.tmp", "C:\\pkg.msi", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ReadWholeFile(Host("pkg.msi")), "OLD");
#ifdef WINAPI_STANDIN
    /* A reader holding the old file keeps reading the old bytes (the host's rename;
     * Windows refuses to replace a file another handle holds open). */
    HANDLE reader = CreateFileA("C:\\pkg.msi", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
#endif
    EXPECT_TRUE(MoveFileExW(L"C:\\new.tmp", L"C:\\pkg.msi", MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
#ifdef WINAPI_STANDIN
    char old[4] = {0};
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(reader, old, 3, &n, nullptr));
    EXPECT_STREQ(old, "OLD");
    CloseHandle(reader);
#endif
    EXPECT_EQ(ReadWholeFile(Host("pkg.msi")), "NEW");
    EXPECT_FALSE(PathExists(Host("new.tmp")));

#ifdef WINAPI_STANDIN
    /* A link under the target name is replaced; what it pointed to is untouched.
     * (Host links: on Windows making one needs a privilege the suite does not have.) */
    WriteWholeFile(Host("victim.txt"), "VICTIM");
    WriteWholeFile(Host("new.tmp"), "NEWER");
    ASSERT_EQ(symlink(Host("victim.txt").c_str(), Host("link.msi").c_str()), 0);
    EXPECT_TRUE(MoveFileExA("C:\\new.tmp", "C:\\link.msi", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ReadWholeFile(Host("victim.txt")), "VICTIM");
    EXPECT_EQ(ReadWholeFile(Host("link.msi")), "NEWER");

    /* Opening through a link is refused with FILE_FLAG_OPEN_REPARSE_POINT. */
    ASSERT_EQ(symlink(Host("victim.txt").c_str(), Host("trap.tmp").c_str()), 0);
    SetLastError(0);
    EXPECT_EQ(CreateFileA("C:\\trap.tmp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANTOPEN));
    EXPECT_EQ(ReadWholeFile(Host("victim.txt")), "VICTIM");
#endif

    /* Errors: a missing source, a folder in the way. */
    SetLastError(0);
    EXPECT_FALSE(MoveFileExA("C:\\none.tmp", "C:\\pkg.msi", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    MakeDirs(Host("dir"));
    WriteWholeFile(Host("new.tmp"), "x");
    SetLastError(0);
    EXPECT_FALSE(MoveFileExA("C:\\new.tmp", "C:\\dir", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FileTest, ExclusiveLocksHoldBetweenHandlesUntilUnlockedOrClosed) {
    auto open = [] {
        return CreateFileA("C:\\repair.lock", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, 0, nullptr);
    };
    HANDLE first = open();
    HANDLE second = open();
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    OVERLAPPED at = {};
    const DWORD now = LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY;
    EXPECT_TRUE(LockFileEx(first, now, 0, 1, 0, &at));
    SetLastError(0);
    EXPECT_FALSE(LockFileEx(second, now, 0, 1, 0, &at));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_TRUE(UnlockFileEx(first, 0, 1, 0, &at));
    EXPECT_TRUE(LockFileEx(second, now, 0, 1, 0, &at));
    EXPECT_FALSE(LockFileEx(first, now, 0, 1, 0, &at));
    CloseHandle(second);  // closing gives the lock up
    EXPECT_TRUE(LockFileEx(first, now, 0, 1, 0, &at));
    CloseHandle(first);
    SetLastError(0);
    EXPECT_FALSE(LockFileEx(first, now, 0, 1, 0, &at));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(FileTest, AnsiNamesReachTheHostInUtf8AndNetworkPathsNowhere) {
    /* "caf\xe9" is café in the ANSI code page (Windows-1252). */
    HANDLE h = CreateFileA("C:\\caf\xe9\\m\xfcller.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SHCreateDirectoryExA(nullptr, "C:\\caf\xe9", nullptr), 0);
    EXPECT_NE(GetFileAttributesA("C:\\caf\xe9"), INVALID_FILE_ATTRIBUTES);
#ifdef WINAPI_STANDIN
    EXPECT_TRUE(PathExists(Host("caf\xc3\xa9")));  // the host's names are UTF-8
#endif
    h = CreateFileA("C:\\caf\xe9\\m\xfcller.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
#ifdef WINAPI_STANDIN
    EXPECT_TRUE(PathExists(Host("caf\xc3\xa9/m\xc3\xbcller.txt")));
    EXPECT_EQ(WaCrtPath("C:\\caf\xe9"), Host("caf\xc3\xa9"));
#endif
    DWORD error = 0;
    EXPECT_EQ(FindAll("C:\\caf\xe9\\*.txt", &error), std::vector<std::string>{"m\xfcller.txt"});
    EXPECT_EQ(SHCreateDirectoryExW(nullptr, L"C:\\\u00fc", nullptr), 0);
    EXPECT_NE(GetFileAttributesA("C:\\\xfc"), INVALID_FILE_ATTRIBUTES);
#ifdef WINAPI_STANDIN
    EXPECT_TRUE(PathExists(Host("\xc3\xbc")));
#endif

    char saved[4096] = {0};
    ASSERT_NE(GetCurrentDirectoryA(sizeof saved, saved), 0u);
    EXPECT_TRUE(SetCurrentDirectoryA("C:\\caf\xe9"));
    char here[4096] = {0};
    EXPECT_NE(GetCurrentDirectoryA(sizeof here, here), 0u);
    EXPECT_STREQ(here, "C:\\caf\xe9");
    EXPECT_TRUE(SetCurrentDirectoryA(saved));

    /* A share on another machine: never a host folder, whatever the function.
     * Wine names it a missing path. */
    const char *unc = "\\\\127.0.0.1\\share\\x";
    SetLastError(0);
    EXPECT_EQ(CreateFileA("\\\\127.0.0.1\\share\\x\\f.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ_OR_WINE(ERROR_BAD_NETPATH, ERROR_PATH_NOT_FOUND, GetLastError());
    EXPECT_EQ(CreateFileW(L"\\\\127.0.0.1\\share\\x\\f.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ_OR_WINE(ERROR_BAD_NETPATH, ERROR_PATH_NOT_FOUND, GetLastError());
    EXPECT_EQ_OR_WINE(ERROR_BAD_NETPATH, ERROR_PATH_NOT_FOUND, SHCreateDirectoryExA(nullptr, unc, nullptr));
    /* Wine takes a share written with '/' for a bad path name. */
    EXPECT_EQ_OR_WINE(ERROR_BAD_NETPATH, ERROR_BAD_PATHNAME,
                      SHCreateDirectoryExW(nullptr, L"//127.0.0.1/share/x", nullptr));
    SetLastError(0);
    EXPECT_FALSE(SetCurrentDirectoryA(unc));
    EXPECT_EQ_OR_WINE(ERROR_BAD_NETPATH, ERROR_PATH_NOT_FOUND, GetLastError());
    SetLastError(0);
    EXPECT_FALSE(CreateDirectoryA(unc, nullptr));
    EXPECT_EQ_OR_WINE(ERROR_BAD_NETPATH, ERROR_PATH_NOT_FOUND, GetLastError());
    EXPECT_EQ(FindAll("\\\\127.0.0.1\\share\\*", &error), std::vector<std::string>{});
    EXPECT_EQ_OR_WINE(ERROR_BAD_NETPATH, ERROR_PATH_NOT_FOUND, error);
#ifdef WINAPI_STANDIN
    EXPECT_EQ(WaCrtPath(unc), "");
#endif
    char now[4096] = {0};
    GetCurrentDirectoryA(sizeof now, now);
    EXPECT_STREQ(now, saved);
}

bool IsDrivePath(const std::string &path) {
    return path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
           path[1] == ':' && path[2] == '\\' && path.find('/') == std::string::npos;
}

/* The test program's own current folder lies outside the emulated machine (the
 * build folder): it still comes back as a drive path, and the file calls take
 * that path and the paths under it again. */
TEST_F(FileTest, FoldersHandedBackAreDrivePathsTheFileCallsTakeAgain) {
    char saved[4096] = {0};
    ASSERT_NE(GetCurrentDirectoryA(sizeof saved, saved), 0u);
    EXPECT_TRUE(IsDrivePath(saved)) << saved;
    char temp[4096] = {0};
    ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
    EXPECT_TRUE(IsDrivePath(temp)) << temp;

    const std::string dir = std::string(saved) + "\\vt-drive-path-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr)) << dir;
    HANDLE h = CreateFileA((dir + "\\Named.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    DWORD error = 0;
    EXPECT_EQ(FindAll((dir + "\\*.txt").c_str(), &error), std::vector<std::string>{"Named.txt"});

    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    char here[4096] = {0};
    ASSERT_NE(GetCurrentDirectoryA(sizeof here, here), 0u);
    EXPECT_EQ(std::string(here), dir);
    h = CreateFileA("Relative.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_NE(GetFileAttributesA((dir + "\\relative.TXT").c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(SetCurrentDirectoryA(saved));

    EXPECT_TRUE(DeleteFileA((dir + "\\Named.txt").c_str()));
    EXPECT_TRUE(DeleteFileA((dir + "\\Relative.txt").c_str()));
    EXPECT_TRUE(RemoveDirectoryA(dir.c_str()));
    EXPECT_EQ(GetFileAttributesA(dir.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
