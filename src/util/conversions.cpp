/*
 * Conversions between the value forms of network-management data: OIDs,
 * IPv4 addresses, 64-bit counters and decimal texts.
 *
 * Texts from outside are hostile: every parser bounds its tokens, stops at the
 * terminator whatever length it is given, and never writes past an array it
 * sized itself.
 */
#include "util/conversions.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "log/log.h"
#include "util/strings.h"

namespace {

/* Longest token (sub-identifier or octet) read from a dotted text. */
constexpr size_t kMaxToken = 19;

char *AllocateText(size_t size) {
    char *text = static_cast<char *>(calloc(size, 1));
    if (text == nullptr) LogError("Unable to allocate buffer !!! \n");
    return text;
}

/* Unsigned decimal digits of `value` written at `out`; returns their count. */
int WriteDigits(char *out, unsigned int value) {
    char reversed[10];
    int n = 0;
    do {
        reversed[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = 0; i < n; ++i) out[i] = reversed[n - 1 - i];
    return n;
}

/* Characters before the terminator among the first `length` (none for a
 * negative length). */
size_t BoundedLength(const char *text, long length) {
    return length > 0 ? strnlen(text, static_cast<size_t>(length)) : 0;
}

/* For a token of an optional sign and digits: whether its value lies in the
 * 32-bit range (-2147483648 .. 4294967295), where the decimal conversion does
 * not wrap. */
bool FitsThirtyTwoBits(const char *token) {
    const bool negative = token[0] == '-';
    const char *digits = (token[0] == '+' || token[0] == '-') ? token + 1 : token;
    while (*digits == '0') ++digits;
    if (strlen(digits) > 10) return false;
    unsigned long long value = 0;
    for (const char *p = digits; *p != '\0'; ++p) value = value * 10 + static_cast<unsigned>(*p - '0');
    return value <= (negative ? 2147483648ull : 4294967295ull);
}

/* One token of ConvertToOidOrIpFromString: false when it is refused. */
bool ReadSubId(const char *token, size_t length, unsigned int *value) {
    if (length == 0) return false;
    const int converted = TextToInteger(token);
    if (converted == -1 || !FitsThirtyTwoBits(token)) return false;
    /* A lone sign converts to 0 too. */
    if (converted == 0 && token[length - 1] != '0') return false;
    *value = static_cast<unsigned int>(converted);
    return true;
}

/* One octet of IsValidIPAddress: plain digits (no sign), at most 255, and a
 * zero written with zeros only. */
bool ValidOctet(const char *token, size_t length) {
    if (length == 0 || length > kMaxToken) return false;
    if (token[0] == '+' || token[0] == '-') return false;
    const int value = TextToInteger(token);
    if (value == -1 || !FitsThirtyTwoBits(token) || value < 0 || value > 255) return false;
    if (value == 0 && strspn(token, "0") != length) return false;
    return true;
}

char *CaseCopy(const char *text, char from, char to) {
    if (text == nullptr) return nullptr;
    const size_t length = strlen(text);
    char *copy = static_cast<char *>(calloc(length + 1, 1));
    if (copy == nullptr) return nullptr;
    for (size_t i = 0; i < length; ++i) {
        const char c = text[i];
        copy[i] = (c >= from && c <= from + 25) ? static_cast<char>(c - from + to) : c;
    }
    return copy;
}

}  // namespace

/* ---- Integers and counters as text ------------------------------------------ */

char *ConvertToStringFromInteger(const int *value) {
    LogTrace("\n\t@@@@@ Inside ConvertToStringFromInteger() @@@@@\n");
    if (value == nullptr) return nullptr;
    char *text = AllocateText(20);
    if (text == nullptr) return nullptr;
    char *out = text;
    /* The magnitude as an unsigned number, so the smallest value has one too. */
    unsigned int magnitude = static_cast<unsigned int>(*value);
    if (*value < 0) {
        *out++ = '-';
        magnitude = 0u - magnitude;
    }
    WriteDigits(out, magnitude);
    LogTrace("The string is %s\n", text);
    return text;
}

char *ConvertToStringFromUnsignedInteger(const unsigned int *value, int *length) {
    LogTrace("\n\t@@@@@ Inside ConvertToStringFromUnsignedInteger() @@@@@\n");
    if (value == nullptr) return nullptr;
    char *text = AllocateText(20);
    if (text == nullptr) return nullptr;
    LogTrace("The value is %d\n", static_cast<int>(*value));
    const int digits = WriteDigits(text, *value);
    if (length != nullptr) *length = digits;
    LogTrace("The string is %s\n", text);
    return text;
}

char *ConvertToStringFromCounter64(const Counter64 *record) {
    if (record == nullptr) return nullptr;
    char *text = AllocateText(21);
    if (text == nullptr) return nullptr;
    const unsigned long long value = ConvertToULongLongFromCounter64(record->high, record->low);
    /* Signed, as the counter has always been shown: 2^63 and above print negative. */
    snprintf(text, 21, "%lld", static_cast<long long>(value));
    LogDebug("The String is : %s\n", text);
    return text;
}

/* ---- OIDs as text --------------------------------------------------------------- */

char *ConvertToStringFromOID(const unsigned int *oid, int *size) {
    LogTrace("\n\t@@@@@ Inside ConvertToStringFromOID() @@@@@\n");
    if (size == nullptr || *size < 0 || (oid == nullptr && *size >= 4)) return nullptr;
    const size_t count = static_cast<size_t>(*size) / 4;
    char *text = AllocateText(count * 11 + 1);
    if (text == nullptr) return nullptr;
    size_t used = 0;
    for (size_t i = 0; i < count; ++i) {
        LogTrace("The SubId IS %ld\n", static_cast<long>(static_cast<int>(oid[i])));
        text[used++] = '.';
        char *digits = ConvertToStringFromUnsignedInteger(&oid[i], nullptr);
        if (digits == nullptr) {
            free(text);
            return nullptr;
        }
        LogTrace("The String rep as SubId is %s\n", digits);
        const size_t n = strlen(digits);
        memcpy(text + used, digits, n);
        used += n;
        free(digits);
    }
    LogTrace("The String rep as OID is %s\n", text);
    *size = static_cast<int>(used);
    return text;
}

int ConvertToStringFromOid(const unsigned int *oid, int count, char *buffer) {
    LogTrace("\n\t@@@@@ Inside ConvertToStringFromOid() @@@@@ \n");
    if (buffer == nullptr) return 1;
    char *out = buffer;
    for (int i = 0; oid != nullptr && i < count; ++i) {
        *out++ = '.';
        out += WriteDigits(out, oid[i]);
    }
    *out = '\0';
    return 1;
}

/* ---- Dotted texts ------------------------------------------------------------------ */

short GetOidLength(const char *text, short length) {
    LogTrace("\n\t@@@@@ Inside GetOidLength() @@@@@ \n");
    if (text == nullptr) return 0;
    short dots = 0;
    for (short i = 0; i < length && text[i] != '\0'; ++i)
        if (text[i] == '.') ++dots;
    return dots;
}

int ConvertToOidOrIpFromString(unsigned int **out, const char *text, bool isIpAddress) {
    LogTrace("\n\t@@@@@ Inside ConvertToOidOrIpFromString() @@@@@ \n");
    if (out == nullptr) return -1;
    *out = nullptr;
    if (text == nullptr) return -1;
    const size_t textLength = strlen(text);
    /* The dots are counted in a 16-bit length; a longer text holds no address
     * or identifier anyone sends. */
    const short dots = textLength <= SHRT_MAX ? GetOidLength(text, static_cast<short>(textLength)) : 0;
    if (dots == 0) {
        LogError(isIpAddress ? "Incorrect format of IpAddress\n" : "Incorrect format of OID\n");
        return -1;
    }
    const int expected = isIpAddress ? dots + 1 : dots;
    unsigned int *array = static_cast<unsigned int *>(calloc(static_cast<size_t>(expected) + 1, sizeof(unsigned int)));
    if (array == nullptr) {
        LogError("Unable to allocate buffer !!! \n");
        return -1;
    }
    int stored = 0;
    char token[kMaxToken + 1];
    size_t tokenLength = 0;
    bool refused = false;
    for (const char *p = isIpAddress ? text : text + 1;; ++p) {
        if (*p != '.' && *p != '\0') {
            if (tokenLength == kMaxToken) {
                refused = true;
                break;
            }
            token[tokenLength++] = *p;
            continue;
        }
        token[tokenLength] = '\0';
        unsigned int value = 0;
        if (stored == expected || !ReadSubId(token, tokenLength, &value)) {
            refused = true;
            break;
        }
        array[stored++] = value;
        tokenLength = 0;
        if (*p == '\0') break;
    }
    if (refused) {
        free(array);
        return -1;
    }
    *out = array;
    return stored == expected ? expected : 0;
}

char *ConvertToIpAddressFromOid(char *buffer, const unsigned int *array, int first, int end) {
    LogTrace("\n\t@@@@@ Inside ConvertToIpAddressFromOid()\t@@@@@ \n");
    /* The working text holds five octets and their dots. */
    char work[20];
    if (buffer == nullptr || array == nullptr || end - first < 1 || end - first > 5 || first < 0) return nullptr;
    size_t used = 0;
    for (int i = first; i < end; ++i) {
        const unsigned int octet = array[i];
        if (octet > 255) return nullptr;
        if (octet >= 100) work[used++] = static_cast<char>('0' + octet / 100);
        if (octet >= 10) work[used++] = static_cast<char>('0' + octet / 10 % 10);
        work[used++] = static_cast<char>('0' + octet % 10);
        work[used++] = '.';
    }
    work[used - 1] = '\0';
    memcpy(buffer, work, used);
    return buffer;
}

bool IsValidIPAddress(const char *text, int length) {
    LogTrace("\n\t@@@@@ Inside IsValidIPAddress() @@@@@\n");
    LogTrace("len is %d\n", length);
    if (text == nullptr) return false;
    const size_t n = BoundedLength(text, length);
    if (n == 0 || text[0] == '.' || text[n - 1] == '.') return false;
    int dots = 0;
    for (size_t i = 0; i < n; ++i) {
        if (text[i] != '.') continue;
        if (i + 1 < n && text[i + 1] == '.') return false;
        ++dots;
    }
    if (dots != 3) return false;
    size_t start = 0;
    for (int octet = 0; octet < 4; ++octet) {
        size_t end = start;
        while (end < n && text[end] != '.') ++end;
        const size_t tokenLength = end - start;
        if (tokenLength > kMaxToken) return false;
        char token[kMaxToken + 1];
        memcpy(token, text + start, tokenLength);
        token[tokenLength] = '\0';
        if (!ValidOctet(token, tokenLength)) return false;
        start = end + 1;
    }
    return true;
}

bool IsValidOid(const char *text, int length) {
    LogTrace("\n\t@@@@@ Inside IsValidOid() @@@@@\n");
    if (text == nullptr) return false;
    const size_t n = BoundedLength(text, length);
    if (n == 0 || text[0] != '.') return false;
    return memchr(text + 1, '.', n - 1) != nullptr;
}

/* ---- Comparing and copying --------------------------------------------------------- */

signed char CompareOid(const unsigned int *first, int firstCount, const unsigned int *second, int secondCount) {
    LogTrace("\n\t@@@@@ Inside CompareOid() @@@@@ \n");
    const int common = firstCount < secondCount ? firstCount : secondCount;
    for (int i = 0; i < common; ++i) {
        if (first[i] > second[i]) return 1;
        if (first[i] < second[i]) return -1;
    }
    if (firstCount > secondCount) return 1;
    if (firstCount < secondCount) return -1;
    return 0;
}

void CopyOid(unsigned int *destination, const unsigned int *source, int count) {
    LogTrace("\n\t@@@@@ Inside CopyOid() @@@@@ \n");
    if (destination == nullptr || source == nullptr || count <= 0) return;
    memmove(destination, source, static_cast<size_t>(count) * sizeof(unsigned int));
}

void SetNOid(unsigned int *destination, const unsigned int *source, int firstIndex, int count) {
    LogTrace("\n\t@@@@@ Inside SetNOid() @@@@@\t\n");
    if (destination == nullptr || source == nullptr || count <= 0 || firstIndex < 0) return;
    memmove(destination + firstIndex, source, static_cast<size_t>(count) * sizeof(unsigned int));
}

unsigned int GetNextSubId(unsigned int value, const unsigned int *array, int count) {
    LogTrace("\n\t@@@@@ Inside GetNextSubId() @@@@@ \n");
    for (int i = 0; array != nullptr && i < count; ++i)
        if (array[i] > value) return array[i];
    return 0;
}

int ReallocateAndSetOID(unsigned int **array, int *count, const unsigned int *source, int sourceCount) {
    LogTrace("\n\t@@@@@ Inside ReallocateAndSetOID() @@@@@ \n");
    if (array == nullptr || count == nullptr || sourceCount < 0) return VT_ALLOC_FAILED;
    free(*array);
    *array = static_cast<unsigned int *>(calloc(static_cast<size_t>(sourceCount) + 1, sizeof(unsigned int)));
    if (*array == nullptr) {
        LogError("Unable to allocate memory");
        return VT_ALLOC_FAILED;
    }
    CopyOid(*array, source, sourceCount);
    *count = sourceCount;
    return 1;
}

void ConvertToCharArray(char *buffer, const unsigned int *array, int first, int count) {
    LogTrace("\n\t@@@@@ Inside ConvertToCharArray() @@@@@ \n");
    if (buffer == nullptr || count < 0 || (array == nullptr && count > 0)) return;
    /* Modulo 255, as it always was: a sub-identifier of 255 becomes 0. */
    for (int i = 0; i < count; ++i) buffer[i] = static_cast<char>(static_cast<unsigned char>(array[first + i] % 255));
    buffer[count] = '\0';
}

void CopyStringToOid(unsigned int *destination, const char *text) {
    LogTrace("\n\t@@@@@ Inside CopyStringToOid() @@@@@ \n");
    if (destination == nullptr || text == nullptr) return;
    for (size_t i = 0; text[i] != '\0'; ++i)
        destination[i] = static_cast<unsigned int>(static_cast<int>(static_cast<signed char>(text[i])));
}

void CopyStringToOID(unsigned int *destination, const unsigned char *bytes, int length) {
    LogTrace("\n\t@@@@@ Inside CopyStringToOID() @@@@@ \n");
    if (destination == nullptr || bytes == nullptr) return;
    for (int i = 0; i < length; ++i) destination[i] = bytes[i];
}

/* ---- Logging ------------------------------------------------------------------------ */

void PrintStream(const unsigned char *bytes, int length, const char *format) {
    LogTrace("\n\t@@@@@ Inside PrintStream() @@@@@ \n");
    if (bytes == nullptr || format == nullptr) return;
    for (int i = 0; i < length; ++i) LogDebug(format, static_cast<int>(static_cast<signed char>(bytes[i])));
    LogDebug("\n");
}

void PrintOid(const unsigned int *array, int count) {
    LogTrace("\n\t@@@@@ Inside PrintOid() @@@@@ \n");
    for (int i = 0; array != nullptr && i < count; ++i) LogDebug("%lu\t", static_cast<unsigned long>(array[i]));
    LogDebug("\n");
}

/* ---- Counters ------------------------------------------------------------------------ */

Counter64 ConvertToCounter64FromULongLong(unsigned long long value) {
    LogTrace("\n\t@@@@@ Inside ConvertToCounter64FromULongLong() @@@@@ \n");
    return Counter64{static_cast<unsigned int>(value >> 32), static_cast<unsigned int>(value & 0xFFFFFFFFu)};
}

unsigned long long ConvertToULongLongFromCounter64(unsigned int high, unsigned int low) {
    LogTrace("\n\t@@@@@ Inside ConvertToULongLongFromCounter64() @@@@@ \n");
    return (static_cast<unsigned long long>(high) << 32) | low;
}

void ConvertToCounter64(Counter64 *record, const unsigned char *bytes, int length) {
    LogTrace("\n\t@@@@@ Inside ConvertToCounter64() @@@@@\n");
    if (record == nullptr) return;
    record->high = record->low = 0;
    if (bytes == nullptr || length <= 0) return;
    /* Nine bytes carry a leading zero byte in front of the eight that count. */
    if (length == 9) {
        ++bytes;
        --length;
    }
    const int highBytes = length > 4 ? length - 4 : 0;
    for (int i = 0; i < highBytes; ++i) record->high = (record->high << 8) | bytes[i];
    for (int i = highBytes; i < length; ++i) record->low = (record->low << 8) | bytes[i];
}

/* ---- Case copies ---------------------------------------------------------------------- */

char *ToLowerCopy(const char *text) { return CaseCopy(text, 'A', 'a'); }

char *ToUpperCopy(const char *text) { return CaseCopy(text, 'a', 'A'); }
