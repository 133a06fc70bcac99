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
const UINT kOk = ERROR_SUCCESS;

TEST(MsiTest, PropertyTableThroughAViewAndTheSizeProtocol) {
    vt_test::ScratchRoot root;
    vt_test::MakeDirs(root.Host("C:\\pkg"));
    vt_test::WriteWholeFile(root.Host("C:\\pkg\\de.msi"), vt_test::ReaderPackage("1031", "10.0.0"));
    MSIHANDLE db = 0, view = 0, record = 5;
    ASSERT_EQ(MsiOpenDatabaseA("C:\\pkg\\de.msi", MSIDBOPEN_READONLY, &db), kOk);
    ASSERT_EQ(MsiDatabaseOpenViewA(db, kQuery, &view), kOk);
    EXPECT_EQ(MsiViewFetch(view, &record), static_cast<UINT>(ERROR_FUNCTION_FAILED)) << "not executed yet";
    EXPECT_EQ(record, 0u);
    /* The view keeps its database open after the database handle is closed. */
    EXPECT_EQ(MsiCloseHandle(db), kOk);
    ASSERT_EQ(MsiViewExecute(view, 0), kOk);
    std::map<std::string, std::string> rows;
    UINT rc;
    while ((rc = MsiViewFetch(view, &record)) == kOk) {
        char name[64], value[128];
        DWORD nameSize = sizeof name, valueSize = sizeof value;
        EXPECT_EQ(MsiRecordGetStringA(record, 1, name, &nameSize), kOk);
        EXPECT_EQ(MsiRecordGetStringA(record, 2, value, &valueSize), kOk);
        EXPECT_EQ(valueSize, strlen(value));
        rows[name] = value;
        if (std::string(name) == "ProductVersion") break;  // keep this record
        EXPECT_EQ(MsiCloseHandle(record), kOk);
    }
    ASSERT_EQ(rc, kOk);
    EXPECT_EQ(rows["ProductCode"], "{AC76BA86-7AD7-1031-7B44-AA1000000001}");
    EXPECT_EQ(rows["ProductVersion"], "10.0.0");
    MSIHANDLE more = 0;
    while (MsiViewFetch(view, &more) == kOk) MsiCloseHandle(more);
    EXPECT_EQ(MsiViewFetch(view, &more), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(more, 0u);
    EXPECT_EQ(MsiCloseHandle(view), kOk);

    /* Field 2 is "10.0.0": too small a buffer gets what fits and the length needed. */
    char text[8] = {'x'};
    DWORD size = 0;
    EXPECT_EQ(MsiRecordGetStringA(record, 2, text, &size), static_cast<UINT>(ERROR_MORE_DATA));
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(text[0], 'x') << "a buffer of size 0 is not written";
    size = 6;  // no room for the terminator
    EXPECT_EQ(MsiRecordGetStringA(record, 2, text, &size), static_cast<UINT>(ERROR_MORE_DATA));
    EXPECT_EQ(size, 6u);
    EXPECT_STREQ(text, "10.0.");
    size = 7;
    EXPECT_EQ(MsiRecordGetStringA(record, 2, text, &size), kOk);
    EXPECT_EQ(size, 6u);
    EXPECT_STREQ(text, "10.0.0");
    size = sizeof text;
    EXPECT_EQ(MsiRecordGetStringA(record, 9, text, &size), kOk) << "past the last field: empty";
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(MsiRecordGetStringA(record, 1, nullptr, nullptr), static_cast<UINT>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MsiCloseHandle(record), kOk);
    EXPECT_EQ(MsiCloseHandle(record), static_cast<UINT>(ERROR_INVALID_HANDLE));
}

TEST(MsiTest, FilesThatAreNoDatabaseAndMisuse) {
    vt_test::ScratchRoot root;
    vt_test::MakeDirs(root.Host("C:\\pkg"));
    const std::string package = vt_test::ReaderPackage("1033", "10.1.0");
    vt_test::WriteWholeFile(root.Host("C:\\pkg\\page.msi"), "<html><body>Please sign in</body></html>\n");
    vt_test::WriteWholeFile(root.Host("C:\\pkg\\half.msi"), package.substr(0, package.size() / 2));
    vt_test::WriteWholeFile(root.Host("C:\\pkg\\good.msi"), package);
    for (const char *path : {"C:\\pkg\\absent.msi", "C:\\pkg", "", "C:\\pkg\\page.msi", "C:\\pkg\\half.msi"}) {
        SCOPED_TRACE(path);
        MSIHANDLE db = 99;
        EXPECT_EQ(MsiOpenDatabaseA(path, MSIDBOPEN_READONLY, &db), static_cast<UINT>(ERROR_OPEN_FAILED));
        EXPECT_EQ(db, 0u);
    }
    MSIHANDLE db = 0, view = 42, record = 0;
    EXPECT_EQ(MsiOpenDatabaseA("C:\\pkg\\good.msi", MSIDBOPEN_TRANSACT, &db),
              static_cast<UINT>(ERROR_INVALID_PARAMETER));
    ASSERT_EQ(MsiOpenDatabaseA("C:\\pkg\\good.msi", MSIDBOPEN_READONLY, &db), kOk);
    EXPECT_EQ(MsiDatabaseOpenViewA(db, "SELECT `Value` FROM `NoSuchTable`", &view),
              static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
    EXPECT_EQ(view, 0u);
    /* A database handle is no view or record. */
    EXPECT_EQ(MsiViewExecute(db, 0), static_cast<UINT>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(MsiViewFetch(db, &record), static_cast<UINT>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(MsiCloseHandle(0), kOk);
    EXPECT_EQ(MsiCloseHandle(db), kOk);
    EXPECT_EQ(MsiDatabaseOpenViewA(db, kQuery, &view), static_cast<UINT>(ERROR_INVALID_HANDLE));
}

}  // namespace
