/* Operating-system names and families for a matrix of emulated machines. */
#include "agent_fixture.h"

#include <stdlib.h>

#include "agent/osinfo.h"

namespace agent_test {
namespace {

struct Machine {
    const char *label;
    const char *version;       /* "CurrentVersion" text, e.g. "5.2" */
    const char *csd;           /* "CSDVersion" */
    const char *productType;   /* ProductOptions "ProductType" */
    const char *architecture;  /* "PROCESSOR_ARCHITECTURE" */
    int platform;              /* "WaPlatformId" */
    int suite;                 /* "WaSuiteMask", -1 for the default */
    int productInfo;           /* "WaProductInfoType", -1 for the default */
    const char *expectName;
    int expectFamily;
    int expectVista;
};

std::string MachineHive(const Machine &m) {
    Hive hive;
    const std::string cv = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    char number[32];
    hive.SetText(cv, "CurrentVersion", m.version).SetText(cv, "CSDVersion", m.csd);
    snprintf(number, sizeof number, "dword:%08x", m.platform);
    hive.Set(cv, "WaPlatformId", number);
    if (m.suite >= 0) {
        snprintf(number, sizeof number, "dword:%08x", m.suite);
        hive.Set(cv, "WaSuiteMask", number);
    }
    if (m.productInfo >= 0) {
        snprintf(number, sizeof number, "dword:%08x", m.productInfo);
        hive.Set(cv, "WaProductInfoType", number);
    }
    hive.SetText("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ProductOptions", "ProductType",
                 m.productType);
    hive.SetText("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                 "PROCESSOR_ARCHITECTURE", m.architecture);
    return hive.Render();
}

/* Every case names an emulated machine, with its version and product type set through its registry (on
 * Windows the test program's calls answer from it: support/emulated_machine.h). */
class OsInfoTest : public AgentTest {};

TEST_F(OsInfoTest, NamesFamiliesAndVistaTestOfEmulatedMachines) {
    const Machine machines[] = {
        {"XP x64", "5.2", "Service Pack 2", "WinNT", "AMD64", 2, 0, -1, "Windows XP Professional x64 Edition", 1, 0},
        {"XP Home", "5.1", "Service Pack 3", "WinNT", "x86", 2, 0x200, -1, "Windows XP Home Edition ", 1, 0},
        {"Server 2003 Enterprise", "5.2", "Service Pack 2", "ServerNT", "x86", 2, 0x2, -1,
         "Windows Server 2003, Enterprise Edition", 1, 0},
        {"Server 2003 Datacenter x64", "5.2", "", "LanmanNT", "AMD64", 2, 0x80, -1,
         "Windows Server 2003, Datacenter x64 Edition", 1, 0},
        {"Server 2003 SBS", "5.2", "", "ServerNT", "x86", 2, 0x20, -1,
         "Windows Server 2003 for Small Business Server", 1, 0},
        /* With both suite bits the 32-bit rows test datacenter first, the x64 rows enterprise. */
        {"Server 2003 both suites", "5.2", "", "ServerNT", "x86", 2, 0x82, -1,
         "Windows Server 2003, Datacenter Edition", 1, 0},
        {"Server 2003 both suites x64", "5.2", "", "ServerNT", "AMD64", 2, 0x82, -1,
         "Windows Server 2003, Enterprise x64 Edition", 1, 0},
        {"Server 2003 Web", "5.2", "", "ServerNT", "x86", 2, 0x400, -1, "Windows Server 2003, Web Edition", 1, 0},
        {"Server 2003 Standard x64", "5.2", "", "ServerNT", "AMD64", 2, 0, -1,
         "Windows Server 2003, Standard x64 Edition", 1, 0},
        {"Server 2003 Standard", "5.2", "", "ServerNT", "x86", 2, 0x10, -1, "Windows Server 2003, Standard Edition",
         1, 0},
        {"2000 Datacenter", "5.0", "", "ServerNT", "x86", 2, 0x82, -1, "Windows 2000 Datacenter Server", 0, 0},
        {"2000 Advanced Server", "5.0", "Service Pack 4", "ServerNT", "x86", 2, 0x2, -1,
         "Windows 2000 Advanced Server", 0, 0},
        {"2000 Professional", "5.0", "Service Pack 4", "WinNT", "x86", 2, 0, -1, "Windows 2000 Professional", 0, 0},
        {"Vista type 48", "6.0", "Service Pack 2", "WinNT", "x86", 2, -1, 48, "Windows Vista Professional Edition", 2,
         1},
        {"Server 2008 core", "6.0", "", "ServerNT", "x86", 2, -1, 13,
         "Windows Server 2008 Standard Edition (core installation)", 2, 1},
        {"7 Professional x64", "6.1", "Service Pack 1", "WinNT", "AMD64", 2, -1, 48,
         "Windows 7 Professional Edition (x64)", 3, 1},
        {"2008 R2 Datacenter x64", "6.1", "", "ServerNT", "AMD64", 2, -1, 8,
         "Windows Server 2008 R2 Datacenter Edition (x64)", 3, 1},
        {"Vista x64 Ultimate", "6.0", "", "WinNT", "AMD64", 2, -1, 1, "Windows Vista Ultimate Edition (x64)", 2, 1},
        {"Server 2008 x64", "6.0", "", "ServerNT", "AMD64", 2, -1, 10,
         "Windows Server 2008 Enterprise Edition (x64)", 2, 1},
        {"longest name", "6.1", "", "ServerNT", "AMD64", 2, -1, 41,
         "Windows Server 2008 R2 Enterprise Edition without Hyper-V (core installation) (x64)", 3, 1},
        {"Windows 8", "6.2", "", "WinNT", "x86", 2, -1, 48, "", 3, 1},
        {"Windows 10", "10.0", "", "WinNT", "AMD64", 2, -1, 48, "", 3, 1},
        {"NT 4 SP6", "4.0", "Service Pack 6", "WinNT", "x86", 2, 0, -1, "Windows NT Workstation 4.0", -1, 1},
        {"NT 4 terminal server", "4.0", "Service Pack 6", "ServerNT", "x86", 2, 0x10, -1,
         "Windows NT Server 4.0, Terminal Server Edition", -1, 1},
        /* Before its sixth service pack NT 4 knows only the plain record: the
         * product type then comes from the registry, and the prefix marks the
         * system as unsupported. */
        {"NT 4 SP5 domain controller", "4.0", "Service Pack 5", "LanmanNT", "x86", 2, -1, -1,
         "UnSupportedServer 4.0", 1, 0},
        {"98 SE", "4.10", " A ", "WinNT", "x86", 1, -1, -1, "Windows 98 SE", 1, 0},
        {"98", "4.10", " B ", "WinNT", "x86", 1, -1, -1, "Windows 98", 1, 0},
        {"95", "4.0", "", "WinNT", "x86", 1, -1, -1, "Windows 95", 1, 0},
        {"Me", "4.90", "", "WinNT", "x86", 1, -1, -1, "Windows Millennium Edition", 1, 0},
        {"9x with another minor", "4.20", "", "WinNT", "x86", 1, -1, -1, "", 1, 0},
        {"Win32s", "3.10", "", "WinNT", "x86", 0, -1, -1, "Win32s", 1, 0},
    };
    for (const Machine &m : machines) {
        SCOPED_TRACE(m.label);
        root_.WriteHive(MachineHive(m));
        char *name = GetOSName();
        ASSERT_NE(nullptr, name);
        EXPECT_STREQ(m.expectName, name);
        free(name);
        EXPECT_EQ(m.expectFamily, GetOsFamily());
        EXPECT_EQ(m.expectVista, isVistaAndAbove());
    }
}

TEST_F(OsInfoTest, SystemsWithoutTheExtendedRecordAreNamedFromTheRegistryProductType) {
    const std::string fits(1023, 'x');   /* with its terminator exactly the 1024-byte buffer */
    const std::string tooLong(1024, 'x');
    struct Case {
        const char *productType;  /* null: no "ProductType" value */
        const char *expectName;   /* null: no name */
    };
    const Case cases[] = {
        {"WinNT", "UnSupportedWorkstation 4.0"},
        {"lanmannt", "UnSupportedServer 4.0"},
        {"SERVERNT", "UnSupportedAdvanced Server 4.0"},
        {"Mystery", "UnSupported 4.0"},
        {fits.c_str(), "UnSupported 4.0"},
        {tooLong.c_str(), nullptr},
        {nullptr, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.productType ? std::string(c.productType).substr(0, 16) : "(absent)");
        Hive hive;
        hive.SetText("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "CurrentVersion", "4.0")
            .SetText("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "CSDVersion",
                     "Service Pack 5");
        if (c.productType) {
            hive.SetText("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ProductOptions", "ProductType",
                         c.productType);
        }
        WriteHive(hive);
        char *name = GetOSName();
        if (c.expectName == nullptr) {
            EXPECT_EQ(nullptr, name);
        } else {
            EXPECT_STREQ(c.expectName, name);
        }
        free(name);
    }
    EXPECT_TRUE(log_.Messages("ERROR").empty()) << "the name is never logged as an error";
}

TEST_F(OsInfoTest, UnconfiguredMachineIsWindows7Professional) {
    root_.WriteHive("");
    char *name = GetOSName();
    ASSERT_NE(nullptr, name);
    EXPECT_STREQ("Windows 7 Professional Edition", name);
    free(name);
    EXPECT_EQ(3, GetOsFamily());
}

TEST_F(OsInfoTest, UnknownProductTypeLogsOneError) {
    Machine m = {"unknown", "6.1", "", "WinNT", "x86", 2, -1, 0x63, "", 0, 0};
    root_.WriteHive(MachineHive(m));
    char *name = GetOSName();
    EXPECT_STREQ("Windows 7 Unknown Edition", name);
    free(name);
    std::vector<std::string> errors = log_.Messages("ERROR");
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ("Edition can't be retrieved\n", errors[0]);
}

TEST_F(OsInfoTest, FamilyLogLinesForUnreadableAndUnknownSystems) {
    Machine nt4 = {"NT 4", "4.0", "Service Pack 6", "WinNT", "x86", 2, 0, -1, "", 0, 0};
    root_.WriteHive(MachineHive(nt4));
    EXPECT_EQ(-1, GetOsFamily());
    Machine win98 = {"98", "4.10", "", "WinNT", "x86", 1, -1, -1, "", 0, 0};
    root_.WriteHive(MachineHive(win98));
    EXPECT_EQ(1, GetOsFamily());
    std::vector<std::string> expected = {
        "GetOsFamily :The windows is unable to found . \n",
        "GetOsFamily : Unable to find the OSVersion , Errorcode 87 \n",
    };
    EXPECT_EQ(expected, log_.Messages("ERROR"));
}

TEST_F(OsInfoTest, VistaTestLogsTheName) {
    Machine xp = {"XP", "5.1", "Service Pack 3", "WinNT", "x86", 2, 0, -1, "", 0, 0};
    root_.WriteHive(MachineHive(xp));
    EXPECT_EQ(0, isVistaAndAbove());
    std::vector<std::string> expected = {
        "isVistaAndAbove : GetOSName Windows XP Professional\n",
        "isVistaAndAbove : FALSE\n",
    };
    EXPECT_EQ(expected, log_.Messages("DEBUG"));
}

TEST_F(OsInfoTest, NtPrefixes) {
    Machine server = {"2003", "5.2", "", "ServerNT", "AMD64", 2, 0, -1, "", 0, 0};
    root_.WriteHive(MachineHive(server));
    EXPECT_STREQ("Windows 2000 ", GetNTVersionPrefix(5, 0));
    EXPECT_STREQ("Windows XP ", GetNTVersionPrefix(5, 1));
    EXPECT_STREQ("Windows Server 2003", GetNTVersionPrefix(5, 2));
    EXPECT_EQ(nullptr, GetNTVersionPrefix(5, 3));
    EXPECT_STREQ("Windows NT ", GetNTVersionPrefix(3, 51));
    EXPECT_EQ(nullptr, GetNTVersionPrefix(6, 1));
}

}  // namespace
}  // namespace agent_test
