/*
 * The network identity of an emulated machine as its registry describes it
 * (net.cpp tells the values): its adapters, host name and domain.
 */
#include "winapi/wa_machine.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

namespace wa {

namespace {

const char kComputerNameKey[] = "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName";
const char kNetworkKey[] = "SYSTEM\\WinapiStandIn\\Network";
const char kDomainKey[] = "SYSTEM\\WinapiStandIn\\Domain";

std::vector<std::string> SplitList(const std::string &text) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::string item = text.substr(start, comma - start);
        size_t first = item.find_first_not_of(" \t");
        size_t last = item.find_last_not_of(" \t");
        items.push_back(first == std::string::npos ? std::string() : item.substr(first, last - first + 1));
        start = comma + 1;
    }
    return items;
}

/* "00-1A-2B-3C-4D-5E" or "00:1a:..." -> bytes; at most 8 are kept. */
std::vector<BYTE> ParseHardwareAddress(const std::string &text) {
    std::vector<BYTE> bytes;
    int digits = 0;
    unsigned value = 0;
    for (char c : text) {
        int d = -1;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        if (d < 0) continue;
        value = value * 16 + static_cast<unsigned>(d);
        if (++digits == 2) {
            if (bytes.size() < MAX_ADAPTER_ADDRESS_LENGTH) bytes.push_back(static_cast<BYTE>(value));
            digits = 0;
            value = 0;
        }
    }
    return bytes;
}

}  // namespace

bool EmulatedAdapters(std::vector<Adapter> *adapters) {
    DWORD count = 0;
    if (!ReadMachineDword(kNetworkKey, "AdapterCount", &count)) {
        return false;
    }
    for (DWORD i = 0; i < count && i < 64; ++i) {
        const std::string key = std::string(kNetworkKey) + "\\Adapter" + std::to_string(i);
        Adapter adapter;
        adapter.index = i + 1;
        std::string text;
        DWORD number = 0;
        if (ReadMachineString(key, "Name", &text)) adapter.name = text;
        if (ReadMachineString(key, "Description", &text)) adapter.description = text;
        if (ReadMachineString(key, "MacAddress", &text)) adapter.hardware = ParseHardwareAddress(text);
        if (ReadMachineDword(key, "Index", &number)) adapter.index = number;
        if (ReadMachineDword(key, "Type", &number)) adapter.type = number;
        std::vector<std::string> addresses{"0.0.0.0"};
        std::vector<std::string> masks;
        if (ReadMachineString(key, "IPAddress", &text) && !text.empty()) addresses = SplitList(text);
        if (ReadMachineString(key, "SubnetMask", &text) && !text.empty()) masks = SplitList(text);
        for (size_t a = 0; a < addresses.size(); ++a) {
            adapter.addresses.push_back({addresses[a], a < masks.size() ? masks[a] : std::string("0.0.0.0")});
        }
        adapters->push_back(adapter);
    }
    return true;
}

void CopyText(char *target, size_t capacity, const std::string &text) {
    size_t length = text.size() < capacity - 1 ? text.size() : capacity - 1;
    memcpy(target, text.data(), length);
    target[length] = '\0';
}

namespace {

void FillAddress(IP_ADDR_STRING *entry, const AddressEntry &source, DWORD context) {
    memset(entry, 0, sizeof *entry);
    CopyText(entry->IpAddress.String, sizeof entry->IpAddress.String, source.address);
    CopyText(entry->IpMask.String, sizeof entry->IpMask.String, source.mask);
    entry->Context = context;
}

void FillEmptyAddress(IP_ADDR_STRING *entry) { FillAddress(entry, {"0.0.0.0", "0.0.0.0"}, 0); }

}  // namespace

DWORD AdapterTable(const std::vector<Adapter> &adapters, PIP_ADAPTER_INFO adapterInfo, ULONG *size) {
    if (adapters.empty()) {
        return ERROR_NO_DATA;
    }
    /* Layout: the adapter records, then the further address entries. */
    size_t extraEntries = 0;
    for (const Adapter &adapter : adapters) extraEntries += adapter.addresses.size() - 1;
    const size_t needed = adapters.size() * sizeof(IP_ADAPTER_INFO) + extraEntries * sizeof(IP_ADDR_STRING);
    if (adapterInfo == nullptr || *size < needed) {
        *size = static_cast<ULONG>(needed);
        return ERROR_BUFFER_OVERFLOW;
    }
    memset(adapterInfo, 0, needed);
    IP_ADDR_STRING *extra = reinterpret_cast<IP_ADDR_STRING *>(adapterInfo + adapters.size());
    DWORD context = 0x100;
    for (size_t i = 0; i < adapters.size(); ++i) {
        const Adapter &source = adapters[i];
        IP_ADAPTER_INFO *target = adapterInfo + i;
        target->Next = i + 1 < adapters.size() ? adapterInfo + i + 1 : nullptr;
        target->ComboIndex = source.index;
        CopyText(target->AdapterName, sizeof target->AdapterName, source.name);
        CopyText(target->Description, sizeof target->Description, source.description);
        target->AddressLength = static_cast<UINT>(source.hardware.size());
        if (!source.hardware.empty()) memcpy(target->Address, source.hardware.data(), source.hardware.size());
        target->Index = source.index;
        target->Type = source.type;
        IP_ADDR_STRING *previous = &target->IpAddressList;
        FillAddress(previous, source.addresses[0], context++);
        for (size_t a = 1; a < source.addresses.size(); ++a) {
            FillAddress(extra, source.addresses[a], context++);
            previous->Next = extra;
            previous = extra++;
        }
        FillEmptyAddress(&target->GatewayList);
        FillEmptyAddress(&target->DhcpServer);
        FillEmptyAddress(&target->PrimaryWinsServer);
        FillEmptyAddress(&target->SecondaryWinsServer);
    }
    return ERROR_SUCCESS;
}

