// Version records, system information and product types of the emulated machine,
// and which optional kernel32 exports the emulated version has.
#include "winapi/winapi.h"

#include "support/scratch_root.h"

#include <gtest/gtest.h>

#include <string.h>

namespace {

const char kCurrentVersion[] = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n";
const char kEnvironment[] =
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment]\n";

TEST(VersionTest, SizeFieldSelectsTheRecord) {
    vt_test::ScratchRoot root;
    root.WriteHive("");
    struct Case {
        DWORD size;
        BOOL expect;
    };
    for (Case c : {Case{148, TRUE}, Case{156, TRUE}, Case{0, FALSE}, Case{147, FALSE}, Case{157, FALSE},
                   Case{284, FALSE}}) {
        SCOPED_TRACE(c.size);
        OSVERSIONINFOEXA info;
        memset(&info, 0xCD, sizeof info);
        info.dwOSVersionInfoSize = c.size;
        SetLastError(0xdeadbeef);
        EXPECT_EQ(c.expect, GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info)));
        if (!c.expect) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
            EXPECT_EQ(0xCDCDCDCDu, info.dwMajorVersion) << "a refused record stays untouched";
            continue;
        }
        /* Nothing configured: Windows 7 SP1 workstation. */
        EXPECT_EQ(6u, info.dwMajorVersion);
        EXPECT_EQ(1u, info.dwMinorVersion);
        EXPECT_EQ(7601u, info.dwBuildNumber);
        EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_NT), info.dwPlatformId);
        EXPECT_STREQ("Service Pack 1", info.szCSDVersion);
        if (c.size == 148) {
            EXPECT_EQ(0xCDCDu, info.wServicePackMajor) << "the plain record ends before the extension";
        } else {
            EXPECT_EQ(1, info.wServicePackMajor);
            EXPECT_EQ(0, info.wServicePackMinor);
            EXPECT_EQ(VER_NT_WORKSTATION, info.wProductType);
        }
    }
}

TEST(VersionTest, ConfiguredVersionAndOlderSystemsRefuseTheExtendedRecord) {
    vt_test::ScratchRoot root;
    root.WriteHive(std::string(kCurrentVersion) +
                   "\"CurrentMajorVersionNumber\"=dword:0000000a\n\"CurrentMinorVersionNumber\"=dword:00000000\n"
                   "\"CurrentBuildNumber\"=\"19045\"\n\"WaSuiteMask\"=dword:00000112\n\n"
                   "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ProductOptions]\n"
                   "\"ProductType\"=\"LanmanNT\"\n");
    OSVERSIONINFOEXA info;
    memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info)));
    EXPECT_EQ(10u, info.dwMajorVersion);
    EXPECT_EQ(0u, info.dwMinorVersion);
    EXPECT_EQ(19045u, info.dwBuildNumber);
    EXPECT_STREQ("", info.szCSDVersion);
    EXPECT_EQ(0x112, info.wSuiteMask);
    EXPECT_EQ(VER_NT_DOMAIN_CONTROLLER, info.wProductType);

    for (const char *older : {"\"CurrentVersion\"=\"4.10\"\n\"WaPlatformId\"=dword:00000001\n",
                              "\"CurrentVersion\"=\"4.0\"\n\"CSDVersion\"=\"Service Pack 5\"\n"}) {
        SCOPED_TRACE(older);
        root.WriteHive(std::string(kCurrentVersion) + older);
        memset(&info, 0, sizeof info);
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
        SetLastError(0);
        EXPECT_FALSE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info)));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        EXPECT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info)));
        EXPECT_EQ(4u, info.dwMajorVersion);
    }
}

TEST(VersionTest, ThirtyTwoBitProcessSeesX86OnA64BitMachine) {
    vt_test::ScratchRoot root;
    struct Case {
        const char *architecture;
        WORD expectProcess;
        WORD expectNative;
    };
    for (Case c : {Case{"AMD64", PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_ARCHITECTURE_AMD64},
                   Case{"x86", PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_ARCHITECTURE_INTEL},
                   Case{nullptr, PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_ARCHITECTURE_INTEL}}) {
        SCOPED_TRACE(c.architecture ? c.architecture : "(unset)");
        root.WriteHive(c.architecture ? std::string(kEnvironment) + "\"PROCESSOR_ARCHITECTURE\"=\"" +
                                            c.architecture + "\"\n\"NUMBER_OF_PROCESSORS\"=\"4\"\n"
                                      : std::string());
        SYSTEM_INFO process;
        SYSTEM_INFO native;
        GetSystemInfo(&process);
        GetNativeSystemInfo(&native);
        EXPECT_EQ(c.expectProcess, process.wProcessorArchitecture);
        EXPECT_EQ(c.expectNative, native.wProcessorArchitecture);
        EXPECT_EQ(4096u, process.dwPageSize);
        EXPECT_EQ(c.architecture ? 4u : 1u, process.dwNumberOfProcessors);
    }
}

TEST(VersionTest, ProductInfoAndOptionalExportsFollowTheVersion) {
    vt_test::ScratchRoot root;
    struct Case {
        const char *values;
        bool expectNative;
        bool expectProduct;
        DWORD expectType;
    };
    const Case cases[] = {
        {"", true, true, PRODUCT_PROFESSIONAL},
        {"\"CurrentVersion\"=\"6.0\"\n\"EditionID\"=\"HomePremium\"\n", true, true, PRODUCT_HOME_PREMIUM},
        {"\"CurrentVersion\"=\"6.1\"\n\"EditionID\"=\"Mystery\"\n", true, true, PRODUCT_UNDEFINED},
        {"\"CurrentVersion\"=\"6.1\"\n\"WaProductInfoType\"=dword:00000045\n", true, true, PRODUCT_PROFESSIONAL_E},
        {"\"CurrentVersion\"=\"5.1\"\n", true, false, 0},
        {"\"CurrentVersion\"=\"5.0\"\n", false, false, 0},
        {"\"CurrentVersion\"=\"4.10\"\n\"WaPlatformId\"=dword:00000001\n", false, false, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.values);
        root.WriteHive(std::string(kCurrentVersion) + c.values);
        HMODULE kernel = LoadLibraryA("kernel32.dll");
        ASSERT_NE(nullptr, kernel);
        EXPECT_EQ(c.expectNative, GetProcAddress(kernel, "GetNativeSystemInfo") != nullptr);
        SetLastError(0);
        FARPROC product = GetProcAddress(kernel, "GetProductInfo");
        EXPECT_EQ(c.expectProduct, product != nullptr);
        if (product == nullptr) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
        }
        FreeLibrary(kernel);
        if (c.expectProduct) {
            DWORD type = 0xdeadbeef;
            EXPECT_TRUE(GetProductInfo(6, 1, 0, 0, &type));
            EXPECT_EQ(c.expectType, type);
        }
    }
}

}  // namespace
