// FormatMessageA: system texts, buffers, the width option and inserts.
#include "winapi/winapi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr DWORD kSystemFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

std::string SystemText(DWORD code, DWORD extraFlags, DWORD *error) {
    char *text = reinterpret_cast<char *>(1);
    SetLastError(0);
    const DWORD n = FormatMessageA(kSystemFlags | FORMAT_MESSAGE_ALLOCATE_BUFFER | extraFlags, nullptr, code,
                                   LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    *error = GetLastError();
    if (n == 0) {
        EXPECT_EQ(text, nullptr); /* the output pointer is cleared on failure */
        return "<fail>";
    }
    std::string out(text);
    EXPECT_EQ(out.size(), n);
    LocalFree(text);
    return out;
}

TEST(FormatMessage, KnownCodesHaveOneTextEndingWithALineBreak) {
    std::vector<DWORD> codes = {0, 2, 3, 5, 87, 183, 1603, 1618, 1638};
#ifdef WINAPI_STANDIN
    codes.push_back(3010);  // Wine has no text for it
#endif
    for (DWORD code : codes) {
        DWORD error = 0;
        const std::string text = SystemText(code, 0, &error);
        ASSERT_NE(text, "<fail>") << code;
        EXPECT_GE(text.size(), 10u) << code;
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << code;
    }
}

TEST(FormatMessage, SuccessInWindowsWords) {
    DWORD error = 0;
    EXPECT_EQ(SystemText(0, 0, &error), "The operation completed successfully.\r\n");
    EXPECT_EQ(SystemText(0, FORMAT_MESSAGE_MAX_WIDTH_MASK, &error), "The operation completed successfully. ");
}

TEST(FormatMessage, UnknownCodesAndLanguagesFail) {
    for (DWORD code : {17025u, 17032u, 1508u, 99999u, 0xFFFFFFFFu}) {
        DWORD error = 0;
        EXPECT_EQ(SystemText(code, 0, &error), "<fail>") << code;
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND)) << code;
    }
    char buf[256];
#ifdef WINAPI_STANDIN  // Wine answers in English for a language it has no texts in
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(kSystemFlags, nullptr, 2, 0x0407, buf, sizeof buf, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));
#endif
    EXPECT_GT(FormatMessageA(kSystemFlags, nullptr, 2, 0, buf, sizeof buf, nullptr), 0u);
}

TEST(FormatMessage, MaxWidthMakesOneLineAndKeepsTheTrailingBlank) {
    DWORD error = 0;
    const std::string plain = SystemText(1619, 0, &error);
    const std::string one = SystemText(1619, FORMAT_MESSAGE_MAX_WIDTH_MASK, &error);
#ifdef WINAPI_STANDIN  // Wine's text of 1619 is one line
    EXPECT_NE(plain.find("\r\n"), plain.size() - 2); /* a text of two lines */
#endif
    size_t breaks = 0;
    for (size_t pos = plain.find("\r\n"); pos != std::string::npos; pos = plain.find("\r\n", pos + 2)) ++breaks;
    EXPECT_EQ(one.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(one.back(), ' ');
    EXPECT_EQ(one.size(), plain.size() - breaks);  // each line break became one blank

    const std::string wrapped = SystemText(1619, 20, &error);
    size_t start = 0;
    for (size_t pos; (pos = wrapped.find("\r\n", start)) != std::string::npos; start = pos + 2)
        EXPECT_LE(pos - start, 20u) << wrapped;
    EXPECT_LE(wrapped.size() - start, 21u);
}

TEST(FormatMessage, CallerBufferNeedsRoomForTheTerminator) {
    char buf[128];
    const DWORD n = FormatMessageA(kSystemFlags, nullptr, 5, 0, buf, sizeof buf, nullptr);
    ASSERT_GT(n, 0u);
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(kSystemFlags, nullptr, 5, 0, buf, n, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(FormatMessageA(kSystemFlags, nullptr, 5, 0, buf, n + 1, nullptr), n);
    EXPECT_EQ(strlen(buf), n);
}

DWORD FromString(const char *text, DWORD flags, std::string *out, ...) {
    char buf[256] = {};
    va_list args;
    va_start(args, out);
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_STRING | flags, text, 0, 0, buf, sizeof buf, &args);
    va_end(args);
    *out = buf;
    return n;
}

TEST(FormatMessage, EscapesAndInserts) {
    std::string out;
    FromString("a%%b%tc%nd%0ignored", 0, &out);
    EXPECT_EQ(out, "a%b\tc\r\nd");
#ifdef WINAPI_STANDIN  // Wine writes a bare line feed of the text as CR LF
    FromString("own\nbreaks\r\nkept", 0, &out);
    EXPECT_EQ(out, "own\nbreaks\r\nkept");
#endif
    FromString("own\nbreaks\r\nto blanks%n", FORMAT_MESSAGE_MAX_WIDTH_MASK, &out);
    EXPECT_EQ(out, "own breaks to blanks\r\n");
    FromString("file %1 code %2!d! hex %3!04X!", 0, &out, "x.msi", -5, 255u);
    EXPECT_EQ(out, "file x.msi code -5 hex 00FF");
    FromString("%2 before %1, %2 again", 0, &out, "one", "two");
    EXPECT_EQ(out, "two before one, two again");
    FromString("kept %1 and %2!d!", FORMAT_MESSAGE_IGNORE_INSERTS, &out);
    EXPECT_EQ(out, "kept %1 and %2!d!");

    const DWORD_PTR array[] = {reinterpret_cast<DWORD_PTR>("disk"), 42};
    char buf[64];
    ASSERT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY, "%1 is %2!u!%% full", 0, 0,
                             buf, sizeof buf, reinterpret_cast<va_list *>(const_cast<DWORD_PTR *>(array))),
              0u);
    EXPECT_STREQ(buf, "disk is 42% full");

    SetLastError(0);
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "needs %1", 0, 0, buf, sizeof buf, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
