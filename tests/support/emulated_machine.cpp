#ifdef _WIN32
#include "winapi/wa_machine.h"
#include "support/emulated_machine.h"

#include <string.h>

#include <string>
#include <vector>

namespace wa {

namespace {

/* The value's bytes when it has the type asked for. */
bool ReadMachineValue(const std::string &key, const std::string &name, DWORD wanted, std::string *data) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return false;
    DWORD type = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExA(handle, name.c_str(), nullptr, &type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        data->assign(size, '\0');
        status = RegQueryValueExA(handle, name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(&(*data)[0]), &size);
        data->resize(size);
    }
    RegCloseKey(handle);
    return status == ERROR_SUCCESS &&
           (type == wanted || (wanted == REG_SZ && type == REG_EXPAND_SZ));
}

}  // namespace

bool ReadMachineString(const std::string &key, const std::string &name, std::string *value) {
    std::string data;
    if (!ReadMachineValue(key, name, REG_SZ, &data)) return false;
    if (value) *value = data.substr(0, strnlen(data.c_str(), data.size()));
    return true;
}

bool ReadMachineDword(const std::string &key, const std::string &name, DWORD *value) {
    std::string data;
    if (!ReadMachineValue(key, name, REG_DWORD, &data) || data.size() != sizeof(DWORD)) return false;
    if (value) memcpy(value, data.data(), sizeof(DWORD));
    return true;
}

}  // namespace wa

