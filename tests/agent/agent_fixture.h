/* Shared fixtures of the agent tests: a scratch machine root with a hive built
 * value by value, and the log captured at the debug level. */
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/log_capture.h"
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
    /* The text value when `text` is given, no value at all when it is null. */
    Hive &SetTextOrRemove(const std::string &key, const std::string &name, const char *text);
    std::string Render() const;

private:
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> keys_;
};

/* Every value a complete agent configuration holds; on the stand-in also the
 * emulated machine: a 32-bit domain member with one adapter. */
Hive CompleteAgentHive();

/* What the settings loader finds out about the machine it runs on: on the
 * stand-in the emulated machine of CompleteAgentHive, elsewhere the machine
 * itself as its network and directory calls describe it. */
struct MachineFacts {
    std::string hostName;
    std::string nameSpace;            /* domain or workgroup */
    bool joined = false;              /* a domain member */
    std::optional<std::string> controller;  /* none when no controller answers */
};
MachineFacts ThisMachine();

/* The text with ASCII capitals made small, as the agent lowers names. */
std::string Lower(std::string text);

/* The data path the loader derives for customer "ABC" on this machine. */
std::string ThisMachineDataPath();

/* A text value under HKEY_LOCAL_MACHINE read back through the registry API
 * (`key` as in a Hive: "HKEY_LOCAL_MACHINE\\..."); none when it is absent. */
std::optional<std::string> StoredText(const std::string &key, const std::string &name);

using vt_test::SplitLogMessages;

/* Settings reset to their initial values, a scratch root and a captured log. */
class AgentTest : public ::testing::Test {
protected:
    AgentTest();
    ~AgentTest() override;
    void WriteHive(const Hive &hive) { root_.WriteHive(hive.Render()); }

    vt_test::ScratchRoot root_;
    vt_test::LogCapture log_{3};
};

}  // namespace agent_test
