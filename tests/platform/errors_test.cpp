// Error texts (system words first, then the installer/update table) and the
// four text conversions.
#include "platform/errors.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>
#include <vector>

namespace {

std::string Take(char *text) {
    EXPECT_NE(text, nullptr);
    std::string out = text ? text : "";
    free(text);
    return out;
}

// External contract: the exact texts of the installer and update table.
TEST(InstallerErrorText, EveryEntryOfTheTable) {
    struct Case {
        DWORD code;
        const char *text;
    } cases[] = {
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
        {17022, "Unknown Error. Code : 17022"},
        {17032, "Unknown Error. Code : 17032"},
        {17033, "Unknown Error. Code : 17033"},
        {0, "Unknown Error. Code : 0"},
        {0xFFFFFFFFu, "Unknown Error. Code : -1"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Take(GetInstallerErrorText(c.code)), c.text) << c.code;
        // Codes the system has no words for give the table text from GetErrorText too.
        if (c.code != 0) {
            EXPECT_EQ(Take(GetErrorText(c.code)), c.text) << c.code;
        }
    }
}

TEST(ErrorText, SystemTextsComeAsOneTrimmedLine) {
    std::vector<DWORD> codes = {0, 2, 5, 1603, 1619, 1638};
#ifdef WINAPI_STANDIN
    codes.push_back(3010);  // Wine has no text for it
#endif
    for (DWORD code : codes) {
        char *system = nullptr;
        ASSERT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                     FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                 nullptr, code, LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(&system), 0, nullptr),
                  0u);
        std::string expected = system;
        LocalFree(system);
        while (!expected.empty() && expected.back() == ' ') expected.pop_back();
        const std::string text = Take(GetErrorText(code));
        EXPECT_EQ(text, expected) << code;
        EXPECT_FALSE(text.empty());
        EXPECT_NE(text.back(), ' ') << code;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << code;
    }
}

// The remark of a program that ran and exited with 0.
TEST(ErrorText, SuccessInWindowsWords) {
    EXPECT_EQ(Take(GetErrorText(0)), "The operation completed successfully.");
}

TEST(Conversions, MissingTextLeavesTheOutputAlone) {
    WCHAR *wide = reinterpret_cast<WCHAR *>(0x10);
    char *narrow = reinterpret_cast<char *>(0x20);
    EXPECT_FALSE(AnsiToWide(nullptr, &wide));
    EXPECT_FALSE(Utf8ToWide(nullptr, &wide));
    EXPECT_FALSE(WideToUtf8(nullptr, &narrow));
    EXPECT_FALSE(AnsiToUtf8(nullptr, &narrow));
    EXPECT_EQ(wide, reinterpret_cast<WCHAR *>(0x10));
    EXPECT_EQ(narrow, reinterpret_cast<char *>(0x20));
}

TEST(Conversions, TextsConvertBothWays) {
    struct Case {
        const char *ansi;
        const char *utf8;
        std::wstring wide;
    } cases[] = {
        {"", "", L""},
        {"plain", "plain", L"plain"},
        {"\x80 caf\xe9", "\xe2\x82\xac caf\xc3\xa9", L"\u20ac caf\u00e9"},
        {"\x84\x93\x94", "\xe2\x80\x9e\xe2\x80\x9c\xe2\x80\x9d", L"\u201e\u201c\u201d"},
    };
    for (const Case &c : cases) {
        WCHAR *wide = nullptr;
        ASSERT_TRUE(AnsiToWide(c.ansi, &wide)) << c.ansi;
        EXPECT_EQ(std::wstring(wide), c.wide);
        free(wide);
        wide = nullptr;
        ASSERT_TRUE(Utf8ToWide(c.utf8, &wide)) << c.utf8;
        EXPECT_EQ(std::wstring(wide), c.wide);
        char *utf8 = nullptr;
        ASSERT_TRUE(WideToUtf8(wide, &utf8));
        EXPECT_STREQ(utf8, c.utf8);
        free(utf8);
        free(wide);
        utf8 = nullptr;
        ASSERT_TRUE(AnsiToUtf8(c.ansi, &utf8));
        EXPECT_STREQ(utf8, c.utf8);
        free(utf8);
    }
    // Invalid UTF-8 is replaced, not refused (no flags are passed).
    WCHAR *wide = nullptr;
    EXPECT_TRUE(Utf8ToWide("a\xff" "b", &wide));
    EXPECT_EQ(std::wstring(wide), L"a\ufffdb");
    free(wide);
}

}  // namespace
