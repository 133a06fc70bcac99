/*
 * Identity of the local machine: host name, IPv4 and hardware addresses of the
 * network adapters, domain controller and namespace (domain or workgroup).
 */
#include "agent/machine.h"
#include "agent/settings.h"
#include "agent/text_helpers.h"

#include "platform/errors.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

/* Size of each address list buffer. */
const size_t kAddressListBytes = 131068;
const size_t kHostNameBytes = 64;

/* Copies `text` into a zero-filled list buffer, cut to fit with its terminator. */
void FillListBuffer(char *buffer, const std::string &text) {
    size_t length = text.size() < kAddressListBytes - 1 ? text.size() : kAddressListBytes - 1;
    memcpy(buffer, text.data(), length);
}

void AppendHexByte(std::string *text, unsigned value) {
    static const char kDigits[] = "0123456789abcdef";
    text->push_back(kDigits[(value >> 4) & 0xF]);
    text->push_back(kDigits[value & 0xF]);
}

/* Frees an adapter buffer from GlobalAlloc on every path. */
struct GlobalBuffer {
    void *memory = nullptr;
    ~GlobalBuffer() {
        if (memory != nullptr) {
            GlobalFree(memory);
        }
    }
};

}  // namespace

int GetLocalAddresses(char **ipList, char **macList) {
    *ipList = static_cast<char *>(calloc(kAddressListBytes, 1));
    *macList = static_cast<char *>(calloc(kAddressListBytes, 1));
    if (*ipList == nullptr || *macList == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }

    ULONG size = 0;
    DWORD status = GetAdaptersInfo(nullptr, &size);
    if (status != ERROR_SUCCESS && status != ERROR_BUFFER_OVERFLOW) {
        return static_cast<int>(status);
    }
    GlobalBuffer buffer;
    buffer.memory = GlobalAlloc(GPTR, size);
    if (buffer.memory == nullptr) {
        return static_cast<int>(GetLastError());
    }
    PIP_ADAPTER_INFO adapters = static_cast<PIP_ADAPTER_INFO>(buffer.memory);
    status = GetAdaptersInfo(adapters, &size);
    if (status != ERROR_SUCCESS) {
        return static_cast<int>(status);
    }

    std::string ips;
    std::string macs;
    for (PIP_ADAPTER_INFO adapter = adapters; adapter != nullptr; adapter = adapter->Next) {
        UINT length = adapter->AddressLength;
        if (length > MAX_ADAPTER_ADDRESS_LENGTH) {
            length = MAX_ADAPTER_ADDRESS_LENGTH;
        }
        /* An adapter without a hardware address adds an empty entry to the list. */
        for (UINT i = 0; i < length; ++i) {
            printf(i + 1 == length ? "%.2X - " : "%.2X-", static_cast<unsigned>(adapter->Address[i]));
            AppendHexByte(&macs, adapter->Address[i]);
            if (i + 1 < length) {
                macs.push_back(':');
            }
        }
        if (adapter->Next != nullptr) {
            macs.push_back(',');
        }
        for (PIP_ADDR_STRING entry = &adapter->IpAddressList; entry != nullptr; entry = entry->Next) {
            printf("%-10.d%-10.d%-20.20s%s\n", static_cast<int>(adapter->Index), static_cast<int>(entry->Context),
                   entry->IpAddress.String, entry->IpMask.String);
            if (vt_agent::EqualsNoCase(entry->IpAddress.String, "0.0.0.0")) {
                continue;
            }
            if (ips.size() > 2) {
                ips.push_back(',');
            }
            const char *address = entry->IpAddress.String;
            const void *end = memchr(address, '\0', sizeof entry->IpAddress.String);
            ips.append(address, end != nullptr ? static_cast<const char *>(end) - address
                                               : sizeof entry->IpAddress.String);
        }
    }
    fflush(stdout);
    FillListBuffer(*ipList, ips);
    FillListBuffer(*macList, macs);
    return ERROR_SUCCESS;
}

int GetDomainController(char **controller) {
    PDOMAIN_CONTROLLER_INFOA info = nullptr;
    DWORD status = DsGetDcNameA(nullptr, nullptr, nullptr, nullptr, DS_RETURN_FLAT_NAME, &info);
    if (status != ERROR_SUCCESS) {
        return static_cast<int>(status);
    }
    const char *name = info->DomainControllerName != nullptr ? info->DomainControllerName : "";
    /* Skip the two leading back-slashes of "\\NAME". */
    size_t skip = 0;
    while (skip < 2 && name[skip] != '\0') {
        ++skip;
    }
    vt_agent::ReplaceText(controller, vt_agent::NewText(name + skip));
    NetApiBufferFree(info);
    return *controller != nullptr ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

int GetLocalComputerName(char **computerName) {
    WSADATA wsaData;
    memset(&wsaData, 0, sizeof wsaData);
    WSAStartup(0x202, &wsaData);
    /* The whole buffer is offered: gethostname terminates the name itself and
     * fails when the name and its terminator do not fit. */
    char name[kHostNameBytes] = {0};
    if (gethostname(name, static_cast<int>(sizeof name)) != 0) {
        WSACleanup();
        return 0;
    }
    vt_agent::ReplaceText(computerName, vt_agent::NewText(name));
    WSACleanup();
    return *computerName != nullptr ? 1 : 0;
}

int GetClientNamespace(char **nameSpace, int *joined) {
    LPWSTR name = nullptr;
    NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
    if (NetGetJoinInformation(nullptr, &name, &status) != NERR_Success) {
        return 0;
    }
    char *utf8 = nullptr;
    bool converted = WideToUtf8(name, &utf8);
    NetApiBufferFree(name);
    if (!converted) {
        free(utf8);
        return 0;
    }
    vt_agent::ReplaceText(nameSpace, utf8);
    *joined = status == NetSetupDomainName ? 1 : 0;
    return 1;
}

int InitializeLocalMachineDetails(void) {
    char *ips = nullptr;
    char *macs = nullptr;
    int status = GetLocalAddresses(&ips, &macs);
    vt_agent::ReplaceText(&gv_localIPAddresses, ips);
    vt_agent::ReplaceText(&gv_localMACAddresses, macs);
    if (status != 0) {
        LogError("InitializeLocalMachineDetails : Error while fetching Local machine IP and MAC Addresses! \n");
    }

    if (GetDomainController(&gv_domainController) != 0) {
        LogError("InitializeLocalMachineDetails : Error while fetching computer domain controller ! \n");
    }

    if (GetLocalComputerName(&gv_localComputerName) != 1) {
        LogError("InitializeLocalMachineDetails : Error occured while retrieving the local computer name !!! \n");
        return VT_SETTINGS_MISSING;
    }

    if (GetClientNamespace(&gv_clientNamespace, &gv_isDomainJoined) != 1) {
        LogError("InitializeLocalMachineDetails : Error occured while retrieving the name space !!! \n");
        return VT_SETTINGS_MISSING;
    }
    return VT_SETTINGS_OK;
}
