/*
 * Version and product information of an emulated machine, read from its
 * registry where Windows itself keeps them:
 *
 *   HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion
 *     "CurrentMajorVersionNumber", "CurrentMinorVersionNumber" (REG_DWORD), or
 *     "CurrentVersion" (REG_SZ "6.1") when the numbers are absent;
 *     "CurrentBuildNumber" (REG_SZ), "CSDVersion" (REG_SZ), "EditionID" (REG_SZ).
 *   HKLM\SYSTEM\CurrentControlSet\Control\ProductOptions
 *     "ProductType": "WinNT" workstation, "LanmanNT" domain controller, "ServerNT" server.
 *   HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment
 *     "PROCESSOR_ARCHITECTURE" ("x86", "AMD64", "IA64", "ARM64"), "NUMBER_OF_PROCESSORS".
 *
 * Values Windows keeps nowhere in the registry (stand-in names, all REG_DWORD
 * under the CurrentVersion key): "WaPlatformId" (default 2, NT),
 * "WaServicePackMajor" / "WaServicePackMinor" (default: the number in
 * "CSDVersion" = "Service Pack N", else 0), "WaSuiteMask" (default 0x100 on a
 * workstation, 0 otherwise), "WaProductInfoType" (GetProductInfo's answer; default
 * from "EditionID", else Professional for a workstation, Standard for a server).
 *
 * Nothing configured: Windows 7 Professional SP1 (6.1.7601), workstation, 32-bit.
 *
 * The language of the default locales, under
 *   HKLM\SYSTEM\CurrentControlSet\Control\Nls\Language "Default" / "InstallLanguage".
 */
#include "winapi/wa_machine.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

