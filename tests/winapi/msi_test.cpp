// Installer database access: the Property table of a real package read through a
// view, the string size protocol, and the failures of each call.
#include "winapi/winapi.h"

#include "support/reader_package.h"
#include "support/scratch_root.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

const char kQuery[] = "SELECT `Property`, `Value` FROM `Property`";

class MsiTest : public ::testing::Test {
protected:
    void SetUp() override { vt_test::MakeDirs(root.Host("C:\\pkg")); }

    /* Places `bytes` at C:\pkg\<name> and returns the Windows path. */
    std::string Place(const std::string &name, const std::string &bytes) {
        vt_test::WriteWholeFile(root.Host("C:\\pkg\\" + name), bytes);
        return "C:\\pkg\\" + name;
    }

    /* Every row of an executed view, fetched to the end. */
    std::map<std::string, std::string> FetchAll(MSIHANDLE view) {
        std::map<std::string, std::string> rows;
        for (;;) {
            MSIHANDLE record = 77;
            const UINT rc = MsiViewFetch(view, &record);
            if (rc == ERROR_NO_MORE_ITEMS) {
                EXPECT_EQ(record, 0u);
                break;
            }
            EXPECT_EQ(rc, static_cast<UINT>(ERROR_SUCCESS));
            if (rc != ERROR_SUCCESS) break;
            char name[64] = "";
            char value[128] = "";
            DWORD nameSize = sizeof name;
            DWORD valueSize = sizeof value;
            EXPECT_EQ(MsiRecordGetStringA(record, 1, name, &nameSize), static_cast<UINT>(ERROR_SUCCESS));
            EXPECT_EQ(MsiRecordGetStringA(record, 2, value, &valueSize), static_cast<UINT>(ERROR_SUCCESS));
            EXPECT_EQ(nameSize, strlen(name));
            EXPECT_EQ(valueSize, strlen(value));
            rows[name] = value;
            EXPECT_EQ(MsiCloseHandle(record), static_cast<UINT>(ERROR_SUCCESS));
        }
        return rows;
    }

    vt_test::ScratchRoot root;
};

