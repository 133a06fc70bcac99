/*
 * Date-time texts. The texts come from servers and management data, so they are
 * read with a small scanner of our own instead of sscanf: the same layouts
 * ("%d", "%s", "%3s", "%c", literal characters and white space), but a text
 * field longer than kMaxField makes the layout fail instead of overrunning a
 * buffer, and so does a number outside the range of an int.
 */
#include "util/datetime.h"

#include <ctype.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "log/log.h"

namespace {

/* Longest text field of a date (weekday, month or zone). */
constexpr size_t kMaxField = 19;

/* The layouts as written; each %s takes a char[kMaxField + 1]. */
const char kDateAndTimeLayout[] = "%d-%d-%d,%d:%d:%d.%d,%c%d:%d";
const char kRfc1123Layout[] = "%s %d %s %d %d:%d:%d %s";
const char kRfc850Layout[] = "%s %d-%3s-%d %d:%d:%d %s";
const char kAsctimeLayout[] = "%s %s %d %d:%d:%d %d";

/* Reads `text` by `layout` and returns the number of fields stored, stopping
 * at the first directive that does not match (or at a text field that is too
 * long). Arguments: int* for %d, char* of kMaxField + 1 for %s and %Ns, char*
 * for %c. */
int ScanFields(const char *text, const char *layout, ...) {
    va_list args;
    va_start(args, layout);
    int stored = 0;
    const unsigned char *in = reinterpret_cast<const unsigned char *>(text);
    for (const char *f = layout; *f != '\0'; ++f) {
        if (isspace(static_cast<unsigned char>(*f))) {
            while (isspace(*in)) ++in;
            continue;
        }
        if (*f != '%') {
            if (*in != static_cast<unsigned char>(*f)) break;
            ++in;
            continue;
        }
        ++f;
        size_t width = 0;
        while (isdigit(static_cast<unsigned char>(*f))) width = width * 10 + static_cast<size_t>(*f++ - '0');
        if (*f == 'c') {
            if (*in == '\0') break;
            *va_arg(args, char *) = static_cast<char>(*in++);
        } else if (*f == 'd') {
            while (isspace(*in)) ++in;
            const bool negative = *in == '-';
            if (*in == '-' || *in == '+') ++in;
            if (!isdigit(*in)) break;
            const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
            long long value = 0;
            while (isdigit(*in) && value <= limit) value = value * 10 + (*in++ - '0');
            if (value > limit) break;
            *va_arg(args, int *) = static_cast<int>(negative ? -value : value);
        } else {  // 's'
            while (isspace(*in)) ++in;
            size_t n = 0;
            while (in[n] != '\0' && !isspace(in[n]) && (width == 0 || n < width)) ++n;
            if (n == 0 || n > kMaxField) break;
            char *out = va_arg(args, char *);
            memcpy(out, in, n);
            out[n] = '\0';
            in += n;
        }
        ++stored;
    }
    va_end(args);
    return stored;
}

}  // namespace

/* ---- DateAndTime octets --------------------------------------------------------- */

char *ConvertToStringFromDateTime(const unsigned char *octets, int *length) {
    LogTrace("\n\t@@@@@ Inside ConvertToStringFromDateTime() @@@@@\n");
    /* Only the two forms exist; any other count would read octets that are not there. */
    if (octets == nullptr || length == nullptr || (*length != 8 && *length < 11)) return nullptr;
    const int year = octets[0] * 256 + octets[1];
    char work[64];
    int written;
    if (*length == 8)
        written = snprintf(work, sizeof work, "%d-%d-%d,%d:%d:%d.%d", year, octets[2], octets[3], octets[4],
                           octets[5], octets[6], octets[7]);
    else
        written = snprintf(work, sizeof work, "%d-%d-%d,%d:%d:%d.%d,%c%d:%d", year, octets[2], octets[3],
                           octets[4], octets[5], octets[6], octets[7], octets[8], octets[9], octets[10]);
    char *text = static_cast<char *>(calloc(static_cast<size_t>(written) + 1, 1));
    if (text == nullptr) {
        LogError("Unable to allocate buffer !!! \n");
        return nullptr;
    }
    memcpy(text, work, static_cast<size_t>(written));
    *length = written;
    LogTrace("The retVal is %s\n", text);
    return text;
}

