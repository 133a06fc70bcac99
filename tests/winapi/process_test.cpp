/* Processes: command-line splitting, program look-up, exit codes, waits with
 * time-outs, termination. The children are shell scripts the stand-in runs as
 * Windows programs; on Windows they are batch files, or cmd.exe itself. */
#include "support/lines.h"
#include "support/scratch_root.h"
#include "winapi/wa_process_hooks.h"
#include "winapi/winapi.h"
/* After winapi.h, which tells the stand-in from Windows. */
#include "support/wine.h"

#include <gtest/gtest.h>

#ifdef WINAPI_STANDIN
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using vt_test::ReadWholeFile;
using vt_test::ScratchRoot;

struct SplitCase {
    const char *line;
    std::vector<std::string> args;
};

TEST(ProcessSplit, CommandLinesSplitByTheWindowsRules) {
#ifndef WINAPI_STANDIN
    GTEST_SKIP() << "the stand-in's splitting of a command line into the host program's arguments";
#else
    const SplitCase cases[] = {
        {"C:\\Windows\\system32\\msiexec.exe /i \"C:\\Agent dir\\patches\\x.msi\" /qn",
         {"C:\\Windows\\system32\\msiexec.exe", "/i", "C:\\Agent dir\\patches\\x.msi", "/qn"}},
        {"\"C:\\Program Files\\a.exe\" x", {"C:\\Program Files\\a.exe", "x"}},
        {"\"a b\"c d", {"a b", "c", "d"}},                   // the program token ends at its quote
        {"p a\\b\\c", {"p", "a\\b\\c"}},                     // backslashes without a quote are literal
        {"p \"a\\\"b\"", {"p", "a\"b"}},                      // odd backslashes: literal quote
        {"p a\\\\\\\\\"b c\" d", {"p", "a\\\\b c", "d"}},    // even backslashes: half of them, quoting on
        {"p a\\\\\\\"b", {"p", "a\\\"b"}},                   // three backslashes and a quote
        {"p \"\" x", {"p", "", "x"}},                         // an empty quoted argument
        {"p \"a\"\"b\"", {"p", "a\"b"}},                      // doubled quote inside quotes
        {"p   x\t y  ", {"p", "x", "y"}},                     // runs of blanks, trailing blanks
        {"p \"unterminated arg", {"p", "unterminated arg"}},
    };
    for (const SplitCase &c : cases) EXPECT_EQ(wa_test::SplitCommandLine(c.line), c.args) << c.line;
#endif
}

