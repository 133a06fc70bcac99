/* The emulated machine root and the UTF-8 <-> WCHAR helpers of the W functions. */
#include "winapi/wa_private.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/scratch_root.h"

namespace {

TEST(MachineRoot, FollowsWinapiRootOnEveryCallElseHome) {
    vt_test::ScratchRoot root;
    EXPECT_EQ(wa::RootDir(), root.path());
    const std::string saved = root.path();
    setenv("WINAPI_ROOT", (saved + "//").c_str(), 1);
    EXPECT_EQ(wa::RootDir(), saved);
    ASSERT_TRUE(wa::EnsureRootSubdir("a/b"));
    EXPECT_TRUE(vt_test::PathExists(saved + "/a/b"));
    vt_test::WriteWholeFile(saved + "/file", "x");
    EXPECT_FALSE(wa::EnsureRootSubdir("file"));

    setenv("WINAPI_ROOT", "", 1);
    const char *home = getenv("HOME");
    if (home != nullptr && *home != '\0') {
        EXPECT_EQ(wa::RootDir(), std::string(home) + "/.winapi");
    }
    setenv("WINAPI_ROOT", saved.c_str(), 1);
}

TEST(MachineRoot, NarrowAndWidenConvertEveryPlaneAndReplaceBrokenInput) {
    struct Case {
        std::wstring wide;
        std::string utf8;
    } roundTrips[] = {
        {L"", ""},
        {L"plain", "plain"},
        {L"caf\u00e9 \u20ac", "caf\xc3\xa9 \xe2\x82\xac"},
        {std::wstring(1, static_cast<WCHAR>(0x1F600)), "\xf0\x9f\x98\x80"},
    };
    for (const auto &c : roundTrips) {
        EXPECT_EQ(wa::Narrow(c.wide.c_str()), c.utf8);
        EXPECT_EQ(wa::Widen(c.utf8.c_str()), c.wide);
    }
    /* A surrogate pair in WCHAR text is joined; a lone one is replaced. */
    const WCHAR pair[] = {0xD83D, 0xDE00, 0};
    EXPECT_EQ(wa::Narrow(pair), "\xf0\x9f\x98\x80");
    const WCHAR lone[] = {L'a', 0xD800, L'b', 0};
    EXPECT_EQ(wa::Narrow(lone), "a\xef\xbf\xbd" "b");
    /* Malformed UTF-8: bad lead byte, truncated, overlong, encoded surrogate. */
    const std::wstring bad(1, static_cast<WCHAR>(0xFFFD));
    EXPECT_EQ(wa::Widen("\xff"), bad);
    EXPECT_EQ(wa::Widen("\xe2\x82"), bad + bad);
    EXPECT_EQ(wa::Widen("\xc0\xaf"), bad + bad);
    EXPECT_EQ(wa::Widen("\xed\xa0\x80" "x"), bad + bad + bad + L"x");
    EXPECT_EQ(wa::Narrow(nullptr), "");
    EXPECT_EQ(wa::Widen(nullptr), L"");
}

}  // namespace
