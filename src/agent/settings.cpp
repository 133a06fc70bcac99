/*
 * Agent settings: the loader that fills the process-wide values from the
 * agent's registry keys, the write-backs, and the distribution-server route.
 */
#include "agent/settings.h"
#include "agent/text_helpers.h"

#include "platform/files.h"
#include "platform/registry.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

/* ---- Process-wide values ---------------------------------------------------- */

char *gv_serverName = nullptr;
char *gv_serverFlatName = nullptr;
char *gv_serverIPAddress = nullptr;
char *gv_serverSecIPAddress = nullptr;
char *gv_lastAccessName = nullptr;
int gv_serverHttpPort = 0;
int gv_serverSecurePort = 0;
int gv_serverPort = 0;
char *gv_serverProtocol = vt_agent::NewText("http");

char *gv_dsEnabled = nullptr;
char *gv_dsServerName = nullptr;
char *gv_dsServerFlatName = nullptr;
char *gv_dsIPAddress = nullptr;
char *gv_dsSecIPAddress = nullptr;
char *gv_dsLastAccessName = nullptr;
int gv_dsHttpPort = 0;
int gv_dsSecurePort = 0;
int gv_dsPort = 0;
char *gv_dsProtocol = vt_agent::NewText("http");
int gv_enableDSRoute = 0;

char *gv_agentVersion = nullptr;
char *gv_mspName = nullptr;
char *gv_customerName = nullptr;
char *gv_customerId = nullptr;
char *gv_vtProductCode = vt_agent::NewText("RERI");
char *gv_remoteOfficeName = nullptr;
char *gv_remoteOfficeId = nullptr;
char *gv_remoteOfficeMgmt = vt_agent::NewText("NO");
char *gv_serverDataPath = nullptr;
char *gv_agentResourceId = nullptr;
char *gv_tempDir = nullptr;
char *gv_ifModifiedSinceKey = nullptr;
DWORD gv_blockCrashedConfig = 0;
DWORD gv_shutdownBlocked = 0;
int gv_checksumEnabled = 1;
char *gv_callerContext = nullptr;

DWORD gv_httpRequestTimeout = 60000;
DWORD gv_httpConnectionTimeout = 30000;
int gv_dataTransferRateKBps = 1024;

char *gv_proxyEnabled = vt_agent::NewText("NO");
char *gv_proxyServerName = nullptr;
char *gv_proxyByPass = vt_agent::NewText("<local>");
char *gv_proxyUserName = vt_agent::NewText("");
char *gv_proxyPassword = vt_agent::NewText("");

char *gv_localComputerName = nullptr;
char *gv_localIPAddresses = nullptr;
char *gv_localMACAddresses = nullptr;
char *gv_domainController = nullptr;
char *gv_clientNamespace = nullptr;
int gv_isDomainJoined = 1;

