/* The log file without the registry: line layout, levels, concurrency, the
 * open/close life cycle, path choice and folder creation. */
#include "log/log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cwchar>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/lines.h"
#include "support/scratch_root.h"
#include "util/locks.h"
#include "winapi/wa_testhooks.h"
#include "winapi/winapi.h"

namespace {

const std::string kStamp = R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3})";
const std::regex kOpenLine("Log open time: " + kStamp);
const std::regex kCloseLine("Log close time: " + kStamp);
/* One whole written line: prefix pieces, tag and the message's text. */
const std::regex kLogLine(R"(\[ )" + kStamp + R"( \] \[ (\d+) \] \[(INFO|ERROR|DEBUG|TRACE)\] (.*))");

class LogFile : public ::testing::Test {
protected:
    void SetUp() override {
        Reset();
        dir_ = vt_test::MakeTempDir("log.");
    }
    void TearDown() override { Reset(); }

    static void Reset() {
        CloseLogFile();
        ReleaseLogSettings();
        SetTamselRoot(nullptr);
    }

    /* The log of this test at `level`, opened the table store's way. */
    std::string Open(int level, bool append = true, const char *name = "test.log") {
        InitMutex();
        EXPECT_TRUE(InitLogDefaults());
        EXPECT_TRUE(SetLogParameters(name, dir_.c_str(), level));
        EXPECT_TRUE(append ? OpenLogFileAppend() : OpenLogFile());
        return dir_ + "/" + name;
    }

    std::string dir_;
};

TEST_F(LogFile, LineLayoutOfOpenAndLevelLines) {
    std::string path = Open(2);
    LogInfo("patchName : %s\n", "KB1");
    LogError("code %d char %c hex %X\n", -5, 'z', 0xBEEFu);
    std::vector<std::string> lines = vt_test::FileLines(path);
    ASSERT_EQ(3u, lines.size());
    EXPECT_TRUE(std::regex_match(lines[0], kOpenLine)) << lines[0];

    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[1], m, kLogLine)) << lines[1];
    EXPECT_EQ(std::to_string(GetCurrentThreadId()), m[1].str());
    EXPECT_EQ("INFO", m[2].str());
    EXPECT_EQ("patchName : KB1", m[3].str());
    ASSERT_TRUE(std::regex_match(lines[2], m, kLogLine)) << lines[2];
    EXPECT_EQ("ERROR", m[2].str());
    EXPECT_EQ("code -5 char z hex BEEF", m[3].str());

    /* The time stamp is today's local date. */
    SYSTEMTIME now;
    GetLocalTime(&now);
    char year[8];
    snprintf(year, sizeof year, "%d-", now.wYear);
    EXPECT_EQ(0u, lines[1].find(std::string("[ ") + year));

    char *stamp = GetTimeStamp();
    ASSERT_NE(nullptr, stamp);
    EXPECT_TRUE(std::regex_match(stamp, std::regex(kStamp))) << stamp;
    free(stamp);
}

TEST_F(LogFile, LevelTableKeepsOnlyTheLowEightBits) {
    const struct {
        int level;
        const char *tags;
    } cases[] = {
        {0, ""},          {1, "I"},         {2, "IE"},   {3, "IED"},    {4, "IEDT"},
        {5, "IEDT"},      {255, "IEDT"},    {256, ""},   {258, "IE"},   {-1, "IEDT"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("level " + std::to_string(c.level));
        std::string path = Open(c.level, false);
        LogInfo("i\n");
        LogError("e\n");
        LogDebug("d\n");
        LogTrace("t\n");
        std::string seen;
        for (const std::string &line : vt_test::FileLines(path)) {
            std::smatch m;
            if (std::regex_match(line, m, kLogLine)) seen += m[2].str()[0];
        }
        EXPECT_EQ(c.tags, seen);
        CloseLogFile();
    }
    /* A level changed on an open log applies at once. */
    std::string path = Open(2);
    SetLogLevel(256);
    LogInfo("muted\n");
    SetLogLevel(1);
    LogInfo("heard\n");
    std::string text = vt_test::ReadWholeFile(path);
    EXPECT_EQ(std::string::npos, text.find("muted"));
    EXPECT_NE(std::string::npos, text.find("heard"));
}

/* Host names, paths and headers reach the log as wide texts; one outside ASCII
 * must not cut its line short (the next line would run into it). */
TEST_F(LogFile, WideTextOutsideAsciiIsWrittenWhole) {
    const std::string path = Open(2);
    LogInfo("destination file %S \n", L"C:\\Programme\\M\u00fcller\\\u20ac.msi");
    LogInfo("next\n");
    const std::vector<std::string> lines = vt_test::FileLines(path);
    ASSERT_EQ(lines.size(), 3u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[1], m, kLogLine));
    EXPECT_EQ(m[3].str(), "destination file C:\\Programme\\M\xc3\xbcller\\\xe2\x82\xac.msi ");
    ASSERT_TRUE(std::regex_match(lines[2], m, kLogLine));
    EXPECT_EQ(m[3].str(), "next");
}

