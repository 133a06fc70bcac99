/*
 * Network identity of the stand-in.
 *
 * Host name: "ComputerName" under HKLM\SYSTEM\CurrentControlSet\Control\ComputerName\ComputerName
 * when set, else the host's own name.
 *
 * Adapters: the host's real interfaces (IPv4 addresses with masks, hardware
 * addresses, loopback left out), unless the emulated machine configures its own
 * list under HKLM\SYSTEM\WinapiStandIn\Network:
 *   "AdapterCount" (REG_DWORD) the number of adapters; 0 means none (ERROR_NO_DATA);
 *   subkeys "Adapter0", "Adapter1", ... each with
 *     "Name", "Description" (REG_SZ), "MacAddress" (REG_SZ, "00-1A-2B-3C-4D-5E" or
 *     with ':'; empty for an adapter without one), "IPAddress" and "SubnetMask"
 *     (REG_SZ, comma-separated, in list order; default "0.0.0.0"),
 *     "Index" (REG_DWORD, default position + 1), "Type" (REG_DWORD, default 6).
 *   "HostNameError" (REG_DWORD) makes gethostname fail with that Winsock code.
 *
 * Domain: HKLM\SYSTEM\WinapiStandIn\Domain
 *   "JoinStatus" (REG_DWORD, NETSETUP_JOIN_STATUS, default 2 = workgroup),
 *   "JoinName" (REG_SZ, default "WORKGROUP"),
 *   "JoinError" (REG_DWORD: NetGetJoinInformation fails with it),
 *   "DomainControllerName" (REG_SZ, flat name without "\\"), "DomainControllerDnsName",
 *   "DomainControllerAddress", "DomainDnsName" (REG_SZ). Without a joined domain
 *   and a controller name DsGetDcNameA fails with ERROR_NO_SUCH_DOMAIN.
 */
#include "winapi/winapi.h"
#include "winapi/wa_private.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#if defined(__linux__)
#include <linux/if_packet.h>
#endif

#include <atomic>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <string>
#include <vector>

namespace {

std::atomic<int> g_winsockUsers{0};

wa::Adapter *FindOrAdd(std::vector<wa::Adapter> *adapters, const char *name) {
    for (wa::Adapter &adapter : *adapters) {
        if (adapter.name == name) return &adapter;
    }
    wa::Adapter adapter;
    adapter.name = name;
    adapter.description = name;
    adapter.index = if_nametoindex(name);
    adapters->push_back(adapter);
    return &adapters->back();
}

/* The host's interfaces, loopback left out. */
void HostAdapters(std::vector<wa::Adapter> *adapters) {
    struct ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) {
        return;
    }
    for (struct ifaddrs *entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || (entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
        const int family = entry->ifa_addr->sa_family;
        if (family == AF_INET) {
            wa::Adapter *adapter = FindOrAdd(adapters, entry->ifa_name);
            char address[INET_ADDRSTRLEN] = {0};
            char mask[INET_ADDRSTRLEN] = "0.0.0.0";
            inet_ntop(AF_INET, &reinterpret_cast<struct sockaddr_in *>(entry->ifa_addr)->sin_addr, address,
                      sizeof address);
            if (entry->ifa_netmask != nullptr) {
                inet_ntop(AF_INET, &reinterpret_cast<struct sockaddr_in *>(entry->ifa_netmask)->sin_addr, mask,
                          sizeof mask);
            }
            adapter->addresses.push_back({address, mask});
        }
#if defined(__linux__)
        else if (family == AF_PACKET) {
            wa::Adapter *adapter = FindOrAdd(adapters, entry->ifa_name);
            const struct sockaddr_ll *link = reinterpret_cast<const struct sockaddr_ll *>(entry->ifa_addr);
            size_t length = link->sll_halen < MAX_ADAPTER_ADDRESS_LENGTH ? link->sll_halen : MAX_ADAPTER_ADDRESS_LENGTH;
            adapter->hardware.assign(link->sll_addr, link->sll_addr + length);
        }
#endif
    }
    freeifaddrs(list);
    /* A disconnected adapter reports the empty address, as Windows does. */
    for (wa::Adapter &adapter : *adapters) {
        if (adapter.addresses.empty()) adapter.addresses.push_back({"0.0.0.0", "0.0.0.0"});
    }
}

/* A NetApi buffer: plain heap memory, freed by NetApiBufferFree. */
void *NetAlloc(size_t bytes) { return calloc(1, bytes); }

}  // namespace

