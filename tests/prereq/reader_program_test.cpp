/* The built program end to end: settings in the machine's registry, the package from
 * a store server on 127.0.0.1, an msiexec.exe that records its runs (the demo's
 * script on the stand-in, the tests' recorder on Windows). */
#include "prereq/reader_test_support.h"
#include "support/http_server.h"
#include "support/reader_package.h"

#include <gtest/gtest.h>


#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <thread>
#include <string>
#include <vector>

namespace {

using namespace reader_test;
using vt_test::ReadWholeFile;
using vt_test::ScratchRoot;

const char kInstallDir[] = "C:\\Vantrel Agent";
const char kPatches[] = "C:\\Vantrel Agent\\patches";

struct Machine {
    int port = 0;
    std::string rate = "0";
    std::string language = "0409";  // InstallLanguage
    bool wow64 = false;
    std::string installDir = kInstallDir;  // UTF-8, as the hive file holds it
    std::string requestTimeout;            // "HTTPRequestTimeout" in ms, "" for none
};

/* A complete agent configuration and a Reader registration (language group `group`)
 * whose source list names the setup folder; the cached package itself is missing. */
std::string Hive(const Machine &m, const std::string &group, const std::string &packed) {
    const std::string software = m.wow64 ? "SOFTWARE\\Wow6432Node" : "SOFTWARE";
    const std::string agent = software + "\\Corvane\\Vantrel\\DAZered";
    std::string h;
    h += Key(agent) + Value("DAZeredInstallDir", m.installDir) + Value("DAZeredVersion", "7.2.0") +
         Value("MSPName", "MSP") + Value("CustomerName", "Customer") + Value("CustomerId", "C1") +
         Value("VTProductCode", "RERI") + Value("EnableDistributionServer", "no") + Value("EnableDSRoute", "no") +
         Value("ProxyEnabled", "no") + Value("DataTransferRate_KBps", m.rate) +
         "\"DAZeredLogLevel\"=dword:00000002\n";
    if (!m.requestTimeout.empty()) {
        char dword[40];
        snprintf(dword, sizeof dword, "\"HTTPRequestTimeout\"=dword:%08x\n", std::stoi(m.requestTimeout));
        h += dword;
    }
    h += "\n";
    h += Key(agent + "\\ServerInfo") + Value("VTServerName", "localhost") + Value("VTServerFlatName", "localhost") +
         Value("VTServerIPAddress", "127.0.0.1") + Value("VTServerSecIPAddress", "127.0.0.1") +
         Value("VTLastAccessName", "127.0.0.1") + Value("VTServerPort", std::to_string(m.port)) +
         Value("VTServerProtocol", "http") + "\n";
    h += Key(agent + "\\SystemDetails") + Value("DAZeredResourceID", "R-1") + "\n";
    h += Key("SYSTEM\\WinapiStandIn\\Network") + "\"AdapterCount\"=dword:00000001\n\n" +
         Key("SYSTEM\\WinapiStandIn\\Network\\Adapter0") + Value("Name", "eth0") + Value("Description", "Ethernet") +
         Value("MacAddress", "00-15-5D-01-02-03") + Value("IPAddress", "192.168.56.10") +
         Value("SubnetMask", "255.255.255.0") + "\n";
#ifdef WINAPI_STANDIN
    if (m.wow64)
        h += Key("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment") +
             Value("PROCESSOR_ARCHITECTURE", "AMD64") + "\n";
#endif
    h += Key("SYSTEM\\CurrentControlSet\\Control\\Nls\\Language") + Value("InstallLanguage", m.language) + "\n";
    h += Key(SourceListKey(packed)) + Value("LastUsedSource", "n;1;" + SetupFolder(group) + "\\") + "\n";
    h += Key(SourceListKey(packed) + "\\Net") + Value("1", SetupFolder(group) + "\\") + "\n";
    return h;
}

/* Folders and files below `host`, as relative host paths, sorted. */
std::vector<std::string> Tree(const std::string &host) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(std::filesystem::u8path(host), ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        names.push_back(it->path().lexically_relative(std::filesystem::u8path(host)).u8string());
    std::sort(names.begin(), names.end());
    return names;
}

/* The machine's msiexec.exe as the agent names it. */
std::string MsiexecPath() {
    char windows[MAX_PATH + 1] = {};
    GetWindowsDirectoryA(windows, sizeof windows);
    return std::string(windows) + "\\system32\\msiexec.exe";
}

/* True when every line of `wanted` occurs in `text`, in this order. */
::testing::AssertionResult LinesInOrder(const std::string &text, const std::vector<std::string> &wanted) {
    size_t pos = 0;
    for (const std::string &line : wanted) {
        const size_t at = text.find(line, pos);
        if (at == std::string::npos)
            return ::testing::AssertionFailure() << "missing (or out of order): \"" << line << "\"\nlog:\n" << text;
        pos = at + line.size();
    }
    return ::testing::AssertionSuccess();
}

class ReaderProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.ok());
        machine.port = server.port();
    }

    void Prepare(const std::string &group, const std::string &packed) {
        root.WriteHive(Hive(machine, group, packed));
        vt_test::MakeDirs(root.Host(SetupFolder(group)));
        if (machine.installDir[0] != '\\')
            vt_test::MakeDirs(root.Host(machine.installDir));  // an installed agent has its folder
        msiexec.InstallRecorder();
    }
