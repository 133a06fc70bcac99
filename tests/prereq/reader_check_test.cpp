/* The Reader source check, the install language and the package name, against
 * hive fixtures of the emulated machine. */
#include "agent/agent_log.h"
#include "platform/registry.h"
#include "prereq/reader.h"
#include "prereq/reader_test_support.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

namespace {

using reader_test::Key;
using reader_test::LogCapture;
using reader_test::ReadValue;
using reader_test::Value;
using vt_test::ScratchRoot;

const std::string kSetup1033 = reader_test::SetupFolder("1033");
const std::string kSourceList1033 = reader_test::SourceListKey("3301");

std::string Language(const char *installLanguage) {
    return Key("SYSTEM\\CurrentControlSet\\Control\\Nls\\Language") + Value("InstallLanguage", installLanguage) + "\n";
}

std::string XpVersion() {
    return Key("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion") + Value("CurrentVersion", "5.1") +
           "\"CurrentMajorVersionNumber\"=dword:00000005\n\"CurrentMinorVersionNumber\"=dword:00000001\n" +
           Value("CSDVersion", "Service Pack 3") + "\n";
}

class ReaderCheckTest : public ::testing::Test {
protected:
    void SetUp() override { gv_isWow64 = FALSE; }
    void TearDown() override { gv_isWow64 = FALSE; }

    void PlaceCachedPackage(const std::string &setupFolder) {
        const std::string host = root.Host(setupFolder);
        vt_test::MakeDirs(host);
        vt_test::WriteWholeFile(host + "/AcroRead.msi", "msi");
    }