namespace {

const char kStarLine[] = "****************************************************************** \n";
const unsigned int kSecurePortOffset = 363;
const int kMaxTransferRateKBps = 3072;

using vt_agent::EqualsNoCase;
using vt_agent::ReadText;
using vt_agent::ReplaceText;

/* A secure-port text: its decimal value (0 for an empty text, like any text
 * without digits), or the HTTP port + 363 when the value is absent. */
int SecurePortFrom(const char *text, int httpPort) {
    if (text == nullptr) {
        /* Wraps like the 32-bit sum instead of overflowing for a saturated port. */
        return static_cast<int>(static_cast<unsigned int>(httpPort) + kSecurePortOffset);
    }
    return vt_agent::DecimalValue(text);
}

/* The protocol text, "http" when absent or shorter than 4 characters. */
void SetProtocol(char **target, char *readText) {
    if (readText == nullptr || strlen(readText) < 4) {
        free(readText);
        readText = vt_agent::NewText("http");
    }
    ReplaceText(target, readText);
}

/* Drops an address text of `maxDropped` characters or fewer. */
void DropShortAddress(char **address, size_t maxDropped) {
    if (*address != nullptr && strlen(*address) <= maxDropped) {
        free(*address);
        *address = nullptr;
    }
}

void LogSummary() {
    LogInfo("%s", kStarLine);
    LogInfo("Vantrel Server Name                -> %s \n", gv_serverName);
    LogInfo("Vantrel Server Flat Name           -> %s \n", gv_serverFlatName);
    LogInfo("Vantrel Server IPAddress           -> %s \n", gv_serverIPAddress);
    LogInfo("Vantrel Server Secondary IPAddress -> %s \n", gv_serverSecIPAddress);
    LogInfo("Vantrel Last Access Name           -> %s \n", gv_lastAccessName);
    LogInfo("Vantrel Server Port                -> %d \n", gv_serverPort);
    LogInfo("Vantrel Server Protocol            -> %s \n", gv_serverProtocol);
    LogInfo("Vantrel Agent Version              -> %s \n", gv_agentVersion);
    LogInfo("Vantrel Agent InstallDir           -> %s \n", gv_agentInstallDir);
    LogInfo("Vantrel Client Namespace           -> %s \n", gv_clientNamespace);
    LogInfo("Vantrel Server Data Path           -> %s \n", gv_serverDataPath);
    LogInfo("Vantrel MSP Name\t           -> %s \n", gv_mspName);
    LogInfo("Vantrel Customer Name\t           -> %s \n", gv_customerName);
    LogInfo("Vantrel Customer Id\t\t   -> %s \n", gv_customerId);
    LogInfo("Vantrel Product Code               -> %s \n", gv_vtProductCode);
    LogInfo("Local Computer Name                       -> %s \n", gv_localComputerName);
    LogInfo("Local Computer IP Address                 -> %s \n", gv_localIPAddresses);
    LogInfo("Local Computer MAC Address                -> %s \n", gv_localMACAddresses);
    LogInfo("VT Distribution Server Enabled            -> %s \n", gv_dsEnabled);
    LogInfo("The remote office name is                 -> %s \n", gv_remoteOfficeName);
    LogInfo("Vantrel Agent HTTP Request Timeout -> %d \n", (int)gv_httpRequestTimeout);
    LogInfo("Local Computer Domain controller          -> %s \n", gv_domainController);
    LogInfo("The Agent Machine Resource Id is given by -> %s \n", gv_agentResourceId);
    LogInfo("Agent Checksum Enabled\t\t               -> %d \n", gv_checksumEnabled);
    LogInfo("Agent Data Transfer Rate in KBps\t\t   -> %d \n", gv_dataTransferRateKBps);
    LogInfo("%s", kStarLine);
}

void LogDistributionServer() {
    LogInfo("VT Distribution Server  Name      \t\t\t-> %s \n", gv_dsServerName);
    LogInfo("VT Distribution Server  IPAddress \t\t\t-> %s \n", gv_dsIPAddress);
    LogInfo("VT Distribution Server  Sec IPAddress         \t\t-> %s \n", gv_dsSecIPAddress);
    LogInfo("VT Distribution Server  Port      \t\t\t-> %d \n", gv_dsPort);
    LogInfo("VT Distribution Server  Last Access Name\t\t-> %s \n", gv_dsLastAccessName);
    LogInfo("VT Distribution Server  Protocol  \t\t\t-> %s \n", gv_dsProtocol);
    LogInfo("%s", kStarLine);
}

/* The IfModifiedSince key path for this process's registry view. */
void ChooseIfModifiedSinceKey() {
    BOOL wow64 = FALSE;
    LoadWow64Functions();
    if (gv_isWow64ProcessFn != nullptr && gv_isWow64ProcessFn(GetCurrentProcess(), &wow64)) {
        gv_isWow64 = wow64 ? TRUE : FALSE;
    } else {
        gv_isWow64 = FALSE;
    }
    ReplaceText(&gv_ifModifiedSinceKey,
                vt_agent::NewText(gv_isWow64 ? VT_IFMODIFIEDSINCE_WOW64_KEY : VT_IFMODIFIEDSINCE_KEY));
}

void ReadTempDir() {
    const DWORD kTempDirBytes = 255;
    free(gv_tempDir);
    gv_tempDir = static_cast<char *>(calloc(kTempDirBytes, 1));
    if (gv_tempDir == nullptr) {
        return;
    }
    DWORD length = GetEnvironmentVariableA("TEMP", gv_tempDir, kTempDirBytes - 1);
    if (length >= kTempDirBytes - 1) {
        /* Too long for the buffer: the system wrote nothing usable. */
        memset(gv_tempDir, 0, kTempDirBytes);
    }
}

/* Rate limit in KB/s: 0 (no limit) for an absent, empty or out-of-range text. */
void NormaliseTransferRate() {
    char *text = nullptr;
    LONG status = ReadText(VT_AGENT_KEY, "DataTransferRate_KBps", &text);
    int rate = 0;
    bool writeZero = false;
    if (status != ERROR_SUCCESS) {
        writeZero = true;
    } else if (text[0] == '\0') {
        writeZero = true;
    } else {
        rate = vt_agent::DecimalValue(text);
        if (static_cast<unsigned int>(rate) > static_cast<unsigned int>(kMaxTransferRateKBps)) {
            rate = 0;
            writeZero = true;
        }
    }
    ReplaceText(&text, nullptr);
    if (writeZero) {
        SetDataTransferRate(0);
    }
    gv_dataTransferRateKBps = rate;
}

DWORD DwordOrDefault(const char *name, DWORD fallback) {
    DWORD value = 0;
    if (ReadRegistryDword(HKEY_LOCAL_MACHINE, VT_AGENT_KEY, name, &value) != ERROR_SUCCESS) {
        return fallback;
    }
    return value;
}

/* Reads a text of the agent key, with `fallback` when the value is absent. */
void ReadTextOrDefault(const char *name, char **target, const char *fallback) {
    char *text = nullptr;
    if (ReadText(VT_AGENT_KEY, name, &text) != ERROR_SUCCESS) {
        text = vt_agent::NewText(fallback);
    }
    ReplaceText(target, text);
}

/* Replaces *target by a copy of source (null stays null). */
void CopyOver(char **target, const char *source) {
    ReplaceText(target, vt_agent::NewText(source));
}

std::string LowerCopy(const char *text) {
    std::string lowered = text != nullptr ? text : "";
    for (char &c : lowered) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lowered;
}

}  // namespace