namespace {

const char kCurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char kProductOptionsKey[] = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
const char kEnvironmentKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

const DWORD kPlainRecordSize = sizeof(OSVERSIONINFOA);
const DWORD kExtendedRecordSize = sizeof(OSVERSIONINFOEXA);
static_assert(sizeof(OSVERSIONINFOA) == 148, "plain version record size");
static_assert(sizeof(OSVERSIONINFOEXA) == 156, "extended version record size");

/* The emulated system's version, as GetVersionExA reports it. */
struct EmulatedVersion {
    DWORD major = 6;
    DWORD minor = 1;
    DWORD build = 7601;
    DWORD platform = VER_PLATFORM_WIN32_NT;
    std::string servicePack = "Service Pack 1";
    WORD servicePackMajor = 1;
    WORD servicePackMinor = 0;
    WORD suiteMask = VER_SUITE_SINGLEUSERTS;
    BYTE productType = VER_NT_WORKSTATION;
    DWORD productInfoType = PRODUCT_PROFESSIONAL;
};

bool EqualsNoCase(const std::string &a, const char *b) {
    return a.size() == strlen(b) && strncasecmp(a.c_str(), b, a.size()) == 0;
}

/* "Service Pack 3" -> 3; 0 when the text carries no number. */
WORD ServicePackNumber(const std::string &text) {
    size_t digit = text.find_first_of("0123456789");
    if (digit == std::string::npos) return 0;
    return static_cast<WORD>(strtoul(text.c_str() + digit, nullptr, 10));
}

struct EditionEntry {
    const char *id;
    DWORD productType;
};
constexpr EditionEntry kEditionIds[] = {
    {"Ultimate", PRODUCT_ULTIMATE},
    {"UltimateN", PRODUCT_ULTIMATE_N},
    {"HomeBasic", PRODUCT_HOME_BASIC},
    {"HomeBasicN", PRODUCT_HOME_BASIC_N},
    {"HomePremium", PRODUCT_HOME_PREMIUM},
    {"HomePremiumN", PRODUCT_HOME_PREMIUM_N},
    {"Enterprise", PRODUCT_ENTERPRISE},
    {"EnterpriseN", PRODUCT_ENTERPRISE_N},
    {"Business", PRODUCT_BUSINESS},
    {"BusinessN", PRODUCT_BUSINESS_N},
    {"Starter", PRODUCT_STARTER},
    {"Professional", PRODUCT_PROFESSIONAL},
    {"ProfessionalN", PRODUCT_PROFESSIONAL_N},
    {"ServerStandard", PRODUCT_STANDARD_SERVER},
    {"ServerDatacenter", PRODUCT_DATACENTER_SERVER},
    {"ServerEnterprise", PRODUCT_ENTERPRISE_SERVER},
    {"ServerStandardCore", PRODUCT_STANDARD_SERVER_CORE},
    {"ServerDatacenterCore", PRODUCT_DATACENTER_SERVER_CORE},
    {"ServerEnterpriseCore", PRODUCT_ENTERPRISE_SERVER_CORE},
    {"ServerSBSStandard", PRODUCT_SMALLBUSINESS_SERVER},
    {"ServerSBSPremium", PRODUCT_SMALLBUSINESS_SERVER_PREMIUM},
};

EmulatedVersion ReadEmulatedVersion() {
    EmulatedVersion v;
    DWORD number = 0;
    std::string text;
    bool versionSet = false;
    if (wa::ReadMachineDword(kCurrentVersionKey, "CurrentMajorVersionNumber", &number)) {
        v.major = number;
        v.minor = 0;
        versionSet = true;
        if (wa::ReadMachineDword(kCurrentVersionKey, "CurrentMinorVersionNumber", &number)) {
            v.minor = number;
        }
    } else if (wa::ReadMachineString(kCurrentVersionKey, "CurrentVersion", &text) && !text.empty()) {
        v.major = static_cast<DWORD>(strtoul(text.c_str(), nullptr, 10));
        size_t dot = text.find('.');
        v.minor = dot == std::string::npos ? 0 : static_cast<DWORD>(strtoul(text.c_str() + dot + 1, nullptr, 10));
        versionSet = true;
    }
    if (versionSet) {
        /* A configured version starts from a machine without service pack or build. */
        v.build = 0;
        v.servicePack.clear();
    }
    if (wa::ReadMachineString(kCurrentVersionKey, "CurrentBuildNumber", &text)) {
        v.build = static_cast<DWORD>(strtoul(text.c_str(), nullptr, 10));
    }
    if (wa::ReadMachineString(kCurrentVersionKey, "CSDVersion", &text)) {
        v.servicePack = text;
    }
    if (wa::ReadMachineDword(kCurrentVersionKey, "WaPlatformId", &number)) {
        v.platform = number;
    }

    v.servicePackMajor = ServicePackNumber(v.servicePack);
    v.servicePackMinor = 0;
    if (wa::ReadMachineDword(kCurrentVersionKey, "WaServicePackMajor", &number)) {
        v.servicePackMajor = static_cast<WORD>(number);
    }
    if (wa::ReadMachineDword(kCurrentVersionKey, "WaServicePackMinor", &number)) {
        v.servicePackMinor = static_cast<WORD>(number);
    }

    if (wa::ReadMachineString(kProductOptionsKey, "ProductType", &text)) {
        if (EqualsNoCase(text, "ServerNT")) {
            v.productType = VER_NT_SERVER;
        } else if (EqualsNoCase(text, "LanmanNT")) {
            v.productType = VER_NT_DOMAIN_CONTROLLER;
        } else {
            v.productType = VER_NT_WORKSTATION;
        }
    }

    v.suiteMask = v.productType == VER_NT_WORKSTATION ? VER_SUITE_SINGLEUSERTS : 0;
    if (wa::ReadMachineDword(kCurrentVersionKey, "WaSuiteMask", &number)) {
        v.suiteMask = static_cast<WORD>(number);
    }

    v.productInfoType = v.productType == VER_NT_WORKSTATION ? PRODUCT_PROFESSIONAL : PRODUCT_STANDARD_SERVER;
    if (wa::ReadMachineString(kCurrentVersionKey, "EditionID", &text)) {
        v.productInfoType = PRODUCT_UNDEFINED;
        for (const EditionEntry &entry : kEditionIds) {
            if (EqualsNoCase(text, entry.id)) {
                v.productInfoType = entry.productType;
                break;
            }
        }
    }
    if (wa::ReadMachineDword(kCurrentVersionKey, "WaProductInfoType", &number)) {
        v.productInfoType = number;
    }
    return v;
}

/* Windows 9x and NT 4 before its sixth service pack know only the plain record. */
bool KnowsExtendedRecord(const EmulatedVersion &v) {
    if (v.platform != VER_PLATFORM_WIN32_NT) return false;
    return v.major > 4 || (v.major == 4 && v.servicePackMajor >= 6);
}

WORD NativeArchitecture() {
    std::string text;
    if (!wa::ReadMachineString(kEnvironmentKey, "PROCESSOR_ARCHITECTURE", &text)) {
        return PROCESSOR_ARCHITECTURE_INTEL;
    }
    if (EqualsNoCase(text, "AMD64")) return PROCESSOR_ARCHITECTURE_AMD64;
    if (EqualsNoCase(text, "IA64")) return PROCESSOR_ARCHITECTURE_IA64;
    if (EqualsNoCase(text, "ARM64")) return PROCESSOR_ARCHITECTURE_ARM64;
    if (EqualsNoCase(text, "x86")) return PROCESSOR_ARCHITECTURE_INTEL;
    return PROCESSOR_ARCHITECTURE_UNKNOWN;
}

void FillSystemInfo(LPSYSTEM_INFO info, WORD architecture) {
    memset(info, 0, sizeof *info);
    info->wProcessorArchitecture = architecture;
    info->dwPageSize = 4096;
    info->dwAllocationGranularity = 65536;
    info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(static_cast<uintptr_t>(0x10000));
    /* The 32-bit process's own address space. */
    info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(static_cast<uintptr_t>(0x7FFEFFFFUL));
    std::string text;
    DWORD processors = 1;
    if (wa::ReadMachineString(kEnvironmentKey, "NUMBER_OF_PROCESSORS", &text)) {
        unsigned long n = strtoul(text.c_str(), nullptr, 10);
        if (n >= 1 && n <= 64) processors = static_cast<DWORD>(n);
    }
    info->dwNumberOfProcessors = processors;
    info->dwActiveProcessorMask = processors >= 8 * sizeof(DWORD_PTR)
                                      ? ~static_cast<DWORD_PTR>(0)
                                      : (static_cast<DWORD_PTR>(1) << processors) - 1;
    info->dwProcessorType = architecture == PROCESSOR_ARCHITECTURE_AMD64 ? PROCESSOR_AMD_X8664 : PROCESSOR_INTEL_PENTIUM;
    info->wProcessorLevel = 6;
}

}  // namespace

