/* String routines: comparisons of missing strings, the strict integer parse, the two
 * search flavours, splitting, and the copies that must stay inside their buffers. */
#include "util/strings.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct CompareCase {
    const char *left;
    const char *right;
    int expected;
    int expectedNoCase;
};

TEST(StringCompare, MissingStringsSignedByteDifferenceAndLetterFolding) {
    const CompareCase cases[] = {
        {nullptr, nullptr, 0, 0},
        {nullptr, "", -1, -1},
        {"", nullptr, 1, 1},
        {"", "", 0, 0},
        {"a", "b", -1, -1},
        {"abc", "ab", 'c', 'c'},
        {"ab", "abc", -'c', -'c'},
        /* The difference is a signed 8-bit number. */
        {"\xff", "\x01", -2, -2},
        {"\x01", "\xff", 2, 2},
        {"ABC", "abc", 'A' - 'a', 0},
        {"Zebra", "zebrA", 'Z' - 'z', 0},
        /* Only letters fold: '[' and '{' stay apart, as do '@' and '`'. */
        {"[", "{", '[' - '{', '[' - '{'},
        {"@", "`", '@' - '`', '@' - '`'},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.left ? c.left : "(null)") + " vs " + (c.right ? c.right : "(null)"));
        EXPECT_EQ(c.expected, CompareStrings(c.left, c.right));
        EXPECT_EQ(c.expectedNoCase, CompareStringsNoCase(c.left, c.right));
    }
    EXPECT_EQ(0, StringLength(nullptr));
    EXPECT_EQ(3, StringLength("abc"));
}

TEST(StringParse, TextToIntegerAcceptsOnlySignAndDigits) {
    const struct {
        const char *text;
        int expected;
    } cases[] = {
        {"-42", -42}, {"+7", 7}, {"007", 7}, {"", 0}, {"+", 0}, {"-", 0},
        {"4-2", -1}, {" 7", -1}, {"7 ", -1}, {"0x10", -1}, {"--1", -1},
        {"2147483647", INT_MAX}, {"-2147483648", INT_MIN},
        /* No range check: the value wraps modulo 2^32 (and never traps). */
        {"4294967296", 0}, {"4294967297", 1},
        {nullptr, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        EXPECT_EQ(c.expected, TextToInteger(c.text));
    }
}

struct SearchCase {
    const char *text;
    const char *pattern;
    int subStringAt;  /* -1: not found */
    int index;        /* FindSubstringIndex */
    int count;        /* CountOccurrences */
};

TEST(StringSearch, FullComparisonAgainstSinglePositionSearch) {
    const SearchCase cases[] = {
        /* A match beginning inside a failed partial match is missed by the
         * single-position search only. */
        {"aaab", "aab", 1, 0, 0},
        {"a:b:c", ":", 1, 1, 2},
        {"abc", ":", -1, 0, 0},
        {"::", ":", 0, 0, 2},
        {":a", ":", 0, 0, 1},
        {"ab", "abc", -1, 0, 0},
        {"abab", "ab", 0, 0, 2},
        {"xbab", "bab", 1, 1, 1},
        {"a::::b", "::", 1, 1, 2},
        /* An empty pattern is found by the full search at the start and never by
         * the separator search: counting and splitting must not loop on it. */
        {"abc", "", 0, 0, 0},
        {"", "", 0, 0, 0},
        {nullptr, ":", -1, -1, -1},
        {"a:b", nullptr, -1, -1, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.text ? c.text : "(null)") + " / " + (c.pattern ? c.pattern : "(null)"));
        char *found = SubString(c.text, c.pattern);
        EXPECT_EQ(c.subStringAt, found ? static_cast<int>(found - c.text) : -1);
        EXPECT_EQ(c.subStringAt >= 0, FindSubString(c.text, c.pattern));
        EXPECT_EQ(c.index, FindSubstringIndex(c.text, c.pattern));
        EXPECT_EQ(c.count, CountOccurrences(c.text, c.pattern));
    }
}

std::vector<std::string> TakeParts(char **parts) {
    std::vector<std::string> out;
    for (char **p = parts; *p != nullptr; ++p) {
        out.push_back(*p);
        free(*p);
    }
    free(parts);
    return out;
}