/* Every narrow conversion gives what the C runtime's own snprintf gives; wide
 * texts and characters are UTF-8, padded by bytes, and a precision never cuts a
 * character in two. */
TEST_F(LogFile, MessageConversionsFollowPrintfAndWideTextIsUtf8) {
    const std::string path = Open(2);
#define VT_NARROW_CASE "[%5d|%-5d|%05.1f|%x|%#o|%+i|%lu|%lld|%hd|%.3s|%-6s|%*d|%-*d|%.*s|%c|%%|%.2e|%u]\n", \
        42, -7, 3.14159, 0xbeefu, 8u, 5, 4000000000ul, -9000000000ll, static_cast<short>(-300), "abcdef", "ab", 4, 7, \
        3, 1, 2, "xyz", 'q', 12345.678, 0u
    char expected[512];
    snprintf(expected, sizeof expected, VT_NARROW_CASE);
    LogInfo(VT_NARROW_CASE);
#undef VT_NARROW_CASE
    const WCHAR *none = nullptr;
    LogInfo("<%S|%-8S|%5S|%.4S|%lc|%ls|%S|%S>\n", L"M\u00fcller", L"ab", L"\u20ac", L"\u00fc\u20acxyz",
            static_cast<wint_t>(L'\u20ac'), L"plain", none, L"");
    const std::vector<std::string> lines = vt_test::FileLines(path);
    ASSERT_EQ(lines.size(), 3u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[1], m, kLogLine)) << lines[1];
    EXPECT_EQ(m[3].str() + "\n", expected);
    ASSERT_TRUE(std::regex_match(lines[2], m, kLogLine)) << lines[2];
    EXPECT_EQ(m[3].str(), "<M\xc3\xbcller|ab      |  \xe2\x82\xac|\xc3\xbc|\xe2\x82\xac|plain|(null)|>");
}

TEST_F(LogFile, MessageWithoutLineEndContinuesTheLine) {
    std::string path = Open(2);
    LogInfo("first ");
    LogInfo("second\n");
    std::vector<std::string> lines = vt_test::FileLines(path);
    ASSERT_EQ(2u, lines.size());
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[1], m, kLogLine));
    ASSERT_TRUE(std::regex_match(m[3].str(), std::regex(R"(first \[ )" + kStamp + R"( \] \[ \d+ \] \[INFO\] second)")))
        << lines[1];
}

TEST_F(LogFile, TwoThreadsWriteWholeLinesOnly) {
    std::string path = Open(2);
    constexpr int kLines = 10000;
#ifdef WINAPI_STANDIN
    wa_test::ClearRecordedSleeps();
    wa_test::RecordSleeps(true);
#endif
    auto writer = [](int thread) {
        for (int i = 0; i < kLines; ++i) LogInfo("thread %d line %d of a longer message body\n", thread, i);
    };
    std::thread a(writer, 1), b(writer, 2);
    a.join();
    b.join();
#ifdef WINAPI_STANDIN
    wa_test::RecordSleeps(false);
    wa_test::ClearRecordedSleeps();
#endif

    std::vector<std::string> lines = vt_test::FileLines(path);
    ASSERT_EQ(1u + 2 * kLines, lines.size());
    const std::regex body(R"(thread (\d) line (\d+) of a longer message body)");
    std::map<int, int> next;  /* each thread's lines arrive whole and in order */
    std::map<int, std::string> threadIds;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch m, mb;
        ASSERT_TRUE(std::regex_match(lines[i], m, kLogLine)) << "line " << i << ": " << lines[i];
        std::string message = m[3].str();
        ASSERT_TRUE(std::regex_match(message, mb, body)) << "line " << i << ": " << lines[i];
        int thread = std::stoi(mb[1].str());
        ASSERT_EQ(next[thread], std::stoi(mb[2].str()));
        ++next[thread];
        if (threadIds.count(thread) == 0) threadIds[thread] = m[1].str();
        ASSERT_EQ(threadIds[thread], m[1].str());
    }
    EXPECT_EQ(kLines, next[1]);
    EXPECT_EQ(kLines, next[2]);
    EXPECT_NE(threadIds[1], threadIds[2]);
}