/* ---- Operations ------------------------------------------------------------------ */

int InitializeServerDetailsFromRegistry(void) {
    if (ReadText(VT_SERVERINFO_KEY, "VTServerName", &gv_serverName) != ERROR_SUCCESS) {
        LogError("InitializeServerDetailsFromRegistry : Error while fetching server name from registry! \n");
        return VT_SETTINGS_MISSING;
    }
    if (ReadText(VT_SERVERINFO_KEY, "VTServerFlatName", &gv_serverFlatName) != ERROR_SUCCESS) {
        LogError("InitializeServerDetailsFromRegistry : Error while fetching server flat name from registry! \n");
    }
    if (ReadText(VT_SERVERINFO_KEY, "VTServerIPAddress", &gv_serverIPAddress) != ERROR_SUCCESS) {
        LogError("InitializeServerDetailsFromRegistry : Error while fetching server ipaddress from registry! \n");
    }
    if (ReadText(VT_SERVERINFO_KEY, "VTServerSecIPAddress", &gv_serverSecIPAddress) != ERROR_SUCCESS) {
        LogError("InitializeServerDetailsFromRegistry : Error while fetching server Secondary ipaddress from "
                 "registry! \n");
    }
    DropShortAddress(&gv_serverSecIPAddress, 2);
    if (ReadText(VT_SERVERINFO_KEY, "VTLastAccessName", &gv_lastAccessName) != ERROR_SUCCESS) {
        LogError("InitializeServerDetailsFromRegistry : Error while fetching server last access name from "
                 "registry! \n");
    }

    char *text = nullptr;
    if (ReadText(VT_SERVERINFO_KEY, "VTServerPort", &text) != ERROR_SUCCESS) {
        LogError("InitializeServerDetailsFromRegistry : Error while fetching server port from registry! \n");
        return VT_SETTINGS_MISSING;
    }
    gv_serverHttpPort = vt_agent::DecimalValue(text);
    ReplaceText(&text, nullptr);

    ReadText(VT_SERVERINFO_KEY, "VTServerSecurePort", &text);
    gv_serverSecurePort = SecurePortFrom(text, gv_serverHttpPort);
    ReplaceText(&text, nullptr);

    ReadText(VT_SERVERINFO_KEY, "VTServerProtocol", &text);
    SetProtocol(&gv_serverProtocol, text);

    gv_serverPort = EqualsNoCase(gv_serverProtocol, "http") ? gv_serverHttpPort : gv_serverSecurePort;
    return VT_SETTINGS_OK;
}

