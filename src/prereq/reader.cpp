/* The Reader 10.1.0 base installation: source check and repair. */
#include "prereq/reader.h"
#include "prereq/repair_lock.h"

#include "agent/agent_log.h"
#include "agent/osinfo.h"
#include "log/log.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "prereq/installer_run.h"
#include "prereq/package_check.h"
#include "transfer/download_retry.h"
#include "util/strings.h"
#include "winapi/winapi.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

const char kLanguageKey[] = "SYSTEM\\CurrentControlSet\\Control\\Nls\\Language";
/* The source list read by the check is always that of the 1033 product. */
const char kEnglishSourceListKey[] =
    "SOFTWARE\\Classes\\Installer\\Products\\68AB67CA7DA73301B744AA0100000010\\SourceList";
const char kSourceListKeyFormat[] = "SOFTWARE\\Classes\\Installer\\Products\\68AB67CA7DA7%sB744AA0100000010\\SourceList";
const char kNetSourceKeyFormat[] =
    "SOFTWARE\\Classes\\Installer\\Products\\68AB67CA7DA7%sB744AA0100000010\\SourceList\\Net";
const char kProductIdKeyFormat[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{AC76BA86-7AD7-%s-7B44-AA1000000001}";
const char kVistaSetupFolderFormat[] = "%c:\\ProgramData\\Adobe\\Setup\\{AC76BA86-7AD7-%s-7B44-AA1000000001}";
const char kXpSetupFolderFormat[] =
    "%c:\\Documents and Settings\\All Users\\Application Data\\Adobe\\Setup\\{AC76BA86-7AD7-%s-7B44-AA1000000001}";
const char kPackagePrefix[] = "300297-AdbeRdr1010_";
const char kCachedPackage[] = "AcroRead.msi";
const int kFallbackLanguage = 1033;
const int kMsiexecMinutes = 100;

const char *OrNull(const char *text) { return text != NULL ? text : "(null)"; }

std::string Format(const char *format, ...) VT_PRINTF_LIKE(1, 2);
std::string Format(const char *format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n) + 1, '\0');
    va_start(args, format);
    vsnprintf(&out[0], out.size(), format, args);
    va_end(args);
    out.resize(static_cast<size_t>(n));
    return out;
}

/* A new zero-filled heap copy; NULL when memory runs out. */
char *NewString(const std::string &text) {
    char *copy = NULL;
    DuplicateString(&copy, text.c_str());
    return copy;
}

/* A hexadecimal number as "%X" reads it: blanks, a sign, an optional 0x, then hex
 * digits; 0 when there are none. Values past 32 bits saturate. */
int ParseHex(const char *text) {
    if (text == NULL) return 0;
    const char *p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && isxdigit(static_cast<unsigned char>(p[2]))) p += 2;
    unsigned long long value = 0;
    for (; isxdigit(static_cast<unsigned char>(*p)); ++p) {
        const int c = *p;
        const unsigned digit = (c <= '9') ? static_cast<unsigned>(c - '0') : static_cast<unsigned>((c | 0x20) - 'a' + 10);
        value = value * 16 + digit;
        if (value > 0xFFFFFFFFull) value = 0xFFFFFFFFull;
    }
    DWORD bits = static_cast<DWORD>(value);
    if (negative) bits = 0u - bits;
    return static_cast<int>(bits);
}

/* The install language as a number; 1033 when it is missing or not above 0. */
int ReadInstallLanguage() {
    char *text = NULL;
    if (ReadRegistryString(HKEY_LOCAL_MACHINE, kLanguageKey, "InstallLanguage", &text) != ERROR_SUCCESS) {
        free(text);
        text = NULL;
    }
    const int number = ParseHex(text);
    LogInfo("String from Registry : %s and Integer after Conversion : %d\n", OrNull(text), number);
    free(text);
    if (number > 0) return number;
    LogError("GetInstallLanguageId : InstallLanguage is missing or not a language id, using %d \n",
             kFallbackLanguage);
    return kFallbackLanguage;
}

/* The Installer packed form of the language group: its first four characters
 * reversed. Works on a 20-byte copy so short texts stay in bounds. */
