/* The built program loads the agent settings as its fourth step, whatever they hold. */
#include "agent_fixture.h"

#include <algorithm>
#include <cstdio>

namespace agent_test {
namespace {

const char kInstallDir[] = "C:\\Program Files\\Vantrel\\Agent";

class PrereqSettingsTest : public ::testing::Test {
protected:
    std::vector<std::string> RunAndReadLog(const Hive &hive, int *exitCode) {
        root_.WriteHive(hive.Render());
        vt_test::MakeDirs(root_.Host(std::string(kInstallDir) + "\\logs"));
        /* The program adds to its log: on a real machine one may be there from before. */
        const std::string log = root_.Host(std::string(kInstallDir) + "\\logs\\rozedidavevazez.log");
        std::remove(log.c_str());
        /* Its output is not read: a process the program leaves running could hold a
         * pipe open (Wine's desktop process does). */
        *exitCode = vt_test::WaitProgram(vt_test::StartProgram(VT_PREREQ_EXE, {"-p", "X"}));
        return SplitLogMessages(vt_test::ReadWholeFile(log));
    }

    vt_test::ScratchRoot root_;
};

const std::string kStars = "INFO ****************************************************************** \n";

TEST_F(PrereqSettingsTest, CompleteConfigurationLogsTheSummaryAndExitsZero) {
    int exitCode = -1;
    std::vector<std::string> messages = RunAndReadLog(CompleteAgentHive(), &exitCode);
    EXPECT_EQ(0, exitCode);
    auto first = std::find(messages.begin(), messages.end(), kStars);
    ASSERT_NE(messages.end(), first) << "no summary block";
    ASSERT_LT(first + 1, messages.end());
    EXPECT_EQ("INFO Vantrel Server Name                -> vt.corp.local \n", *(first + 1));
    EXPECT_NE(messages.end(),
              std::find(messages.begin(), messages.end(),
                        "INFO Vantrel Server Data Path           -> " + ThisMachineDataPath() + " \n"));
    EXPECT_EQ(2, std::count(messages.begin(), messages.end(), kStars));
}

TEST_F(PrereqSettingsTest, MissingServerNameLogsTheAbortAndStillExitsZero) {
    int exitCode = -1;
    std::vector<std::string> messages =
        RunAndReadLog(CompleteAgentHive().Remove(SERVERINFO_KEY, "VTServerName"), &exitCode);
    EXPECT_EQ(0, exitCode);
    auto step = std::find(
        messages.begin(), messages.end(),
        "ERROR InitializeServerDetailsFromRegistry : Error while fetching server name from registry! \n");
    ASSERT_NE(messages.end(), step);
    ASSERT_LT(step + 1, messages.end());
    EXPECT_EQ("ERROR InitializeAgentParameters : Error while fetching Server details from registry! \n", *(step + 1));
    EXPECT_EQ(messages.end(), std::find(messages.begin(), messages.end(), kStars));
}

}  // namespace
}  // namespace agent_test