namespace vt_test {

const MachineValueName kEmulatedMachineValues[] = {
    {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "CurrentMajorVersionNumber"},
    {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "CurrentMinorVersionNumber"},
    {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "CurrentVersion"},
    {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "CurrentBuildNumber"},
    {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "CSDVersion"},
    {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "EditionID"},
    {"SYSTEM\\CurrentControlSet\\Control\\ProductOptions", "ProductType"},
    {"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", "PROCESSOR_ARCHITECTURE"},
    {"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", "NUMBER_OF_PROCESSORS"},
    {"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName", "ComputerName"},
    {"SYSTEM\\CurrentControlSet\\Control\\Nls\\Language", "Default"},
    {"SYSTEM\\CurrentControlSet\\Control\\Nls\\Language", "InstallLanguage"},
};
const size_t kEmulatedMachineValueCount = sizeof kEmulatedMachineValues / sizeof kEmulatedMachineValues[0];

namespace {

typedef FARPROC(WINAPI *GetProcAddressFn)(HMODULE, LPCSTR);
GetProcAddressFn gv_realGetProcAddress = nullptr;

BOOL WINAPI EmulatedGetVersionExA(LPOSVERSIONINFOA info) { return wa::MachineVersionEx(info); }
void WINAPI EmulatedGetSystemInfo(LPSYSTEM_INFO info) { wa::MachineSystemInfo(info, false); }
void WINAPI EmulatedGetNativeSystemInfo(LPSYSTEM_INFO info) { wa::MachineSystemInfo(info, true); }
BOOL WINAPI EmulatedGetProductInfo(DWORD osMajor, DWORD, DWORD, DWORD, PDWORD productType) {
    return wa::MachineProductInfo(osMajor, productType);
}

typedef DWORD(WINAPI *GetAdaptersInfoFn)(PIP_ADAPTER_INFO, PULONG);
GetAdaptersInfoFn gv_realGetAdaptersInfo = nullptr;

/* The adapters the registry lists, else the machine's own. */
DWORD WINAPI EmulatedGetAdaptersInfo(PIP_ADAPTER_INFO adapterInfo, PULONG size) {
    std::vector<wa::Adapter> adapters;
    if (!wa::EmulatedAdapters(&adapters)) return gv_realGetAdaptersInfo(adapterInfo, size);
    if (size == nullptr) return ERROR_INVALID_PARAMETER;
    return wa::AdapterTable(adapters, adapterInfo, size);
}

typedef int(WSAAPI *GetHostNameFn)(char *, int);
GetHostNameFn gv_realGetHostName = nullptr;

/* The configured name, else the machine's own. */
int WSAAPI EmulatedGetHostName(char *name, int nameLength) {
    std::string host;
    const DWORD failure = wa::MachineHostName(&host);
    if (failure != 0) {
        WSASetLastError(static_cast<int>(failure));
        return SOCKET_ERROR;
    }
    if (host.empty()) return gv_realGetHostName(name, nameLength);
    if (name == nullptr || nameLength <= 0 || static_cast<size_t>(nameLength) <= host.size()) {
        WSASetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    memcpy(name, host.c_str(), host.size() + 1);
    return 0;
}

/* A zeroed block NetApiBufferFree takes back. */
void *NetBlock(size_t bytes) {
    void *block = nullptr;
    if (NetApiBufferAllocate(static_cast<DWORD>(bytes), &block) != NERR_Success) return nullptr;
    memset(block, 0, bytes);
    return block;
}

NET_API_STATUS WINAPI EmulatedNetGetJoinInformation(LPCWSTR server, LPWSTR *nameBuffer,
                                                    PNETSETUP_JOIN_STATUS joinStatus) {
    if (server != nullptr && server[0] != 0) return ERROR_NOT_SUPPORTED;  // only this machine is emulated
    if (nameBuffer == nullptr || joinStatus == nullptr) return ERROR_INVALID_PARAMETER;
    DWORD status = 0;
    std::string name;
    const DWORD failure = wa::MachineJoin(&status, &name);
    if (failure != 0) return failure;
    const int units = MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, nullptr, 0);
    auto *buffer = static_cast<WCHAR *>(NetBlock(static_cast<size_t>(units) * sizeof(WCHAR)));
    if (buffer == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, buffer, units);
    *nameBuffer = buffer;
    *joinStatus = static_cast<NETSETUP_JOIN_STATUS>(status);
    return NERR_Success;
}

DWORD WINAPI EmulatedDsGetDcNameA(LPCSTR computerName, LPCSTR domainName, GUID *, LPCSTR, ULONG flags,
                                  PDOMAIN_CONTROLLER_INFOA *info) {
    return wa::MachineDomainController(computerName, domainName, flags, info, NetBlock);
}

typedef int(WINAPI *GetLocaleInfoAFn)(LCID, LCTYPE, LPSTR, int);
GetLocaleInfoAFn gv_realGetLocaleInfoA = nullptr;

/* The default locales are the machine language's. */
int WINAPI EmulatedGetLocaleInfoA(LCID locale, LCTYPE type, LPSTR data, int size) {
    if (locale == LOCALE_USER_DEFAULT || locale == LOCALE_SYSTEM_DEFAULT || locale == LOCALE_NEUTRAL)
        locale = wa::MachineLocale();
    return gv_realGetLocaleInfoA(locale, type, data, size);
}

/* The test program counts as the 32-bit agent: under WOW64 on a 64-bit machine. */
BOOL WINAPI EmulatedIsWow64Process(HANDLE, PBOOL wow64) {
    if (wow64 == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SYSTEM_INFO native;
    wa::MachineSystemInfo(&native, true);
    *wow64 = native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
             native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64 ||
             native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64;
    return TRUE;
}

/* The optional kernel32 exports the product looks up: there when the emulated
 * system has them, and then the emulated ones. */
FARPROC WINAPI EmulatedGetProcAddress(HMODULE module, LPCSTR name) {
    if (!IS_INTRESOURCE(name) && module != nullptr && module == GetModuleHandleA("kernel32.dll")) {
        void *replacement = nullptr;
        if (strcmp(name, "GetNativeSystemInfo") == 0) replacement = reinterpret_cast<void *>(EmulatedGetNativeSystemInfo);
        if (strcmp(name, "GetProductInfo") == 0) replacement = reinterpret_cast<void *>(EmulatedGetProductInfo);
        if (strcmp(name, "IsWow64Process") == 0) replacement = reinterpret_cast<void *>(EmulatedIsWow64Process);
        if (replacement != nullptr) {
            if (!wa::VersionExportPresent(name)) {
                SetLastError(ERROR_PROC_NOT_FOUND);
                return nullptr;
            }
            return reinterpret_cast<FARPROC>(replacement);
        }
    }
    return gv_realGetProcAddress(module, name);
}

}  // namespace

EmulatedMachine::EmulatedMachine() {
    /* The replaced functions reach the machine's own through what the import pointed
     * at before: the address of a function named here may be the program's own stub
     * that jumps through the import. */
    const struct {
        const char *name;
        void *replacement;
        void **original;
    } replacements[] = {
        {"GetVersionExA", reinterpret_cast<void *>(EmulatedGetVersionExA), nullptr},
        {"GetSystemInfo", reinterpret_cast<void *>(EmulatedGetSystemInfo), nullptr},
        {"GetNativeSystemInfo", reinterpret_cast<void *>(EmulatedGetNativeSystemInfo), nullptr},
        {"GetProductInfo", reinterpret_cast<void *>(EmulatedGetProductInfo), nullptr},
        {"IsWow64Process", reinterpret_cast<void *>(EmulatedIsWow64Process), nullptr},
        {"GetAdaptersInfo", reinterpret_cast<void *>(EmulatedGetAdaptersInfo),
         reinterpret_cast<void **>(&gv_realGetAdaptersInfo)},
        {"gethostname", reinterpret_cast<void *>(EmulatedGetHostName), reinterpret_cast<void **>(&gv_realGetHostName)},
        {"NetGetJoinInformation", reinterpret_cast<void *>(EmulatedNetGetJoinInformation), nullptr},
        {"DsGetDcNameA", reinterpret_cast<void *>(EmulatedDsGetDcNameA), nullptr},
        {"GetLocaleInfoA", reinterpret_cast<void *>(EmulatedGetLocaleInfoA),
         reinterpret_cast<void **>(&gv_realGetLocaleInfoA)},
        {"GetProcAddress", reinterpret_cast<void *>(EmulatedGetProcAddress),
         reinterpret_cast<void **>(&gv_realGetProcAddress)},
    };
    for (const auto &r : replacements) {
        patches_.emplace_back(new ImportPatch(nullptr, r.name, r.replacement));
        if (r.original != nullptr) *r.original = patches_.back()->Original();
    }
}

EmulatedMachine::~EmulatedMachine() {
    /* The last patch first: each puts back what it found. */
    while (!patches_.empty()) patches_.pop_back();
}

}  // namespace vt_test
#endif
