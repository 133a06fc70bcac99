#include "prereq/package_check.h"

#include "log/log.h"
#include "winapi/winapi.h"

#include <stdio.h>

#include <string>

namespace {

const char kExpectedVersion[] = "10.1.0";
const char kPropertyQuery[] = "SELECT `Property`, `Value` FROM `Property`";

/* Closes an Installer handle when it goes. */
struct MsiHandleGuard {
    MSIHANDLE handle = 0;
    MsiHandleGuard() = default;
    MsiHandleGuard(const MsiHandleGuard &) = delete;
    MsiHandleGuard &operator=(const MsiHandleGuard &) = delete;
    ~MsiHandleGuard() {
        if (handle != 0) MsiCloseHandle(handle);
    }
};

/* A record field as text, whatever its length. */
UINT ReadField(MSIHANDLE record, UINT field, std::string *text) {
    std::string buffer(64, '\0');
    for (;;) {
        DWORD size = static_cast<DWORD>(buffer.size());
        const UINT rc = MsiRecordGetStringA(record, field, &buffer[0], &size);
        if (rc == ERROR_MORE_DATA) {
            buffer.assign(static_cast<size_t>(size) + 1, '\0');
            continue;
        }
        if (rc == ERROR_SUCCESS) text->assign(buffer.c_str(), size);
        return rc;
    }
}

/* ProductCode and ProductVersion from the Property table; ERROR_SUCCESS or the
 * Installer error of the step that failed (what says which). */
UINT ReadProductProperties(const char *path, std::string *code, std::string *version, const char **what) {
    MsiHandleGuard database, view;
    *what = "MsiOpenDatabaseA";
    UINT rc = MsiOpenDatabaseA(path, MSIDBOPEN_READONLY, &database.handle);
    if (rc != ERROR_SUCCESS) return rc;
    *what = "MsiDatabaseOpenViewA";
    rc = MsiDatabaseOpenViewA(database.handle, kPropertyQuery, &view.handle);
    if (rc != ERROR_SUCCESS) return rc;
    *what = "MsiViewExecute";
    rc = MsiViewExecute(view.handle, 0);
    if (rc != ERROR_SUCCESS) return rc;
    *what = "MsiViewFetch";
    for (;;) {
        MsiHandleGuard record;
        rc = MsiViewFetch(view.handle, &record.handle);
        if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (rc != ERROR_SUCCESS) return rc;
        std::string name, value;
        *what = "MsiRecordGetStringA";
        rc = ReadField(record.handle, 1, &name);
        if (rc == ERROR_SUCCESS) rc = ReadField(record.handle, 2, &value);
        if (rc != ERROR_SUCCESS) return rc;
        if (name == "ProductCode") *code = value;
        if (name == "ProductVersion") *version = value;
        *what = "MsiViewFetch";
    }
}

}  // namespace

unsigned CheckReaderPackage(const char *packagePath, const char *langId) {
    const std::string expectedCode = std::string("{AC76BA86-7AD7-") + langId + "-7B44-AA1000000001}";
    std::string code, version;
    const char *what = "";
    UINT rc = ReadProductProperties(packagePath, &code, &version, &what);
    if (rc == ERROR_SUCCESS && code == expectedCode && version == kExpectedVersion) {
        LogInfo("CheckReaderPackage : %s is ProductCode %s ProductVersion %s, as expected \n", packagePath,
                code.c_str(), version.c_str());
        return ERROR_SUCCESS;
    }
    std::string found;
    if (rc != ERROR_SUCCESS) {
        char text[96];
        snprintf(text, sizeof text, "no Windows Installer database (%s error %u)", what, static_cast<unsigned>(rc));
        found = text;
    } else {
        found = "ProductCode " + (code.empty() ? std::string("(none)") : code) + " ProductVersion " +
                (version.empty() ? std::string("(none)") : version);
        rc = ERROR_INSTALL_PACKAGE_INVALID;
    }
    LogError("CheckReaderPackage : %s is not the Reader base package: found %s, expected ProductCode %s "
             "ProductVersion %s; the file is removed \n",
             packagePath, found.c_str(), expectedCode.c_str(), kExpectedVersion);
    if (!DeleteFileA(packagePath))
        LogError("CheckReaderPackage : Could not remove %s, error code %d \n", packagePath,
                 static_cast<int>(GetLastError()));
    return rc;
}