int InitializeDSServerDetailsFromRegistry(void) {
    LogDebug("InitializeDSServerDetailsFromRegistry : Reading reporting server regsirty entries\n");
    if (ReadText(VT_SERVERINFO_KEY, "DistributionServerName", &gv_dsServerName) != ERROR_SUCCESS) {
        LogError("InitializeDSServerDetailsFromRegistry : Error while fetching Reporting server name from "
                 "registry! \n");
        return VT_SETTINGS_MISSING;
    }
    if (ReadText(VT_SERVERINFO_KEY, "DistributionServerFlatName", &gv_dsServerFlatName) != ERROR_SUCCESS) {
        LogError("InitializeDSServerDetailsFromRegistry : Error while fetching Reporting server flat name from "
                 "registry! \n");
    }
    if (ReadText(VT_SERVERINFO_KEY, "DistributionLastAccessName", &gv_dsLastAccessName) != ERROR_SUCCESS) {
        LogError("InitializeDSServerDetailsFromRegistry : Error while fetching Reporting server last access name "
                 "from registry! \n");
    }

    char *text = nullptr;
    if (ReadText(VT_SERVERINFO_KEY, "DistributionServerPort", &text) != ERROR_SUCCESS) {
        LogError("InitializeDSServerDetailsFromRegistry : Error while fetching Reporting server port from "
                 "registry! \n");
        return VT_SETTINGS_MISSING;
    }
    gv_dsHttpPort = vt_agent::DecimalValue(text);
    ReplaceText(&text, nullptr);

    ReadText(VT_SERVERINFO_KEY, "DistributionServerSecurePort", &text);
    gv_dsSecurePort = SecurePortFrom(text, gv_dsHttpPort);
    ReplaceText(&text, nullptr);

    if (ReadText(VT_SERVERINFO_KEY, "DistributionServerIPAddress", &gv_dsIPAddress) != ERROR_SUCCESS) {
        LogError("InitializeDSServerDetailsFromRegistry : Error while fetching Reporting server ipaddress from "
                 "registry! \n");
    }
    if (ReadText(VT_SERVERINFO_KEY, "DistributionServerSecIPAddress", &gv_dsSecIPAddress) != ERROR_SUCCESS) {
        LogError("InitializeDSServerDetailsFromRegistry : Error while fetching Reporting secondary server "
                 "ipaddress from registry! \n");
    }
    DropShortAddress(&gv_dsSecIPAddress, 3);

    /* The distribution server always speaks the management server's protocol. */
    SetRegistryValue(HKEY_LOCAL_MACHINE, VT_SERVERINFO_KEY, "DistributionServerProtocol", gv_serverProtocol,
                     REG_SZ);
    ReadText(VT_SERVERINFO_KEY, "DistributionServerProtocol", &text);
    SetProtocol(&gv_dsProtocol, text);

    gv_dsPort = EqualsNoCase(gv_dsProtocol, "http") ? gv_dsHttpPort : gv_dsSecurePort;
    return VT_SETTINGS_OK;
}

