/* msiexec runs of the repair against the demo's stand-in msiexec.exe: runs again
 * while another installation is in progress (pauses through the Sleep recorder)
 * and within the overall time limit. */
#include "prereq/installer_run.h"
#include "prereq/reader_test_support.h"
#include "winapi/wa_testhooks.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

namespace {

using reader_test::LogCapture;
using vt_test::ReadWholeFile;

const char kCommandLine[] = "C:\\Windows\\system32\\msiexec.exe /i \"C:\\patches\\base.msi\" /qn";

class InstallerRunTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef WINAPI_STANDIN
        GTEST_SKIP() << "pauses of 30 s and more, seen through the stand-in's sleep recorder; a script stands for msiexec";
#else
        root.WriteHive("");
        vt_test::MakeDirs(root.Host("C:\\patches"));
        vt_test::WriteWholeFile(root.Host("C:\\patches\\base.msi"), "package");
        const std::string msiexec = root.Host("C:\\Windows\\system32\\msiexec.exe");
        vt_test::MakeDirs(msiexec.substr(0, msiexec.rfind('/')));
        vt_test::WriteWholeFile(msiexec, ReadWholeFile(std::string(VT_SOURCE_DIR) + "/scripts/demo/msiexec.sh"));
        chmod(msiexec.c_str(), 0755);
        wa_test::ClearRecordedSleeps();
        wa_test::RecordSleeps(true);
#endif
    }
    void TearDown() override {
#ifdef WINAPI_STANDIN
        wa_test::RecordSleeps(false);
        wa_test::ClearRecordedSleeps();
#endif
        unsetenv("MSIEXEC_EXIT_CODE");
    }

    /* The pauses asked for so far (the tests run only where they are recorded). */
    static std::vector<DWORD> Sleeps() {
#ifdef WINAPI_STANDIN
        return wa_test::RecordedSleeps();
#else
        return {};
#endif
    }
    static void ClearSleeps() {
#ifdef WINAPI_STANDIN
        wa_test::ClearRecordedSleeps();
#endif
    }

    /* Runs the installer with the stand-in answering `codes` run by run. */
    DWORD Run(const char *codes, int minutes = 100) {
        setenv("MSIEXEC_EXIT_CODE", codes, 1);
        return RunReaderInstaller("C:\\patches", kCommandLine, minutes);
    }

    /* The outcome line of every run of the stand-in, in order. */
    std::vector<std::string> Outcomes() const {
        std::vector<std::string> lines;
        const std::string runs = ReadWholeFile(root.path() + "/msiexec-runs.log");
        for (size_t at = runs.find("result:"); at != std::string::npos; at = runs.find("result:", at + 1))
            lines.push_back(runs.substr(at + 14, runs.find('\n', at) - at - 14));
        return lines;
    }

    vt_test::ScratchRoot root;
    LogCapture log;
};

TEST_F(InstallerRunTest, BusyInstallerIsRunAgainAfterGrowingPausesAtMostThreeTimes) {
    EXPECT_EQ(Run("1618 1618 0"), 0u);
    EXPECT_EQ(Outcomes(), (std::vector<std::string>{"1618 (another installation is in progress)",
                                                    "1618 (another installation is in progress)",
                                                    "0 (installed)"}));
    EXPECT_EQ(Sleeps(), (std::vector<DWORD>{30000, 60000}));
    EXPECT_NE(log.InfoAndErrors().find("[INFO] InstallReaderBase : Another installation is in progress (msiexec exit "
                                       "code 1618, run 2 of 4); starting msiexec again in 60 seconds \n"),
              std::string::npos)
        << log.InfoAndErrors();

    vt_test::WriteWholeFile(root.path() + "/msiexec-runs.log", "");
    ClearSleeps();
    EXPECT_EQ(Run("1618"), 1618u);
    EXPECT_EQ(Outcomes().size(), 4u);
    EXPECT_EQ(Sleeps(), (std::vector<DWORD>{30000, 60000, 90000}));
    EXPECT_NE(log.InfoAndErrors().find("[ERROR] InstallReaderBase : Another installation is still in progress after 4 "
                                       "runs of msiexec (exit code 1618); giving up \n"),
              std::string::npos);
}

TEST_F(InstallerRunTest, RunsAgainOnlyWithAWholeMinuteLeftInTheLimit) {
    /* Two minutes: 30 s pause and a one-minute run fit; then 60 s and a minute do not. */
    EXPECT_EQ(Run("1618", 2), 1618u);
    EXPECT_EQ(Outcomes().size(), 2u);
    EXPECT_EQ(Sleeps(), (std::vector<DWORD>{30000}));
    EXPECT_NE(log.InfoAndErrors().find("[ERROR] InstallReaderBase : Another installation is in progress (exit code "
                                       "1618) and the 2-minute limit leaves no time for another run; giving up \n"),
              std::string::npos)
        << log.InfoAndErrors();
}

}  // namespace