TEST_F(MsiTest, PropertyTableOfABuiltPackage) {
    const std::string path = Place("de.msi", vt_test::ReaderPackage("1031", "10.0.0"));
    MSIHANDLE db = 0;
    ASSERT_EQ(MsiOpenDatabaseA(path.c_str(), MSIDBOPEN_READONLY, &db), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_NE(db, 0u);
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewA(db, kQuery, &view), static_cast<UINT>(ERROR_SUCCESS));

    /* Rows come only after the view was executed. */
    MSIHANDLE record = 5;
    EXPECT_EQ(MsiViewFetch(view, &record), static_cast<UINT>(ERROR_FUNCTION_FAILED));
    EXPECT_EQ(record, 0u);

    ASSERT_EQ(MsiViewExecute(view, 0), static_cast<UINT>(ERROR_SUCCESS));
    std::map<std::string, std::string> rows = FetchAll(view);
    EXPECT_EQ(rows["ProductCode"], "{AC76BA86-7AD7-1031-7B44-AA1000000001}");
    EXPECT_EQ(rows["ProductVersion"], "10.0.0");
    EXPECT_EQ(rows["ProductLanguage"], "1031");
    /* Past the end it stays at the end; executing again starts over. */
    EXPECT_EQ(MsiViewFetch(view, &record), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
    ASSERT_EQ(MsiViewExecute(view, 0), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(FetchAll(view), rows);

    /* The view keeps its database open after the database handle is closed. */
    EXPECT_EQ(MsiCloseHandle(db), static_cast<UINT>(ERROR_SUCCESS));
    ASSERT_EQ(MsiViewExecute(view, 0), static_cast<UINT>(ERROR_SUCCESS));
    ASSERT_EQ(MsiViewFetch(view, &record), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(MsiCloseHandle(view), static_cast<UINT>(ERROR_SUCCESS));

    /* Size protocol on the first row's name ("Manufacturer" or whichever comes first). */
    char full[64] = "";
    DWORD fullSize = sizeof full;
    ASSERT_EQ(MsiRecordGetStringA(record, 1, full, &fullSize), static_cast<UINT>(ERROR_SUCCESS));
    ASSERT_GT(fullSize, 3u);
    char empty[1] = {'x'};
    DWORD size = 0;
    EXPECT_EQ(MsiRecordGetStringA(record, 1, empty, &size), static_cast<UINT>(ERROR_MORE_DATA));
    EXPECT_EQ(size, fullSize) << "the length needed, without the terminator";
    EXPECT_EQ(empty[0], 'x') << "a buffer of size 0 is not written";
    char small[4];
    size = sizeof small;
    EXPECT_EQ(MsiRecordGetStringA(record, 1, small, &size), static_cast<UINT>(ERROR_MORE_DATA));
    EXPECT_EQ(size, fullSize);
    EXPECT_EQ(std::string(small), std::string(full, 3)) << "as much as fits, terminated";
    char exact[64];
    size = fullSize;  // no room for the terminator
    EXPECT_EQ(MsiRecordGetStringA(record, 1, exact, &size), static_cast<UINT>(ERROR_MORE_DATA));
    size = fullSize + 1;
    EXPECT_EQ(MsiRecordGetStringA(record, 1, exact, &size), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(std::string(exact), full);
    /* Field 0 and fields past the last read as the empty text. */
    for (UINT field : {0u, 3u, 100u}) {
        char text[8] = "zzz";
        size = sizeof text;
        EXPECT_EQ(MsiRecordGetStringA(record, field, text, &size), static_cast<UINT>(ERROR_SUCCESS));
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(std::string(text), "");
    }
    EXPECT_EQ(MsiRecordGetStringA(record, 1, nullptr, nullptr), static_cast<UINT>(ERROR_INVALID_PARAMETER));
    size = 10;
    EXPECT_EQ(MsiRecordGetStringA(record, 1, nullptr, &size), static_cast<UINT>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MsiCloseHandle(record), static_cast<UINT>(ERROR_SUCCESS));
}

TEST_F(MsiTest, FilesThatAreNoDatabaseAndMisuse) {
    const std::string package = vt_test::ReaderPackage("1033", "10.1.0");
    ASSERT_FALSE(package.empty());
    const struct {
        const char *what;
        std::string path;
    } unopenable[] = {
        {"missing file", "C:\\pkg\\absent.msi"},
        {"missing folder", "C:\\nowhere\\absent.msi"},
        {"a folder", "C:\\pkg"},
        {"empty path", ""},
        {"an HTML page", Place("page.msi", "<html><body>Please sign in to the proxy</body></html>\n")},
        {"an empty file", Place("empty.msi", "")},
        {"the first half of a package", Place("half.msi", package.substr(0, package.size() / 2))},
    };
    for (const auto &c : unopenable) {
        SCOPED_TRACE(c.what);
        MSIHANDLE db = 99;
        EXPECT_EQ(MsiOpenDatabaseA(c.path.c_str(), MSIDBOPEN_READONLY, &db), static_cast<UINT>(ERROR_OPEN_FAILED));
        EXPECT_EQ(db, 0u);
    }

    const std::string good = Place("good.msi", package);
    MSIHANDLE db = 0;
    EXPECT_EQ(MsiOpenDatabaseA(good.c_str(), MSIDBOPEN_TRANSACT, &db), static_cast<UINT>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MsiOpenDatabaseA(nullptr, MSIDBOPEN_READONLY, &db), static_cast<UINT>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MsiOpenDatabaseA(good.c_str(), MSIDBOPEN_READONLY, nullptr), static_cast<UINT>(ERROR_INVALID_PARAMETER));
    ASSERT_EQ(MsiOpenDatabaseA(good.c_str(), MSIDBOPEN_READONLY, &db), static_cast<UINT>(ERROR_SUCCESS));

    MSIHANDLE view = 42;
    EXPECT_EQ(MsiDatabaseOpenViewA(db, "SELECT `Value` FROM `NoSuchTable`", &view),
              static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
    EXPECT_EQ(view, 0u);
    EXPECT_EQ(MsiDatabaseOpenViewA(db, "this is not a query", &view), static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
    EXPECT_EQ(MsiDatabaseOpenViewA(db, nullptr, &view), static_cast<UINT>(ERROR_INVALID_PARAMETER));

    /* Handles of the wrong kind, closed and unknown handles. */
    MSIHANDLE record = 0;
    DWORD size = 0;
    char text[4];
    EXPECT_EQ(MsiViewExecute(db, 0), static_cast<UINT>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(MsiViewFetch(db, &record), static_cast<UINT>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(MsiRecordGetStringA(db, 1, text, &size), static_cast<UINT>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(MsiDatabaseOpenViewA(12345678, kQuery, &view), static_cast<UINT>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(MsiCloseHandle(0), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(MsiCloseHandle(db), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(MsiCloseHandle(db), static_cast<UINT>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(MsiDatabaseOpenViewA(db, kQuery, &view), static_cast<UINT>(ERROR_INVALID_HANDLE));
}

}  // namespace