#ifndef WINAPI_STANDIN
    void TearDown() override {
        /* The registrations the runs made; the scratch root removes only keys it knows. */
        for (const char *group : {"1033", "1031"}) RegDeleteKeyA(HKEY_LOCAL_MACHINE, ProductIdKey(group).c_str());
    }
#endif

    /* Pauses and process waits run 1000 times faster: the retries' 1 s is 1 ms. */
    vt_test::ProcessResult Run(std::vector<std::string> env = {}) {
        env.push_back("WINAPI_WAIT_SCALE=1000");
        vt_test::ProcessResult r = vt_test::RunProgram(VT_PREREQ_EXE, {"-p", "PATCH-1"}, env);
        r.out = vt_test::UnixLineEnds(r.out);
        return r;
    }

    /* The store serves `bytes` under the package name; returns them. */
    std::string ServePackage(const std::string &package, const std::string &bytes) {
        server.Serve("GET", "/store/" + package, vt_test::CannedResponse::Text(200, bytes));
        return bytes;
    }

    /* The log without time stamps and thread ids. */
    std::string Log() const {
        return WithoutStamps(vt_test::UnixLineEnds(ReadWholeFile(root.Host(machine.installDir + "\\logs\\rozedidavevazez.log"))));
    }
    std::string MsiexecRuns() const { return ReadWholeFile(root.path() + "/msiexec-runs.log"); }

    /* How the check names `bytes` that hold no Installer database: with the code this
     * machine's MsiOpenDatabaseA gives for them. */
    std::string NoDatabase(const std::string &bytes) {
        const char probe[] = "C:\\no-database.msi";
        vt_test::WriteWholeFile(root.Host(probe), bytes);
        MSIHANDLE database = 0;
        const UINT rc = MsiOpenDatabaseA(probe, MSIDBOPEN_READONLY, &database);
        if (rc == ERROR_SUCCESS) MsiCloseHandle(database);
        std::remove(root.Host(probe).c_str());
#ifdef WINAPI_STANDIN
        EXPECT_EQ(rc, static_cast<UINT>(ERROR_OPEN_FAILED));
#endif
        return "no Windows Installer database (MsiOpenDatabaseA error " + std::to_string(rc) + ")";
    }

    /* Asserts that a run changed none of the Reader's Installer values and ran nothing. */
    void ExpectNothingChanged(const std::string &group, const std::string &packed) {
        EXPECT_EQ(ReadValue(ProductIdKey(group), "InstallSource"), "<no key>");
        EXPECT_EQ(ReadValue(SourceListKey(packed), "LastUsedSource"), "n;1;" + SetupFolder(group) + "\\");
        EXPECT_EQ(ReadValue(SourceListKey(packed), "PackageName"), "<no value>");
        EXPECT_EQ(MsiexecRuns(), "") << "msiexec was run";
    }

    ScratchRoot root;
    MsiexecStandIn msiexec{root};
    vt_test::TestHttpServer server;
    Machine machine;
};

