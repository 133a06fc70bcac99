// Code-page conversions (size protocol, Windows-1252, invalid UTF-8) and the
// shlwapi string helpers.
#include "winapi/winapi.h"

#include "support/scratch_root.h"
#include "support/wine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

/* U+1F600 as the WCHARs of this host: a surrogate pair where WCHAR has 16 bits,
 * one WCHAR in the stand-in's 32-bit wchar_t. */
std::wstring GrinningFace() {
    if (sizeof(WCHAR) == 2) return {static_cast<WCHAR>(0xD83D), static_cast<WCHAR>(0xDE00)};
    return std::wstring(1, static_cast<WCHAR>(0x1F600));
}

std::wstring ToWide(UINT cp, DWORD flags, const std::string &bytes, DWORD *error) {
    SetLastError(0);
    const int n = MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    *error = GetLastError();
    if (n == 0) return L"<fail>";
    std::vector<WCHAR> out(static_cast<size_t>(n));
    EXPECT_EQ(MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), out.data(), n), n);
    return std::wstring(out.begin(), out.end());
}

std::string ToNarrow(UINT cp, const std::wstring &text, BOOL *usedDefault, const char *defaultChar = nullptr,
                     DWORD flags = 0) {
    const int n = WideCharToMultiByte(cp, flags, text.data(), static_cast<int>(text.size()), nullptr, 0, defaultChar,
                                      usedDefault);
    if (n == 0) return "<fail>";
    std::string out(static_cast<size_t>(n), '\0');
    EXPECT_EQ(WideCharToMultiByte(cp, flags, text.data(), static_cast<int>(text.size()), &out[0], n, defaultChar,
                                  usedDefault),
              n);
    return out;
}

TEST(CodePages, SizeProtocolOfBothDirections) {
    // -1 takes the terminator along; an explicit length does not.
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 0), 3);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\u20ac", -1, nullptr, 0, nullptr, nullptr), 4);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"\u20ac", -1, nullptr, 0, nullptr, nullptr), 2);

    WCHAR wide[4] = {L'#', L'#', L'#', L'#'};
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcd", -1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 4), 4);
    EXPECT_EQ(std::wstring(wide), L"abc");

    char narrow[3] = {'#', '#', '#'};
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\u00e9x", -1, narrow, 3, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    struct Bad {
        const char *src;
        int srcLen;
        int dstLen;
    } bad[] = {{nullptr, -1, 0}, {"a", 0, 0}, {"a", -2, 0}, {"a", 1, -1}};
    for (const Bad &b : bad) {
        SetLastError(0);
        const int n = MultiByteToWideChar(CP_UTF8, 0, b.src, b.srcLen, nullptr, b.dstLen);
        const DWORD error = GetLastError();
        if (b.srcLen == -2 && n == 2 && vt_test::UnderWine()) continue;  // Wine takes -2 as -1
        EXPECT_EQ(n, 0) << b.srcLen;
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << b.srcLen;
    }
    /* UTF-8 has no default character, so asking whether one was used is an error. */
    BOOL used = FALSE;
    SetLastError(0);
    const int n = WideCharToMultiByte(CP_UTF8, 0, L"a", -1, nullptr, 0, nullptr, &used);
    const DWORD error = GetLastError();
    if (!(n == 2 && vt_test::UnderWine())) {  // Wine answers the size
        EXPECT_EQ(n, 0);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
}