/* A scratch machine with executable scripts at Windows paths. */
class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override { wa_test::SetProcessWaitScale(0); }
    void TearDown() override { wa_test::SetProcessWaitScale(0); }

    /* The root's child program; on Windows its batch runs without echoing its commands. */
    std::string Child(const std::string &name, const std::string &shell, const std::string &batch) {
        return root.Child(name, shell, "@echo off\r\n" + batch);
    }

    /* Waits up to 10 s for a file of the root to appear. */
    bool AppearsSoon(const std::string &windowsPath) {
        for (int i = 0; i < 1000 && !vt_test::PathExists(root.Host(windowsPath)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return vt_test::PathExists(root.Host(windowsPath));
    }

    /* Starts a command line; the test fails when it cannot. */
    PROCESS_INFORMATION Start(const std::string &line, const char *dir = nullptr) {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        std::vector<char> buf(line.begin(), line.end());
        buf.push_back('\0');
        EXPECT_TRUE(CreateProcessA(nullptr, buf.data(), nullptr, nullptr, FALSE,
                                   CREATE_DEFAULT_ERROR_MODE | CREATE_NO_WINDOW, nullptr, dir, &si, &pi))
            << line << " error " << GetLastError();
        return pi;
    }

    DWORD StartError(const std::string &line, const char *dir = nullptr) {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        pi.hProcess = reinterpret_cast<HANDLE>(0x1234);
        std::vector<char> buf(line.begin(), line.end());
        buf.push_back('\0');
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(CreateProcessA(nullptr, buf.data(), nullptr, nullptr, FALSE, 0, nullptr, dir, &si, &pi));
#ifdef WINAPI_STANDIN
        /* (Wine clears it.) */
        EXPECT_EQ(pi.hProcess, reinterpret_cast<HANDLE>(0x1234)) << "output touched on failure";
#endif
        return GetLastError();
    }

    DWORD RunToEnd(const std::string &line, const char *dir = nullptr) {
        PROCESS_INFORMATION pi = Start(line, dir);
        EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
        DWORD code = 0xdeadbeef;
        EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
        EXPECT_TRUE(CloseHandle(pi.hProcess));
        EXPECT_TRUE(CloseHandle(pi.hThread));
        return code;
    }

    ScratchRoot root;
};

TEST_F(ProcessTest, ProgramGetsArgumentsDirectoryAndCommandLine) {
    const std::string line = "C:\\Windows\\system32\\rec.exe /i \"C:\\a b\\x.msi\" /qn";
    vt_test::MakeDirs(root.Host("C:\\work dir"));
#ifndef WINAPI_STANDIN
    /* A batch file sees its arguments as given and the directory it was started in. */
    const std::string program = Child("rec", "", "echo [%~1]> C:\\out.txt\r\necho [%~2]>> C:\\out.txt\r\n"
                                                 "echo [%~3]>> C:\\out.txt\r\necho args=%*>> C:\\out.txt\r\n"
                                                 "echo pwd=%CD%>> C:\\out.txt\r\n");
    EXPECT_EQ(RunToEnd(program + line.substr(line.find(' ')), "C:\\work dir"), 0u);
    EXPECT_EQ(vt_test::FileLines(root.Host("C:\\out.txt")),
              (std::vector<std::string>{"[/i]", "[C:\\a b\\x.msi]", "[/qn]", "args=/i \"C:\\a b\\x.msi\" /qn",
                                        "pwd=C:\\work dir"}));
#else
    root.Script("C:\\Windows\\system32\\rec.exe",
           "out=\"$WINAPI_ROOT/drive_c/out.txt\"\n"
           ": > \"$out\"\n"
           "for a in \"$0\" \"$@\"; do printf '[%s]\\n' \"$a\" >> \"$out\"; done\n"
           "printf 'pwd=%s\\ncmd=%s\\ncwd=%s\\n' \"$(pwd)\" \"$WINAPI_COMMAND_LINE\" \"$WINAPI_CURRENT_DIRECTORY\""
           " >> \"$out\"\n");
    EXPECT_EQ(RunToEnd(line, "C:\\work dir"), 0u);
    EXPECT_EQ(ReadWholeFile(root.Host("C:\\out.txt")),
              "[" + root.Host("C:\\Windows\\system32\\rec.exe") + "]\n[/i]\n[C:\\a b\\x.msi]\n[/qn]\n" +
                  "pwd=" + root.Host("C:\\work dir") + "\ncmd=" + line + "\ncwd=C:\\work dir\n");
#endif
}

TEST_F(ProcessTest, DescriptorsPassOnlyWhenHandlesAreInherited) {
#ifndef WINAPI_STANDIN
    GTEST_SKIP() << "the stand-in's passing of host descriptors to the host program";
#else
    /* The program exits 1 when it still holds the caller's descriptor. */
    const int fd = open(root.path().c_str(), O_RDONLY);  // no close-on-exec
    ASSERT_GE(fd, 3);
    root.Script("C:\\t\\fd.exe", "[ -e /proc/$$/fd/" + std::to_string(fd) + " ] && exit 1\nexit 0\n");
    for (const BOOL inherit : {FALSE, TRUE}) {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        char line[] = "C:\\t\\fd.exe";
        ASSERT_TRUE(CreateProcessA(nullptr, line, nullptr, nullptr, inherit, 0, nullptr, nullptr, &si, &pi));
        EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
        DWORD code = 0xdeadbeef;
        EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
        EXPECT_EQ(code, inherit ? 1u : 0u) << "inheritHandles " << inherit;
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    close(fd);
#endif
}

TEST_F(ProcessTest, LongCurrentDirectoryIsPassedOn) {
#ifndef WINAPI_STANDIN
    GTEST_SKIP() << "the stand-in's passing on of a host current directory deeper than MAX_PATH";
#else
    /* Deeper than any fixed buffer a caller would use for MAX_PATH names. */
    std::string windows = "C:";
    for (int i = 0; i < 12; ++i) windows += "\\" + std::string(100, static_cast<char>('a' + i));
    vt_test::MakeDirs(root.Host(windows));
    root.Script("C:\\t\\cwd.exe", "printf '%s' \"$WINAPI_CURRENT_DIRECTORY\" > \"$WINAPI_ROOT/drive_c/cwd.txt\"\n");
    char saved[4096] = {0};
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(root.Host(windows).c_str()), 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    char line[] = "C:\\t\\cwd.exe";
    const BOOL started = CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    const DWORD error = GetLastError();
    ASSERT_EQ(chdir(saved), 0);
    ASSERT_TRUE(started) << "error " << error;
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_EQ(ReadWholeFile(root.Host("C:\\cwd.txt")), windows);
#endif
}

TEST_F(ProcessTest, ProgramLookUp) {
#ifdef WINAPI_STANDIN
    root.Script("C:\\tools\\prog.exe", "exit 5\n");
    root.Script("C:\\Program Files\\App\\run.exe", "exit 6\n");
    root.Script("C:\\Windows\\system32\\sysprog.exe", "exit 7\n");
    EXPECT_EQ(RunToEnd("C:\\tools\\prog"), 5u) << ".exe is added to a name without extension";
    EXPECT_EQ(RunToEnd("c:\\TOOLS\\Prog.exe"), 5u) << "names are matched without regard to case";
    EXPECT_EQ(RunToEnd("C:\\Program Files\\App\\run.exe arg"), 6u) << "unquoted path with blanks";
    EXPECT_EQ(RunToEnd("sysprog"), 7u) << "bare names are found in the system folder";
    EXPECT_EQ(RunToEnd("sh -c \"exit 9\""), 9u) << "and in the host's PATH";
#else
    /* The system's own cmd.exe stands for a program of that folder. */
    EXPECT_EQ(RunToEnd("C:\\Windows\\system32\\cmd /c exit 5"), 5u) << ".exe is added to a name without extension";
    EXPECT_EQ(RunToEnd("c:\\WINDOWS\\System32\\CMD.EXE /c exit 6"), 6u)
        << "names are matched without regard to case";
    EXPECT_EQ(RunToEnd("cmd /c exit 7"), 7u) << "bare names are found in the system folder";
#endif
}

TEST_F(ProcessTest, StartFailures) {
    vt_test::MakeDirs(root.Host("C:\\tools"));
    vt_test::WriteWholeFile(root.Host("C:\\tools\\plain.exe"), "not runnable");
    EXPECT_EQ(StartError("C:\\tools\\missing.exe /x"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(StartError("\"C:\\tools\\missing.exe\""), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    /* The rest only on the stand-in: Wine answers ERROR_FILE_NOT_FOUND for a missing
     * folder, a file that is no program and a blank command line, and dies of a page
     * fault on a null one. */
#ifndef WINAPI_STANDIN
    EXPECT_EQ(StartError("cmd /c exit 0", "C:\\no such dir"), static_cast<DWORD>(ERROR_DIRECTORY));
#else
    EXPECT_EQ(StartError("sh -c true", "C:\\no such dir"), static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_EQ(StartError("C:\\nowhere\\x.exe"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(StartError("C:\\tools\\plain.exe"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(StartError("C:\\tools"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(StartError("   "), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    EXPECT_FALSE(CreateProcessA(nullptr, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
#endif
}

TEST_F(ProcessTest, ExitCodes) {
#ifdef WINAPI_STANDIN
    root.Script("C:\\t\\code.exe", "echo \"$1\" > \"$WINAPI_EXIT_CODE_FILE\"\nexit 1\n");
    root.Script("C:\\t\\status.exe", "exit \"$1\"\n");
    EXPECT_EQ(RunToEnd("C:\\t\\code.exe 3010"), 3010u) << "32-bit codes through the exit-code file";
    EXPECT_EQ(RunToEnd("C:\\t\\code.exe 1603"), 1603u);
    EXPECT_EQ(RunToEnd("C:\\t\\code.exe -1"), 0xFFFFFFFFu);
    EXPECT_EQ(RunToEnd("C:\\t\\status.exe 0"), 0u);
    EXPECT_EQ(RunToEnd("C:\\t\\status.exe 200"), 200u);
    EXPECT_EQ(RunToEnd("sh -c \"kill -TERM $$\""), static_cast<DWORD>(128 + SIGTERM));
    const char *application = "C:\\t\\status.exe";
    char line[] = "ignored 12";
#else
    const std::string cmd = "C:\\Windows\\system32\\cmd.exe /c exit ";
    EXPECT_EQ(RunToEnd(cmd + "3010"), 3010u);
    EXPECT_EQ(RunToEnd(cmd + "1603"), 1603u);
    EXPECT_EQ(RunToEnd(cmd + "-1"), 0xFFFFFFFFu);
    EXPECT_EQ(RunToEnd(cmd + "0"), 0u);
    EXPECT_EQ(RunToEnd(cmd + "200"), 200u);
    const char *application = "C:\\Windows\\system32\\cmd.exe";
    char line[] = "ignored /c exit 12";
#endif

    /* Given an application name, the command line only supplies arguments. */
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(application, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(WaitForSingleObject(pi.hThread, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, 12u);
    EXPECT_FALSE(GetExitCodeProcess(pi.hThread, &code)) << "a thread handle is not a process handle";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_FALSE(GetExitCodeProcess(pi.hProcess, &code)) << "closed handle";
}

#ifdef WINAPI_STANDIN
/* True once the process is gone (or only a zombie waiting for its reaper). */
bool ProcessGone(pid_t pid) {
    for (int i = 0; i < 400; ++i) {
        const std::string stat = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
        const size_t close = stat.rfind(')');
        if (stat.empty() || (close != std::string::npos && stat.size() > close + 2 && stat[close + 2] == 'Z'))
            return true;
        usleep(5000);
    }
    return false;
}
#endif

TEST_F(ProcessTest, TimeOutThenTerminateKillsTheGroup) {
    /* On Windows the batch file waits for a file nobody makes. */
    const std::string program = Child("hang",
                                      "sleep 30 &\necho $! > \"$WINAPI_ROOT/drive_c/child.pid\"\n"
                                      "echo started > \"$WINAPI_ROOT/drive_c/started\"\nwait\n",
                                      "echo started> C:\\started\r\n:wait\r\nif not exist C:\\never goto wait\r\n");
    PROCESS_INFORMATION pi = Start(program);
    ASSERT_TRUE(AppearsSoon("C:\\started"));
#ifdef WINAPI_STANDIN
    const pid_t child = static_cast<pid_t>(std::atoi(ReadWholeFile(root.Host("C:\\child.pid")).c_str()));
    ASSERT_GT(child, 0);
#endif

    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 20), static_cast<DWORD>(WAIT_TIMEOUT));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));

    EXPECT_TRUE(TerminateProcess(pi.hProcess, 42));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, 42u);
#ifdef WINAPI_STANDIN
    EXPECT_TRUE(ProcessGone(child)) << "the program's child survived";
#endif

    SetLastError(0);
    const BOOL again = TerminateProcess(pi.hProcess, 1);
    if (!(again && vt_test::UnderWine())) {  // Wine ends an ended process once more
        EXPECT_FALSE(again) << "already ended";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}

/* Sets (or with nullptr removes) the environment variable of the wait scale. */
void SetWaitScaleVariable(const char *value) {
#ifdef _WIN32
    _putenv_s("WINAPI_WAIT_SCALE", value ? value : "");
#else
    if (value)
        setenv("WINAPI_WAIT_SCALE", value, 1);
    else
        unsetenv("WINAPI_WAIT_SCALE");
#endif
}

TEST_F(ProcessTest, WaitScaleShortensProcessWaits) {
    EXPECT_EQ(wa_test::ProcessWaitScale(), 1u);
    SetWaitScaleVariable("60000");
    EXPECT_EQ(wa_test::ProcessWaitScale(), 60000u);
    SetWaitScaleVariable("junk");
    EXPECT_EQ(wa_test::ProcessWaitScale(), 1u);
    SetWaitScaleVariable(nullptr);

    /* A one-hour wait scaled down to a few milliseconds: a program sleeping 20 s
     * (on Windows: waiting for a file nobody makes) must still be running when it returns. */
    wa_test::SetProcessWaitScale(1000000);
#ifdef WINAPI_STANDIN
    PROCESS_INFORMATION pi = Start("sh -c \"sleep 20\"");
#else
    PROCESS_INFORMATION pi = Start(Child("sleeper", "", ":wait\r\nif not exist C:\\never goto wait\r\n"));
#endif
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 3600000), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(TerminateProcess(pi.hProcess, 0));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 3600000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}

TEST_F(ProcessTest, ClosingBeforeTheEndLeavesTheProgramRunning) {
    const std::string program = Child("late",
                                      "while [ ! -f \"$WINAPI_ROOT/drive_c/go\" ]; do sleep 0.01; done\n"
                                      "echo done > \"$WINAPI_ROOT/drive_c/finished\"\n",
                                      ":wait\r\nif not exist C:\\go goto wait\r\necho done> C:\\finished\r\n");
    PROCESS_INFORMATION pi = Start(program);
    EXPECT_TRUE(CloseHandle(pi.hProcess));
    EXPECT_TRUE(CloseHandle(pi.hThread));
    vt_test::WriteWholeFile(root.Host("C:\\go"), "");
    EXPECT_TRUE(AppearsSoon("C:\\finished"));
#ifdef WINAPI_STANDIN
    EXPECT_TRUE(ProcessGone(static_cast<pid_t>(pi.dwProcessId)));
#endif
}

}  // namespace
