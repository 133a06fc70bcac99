// Windows paths on the emulated machine root, the current directory and the
// system folders.
#include "winapi/wa_private.h"

#include "support/scratch_root.h"

#include <gtest/gtest.h>

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

using vt_test::MakeDirs;
using vt_test::ScratchRoot;
using vt_test::WriteWholeFile;

class PathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char buf[PATH_MAX];
        ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
        savedCwd_ = buf;
        root_ = root.path();
    }
    void TearDown() override { ASSERT_EQ(chdir(savedCwd_.c_str()), 0); }

    ScratchRoot root;
    std::string root_;
    std::string savedCwd_;
};

TEST_F(PathsTest, DrivePathsMapUnderTheRoot) {
    struct Case {
        const char *windows;
        const char *host; /* relative to the root */
    } cases[] = {
        {"C:\\a\\b", "/drive_c/a/b"},
        {"c:/a/b", "/drive_c/a/b"},
        {"D:\\x\\", "/drive_d/x"},
        {"C:\\", "/drive_c"},
        {"C:", "/drive_c"},
        {"C:\\a\\.\\b\\..\\c", "/drive_c/a/c"},
        {"C:\\..\\..\\a", "/drive_c/a"},
        {"C:\\a\\\\b", "/drive_c/a/b"},
        {"D:\\Mixed/Separators\\f.txt", "/drive_d/Mixed/Separators/f.txt"},
    };
    for (const Case &c : cases) EXPECT_EQ(wa::ToHostPath(c.windows), root_ + c.host) << c.windows;
}

TEST_F(PathsTest, ComponentsMatchWithoutCaseAndNewOnesKeepTheirSpelling) {
    MakeDirs(root_ + "/drive_c/Program Files/Vendor");
    WriteWholeFile(root_ + "/drive_c/Program Files/Vendor/Setup.MSI", "x");
    EXPECT_EQ(wa::ToHostPath("C:\\PROGRAM FILES\\vendor\\setup.msi"), root_ + "/drive_c/Program Files/Vendor/Setup.MSI");
    EXPECT_EQ(wa::ToHostPath("C:\\program files\\VENDOR\\New\\File.txt"),
              root_ + "/drive_c/Program Files/Vendor/New/File.txt");
    // The exact spelling wins when two names differ only in case.
    MakeDirs(root_ + "/drive_c/abc");
    MakeDirs(root_ + "/drive_c/ABC");
    EXPECT_EQ(wa::ToHostPath("C:\\ABC"), root_ + "/drive_c/ABC");
    EXPECT_EQ(wa::ToHostPath("C:\\abc"), root_ + "/drive_c/abc");
}

TEST_F(PathsTest, PosixAbsolutePathsAreNotReRooted) {
    EXPECT_EQ(wa::ToHostPath("/tmp/Some/Thing"), "/tmp/Some/Thing");
    EXPECT_EQ(wa::ToHostPath("/tmp/dir\\logs\\f.log"), "/tmp/dir/logs/f.log");
}

TEST_F(PathsTest, FoldersOutsideTheRootAreOnTheHostDrive) {
    EXPECT_EQ(wa::ToWindowsPath("/tmp/x"), "Z:\\tmp\\x");
    EXPECT_EQ(wa::ToWindowsPath("/"), "Z:\\");
    EXPECT_EQ(wa::ToHostPath("Z:\\"), "/");
    EXPECT_EQ(wa::ToHostPath("z:/tmp/..\\tmp\\x"), "/tmp/x");
    // The root itself and its folders that are no drive are outside every drive of the machine.
    EXPECT_EQ(wa::ToHostPath(wa::ToWindowsPath(root_ + "/registry")), root_ + "/registry");
    EXPECT_EQ(wa::ToWindowsPath(root_ + "/drive_z/a"), wa::ToWindowsPath(root_) + "\\drive_z\\a");

    // A current folder outside the root: a Z: path, and relative and rooted paths follow it.
    MakeDirs(root_ + "/outside/Sub");
    ASSERT_EQ(chdir((root_ + "/outside").c_str()), 0);
    char buf[PATH_MAX];
    ASSERT_GT(GetCurrentDirectoryA(sizeof buf, buf), 0u);
    const std::string here = buf;
    EXPECT_EQ(here, wa::ToWindowsPath(root_) + "\\outside");
    EXPECT_EQ(here.compare(0, 3, "Z:\\"), 0) << here;
    EXPECT_EQ(wa::ToHostPath("SUB\\f.txt"), root_ + "/outside/Sub/f.txt");
    EXPECT_EQ(wa::ToHostPath("\\tmp"), "/tmp");
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    ASSERT_TRUE(SetCurrentDirectoryA((here + "\\sub").c_str()));
    ASSERT_GT(GetCurrentDirectoryA(sizeof buf, buf), 0u);
    EXPECT_EQ(std::string(buf), here + "\\Sub");

    // The temp folder named by the environment as a host folder.
    const char *savedTmp = getenv("TMP");
    const std::string keepTmp = savedTmp ? savedTmp : "";
    setenv("TMP", (root_ + "/outside").c_str(), 1);
    GetTempPathA(sizeof buf, buf);
    EXPECT_EQ(std::string(buf), here + "\\");
    if (savedTmp)
        setenv("TMP", keepTmp.c_str(), 1);
    else
        unsetenv("TMP");
}