TEST_F(ReaderProgramTest, RepairsTheSourceThenFindsItAvailable) {
#ifdef WINAPI_STANDIN
    machine.wow64 = true;  // a 32-bit agent on a 64-bit machine
#endif
    const std::string package = "300297-AdbeRdr1010_en_US.msi";
    const std::string msi = ServePackage(package, vt_test::ReaderPackage("1033", "10.1.0"));
    Prepare("1033", "3301");

    vt_test::ProcessResult first = Run();
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_NE(first.out.find("szLocale : en_US\n"), std::string::npos) << first.out;
    const std::string packagePath = std::string(kPatches) + "\\" + package;
    const std::string commandLine = MsiexecPath() + " /i \"" + packagePath + "\" /qn";
    EXPECT_TRUE(LinesInOrder(
        Log(), {"[INFO] patchName : PATCH-1\n", "[INFO] szLangId : 1033\n",
                "[INFO] netpath : n;1;" + SetupFolder("1033") + "\\\n", "[INFO] netValue : 1\n[INFO] netValue : 1\n",
                "[INFO] installSource : " + SetupFolder("1033") + "\\\n",
                "[INFO] sourcePath : " + SetupFolder("1033") + "\n",
                "[INFO] sourcePath : " + SetupFolder("1033") + "\\AcroRead.msi\n", "[INFO] Inside Kestrinst\n",
                "[INFO] String from Registry : 0409 and Integer after Conversion : 1033\n",
                "[INFO] szLangId : 1033\n", "[INFO] productId : " + ProductIdKey("1033") + "\n",
                "[INFO] productKey : " + SourceListKey("3301") + "\n",
                "[INFO] CheckReaderPackage : " + packagePath +
                    " is ProductCode {AC76BA86-7AD7-1033-7B44-AA1000000001} ProductVersion 10.1.0, as expected \n",
                "[INFO] execute : Executing Application Source : " + commandLine + " \n",
                "[INFO] execute : Set Working Directory : " + std::string(kPatches) + " \n",
                "[INFO] execute : Exit code for the application : 0 \n",
                "[INFO] Adobe 10.1.0 installation status : 0\n",
                "[INFO] Returning from Kestrinst with errorcode : 0\n"}));
    EXPECT_EQ(ReadWholeFile(root.Host(packagePath)), msi);

#ifdef WINAPI_STANDIN
    /* "InstallSource" through the default (32-bit) view, the source list (shared
     * Classes) with "PackageName" through the 64-bit view. */
    EXPECT_EQ(ReadValue(ProductIdKey("1033"), "InstallSource", KEY_WOW64_32KEY), kPatches);
    EXPECT_EQ(ReadValue(ProductIdKey("1033"), "InstallSource", KEY_WOW64_64KEY), "<no key>");
    const REGSAM classesView = KEY_WOW64_64KEY;
#else
    /* The test program and the agent share their view of the machine's registry. */
    EXPECT_EQ(ReadValue(ProductIdKey("1033"), "InstallSource"), kPatches);
    const REGSAM classesView = 0;
#endif
    EXPECT_EQ(ReadValue(SourceListKey("3301"), "LastUsedSource"), kPatches);
    EXPECT_EQ(ReadValue(SourceListKey("3301"), "PackageName", classesView), package);

    EXPECT_EQ(MsiexecRuns(), "command line: " + commandLine + "\ndirectory:    " + kPatches +
                                 "\nhost folder:  " + root.Host(kPatches) + "\ncached:       " +
                                 SetupFolder("1033") + "\\AcroRead.msi\nresult:       0 (installed)\n");

    /* Second run: the last used source is now the bare patches folder (index 1),
     * whose entry names the setup folder, which now holds the cached package. */
    const size_t requests = server.RequestCount();
    const std::string logBefore = Log();
    vt_test::ProcessResult second = Run();
    EXPECT_EQ(second.exitCode, 0) << second.err;
    const std::string secondLog = Log().substr(logBefore.size());
    EXPECT_TRUE(LinesInOrder(secondLog, {"[INFO] netpath : " + std::string(kPatches) + "\n",
                                         "[INFO] netValue : \n[INFO] netValue : 1\n",
                                         "[INFO] File : " + SetupFolder("1033") +
                                             "\\AcroRead.msi is available, so returning from kestrinst\n"}));
    EXPECT_EQ(secondLog.find("Kestrinst"), std::string::npos) << "the repair ran again";
    EXPECT_EQ(server.RequestCount(), requests);
    EXPECT_EQ(ReadValue(SourceListKey("3301"), "PackageName", classesView), "AcroRead.msi");
}

TEST_F(ReaderProgramTest, DownloadFailuresChangeNothing) {
    for (const bool serverDown : {false, true}) {
        SCOPED_TRACE(serverDown ? "server down" : "package not in the store (404)");
        if (serverDown) {
            machine.port = vt_test::RefusedPort();
            vt_test::WriteWholeFile(root.Host("C:\\Vantrel Agent\\logs\\rozedidavevazez.log"), "");
        }
        Prepare("1033", "3301");
        vt_test::ProcessResult r = Run();
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(LinesInOrder(Log(), {"[INFO] Inside Kestrinst\n",
                                         "[INFO] \t Error occured while downloading the Patch : " +
                                             std::string(kPatches) + "\\300297-AdbeRdr1010_en_US.msi \n"}));
        EXPECT_EQ(Log().find("[INFO] productId"), std::string::npos);
        ExpectNothingChanged("1033", "3301");
    }
}

