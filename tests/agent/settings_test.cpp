/* The settings loader against hive fixtures: the summary block, every abort
 * point, defaults, normalisation, write-backs and the distribution-server route. */
#include "agent_fixture.h"

#include <algorithm>

#include "agent/settings.h"
#include "log/log.h"

namespace agent_test {
namespace {

const std::string kStars = "****************************************************************** \n";

/* The summary after a load of CompleteAgentHive. */
std::vector<std::string> ExpectedSummary() {
    const MachineFacts machine = ThisMachine();
#ifdef WINAPI_STANDIN
    const std::string ips = "192.168.1.10";
    const std::string macs = "00:1a:2b:3c:4d:5e";
#else
    /* The adapters are the machine's own: their lists as the loader made them. */
    const std::string ips = gv_localIPAddresses != nullptr ? gv_localIPAddresses : "(null)";
    const std::string macs = gv_localMACAddresses != nullptr ? gv_localMACAddresses : "(null)";
#endif
    return {
        kStars,
        "Vantrel Server Name                -> vt.corp.local \n",
        "Vantrel Server Flat Name           -> VTSRV \n",
        "Vantrel Server IPAddress           -> 10.1.2.3 \n",
        "Vantrel Server Secondary IPAddress -> 10.1.2.4 \n",
        "Vantrel Last Access Name           -> 10.1.2.3 \n",
        "Vantrel Server Port                -> 8020 \n",
        "Vantrel Server Protocol            -> http \n",
        "Vantrel Agent Version              -> 7.2.1 \n",
        "Vantrel Agent InstallDir           -> C:\\Program Files\\Vantrel\\Agent \n",
        "Vantrel Client Namespace           -> " + machine.nameSpace + " \n",
        "Vantrel Server Data Path           -> " + ThisMachineDataPath() + " \n",
        "Vantrel MSP Name\t           -> Acme MSP \n",
        "Vantrel Customer Name\t           -> Acme \n",
        "Vantrel Customer Id\t\t   -> ABC \n",
        "Vantrel Product Code               -> RERI \n",
        "Local Computer Name                       -> " + machine.hostName + " \n",
        "Local Computer IP Address                 -> " + ips + " \n",
        "Local Computer MAC Address                -> " + macs + " \n",
        "VT Distribution Server Enabled            -> no \n",
        "The remote office name is                 -> Branch 7 \n",
        "Vantrel Agent HTTP Request Timeout -> 30000 \n",
        "Local Computer Domain controller          -> " + machine.controller.value_or("(null)") + " \n",
        "The Agent Machine Resource Id is given by -> 4711 \n",
        "Agent Checksum Enabled\t\t               -> 1 \n",
        "Agent Data Transfer Rate in KBps\t\t   -> 512 \n",
        kStars,
    };
}

/* The error lines a load logs about this machine before the agent's own:
 * a machine no domain controller answers for says so and goes on. */
std::vector<std::string> MachineErrors() {
    std::vector<std::string> errors;
    if (!ThisMachine().controller) {
        errors.push_back("InitializeLocalMachineDetails : Error while fetching computer domain controller ! \n");
    }
    return errors;
}

bool Contains(const std::vector<std::string> &lines, const std::string &line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

/* The INFO lines from the first star line on (the summary and what follows). */
std::vector<std::string> InfoFromSummary(const std::vector<std::string> &info) {
    auto first = std::find(info.begin(), info.end(), kStars);
    return std::vector<std::string>(first, info.end());
}

class SettingsTest : public AgentTest {};

TEST_F(SettingsTest, CompleteConfigurationLogsTheSummaryInOrder) {
    WriteHive(CompleteAgentHive());
    ASSERT_EQ(0, InitializeAgentParameters());

    std::vector<std::string> info = log_.Messages("INFO");
    std::vector<std::string> expected = ExpectedSummary();
    EXPECT_EQ(expected, InfoFromSummary(info));
    EXPECT_TRUE(Contains(info, "InitializeAgentDetails : BlockedShutdown value : 0 \n"));

    std::vector<std::string> debug = log_.Messages("DEBUG");
    ASSERT_FALSE(debug.empty());
    EXPECT_EQ("@@@@@@@ Inside InitializeAgentParameters Method @@@@@@@@ \n", debug.front());
    EXPECT_EQ("@@@@@@@@ End Of InitializeAgentParameters Method @@@@@@@@ \n", debug.back());
    EXPECT_TRUE(Contains(debug, "InitializeAgentDetails : Some configuration is crashed (if value is one) : 0 \n"));
    EXPECT_EQ(MachineErrors(), log_.Messages("ERROR")) << log_.Text();

    EXPECT_EQ(8020, gv_serverHttpPort);
    EXPECT_EQ(8383, gv_serverSecurePort);
    EXPECT_STREQ("http", gv_dsProtocol);
    EXPECT_EQ(8020, gv_dsPort);
    EXPECT_EQ(30000u, gv_httpConnectionTimeout);
    EXPECT_STREQ("NO", gv_remoteOfficeMgmt);
    EXPECT_EQ(ThisMachine().joined ? 1 : 0, gv_isDomainJoined);
    EXPECT_STREQ(VT_IFMODIFIEDSINCE_KEY, gv_ifModifiedSinceKey);
    EXPECT_FALSE(gv_isWow64);
    ASSERT_NE(nullptr, gv_tempDir);
}

struct AbortCase {
    const char *key;
    const char *value;
    const char *stepLine;
    const char *groupLine;
};

const char kServerGroup[] = "InitializeAgentParameters : Error while fetching Server details from registry! \n";
const char kAgentGroup[] = "InitializeAgentParameters : Error while the Agent details ! \n";

TEST_F(SettingsTest, EachAbortPointStopsWithItsLinesAndNoSummary) {
    const AbortCase cases[] = {
        {SERVERINFO_KEY, "VTServerName",
         "InitializeServerDetailsFromRegistry : Error while fetching server name from registry! \n", kServerGroup},
        {SERVERINFO_KEY, "VTServerPort",
         "InitializeServerDetailsFromRegistry : Error while fetching server port from registry! \n", kServerGroup},
        {AGENT_KEY, "EnableDistributionServer", nullptr,
         "InitializeAgentParameters : Error while fetching Master Agent entry from registry! \n"},
        {AGENT_KEY, "DAZeredVersion", "InitializeAgentDetails : Error while fetching agent version from registry! \n",
         kAgentGroup},
        {AGENT_KEY, "MSPName", "InitializeAgentDetails : Error while fetching msp name from registry! \n",
         kAgentGroup},
        {AGENT_KEY, "CustomerName", "InitializeAgentDetails : Error while fetching customer name from registry! \n",
         kAgentGroup},
        {AGENT_KEY, "CustomerId", "InitializeAgentDetails : Error while fetching customer Id from registry! \n",
         kAgentGroup},
        {AGENT_KEY, "VTProductCode", "InitializeAgentDetails : Error while fetching product Code from registry! \n",
         kAgentGroup},
        {AGENT_KEY, "DAZeredInstallDir",
         "InitializeAgentDetails : Error while fetching install directory from registry! \n", kAgentGroup},
#ifdef WINAPI_STANDIN
        /* Failures of the machine's own calls, switched on through the emulated machine. */
        {"HKEY_LOCAL_MACHINE\\SYSTEM\\WinapiStandIn\\Network", "HostNameError",
         "InitializeLocalMachineDetails : Error occured while retrieving the local computer name !!! \n",
         "InitializeAgentParameters : Error while the local machine details ! \n"},
        {"HKEY_LOCAL_MACHINE\\SYSTEM\\WinapiStandIn\\Domain", "JoinError",
         "InitializeLocalMachineDetails : Error occured while retrieving the name space !!! \n",
         "InitializeAgentParameters : Error while the local machine details ! \n"},
#endif
    };
    for (const AbortCase &c : cases) {
        SCOPED_TRACE(c.value);
        ResetAgentSettings();
        Hive hive = CompleteAgentHive();
        /* The last two cases switch a failure on instead of removing a value. */
        if (std::string(c.value) == "HostNameError" || std::string(c.value) == "JoinError") {
            hive.Set(c.key, c.value, "dword:00002afc");
        } else {
            hive.Remove(c.key, c.value);
        }
        WriteHive(hive);
        const size_t before = log_.Messages().size();

        EXPECT_EQ(13, InitializeAgentParameters());

        std::vector<std::string> all = log_.Messages();
        std::vector<std::string> errors;
        bool starLine = false;
        for (size_t i = before; i < all.size(); ++i) {
            if (all[i].compare(0, 6, "ERROR ") == 0) errors.push_back(all[i].substr(6));
            if (all[i] == "INFO " + kStars) starLine = true;
        }
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(c.groupLine, errors.back());
        if (c.stepLine != nullptr) {
            ASSERT_GE(errors.size(), 2u);
            EXPECT_EQ(c.stepLine, errors[errors.size() - 2]);
        }
        EXPECT_FALSE(starLine) << "no summary after an abort";
    }
}

TEST_F(SettingsTest, AbortKeepsInitialValuesOfWhatWasNotRead) {
    WriteHive(CompleteAgentHive().Remove(SERVERINFO_KEY, "VTServerName"));
    EXPECT_EQ(13, InitializeAgentParameters());
    EXPECT_EQ(nullptr, gv_serverName);
    EXPECT_STREQ("http", gv_serverProtocol);
    EXPECT_STREQ("RERI", gv_vtProductCode);
    EXPECT_EQ(1024, gv_dataTransferRateKBps);
}

TEST_F(SettingsTest, EmptyCustomerIdFailsWithBothLines) {
    WriteHive(CompleteAgentHive().SetText(AGENT_KEY, "CustomerId", ""));
    EXPECT_EQ(13, InitializeAgentParameters());
    std::vector<std::string> errors = log_.Messages("ERROR");
    std::vector<std::string> expected = MachineErrors();
    expected.insert(expected.end(), {
                                        "GetCustomerId: error while retrieving customerid\n",
                                        "InitializeAgentDetails : Error while fetching customer Id from registry! \n",
                                        "InitializeAgentParameters : Error while the Agent details ! \n",
                                    });
    EXPECT_EQ(expected, errors);
}

TEST_F(SettingsTest, ProtocolAndPortChoice) {
    struct Case {
        const char *protocol;  /* null: value absent */
        const char *securePort;
        const char *expectProtocol;
        int expectPort;
        const char *httpPort;  /* null: the fixture's 8020 */
    };
    const Case cases[] = {
        {"https", nullptr, "https", 8383, nullptr},
        {"https", "9443", "https", 9443, nullptr},
        {"ftp", nullptr, "http", 8020, nullptr},
        {"HTTP", nullptr, "HTTP", 8020, nullptr},
        {nullptr, nullptr, "http", 8020, nullptr},
        /* A present secure-port text is converted even when it holds no digits. */
        {"https", "", "https", 0, nullptr},
        {"https", "x9443", "https", 0, nullptr},
        {"https", " 9443 ", "https", 9443, nullptr},
        /* An out-of-range port saturates; the derived secure port wraps instead of overflowing. */
        {"https", nullptr, "https", static_cast<int>(0x7FFFFFFFu + 363u), "99999999999"},
        {"http", nullptr, "http", 2147483647, "99999999999"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.protocol ? c.protocol : "(absent)") + " secure " +
                     (c.securePort ? c.securePort : "(absent)"));
        ResetAgentSettings();
        Hive hive = CompleteAgentHive();
        hive.SetTextOrRemove(SERVERINFO_KEY, "VTServerProtocol", c.protocol);
        if (c.securePort) hive.SetText(SERVERINFO_KEY, "VTServerSecurePort", c.securePort);
        if (c.httpPort) hive.SetText(SERVERINFO_KEY, "VTServerPort", c.httpPort);
        WriteHive(hive);
        ASSERT_EQ(0, InitializeAgentParameters());
        EXPECT_STREQ(c.expectProtocol, gv_serverProtocol);
        EXPECT_EQ(c.expectPort, gv_serverPort);
        /* Without a distribution server it speaks the same protocol on the same port. */
        EXPECT_STREQ(gv_serverProtocol, gv_dsProtocol);
        EXPECT_EQ(gv_serverPort, gv_dsPort);
    }
}

TEST_F(SettingsTest, TransferRateNormalisationAndWriteBack) {
    struct Case {
        const char *text;  /* null: value absent */
        int expectRate;
        bool expectZeroWritten;
    };
    const Case cases[] = {
        {"3072", 3072, false}, {"3073", 0, true}, {"-1", 0, true},
        {"", 0, true},         {nullptr, 0, true}, {"  64kb", 64, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(absent)");
        ResetAgentSettings();
        Hive hive = CompleteAgentHive();
        hive.SetTextOrRemove(AGENT_KEY, "DataTransferRate_KBps", c.text);
        WriteHive(hive);
        ASSERT_EQ(0, InitializeAgentParameters());
        EXPECT_EQ(c.expectRate, gv_dataTransferRateKBps);
        const std::optional<std::string> stored = StoredText(AGENT_KEY, "DataTransferRate_KBps");
        EXPECT_EQ(c.expectZeroWritten, stored == "0") << stored.value_or("(absent)");
    }
}

TEST_F(SettingsTest, DistributionRouteFlag) {
    struct Case {
        const char *text;  /* null: value absent */
        int expectRoute;
        const char *expectStored;  /* the stored text afterwards */
    };
    const Case cases[] = {
        {nullptr, 0, "no"},
        {"YES", 1, "YES"},
        {"", 0, ""},
        {"nope", 0, "nope"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(absent)");
        ResetAgentSettings();
        Hive hive = CompleteAgentHive();
        hive.SetTextOrRemove(AGENT_KEY, "EnableDSRoute", c.text);
        WriteHive(hive);
        ASSERT_EQ(0, InitializeAgentParameters());
        EXPECT_EQ(c.expectRoute, gv_enableDSRoute);
        EXPECT_EQ(std::optional<std::string>(c.expectStored), StoredText(AGENT_KEY, "EnableDSRoute"));
        /* The distribution server is off: the route never switches anything. */
        EXPECT_STREQ("vt.corp.local", gv_serverName);
    }
}

Hive DistributionHive() {
    return CompleteAgentHive()
        .SetText(AGENT_KEY, "EnableDistributionServer", "Yes")
        .SetText(SERVERINFO_KEY, "VTServerProtocol", "https")
        .SetText(SERVERINFO_KEY, "DistributionServerName", "ds.branch.local")
        .SetText(SERVERINFO_KEY, "DistributionServerFlatName", "DSFLAT")
        .SetText(SERVERINFO_KEY, "DistributionLastAccessName", "10.9.0.1")
        .SetText(SERVERINFO_KEY, "DistributionServerPort", "8080")
        .SetText(SERVERINFO_KEY, "DistributionServerIPAddress", "10.9.0.1")
        .SetText(SERVERINFO_KEY, "DistributionServerSecIPAddress", "1.2")
        .SetText(SERVERINFO_KEY, "DistributionServerProtocol", "http");
}

TEST_F(SettingsTest, DistributionServerWithoutRoute) {
    WriteHive(DistributionHive().SetText(SERVERINFO_KEY, "VTServerSecIPAddress", "1.2"));
    ASSERT_EQ(0, InitializeAgentParameters());

    /* The management protocol overwrites the stored one. */
    EXPECT_EQ(std::optional<std::string>("https"), StoredText(SERVERINFO_KEY, "DistributionServerProtocol"));
    EXPECT_STREQ("https", gv_dsProtocol);
    EXPECT_EQ(8443, gv_dsPort);
    /* Three characters: kept for the management server, dropped for the distribution server. */
    EXPECT_STREQ("1.2", gv_serverSecIPAddress);
    EXPECT_EQ(nullptr, gv_dsSecIPAddress);

    std::vector<std::string> tail = InfoFromSummary(log_.Messages("INFO"));
    std::vector<std::string> block(tail.begin() + ExpectedSummary().size(), tail.end());
    std::vector<std::string> expected = {
        "VT Distribution Server  Name      \t\t\t-> ds.branch.local \n",
        "VT Distribution Server  IPAddress \t\t\t-> 10.9.0.1 \n",
        "VT Distribution Server  Sec IPAddress         \t\t-> (null) \n",
        "VT Distribution Server  Port      \t\t\t-> 8443 \n",
        "VT Distribution Server  Last Access Name\t\t-> 10.9.0.1 \n",
        "VT Distribution Server  Protocol  \t\t\t-> https \n",
        kStars,
    };
    EXPECT_EQ(expected, block);
    EXPECT_STREQ("vt.corp.local", gv_serverName);
}

TEST_F(SettingsTest, DistributionRouteReplacesManagementServerAfterTheSummary) {
    WriteHive(DistributionHive()
                  .SetText(AGENT_KEY, "EnableDSRoute", "yes")
                  .SetText(AGENT_KEY, "ProxyEnabled", "yes")
                  .SetText(AGENT_KEY, "ProxyServerName", "proxy:3128"));
    ASSERT_EQ(0, InitializeAgentParameters());

    EXPECT_STREQ("ds.branch.local", gv_serverName);
    EXPECT_STREQ("ds.branch.local", gv_serverFlatName);
    EXPECT_STREQ("10.9.0.1", gv_serverIPAddress);
    EXPECT_EQ(nullptr, gv_serverSecIPAddress);
    EXPECT_STREQ("10.9.0.1", gv_lastAccessName);
    EXPECT_STREQ("NO", gv_proxyEnabled);
    EXPECT_EQ(8383, gv_serverPort);

    std::vector<std::string> tail = InfoFromSummary(log_.Messages("INFO"));
    ASSERT_GE(tail.size(), 3u);
    EXPECT_EQ("Vantrel Server Name                -> vt.corp.local \n", tail[1]);
    EXPECT_EQ("Enable Distribution Server Route                       -> 1 \n", tail[tail.size() - 2]);
    EXPECT_EQ(kStars, tail.back());
}

TEST_F(SettingsTest, RouteSwitchCopiesAbsentTextsAsAbsent) {
    WriteHive(DistributionHive()
                  .SetText(AGENT_KEY, "EnableDSRoute", "yes")
                  .Remove(SERVERINFO_KEY, "DistributionServerIPAddress")
                  .Remove(SERVERINFO_KEY, "DistributionLastAccessName"));
    ASSERT_EQ(0, InitializeAgentParameters());
    EXPECT_EQ(nullptr, gv_serverIPAddress);
    EXPECT_EQ(nullptr, gv_lastAccessName);
    EXPECT_STREQ("ds.branch.local", gv_serverName);
}

TEST_F(SettingsTest, DisabledDistributionServerIsNeitherReadNorRoutedTo) {
    WriteHive(DistributionHive()
                  .SetText(AGENT_KEY, "EnableDistributionServer", "yess")
                  .SetText(AGENT_KEY, "EnableDSRoute", "yes"));
    ASSERT_EQ(0, InitializeAgentParameters());
    EXPECT_EQ(1, gv_enableDSRoute);
    EXPECT_EQ(nullptr, gv_dsServerName);
    EXPECT_EQ(nullptr, gv_dsIPAddress);
    EXPECT_EQ(0, gv_dsHttpPort);
    EXPECT_STREQ("https", gv_dsProtocol);
    EXPECT_EQ(8383, gv_dsPort);
    /* The stored protocol is left alone and the management server stays in place. */
    EXPECT_EQ(std::optional<std::string>("http"), StoredText(SERVERINFO_KEY, "DistributionServerProtocol"));
    EXPECT_STREQ("vt.corp.local", gv_serverName);
    EXPECT_STREQ("VTSRV", gv_serverFlatName);
    EXPECT_EQ(ExpectedSummary().size(), InfoFromSummary(log_.Messages("INFO")).size());
}

TEST_F(SettingsTest, ChecksumFlag) {
    const std::pair<const char *, int> cases[] = {{nullptr, 1}, {"YES", 1}, {"no", 0}, {"", 0}, {"yes ", 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first ? c.first : "(absent)");
        Hive hive = CompleteAgentHive();
        hive.SetTextOrRemove(AGENT_KEY, "EnableChecksum", c.first);
        WriteHive(hive);
        EXPECT_EQ(c.second, IsChecksumEnabled());
    }
}

TEST_F(SettingsTest, DistributionServerAbortPoints) {
    const std::pair<const char *, const char *> cases[] = {
        {"DistributionServerName",
         "InitializeDSServerDetailsFromRegistry : Error while fetching Reporting server name from registry! \n"},
        {"DistributionServerPort",
         "InitializeDSServerDetailsFromRegistry : Error while fetching Reporting server port from registry! \n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        ResetAgentSettings();
        WriteHive(DistributionHive().Remove(SERVERINFO_KEY, c.first));
        EXPECT_EQ(13, InitializeAgentParameters());
        std::vector<std::string> errors = log_.Messages("ERROR");
        ASSERT_GE(errors.size(), 2u);
        EXPECT_EQ(c.second, errors[errors.size() - 2]);
        EXPECT_EQ("InitializeAgentParameters : Error while fetching DS Server details from registry! \n",
                  errors.back());
        EXPECT_TRUE(InfoFromSummary(log_.Messages("INFO")).empty()) << "no summary after an abort";
    }
}

TEST_F(SettingsTest, DataPathChecksumAndSecondaryAddress) {
    WriteHive(CompleteAgentHive()
                  .SetText(AGENT_KEY, "EnableChecksum", "no")
                  .SetText(SERVERINFO_KEY, "VTServerSecIPAddress", "ab"));
    ASSERT_EQ(0, InitializeAgentParameters());
    EXPECT_EQ(ThisMachineDataPath(), gv_serverDataPath);
    EXPECT_STREQ("ABC", gv_customerId);
    EXPECT_EQ(ThisMachine().nameSpace, gv_clientNamespace);
    EXPECT_EQ(0, gv_checksumEnabled);
    EXPECT_EQ(nullptr, gv_serverSecIPAddress);
}

TEST_F(SettingsTest, Wow64ChoosesTheRedirectedIfModifiedSinceKey) {
#ifndef WINAPI_STANDIN
    GTEST_SKIP() << "the 64-bit Windows test program reads its registry unredirected: the agent's Wow6432Node branch "
                    "needs a 32-bit process";
#endif
    /* On a 64-bit machine the 32-bit agent reads its settings from the redirected branch. */
    Hive complete = CompleteAgentHive();
    std::string text = complete.Render();
    const std::string from = "HKEY_LOCAL_MACHINE\\Software\\Corvane";
    const std::string to = "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Corvane";
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    text += "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment]\n"
            "\"PROCESSOR_ARCHITECTURE\"=\"AMD64\"\n\n";
    root_.WriteHive(text);
    ASSERT_EQ(0, InitializeAgentParameters());
    EXPECT_TRUE(gv_isWow64);
    EXPECT_STREQ("Software\\Wow6432Node\\Corvane\\Vantrel\\DAZered\\IfModifiedSince", gv_ifModifiedSinceKey);
    EXPECT_STREQ("vt.corp.local", gv_serverName);
}

TEST_F(SettingsTest, LastAccessWriteBacks) {
    WriteHive(CompleteAgentHive());
    EXPECT_EQ(13, SetLastAccessName(nullptr));
    EXPECT_EQ(13, SetDSLastAccessName(nullptr));
    EXPECT_EQ(0, SetLastAccessName("vt.corp.local"));
    EXPECT_EQ(0, SetDSLastAccessName("10.9.0.7"));
    EXPECT_EQ(std::optional<std::string>("vt.corp.local"), StoredText(SERVERINFO_KEY, "VTLastAccessName"));
    EXPECT_EQ(std::optional<std::string>("10.9.0.7"), StoredText(SERVERINFO_KEY, "DistributionLastAccessName"));
}

}  // namespace
}  // namespace agent_test