unsigned char *ConvertToDateTimeFromString(const char *text, int *count) {
    LogTrace("\n\t@@@@@ Inside ConvertToDateTimeFromString() @@@@@\n");
    if (text == nullptr || count == nullptr) return nullptr;
    int year = 0, month = 0, day = 0, hour = 0, minutes = 0, seconds = 0, deciSeconds = 0;
    int utcHours = 0, utcMinutes = 0;
    char direction = 0;
    const int fields = ScanFields(text, kDateAndTimeLayout, &year, &month, &day, &hour, &minutes, &seconds,
                                  &deciSeconds, &direction, &utcHours, &utcMinutes);
    if (fields != 10 && fields != 7) return nullptr;
    unsigned char *octets = static_cast<unsigned char *>(calloc(static_cast<size_t>(fields) + 1, 1));
    if (octets == nullptr) {
        LogError("Unable to allocate buffer !!! \n");
        return nullptr;
    }
    const int values[] = {month, day, hour, minutes, seconds, deciSeconds, direction, utcHours, utcMinutes};
    octets[0] = static_cast<unsigned char>((static_cast<unsigned>(year) >> 8) & 0xFF);
    octets[1] = static_cast<unsigned char>(static_cast<unsigned>(year) & 0xFF);
    for (int i = 2; i <= fields; ++i) octets[i] = static_cast<unsigned char>(static_cast<unsigned>(values[i - 2]) & 0xFF);
    for (int i = 0; i <= fields; ++i) LogTrace("%.02x\n", octets[i]);
    *count = fields + 1;
    return octets;
}

/* ---- HTTP dates ----------------------------------------------------------------- */

int ParseMonth(const char *name) {
    LogTrace("\n\t@@@@@ Inside ParseMonth() @@@@@\n");
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (name == nullptr) return -1;
    for (int i = 0; i < 12; ++i)
        if (strcasecmp(name, months[i]) == 0) return i;
    return -1;
}

struct tm *ParseDateTime(const char *text) {
    LogTrace("\n\t@@@@@ Inside ParseDateTime() @@@@@\n");
    if (text == nullptr) return nullptr;
    struct tm *when = static_cast<struct tm *>(calloc(1, sizeof(struct tm)));
    if (when == nullptr) return nullptr;
    char weekday[kMaxField + 1], month[kMaxField + 1], zone[kMaxField + 1];
    int year = 0, monthIndex = -1;
    bool matched = false, fromYear1900 = true;
    if (ScanFields(text, kRfc1123Layout, weekday, &when->tm_mday, month, &year, &when->tm_hour, &when->tm_min,
                   &when->tm_sec, zone) == 8) {
        monthIndex = ParseMonth(month);
        matched = true;
    } else if (ScanFields(text, kRfc850Layout, weekday, &when->tm_mday, month, &year, &when->tm_hour, &when->tm_min,
                          &when->tm_sec, zone) == 8) {
        monthIndex = ParseMonth(month);
        /* Kept as written: a two-digit 94 already counts from 1900. */
        fromYear1900 = false;
        matched = true;
    } else if (ScanFields(text, kAsctimeLayout, weekday, month, &when->tm_mday, &when->tm_hour, &when->tm_min,
                          &when->tm_sec, &year) == 7) {
        monthIndex = ParseMonth(month);
        matched = true;
    }
    /* A year that cannot be counted from 1900 is as malformed as a wrong month. */
    if (!matched || monthIndex < 0 || (fromYear1900 && year < INT_MIN + 1900)) {
        free(when);
        return nullptr;
    }
    when->tm_year = fromYear1900 ? year - 1900 : year;
    when->tm_mon = monthIndex;
    return when;
}

short CompareTime(const struct tm *first, const struct tm *second) {
    LogTrace("\n\t@@@@@ Inside CompareTime() @@@@@\n");
    if (first == nullptr || second == nullptr) return 0;
    const int a[] = {first->tm_year, first->tm_mon, first->tm_mday, first->tm_hour, first->tm_min, first->tm_sec};
    const int b[] = {second->tm_year, second->tm_mon, second->tm_mday, second->tm_hour, second->tm_min, second->tm_sec};
    for (int i = 0; i < 6; ++i)
        if (a[i] != b[i]) return a[i] > b[i] ? 1 : 0;
    return 1;
}
