/* Shared fixtures of the agent tests: a scratch machine root with a hive built
 * value by value, and the log captured at the debug level. */
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/scratch_root.h"

namespace agent_test {

#define AGENT_KEY "HKEY_LOCAL_MACHINE\\Software\\Corvane\\Vantrel\\DAZered"
#define SERVERINFO_KEY AGENT_KEY "\\ServerInfo"
#define SYSTEMDETAILS_KEY AGENT_KEY "\\SystemDetails"

/* A .reg hive assembled from keys and values; values are given in .reg syntax
 * ("\"text\"", "dword:0000ea60"). Keys keep the order they were first used in. */
class Hive {
public:
    Hive &Set(const std::string &key, const std::string &name, const std::string &regValue);
    Hive &SetText(const std::string &key, const std::string &name, const std::string &text);
    Hive &Remove(const std::string &key, const std::string &name);
    std::string Render() const;

private:
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> keys_;
};

/* Every value a complete agent configuration holds, on a 32-bit domain machine
 * with one emulated adapter. */
Hive CompleteAgentHive();

/* The log, opened on a temporary file at level 3. */
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;
    /* Every message as "TAG message", in order. */
    std::vector<std::string> Messages() const;
    /* The messages with this tag, without the tag. */
    std::vector<std::string> Messages(const std::string &tag) const;
    std::string Text() const;

private:
    std::string dir_;
    std::string path_;
};

/* Splits a log text into "TAG message" entries. */
std::vector<std::string> SplitLogMessages(const std::string &text);

/* Settings reset to their initial values, a scratch root and a captured log. */
class AgentTest : public ::testing::Test {
protected:
    AgentTest();
    ~AgentTest() override;
    void WriteHive(const Hive &hive) { root_.WriteHive(hive.Render()); }
    std::string HiveText() const { return root_.ReadHive(); }

    vt_test::ScratchRoot root_;
    LogCapture log_;
};

}  // namespace agent_test
