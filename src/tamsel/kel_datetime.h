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

/* A date-time holds both parts in the record itself and says in `parts` which of
 * them are present (KEL_DATETIME_HAS_DATE, KEL_DATETIME_HAS_TIME); a missing part
 * reads as empty. The record holds no pointers, so any byte copy of it (of its
 * recorded length, 11 bytes) is a whole, independent date-time. */
#define KEL_DATETIME_HAS_DATE 1
#define KEL_DATETIME_HAS_TIME 2

struct KelDateTime {
    KelDate date;
    KelTime time;
    uint8_t parts;
    uint8_t reserved[3];
};

/* Value lengths that rows record for the three types. */
#define KEL_DATE_LENGTH 4
#define KEL_TIME_LENGTH 3
#define KEL_DATETIME_LENGTH 11

KelDate *CreateKelDate(int year, int month, int day);
KelTime *CreateKelTime(int hour, int minute, int second);
KelDateTime *CreateKelDateTime(int year, int month, int day, int hour, int minute, int second);
KelDateTime *CopyKelDateTime(const KelDateTime *source);
/* The parts of a date-time, or null when the record or the part is missing. */
const KelDate *KelDateTimeDate(const KelDateTime *dateTime);
const KelTime *KelDateTimeTime(const KelDateTime *dateTime);

char *KelDateToString(const KelDate *date);
char *KelTimeToString(const KelTime *time);
char *KelDateTimeToString(const KelDateTime *dateTime);

KelDateTime *ConvertStringToKelDateTime(const char *text);
KelDateTime *GetCurrentKelDateTime(void);
uint32_t GetCurrentSeconds(void);
