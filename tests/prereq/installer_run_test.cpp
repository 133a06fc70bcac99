/* msiexec runs of the repair against an msiexec.exe that records its runs: runs
 * again while another installation is in progress (pauses through the Sleep
 * recorder) and within the overall time limit. */
#include "prereq/installer_run.h"
#include "prereq/reader_test_support.h"
#include "winapi/wa_testhooks.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

namespace {

using reader_test::LogCapture;
using vt_test::ReadWholeFile;

const char kCommandLine[] = "C:\\Windows\\system32\\msiexec.exe /i \"C:\\patches\\base.msi\" /qn";

class InstallerRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        root.WriteHive("");
        vt_test::MakeDirs(root.Host("C:\\patches"));
        vt_test::WriteWholeFile(root.Host("C:\\patches\\base.msi"), "package");
        msiexec.InstallRecorder();
        root.Host(reader_test::SetupFolder("1033"));  // what an installing run leaves goes with the root
        wa_test::ClearRecordedSleeps();
        wa_test::RecordSleeps(true);
    }
    void TearDown() override {
        wa_test::RecordSleeps(false);
        wa_test::ClearRecordedSleeps();
        unsetenv("MSIEXEC_EXIT_CODE");
    }

    static std::vector<DWORD> Sleeps() { return wa_test::RecordedSleeps(); }
    static void ClearSleeps() { wa_test::ClearRecordedSleeps(); }

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
    reader_test::MsiexecStandIn msiexec{root};
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
