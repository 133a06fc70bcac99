/* Shared set-up of the transfer tests: a scratch machine root with an empty
 * hive and a TEMP folder, the log captured at the most detailed level, the Sleep
 * recorder on and no injected WinHTTP faults, and the agent
 * settings the transfer code reads set to test values (restored afterwards). */
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/log_capture.h"
#include "support/scratch_root.h"
#include "winapi/winapi.h"

namespace transfer_test {

/* The captured log; its lines end in "\n" on both hosts. */
using CapturedLog = vt_test::LogCapture;

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /* Replaces a text setting with a heap copy of `value` (null for absent). */
    void SetText(char **setting, const char *value);
    void SetInt(int *setting, int value);
    /* Management server reachable at 127.0.0.1:port over `protocol`; every other
     * address of it absent; no distribution server, no proxy, no edition rewrite. */
    void UseManagementServer(int port, const char *protocol = "http");

    /* Host path of a Windows path under the scratch root. */
    std::string Host(const std::string &windowsPath) const { return root_->Host(windowsPath); }
    std::string ReadHostFile(const std::string &windowsPath) const;
    bool Exists(const std::string &windowsPath) const;
    /* Text value `name` of the agent's ServerInfo key ("" when absent). */
    std::string ServerInfoValue(const std::string &name) const;
    /* Removes the stored last access addresses of both servers. */
    void ForgetLastAccessNames();

    std::unique_ptr<vt_test::ScratchRoot> root_;
    std::unique_ptr<CapturedLog> log_;

private:
    std::vector<std::pair<char **, char *>> savedTexts_;
    std::vector<std::pair<int *, int>> savedInts_;
};

/* Wide text for the direct calls of the download and upload operations. */
std::wstring Wide(const std::string &text);

}  // namespace transfer_test
