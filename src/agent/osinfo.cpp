/*
 * Operating-system identification: family number, the Vista test used to pick
 * the installer folder layout, and the human-readable name that is logged.
 */
#include "agent/osinfo.h"
#include "agent/text_helpers.h"

#include "log/log.h"
#include "platform/handle_guard.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

typedef void(WINAPI *GetNativeSystemInfoFn)(LPSYSTEM_INFO info);
typedef BOOL(WINAPI *GetProductInfoFn)(DWORD major, DWORD minor, DWORD spMajor, DWORD spMinor, PDWORD type);

/* Large enough for the longest name ("Windows Server 2008 R2 " + the longest
 * edition + " (x64)"), with room to spare. */
const size_t kOsNameBytes = 128;

const DWORD kWorkstation = 1;
const DWORD kDomainController = 2;
const DWORD kServer = 3;

const WORD kSuiteSmallBusiness = 0x1;
const WORD kSuiteEnterprise = 0x2;
const WORD kSuiteTerminal = 0x10;
const WORD kSuiteSmallBusinessRestricted = 0x20;
const WORD kSuiteDatacenter = 0x80;
const WORD kSuitePersonal = 0x200;
const WORD kSuiteBlade = 0x400;

const WORD kArchitectureAmd64 = 9;

struct EditionName {
    DWORD productType;
    const char *text;
};

/* Edition texts by product type. */
constexpr EditionName kEditions[] = {
    {1, "Ultimate Edition"},
    {28, "Ultimate Edition"},
    {2, "Home Basic Edition"},
    {5, "Home Basic Edition"},
    {3, "Home Premium Edition"},
    {26, "Home Premium Edition"},
    {4, "Enterprise Edition"},
    {10, "Enterprise Edition"},
    {27, "Enterprise Edition"},
    {6, "Business Edition"},
    {16, "Business Edition"},
    {7, "Standard Edition"},
    {8, "Datacenter Edition"},
    {9, "Small Business Server"},
    {11, "Starter"},
    {47, "Starter"},
    {66, "Starter"},
    {12, "Datacenter Edition (core installation)"},
    {13, "Standard Edition (core installation)"},
    {14, "Enterprise Edition (core installation)"},
    {25, "Small Business Server Premium Edition"},
    {36, "Standard Edition without Hyper-V"},
    {37, "Datacenter Edition without Hyper-V"},
    {38, "Enterprise Edition without Hyper-V"},
    {39, "Datacenter Edition without Hyper-V (core installation)"},
    {40, "Standard Edition without Hyper-V (core installation)"},
    {41, "Enterprise Edition without Hyper-V (core installation)"},
    {48, "Professional Edition"},
    {49, "Professional Edition"},
    {69, "Professional Edition"},
};

/* Reads the extended version record; false when the system refuses it. */
bool ReadVersionEx(OSVERSIONINFOEXA *info) {
    memset(info, 0, sizeof *info);
    info->dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    return GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(info)) != FALSE;
}

/* The processor architecture of the machine (native when the system can say). */
WORD ReadArchitecture(HMODULE kernel) {
    SYSTEM_INFO info;
    memset(&info, 0, sizeof info);
    GetNativeSystemInfoFn native = nullptr;
    if (kernel != nullptr) {
        native = reinterpret_cast<GetNativeSystemInfoFn>(
            reinterpret_cast<void *>(GetProcAddress(kernel, "GetNativeSystemInfo")));
    }
    if (native != nullptr) {
        native(&info);
    } else {
        GetSystemInfo(&info);
    }
    return info.wProcessorArchitecture;
}

bool IsX64(WORD architecture) { return architecture == kArchitectureAmd64; }

const char *EditionText(DWORD productType) {
    for (const EditionName &entry : kEditions) {
        if (entry.productType == productType) {
            return entry.text;
        }
    }
    return nullptr;
}