DWORD MachineHostName(std::string *host) {
    DWORD failure = 0;
    if (ReadMachineDword(kNetworkKey, "HostNameError", &failure) && failure != 0) return failure;
    if (!ReadMachineString(kComputerNameKey, "ComputerName", host)) host->clear();
    return 0;
}

DWORD MachineJoin(DWORD *status, std::string *name) {
    DWORD failure = 0;
    if (ReadMachineDword(kDomainKey, "JoinError", &failure) && failure != 0) {
        return failure;
    }
    *status = NetSetupWorkgroupName;
    ReadMachineDword(kDomainKey, "JoinStatus", status);
    *name = "WORKGROUP";
    ReadMachineString(kDomainKey, "JoinName", name);
    return 0;
}

DWORD MachineDomainController(LPCSTR computerName, LPCSTR domainName, ULONG flags, PDOMAIN_CONTROLLER_INFOA *info,
                              void *(*allocate)(size_t bytes)) {
    if (info == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *info = nullptr;
    if ((flags & DS_RETURN_FLAT_NAME) && (flags & DS_RETURN_DNS_NAME)) {
        return ERROR_INVALID_FLAGS;
    }
    if (computerName != nullptr && computerName[0] != '\0') {
        return ERROR_NOT_SUPPORTED;
    }
    DWORD status = NetSetupWorkgroupName;
    ReadMachineDword(kDomainKey, "JoinStatus", &status);
    std::string flatDomain;
    std::string controller;
    if (status != NetSetupDomainName || !ReadMachineString(kDomainKey, "JoinName", &flatDomain) ||
        !ReadMachineString(kDomainKey, "DomainControllerName", &controller) || controller.empty()) {
        return ERROR_NO_SUCH_DOMAIN;
    }
    std::string dnsDomain = flatDomain;
    ReadMachineString(kDomainKey, "DomainDnsName", &dnsDomain);
    if (domainName != nullptr && domainName[0] != '\0') {
        if (strcasecmp(domainName, flatDomain.c_str()) != 0 && strcasecmp(domainName, dnsDomain.c_str()) != 0) {
            return ERROR_NO_SUCH_DOMAIN;
        }
    }
    const bool flat = (flags & DS_RETURN_DNS_NAME) == 0 || (flags & DS_RETURN_FLAT_NAME) != 0;
    std::string dnsController = controller + "." + dnsDomain;
    ReadMachineString(kDomainKey, "DomainControllerDnsName", &dnsController);
    std::string address = "\\\\0.0.0.0";
    std::string text;
    if (ReadMachineString(kDomainKey, "DomainControllerAddress", &text) && !text.empty()) {
        address = text.compare(0, 2, "\\\\") == 0 ? text : "\\\\" + text;
    }
    const std::string fields[] = {
        "\\\\" + (flat ? controller : dnsController),
        address,
        flat ? flatDomain : dnsDomain,
        dnsDomain,
        "Default-First-Site-Name",
        "Default-First-Site-Name",
    };
    size_t bytes = sizeof(DOMAIN_CONTROLLER_INFOA);
    for (const std::string &field : fields) bytes += field.size() + 1;
    char *block = static_cast<char *>(allocate(bytes));
    if (block == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    PDOMAIN_CONTROLLER_INFOA record = reinterpret_cast<PDOMAIN_CONTROLLER_INFOA>(block);
    char *strings = block + sizeof(DOMAIN_CONTROLLER_INFOA);
    LPSTR *targets[] = {&record->DomainControllerName, &record->DomainControllerAddress,
                        &record->DomainName, &record->DnsForestName, &record->DcSiteName, &record->ClientSiteName};
    for (size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i) {
        memcpy(strings, fields[i].c_str(), fields[i].size() + 1);
        *targets[i] = strings;
        strings += fields[i].size() + 1;
    }
    record->DomainControllerAddressType = DS_INET_ADDRESS;
    record->Flags = 0;
    *info = record;
    return ERROR_SUCCESS;
}

}  // namespace wa
