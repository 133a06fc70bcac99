/* Date and time values: reading, printing, truncation of oversize fields. */
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "tamsel/kel_datetime.h"
#include "tamsel_support.h"

namespace {

std::string Take(char *text)
{
    std::string copy = text != nullptr ? text : "<null>";
    free(text);
    return copy;
}

TEST(KelDateTimeTest, TextsReadAndPrinted)
{
    struct {
        const char *text;
        const char *printed;
    } cases[] = {
        {"2024-05-06 09:05:00", "2024-05-06 09:05:00"},
        {"2024-05-06", "2024-05-06 00:00:00"},
        {"09:05", "0000-00-00 09:05:00"},
        {"1999-12-31 23:59:59", "1999-12-31 23:59:59"},
        {"70000-01-02", "4464-01-02 00:00:00"},     /* year keeps its low 16 bits */
        {"2024-xx-01", "2024-00-00 00:00:00"},      /* malformed numbers are not reported */
        {"2024-13-40 25:61:61", "2024-13-40 25:61:61"}, /* no range checks */
        {"2024-05-06 300:00:00", "2024-05-06 44:00:00"}, /* low 8 bits */
    };
    for (const auto &c : cases) {
        KelDateTime *value = ConvertStringToKelDateTime(c.text);
        ASSERT_NE(value, nullptr) << c.text;
        EXPECT_EQ(Take(KelDateTimeToString(value)), c.printed) << c.text;
        free(value);
    }
}

TEST(KelDateTimeTest, PartsAndEmptyInputs)
{
    tamsel_test::LogCapture log(4);
    EXPECT_EQ(ConvertStringToKelDateTime("20240506"), nullptr);
    EXPECT_EQ(log.Messages("ERROR"), "");
    EXPECT_EQ(ConvertStringToKelDateTime(nullptr), nullptr);
    EXPECT_EQ(log.Messages("ERROR"), "datetimeStr NULL \n");
    EXPECT_NE(log.Messages("TRACE").find("Inside ConvertStringToKelDateTime \n"), std::string::npos);

    KelDateTime *value = ConvertStringToKelDateTime("09:05");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->time.hour, 9);
    EXPECT_EQ(value->time.minute, 5);
    EXPECT_EQ(value->time.second, 0);
    EXPECT_EQ(Take(KelDateToString(KelDateTimeDate(value))), "0000-00-00");
    EXPECT_EQ(Take(KelTimeToString(KelDateTimeTime(value))), "09:05:00");

    /* A date-time with one part prints only that part; with none, nothing. */
    KelDateTime *copy = CopyKelDateTime(value);
    free(value);
    copy->parts &= static_cast<uint8_t>(~KEL_DATETIME_HAS_DATE);
    EXPECT_EQ(Take(KelDateTimeToString(copy)), "09:05:00");
    copy->parts &= static_cast<uint8_t>(~KEL_DATETIME_HAS_TIME);
    EXPECT_EQ(KelDateTimeToString(copy), nullptr);
    free(copy);
    EXPECT_EQ(KelDateToString(nullptr), nullptr);

    KelDate *date = CreateKelDate(70000, 2, 3);
    EXPECT_EQ(date->year, 4464);
    free(date);
}

TEST(KelDateTimeTest, CopyIsIndependentAndCurrentTimeIsSane)
{
    KelDateTime *original = CreateKelDateTime(2024, 5, 6, 9, 5, 0);
    KelDateTime *copy = CopyKelDateTime(original);
    original->date.day = 7;
    free(original);
    EXPECT_EQ(Take(KelDateTimeToString(copy)), "2024-05-06 09:05:00");
    free(copy);

    KelDateTime *now = GetCurrentKelDateTime();
    ASSERT_NE(now, nullptr);
    EXPECT_GE(now->date.year, 2020);
    EXPECT_GE(now->date.month, 1);
    EXPECT_LE(now->date.month, 12);
    free(now);
    EXPECT_GT(GetCurrentSeconds(), 1600000000u);
}

} // namespace