std::string PackedForm(const char *plain) {
    char buffer[21];
    memset(buffer, 0, sizeof buffer);
    strncpy(buffer, plain, sizeof buffer - 1);
    ReverseLeadingChars(buffer, 4);
    return buffer;
}

/* The Windows directory: ERROR_SUCCESS, or the error (never 0) after an ERROR line.
 * A directory too long for the buffer is reported, not used half-read. */
DWORD ReadWindowsDirectory(const char *caller, std::string *directory) {
    char buffer[MAX_PATH + 1];
    memset(buffer, 0, sizeof buffer);
    const UINT n = GetWindowsDirectoryA(buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        DWORD error = (n == 0) ? GetLastError() : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER);
        if (error == ERROR_SUCCESS) error = ERROR_PATH_NOT_FOUND;
        LogError("%s : Unable to get the Windows directory, error code %d \n", caller, static_cast<int>(error));
        return error;
    }
    *directory = buffer;
    return ERROR_SUCCESS;
}

}  // namespace

char *GetInstallLanguageId(void) { return NewString(Format("%d", ReadInstallLanguage())); }

char *GetReaderPackageName(void) {
    const int number = ReadInstallLanguage();
    const LCID locale = MAKELCID(LOWORD(number), SORT_DEFAULT);
    char country[5];
    char language[5];
    memset(country, 0, sizeof country);
    memset(language, 0, sizeof language);
    if (GetLocaleInfoA(locale, LOCALE_SISO3166CTRYNAME, country, sizeof country) == 0) {
        LogError("GetReaderPackageName : No country name for the locale %d, error code %d \n",
                 static_cast<int>(locale), static_cast<int>(GetLastError()));
        memset(country, 0, sizeof country);
    }
    if (GetLocaleInfoA(locale, LOCALE_SISO639LANGNAME, language, sizeof language) == 0) {
        LogError("GetReaderPackageName : No language name for the locale %d, error code %d \n",
                 static_cast<int>(locale), static_cast<int>(GetLastError()));
        memset(language, 0, sizeof language);
    }
    const std::string localeText = Format("%s_%s", language, country);
    printf("szLocale : %s\n", localeText.c_str());
    return NewString(Format("%s%s.msi", kPackagePrefix, localeText.c_str()));
}

int IsReaderSourceAvailable(void) {
    char *langId = GetInstallLanguageId();
    if (langId == NULL) return 1;
    LogInfo("szLangId : %s\n", langId);
    const std::string packed = PackedForm(langId);

    char *netPath = NULL;
    if (ReadRegistryString(HKEY_LOCAL_MACHINE, kEnglishSourceListKey, "LastUsedSource", &netPath) != ERROR_SUCCESS) {
        free(netPath);
        netPath = NULL;
    }
    LogInfo("netpath : %s\n", OrNull(netPath));

    /* "n;2;C:\..." names its source by index: the third character. */
    std::string index;
    if (netPath != NULL && netPath[0] != '\0' && netPath[1] == ';' && netPath[2] != '\0') index.assign(1, netPath[2]);
    LogInfo("netValue : %s\n", index.c_str());
    if (index.empty()) index = "1";
    LogInfo("netValue : %s\n", index.c_str());

    char *installSource = NULL;
    const std::string netKey = Format(kNetSourceKeyFormat, packed.c_str());
    if (ReadRegistryString(HKEY_LOCAL_MACHINE, netKey.c_str(), index.c_str(), &installSource) != ERROR_SUCCESS) {
        free(installSource);
        installSource = NULL;
    }
    LogInfo("installSource : %s\n", OrNull(installSource));

    int result = 1;
    std::string windowsDirectory;
    if (ReadWindowsDirectory("IsReaderSourceAvailable", &windowsDirectory) == ERROR_SUCCESS) {
        std::string sourcePath = Format(isVistaAndAbove() ? kVistaSetupFolderFormat : kXpSetupFolderFormat,
                                        windowsDirectory[0], langId);
        if (sourcePath.size() > 255) sourcePath.resize(255);
        LogInfo("sourcePath : %s\n", sourcePath.c_str());
        if (installSource != NULL && strstr(installSource, sourcePath.c_str()) != NULL) {
            sourcePath += "\\";
            sourcePath += kCachedPackage;
            LogInfo("sourcePath : %s\n", sourcePath.c_str());
            if (CheckFileExists(sourcePath.c_str()) == 0) {
                const std::string productKey = Format(kSourceListKeyFormat, packed.c_str());
                LogInfo("productKey : %s\n", productKey.c_str());
                SetRegistryValue64(HKEY_LOCAL_MACHINE, productKey.c_str(), "PackageName", kCachedPackage, REG_SZ);
                LogInfo("File : %s is available, so returning from kestrinst\n", sourcePath.c_str());
                result = 0;
            }
        }
    }
    free(installSource);
    free(netPath);
    free(langId);
    return result;
}

