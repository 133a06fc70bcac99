/* Opening the agent's log from its registry settings on an emulated machine. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/agent_log.h"
#include "log/log.h"
#include "support/lines.h"
#include "support/scratch_root.h"

namespace {

const std::string kInstallDir = "C:\\Program Files\\Corvane\\Vantrel";

std::string AgentKey(const std::string &values) {
    return "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Vantrel\\DAZered]\n"
           "\"DAZeredInstallDir\"=\"C:\\\\Program Files\\\\Corvane\\\\Vantrel\"\n" +
           values + "\n";
}

class AgentLog : public ::testing::Test {
protected:
    void SetUp() override {
        Reset();
        vt_test::MakeDirs(root_.Host(kInstallDir));
    }
    void TearDown() override { Reset(); }
    static void Reset() {
        CloseLogFile();
        ReleaseLogSettings();
    }
    std::string LogPath() const { return root_.Host(kInstallDir + "\\logs\\agent.log"); }

    /* Opens, writes one line per level and closes; the tags that were written. */
    std::string TagsWritten() {
        EXPECT_EQ(0, OpenAgentLog("agent.log"));
        LogInfo("i\n");
        LogError("e\n");
        LogDebug("d\n");
        LogTrace("t\n");
        Reset();
        std::string tags;
        for (const std::string &line : vt_test::FileLines(LogPath())) {
            for (const char *tag : {"[INFO] i", "[ERROR] e", "[DEBUG] d", "[TRACE] t"})
                if (line.find(tag) != std::string::npos) tags += tag[1];
        }
        return tags;
    }

    vt_test::ScratchRoot root_;
};

TEST_F(AgentLog, ConfiguredLevelKeepsItsLowEightBits) {
    const struct {
        const char *value;
        const char *tags;
    } cases[] = {
        {"", "IE"},  /* missing: the agent's level 2 */
        {"\"DAZeredLogLevel\"=dword:00000001", "I"},
        {"\"DAZeredLogLevel\"=dword:00000004", "IEDT"},
        {"\"DAZeredLogLevel\"=dword:00000100", ""},
        {"\"DAZeredLogLevel\"=dword:00000103", "IED"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        root_.WriteHive(AgentKey(c.value));
        vt_test::WriteWholeFile(LogPath(), "");
        EXPECT_EQ(c.tags, TagsWritten());
        /* Whatever the level, the open line is there. */
        std::vector<std::string> lines = vt_test::FileLines(LogPath());
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(0u, lines[0].find("Log open time: "));
    }
}

TEST_F(AgentLog, InstallDirectoryAndEventFlagComeFromTheAgentKey) {
    root_.WriteHive(AgentKey("\"VTEventEnabled\"=dword:00000000"));
    ASSERT_EQ(0, OpenAgentLog("agent.log"));
    ASSERT_NE(nullptr, gv_agentInstallDir);
    EXPECT_EQ(kInstallDir, gv_agentInstallDir);
    EXPECT_EQ(0u, gv_vtEventEnabled);
    EXPECT_TRUE(vt_test::PathExists(LogPath()));
    Reset();

    root_.WriteHive(AgentKey(""));
    ASSERT_EQ(0, OpenAgentLog("agent.log"));
    EXPECT_EQ(1u, gv_vtEventEnabled);
}

TEST_F(AgentLog, MissingInstallDirectoryOpensNothing) {
    /* No hive at all. */
    EXPECT_NE(0, OpenAgentLog("agent.log"));
    EXPECT_EQ(nullptr, gv_logFilePtr);
    EXPECT_EQ(nullptr, gv_agentInstallDir);

    /* The key without the install directory. */
    root_.WriteHive("[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Vantrel\\DAZered]\n\"DAZeredLogLevel\"=dword:00000002\n");
    EXPECT_EQ(2, OpenAgentLog("agent.log"));
    EXPECT_EQ(nullptr, gv_logFilePtr);
    EXPECT_EQ(nullptr, gv_agentInstallDir);
    LogInfo("goes nowhere\n");
    EXPECT_FALSE(vt_test::PathExists(LogPath()));
}

TEST_F(AgentLog, OpenModeTwoTruncatesEveryOtherAppends) {
    root_.WriteHive(AgentKey(""));
    const std::string directory = kInstallDir + "\\logs";
    ASSERT_EQ(0, InitAgentLog("agent.log", directory.c_str(), 1));
    LogInfo("first run\n");
    Reset();
    ASSERT_EQ(0, InitAgentLog("agent.log", directory.c_str(), 0));
    Reset();
    std::vector<std::string> lines = vt_test::FileLines(LogPath());
    ASSERT_EQ(5u, lines.size());
    EXPECT_NE(std::string::npos, lines[1].find("[INFO] first run"));
    EXPECT_EQ(0u, lines[2].find("Log close time: "));

    ASSERT_EQ(0, InitAgentLog("agent.log", directory.c_str(), 2));
    Reset();
    lines = vt_test::FileLines(LogPath());
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(0u, lines[0].find("Log open time: "));

    /* A folder whose parent is missing cannot be made: the open fails. */
    EXPECT_EQ(13, InitAgentLog("agent.log", "C:\\Nowhere\\At All\\logs", 1));
    EXPECT_EQ(nullptr, gv_logFilePtr);
}

}  // namespace