int GetCustomerId(char **customerId) {
    LONG status = ReadText(VT_AGENT_KEY, "CustomerId", customerId);
    if (status == ERROR_SUCCESS && *customerId != nullptr && (*customerId)[0] != '\0') {
        return VT_SETTINGS_OK;
    }
    LogError("GetCustomerId: error while retrieving customerid\n");
    return VT_SETTINGS_MISSING;
}

int GetEnableDSRoute(void) {
    char *text = nullptr;
    LONG status = ReadText(VT_AGENT_KEY, "EnableDSRoute", &text);
    if (status == ERROR_SUCCESS) {
        if (text[0] != '\0') {
            gv_enableDSRoute = EqualsNoCase(text, "yes") ? 1 : 0;
        }
        ReplaceText(&text, nullptr);
        return ERROR_SUCCESS;
    }
    gv_enableDSRoute = 0;
    return SetRegistryValue(HKEY_LOCAL_MACHINE, VT_AGENT_KEY, "EnableDSRoute", "no", REG_SZ);
}

int IsChecksumEnabled(void) {
    char *text = nullptr;
    int enabled = 1;
    if (ReadText(VT_AGENT_KEY, "EnableChecksum", &text) == ERROR_SUCCESS) {
        enabled = EqualsNoCase(text, "yes") ? 1 : 0;
    }
    ReplaceText(&text, nullptr);
    return enabled;
}

int SetDataTransferRate(unsigned int rateKBps) {
    char text[16] = {0};
    snprintf(text, sizeof text, "%u", rateKBps);
    return SetRegistryValue(HKEY_LOCAL_MACHINE, VT_AGENT_KEY, "DataTransferRate_KBps", text, REG_SZ);
}

int SetLastAccessName(const char *accessName) {
    if (accessName == nullptr) {
        return VT_SETTINGS_MISSING;
    }
    return SetRegistryValue(HKEY_LOCAL_MACHINE, VT_SERVERINFO_KEY, "VTLastAccessName", accessName, REG_SZ);
}

int SetDSLastAccessName(const char *accessName) {
    if (accessName == nullptr) {
        return VT_SETTINGS_MISSING;
    }
    return SetRegistryValue(HKEY_LOCAL_MACHINE, VT_SERVERINFO_KEY, "DistributionLastAccessName", accessName,
                            REG_SZ);
}

void SwitchToDistributionServerRoute(void) {
    /* The flat name takes the distribution server's name: the distribution
     * server is reached by that name on every fallback step. Absent texts are
     * copied as absent. */
    CopyOver(&gv_serverName, gv_dsServerName);
    CopyOver(&gv_serverFlatName, gv_dsServerName);
    CopyOver(&gv_serverIPAddress, gv_dsIPAddress);
    CopyOver(&gv_serverSecIPAddress, gv_dsSecIPAddress);
    CopyOver(&gv_lastAccessName, gv_dsLastAccessName);
    CopyOver(&gv_proxyEnabled, "NO");
}