int InstallReaderBase(void) {
    LogInfo("Inside Kestrinst\n");
    if (gv_agentInstallDir == NULL || gv_agentInstallDir[0] == '\0') {
        LogError("InstallReaderBase : The agent install directory is not known; nothing is downloaded or run \n");
        return -1;
    }

    char *packageName = GetReaderPackageName();
    if (packageName == NULL) return -1;
    const std::string patchesFolder = Format("%s\\patches", gv_agentInstallDir);
    const std::string storePath = Format("\\store\\%s", packageName);
    const std::string packagePath = Format("%s\\patches\\%s", gv_agentInstallDir, packageName);

    /* One repair at a time on the machine, held until msiexec has ended. */
    RepairLockHolder lock;
    const int begun = BeginRepair(patchesFolder.c_str(), packageName, &lock.lock);
    if (begun != 0) {
        free(packageName);
        return begun < 0 ? -1 : 0;
    }

    if (AgentDownloadFileWithRetries(storePath.c_str(), packagePath.c_str(), false) != 0) {
        LogInfo("\t Error occured while downloading the Patch : %s \n", packagePath.c_str());
        free(packageName);
        return -1;
    }

    char *langId = GetInstallLanguageId();
    if (langId == NULL) {
        free(packageName);
        return -1;
    }
    LogInfo("szLangId : %s\n", langId);
    const std::string productId = Format(kProductIdKeyFormat, langId);
    LogInfo("productId : %s\n", productId.c_str());
    const std::string productKey = Format(kSourceListKeyFormat, PackedForm(langId).c_str());
    LogInfo("productKey : %s\n", productKey.c_str());

    /* Nothing is registered or run for a file that is not the package. */
    if (CheckReaderPackage(packagePath.c_str(), langId) != 0) {
        free(langId);
        free(packageName);
        return -1;
    }

    /* Each write creates its key; a failed write does not stop the others. The
     * folder and name were formed in the ANSI code page and the writes take
     * UTF-8: converted, so the stored text is the folder's own name. */
    char *folderText = NULL;
    char *nameText = NULL;
    AnsiToUtf8(patchesFolder.c_str(), &folderText);
    AnsiToUtf8(packageName, &nameText);
    SetRegistryValue(HKEY_LOCAL_MACHINE, productId.c_str(), "InstallSource", folderText, REG_SZ);
    SetRegistryValue(HKEY_LOCAL_MACHINE, productKey.c_str(), "LastUsedSource", folderText, REG_SZ);
    SetRegistryValue64(HKEY_LOCAL_MACHINE, productKey.c_str(), "PackageName", nameText, REG_SZ);
    free(folderText);
    free(nameText);

    /* Without the Windows directory there is no msiexec to run: the status is the
     * error, never a success. */
    std::string windowsDirectory;
    DWORD status = ReadWindowsDirectory("InstallReaderBase", &windowsDirectory);
    if (status == ERROR_SUCCESS) {
        const std::string msiexec = Format("%s\\system32\\msiexec.exe", windowsDirectory.c_str());
        const std::string commandLine = Format("%s /i \"%s\" /qn", msiexec.c_str(), packagePath.c_str());
        status = RunReaderInstaller(patchesFolder.c_str(), commandLine.c_str(), kMsiexecMinutes);
    }
    LogInfo("Adobe 10.1.0 installation status : %d\n", static_cast<int>(status));

    free(langId);
    free(packageName);
    LogInfo("Returning from Kestrinst with errorcode : %d\n", 0);
    return 0;
}
