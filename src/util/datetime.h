/* Date-time texts: the DateAndTime octets of management data (8 or 11 octets)
 * and their display text, and the three date layouts HTTP servers send. */
#pragma once
#include <time.h>

/* Octets -> "y-m-d,h:m:s.d" (8) or "y-m-d,h:m:s.d,+h:m" (11). `length` is the
 * octet count on the way in and the text's length on the way out. New text
 * (free() it), or null for another octet count or a failed allocation. */
char *ConvertToStringFromDateTime(const unsigned char *octets, int *length);
/* The reverse: a new array of 8 or 11 octets (free() it) and its count, or null. */
unsigned char *ConvertToDateTimeFromString(const char *text, int *count);

/* An RFC 1123, RFC 850 or asctime date as a new calendar-time record (free()
 * it); null when the text has none of the layouts or an unknown month. The
 * RFC 850 year is kept as written (94 stands for 1994). */
struct tm *ParseDateTime(const char *text);
/* "Jan" .. "Dec" (any case) -> 0 .. 11, else -1. */
int ParseMonth(const char *name);
/* 1 when the first time is later than or equal to the second, else 0. */
short CompareTime(const struct tm *first, const struct tm *second);