extern "C" int WSAStartup(WORD versionRequested, LPWSADATA data) {
    if (data == nullptr) {
        return WSAEFAULT;
    }
    /* Versions 1.0 to 2.2 are served; a request above 2.2 gets 2.2. */
    if (LOBYTE(versionRequested) < 1) {
        return WSAVERNOTSUPPORTED;
    }
    memset(data, 0, sizeof *data);
    const WORD highest = MAKEWORD(2, 2);
    data->wVersion = LOBYTE(versionRequested) > 2 ? highest : versionRequested;
    if (LOBYTE(versionRequested) == 2 && (versionRequested >> 8) > 2) data->wVersion = highest;
    data->wHighVersion = highest;
    wa::CopyText(data->szDescription, sizeof data->szDescription, "WinSock 2.0");
    wa::CopyText(data->szSystemStatus, sizeof data->szSystemStatus, "Running");
    ++g_winsockUsers;
    return 0;
}

extern "C" int WSACleanup(void) {
    int users = g_winsockUsers.load();
    while (users > 0 && !g_winsockUsers.compare_exchange_weak(users, users - 1)) {
    }
    if (users <= 0) {
        SetLastError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    return 0;
}

extern "C" int WSAGetLastError(void) { return static_cast<int>(GetLastError()); }

extern "C" int wa_gethostname(char *name, int nameLength) {
    if (g_winsockUsers.load() <= 0) {
        SetLastError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    std::string host;
    const DWORD failure = wa::MachineHostName(&host);
    if (failure != 0) {
        SetLastError(failure);
        return SOCKET_ERROR;
    }
    if (host.empty()) {
        struct utsname system;
        if (uname(&system) == 0) host = system.nodename;
    }
    if (name == nullptr || nameLength <= 0 || static_cast<size_t>(nameLength) <= host.size()) {
        SetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    memcpy(name, host.c_str(), host.size() + 1);
    return 0;
}

extern "C" DWORD GetAdaptersInfo(PIP_ADAPTER_INFO adapterInfo, ULONG *size) {
    if (size == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<wa::Adapter> adapters;
    if (!wa::EmulatedAdapters(&adapters)) {
        HostAdapters(&adapters);
    }
    return wa::AdapterTable(adapters, adapterInfo, size);
}

extern "C" NET_API_STATUS NetGetJoinInformation(LPCWSTR server, LPWSTR *nameBuffer,
                                                PNETSETUP_JOIN_STATUS joinStatus) {
    if (server != nullptr && server[0] != 0) {
        /* Only the local machine is emulated. */
        return ERROR_NOT_SUPPORTED;
    }
    if (nameBuffer == nullptr || joinStatus == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    DWORD status = 0;
    std::string name;
    const DWORD failure = wa::MachineJoin(&status, &name);
    if (failure != 0) {
        return failure;
    }
    const std::wstring wide = wa::Widen(name.c_str());
    WCHAR *buffer = static_cast<WCHAR *>(NetAlloc((wide.size() + 1) * sizeof(WCHAR)));
    if (buffer == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    memcpy(buffer, wide.c_str(), wide.size() * sizeof(WCHAR));
    *nameBuffer = buffer;
    *joinStatus = static_cast<NETSETUP_JOIN_STATUS>(status);
    return NERR_Success;
}

extern "C" NET_API_STATUS NetApiBufferFree(LPVOID buffer) {
    free(buffer);
    return NERR_Success;
}

extern "C" DWORD DsGetDcNameA(LPCSTR computerName, LPCSTR domainName, GUID *, LPCSTR, ULONG flags,
                              PDOMAIN_CONTROLLER_INFOA *info) {
    return wa::MachineDomainController(computerName, domainName, flags, info, NetAlloc);
}