/* Suffix of an older NT system, by product type, version and suite. */
const char *NtSuffix(const OSVERSIONINFOEXA &info, bool x64) {
    const DWORD major = info.dwMajorVersion;
    const DWORD minor = info.dwMinorVersion;
    const WORD suite = info.wSuiteMask;
    if (info.wProductType == kWorkstation) {
        if (x64 && major == 5 && minor == 2) {
            return "Professional x64 Edition";
        }
        /* A 64-bit workstation of any other version is named like a 32-bit one. */
        if (major == 4) {
            return "Workstation 4.0";
        }
        if (suite & kSuitePersonal) {
            return "Home Edition ";
        }
        return "Professional";
    }
    if (info.wProductType == kServer || info.wProductType == kDomainController) {
        if (major == 5 && minor == 2) {
            if (x64) {
                if (suite & kSuiteEnterprise) return ", Enterprise x64 Edition";
                if (suite & kSuiteDatacenter) return ", Datacenter x64 Edition";
                return ", Standard x64 Edition";
            }
            if (suite & kSuiteDatacenter) return ", Datacenter Edition";
            if (suite & kSuiteEnterprise) return ", Enterprise Edition";
            if (suite & kSuiteBlade) return ", Web Edition";
            if (suite & (kSuiteSmallBusiness | kSuiteSmallBusinessRestricted)) return " for Small Business Server";
            return ", Standard Edition";
        }
        if (major == 5 && minor == 0) {
            if (suite & kSuiteDatacenter) return "Datacenter Server";
            if (suite & kSuiteEnterprise) return "Advanced Server";
            return "Server";
        }
        if (suite & kSuiteTerminal) return "Server 4.0, Terminal Server Edition";
        return "Server 4.0";
    }
    return "";
}

/* Suffix from the registry's "ProductType", for systems without the extended
 * record; false when the value cannot be read. */
bool RegistrySuffix(const char **suffix) {
    vt_platform::KeyGuard key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\ProductOptions", 0,
                      KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD kBufferBytes = 1024;
    char productType[kBufferBytes + 1] = {0};
    DWORD size = kBufferBytes;
    LONG status = RegQueryValueExA(key.get(), "ProductType", nullptr, nullptr,
                                   reinterpret_cast<LPBYTE>(productType), &size);
    if (status != ERROR_SUCCESS || size > kBufferBytes) {
        return false;
    }
    if (vt_agent::EqualsNoCase(productType, "WINNT")) {
        *suffix = "Workstation";
    } else if (vt_agent::EqualsNoCase(productType, "LANMANNT")) {
        *suffix = "Server";
    } else if (vt_agent::EqualsNoCase(productType, "SERVERNT")) {
        *suffix = "Advanced Server";
    } else {
        *suffix = "";
    }
    return true;
}

/* Loads "kernel32.dll" and frees it on every path. */
struct KernelModule {
    HMODULE handle = LoadLibraryA("kernel32.dll");
    ~KernelModule() {
        if (handle != nullptr) {
            FreeLibrary(handle);
        }
    }
};

}  // namespace

int GetOsFamily(void) {
    OSVERSIONINFOEXA info;
    if (!ReadVersionEx(&info)) {
        LogError("GetOsFamily : Unable to find the OSVersion , Errorcode %d \n", (int)GetLastError());
        return 1;
    }
    if (info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion > 4) {
        if (info.dwMajorVersion == 6) {
            return info.dwMinorVersion == 0 ? 2 : 3;
        }
        if (info.dwMajorVersion == 5) {
            return info.dwMinorVersion == 0 ? 0 : 1;
        }
        return 3;
    }
    LogError("GetOsFamily :The windows is unable to found . \n");
    return -1;
}

int isVistaAndAbove(void) {
    char *name = GetOSName();
    LogDebug("isVistaAndAbove : GetOSName %s\n", name);
    free(name);
    /* Compared unsigned: the family -1 of older systems counts as "above". */
    if (static_cast<unsigned int>(GetOsFamily()) >= 2) {
        LogDebug("isVistaAndAbove : TRUE\n");
        return 1;
    }
    LogDebug("isVistaAndAbove : FALSE\n");
    return 0;
}