int InitializeAgentDetails(void) {
    if (ReadText(VT_AGENT_KEY, "DAZeredVersion", &gv_agentVersion) != ERROR_SUCCESS) {
        LogError("InitializeAgentDetails : Error while fetching agent version from registry! \n");
        return VT_SETTINGS_MISSING;
    }
    if (ReadText(VT_AGENT_KEY, "MSPName", &gv_mspName) != ERROR_SUCCESS) {
        LogError("InitializeAgentDetails : Error while fetching msp name from registry! \n");
        return VT_SETTINGS_MISSING;
    }
    if (ReadText(VT_AGENT_KEY, "CustomerName", &gv_customerName) != ERROR_SUCCESS) {
        LogError("InitializeAgentDetails : Error while fetching customer name from registry! \n");
        return VT_SETTINGS_MISSING;
    }
    if (GetCustomerId(&gv_customerId) != VT_SETTINGS_OK) {
        LogError("InitializeAgentDetails : Error while fetching customer Id from registry! \n");
        return VT_SETTINGS_MISSING;
    }
    if (ReadText(VT_AGENT_KEY, "VTProductCode", &gv_vtProductCode) != ERROR_SUCCESS) {
        LogError("InitializeAgentDetails : Error while fetching product Code from registry! \n");
        return VT_SETTINGS_MISSING;
    }
    /* Every path of the agent is formed from it in the ANSI code page: a folder
     * that code page cannot name is no install directory at all. */
    char *installDir = nullptr;
    const LONG dirStatus = ReadRegistryPath(HKEY_LOCAL_MACHINE, VT_AGENT_KEY, "DAZeredInstallDir", &installDir);
    vt_agent::ReplaceText(&gv_agentInstallDir, installDir);
    if (dirStatus == ERROR_NO_UNICODE_TRANSLATION)
        LogError("InitializeAgentDetails : The install directory holds characters outside the ANSI code page and "
                 "cannot be named! \n");
    if (dirStatus != ERROR_SUCCESS) {
        LogError("InitializeAgentDetails : Error while fetching install directory from registry! \n");
        return VT_SETTINGS_MISSING;
    }

    if (ReadText(VT_AGENT_KEY, "RemoteOfficeName", &gv_remoteOfficeName) != ERROR_SUCCESS) {
        LogError("InitializeAgentDetails : Error while fetching branch office Name from registry! \n");
    }
    if (ReadText(VT_AGENT_KEY, "RemoteOfficeID", &gv_remoteOfficeId) != ERROR_SUCCESS) {
        LogError("InitializeAgentDetails : Error while fetching branch office ID from registry! \n");
    }

    ReadTextOrDefault("EnableRemoteOfficeMgmt", &gv_remoteOfficeMgmt, "NO");
    gv_httpRequestTimeout = DwordOrDefault("HTTPRequestTimeout", 60000);
    gv_httpConnectionTimeout = DwordOrDefault("HTTPConnectionTimeout", 30000);

    NormaliseTransferRate();

    if (GetEnableDSRoute() != ERROR_SUCCESS) {
        LogError("InitializeAgentDetails : Error while fetching GetEnableDSRoute from registry! \n");
    }

    gv_blockCrashedConfig = DwordOrDefault("BlockCrashedConfig", 0);
    LogDebug("InitializeAgentDetails : Some configuration is crashed (if value is one) : %d \n",
             (int)gv_blockCrashedConfig);
    gv_shutdownBlocked = DwordOrDefault("ShutdownBlocked", 0);
    LogInfo("InitializeAgentDetails : BlockedShutdown value : %d \n", (int)gv_shutdownBlocked);

    std::string dataPath = "client-data/";
    dataPath += LowerCopy(gv_customerId);
    dataPath += "/domains/";
    dataPath += LowerCopy(gv_clientNamespace);
    ReplaceText(&gv_serverDataPath, vt_agent::NewText(dataPath.c_str()));

    /* The identifier is optional for this program: whatever the lookup says, go on. */
    GetResourceID(&gv_agentResourceId);

    gv_checksumEnabled = IsChecksumEnabled();
    return VT_SETTINGS_OK;
}

