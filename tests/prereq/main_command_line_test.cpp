/* The built prereq program: exit codes, the patch name taken from the command line,
 * and the agent log it appends to. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/lines.h"
#include "support/scratch_root.h"

namespace {

const std::string kInstallDir = "C:\\Program Files\\Corvane\\Vantrel";
const std::string kAgentKey =
    "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Vantrel\\DAZered]\n"
    "\"DAZeredInstallDir\"=\"C:\\\\Program Files\\\\Corvane\\\\Vantrel\"\n";
const std::string kPatchLine = "] [INFO] patchName : ";

int CountOpenLines(const std::vector<std::string> &lines) {
    int count = 0;
    for (const std::string &line : lines) count += line.rfind("Log open time: ", 0) == 0 ? 1 : 0;
    return count;
}

/* The values of the "patchName : " lines, in order. */
std::vector<std::string> PatchNames(const std::vector<std::string> &lines) {
    std::vector<std::string> names;
    for (const std::string &line : lines) {
        size_t at = line.find(kPatchLine);
        if (at != std::string::npos) names.push_back(line.substr(at + kPatchLine.size()));
    }
    return names;
}

/* Each line of `text` ends the way the host ends lines of text: "\r\n" on
 * Windows, "\n" elsewhere. */
::testing::AssertionResult EndsLinesTheHostWay(const std::string &text) {
#ifdef _WIN32
    const bool carriageReturns = true;
#else
    const bool carriageReturns = false;
#endif
    if (text.empty() || text.back() != '\n') return ::testing::AssertionFailure() << "no whole line: " << text;
    size_t line = 0;
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
        ++line;
        if ((at > 0 && text[at - 1] == '\r') != carriageReturns)
            return ::testing::AssertionFailure() << "line " << line << " ends otherwise:\n" << text;
    }
    return ::testing::AssertionSuccess();
}

class PrereqProgram : public ::testing::Test {
protected:
    /* An installed agent: the key names the install directory, which exists;
     * its logs folder does not exist yet. */
    void InstallAgent() {
        root_.WriteHive(kAgentKey);
        vt_test::MakeDirs(root_.Host(kInstallDir));
    }
    std::string LogPath() const { return root_.Host(kInstallDir + "\\logs\\rozedidavevazez.log"); }
    vt_test::ProcessResult Run(const std::vector<std::string> &args) {
        return vt_test::RunProgram(VT_PREREQ_EXE, args);
    }

    vt_test::ScratchRoot root_;
};

TEST_F(PrereqProgram, PatchNameSwitchesAndExitCodes) {
    using Args = std::vector<std::string>;
    using Names = std::vector<std::string>;
    const struct {
        Args args;
        int exitCode;
        Names logged;
    } cases[] = {
        {{"-p", "KB1"}, 0, {"KB1"}},
        {{}, 13, {}},
        /* The first switch takes the second "-p" as its value; "name" is ignored. */
        {{"-p", "-p", "name"}, 0, {"-p"}},
        /* Only "-p" at the start counts: -px and -patch are switches, -P is not. */
        {{"-px", "value"}, 0, {"value"}},
        {{"-patch", "KB9"}, 0, {"KB9"}},
        {{"-P", "KB3"}, 13, {}},
        {{"p", "KB4"}, 13, {}},
        /* The last switch wins, and each one is logged. */
        {{"-p", "a", "-p", "b"}, 0, {"a", "b"}},
        /* An empty name is a name. */
        {{"-p", ""}, 0, {""}},
        {{"first", "-q", "-p", "KB2", "extra"}, 0, {"KB2"}},
        /* A switch in last place has no value: the name is missing. */
        {{"-p"}, 13, {}},
        {{"-p", "a", "-p"}, 13, {"a"}},
    };
    for (const auto &c : cases) {
        std::string shown;
        for (const auto &a : c.args) shown += "[" + a + "]";
        SCOPED_TRACE("args " + shown);
        InstallAgent();
        vt_test::WriteWholeFile(LogPath(), "");
        vt_test::ProcessResult result = Run(c.args);
        EXPECT_EQ(c.exitCode, result.exitCode) << result.err;
        std::vector<std::string> lines = vt_test::FileLines(LogPath());
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(0u, lines[0].rfind("Log open time: ", 0)) << lines[0];
        EXPECT_EQ(1, CountOpenLines(lines));
        EXPECT_EQ(c.logged, PatchNames(lines));
        if (c.exitCode == 13) {
            /* Without a patch name nothing but the log is touched. */
            EXPECT_EQ(1u + c.logged.size(), lines.size());
            EXPECT_EQ("", result.out);
        }
    }
}

TEST_F(PrereqProgram, LogFolderIsMadeAndLaterRunsAppend) {
    InstallAgent();
    ASSERT_FALSE(vt_test::PathExists(root_.Host(kInstallDir + "\\logs")));
    EXPECT_EQ(0, Run({"-p", "KB1"}).exitCode);
    std::vector<std::string> lines = vt_test::FileLines(LogPath());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(std::string::npos, lines[1].find("] [INFO] patchName : KB1"));
    EXPECT_EQ(0u, lines[1].find("[ "));

    EXPECT_TRUE(EndsLinesTheHostWay(vt_test::ReadWholeFile(LogPath())));

    EXPECT_EQ(13, Run({}).exitCode);
    const vt_test::ProcessResult second = Run({"-p", "KB2"});
    EXPECT_EQ(0, second.exitCode);
    EXPECT_TRUE(EndsLinesTheHostWay(second.out));
    lines = vt_test::FileLines(LogPath());
    EXPECT_EQ(3, CountOpenLines(lines));
    EXPECT_EQ((std::vector<std::string>{"KB1", "KB2"}), PatchNames(lines));
    /* The program never closes its log. */
    for (const std::string &line : lines) EXPECT_EQ(std::string::npos, line.find("Log close time"));
}

TEST_F(PrereqProgram, RunsOnWithoutALog) {
    /* No hive at all: no install directory, no log, the exit code as usual. */
    EXPECT_EQ(0, Run({"-p", "KB1"}).exitCode);
    EXPECT_EQ(13, Run({}).exitCode);
    EXPECT_FALSE(vt_test::PathExists(root_.Host(kInstallDir + "\\logs")));

    /* The install directory is named but missing: its logs folder cannot be made. */
    root_.WriteHive(kAgentKey);
    EXPECT_EQ(0, Run({"-p", "KB1"}).exitCode);
    EXPECT_EQ(13, Run({"-p"}).exitCode);
    EXPECT_FALSE(vt_test::PathExists(root_.Host(kInstallDir)));
}

}  // namespace