    ScratchRoot root;
    LogCapture log;
};

TEST_F(ReaderCheckTest, SourceAvailableLogsEveryStepAndRewritesPackageName) {
    root.WriteHive(Language("0409") + Key(kSourceList1033) + Value("LastUsedSource", std::string("n;2;") + kSetup1033) +
                   "\n" + Key(std::string(kSourceList1033) + "\\Net") + Value("1", "D:\\elsewhere") +
                   Value("2", std::string(kSetup1033) + "\\") + "\n");
    PlaceCachedPackage(kSetup1033);
    EXPECT_EQ(IsReaderSourceAvailable(), 0);
    const std::string file = std::string(kSetup1033) + "\\AcroRead.msi";
    EXPECT_EQ(log.InfoAndErrors(), std::string("[INFO] String from Registry : 0409 and Integer after Conversion : 1033\n"
                                               "[INFO] szLangId : 1033\n"
                                               "[INFO] netpath : n;2;") +
                                       kSetup1033 +
                                       "\n"
                                       "[INFO] netValue : 2\n"
                                       "[INFO] netValue : 2\n"
                                       "[INFO] installSource : " +
                                       kSetup1033 + "\\\n[INFO] sourcePath : " + kSetup1033 +
                                       "\n[INFO] sourcePath : " + file + "\n[INFO] productKey : " + kSourceList1033 +
                                       "\n[INFO] File : " + file + " is available, so returning from kestrinst\n");
    EXPECT_EQ(ReadValue(kSourceList1033, "PackageName"), "AcroRead.msi");
}

TEST_F(ReaderCheckTest, SourceIndexFromLastUsedSource) {
    const struct {
        const char *lastUsed;  // nullptr: value missing
        const char *firstNetValue;
        const char *index;
    } cases[] = {
        {"n;2;C:\\x", "2", "2"},
        {"m;7;", "7", "7"},
        {nullptr, "", "1"},
        {"C:\\Agent\\patches", "", "1"},  // what an earlier repair leaves behind
        {"n:2;C:\\x", "", "1"},           // second character not ';'
        {"n;", "", "1"},                  // no third character
    };
    for (const auto &c : cases) {
        ScratchRoot caseRoot;
        LogCapture caseLog;
        std::string hive = Language("0409") + Key(std::string(kSourceList1033) + "\\Net") +
                           Value(c.index, kSetup1033) + "\n";
        if (c.lastUsed != nullptr) hive += Key(kSourceList1033) + Value("LastUsedSource", c.lastUsed) + "\n";
        caseRoot.WriteHive(hive);
        const std::string host = caseRoot.Host(kSetup1033);
        vt_test::MakeDirs(host);
        vt_test::WriteWholeFile(host + "/AcroRead.msi", "msi");
        EXPECT_EQ(IsReaderSourceAvailable(), 0) << (c.lastUsed ? c.lastUsed : "(missing)");
        const std::string text = caseLog.Text();
        EXPECT_NE(text.find(std::string("[INFO] netpath : ") + (c.lastUsed ? c.lastUsed : "(null)") + "\n"),
                  std::string::npos);
        EXPECT_NE(text.find(std::string("[INFO] netValue : ") + c.firstNetValue + "\n[INFO] netValue : " + c.index +
                            "\n"),
                  std::string::npos)
            << text;
    }
}

TEST_F(ReaderCheckTest, SourceNotAvailable) {
    const struct {
        const char *what;
        std::string netSource;  // empty: missing
        bool placeFile;
    } cases[] = {
        {"network source missing", "", true},
        {"setup folder in another letter case",
         "c:\\programdata\\adobe\\setup\\{AC76BA86-7AD7-1033-7B44-AA1000000001}", true},
        {"another folder", "C:\\Agent\\patches", true},
        {"AcroRead.msi missing", kSetup1033, false},
    };
    for (const auto &c : cases) {
        ScratchRoot caseRoot;
        std::string hive = Language("0409");
        if (!c.netSource.empty())
            hive += Key(std::string(kSourceList1033) + "\\Net") + Value("1", c.netSource) + "\n";
        caseRoot.WriteHive(hive);
        if (c.placeFile) {
            const std::string host = caseRoot.Host(kSetup1033);
            vt_test::MakeDirs(host);
            vt_test::WriteWholeFile(host + "/AcroRead.msi", "msi");
        }
        EXPECT_EQ(IsReaderSourceAvailable(), 1) << c.what;
        EXPECT_EQ(ReadValue(kSourceList1033, "PackageName").rfind("<no ", 0), 0u)
            << c.what << ": nothing may be written";
    }
}

TEST_F(ReaderCheckTest, XpLayoutOnOlderSystems) {
    const std::string xpSetup =
        "C:\\Documents and Settings\\All Users\\Application Data\\Adobe\\Setup\\{AC76BA86-7AD7-1033-7B44-AA1000000001}";
    /* An XP machine: its version comes from the registry (the emulated machine's). */
    root.WriteHive(Language("0409") + XpVersion() + Key(std::string(kSourceList1033) + "\\Net") + Value("1", xpSetup) +
                   "\n");
    PlaceCachedPackage(kSetup1033);
    EXPECT_EQ(IsReaderSourceAvailable(), 1) << "the file is only in the Vista folder";
    PlaceCachedPackage(xpSetup);
    EXPECT_EQ(IsReaderSourceAvailable(), 0);
    EXPECT_NE(log.Text().find("[INFO] sourcePath : " + xpSetup + "\\AcroRead.msi\n"), std::string::npos);

    /* The same registration on a Vista-and-later machine names the wrong folder. */
    root.WriteHive(Language("0409") + Key(std::string(kSourceList1033) + "\\Net") + Value("1", xpSetup) + "\n");
    PlaceCachedPackage(xpSetup);
    EXPECT_EQ(IsReaderSourceAvailable(), 1);
}

TEST_F(ReaderCheckTest, SetupFolderTakesTheDriveOfTheWindowsDirectory) {
#ifndef WINAPI_STANDIN
    GTEST_SKIP() << "needs a Windows directory and a cached package on drive D:, which the machine (a Wine prefix with "
                    "C: and Z: only) has not";
#endif
    const std::string dSetup = "D:\\ProgramData\\Adobe\\Setup\\{AC76BA86-7AD7-1033-7B44-AA1000000001}";
    root.WriteHive(Language("0409") + Key("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion") +
                   Value("SystemRoot", "D:\\Windows") + "\n" + Key(std::string(kSourceList1033) + "\\Net") +
                   Value("1", dSetup) + "\n");
    PlaceCachedPackage(dSetup);
    EXPECT_EQ(IsReaderSourceAvailable(), 0);
}

TEST_F(ReaderCheckTest, OtherLanguageReadsTheEnglishLastUsedSourceAndItsOwnNetKey) {
    const std::string setup1031 = "C:\\ProgramData\\Adobe\\Setup\\{AC76BA86-7AD7-1031-7B44-AA1000000001}";
    const std::string sourceList1031 =
        "SOFTWARE\\Classes\\Installer\\Products\\68AB67CA7DA71301B744AA0100000010\\SourceList";
    root.WriteHive(Language("0407") + Key(kSourceList1033) + Value("LastUsedSource", "n;3;x") + "\n" +
                   Key(sourceList1031) + Value("LastUsedSource", "n;4;x") + "\n" + Key(sourceList1031 + "\\Net") +
                   Value("3", setup1031) + "\n");
    PlaceCachedPackage(setup1031);
    EXPECT_EQ(IsReaderSourceAvailable(), 0);
    EXPECT_EQ(ReadValue(sourceList1031, "PackageName"), "AcroRead.msi");
    EXPECT_EQ(ReadValue(kSourceList1033, "PackageName"), "<no value>");
}

TEST_F(ReaderCheckTest, PackageNameGoesToThe64BitViewUnderWow64) {
    root.WriteHive(Language("0409") +
                   Key("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment") +
                   Value("PROCESSOR_ARCHITECTURE", "AMD64") + "\n" + Key(std::string(kSourceList1033) + "\\Net") +
                   Value("1", kSetup1033) + "\n");
    PlaceCachedPackage(kSetup1033);
    gv_isWow64 = TRUE;
    EXPECT_EQ(IsReaderSourceAvailable(), 0);
    EXPECT_EQ(ReadValue(kSourceList1033, "PackageName", KEY_WOW64_64KEY), "AcroRead.msi");
    const std::string hive = root.ReadHive();
    EXPECT_EQ(hive.find("Wow6432Node\\Classes"), std::string::npos) << hive;
}

TEST_F(ReaderCheckTest, InstallLanguageParsing) {
    const struct {
        const char *text;  // nullptr: value missing
        const char *id;
        int logged;
        bool fallback;
    } cases[] = {
        {"0409", "1033", 1033, false}, {"0407", "1031", 1031, false}, {"040c", "1036", 1036, false},
        {" 0x0411", "1041", 1041, false}, {"0409zz", "1033", 1033, false}, {nullptr, "1033", 0, true},
        {"", "1033", 0, true},         {"zz", "1033", 0, true},         {"-407", "1033", -1031, true},
        {"FFFFFFFF", "1033", -1, true},
    };
    for (const auto &c : cases) {
        ScratchRoot caseRoot;
        LogCapture caseLog;
        caseRoot.WriteHive(c.text ? Language(c.text) : std::string());
        char *id = GetInstallLanguageId();
        ASSERT_NE(id, nullptr);
        EXPECT_STREQ(id, c.id) << (c.text ? c.text : "(missing)");
        free(id);
        const std::string text = caseLog.Text();
        EXPECT_NE(text.find(std::string("[INFO] String from Registry : ") + (c.text ? c.text : "(null)") +
                            " and Integer after Conversion : " + std::to_string(c.logged) + "\n"),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.find("[ERROR]") != std::string::npos, c.fallback) << text;
    }
}

TEST_F(ReaderCheckTest, PackageNameFollowsTheInstallLanguage) {
    const struct {
        const char *language;
        const char *locale;
    } cases[] = {{"0409", "en_US"}, {"0407", "de_DE"}, {"040C", "fr_FR"}, {"0411", "ja_JP"}, {"0C0A", "es_ES"}};
    for (const auto &c : cases) {
        root.WriteHive(Language(c.language));
        testing::internal::CaptureStdout();
        char *name = GetReaderPackageName();
        const std::string out = testing::internal::GetCapturedStdout();
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(std::string(name), std::string("300297-AdbeRdr1010_") + c.locale + ".msi");
        EXPECT_EQ(out, std::string("szLocale : ") + c.locale + "\n");
        free(name);
    }
}

TEST_F(ReaderCheckTest, RepairWithoutAnInstallDirectoryDoesNothing) {
    root.WriteHive(Language("0409"));
    char *saved = gv_agentInstallDir;
    gv_agentInstallDir = nullptr;
    testing::internal::CaptureStdout();
    EXPECT_EQ(InstallReaderBase(), -1);
    const std::string out = testing::internal::GetCapturedStdout();
    gv_agentInstallDir = saved;
    EXPECT_EQ(out, "") << "nothing may be looked up or printed";
    const std::string text = log.InfoAndErrors();
    EXPECT_EQ(text.rfind("[INFO] Inside Kestrinst\n[ERROR] ", 0), 0u) << text;
    EXPECT_EQ(text.find("(null)"), std::string::npos);
    EXPECT_EQ(text.find("productId"), std::string::npos);
    EXPECT_EQ(root.ReadHive().find("Installer"), std::string::npos);
}

}  // namespace