TEST_F(PathsTest, HostPathsUnderTheRootShowInWindowsForm) {
    EXPECT_EQ(wa::ToWindowsPath(root_ + "/drive_c/a/b"), "C:\\a\\b");
    EXPECT_EQ(wa::ToWindowsPath(root_ + "/drive_c"), "C:\\");
    EXPECT_EQ(wa::ToWindowsPath(root_ + "/drive_d/"), "D:\\");
    // Not a drive folder: on the host drive like any folder outside the machine.
    EXPECT_EQ(wa::ToWindowsPath(root_ + "/drive_cc/a"), wa::ToWindowsPath(root_) + "\\drive_cc\\a");
}

TEST_F(PathsTest, RelativePathsResolveAgainstTheCurrentDirectory) {
    MakeDirs(root_ + "/drive_c/Work/Sub");
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\WORK"));
    char buf[MAX_PATH];
    ASSERT_EQ(GetCurrentDirectoryA(sizeof buf, buf), 7u);
    EXPECT_STREQ(buf, "C:\\Work");
    EXPECT_EQ(wa::ToHostPath("sub\\f.txt"), root_ + "/drive_c/Work/Sub/f.txt");
    EXPECT_EQ(wa::ToHostPath("..\\other"), root_ + "/drive_c/other");
    EXPECT_EQ(wa::ToHostPath("\\top"), root_ + "/drive_c/top");
    ASSERT_TRUE(SetCurrentDirectoryA("sub"));
    ASSERT_EQ(GetCurrentDirectoryA(sizeof buf, buf), 11u);
    EXPECT_STREQ(buf, "C:\\Work\\Sub");
}

TEST_F(PathsTest, CurrentDirectorySizeProtocolAndErrors) {
    MakeDirs(root_ + "/drive_c/Work");
    WriteWholeFile(root_ + "/drive_c/file.txt", "x");
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Work"));
    char buf[8];
    memset(buf, '#', sizeof buf);
    EXPECT_EQ(GetCurrentDirectoryA(0, nullptr), 8u);
    EXPECT_EQ(GetCurrentDirectoryA(7, buf), 8u); /* needs the terminator too */
    EXPECT_EQ(buf[0], '#');
    EXPECT_EQ(GetCurrentDirectoryA(8, buf), 7u);

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetCurrentDirectoryA("C:\\missing"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(SetCurrentDirectoryA("C:\\missing\\deeper"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(SetCurrentDirectoryA("C:\\file.txt"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
}

TEST_F(PathsTest, WindowsDirectoryFollowsSystemRoot) {
    char buf[MAX_PATH];
    EXPECT_EQ(GetWindowsDirectoryA(buf, sizeof buf), 10u);
    EXPECT_STREQ(buf, "C:\\Windows");
    EXPECT_EQ(GetWindowsDirectoryA(buf, 10), 11u);
    EXPECT_EQ(GetSystemDirectoryA(buf, sizeof buf), 19u);
    EXPECT_STREQ(buf, "C:\\Windows\\system32");

    root.WriteHive("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n"
                   "\"SystemRoot\"=\"D:\\\\WINNT\"\n\n");
    EXPECT_EQ(wa::WindowsDirectory(), "D:\\WINNT");
    EXPECT_EQ(GetWindowsDirectoryA(buf, sizeof buf), 8u);
    EXPECT_STREQ(buf, "D:\\WINNT");
}

TEST_F(PathsTest, TempPathComesFromTheEnvironmentElseTheWindowsTempFolder) {
    const char *savedTmp = getenv("TMP");
    const char *savedTemp = getenv("TEMP");
    const std::string keepTmp = savedTmp ? savedTmp : "", keepTemp = savedTemp ? savedTemp : "";
    char buf[MAX_PATH];

    setenv("TMP", "C:\\Temp", 1);
    setenv("TEMP", "C:\\Other", 1);
    EXPECT_EQ(GetTempPathA(sizeof buf, buf), 8u);
    EXPECT_STREQ(buf, "C:\\Temp\\");
    unsetenv("TMP");
    setenv("TEMP", (root_ + "/drive_c/Users/t").c_str(), 1);
    GetTempPathA(sizeof buf, buf);
    EXPECT_STREQ(buf, "C:\\Users\\t\\");
    unsetenv("TEMP");
    EXPECT_EQ(GetTempPathA(5, buf), 17u);
    EXPECT_EQ(GetTempPathA(sizeof buf, buf), 16u);
    EXPECT_STREQ(buf, "C:\\Windows\\Temp\\");
    EXPECT_TRUE(vt_test::PathExists(root_ + "/drive_c/Windows/Temp"));

    if (savedTmp) setenv("TMP", keepTmp.c_str(), 1);
    if (savedTemp) setenv("TEMP", keepTemp.c_str(), 1);
}

TEST(ErrnoMapping, CommonErrnoValuesGiveTheWindowsCodes) {
    struct Case {
        int err;
        DWORD code;
    } cases[] = {{0, 0},         {ENOENT, 2},    {ENOTDIR, 3},  {EACCES, 5},   {EPERM, 5},
                 {EEXIST, 80},   {ENOSPC, 112},  {ENAMETOOLONG, 206}, {ENOTEMPTY, 145}, {EINVAL, 87},
                 {EMFILE, 4},    {EBADF, 6},     {ENOMEM, 8},   {EBUSY, 32},   {EROFS, 5}};
    for (const Case &c : cases) EXPECT_EQ(wa::ErrnoToWin32(c.err), c.code) << c.err;
}

}  // namespace