TEST_F(LogFile, WritesWithoutLogOrAfterReleaseAreNoOps) {
    /* Before any open: nothing to write to, nothing fails. */
    LogInfo("nobody hears this %d\n", 1);
    LogError("nor this\n");
    EXPECT_EQ(nullptr, gv_logFilePtr);

    std::string path = Open(4);
    LogInfo("kept\n");
    ReleaseLogSettings();
    LogInfo("dropped\n");
    LogError("dropped\n");
    std::string text = vt_test::ReadWholeFile(path);
    EXPECT_NE(std::string::npos, text.find("kept"));
    EXPECT_EQ(std::string::npos, text.find("dropped"));

    /* The defaults bring an open log back at level 3. */
    ASSERT_TRUE(InitLogDefaults());
    LogDebug("back\n");
    LogTrace("still above the level\n");
    text = vt_test::ReadWholeFile(path);
    EXPECT_NE(std::string::npos, text.find("[DEBUG] back"));
    EXPECT_EQ(std::string::npos, text.find("still above"));
}

TEST_F(LogFile, WritesKeepErrnoAndLastError) {
    Open(2);
    SetLastError(1234);
    errno = EACCES;
    LogError("failure %d\n", 1234);
    EXPECT_EQ(1234u, GetLastError());
    EXPECT_EQ(EACCES, errno);
}

TEST_F(LogFile, SecondOpenKeepsTheFileAndOnlyTraces) {
    std::string path = Open(4);
    std::string other = vt_test::MakeTempDir("log.other.");
    ASSERT_TRUE(SetLogDirectory(other.c_str()));
    EXPECT_TRUE(OpenLogFileAppend());
    EXPECT_TRUE(OpenLogFile());
    EXPECT_FALSE(vt_test::PathExists(other + "/test.log"));
    std::vector<std::string> lines = vt_test::FileLines(path);
    ASSERT_EQ(3u, lines.size());
    for (size_t i = 1; i < 3; ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, kLogLine)) << lines[i];
        EXPECT_EQ("TRACE", m[2].str());
        EXPECT_EQ("gv_logFilePtr already Set", m[3].str());
    }
    /* Below level 4 the second open leaves no trace at all. */
    SetLogLevel(3);
    EXPECT_TRUE(OpenLogFileAppend());
    EXPECT_EQ(3u, vt_test::FileLines(path).size());
}

TEST_F(LogFile, AppendKeepsEarlierRunsAndTruncateStartsOver) {
    std::string path = Open(2);
    LogInfo("run one\n");
    CloseLogFile();
    EXPECT_EQ(nullptr, gv_logFilePtr);
    std::vector<std::string> lines = vt_test::FileLines(path);
    ASSERT_EQ(3u, lines.size());
    EXPECT_TRUE(std::regex_match(lines[2], kCloseLine)) << lines[2];

    ASSERT_TRUE(OpenLogFileAppend());
    LogInfo("run two\n");
    lines = vt_test::FileLines(path);
    ASSERT_EQ(5u, lines.size());
    EXPECT_TRUE(std::regex_match(lines[0], kOpenLine));
    EXPECT_TRUE(std::regex_match(lines[3], kOpenLine));
    EXPECT_NE(std::string::npos, lines[1].find("run one"));
    EXPECT_NE(std::string::npos, lines[4].find("run two"));

    CloseLogFile();
    ASSERT_TRUE(OpenLogFile());
    lines = vt_test::FileLines(path);
    ASSERT_EQ(1u, lines.size());
    EXPECT_TRUE(std::regex_match(lines[0], kOpenLine));
}

TEST_F(LogFile, SettersRefuseEmptyValuesAndOpenNeedsAName) {
    EXPECT_FALSE(SetLogFileName(nullptr));
    EXPECT_FALSE(SetLogFileName(""));
    EXPECT_FALSE(SetLogDirectory(nullptr));
    EXPECT_FALSE(SetLogDirectory(""));
    EXPECT_FALSE(SetLogFilePtr(nullptr));
    EXPECT_FALSE(SetLogParameters(nullptr, dir_.c_str(), 2));
    /* Unconfigured: no file name, nothing to open. */
    EXPECT_FALSE(OpenLogFileAppend());
    EXPECT_EQ(nullptr, gv_logFilePtr);

    ASSERT_TRUE(InitLogDefaults());
    ASSERT_TRUE(SetLogFileName("renamed.log"));
    ASSERT_TRUE(SetLogDirectory(dir_.c_str()));
    ASSERT_TRUE(OpenLogFileAppend());
    EXPECT_TRUE(vt_test::PathExists(dir_ + "/renamed.log"));

    /* An adopted stream becomes the log. */
    CloseLogFile();
    FILE *stream = tmpfile();
    ASSERT_NE(nullptr, stream);
    ASSERT_TRUE(SetLogFilePtr(stream));
    SetLogLevel(1);
    LogInfo("adopted %d\n", 7);
    rewind(stream);
    char buffer[256] = {};
    ASSERT_NE(nullptr, fgets(buffer, sizeof buffer, stream));
    std::smatch m;
    std::string line(buffer);
    line.pop_back();
    ASSERT_TRUE(std::regex_match(line, m, kLogLine)) << line;
    EXPECT_EQ("adopted 7", m[3].str());
}

