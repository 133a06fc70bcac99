/* The table store's own date, time and date-time values. */
#pragma once
#include <stdint.h>

struct KelDate {
    uint16_t year;
    uint8_t month; /* 1 for January */
    uint8_t day;
};

struct KelTime {
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
};

/* A date-time refers to its two parts; either reference may be empty. The record
 * made by CreateKelDateTime keeps both parts in the same heap block, so a single
 * free() releases all of it. */
struct KelDateTime {
    KelDate *date;
    KelTime *time;
    uint8_t reserved[3];
};

/* Value lengths that rows record for the three types. */
#define KEL_DATE_LENGTH 4
#define KEL_TIME_LENGTH 3
#define KEL_DATETIME_LENGTH 11

KelDate *CreateKelDate(int year, int month, int day);
KelTime *CreateKelTime(int hour, int minute, int second);
KelDateTime *CreateKelDateTime(int year, int month, int day, int hour, int minute, int second);
/* Copy of a date-time whose parts live in the copy's own block; empty parts stay empty. */
KelDateTime *CopyKelDateTime(const KelDateTime *source);

char *KelDateToString(const KelDate *date);
char *KelTimeToString(const KelTime *time);
char *KelDateTimeToString(const KelDateTime *dateTime);

KelDateTime *ConvertStringToKelDateTime(const char *text);
KelDateTime *GetCurrentKelDateTime(void);
uint32_t GetCurrentSeconds(void);
