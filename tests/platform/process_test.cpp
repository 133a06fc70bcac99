/* execute: exit-code folding, remarks, time limit, working directory, log lines.
 * The children are shell scripts the stand-in runs as Windows programs; on Windows
 * they are batch files, or cmd.exe itself, run by cmd.exe. */
#include "platform/errors.h"
#include "platform/process.h"
#include "support/lines.h"
#include "support/log_capture.h"
#include "support/scratch_root.h"
#include "winapi/wa_process_hooks.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using vt_test::ReadWholeFile;

std::string Cwd() {
    char buf[4096] = {0};
    GetCurrentDirectoryA(sizeof buf, buf);
    return buf;
}

std::string ErrorText(DWORD code) {
    char *text = GetErrorText(code);
    std::string out = text ? text : "";
    free(text);
    return out;
}

class ExecuteTest : public ::testing::Test {
protected:
    void SetUp() override { wa_test::SetProcessWaitScale(0); }
    void TearDown() override {
        wa_test::SetProcessWaitScale(0);
        free(remarks);
    }

    DWORD Run(const char *dir, const char *line, int minutes) {
        free(remarks);
        remarks = nullptr;
        return execute(dir, line, &remarks, minutes, 0);
    }

    vt_test::ScratchRoot root;
    vt_test::LogCapture log{4};
    char *remarks = nullptr;
};

TEST_F(ExecuteTest, ExitCodesFoldAndRemarksNameTheCodeAsReturned) {
#ifdef WINAPI_STANDIN
    root.Script("C:\\t\\code.exe", "echo \"$1\" > \"$WINAPI_EXIT_CODE_FILE\"\n");
    const std::string program = "C:\\t\\code.exe ";
#else
    const std::string program = "C:\\windows\\system32\\cmd.exe /c exit ";
#endif
    const struct {
        DWORD exitCode;
        DWORD result;
    } cases[] = {{0, 0}, {3010, 0}, {1641, 0}, {1508, 0}, {1603, 1603}, {1, 1}, {3011, 3011}};
    for (const auto &c : cases) {
        const std::string line = program + std::to_string(c.exitCode);
        EXPECT_EQ(Run(nullptr, line.c_str(), 5), c.result) << c.exitCode;
        ASSERT_NE(remarks, nullptr);
        EXPECT_EQ(remarks, ErrorText(c.exitCode)) << "remark is the text of the code as returned";
        EXPECT_EQ(log.Count("INFO", "execute : Exit code for the application : " + std::to_string(c.exitCode) + " \n"), 1);
    }
    EXPECT_NE(ErrorText(3010), ErrorText(0)) << "the 3010 remark must not be the success text";
}

