// File-system helpers: existence checks, folder creation for a file about to be
// written (with its folder-part search), last path components, the WOW64 look-up,
// and the log lines they write.
#include "platform/files.h"

#include "log/log.h"
#include "util/locks.h"

#include "support/lines.h"
#include "support/scratch_root.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

using vt_test::MakeDirs;
using vt_test::PathExists;
using vt_test::ScratchRoot;
using vt_test::WriteWholeFile;

/* The log at the debug level into a scratch file; messages with their tag. */
class LogLines {
public:
    LogLines() {
        CloseLogFile();
        ReleaseLogSettings();
        InitMutex();
        dir_ = vt_test::MakeTempDir("files-log.");
        InitLogDefaults();
        SetLogParameters("files.log", dir_.c_str(), 3);
        OpenLogFile();
    }
    ~LogLines() {
        CloseLogFile();
        ReleaseLogSettings();
    }
    std::vector<std::string> Messages() const {
        const std::string text = vt_test::UnixLineEnds(vt_test::ReadWholeFile(dir_ + "/files.log"));
        static const std::regex prefix(R"(\[ [0-9: -]+ \] \[ \d+ \] (\[[A-Z]+\]) )");
        std::vector<std::string> out;
        std::vector<std::pair<size_t, std::pair<size_t, std::string>>> starts;
        for (std::sregex_iterator it(text.begin(), text.end(), prefix), end; it != end; ++it)
            starts.push_back({static_cast<size_t>(it->position()), {static_cast<size_t>(it->length()), (*it)[1]}});
        for (size_t i = 0; i < starts.size(); ++i) {
            const size_t begin = starts[i].first + starts[i].second.first;
            const size_t end = i + 1 < starts.size() ? starts[i + 1].first : text.size();
            out.push_back(starts[i].second.second + " " + text.substr(begin, end - begin));
        }
        return out;
    }

private:
    std::string dir_;
};

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        /* What the tests make on drive C: goes again with the root. */
        for (const char *top : {"Reader", "Nowhere", "a", "x", "dir", "p", "file.msi", "plain.txt", "relative",
                                "missing", "d\xc3\xa9j\xc3\xa0"})
            root.Host(std::string("C:\\") + top);
        MakeDirs(root.Host("C:\\"));
    }
    /* The host path of "C:\<rel>" (`rel` with either slash). */
    std::string Host(std::string rel) const {
        for (char &c : rel) c = c == '/' ? '\\' : c;
        return root.Host("C:\\" + rel);
    }
    bool IsFolder(const std::string &rel) const {
        return GetFileAttributesA(("C:\\" + rel).c_str()) != INVALID_FILE_ATTRIBUTES &&
               (GetFileAttributesA(("C:\\" + rel).c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    ScratchRoot root;
};

TEST_F(FilesTest, CheckFileExistsMatchesFilesFoldersAndPatterns) {
    MakeDirs(Host("Reader/Setup Files"));
    WriteWholeFile(Host("Reader/Setup Files/AcroRead.msi"), "x");
    struct Case {
        const char *path;
        int result;
    } cases[] = {
        {"C:\\Reader\\Setup Files\\AcroRead.msi", 0},
        {"C:\\reader\\setup files\\ACROREAD.MSI", 0},
        {"C:\\Reader\\Setup Files", 0}, // a folder matches too
        {"C:\\Reader\\Setup Files\\*.msi", 0},
        {"C:\\Reader\\Setup Files\\Acro????.msi", 0},
        {"C:\\Reader\\Setup Files\\*.mst", 2},
        {"C:\\Reader\\Setup Files\\Other.msi", 2},
        {"C:\\Nowhere\\AcroRead.msi", 2},
        {"", 2},
    };
    for (const Case &c : cases) EXPECT_EQ(CheckFileExists(c.path), c.result) << c.path;
}

TEST_F(FilesTest, CheckFileExistsLogsTheSearchAndItsFailure) {
    LogLines log;
    EXPECT_EQ(CheckFileExists("C:\\missing\\f.msi"), 2);
    EXPECT_EQ(log.Messages(), (std::vector<std::string>{
                                  "[DEBUG] @@@@@@@@ Inside CheckFileExists Method @@@@@@@@ \n",
                                  "[DEBUG] FileName to search -> C:\\missing\\f.msi \n",
                                  "[ERROR] CheckFileExists -> Invalid File Handle. 3 \n",
                                  "[DEBUG] @@@@@@@@ End Of CheckFileExists Method @@@@@@@@ \n",
                              }));
}

TEST_F(FilesTest, GetLastFileNameTakesTheTextAfterTheLastBackslash) {
    struct Case {
        const char *path;
        const char *name;
    } cases[] = {
        {"C:\\a\\b\\file.msi", "file.msi"}, {"file.msi", "file.msi"}, {"C:\\a\\", ""},
        {"C:/a/b.txt", "C:/a/b.txt"},       {"", ""},                 {"\\x", "x"},
    };
    for (const Case &c : cases) {
        char *name = GetLastFileName(c.path);
        ASSERT_NE(name, nullptr) << c.path;
        EXPECT_STREQ(name, c.name) << c.path;
        free(name);
    }
}

TEST_F(FilesTest, CreateFolderMakesTheFolderPartOrTheWholePath) {
    struct Case {
        const wchar_t *path;
        int result;
        const char *folder;     /* must be a folder afterwards */
        const char *notFolder;  /* must not exist afterwards */
    } cases[] = {
        {L"C:\\a\\b\\file.msi", 0, "a\\b", "a\\b\\file.msi"},
        {L"C:\\a\\b\\file.msi", 0, "a\\b", "a\\b\\file.msi"},  // existing folder: still 0
        {L"C:\\file.msi", 0, "file.msi", nullptr},              // "C:\" is too short
        {L"C:\\x\\x", 0, "x\\x", nullptr},                      // "x" first found right after "C:\"
        {L"C:\\dir\\sub\\", 0, "dir\\sub", nullptr},
        {L"C:\\p\\\u00e9t\u00e9\\f.txt", 0, "p\\\xe9t\xe9", "p\\\xc3\xa9t\xc3\xa9\\f.txt"},  // folder named in ANSI
        {L"relative\\f.msi", ERROR_BAD_PATHNAME, nullptr, "relative"},
        {L"", ERROR_BAD_PATHNAME, nullptr, nullptr},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(CreateFolder(c.path, nullptr), c.result) << c.folder;
        if (c.folder) {
            EXPECT_TRUE(IsFolder(c.folder)) << c.folder;
        }
        if (c.notFolder) {
            EXPECT_FALSE(PathExists(Host(c.notFolder))) << c.notFolder;
        }
    }
    // A file standing where a parent folder should be: the shell's code comes through.
    WriteWholeFile(Host("plain.txt"), "x");
    EXPECT_EQ(CreateFolder(L"C:\\plain.txt\\sub\\f.msi", nullptr), ERROR_PATH_NOT_FOUND);
}

TEST_F(FilesTest, CreateFolderLogsEachStep) {
    LogLines log;
    EXPECT_EQ(CreateFolder(L"C:\\a\\b\\file.msi", nullptr), 0);
    EXPECT_EQ(CreateFolder(nullptr, nullptr), 13);
    // A path outside ASCII still gives whole lines (the next one starts on its own).
    EXPECT_EQ(CreateFolder(L"C:\\d\u00e9j\u00e0\\f.msi", nullptr), 0);
    EXPECT_EQ(log.Messages(), (std::vector<std::string>{
                                  "[DEBUG] CreateFolder : CreateFolder function called with C:\\a\\b\\file.msi\n",
                                  "[DEBUG] GetLastFileName Function Called with C:\\a\\b\\file.msi...!\n",
                                  "[INFO] CreateFolder : The Directory to create is C:\\a\\b\\ \n",
                                  "[DEBUG] CreateFolder function returns Error code 0 \n",
                                  "[DEBUG] CreateFolder : CreateFolder function called with (null)\n",
                                  "[ERROR] CreateFolder : The directory to create is NULL . \n",
                                  "[DEBUG] CreateFolder function returns Error code 13 \n",
                                  "[DEBUG] CreateFolder : CreateFolder function called with C:\\d\xc3\xa9j\xc3\xa0\\f.msi\n",
                                  "[DEBUG] GetLastFileName Function Called with C:\\d\xc3\xa9j\xc3\xa0\\f.msi...!\n",
                                  "[INFO] CreateFolder : The Directory to create is C:\\d\xc3\xa9j\xc3\xa0\\ \n",
                                  "[DEBUG] CreateFolder function returns Error code 0 \n",
                              }));
}

TEST_F(FilesTest, LoadWow64FunctionsFindsIsWow64Process) {
    gv_isWow64ProcessFn = nullptr;
#ifdef WINAPI_STANDIN
    /* A 64-bit emulated machine: the 32-bit program runs under WOW64. */
    root.WriteHive("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment]\n"
                   "\"PROCESSOR_ARCHITECTURE\"=\"AMD64\"\n\n");
    const BOOL expectWow64 = TRUE;
#else
    /* Only a 32-bit program on a 64-bit machine runs under WOW64. */
    SYSTEM_INFO native = {};
    GetNativeSystemInfo(&native);
    const BOOL expectWow64 = sizeof(void *) == 4 && native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
#endif
    LoadWow64Functions();
    ASSERT_NE(gv_isWow64ProcessFn, nullptr);
    BOOL wow64 = !expectWow64;
    EXPECT_TRUE(gv_isWow64ProcessFn(GetCurrentProcess(), &wow64));
    EXPECT_EQ(expectWow64, wow64);
}

}  // namespace