TEST_F(ReaderProgramTest, InstallerOutcomeShowsInTheStatusLineAndARestartIsAnnounced) {
    ServePackage("300297-AdbeRdr1010_en_US.msi", vt_test::ReaderPackage("1033", "10.1.0"));
    const struct {
        const char *exitCodes;  // one per msiexec run
        const char *lastExitCode;
        const char *status;
        size_t runs;
        bool restart;
    } cases[] = {{"3010", "3010", "0", 1, true},
                 {"1641", "1641", "0", 1, true},
                 {"1603", "1603", "1603", 1, false},
                 {"1618 1618 3010", "3010", "0", 3, true},
                 {"1618", "1618", "1618", 4, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.exitCodes);
#ifndef WINAPI_STANDIN
        /* msiexec runs again 30, 60 and 90 s after a 1618: only where waits are scaled. */
        if (std::string(c.exitCodes).find("1618") != std::string::npos) continue;
#endif
        Prepare("1033", "3301");
        std::remove(root.Host(SetupFolder("1033") + "\\AcroRead.msi").c_str());  // left by the previous case
        std::remove((root.path() + "/msiexec-count").c_str());
        vt_test::WriteWholeFile(root.path() + "/msiexec-runs.log", "");
        vt_test::WriteWholeFile(root.Host("C:\\Vantrel Agent\\logs\\rozedidavevazez.log"), "");
        vt_test::ProcessResult r = Run({std::string("MSIEXEC_EXIT_CODE=") + c.exitCodes});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        std::vector<std::string> lines = {std::string("[INFO] execute : Exit code for the application : ") +
                                          c.lastExitCode + " \n"};
        const std::string restart = std::string("needs a restart of the computer to complete (msiexec exit code ") +
                                    c.lastExitCode + ") \n";
        if (c.restart) lines.push_back("[INFO] InstallReaderBase : The installation " + restart);
        lines.push_back(std::string("[INFO] Adobe 10.1.0 installation status : ") + c.status + "\n");
        lines.push_back("[INFO] Returning from Kestrinst with errorcode : 0\n");
        EXPECT_TRUE(LinesInOrder(Log(), lines));
        EXPECT_EQ(r.out.find("restart") != std::string::npos, c.restart) << r.out;
        if (c.restart) {
            EXPECT_NE(r.out.find(std::string("Reader 10.1.0 installation needs a restart of the computer (msiexec "
                                             "exit code ") +
                                 c.lastExitCode + ")\n"),
                      std::string::npos)
                << r.out;
        }
        size_t runs = 0;
        const std::string record = MsiexecRuns();
        for (size_t at = record.find("command line:"); at != std::string::npos; at = record.find("command line:", at + 1))
            ++runs;
        EXPECT_EQ(runs, c.runs) << record;
        /* The registration is written before msiexec runs, whatever it reports. */
        EXPECT_EQ(ReadValue(SourceListKey("3301"), "LastUsedSource"), kPatches);
    }
}

