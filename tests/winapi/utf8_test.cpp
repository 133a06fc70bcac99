/* The stand-in's one UTF-8 codec, seen through each of its users: the W-function
 * helpers, MultiByteToWideChar / WideCharToMultiByte and the registry's UTF-16LE
 * conversions must read and write the same text. */
#include "winapi/registry_hive.h"
#include "winapi/wa_private.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring ViaCodePage(const char *bytes, int length, DWORD flags) {
    const int n = MultiByteToWideChar(CP_UTF8, flags, bytes, length, nullptr, 0);
    if (n == 0) return L"<fail>";
    std::vector<WCHAR> out(static_cast<size_t>(n));
    MultiByteToWideChar(CP_UTF8, flags, bytes, length, out.data(), n);
    return std::wstring(out.begin(), out.end());
}

std::wstring ViaCodePage(const std::string &bytes, DWORD flags) {
    return ViaCodePage(bytes.data(), static_cast<int>(bytes.size()), flags);
}

std::wstring ViaRegistry(const std::string &bytes) {
    const std::vector<WCHAR> wide = wa::reg::Utf16LeToWide(wa::reg::Utf8ToUtf16Le(bytes));
    return std::wstring(wide.begin(), wide.end());
}

TEST(Utf8Codec, EveryUserDecodesAlikeAndOnlyMalformedInputFailsStrictly) {
    const std::wstring r(1, static_cast<WCHAR>(0xFFFD));
    struct Case {
        std::string bytes;
        std::wstring wide;
        bool malformed;
    } cases[] = {
        {"a\xc3\xa9", L"a\u00e9", false},
        {"\xef\xbf\xbd", r, false},  // U+FFFD itself is valid text
        {"\xf4\x8f\xbf\xbf", std::wstring(1, static_cast<WCHAR>(0x10FFFF)), false},
        {"\x80x", r + L"x", true},  // continuation byte without a lead
        {"\xf8\x88\x80\x80\x80", r + r + r + r + r, true},
        {"\xe0\x80\xaf", r + r + r, true},  // overlong
        {"\xf0\x9f\x98", r + r + r, true},  // cut off at the end
        {"\xf5\x80\x80\x80", r + r + r + r, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        EXPECT_EQ(wa::Widen(c.bytes.c_str()), c.wide);
        EXPECT_EQ(ViaCodePage(c.bytes, 0), c.wide);
        EXPECT_EQ(ViaRegistry(c.bytes), c.wide);
        EXPECT_EQ(ViaCodePage(c.bytes, MB_ERR_INVALID_CHARS), c.malformed ? L"<fail>" : c.wide);

        bool malformed = false;
        for (size_t i = 0; i < c.bytes.size();) wa::DecodeUtf8(c.bytes.data(), c.bytes.size(), &i, &malformed);
        EXPECT_EQ(malformed, c.malformed);
    }
}

TEST(Utf8Codec, DecodingStopsAtTheGivenLength) {
    /* A sequence completed only past the given length is cut off, and an embedded
     * NUL is a character of its own. */
    const char text[] = "\xe2\x82\xac";
    const std::wstring r(1, static_cast<WCHAR>(0xFFFD));
    EXPECT_EQ(ViaCodePage(text, 2, 0), r + r);
    size_t i = 0;
    bool malformed = false;
    EXPECT_EQ(wa::DecodeUtf8(text, 2, &i, &malformed), 0xFFFDu);
    EXPECT_TRUE(malformed);
    EXPECT_EQ(i, 1u);
    EXPECT_EQ(ViaCodePage(std::string("\xe2\0\x82", 3), 0), r + std::wstring(1, L'\0') + r);
    i = 0;
    EXPECT_EQ(wa::DecodeUtf8(text, 3, &i), 0x20ACu);
    EXPECT_EQ(i, 3u);
}

TEST(Utf8Codec, Utf16SurrogatesAreJoinedOnlyInOrder) {
    EXPECT_EQ(wa::JoinSurrogates(0xD83D, 0xDE00), 0x1F600u);
    EXPECT_EQ(wa::JoinSurrogates(0xDE00, 0xD83D), 0u);
    EXPECT_EQ(wa::JoinSurrogates(0xD83D, 'x'), 0u);
    /* Reversed pair, a high surrogate cut off by the end, and an odd last byte. */
    const std::string units("\x00\xde\x3d\xd8" "a\x00\x3d\xd8" "b", 9);
    EXPECT_EQ(wa::reg::Utf16LeToUtf8(units), "\xef\xbf\xbd\xef\xbf\xbd" "a\xef\xbf\xbd" "b");
    const std::vector<WCHAR> wide = wa::reg::Utf16LeToWide(units);
    EXPECT_EQ(wide, (std::vector<WCHAR>{0xDE00, 0xD83D, L'a', 0xD83D, L'b'}));
    const WCHAR pairAtEnd[] = {L'a', 0xD83D, 0xDE00, 0};
    EXPECT_EQ(wa::Narrow(pairAtEnd), "a\xf0\x9f\x98\x80");
}

}  // namespace
