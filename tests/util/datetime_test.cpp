/* Date-time texts: DateAndTime octets both ways, the three HTTP date layouts with
 * their malformed neighbours, the order of calendar times, and the entry lines. */
#include "util/datetime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/log_capture.h"

namespace {

using Octets = std::vector<unsigned char>;

TEST(DateAndTimeText, OctetsAndTextRoundTripInBothForms) {
    const struct {
        Octets octets;
        const char *text;
    } cases[] = {
        {{7, 220, 1, 15, 10, 30, 0, 5}, "2012-1-15,10:30:0.5"},
        {{7, 220, 1, 15, 10, 30, 0, 5, '+', 5, 30}, "2012-1-15,10:30:0.5,+5:30"},
        {{0, 0, 0, 0, 0, 0, 0, 0}, "0-0-0,0:0:0.0"},
        {{255, 255, 12, 31, 23, 59, 60, 9, '-', 13, 59}, "65535-12-31,23:59:60.9,-13:59"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        /* Heap copies of exactly the octets: nothing past them may be read. */
        Octets octets = c.octets;
        int length = static_cast<int>(octets.size());
        char *text = ConvertToStringFromDateTime(octets.data(), &length);
        ASSERT_NE(nullptr, text);
        EXPECT_STREQ(c.text, text);
        EXPECT_EQ(static_cast<int>(strlen(c.text)), length);
        free(text);

        int count = -7;
        unsigned char *back = ConvertToDateTimeFromString(c.text, &count);
        ASSERT_NE(nullptr, back);
        EXPECT_EQ(static_cast<int>(c.octets.size()), count);
        EXPECT_EQ(c.octets, Octets(back, back + count));
        free(back);
    }

    /* Values are kept to their low 8 bits, the year to 16. */
    int count = 0;
    unsigned char *wrapped = ConvertToDateTimeFromString("66071-257-15,10:30:0.5", &count);
    ASSERT_NE(nullptr, wrapped);
    EXPECT_EQ((Octets{0x02, 0x17, 1, 15, 10, 30, 0, 5}), Octets(wrapped, wrapped + count));
    free(wrapped);
}

TEST(DateAndTimeText, OtherFieldAndOctetCountsGiveNothingAndLeaveTheCountAlone) {
    for (const char *text : {"2012-1-15", "2012-1-15,10:30:0", "2012-1-15,10:30:0.99999999999",
                             "2012-1-15,10:30:0.5,+", "2012-1-15,10:30:0.5,+5",
                             "2012-1-15,10:30:0.5,+5:", "", "x", "2012/1/15,10:30:0.5"}) {
        SCOPED_TRACE(text);
        int count = -7;
        EXPECT_EQ(nullptr, ConvertToDateTimeFromString(text, &count));
        EXPECT_EQ(-7, count);
    }
    EXPECT_EQ(nullptr, ConvertToDateTimeFromString(nullptr, nullptr));
    for (int length : {0, 7, 9, 10, -1}) {
        Octets octets(static_cast<size_t>(length > 0 ? length : 1), 1);
        int in = length;
        EXPECT_EQ(nullptr, ConvertToStringFromDateTime(octets.data(), &in)) << length;
        EXPECT_EQ(length, in);
    }
}

struct Expected {
    int day, month, year, hour, minutes, seconds;
};

TEST(HttpDate, TheThreeLayoutsAndTheirMalformedNeighbours) {
    const Expected nov94 = {6, 10, 94, 8, 49, 37};
    const std::string long20 = "Sundayyyyyyyyyyyyyy,";  // 20 characters
    const std::string long19 = "Sundayyyyyyyyyyyyy,";   // 19
    const struct {
        std::string text;
        bool parses;
        Expected when;
    } cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", true, nov94},
        {"Sunday, 06-Nov-94 08:49:37 GMT", true, nov94},
        {"Sun Nov  6 08:49:37 1994", true, nov94},
        {"sun, 06 NOV 1994 08:49:37 gmt", true, nov94},
        /* The RFC 850 year stands as written. */
        {"Sunday, 06-Nov-1994 08:49:37 GMT", true, {6, 10, 1994, 8, 49, 37}},
        {"Thu, 01 Jan 1970 00:00:00 GMT", true, {1, 0, 70, 0, 0, 0}},
        {"Fri, 31 Dec 9999 23:59:59 GMT", true, {31, 11, 8099, 23, 59, 59}},
        /* Wrong month. */
        {"Sun, 06 Foo 1994 08:49:37 GMT", false, {}},
        {"Sun, 06 November 1994 08:49:37 GMT", false, {}},
        {"Sunday, 06-Foo-94 08:49:37 GMT", false, {}},
        {"Sunday, 06-November-94 08:49:37 GMT", false, {}},
        {"Sun Foo  6 08:49:37 1994", false, {}},
        /* A field missing. */
        {"Sun, 06 Nov 1994 08:49:37", false, {}},
        {"Sun, 06 Nov 08:49:37 GMT", false, {}},
        {"Sunday, 06-Nov-94 08:49:37", false, {}},
        {"Sunday, 06-Nov 08:49:37 GMT", false, {}},
        {"Sun Nov  6 08:49:37", false, {}},
        {"Sun Nov 08:49:37 1994", false, {}},
        {"", false, {}},
        /* Text fields: 19 characters are read, 20 refused. */
        {long19 + " 06 Nov 1994 08:49:37 GMT", true, nov94},
        {long20 + " 06 Nov 1994 08:49:37 GMT", false, {}},
        {"Sun, 06 Nov 1994 08:49:37 " + std::string(20, 'Z'), false, {}},
        {"Sun, 06 Nov 1994 08:49:37 " + std::string(19, 'Z'), true, nov94},
        {long20 + " 06-Nov-94 08:49:37 GMT", false, {}},
        {"Sunday, 06-Nov-94 08:49:37 " + std::string(4000, 'Z'), false, {}},
        {long20 + " Nov  6 08:49:37 1994", false, {}},
        {"Sun " + std::string(20, 'N') + "  6 08:49:37 1994", false, {}},
        /* Numbers beyond an int, and a year that cannot be counted from 1900. */
        {"Sun Nov  6 08:49:37 19940000000000000000000000000001", false, {}},
        {"Sun, 06 Nov 2147483648 08:49:37 GMT", false, {}},
        {"Sun, 06 Nov 2147483647 08:49:37 GMT", true, {6, 10, 2147483647 - 1900, 8, 49, 37}},
        {"Sun Nov  6 08:49:37 -2147483647", false, {}},
        {"Sunday, 06-Nov--2147483648 08:49:37 GMT", true, {6, 10, -2147483647 - 1, 8, 49, 37}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        struct tm *when = ParseDateTime(c.text.c_str());
        ASSERT_EQ(c.parses, when != nullptr);
        if (!when) continue;
        EXPECT_EQ(c.when.day, when->tm_mday);
        EXPECT_EQ(c.when.month, when->tm_mon);
        EXPECT_EQ(c.when.year, when->tm_year);
        EXPECT_EQ(c.when.hour, when->tm_hour);
        EXPECT_EQ(c.when.minutes, when->tm_min);
        EXPECT_EQ(c.when.seconds, when->tm_sec);
        EXPECT_EQ(0, when->tm_wday + when->tm_yday + when->tm_isdst);
        free(when);
    }
    EXPECT_EQ(nullptr, ParseDateTime(nullptr));
    EXPECT_EQ(0, ParseMonth("jan"));
    EXPECT_EQ(11, ParseMonth("DEC"));
    EXPECT_EQ(-1, ParseMonth("Ja"));
    EXPECT_EQ(-1, ParseMonth(nullptr));
}

TEST(HttpDate, CompareTimeIsOneForLaterOrEqual) {
    const int second[6] = {94, 10, 6, 8, 49, 37};
    /* Year, month, day, hour, minutes, seconds; an earlier field always decides. */
    const struct {
        int first[6];
        int expected;
    } cases[] = {
        {{94, 10, 6, 8, 49, 37}, 1}, {{94, 10, 6, 8, 49, 36}, 0}, {{94, 10, 6, 8, 49, 38}, 1},
        {{93, 11, 31, 23, 59, 59}, 0}, {{95, 0, 1, 0, 0, 0}, 1}, {{94, 9, 30, 23, 59, 59}, 0},
        {{94, 10, 7, 0, 0, 0}, 1}, {{94, 10, 6, 7, 59, 59}, 0}, {{94, 10, 6, 8, 50, 0}, 1},
    };
    auto make = [](const int *f) {
        struct tm t = {};
        t.tm_year = f[0];
        t.tm_mon = f[1];
        t.tm_mday = f[2];
        t.tm_hour = f[3];
        t.tm_min = f[4];
        t.tm_sec = f[5];
        return t;
    };
    const struct tm later = make(second);
    for (const auto &c : cases) {
        const struct tm first = make(c.first);
        EXPECT_EQ(c.expected, CompareTime(&first, &later)) << c.first[0] << "-" << c.first[1] << "-" << c.first[2];
    }
    EXPECT_EQ(0, CompareTime(nullptr, &later));
}

TEST(DateTimeLog, EachRoutineWritesItsEntryLineOnce) {
    vt_test::LogCapture log(4);
    const unsigned char octets[] = {7, 220, 1, 15, 10, 30, 0, 5};
    int length = 8, count = 0;
    free(ConvertToStringFromDateTime(octets, &length));
    free(ConvertToDateTimeFromString("2012-1-15,10:30:0.5", &count));
    struct tm *when = ParseDateTime("Sun Nov  6 08:49:37 1994");
    ASSERT_NE(nullptr, when);
    CompareTime(when, when);
    free(when);
    for (const char *line : {"\n\t@@@@@ Inside ConvertToStringFromDateTime() @@@@@\n",
                             "\n\t@@@@@ Inside ConvertToDateTimeFromString() @@@@@\n",
                             "\n\t@@@@@ Inside ParseDateTime() @@@@@\n", "\n\t@@@@@ Inside ParseMonth() @@@@@\n",
                             "\n\t@@@@@ Inside CompareTime() @@@@@\n", "The retVal is 2012-1-15,10:30:0.5\n",
                             "dc\n"}) {
        EXPECT_EQ(1, log.Count("TRACE", line)) << line;
    }
}

}  // namespace