const char *GetNTVersionPrefix(DWORD majorVersion, DWORD minorVersion) {
    /* Systems without the extended record (NT 4 before its sixth service pack)
     * are marked as unsupported in the name. */
    OSVERSIONINFOEXA info;
    if (!ReadVersionEx(&info)) {
        return "UnSupported";
    }
    KernelModule kernel;
    const bool x64 = IsX64(ReadArchitecture(kernel.handle));
    if (majorVersion == 5) {
        switch (minorVersion) {
        case 0:
            return "Windows 2000 ";
        case 1:
            return "Windows XP ";
        case 2:
            return (info.wProductType == kWorkstation && x64) ? "Windows XP " : "Windows Server 2003";
        default:
            return nullptr;
        }
    }
    if (majorVersion <= 4) {
        return "Windows NT ";
    }
    return nullptr;
}

char *GetOSName(void) {
    char *name = static_cast<char *>(calloc(kOsNameBytes, 1));
    if (name == nullptr) {
        return nullptr;
    }
    KernelModule kernel;
    const bool x64 = IsX64(ReadArchitecture(kernel.handle));

    OSVERSIONINFOEXA info;
    bool extended = ReadVersionEx(&info);
    if (!extended) {
        memset(&info, 0, sizeof info);
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info))) {
            free(name);
            return nullptr;
        }
    }

    GetProductInfoFn productInfo = nullptr;
    if (kernel.handle != nullptr) {
        productInfo = reinterpret_cast<GetProductInfoFn>(
            reinterpret_cast<void *>(GetProcAddress(kernel.handle, "GetProductInfo")));
    }

    if (productInfo != nullptr) {
        DWORD productType = 0;
        /* A failing query counts as an undefined product type. */
        if (!productInfo(info.dwMajorVersion, info.dwMinorVersion, info.wServicePackMajor, info.wServicePackMinor,
                         &productType)) {
            productType = 0;
        }
        const char *edition = EditionText(productType);
        if (edition == nullptr) {
            edition = "Unknown Edition";
            LogError("Edition can't be retrieved\n");
        }
        if (info.dwMajorVersion != 6) {
            return name;
        }
        const bool workstation = info.wProductType == kWorkstation;
        const char *format = nullptr;
        if (info.dwMinorVersion == 0) {
            format = workstation ? (x64 ? "Windows Vista %s (x64)" : "Windows Vista %s")
                                 : (x64 ? "Windows Server 2008 %s (x64)" : "Windows Server 2008 %s");
        } else if (info.dwMinorVersion == 1) {
            format = workstation ? (x64 ? "Windows 7 %s (x64)" : "Windows 7 %s")
                                 : (x64 ? "Windows Server 2008 R2 %s (x64)" : "Windows Server 2008 R2 %s");
        } else {
            return name;
        }
        snprintf(name, kOsNameBytes, format, edition);
        return name;
    }

    switch (info.dwPlatformId) {
    case VER_PLATFORM_WIN32s:
        snprintf(name, kOsNameBytes, "%s", "Win32s");
        break;
    case VER_PLATFORM_WIN32_WINDOWS:
        if (info.dwMajorVersion == 4) {
            if (info.dwMinorVersion == 0) {
                snprintf(name, kOsNameBytes, "%s", "Windows 95");
            } else if (info.dwMinorVersion == 10) {
                snprintf(name, kOsNameBytes, "%s", info.szCSDVersion[1] == 'A' ? "Windows 98 SE" : "Windows 98");
            } else if (info.dwMinorVersion == 90) {
                snprintf(name, kOsNameBytes, "%s", "Windows Millennium Edition");
            }
        }
        break;
    case VER_PLATFORM_WIN32_NT: {
        const char *prefix = GetNTVersionPrefix(info.dwMajorVersion, info.dwMinorVersion);
        if (prefix == nullptr) {
            prefix = "";
        }
        if (extended) {
            snprintf(name, kOsNameBytes, "%s%s", prefix, NtSuffix(info, x64));
        } else {
            const char *suffix = nullptr;
            if (!RegistrySuffix(&suffix)) {
                free(name);
                return nullptr;
            }
            snprintf(name, kOsNameBytes, "%s%s %d.%d", prefix, suffix, (int)info.dwMajorVersion,
                     (int)info.dwMinorVersion);
        }
        break;
    }
    default:
        break;
    }
    return name;
}
