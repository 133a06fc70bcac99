/* Machine details from an emulated adapter list and emulated domain settings. */
#include "agent_fixture.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "agent/settings.h"

namespace agent_test {
namespace {

const char kNetwork[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\WinapiStandIn\\Network";
const char kDomain[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\WinapiStandIn\\Domain";

struct AdapterSpec {
    const char *mac;
    const char *ips;
    const char *masks;
};

Hive AdapterHive(const std::vector<AdapterSpec> &adapters) {
    Hive hive;
    char count[32];
    snprintf(count, sizeof count, "dword:%08zx", adapters.size());
    hive.Set(kNetwork, "AdapterCount", count);
    for (size_t i = 0; i < adapters.size(); ++i) {
        const std::string key = std::string(kNetwork) + "\\Adapter" + std::to_string(i);
        hive.SetText(key, "MacAddress", adapters[i].mac)
            .SetText(key, "IPAddress", adapters[i].ips)
            .SetText(key, "SubnetMask", adapters[i].masks)
            .Set(key, "Index", "dword:0000000" + std::to_string(i + 2));
    }
    return hive;
}

/* Runs GetLocalAddresses with standard output captured. */
struct AddressResult {
    int status = -1;
    std::string ips;
    std::string macs;
    std::string console;
};

AddressResult RunGetLocalAddresses() {
    AddressResult result;
    char *ips = nullptr;
    char *macs = nullptr;
    fflush(stdout);
    testing::internal::CaptureStdout();
    result.status = GetLocalAddresses(&ips, &macs);
    result.console = testing::internal::GetCapturedStdout();
    EXPECT_NE(nullptr, ips);
    EXPECT_NE(nullptr, macs);
    if (ips != nullptr) result.ips = ips;
    if (macs != nullptr) result.macs = macs;
    free(ips);
    free(macs);
    return result;
}

class MachineTest : public AgentTest {};

TEST_F(MachineTest, AddressListsFromEmulatedAdapters) {
    struct Case {
        const char *label;
        std::vector<AdapterSpec> adapters;
        const char *expectIps;
        const char *expectMacs;
    };
    const Case cases[] = {
        {"two adapters",
         {{"00-1A-2B-3C-4D-5E", "10.0.0.5", "255.0.0.0"}, {"AA-BB-CC-DD-EE-0F", "192.168.7.9", "255.255.255.0"}},
         "10.0.0.5,192.168.7.9", "00:1a:2b:3c:4d:5e,aa:bb:cc:dd:ee:0f"},
        {"two addresses on one adapter",
         {{"00-1A-2B-3C-4D-5E", "10.0.0.5,10.0.0.6", "255.0.0.0,255.0.0.0"}},
         "10.0.0.5,10.0.0.6", "00:1a:2b:3c:4d:5e"},
        {"disconnected adapter",
         {{"00-1A-2B-3C-4D-5E", "0.0.0.0", "0.0.0.0"}, {"00-00-00-00-00-01", "172.16.0.1", "255.255.0.0"}},
         "172.16.0.1", "00:1a:2b:3c:4d:5e,00:00:00:00:00:01"},
        {"no hardware address", {{"", "10.1.1.1", "255.0.0.0"}, {"01-02-03-04-05-06", "10.1.1.2", "255.0.0.0"}},
         "10.1.1.1,10.1.1.2", ",01:02:03:04:05:06"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        WriteHive(AdapterHive(c.adapters));
        AddressResult result = RunGetLocalAddresses();
        EXPECT_EQ(0, result.status);
        EXPECT_EQ(c.expectIps, result.ips);
        EXPECT_EQ(c.expectMacs, result.macs);
    }
}

TEST_F(MachineTest, ConsoleListing) {
    WriteHive(AdapterHive({{"00-1A-2B-3C-4D-5E", "10.0.0.5,0.0.0.0", "255.0.0.0,0.0.0.0"}}));
    AddressResult result = RunGetLocalAddresses();
    char line1[128];
    char line2[128];
    snprintf(line1, sizeof line1, "%-10.d%-10.d%-20.20s%s\n", 2, 0x100, "10.0.0.5", "255.0.0.0");
    snprintf(line2, sizeof line2, "%-10.d%-10.d%-20.20s%s\n", 2, 0x101, "0.0.0.0", "0.0.0.0");
    EXPECT_EQ(std::string("00-1A-2B-3C-4D-5E - ") + line1 + line2, result.console);
}

TEST_F(MachineTest, NoAdaptersLeavesEmptyListsAndTheLoaderGoesOn) {
    /* A domain member whose controller answers: the adapters are the one error. */
    Hive hive = CompleteAgentHive();
    hive.Set(kNetwork, "AdapterCount", "dword:00000000")
        .Set(kDomain, "JoinStatus", "dword:00000003")
        .SetText(kDomain, "JoinName", "Corp.Local")
        .SetText(kDomain, "DomainControllerName", "DC01");
    WriteHive(hive);
    AddressResult result = RunGetLocalAddresses();
    EXPECT_EQ(232, result.status);  /* ERROR_NO_DATA */
    EXPECT_EQ("", result.ips);
    EXPECT_EQ("", result.macs);

    testing::internal::CaptureStdout();
    EXPECT_EQ(0, InitializeLocalMachineDetails());
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ("", gv_localIPAddresses);
    EXPECT_STREQ("", gv_localMACAddresses);
    std::vector<std::string> expected = {
        "InitializeLocalMachineDetails : Error while fetching Local machine IP and MAC Addresses! \n"};
    EXPECT_EQ(expected, log_.Messages("ERROR"));
}

TEST_F(MachineTest, WorkgroupAndDomainMachines) {
    struct Case {
        const char *label;
        int joinStatus;  /* -1: nothing configured */
        const char *joinName;
        const char *controller;
        const char *expectNamespace;
        int expectJoined;
        const char *expectController;
    };
    const Case cases[] = {
        {"unconfigured workgroup", -1, nullptr, nullptr, "WORKGROUP", 0, nullptr},
        {"named workgroup", 2, "OFFICE", nullptr, "OFFICE", 0, nullptr},
        {"domain member", 3, "CORP", "DC01", "CORP", 1, "DC01"},
        {"domain without reachable controller", 3, "CORP", nullptr, "CORP", 1, nullptr},
        {"unjoined", 1, "", nullptr, "", 0, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        ResetAgentSettings();
        Hive hive;
        hive.SetText("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
                     "ComputerName", "PC01");
        hive.Set(kNetwork, "AdapterCount", "dword:00000000");
        if (c.joinStatus >= 0) hive.Set(kDomain, "JoinStatus", "dword:0000000" + std::to_string(c.joinStatus));
        if (c.joinName) hive.SetText(kDomain, "JoinName", c.joinName);
        if (c.controller) hive.SetText(kDomain, "DomainControllerName", c.controller);
        WriteHive(hive);
        const size_t before = log_.Messages("ERROR").size();

        testing::internal::CaptureStdout();
        EXPECT_EQ(0, InitializeLocalMachineDetails());
        testing::internal::GetCapturedStdout();

        EXPECT_STREQ("PC01", gv_localComputerName);
        EXPECT_STREQ(c.expectNamespace, gv_clientNamespace);
        EXPECT_EQ(c.expectJoined, gv_isDomainJoined);
        if (c.expectController) {
            EXPECT_STREQ(c.expectController, gv_domainController);
        } else {
            EXPECT_EQ(nullptr, gv_domainController);
            std::vector<std::string> errors = log_.Messages("ERROR");
            ASSERT_GT(errors.size(), before);
            EXPECT_EQ("InitializeLocalMachineDetails : Error while fetching computer domain controller ! \n",
                      errors.back());
        }
    }
}

TEST_F(MachineTest, HostNameFromTheFullBufferOrTheHostsOwnName) {
    const std::string longest(63, 'n'); /* the longest name a 64-byte buffer holds */
    const std::string tooLong(64, 'n');
    struct Case {
        const char *label;
        const char *configured;  /* emulated "ComputerName", null: the host's own */
        int expectStatus;
    };
    const Case cases[] = {
        {"host fallback", nullptr, 1},
        /* Names of the emulated machine, set through its registry. */
        {"short name", "PC01", 1},
        {"63 characters", longest.c_str(), 1},
        {"64 characters", tooLong.c_str(), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Hive hive;
        if (c.configured != nullptr) {
            hive.SetText("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
                         "ComputerName", c.configured);
        }
        WriteHive(hive);
        char *name = nullptr;
        EXPECT_EQ(c.expectStatus, GetLocalComputerName(&name));
        if (c.expectStatus == 0) {
            EXPECT_EQ(nullptr, name);
        } else if (c.configured != nullptr) {
            EXPECT_STREQ(c.configured, name);
        } else {
            ASSERT_NE(nullptr, name);
            EXPECT_GT(strlen(name), 0u);
#ifndef WINAPI_STANDIN
            EXPECT_EQ(ThisMachine().hostName, name);
#endif
        }
        free(name);
    }
}

}  // namespace
}  // namespace agent_test