TEST_F(ReaderProgramTest, AFileThatIsNotThePackageIsRemovedAndNothingIsRegisteredOrRun) {
    const std::string package = "300297-AdbeRdr1010_en_US.msi";
    const std::string right = vt_test::ReaderPackage("1033", "10.1.0");
    const std::string expected = "expected ProductCode {AC76BA86-7AD7-1033-7B44-AA1000000001} ProductVersion 10.1.0";
    const std::string html = "<html><head><title>Sign in</title></head><body>Proxy login</body></html>\n";
    const std::string truncated = right.substr(0, right.size() * 2 / 3);
    const struct {
        const char *what;
        std::string body;
        std::string found;
    } cases[] = {
        {"a proxy's HTML page", html, NoDatabase(html)},
        {"a truncated package", truncated, NoDatabase(truncated)},
        {"the German package", vt_test::ReaderPackage("1031", "10.1.0"),
         "ProductCode {AC76BA86-7AD7-1031-7B44-AA1000000001} ProductVersion 10.1.0"},
        {"version 10.0.0", vt_test::ReaderPackage("1033", "10.0.0"),
         "ProductCode {AC76BA86-7AD7-1033-7B44-AA1000000001} ProductVersion 10.0.0"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ServePackage(package, c.body);
        Prepare("1033", "3301");
        vt_test::WriteWholeFile(root.Host("C:\\Vantrel Agent\\logs\\rozedidavevazez.log"), "");
        vt_test::ProcessResult r = Run();
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const std::string path = std::string(kPatches) + "\\" + package;
        EXPECT_TRUE(LinesInOrder(Log(), {"[INFO] productKey : " + SourceListKey("3301") + "\n",
                                         "[ERROR] CheckReaderPackage : " + path +
                                             " is not the Reader base package: found " + c.found + ", " + expected +
                                             "; the file is removed \n"}));
        EXPECT_EQ(Log().find("Returning from Kestrinst"), std::string::npos);
        ExpectNothingChanged("1033", "3301");
        const std::string folder = root.Host(kPatches);
        /* Only the repair lock, which stays between runs. */
        EXPECT_EQ(Tree(folder), std::vector<std::string>{"repair.lock"}) << "files left behind";
    }
}

TEST_F(ReaderProgramTest, WithoutAWindowsDirectoryNothingRunsAndTheStatusIsAFailure) {
#ifndef WINAPI_STANDIN
    GTEST_SKIP() << "the Windows directory comes from the stand-in's registry; a machine's own cannot be taken away";
#endif
    ServePackage("300297-AdbeRdr1010_en_US.msi", vt_test::ReaderPackage("1033", "10.1.0"));
    Prepare("1033", "3301");
    /* A Windows directory too long for any MAX_PATH buffer. */
    root.WriteHive(Hive(machine, "1033", "3301") + Key("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion") +
                   Value("SystemRoot", "C:\\" + std::string(300, 'w')) + "\n");
    vt_test::ProcessResult r = Run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(LinesInOrder(Log(), {"[INFO] Inside Kestrinst\n", "[INFO] productKey : " + SourceListKey("3301") + "\n",
                                     "[ERROR] InstallReaderBase : Unable to get the Windows directory, error code 122 \n",
                                     "[INFO] Adobe 10.1.0 installation status : 122\n",
                                     "[INFO] Returning from Kestrinst with errorcode : 0\n"}));
    EXPECT_EQ(Log().find("execute"), std::string::npos) << "nothing may be run";
    EXPECT_EQ(MsiexecRuns(), "");
}

TEST_F(ReaderProgramTest, ThrottledDownloadNeedsAnExistingPatchesFolder) {
    machine.rate = "512";
    server.Serve("GET", "/store/300297-AdbeRdr1010_en_US.msi", vt_test::CannedResponse::Generated(3000));
    Prepare("1033", "3301");
    vt_test::ProcessResult r = Run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(Log().find("Error occured while downloading the Patch"), std::string::npos) << Log();
    EXPECT_FALSE(vt_test::PathExists(root.Host(kPatches)));
    ExpectNothingChanged("1033", "3301");
}

TEST_F(ReaderProgramTest, GermanMachineUsesItsOwnPackageAndKeys) {
    machine.language = "0407";
    const std::string package = "300297-AdbeRdr1010_de_DE.msi";
    ServePackage(package, vt_test::ReaderPackage("1031", "10.1.0"));
    Prepare("1031", "1301");
    vt_test::ProcessResult r = Run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("szLocale : de_DE\n"), std::string::npos);
    bool asked = false;
    for (const vt_test::RecordedRequest &req : server.Requests()) asked |= req.path == "/store/" + package;
    EXPECT_TRUE(asked);
    EXPECT_EQ(ReadValue(ProductIdKey("1031"), "InstallSource"), kPatches);
    EXPECT_EQ(ReadValue(SourceListKey("1301"), "LastUsedSource"), kPatches);
    EXPECT_EQ(ReadValue(SourceListKey("1301"), "PackageName"), package);
    EXPECT_EQ(ReadValue(ProductIdKey("1033"), "InstallSource"), "<no key>");
    EXPECT_NE(MsiexecRuns().find("cached:       " + SetupFolder("1031") + "\\AcroRead.msi\n"), std::string::npos);
}

/* ---- What the repair guarantees about the package -------------------------------- */

const char kPackage[] = "300297-AdbeRdr1010_en_US.msi";

