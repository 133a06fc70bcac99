/* System error texts and text conversions between the ANSI code page, UTF-8 and
 * UTF-16 (WCHAR). */
#include "platform/errors.h"

#include "platform/handle_guard.h"
#include "util/strings.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

struct InstallerText {
    DWORD code;
    const char *text;
};

/* Installer and update exit codes that the system has no text for. */
constexpr InstallerText kInstallerTexts[] = {
    {1508, "The requested operation is successful. Changes will not be effective until the browser is rebooted."},
    {17021, "OfficeUpdateError: Creating temp folder."},
    {17023, "OfficeUpdateError: User cancelled installation."},
    {17024, "OfficeUpdateError: Creating folder failed."},
    {17025, "OfficeUpdateError: Patch already installed."},
    {17026, "OfficeUpdateError: Patch already installed to admin installation."},
    {17027, "OfficeUpdateError: Installation source requires full file update."},
    {17028, "OfficeUpdateError: No product installed for contained patch."},
    {17029, "OfficeUpdateError: Patch failed to install."},
    {17030, "OfficeUpdateError: Invalid CIF format."},
    {17031, "OfficeUpdateError: Invalid baseline."},
    {17034, "OfficeUpdateError: Required patch does not apply to the machine."},
    {17301, "OfficeUpdateError: General Detection error"},
    {17302, "OfficeUpdateError: Applying patch."},
    {17303, "OfficeUpdateError: Extracting file."},
};

constexpr size_t kErrorTextSize = 4096;

char *CopyText(const char *text) {
    char *copy = nullptr;
    DuplicateString(&copy, text);
    return copy;
}

/* Size query, zero-filled buffer of that many characters, conversion of the
 * whole text with its terminator. */
bool ToWide(UINT codePage, const char *text, WCHAR **wide) {
    if (text == nullptr || wide == nullptr) return false;
    int count = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    /* A failed size query still leaves the caller an empty text to free. */
    WCHAR *buffer = static_cast<WCHAR *>(calloc(count > 0 ? static_cast<size_t>(count) : 1, sizeof(WCHAR)));
    *wide = buffer;
    if (buffer == nullptr || count <= 0) return false;
    return MultiByteToWideChar(codePage, 0, text, -1, buffer, count) != 0;
}

}  // namespace

char *GetInstallerErrorText(DWORD code) {
    for (const InstallerText &entry : kInstallerTexts)
        if (entry.code == code) return CopyText(entry.text);
    char text[64];
    snprintf(text, sizeof text, "Unknown Error. Code : %d", static_cast<int>(code));
    return CopyText(text);
}

char *GetErrorText(DWORD code) {
    vt_platform::LocalGuard<char> systemText;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                           FORMAT_MESSAGE_MAX_WIDTH_MASK,
                       nullptr, code, LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(systemText.out()), 0, nullptr);
    if (length > 0 && systemText) {
        char *text = static_cast<char *>(calloc(length + 2, 1));
        if (text != nullptr) {
            /* Only the blank character is trimmed, from both ends. */
            const char *start = systemText.get();
            while (*start == ' ') ++start;
            size_t len = strlen(start);
            while (len > 0 && start[len - 1] == ' ') --len;
            memcpy(text, start, len);
        }
        return text;
    }

    char *text = static_cast<char *>(calloc(kErrorTextSize, 1));
    char *tableText = GetInstallerErrorText(code);
    if (text != nullptr && tableText != nullptr) snprintf(text, kErrorTextSize, "%s", tableText);
    free(tableText);
    return text;
}

bool AnsiToWide(const char *text, WCHAR **wide) { return ToWide(CP_ACP, text, wide); }

bool Utf8ToWide(const char *text, WCHAR **wide) { return ToWide(CP_UTF8, text, wide); }

bool WideToUtf8(const WCHAR *text, char **utf8) {
    if (text == nullptr || utf8 == nullptr) return false;
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    char *buffer = static_cast<char *>(calloc(bytes > 0 ? static_cast<size_t>(bytes) + 1 : 1, 1));
    *utf8 = buffer;
    if (buffer == nullptr || bytes <= 0) return false;
    return WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, bytes, nullptr, nullptr) != 0;
}

bool AnsiToUtf8(const char *text, char **utf8) {
    if (text == nullptr) return false;
    WCHAR *wide = nullptr;
    const bool ok = AnsiToWide(text, &wide) && WideToUtf8(wide, utf8);
    free(wide);
    return ok;
}