TEST_F(LogFile, PathChoiceDirectoryThenTableStoreRootThenSiblingLogsFolder) {
    /* The default name under the table store's root: its logs folder is made. */
    ASSERT_TRUE(InitLogDefaults());
    SetTamselRoot((dir_ + "/store").c_str());
    ASSERT_STREQ((dir_ + "/store").c_str(), GetTamselRoot());
    ASSERT_TRUE(OpenLogFileAppend());
    EXPECT_TRUE(vt_test::PathExists(dir_ + "/store/logs/tamsel.log"));
    CloseLogFile();

    /* A directory wins over the root; the folder chain is made. */
    ASSERT_TRUE(SetLogDirectory((dir_ + "/a/b/c").c_str()));
    ASSERT_TRUE(OpenLogFileAppend());
    EXPECT_TRUE(vt_test::PathExists(dir_ + "/a/b/c/tamsel.log"));
    CloseLogFile();
    ReleaseLogSettings();
    SetTamselRoot(nullptr);

    /* Neither: "../logs" beside the current directory. */
    std::string work = dir_ + "/cwd";
    vt_test::MakeDirs(work);
    char saved[4096];
    ASSERT_NE(nullptr, getcwd(saved, sizeof saved));
    ASSERT_EQ(0, chdir(work.c_str()));
    ASSERT_TRUE(InitLogDefaults());
    bool opened = OpenLogFileAppend();
    CloseLogFile();
    ASSERT_EQ(0, chdir(saved));
    EXPECT_TRUE(opened);
    EXPECT_TRUE(vt_test::PathExists(dir_ + "/logs/tamsel.log"));
}

TEST_F(LogFile, MakeDirectoryTreeResultCodes) {
    vt_test::WriteWholeFile(dir_ + "/plain", "x");
    const struct {
        std::string path;
        int expected;
    } cases[] = {
        {dir_ + "/t/u/v", 0},
        {dir_ + "/t/u/v", 1},
        {dir_ + "/t/u/v/", 1},
        {dir_ + "//t2//u", 0},
        /* The runtime's own answer for a folder under a file: POSIX names the file
         * "not a directory", the Windows runtime "no such file or directory". */
#ifdef WINAPI_STANDIN
        {dir_ + "/plain/sub", ENOTDIR},
#else
        {dir_ + "/plain/sub", ENOENT},
#endif
        {dir_ + "/plain", 1},
        /* No '/' to find a parent by: fails at once instead of looping. */
        {"no_such_parent_q7\\child", ENOENT},
        {"", ENOENT},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.expected, MakeDirectoryTree(c.path.c_str()));
    }
    EXPECT_TRUE(vt_test::PathExists(dir_ + "/t/u/v"));
    EXPECT_TRUE(vt_test::PathExists(dir_ + "/t2/u"));
    EXPECT_EQ(ENOENT, MakeDirectoryTree(nullptr));
}

TEST_F(LogFile, WindowsDirectoryReachesTheEmulatedDrive) {
    vt_test::ScratchRoot root;
    const std::string install = "C:\\Program Files\\Corvane\\Vantrel";
    vt_test::MakeDirs(root.Host(install));
    /* The parent exists: one level is made. A missing parent of a '\' path has
     * no '/' to climb by. */
    EXPECT_EQ(0, MakeDirectoryTree((install + "\\logs").c_str()));
    EXPECT_EQ(1, MakeDirectoryTree((install + "\\logs").c_str()));
    EXPECT_EQ(ENOENT, MakeDirectoryTree("C:\\Missing\\Deeper\\logs"));
    const std::string made = root.Host("C:\\Made");  // asked before it exists, so it goes with the root
    EXPECT_EQ(0, MakeDirectoryTree("C:/Made/By/Slashes"));
    EXPECT_TRUE(vt_test::PathExists(made));
    EXPECT_TRUE(vt_test::PathExists(root.Host("C:\\Made\\By\\Slashes")));

    InitMutex();
    ASSERT_TRUE(InitLogDefaults());
    ASSERT_TRUE(SetLogParameters("agent.log", (install + "\\logs").c_str(), 2));
    ASSERT_TRUE(OpenLogFileAppend());
    LogInfo("on the drive\n");
    CloseLogFile();
    std::vector<std::string> lines = vt_test::FileLines(root.Host(install + "\\logs\\agent.log"));
    ASSERT_EQ(3u, lines.size());
    EXPECT_NE(std::string::npos, lines[1].find("[INFO] on the drive"));
}

}  // namespace