int InitializeAgentParameters(void) {
    LogDebug("@@@@@@@ Inside InitializeAgentParameters Method @@@@@@@@ \n");

    ChooseIfModifiedSinceKey();
    ReadTempDir();

    if (InitializeServerDetailsFromRegistry() != VT_SETTINGS_OK) {
        LogError("InitializeAgentParameters : Error while fetching Server details from registry! \n");
        return VT_SETTINGS_MISSING;
    }

    if (ReadText(VT_AGENT_KEY, "EnableDistributionServer", &gv_dsEnabled) != ERROR_SUCCESS) {
        LogError("InitializeAgentParameters : Error while fetching Master Agent entry from registry! \n");
        return VT_SETTINGS_MISSING;
    }

    const bool dsEnabled = EqualsNoCase(gv_dsEnabled, "yes");
    if (!dsEnabled) {
        CopyOver(&gv_dsProtocol, gv_serverProtocol);
        gv_dsPort = gv_serverPort;
    } else if (InitializeDSServerDetailsFromRegistry() != VT_SETTINGS_OK) {
        LogError("InitializeAgentParameters : Error while fetching DS Server details from registry! \n");
        return VT_SETTINGS_MISSING;
    }

    if (InitializeLocalMachineDetails() != VT_SETTINGS_OK) {
        LogError("InitializeAgentParameters : Error while the local machine details ! \n");
        return VT_SETTINGS_MISSING;
    }

    ReadTextOrDefault("ProxyEnabled", &gv_proxyEnabled, "NO");
    if (EqualsNoCase(gv_proxyEnabled, "yes")) {
        InitializeProxyDetails();
    }

    if (InitializeAgentDetails() != VT_SETTINGS_OK) {
        LogError("InitializeAgentParameters : Error while the Agent details ! \n");
        return VT_SETTINGS_MISSING;
    }

    LogSummary();

    if (dsEnabled) {
        LogDistributionServer();
        if (gv_enableDSRoute == 1) {
            SwitchToDistributionServerRoute();
            LogInfo("Enable Distribution Server Route                       -> %d \n", gv_enableDSRoute);
            LogInfo("%s", kStarLine);
        }
    }

    LogDebug("@@@@@@@@ End Of InitializeAgentParameters Method @@@@@@@@ \n");
    return VT_SETTINGS_OK;
}

void ResetAgentSettings(void) {
    char **texts[] = {
        &gv_serverName, &gv_serverFlatName, &gv_serverIPAddress, &gv_serverSecIPAddress, &gv_lastAccessName,
        &gv_dsEnabled, &gv_dsServerName, &gv_dsServerFlatName, &gv_dsIPAddress, &gv_dsSecIPAddress,
        &gv_dsLastAccessName, &gv_agentVersion, &gv_mspName, &gv_customerName, &gv_customerId,
        &gv_remoteOfficeName, &gv_remoteOfficeId, &gv_serverDataPath, &gv_agentResourceId, &gv_tempDir,
        &gv_ifModifiedSinceKey, &gv_callerContext, &gv_proxyServerName, &gv_localComputerName,
        &gv_localIPAddresses, &gv_localMACAddresses, &gv_domainController, &gv_clientNamespace,
    };
    for (char **text : texts) {
        ReplaceText(text, nullptr);
    }
    ReplaceText(&gv_serverProtocol, vt_agent::NewText("http"));
    ReplaceText(&gv_dsProtocol, vt_agent::NewText("http"));
    ReplaceText(&gv_vtProductCode, vt_agent::NewText("RERI"));
    ReplaceText(&gv_remoteOfficeMgmt, vt_agent::NewText("NO"));
    ReplaceText(&gv_proxyEnabled, vt_agent::NewText("NO"));
    ReplaceText(&gv_proxyByPass, vt_agent::NewText("<local>"));
    ReplaceText(&gv_proxyUserName, vt_agent::NewText(""));
    ReplaceText(&gv_proxyPassword, vt_agent::NewText(""));
    gv_serverHttpPort = gv_serverSecurePort = gv_serverPort = 0;
    gv_dsHttpPort = gv_dsSecurePort = gv_dsPort = 0;
    gv_enableDSRoute = 0;
    gv_blockCrashedConfig = gv_shutdownBlocked = 0;
    gv_checksumEnabled = 1;
    gv_httpRequestTimeout = 60000;
    gv_httpConnectionTimeout = 30000;
    gv_dataTransferRateKBps = 1024;
    gv_isDomainJoined = 1;
}