TEST(CodePages, Windows1252BothWays) {
    struct Case {
        std::string bytes;
        std::wstring wide;
    } cases[] = {
        {"\x80", L"\u20ac"},             // euro sign
        {"\x9f", L"\u0178"},             // Y with diaeresis
        {"\x85\x91\x92", L"\u2026\u2018\u2019"},
        {"caf\xe9", L"caf\u00e9"},
        {"\x81\x8d", L"\u0081\u008d"},   // undefined bytes pass as C1 controls
        {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
    };
    for (const Case &c : cases) {
        DWORD error = 0;
        EXPECT_EQ(ToWide(CP_ACP, 0, c.bytes, &error), c.wide);
        EXPECT_EQ(ToWide(1252, MB_ERR_INVALID_CHARS, c.bytes, &error), c.wide);
        BOOL used = TRUE;
        EXPECT_EQ(ToNarrow(CP_ACP, c.wide, &used), c.bytes);
        EXPECT_FALSE(used);
    }
    BOOL used = FALSE;
    EXPECT_EQ(ToNarrow(CP_ACP, L"x\u0100\u4e2d", &used), "xA?");
    EXPECT_TRUE(used);
    EXPECT_EQ(ToNarrow(CP_ACP, L"\u4e2d", &used, "*"), "*");
}

TEST(CodePages, Windows1252WritesItsBestFitUnlessTheCallerRefusesIt) {
    // Characters the code page has no place for, and the near byte Windows writes.
    struct Case {
        std::wstring wide;
        std::string bestFit;
    } cases[] = {
        {L"\u0100\u0107\u0141\u0110", "AcL\xd0"},  // Latin letters with marks; D with stroke as Eth
        {L"\u03a9\u221e\u2212\u2264", "O8-="},       // capital omega, infinity, minus, less or equal
        {L"\uff21\uff5a\u3000\u2000", "Az  "},       // full width letters, wide blanks
    };
    for (const Case &c : cases) {
        BOOL used = TRUE;
        EXPECT_EQ(ToNarrow(1252, c.wide, &used), c.bestFit);
        EXPECT_FALSE(used);
        used = FALSE;
        EXPECT_EQ(ToNarrow(CP_ACP, c.wide, &used, nullptr, WC_NO_BEST_FIT_CHARS), std::string(c.wide.size(), '?'));
        EXPECT_TRUE(used);
        EXPECT_EQ(ToNarrow(1252, c.wide, &used, "*", WC_NO_BEST_FIT_CHARS), std::string(c.wide.size(), '*'));
        // Read back, a best fit is another text: that is how a caller tells it apart.
        DWORD error = 0;
        EXPECT_NE(ToWide(1252, 0, c.bestFit, &error), c.wide);
    }
    // Characters of the code page are written as ever, with or without the flag;
    // lower case omega has no best fit and becomes the default character.
    BOOL used = FALSE;
    EXPECT_EQ(ToNarrow(CP_ACP, L"\u00e9\u20ac\u0100\u03c9", &used), "\xe9\x80" "A?");
    EXPECT_TRUE(used);
    used = TRUE;
    EXPECT_EQ(ToNarrow(CP_ACP, L"\u00e9\u20ac\u0081", &used, nullptr, WC_NO_BEST_FIT_CHARS), "\xe9\x80\x81");
    EXPECT_FALSE(used);
}

TEST(CodePages, AnsiRegistryTextsCarryTheBestFitToo) {
    vt_test::ScratchRoot root;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VantrelBestFitCheck", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring text = L"C:\\\u0100gent \u00e9\u4e2d";
    ASSERT_EQ(RegSetValueExW(key, L"Path", 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
    char narrow[64] = {0};
    DWORD size = sizeof narrow;
    EXPECT_EQ(RegQueryValueExA(key, "Path", nullptr, nullptr, reinterpret_cast<LPBYTE>(narrow), &size), ERROR_SUCCESS);
    EXPECT_STREQ(narrow, "C:\\Agent \xe9?");
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\VantrelBestFitCheck"), ERROR_SUCCESS);
}

TEST(CodePages, Utf8DecodingOfValidAndInvalidInput) {
    struct Case {
        std::string bytes;
        std::wstring lenient; /* without flags */
        bool strictFails;     /* with MB_ERR_INVALID_CHARS */
    } cases[] = {
        {"\xc3\xa9", L"\u00e9", false},
        {"\xe2\x82\xac", L"\u20ac", false},
        {"\xf0\x9f\x98\x80", GrinningFace(), false},
        {"\xc3\x28", L"\ufffd(", true},              // bad continuation
        {"\xc0\xaf", L"\ufffd\ufffd", true},         // overlong
        {"\xed\xa0\x80", L"\ufffd\ufffd\ufffd", true}, // encoded surrogate
        {"\xe2\x82", L"\ufffd\ufffd", true},         // cut off at the end
        {"\xff", L"\ufffd", true},
        {"\xf4\x90\x80\x80", L"\ufffd\ufffd\ufffd\ufffd", true}, // beyond U+10FFFF
    };
    for (const Case &c : cases) {
        DWORD error = 0;
#ifdef WINAPI_STANDIN
        EXPECT_EQ(ToWide(CP_UTF8, 0, c.bytes, &error), c.lenient);
#else
        /* Wine replaces some invalid sequences with fewer U+FFFD than the stand-in. */
        const std::wstring lenient = ToWide(CP_UTF8, 0, c.bytes, &error);
        EXPECT_EQ(lenient.find(L'\ufffd') != std::wstring::npos, c.strictFails) << c.bytes;
        EXPECT_EQ(lenient.substr(0, 1), c.lenient.substr(0, 1)) << c.bytes;
#endif
        const std::wstring strict = ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, c.bytes, &error);
        if (c.strictFails) {
            EXPECT_EQ(strict, L"<fail>");
            EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
        } else {
            EXPECT_EQ(strict, c.lenient);
        }
    }
}

TEST(CodePages, Utf8EncodingJoinsPairsAndReplacesLoneSurrogates) {
    EXPECT_EQ(ToNarrow(CP_UTF8, GrinningFace(), nullptr), "\xf0\x9f\x98\x80");
    const WCHAR pair[] = {0xD83D, 0xDE00};
    EXPECT_EQ(ToNarrow(CP_UTF8, std::wstring(pair, 2), nullptr), "\xf0\x9f\x98\x80");
    const WCHAR lone[] = {L'a', 0xD800, L'b'};
    EXPECT_EQ(ToNarrow(CP_UTF8, std::wstring(lone, 3), nullptr), "a\xef\xbf\xbd" "b");
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, 3, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(CodePages, UnsupportedCodePagesAreRefused) {
    std::vector<UINT> refused = {12345};  // unknown
#ifdef WINAPI_STANDIN
    refused.insert(refused.end(), {932u, 54936u});  // multi-byte: Windows has them, the stand-in does not
#endif
    for (UINT cp : refused) {
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(cp, 0, "a", -1, nullptr, 0), 0) << cp;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << cp;
    }
    EXPECT_EQ(MultiByteToWideChar(CP_OEMCP, 0, "\x82", 1, nullptr, 0), 1); // code page 437 works
}

TEST(Shlwapi, StrTrimRemovesListedCharactersFromBothEnds) {
    struct Case {
        const char *in;
        const char *chars;
        const char *out;
        BOOL changed;
    } cases[] = {
        {"  abc  ", " ", "abc", TRUE},   {"abc", " ", "abc", FALSE},  {"", " ", "", FALSE},
        {"    ", " ", "", TRUE},         {"\t a b \n", " \t\n", "a b", TRUE},
        {"xxaxx", "x", "a", TRUE},       {" a", "", " a", FALSE},
    };
    for (const Case &c : cases) {
        std::string buf = c.in;
        EXPECT_EQ(StrTrimA(&buf[0], c.chars), c.changed) << c.in;
        EXPECT_STREQ(buf.c_str(), c.out) << c.in;
    }
}

TEST(Shlwapi, StrStrIFindsTheFirstMatchWithoutCase) {
    const char *text = "Adobe Reader X ADOBE";
    EXPECT_EQ(StrStrIA(text, "reader"), text + 6);
    EXPECT_EQ(StrStrIA(text, "adobe"), text);
    EXPECT_EQ(StrStrIA(text, "x adobe"), text + 13);
    EXPECT_EQ(StrStrIA(text, "readers"), nullptr);
    EXPECT_EQ(StrStrIA(text, ""), nullptr);
    EXPECT_EQ(StrStrIA(nullptr, "a"), nullptr);
}

}  // namespace
