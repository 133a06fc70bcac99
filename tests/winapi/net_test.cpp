// Winsock host name, the adapter list's size protocol and layout, and the
// emulated domain membership.
#include "winapi/winapi.h"

#include "support/scratch_root.h"
#include "support/wine.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#ifndef _WIN32
#include <sys/utsname.h>
#endif

#include <string>
#include <vector>

namespace {

const char kNetwork[] = "[HKEY_LOCAL_MACHINE\\SYSTEM\\WinapiStandIn\\Network]\n";
const char kDomain[] = "[HKEY_LOCAL_MACHINE\\SYSTEM\\WinapiStandIn\\Domain]\n";

TEST(NetTest, HostNameNeedsWinsockAndEnoughRoom) {
#ifdef WINAPI_STANDIN
    vt_test::ScratchRoot root;
    root.WriteHive("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName]\n"
                   "\"ComputerName\"=\"PC01\"\n");
    const std::string expected = "PC01";
#else
    char own[256];
    DWORD ownSize = sizeof own;
    ASSERT_TRUE(GetComputerNameExA(ComputerNameDnsHostname, own, &ownSize));
    const std::string expected = own;
#endif
    const int length = static_cast<int>(expected.size());
    char name[256];
#ifdef WINAPI_STANDIN  // Wine answers without WSAStartup
    SetLastError(0);
    EXPECT_EQ(SOCKET_ERROR, gethostname(name, sizeof name));
    EXPECT_EQ(WSANOTINITIALISED, WSAGetLastError());
#endif

    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
    EXPECT_EQ(MAKEWORD(2, 2), data.wVersion);
    memset(name, 'x', sizeof name);
    EXPECT_EQ(0, gethostname(name, sizeof name));
    EXPECT_EQ(expected, name);
    EXPECT_EQ(SOCKET_ERROR, gethostname(name, length)) << "no room for the terminator";
    EXPECT_EQ(WSAEFAULT, WSAGetLastError());
    EXPECT_EQ(0, gethostname(name, length + 1));

#ifdef WINAPI_STANDIN
    /* Without a configured name the emulated machine takes the host's. */
    root.WriteHive("");
    struct utsname host;
    ASSERT_EQ(0, uname(&host));
    EXPECT_EQ(0, gethostname(name, sizeof name));
    EXPECT_STREQ(host.nodename, name);
#endif

    EXPECT_EQ(0, WSACleanup());
#ifdef WINAPI_STANDIN  // Wine lets a WSACleanup too many pass
    EXPECT_EQ(SOCKET_ERROR, WSACleanup());
    EXPECT_EQ(WSANOTINITIALISED, WSAGetLastError());
#endif
    struct Request {
        WORD asked;
        int expect;
        WORD granted;
    };
    for (Request r : {Request{MAKEWORD(0, 9), WSAVERNOTSUPPORTED, 0}, Request{MAKEWORD(1, 0), 0, MAKEWORD(1, 0)},
                      Request{MAKEWORD(1, 1), 0, MAKEWORD(1, 1)}, Request{MAKEWORD(2, 3), 0, MAKEWORD(2, 2)},
                      Request{MAKEWORD(3, 0), 0, MAKEWORD(2, 2)}}) {
        SCOPED_TRACE(r.asked);
        EXPECT_EQ(r.expect, WSAStartup(r.asked, &data));
        if (r.expect == 0) {
            EXPECT_EQ(r.granted, data.wVersion);
            EXPECT_EQ(0, WSACleanup());
        }
    }
}

TEST(NetTest, AdapterListSizeProtocolAndLinks) {
    vt_test::ScratchRoot root;
    root.WriteHive(std::string(kNetwork) + "\"AdapterCount\"=dword:00000002\n\n" +
                   "[HKEY_LOCAL_MACHINE\\SYSTEM\\WinapiStandIn\\Network\\Adapter0]\n"
                   "\"Description\"=\"First\"\n\"MacAddress\"=\"00:1a:2b:3c:4d:5e\"\n"
                   "\"IPAddress\"=\"10.0.0.1, 10.0.0.2\"\n\"SubnetMask\"=\"255.0.0.0\"\n\n"
                   "[HKEY_LOCAL_MACHINE\\SYSTEM\\WinapiStandIn\\Network\\Adapter1]\n"
                   "\"Index\"=dword:00000009\n");
    ULONG size = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_BUFFER_OVERFLOW), GetAdaptersInfo(nullptr, &size));
    ASSERT_GE(size, 2 * sizeof(IP_ADAPTER_INFO));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetAdaptersInfo(nullptr, nullptr));

    /* One byte short is still too small, and says so again. */
    std::vector<unsigned char> buffer(size + 16, 0xEE);
    ULONG shortSize = size - 1;
    EXPECT_EQ(static_cast<DWORD>(ERROR_BUFFER_OVERFLOW),
              GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &shortSize));
    EXPECT_EQ(size, shortSize);
    EXPECT_EQ(0xEE, buffer[0]) << "nothing written into a short buffer";

    ASSERT_EQ(0u, GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &size));
    EXPECT_EQ(0xEE, buffer[size]) << "canary after the reported size";
    PIP_ADAPTER_INFO first = reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data());
    EXPECT_STREQ("First", first->Description);
    EXPECT_EQ(6u, first->AddressLength);
    EXPECT_EQ(0x5E, first->Address[5]);
    EXPECT_EQ(1u, first->Index);
    EXPECT_STREQ("10.0.0.1", first->IpAddressList.IpAddress.String);
    EXPECT_STREQ("255.0.0.0", first->IpAddressList.IpMask.String);
    ASSERT_NE(nullptr, first->IpAddressList.Next);
    EXPECT_STREQ("10.0.0.2", first->IpAddressList.Next->IpAddress.String);
    EXPECT_STREQ("0.0.0.0", first->IpAddressList.Next->IpMask.String);
    EXPECT_EQ(nullptr, first->IpAddressList.Next->Next);

    PIP_ADAPTER_INFO second = first->Next;
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(nullptr, second->Next);
    EXPECT_EQ(9u, second->Index);
    EXPECT_EQ(0u, second->AddressLength);
    EXPECT_STREQ("0.0.0.0", second->IpAddressList.IpAddress.String);

    root.WriteHive(std::string(kNetwork) + "\"AdapterCount\"=dword:00000000\n");
    size = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_DATA), GetAdaptersInfo(nullptr, &size));
}