TEST(StringSplit, PartsBetweenSeparatorsIncludingEmptyOnes) {
    using Parts = std::vector<std::string>;
    const struct {
        const char *text;
        const char *separator;
        Parts expected;
    } cases[] = {
        {"a:b:c", ":", {"a", "b", "c"}},
        {"abc", ":", {"abc"}},
        {"::", ":", {"", "", ""}},
        {":a:", ":", {"", "a", ""}},
        {"a::b", "::", {"a", "b"}},
        {"", ":", {""}},
        /* Without a usable separator the whole text is the only part. */
        {"a:b", "", {"a:b"}},
        {"a:b", nullptr, {"a:b"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + (c.separator ? c.separator : "(null)"));
        char **parts = SplitString(c.text, c.separator);
        ASSERT_NE(nullptr, parts);
        EXPECT_EQ(c.expected, TakeParts(parts));
    }
    EXPECT_EQ(nullptr, SplitString(nullptr, ":"));
}

TEST(StringSplit, TextBeforeAndAfterStayInsideTheText) {
    const struct {
        const char *text;
        const char *separator;
        const char *before;
        const char *after;
    } cases[] = {
        {"key=value", "=", "key", "value"},
        {"=value", "=", "", "value"},
        {"key=", "=", "key", ""},
        /* No match: index 0, so "after" skips the separator's length. */
        {"abc", "=", "", "bc"},
        /* A separator longer than the text must not move past its end. */
        {"ab", "xyz", "", ""},
        {nullptr, "=", nullptr, nullptr},
        {"a=b", nullptr, nullptr, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.text ? c.text : "(null)") + " / " + (c.separator ? c.separator : "(null)"));
        char *before = TextBefore(c.text, c.separator);
        char *after = TextAfter(c.text, c.separator);
        if (c.before == nullptr) {
            EXPECT_EQ(nullptr, before);
            EXPECT_EQ(nullptr, after);
        } else {
            ASSERT_NE(nullptr, before);
            ASSERT_NE(nullptr, after);
            EXPECT_STREQ(c.before, before);
            EXPECT_STREQ(c.after, after);
        }
        free(before);
        free(after);
    }
}

TEST(StringCopy, NewBuffersAreTerminatedAndOwned) {
    char *copy = nullptr;
    ASSERT_EQ(1, DuplicateString(&copy, "hello"));
    EXPECT_STREQ("hello", copy);
    free(copy);
    ASSERT_EQ(1, DuplicateString(&copy, nullptr));
    EXPECT_STREQ("", copy);
    free(copy);

    ASSERT_EQ(1, CopyBytes(&copy, "abcdef", 3));
    EXPECT_STREQ("abc", copy);
    free(copy);
    ASSERT_EQ(1, CopyBytes(&copy, "abc", 0));
    EXPECT_STREQ("", copy);
    free(copy);

    /* The source may lie inside the string being replaced. */
    char *text = nullptr;
    ASSERT_EQ(1, DuplicateString(&text, "hello world"));
    ASSERT_EQ(1, ReallocateAndSetString(&text, text + 6, 5));
    EXPECT_STREQ("world", text);
    free(text);
}

TEST(StringCopy, CallerBuffersGetExactlyWhatIsAsked) {
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(nullptr, CopyString(buffer, nullptr));
    EXPECT_STREQ("xxxxxxx", buffer);
    EXPECT_EQ(buffer, CopyString(buffer, "abc"));
    EXPECT_EQ(0, std::memcmp(buffer, "abc\0xxx", 8));

    char counted[8] = "xxxxxxx";
    EXPECT_EQ(counted, CopyCount(counted, "ab", 2));
    EXPECT_STREQ("abxxxxx", counted);
}

TEST(StringCopy, ReverseLeadingCharsNeverPassesTheTerminator) {
    const struct {
        const char *text;
        int count;
        const char *expected;
    } cases[] = {
        {"abcdef", 3, "cbadef"}, {"abc", 3, "cba"}, {"ab", 5, "ba"},
        {"abc", 0, "abc"},       {"abc", -2, "abc"}, {"", 4, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.text) + " " + std::to_string(c.count));
        /* Canary bytes after the terminator must survive. */
        char buffer[16];
        std::memset(buffer, 'Z', sizeof buffer);
        std::memcpy(buffer, c.text, std::strlen(c.text) + 1);
        ReverseLeadingChars(buffer, c.count);
        EXPECT_STREQ(c.expected, buffer);
        for (size_t i = std::strlen(c.text) + 1; i < sizeof buffer; ++i) EXPECT_EQ('Z', buffer[i]);
    }
    ReverseLeadingChars(nullptr, 3);
}

}  // namespace
