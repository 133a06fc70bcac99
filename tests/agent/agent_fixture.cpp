#include "agent_fixture.h"

#include "agent/settings.h"

namespace agent_test {

std::string Lower(std::string text) {
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

MachineFacts ThisMachine() {
    MachineFacts facts;
#ifdef WINAPI_STANDIN
    facts.hostName = "PC01";
    facts.nameSpace = "Corp.Local";
    facts.joined = true;
    facts.controller = "DC01";
#else
    WSADATA wsa;
    WSAStartup(0x202, &wsa);
    char host[256] = {};
    if (gethostname(host, sizeof host) == 0) facts.hostName = host;
    WSACleanup();

    LPWSTR name = nullptr;
    NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
    if (NetGetJoinInformation(nullptr, &name, &status) == NERR_Success) {
        char narrow[512] = {};
        WideCharToMultiByte(CP_UTF8, 0, name, -1, narrow, sizeof narrow - 1, nullptr, nullptr);
        facts.nameSpace = narrow;
        facts.joined = status == NetSetupDomainName;
        NetApiBufferFree(name);
    }

    PDOMAIN_CONTROLLER_INFOA info = nullptr;
    if (DsGetDcNameA(nullptr, nullptr, nullptr, nullptr, DS_RETURN_FLAT_NAME, &info) == ERROR_SUCCESS) {
        const char *dc = info->DomainControllerName != nullptr ? info->DomainControllerName : "";
        facts.controller = std::string(dc).substr(std::string(dc).compare(0, 2, "\\\\") == 0 ? 2 : 0);
        NetApiBufferFree(info);
    }
#endif
    return facts;
}

std::string ThisMachineDataPath() { return "client-data/abc/domains/" + Lower(ThisMachine().nameSpace); }

std::optional<std::string> StoredText(const std::string &key, const std::string &name) {
    const std::string prefix = "HKEY_LOCAL_MACHINE\\";
    const std::string subKey = key.compare(0, prefix.size(), prefix) == 0 ? key.substr(prefix.size()) : key;
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return std::nullopt;
    char data[4096];
    DWORD type = 0;
    DWORD size = sizeof data - 1;
    const LONG status = RegQueryValueExA(handle, name.c_str(), nullptr, &type,
                                         reinterpret_cast<BYTE *>(data), &size);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
    data[size] = '\0';
    return std::string(data);
}

Hive &Hive::Set(const std::string &key, const std::string &name, const std::string &regValue) {
    for (auto &entry : keys_) {
        if (entry.first != key) continue;
        for (auto &value : entry.second) {
            if (value.first == name) {
                value.second = regValue;
                return *this;
            }
        }
        entry.second.emplace_back(name, regValue);
        return *this;
    }
    keys_.push_back({key, {{name, regValue}}});
    return *this;
}

Hive &Hive::SetText(const std::string &key, const std::string &name, const std::string &text) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\' || c == '"') escaped.push_back('\\');
        escaped.push_back(c);
    }
    return Set(key, name, "\"" + escaped + "\"");
}

Hive &Hive::SetTextOrRemove(const std::string &key, const std::string &name, const char *text) {
    return text != nullptr ? SetText(key, name, text) : Remove(key, name);
}

Hive &Hive::Remove(const std::string &key, const std::string &name) {
    for (auto &entry : keys_) {
        if (entry.first != key) continue;
        for (auto it = entry.second.begin(); it != entry.second.end(); ++it) {
            if (it->first == name) {
                entry.second.erase(it);
                return *this;
            }
        }
    }
    return *this;
}

std::string Hive::Render() const {
    std::string text;
    for (const auto &entry : keys_) {
        text += "[" + entry.first + "]\n";
        for (const auto &value : entry.second) {
            text += "\"" + value.first + "\"=" + value.second + "\n";
        }
        text += "\n";
    }
    return text;
}

Hive CompleteAgentHive() {
    Hive hive;
    hive.SetText(AGENT_KEY, "EnableDistributionServer", "no")
        .SetText(AGENT_KEY, "ProxyEnabled", "no")
        .SetText(AGENT_KEY, "DAZeredVersion", "7.2.1")
        .SetText(AGENT_KEY, "MSPName", "Acme MSP")
        .SetText(AGENT_KEY, "CustomerName", "Acme")
        .SetText(AGENT_KEY, "CustomerId", "ABC")
        .SetText(AGENT_KEY, "VTProductCode", "RERI")
        .SetText(AGENT_KEY, "DAZeredInstallDir", "C:\\Program Files\\Vantrel\\Agent")
        .SetText(AGENT_KEY, "RemoteOfficeName", "Branch 7")
        .SetText(AGENT_KEY, "RemoteOfficeID", "7")
        .Set(AGENT_KEY, "HTTPRequestTimeout", "dword:00007530")
        .SetText(AGENT_KEY, "DataTransferRate_KBps", "512")
        .SetText(AGENT_KEY, "EnableDSRoute", "no")
        .SetText(AGENT_KEY, "EnableChecksum", "yes")
        .SetText(SERVERINFO_KEY, "VTServerName", "vt.corp.local")
        .SetText(SERVERINFO_KEY, "VTServerFlatName", "VTSRV")
        .SetText(SERVERINFO_KEY, "VTServerIPAddress", "10.1.2.3")
        .SetText(SERVERINFO_KEY, "VTServerSecIPAddress", "10.1.2.4")
        .SetText(SERVERINFO_KEY, "VTLastAccessName", "10.1.2.3")
        .SetText(SERVERINFO_KEY, "VTServerPort", "8020")
        .SetText(SERVERINFO_KEY, "VTServerProtocol", "http")
        .SetText(SYSTEMDETAILS_KEY, "DAZeredResourceID", "4711");
#ifdef WINAPI_STANDIN
    hive.SetText("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
                 "ComputerName", "PC01")
        .Set("HKEY_LOCAL_MACHINE\\SYSTEM\\WinapiStandIn\\Network", "AdapterCount", "dword:00000001")
        .SetText("HKEY_LOCAL_MACHINE\\SYSTEM\\WinapiStandIn\\Network\\Adapter0", "MacAddress", "00-1A-2B-3C-4D-5E")
        .SetText("HKEY_LOCAL_MACHINE\\SYSTEM\\WinapiStandIn\\Network\\Adapter0", "IPAddress", "192.168.1.10")
        .SetText("HKEY_LOCAL_MACHINE\\SYSTEM\\WinapiStandIn\\Network\\Adapter0", "SubnetMask", "255.255.255.0")
        .Set("HKEY_LOCAL_MACHINE\\SYSTEM\\WinapiStandIn\\Domain", "JoinStatus", "dword:00000003")
        .SetText("HKEY_LOCAL_MACHINE\\SYSTEM\\WinapiStandIn\\Domain", "JoinName", "Corp.Local")
        .SetText("HKEY_LOCAL_MACHINE\\SYSTEM\\WinapiStandIn\\Domain", "DomainControllerName", "DC01");
#endif
    return hive;
}

AgentTest::AgentTest() { ResetAgentSettings(); }

AgentTest::~AgentTest() { ResetAgentSettings(); }

}  // namespace agent_test
