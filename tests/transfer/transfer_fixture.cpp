#include "transfer_fixture.h"

#include <stdlib.h>
#include <string.h>

#include "agent/settings.h"
#include "platform/registry.h"
#include "transfer/session.h"
#include "winapi/wa_testhooks.h"
#include "winapi/wa_winhttp_hooks.h"

namespace transfer_test {

void TransferTest::SetUp()
{
    root_ = std::make_unique<vt_test::ScratchRoot>();
    root_->WriteHive("");
    vt_test::MakeDirs(root_->Host("C:\\Temp"));
    log_ = std::make_unique<CapturedLog>(4);
    wa_test::ResetWinHttpFaults();
    wa_test::RecordSleeps(true);
    wa_test::ClearRecordedSleeps();
    SetIfModifiedSinceEnabled(0);
    ClearLastModifiedTime();
    SetText(&gv_tempDir, "C:\\Temp");
    SetText(&gv_vtProductCode, "RERI");
    SetText(&gv_dsEnabled, "no");
    SetText(&gv_proxyEnabled, "NO");
    SetText(&gv_proxyServerName, nullptr);
    SetText(&gv_proxyByPass, "<local>");
    SetText(&gv_proxyUserName, "");
    SetText(&gv_proxyPassword, "");
    SetInt(&gv_dataTransferRateKBps, 0);
}

void TransferTest::TearDown()
{
    SetIfModifiedSinceEnabled(0);
    ClearLastModifiedTime();
    wa_test::ResetWinHttpFaults();
    wa_test::RecordSleeps(false);
    for (auto it = savedTexts_.rbegin(); it != savedTexts_.rend(); ++it) {
        free(*it->first);
        *it->first = it->second;
    }
    for (auto it = savedInts_.rbegin(); it != savedInts_.rend(); ++it)
        *it->first = it->second;
    savedTexts_.clear();
    savedInts_.clear();
    log_.reset();
    root_.reset();
}

void TransferTest::SetText(char **setting, const char *value)
{
    bool saved = false;
    for (auto &entry : savedTexts_)
        saved = saved || entry.first == setting;
    if (!saved) {
        savedTexts_.emplace_back(setting, *setting);
    } else {
        free(*setting);
    }
    *setting = value ? strdup(value) : nullptr;
}

void TransferTest::SetInt(int *setting, int value)
{
    bool saved = false;
    for (auto &entry : savedInts_)
        saved = saved || entry.first == setting;
    if (!saved)
        savedInts_.emplace_back(setting, *setting);
    *setting = value;
}

void TransferTest::UseManagementServer(int port, const char *protocol)
{
    SetText(&gv_serverProtocol, protocol);
    SetInt(&gv_serverPort, port);
    SetText(&gv_lastAccessName, "127.0.0.1");
    SetText(&gv_serverIPAddress, nullptr);
    SetText(&gv_serverSecIPAddress, nullptr);
    SetText(&gv_serverName, nullptr);
    SetText(&gv_serverFlatName, nullptr);
}

std::string TransferTest::ReadHostFile(const std::string &windowsPath) const
{
    return vt_test::ReadWholeFile(root_->Host(windowsPath));
}

bool TransferTest::Exists(const std::string &windowsPath) const
{
    return vt_test::PathExists(root_->Host(windowsPath));
}

std::string TransferTest::ServerInfoValue(const std::string &name) const
{
    char *value = nullptr;
    std::string text;
    if (ReadRegistryString(HKEY_LOCAL_MACHINE, VT_SERVERINFO_KEY, name.c_str(), &value) == ERROR_SUCCESS && value)
        text = value;
    free(value);
    return text;
}

void TransferTest::ForgetLastAccessNames()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, VT_SERVERINFO_KEY, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, "VTLastAccessName");
    RegDeleteValueA(key, "DistributionLastAccessName");
    RegCloseKey(key);
}

std::wstring Wide(const std::string &text) { return std::wstring(text.begin(), text.end()); }

}  // namespace transfer_test
