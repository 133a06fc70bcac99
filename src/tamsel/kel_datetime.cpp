/* Date, time and date-time values: creation, text forms, reading from text and
 * the current local time. */
#include "tamsel/kel_datetime.h"

#include <ctype.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "log/log.h"
#include "util/strings.h"
#include "winapi/winapi.h"

namespace {

static_assert(offsetof(KelDateTime, reserved) + sizeof(KelDateTime::reserved) == KEL_DATETIME_LENGTH,
              "the recorded length of a date-time covers every field of the record");

char *FormatText(const char *format, int a, int b, int c, int d = 0, int e = 0, int f = 0)
{
    char buffer[80];
    if (snprintf(buffer, sizeof buffer, format, a, b, c, d, e, f) < 0)
        return nullptr;
    char *text = nullptr;
    DuplicateString(&text, buffer);
    return text;
}

/* Reads numbers the way "%d" conversions do: blanks skipped, an optional sign,
 * at least one digit. Overlong numbers wrap instead of overflowing. Stops at the
 * first mismatch; the fields not reached keep their values. */
void ScanFields(const char *text, const char *pattern, int *fields)
{
    const char *p = text;
    int field = 0;
    for (const char *f = pattern; *f != 0; f++) {
        if (*f == '%') {
            f++; /* the 'd' */
            while (isspace(static_cast<unsigned char>(*p)))
                p++;
            bool negative = false;
            if (*p == '+' || *p == '-')
                negative = *p++ == '-';
            if (!isdigit(static_cast<unsigned char>(*p)))
                return;
            unsigned int value = 0;
            while (isdigit(static_cast<unsigned char>(*p)))
                value = value * 10u + static_cast<unsigned int>(*p++ - '0');
            fields[field++] = static_cast<int>(negative ? 0u - value : value);
        } else if (isspace(static_cast<unsigned char>(*f))) {
            while (isspace(static_cast<unsigned char>(*p)))
                p++;
        } else {
            if (*p != *f)
                return;
            p++;
        }
    }
}

} // namespace

KelDate *CreateKelDate(int year, int month, int day)
{
    KelDate *date = static_cast<KelDate *>(calloc(1, sizeof(KelDate)));
    if (date == nullptr) {
        LogError("KelDate creation failed");
        return nullptr;
    }
    date->year = static_cast<uint16_t>(year);
    date->month = static_cast<uint8_t>(month);
    date->day = static_cast<uint8_t>(day);
    return date;
}

KelTime *CreateKelTime(int hour, int minute, int second)
{
    KelTime *time = static_cast<KelTime *>(calloc(1, sizeof(KelTime)));
    if (time == nullptr) {
        LogError("KelTime creation failed");
        return nullptr;
    }
    time->hour = static_cast<uint8_t>(hour);
    time->minute = static_cast<uint8_t>(minute);
    time->second = static_cast<uint8_t>(second);
    return time;
}

/* A date-time with both parts; the caller reports a failed allocation. The
 * record is allocated with a zero byte after it, as every stored value is. */
static KelDateTime *NewKelDateTime(int year, int month, int day, int hour, int minute, int second)
{
    KelDateTime *dateTime = static_cast<KelDateTime *>(calloc(1, sizeof(KelDateTime) + 1));
    if (dateTime == nullptr)
        return nullptr;
    dateTime->date.year = static_cast<uint16_t>(year);
    dateTime->date.month = static_cast<uint8_t>(month);
    dateTime->date.day = static_cast<uint8_t>(day);
    dateTime->time.hour = static_cast<uint8_t>(hour);
    dateTime->time.minute = static_cast<uint8_t>(minute);
    dateTime->time.second = static_cast<uint8_t>(second);
    dateTime->parts = KEL_DATETIME_HAS_DATE | KEL_DATETIME_HAS_TIME;
    return dateTime;
}

KelDateTime *CreateKelDateTime(int year, int month, int day, int hour, int minute, int second)
{
    KelDateTime *dateTime = NewKelDateTime(year, month, day, hour, minute, second);
    if (dateTime == nullptr)
        LogError("KelDateTime creation failed");
    return dateTime;
}

KelDateTime *CopyKelDateTime(const KelDateTime *source)
{
    if (source == nullptr)
        return nullptr;
    KelDateTime *copy = static_cast<KelDateTime *>(calloc(1, sizeof(KelDateTime) + 1));
    if (copy == nullptr) {
        LogError("KelDateTime creation failed");
        return nullptr;
    }
    memcpy(copy, source, KEL_DATETIME_LENGTH);
    return copy;
}

const KelDate *KelDateTimeDate(const KelDateTime *dateTime)
{
    return dateTime != nullptr && (dateTime->parts & KEL_DATETIME_HAS_DATE) ? &dateTime->date : nullptr;
}

const KelTime *KelDateTimeTime(const KelDateTime *dateTime)
{
    return dateTime != nullptr && (dateTime->parts & KEL_DATETIME_HAS_TIME) ? &dateTime->time : nullptr;
}

char *KelDateToString(const KelDate *date)
{
    if (date == nullptr)
        return nullptr;
    return FormatText("%04d-%02d-%02d", date->year, date->month, date->day);
}

char *KelTimeToString(const KelTime *time)
{
    if (time == nullptr)
        return nullptr;
    return FormatText("%02d:%02d:%02d", time->hour, time->minute, time->second);
}

char *KelDateTimeToString(const KelDateTime *dateTime)
{
    if (dateTime == nullptr)
        return nullptr;
    const KelDate *d = KelDateTimeDate(dateTime);
    const KelTime *t = KelDateTimeTime(dateTime);
    if (d != nullptr && t != nullptr)
        return FormatText("%04d-%02d-%02d %02d:%02d:%02d", d->year, d->month, d->day, t->hour, t->minute,
                          t->second);
    if (d != nullptr)
        return KelDateToString(d);
    if (t != nullptr)
        return KelTimeToString(t);
    return nullptr;
}

KelDateTime *ConvertStringToKelDateTime(const char *text)
{
    LogTrace("Inside ConvertStringToKelDateTime \n");
    if (text == nullptr) {
        LogError("datetimeStr NULL \n");
        return nullptr;
    }
    int fields[6] = {0, 0, 0, 0, 0, 0};
    bool hasDash = strchr(text, '-') != nullptr;
    bool hasColon = strchr(text, ':') != nullptr;
    if (hasDash && hasColon)
        ScanFields(text, "%d-%d-%d %d:%d:%d", fields);
    else if (hasDash)
        ScanFields(text, "%d-%d-%d", fields);
    else if (hasColon)
        ScanFields(text, "%d:%d:%d", fields + 3);
    else
        return nullptr;
    return CreateKelDateTime(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]);
}

KelDateTime *GetCurrentKelDateTime(void)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    KelDateTime *dateTime = NewKelDateTime(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    if (dateTime == nullptr)
        LogError("MEMORY ALLOCATION FAILURE FOR dateTimePtr");
    return dateTime;
}

uint32_t GetCurrentSeconds(void)
{
    return static_cast<uint32_t>(static_cast<unsigned long long>(time(nullptr)));
}