namespace wa {

BOOL MachineVersionEx(LPOSVERSIONINFOA info) {
    if (info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD size = info->dwOSVersionInfoSize;
    if (size != kPlainRecordSize && size != kExtendedRecordSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const EmulatedVersion v = ReadEmulatedVersion();
    if (size == kExtendedRecordSize && !KnowsExtendedRecord(v)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    info->dwMajorVersion = v.major;
    info->dwMinorVersion = v.minor;
    info->dwBuildNumber = v.build;
    info->dwPlatformId = v.platform;
    memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    memcpy(info->szCSDVersion, v.servicePack.data(),
           v.servicePack.size() < sizeof info->szCSDVersion ? v.servicePack.size() : sizeof info->szCSDVersion - 1);
    if (size == kExtendedRecordSize) {
        LPOSVERSIONINFOEXA ex = reinterpret_cast<LPOSVERSIONINFOEXA>(info);
        ex->wServicePackMajor = v.servicePackMajor;
        ex->wServicePackMinor = v.servicePackMinor;
        ex->wSuiteMask = v.suiteMask;
        ex->wProductType = v.productType;
        ex->wReserved = 0;
    }
    return TRUE;
}

void MachineSystemInfo(LPSYSTEM_INFO info, bool native) {
    if (info == nullptr) return;
    WORD architecture = NativeArchitecture();
    /* A 32-bit process on a 64-bit machine sees an x86 system. */
    if (!native && (architecture == PROCESSOR_ARCHITECTURE_AMD64 || architecture == PROCESSOR_ARCHITECTURE_IA64 ||
                    architecture == PROCESSOR_ARCHITECTURE_ARM64)) {
        architecture = PROCESSOR_ARCHITECTURE_INTEL;
    }
    FillSystemInfo(info, architecture);
}

BOOL MachineProductInfo(DWORD osMajor, PDWORD productType) {
    if (productType == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const EmulatedVersion v = ReadEmulatedVersion();
    if (osMajor < 6) {
        *productType = PRODUCT_UNDEFINED;
        return FALSE;
    }
    *productType = v.major >= 6 && v.platform == VER_PLATFORM_WIN32_NT ? v.productInfoType : PRODUCT_UNDEFINED;
    return TRUE;
}

bool VersionExportPresent(const char *procName) {
    if (procName == nullptr) return true;
    const bool getNative = strcmp(procName, "GetNativeSystemInfo") == 0;
    const bool getProduct = strcmp(procName, "GetProductInfo") == 0;
    if (!getNative && !getProduct) return true;
    const EmulatedVersion v = ReadEmulatedVersion();
    if (v.platform != VER_PLATFORM_WIN32_NT) return false;
    if (getProduct) return v.major >= 6;
    return v.major > 5 || (v.major == 5 && v.minor >= 1);
}

LCID MachineLocale() {
    static const char *const kLanguageKey = "SYSTEM\\CurrentControlSet\\Control\\Nls\\Language";
    for (const char *name : {"Default", "InstallLanguage"}) {
        std::string text;
        if (!wa::ReadMachineString(kLanguageKey, name, &text) || text.empty()) continue;
        char *end = nullptr;
        const unsigned long v = strtoul(text.c_str(), &end, 16);
        if (end != text.c_str() && v > 0 && v <= 0xFFFF) return static_cast<LCID>(v);
    }
    return 0x0409;
}

}  // namespace wa
