/* The identity of an emulated machine (its version, product, processors,
 * adapters and domain) as its registry describes it. Shared by the stand-in and by the Windows test
 * programs, which give the product the same emulated machine; each side reads the
 * machine's registry through ReadMachineString / ReadMachineDword. */
#pragma once
#include "winapi/winapi.h"

#include <string>
#include <vector>

namespace wa {

/* One value under HKEY_LOCAL_MACHINE, read without a key handle. */
bool ReadMachineString(const std::string &key, const std::string &name, std::string *value);
bool ReadMachineDword(const std::string &key, const std::string &name, DWORD *value);

/* GetVersionExA of the emulated machine. */
BOOL MachineVersionEx(LPOSVERSIONINFOA info);
/* GetNativeSystemInfo (`native`) or GetSystemInfo of a 32-bit process on it. */
void MachineSystemInfo(LPSYSTEM_INFO info, bool native);
/* GetProductInfo of the emulated machine. */
BOOL MachineProductInfo(DWORD osMajor, PDWORD productType);
/* Whether the emulated system has this optional kernel32 export
 * ("GetNativeSystemInfo", "GetProductInfo"); any other name counts as present. */
bool VersionExportPresent(const char *procName);

struct AddressEntry {
    std::string address;
    std::string mask;
};

struct Adapter {
    std::string name;
    std::string description;
    std::vector<BYTE> hardware;
    std::vector<AddressEntry> addresses;
    DWORD index = 0;
    UINT type = MIB_IF_TYPE_ETHERNET;
};

/* The adapters the emulated machine lists; false when it lists none of its own
 * ("AdapterCount" absent: the machine's real adapters count). */
bool EmulatedAdapters(std::vector<Adapter> *adapters);
/* GetAdaptersInfo's answer made of `adapters`. */
DWORD AdapterTable(const std::vector<Adapter> &adapters, PIP_ADAPTER_INFO adapterInfo, ULONG *size);
/* The language of the default locales: "Default", else "InstallLanguage" under
 * HKLM\SYSTEM\CurrentControlSet\Control\Nls\Language (hexadecimal texts such
 * as 0409), else 0x0409. */
LCID MachineLocale();
/* The configured host name ("" when none: the host's own counts) or the Winsock
 * error gethostname fails with. */
DWORD MachineHostName(std::string *host);
/* NetGetJoinInformation's status and name, or the error it fails with. */
DWORD MachineJoin(DWORD *status, std::string *name);
/* DsGetDcNameA of the emulated machine; the record is one block from `allocate`. */
DWORD MachineDomainController(LPCSTR computerName, LPCSTR domainName, ULONG flags, PDOMAIN_CONTROLLER_INFOA *info,
                              void *(*allocate)(size_t bytes));
/* `text` into a buffer of `capacity` bytes, cut to fit, always terminated. */
void CopyText(char *target, size_t capacity, const std::string &text);

}  // namespace wa