TEST_F(ExecuteTest, MissingProgramGivesFileNotFoundAndRestoresTheDirectory) {
    vt_test::MakeDirs(root.Host("C:\\work"));
    vt_test::MakeDirs(root.Host("C:\\t"));
    const std::string before = Cwd();
    EXPECT_EQ(Run("C:\\work", "C:\\t\\missing.exe /qn", 100), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Cwd(), before);
    ASSERT_NE(remarks, nullptr);
    EXPECT_EQ(remarks, ErrorText(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(log.Count("INFO", "execute : Failed to Create the Process for the application \n"), 1);
    EXPECT_EQ(log.Count("INFO", "execute : Remarks from the CreateProcess is " + ErrorText(2) +
                                    " for the executable C:\\t\\missing.exe /qn \n"),
              1);
}

TEST_F(ExecuteTest, WorkingDirectoryIsUsedAndRestoredWithItsLogLines) {
    const std::string pwd = root.Host("C:\\pwd.txt");
    const std::string program =
        root.Child("pwd", "pwd > \"$WINAPI_ROOT/drive_c/pwd.txt\"\n", "@cd > C:\\pwd.txt\r\n");
    vt_test::MakeDirs(root.Host("C:\\Agent"));
    vt_test::MakeDirs(root.Host("C:\\Agent\\patches"));
    const std::string before = Cwd();
    EXPECT_EQ(Run("C:\\Agent\\patches", program.c_str(), 1), 0u);
    EXPECT_EQ(Cwd(), before);
    EXPECT_EQ(vt_test::UnixLineEnds(ReadWholeFile(pwd)), root.Host("C:\\Agent\\patches") + "\n");
    const std::vector<std::string> expected = {
        "DEBUG @@@@@@@@ Inside execute Method @@@@@@@@ \n",
        "INFO execute : Current Working Directory : " + before + " \n",
        "INFO execute : Executing Application Source : " + program + " \n",
        "INFO execute : Set Working Directory : C:\\Agent\\patches \n",
        "INFO execute : Process successfully created for application " + program + " \n",
        "INFO execute : Exit code for the application : 0 \n",
        "INFO execute : Remarks from the CreateProcess is " + ErrorText(0) + " for the executable " + program + " \n",
        "DEBUG @@@@@@@@ End Of execute Method @@@@@@@@ \n",
    };
    EXPECT_EQ(log.Messages(), expected);
}

TEST_F(ExecuteTest, NoWorkingDirectoryMeansNoDirectoryLines) {
#ifdef WINAPI_STANDIN
    root.Script("C:\\t\\ok.exe", "exit 0\n");
    const char *program = "C:\\t\\ok.exe";
#else
    const char *program = "C:\\windows\\system32\\cmd.exe /c exit 0";
#endif
    const std::string before = Cwd();
    EXPECT_EQ(Run(nullptr, program, 1), 0u);
    EXPECT_EQ(Run("", program, 1), 0u) << "an empty directory counts as none";
    EXPECT_EQ(Cwd(), before);
    EXPECT_EQ(log.Text().find("Working Directory"), std::string::npos);
}

TEST_F(ExecuteTest, ZeroMinutesReturnsWithoutWaiting) {
    const std::string go = root.Host("C:\\go");
    const std::string finished = root.Host("C:\\finished");
    const std::string program = root.Child("late",
                                      "while [ ! -f \"$WINAPI_ROOT/drive_c/go\" ]; do sleep 0.01; done\n"
                                      "echo done > \"$WINAPI_ROOT/drive_c/finished\"\n",
                                      "@echo off\r\n:wait\r\nif not exist C:\\go goto wait\r\n"
                                      "echo done> C:\\finished\r\n");
    EXPECT_EQ(Run(nullptr, program.c_str(), 0), 0u);
    EXPECT_EQ(remarks != nullptr ? remarks : "(none)", ErrorText(0));
    EXPECT_FALSE(vt_test::PathExists(finished)) << "execute waited for the program";
    EXPECT_EQ(log.Text().find("Exit code"), std::string::npos);
    vt_test::WriteWholeFile(go, "");
    for (int i = 0; i < 1000 && !vt_test::PathExists(finished); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(vt_test::PathExists(finished));
}

TEST_F(ExecuteTest, ProgramPastItsLimitIsTerminated) {
    const std::string program = root.Child("hang", "echo $$ > \"$WINAPI_ROOT/drive_c/pid\"\nsleep 30\n",
                                      "@echo off\r\n:wait\r\nif not exist C:\\go goto wait\r\n"
                                      "echo done> C:\\finished\r\n");
    vt_test::MakeDirs(root.Host("C:\\work"));
    wa_test::SetProcessWaitScale(600000);  // 100 minutes become 10 ms
    const std::string before = Cwd();
    const std::string line = program + " /qn";
    EXPECT_EQ(Run("C:\\work", line.c_str(), 100), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(Cwd(), before);
    ASSERT_NE(remarks, nullptr);
    EXPECT_EQ(remarks, ErrorText(WAIT_TIMEOUT));
    const std::vector<std::string> info = log.Messages("INFO");
    const std::vector<std::string> terminated = {
        "execute : Terminating the Process for application " + line + " as time is exceeded 100 Minutes \n",
        "execute : The process has been successfully terminated ..! \n"};
    EXPECT_NE(std::search(info.begin(), info.end(), terminated.begin(), terminated.end()), info.end())
        << log.Text();
#ifdef WINAPI_STANDIN
    const std::string pid = ReadWholeFile(root.Host("C:\\pid"));
    if (!pid.empty()) {
        const std::string stat = ReadWholeFile("/proc/" + std::to_string(atoi(pid.c_str())) + "/stat");
        EXPECT_TRUE(stat.empty() || stat.find(") Z") != std::string::npos) << "still running: " << stat;
    }
#else
    /* A batch file still running would finish within moments of being let go. */
    vt_test::WriteWholeFile(root.Host("C:\\go"), "");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_FALSE(vt_test::PathExists(root.Host("C:\\finished"))) << "the program ran on past its limit";
#endif
}

TEST_F(ExecuteTest, CallsThatRunNothing) {
    const std::string before = Cwd();
    EXPECT_EQ(Run("C:\\no such folder", "sh -c true", 1), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    ASSERT_NE(remarks, nullptr);
    EXPECT_EQ(remarks, ErrorText(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(log.Count("ERROR", "execute : Failed to set the WorkingDirectory C:\\no such folder \n "), 1);
    EXPECT_EQ(log.Text().find("Process successfully created"), std::string::npos);

    vt_test::MakeDirs(root.Host("C:\\work"));
    EXPECT_EQ(Run("C:\\work", nullptr, 1), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    ASSERT_NE(remarks, nullptr);
    EXPECT_EQ(remarks, ErrorText(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Cwd(), before);
}

}  // namespace