TEST(NetTest, HostAdaptersLeaveOutLoopback) {
    vt_test::ScratchRoot root;
    root.WriteHive("");
    ULONG size = 0;
    DWORD status = GetAdaptersInfo(nullptr, &size);
    if (status == static_cast<DWORD>(ERROR_NO_DATA)) GTEST_SKIP() << "the host has no adapter besides loopback";
    ASSERT_EQ(static_cast<DWORD>(ERROR_BUFFER_OVERFLOW), status);
    std::vector<unsigned char> buffer(size);
    ASSERT_EQ(0u, GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &size));
    for (PIP_ADAPTER_INFO a = reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()); a; a = a->Next) {
        for (PIP_ADDR_STRING e = &a->IpAddressList; e; e = e->Next) {
            EXPECT_STRNE("127.0.0.1", e->IpAddress.String) << a->AdapterName;
        }
    }
}

TEST(NetTest, JoinInformationAndDomainController) {
#ifdef WINAPI_STANDIN
    vt_test::ScratchRoot root;
    root.WriteHive("");
#endif
    LPWSTR name = nullptr;
    NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
    ASSERT_EQ(0u, NetGetJoinInformation(nullptr, &name, &status));
    EXPECT_EQ(NetSetupWorkgroupName, status);
    EXPECT_EQ_OR_WINE(std::wstring(L"WORKGROUP"), L"Workgroup", std::wstring(name));
    NetApiBufferFree(name);
    PDOMAIN_CONTROLLER_INFOA info = reinterpret_cast<PDOMAIN_CONTROLLER_INFOA>(0x1);
    const DWORD dc = DsGetDcNameA(nullptr, nullptr, nullptr, nullptr, DS_RETURN_FLAT_NAME, &info);
    if (!(dc == ERROR_CALL_NOT_IMPLEMENTED && vt_test::UnderWine())) {  // Wine has no DsGetDcName
        EXPECT_EQ(static_cast<DWORD>(ERROR_NO_SUCH_DOMAIN), dc);
        EXPECT_EQ(nullptr, info);
    }

#ifdef WINAPI_STANDIN  // the domain of the emulated machine, set through its registry
    root.WriteHive(std::string(kDomain) +
                   "\"JoinStatus\"=dword:00000003\n\"JoinName\"=\"CORP\"\n\"DomainControllerName\"=\"DC01\"\n"
                   "\"DomainDnsName\"=\"corp.local\"\n");
    ASSERT_EQ(0u, DsGetDcNameA(nullptr, nullptr, nullptr, nullptr, DS_RETURN_FLAT_NAME, &info));
    EXPECT_STREQ("\\\\DC01", info->DomainControllerName);
    EXPECT_STREQ("CORP", info->DomainName);
    NetApiBufferFree(info);
    ASSERT_EQ(0u, DsGetDcNameA(nullptr, nullptr, nullptr, nullptr, DS_RETURN_DNS_NAME, &info));
    EXPECT_STREQ("\\\\DC01.corp.local", info->DomainControllerName);
    EXPECT_STREQ("corp.local", info->DomainName);
    NetApiBufferFree(info);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_SUCH_DOMAIN),
              DsGetDcNameA(nullptr, "OTHER", nullptr, nullptr, DS_RETURN_FLAT_NAME, &info));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FLAGS),
              DsGetDcNameA(nullptr, nullptr, nullptr, nullptr, DS_RETURN_FLAT_NAME | DS_RETURN_DNS_NAME, &info));

    root.WriteHive(std::string(kDomain) + "\"JoinError\"=dword:0000054b\n");
    EXPECT_EQ(0x54bu, NetGetJoinInformation(nullptr, &name, &status));
#endif
}

}  // namespace