class PackageSafetyTest : public ReaderProgramTest {
protected:
    std::string PackageHost() const { return root.Host(std::string(kPatches) + "\\" + kPackage); }
    std::vector<std::string> PackageTemporaries() const {
        std::vector<std::string> names;
        for (const std::string &name : Tree(root.Host(kPatches)))
            if (name.rfind(kPackage, 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".tmp")
                names.push_back(name);
        return names;
    }
    int Start() {
        return vt_test::StartProgram(VT_PREREQ_EXE, {"-p", "PATCH-1"}, {"WINAPI_WAIT_SCALE=1000"});
    }
    /* The real package, sent in 16 pieces `paceMs` apart (ranges answered). */
    static vt_test::CannedResponse SlowPackage(const std::string &package, unsigned paceMs) {
        vt_test::CannedResponse slow = vt_test::CannedResponse::Text(200, package);
        slow.ranges = true;
        slow.paceBytes = package.size() / 16 + 1;
        slow.paceMs = paceMs;
        return slow;
    }
    /* The repair is needed again: the cached package from the last install goes. */
    void ForgetInstall() { std::remove(root.Host(SetupFolder("1033") + "\\AcroRead.msi").c_str()); }
    int InstallCount() const {
        const std::string runs = MsiexecRuns();
        int n = 0;
        for (size_t at = runs.find("command line:"); at != std::string::npos; at = runs.find("command line:", at + 1))
            ++n;
        return n;
    }
};

TEST_F(PackageSafetyTest, AKilledRunLeavesTheOldPackageOrTheWholeNewOneAndTheNextCleansUp) {
    const std::string whole = vt_test::ReaderPackage("1033", "10.1.0");
    std::mt19937 random(20261208);
    /* Plain: 16 pieces 40 ms apart; throttled: 4 ranges of ~600 ms (rate x 500
     * bytes a range). */
    const std::string rate = std::to_string(whole.size() / 2000 + 1);
    const struct {
        std::string rate;
        int rounds;
        int longestMs;
    } modes[] = {{"0", 4, 900}, {rate, 3, 2800}};
    for (const auto &mode : modes) {
        SCOPED_TRACE("rate " + mode.rate);
        machine.rate = mode.rate;
        server.Serve("GET", std::string("/store/") + kPackage, SlowPackage(whole, 40));
        Prepare("1033", "3301");
        vt_test::MakeDirs(root.Host(kPatches));
        vt_test::WriteWholeFile(PackageHost(), "old package");
        for (int round = 0; round < mode.rounds; ++round) {
            const int delayMs = 100 + static_cast<int>(random() % static_cast<unsigned>(mode.longestMs));
            SCOPED_TRACE("killed after " + std::to_string(delayMs) + " ms");
            ForgetInstall();
            const int pid = Start();
            ASSERT_GT(pid, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            vt_test::KillProgram(pid);
            vt_test::WaitProgram(pid);
            const std::string now = ReadWholeFile(PackageHost());
            EXPECT_TRUE(now == "old package" || now == whole) << "a package of " << now.size() << " bytes";
        }
        /* Left-overs of runs that never finished, of this package and others. */
        vt_test::WriteWholeFile(PackageHost() + "4242.tmp", "stale");
        vt_test::WriteWholeFile(root.Host(std::string(kPatches) + "\\notes.tmp"), "keep");
        vt_test::WriteWholeFile(PackageHost() + "x.tmp", "keep");
        ForgetInstall();
        vt_test::ProcessResult r = Run();
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(ReadWholeFile(PackageHost()), whole);
        EXPECT_EQ(PackageTemporaries(), std::vector<std::string>{std::string(kPackage) + "x.tmp"});
        EXPECT_TRUE(vt_test::PathExists(root.Host(std::string(kPatches) + "\\notes.tmp")));
        EXPECT_NE(Log().find("[INFO] InstallReaderBase : Removed " + std::string(kPatches) + "\\" + kPackage +
                             "4242.tmp, left by an interrupted download \n"),
                  std::string::npos);
        EXPECT_NE(MsiexecRuns().find("result:       0 (installed)"), std::string::npos);
    }
}

TEST_F(PackageSafetyTest, TheFinalNameNeverShowsAPartialPackage) {
    const uint64_t size = 16 << 20;
    server.Serve("GET", std::string("/store/") + kPackage, vt_test::CannedResponse::Generated(size));
    Prepare("1033", "3301");
    vt_test::MakeDirs(root.Host(kPatches));
    vt_test::WriteWholeFile(PackageHost(), "old package");
    /* Whatever a reader finds under the name while the run goes on: the old
     * package or the whole new one (16 MiB, so that a copy would take a while). */
    std::atomic<bool> running{true};
    std::set<long long> sizes;
    std::thread watcher([&] {
        while (running) {
            struct stat st;
            sizes.insert(stat(PackageHost().c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1);
        }
    });
    vt_test::ProcessResult r = Run();
    running = false;
    watcher.join();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(Log().find("[INFO] InternetGetRequestEx : Successfully downloaded the file"), std::string::npos);
    /* The bytes are no Installer package: the check removes them afterwards (-1). */
    sizes.erase(-1);
    sizes.erase(11);
    sizes.erase(static_cast<long long>(size));
    EXPECT_TRUE(sizes.empty()) << "partial sizes seen: " << sizes.size() << ", the first " << *sizes.begin();
}

TEST_F(PackageSafetyTest, RunsStartedTogetherDownloadAndInstallOnce) {
    const std::string package = vt_test::ReaderPackage("1033", "10.1.0");
    server.Serve("GET", std::string("/store/") + kPackage, SlowPackage(package, 60));
    for (const int apartMs : {0, 500}) {
        SCOPED_TRACE(std::to_string(apartMs) + " ms apart");
        Prepare("1033", "3301");
        ForgetInstall();
        std::remove(PackageHost().c_str());
        vt_test::WriteWholeFile(root.path() + "/msiexec-runs.log", "");
        vt_test::WriteWholeFile(root.Host(std::string(kInstallDir) + "\\logs\\rozedidavevazez.log"), "");
        server.ClearRequests();
        const int first = Start();
        std::this_thread::sleep_for(std::chrono::milliseconds(apartMs));
        const int second = Start();
        ASSERT_GT(first, 0);
        ASSERT_GT(second, 0);
        EXPECT_EQ(vt_test::WaitProgram(first), 0);
        EXPECT_EQ(vt_test::WaitProgram(second), 0);

        size_t downloads = 0;
        for (const vt_test::RecordedRequest &req : server.Requests()) downloads += req.path == std::string("/store/") + kPackage;
        EXPECT_EQ(downloads, 1u);
        EXPECT_EQ(InstallCount(), 1) << MsiexecRuns();
        EXPECT_NE(MsiexecRuns().find("result:       0 (installed)"), std::string::npos) << MsiexecRuns();
        EXPECT_EQ(ReadWholeFile(root.Host(SetupFolder("1033") + "\\AcroRead.msi")), package);
        /* Either the second run found the source repaired at its check, or it
         * waited for the lock and found it then. */
        const std::string log = Log();
        const bool waited = log.find("Another run is repairing; waiting for it to end") != std::string::npos;
        EXPECT_EQ(waited, log.find("Another run repaired the source meanwhile") != std::string::npos) << log;
    }
}

TEST_F(PackageSafetyTest, RangesHoldingOtherBytesAreNeitherRegisteredNorInstalled) {
    machine.rate = "512";
    const uint64_t size = 600000;
    server.Serve("GET", std::string("/store/") + kPackage, [size](const vt_test::RecordedRequest &req) {
        if (req.method == "HEAD") return vt_test::CannedResponse::Text(200, vt_test::GeneratedBytes(0, size));
        /* Every range answered with the resource's first bytes, and said so. */
        unsigned long long first = 0, last = 0;
        sscanf(req.Header("Range").c_str(), "bytes=%llu-%llu", &first, &last);
        const uint64_t n = std::min<uint64_t>(last, size - 1) - first + 1;
        return vt_test::CannedResponse::Text(
            206, vt_test::GeneratedBytes(0, n),
            {{"Content-Range", "bytes 0-" + std::to_string(n - 1) + "/" + std::to_string(size)}});
    });
    Prepare("1033", "3301");
    vt_test::MakeDirs(root.Host(kPatches));
    vt_test::WriteWholeFile(PackageHost(), "old package");
    vt_test::ProcessResult r = Run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(LinesInOrder(Log(), {"[ERROR] InternetGetRequestByBitrate : The answer holds other bytes than "
                                     "bytes=256001-512000 of 600000 (Content-Range: bytes 0-255999/600000) --> 12030 \n",
                                     "[INFO] \t Error occured while downloading the Patch : " + std::string(kPatches) +
                                         "\\" + kPackage + " \n"}));
    ExpectNothingChanged("1033", "3301");
    EXPECT_EQ(ReadWholeFile(PackageHost()), "old package");
    EXPECT_TRUE(PackageTemporaries().empty());
}

TEST_F(PackageSafetyTest, AServerThatTricklesEndsTheRunWithNothingRegistered) {
    machine.requestTimeout = "100";
    server.Serve("GET", std::string("/store/") + kPackage, vt_test::CannedResponse::Paced(100, 1, 250));
    Prepare("1033", "3301");
    vt_test::ProcessResult r = Run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(LinesInOrder(Log(), {"[ERROR] InternetGetRequestEx : The server sends too slowly, the transfer is "
                                     "given up --> 12002 \n",
                                     "[INFO] \t Error occured while downloading the Patch : " + std::string(kPatches) +
                                         "\\" + kPackage + " \n"}));
    ExpectNothingChanged("1033", "3301");
    EXPECT_FALSE(vt_test::PathExists(PackageHost()));
    EXPECT_TRUE(PackageTemporaries().empty());
}

TEST_F(PackageSafetyTest, InstallFoldersOutsideAscii) {
    const std::string package = ServePackage(kPackage, vt_test::ReaderPackage("1033", "10.1.0"));

    /* é and ü have their places in the ANSI code page: the whole job works. */
    machine.installDir = "C:\\Program Files\\Vantr\xc3\xa9l\\Ag\xc3\xbcnt";
    Prepare("1033", "3301");
    vt_test::ProcessResult r = Run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string patches = "C:\\Program Files\\Vantr\xc3\xa9l\\Ag\xc3\xbcnt\\patches";
    EXPECT_EQ(ReadWholeFile(root.Host(patches + "\\" + kPackage)), package);
    EXPECT_NE(Log().find("[INFO] Returning from Kestrinst with errorcode : 0\n"), std::string::npos) << Log();
    const std::string ansiPatches = "C:\\Program Files\\Vantr\xe9l\\Ag\xfcnt\\patches";
    EXPECT_EQ(ReadValue(ProductIdKey("1033"), "InstallSource"), ansiPatches);
    EXPECT_EQ(ReadValue(SourceListKey("3301"), "LastUsedSource"), ansiPatches);
    EXPECT_EQ(ReadValue(SourceListKey("3301"), "PackageName"), kPackage);
#ifdef WINAPI_STANDIN
    EXPECT_NE(root.ReadHive().find(Value("InstallSource", patches)), std::string::npos);
#endif
    EXPECT_NE(MsiexecRuns().find("directory:    " + patches + "\nhost folder:  " + root.Host(patches) + "\n"),
              std::string::npos)
        << MsiexecRuns();
    EXPECT_NE(MsiexecRuns().find("result:       0 (installed)"), std::string::npos);

    /* Ω is not in it, and a share on another machine is no folder here: the run
     * ends cleanly, makes nothing anywhere, writes and runs nothing. */
    for (const std::string &dir : {std::string("C:\\Program Files\\Vantrel \xce\xa9\\Agent"),
                                  std::string("\\\\127.0.0.1\\share\\x")}) {
        SCOPED_TRACE(dir);
        machine.installDir = dir;
        root.WriteHive(Hive(machine, "1033", "3301"));
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, ProductIdKey("1033").c_str());  // left by the first run on Windows
        ForgetInstall();  // the source needs the repair again
        vt_test::WriteWholeFile(root.path() + "/msiexec-runs.log", "");
        const std::vector<std::string> rootBefore = Tree(root.path());
        server.ClearRequests();
        r = Run();
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(Tree(root.path()), rootBefore);
        /* Nothing named after the install directory in the host's current folder. */
        std::error_code ec;
        for (const auto &entry : std::filesystem::directory_iterator(".", ec)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name.find('\\') == std::string::npos && name.find("127.0.0.1") == std::string::npos &&
                        name.find("Vantrel") == std::string::npos && name != "logs" && name != "patches")
                << name;
        }
        EXPECT_EQ(server.RequestCount(), 0u);
        ExpectNothingChanged("1033", "3301");
#ifdef WINAPI_STANDIN
        const std::string hive = root.ReadHive();
        EXPECT_EQ(hive.find("\xef\xbf\xbd"), std::string::npos) << "a replacement character was stored";
        EXPECT_EQ(hive.find("InstallSource"), std::string::npos);
#endif
    }
}

TEST_F(ReaderProgramTest, InstallerGetsOneHundredMinutes) {
    /* An installer that never ends is stopped at the limit (waits are scaled: the
     * 100 minutes pass in six seconds). */
#ifndef WINAPI_STANDIN
    GTEST_SKIP() << "100 minutes pass in six seconds only where the stand-in scales waits";
#endif
    ServePackage("300297-AdbeRdr1010_en_US.msi", vt_test::ReaderPackage("1033", "10.1.0"));
    Prepare("1033", "3301");
    msiexec.Install("#!/bin/sh\nexec sleep 60\n");
    vt_test::ProcessResult r = Run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string commandLine = MsiexecPath() + " /i \"" + std::string(kPatches) +
                                    "\\300297-AdbeRdr1010_en_US.msi\" /qn";
    EXPECT_TRUE(LinesInOrder(Log(), {"[INFO] execute : Terminating the Process for application " + commandLine +
                                         " as time is exceeded 100 Minutes \n",
                                     "[INFO] execute : The process has been successfully terminated ..! \n"}));
}

}  // namespace
