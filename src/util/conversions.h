/* Value forms of network-management data: object identifiers (OIDs) as arrays
 * of sub-identifiers and as dotted text (".1.3.6.1"), IPv4 addresses as octet
 * arrays and as dotted text, 64-bit counters as two 32-bit words, integers as
 * decimal text. Texts handed back are new zero-filled heap strings (free() them). */
#pragma once

/* A 64-bit counter as two words, the high word first. */
struct Counter64 {
    unsigned int high;
    unsigned int low;
};

/* Integers and counters as decimal text; null when the allocation fails. */
char *ConvertToStringFromInteger(const int *value);
char *ConvertToStringFromUnsignedInteger(const unsigned int *value, int *length);
char *ConvertToStringFromCounter64(const Counter64 *record);

/* OID array -> dotted text. `size` is the array's size in bytes on the way in
 * and the text's length on the way out. */
char *ConvertToStringFromOID(const unsigned int *oid, int *size);
/* The same text written into `buffer`, which holds 11 characters per element
 * plus one. Returns 1. */
int ConvertToStringFromOid(const unsigned int *oid, int count, char *buffer);

/* Dotted text -> new array in *out (free() it): the element count, 0 when fewer
 * elements than dots were read, or -1 for a malformed text (then *out is null).
 * With `isIpAddress` the text has no leading dot. */
int ConvertToOidOrIpFromString(unsigned int **out, const char *text, bool isIpAddress);
/* Elements first .. end-1 (one to five octets of 0..255) as dotted text in
 * `buffer`; returns the buffer, or null (buffer untouched) when refused. */
char *ConvertToIpAddressFromOid(char *buffer, const unsigned int *array, int first, int end);

/* Checks of the first `length` characters of a text (never past its end). */
bool IsValidIPAddress(const char *text, int length);
bool IsValidOid(const char *text, int length);
short GetOidLength(const char *text, short length);

/* 1, 0 or -1 as the first array is greater, equal or smaller. */
signed char CompareOid(const unsigned int *first, int firstCount, const unsigned int *second, int secondCount);
void CopyOid(unsigned int *destination, const unsigned int *source, int count);
void SetNOid(unsigned int *destination, const unsigned int *source, int firstIndex, int count);
/* The first element greater than `value`, or 0. */
unsigned int GetNextSubId(unsigned int value, const unsigned int *array, int count);
/* Frees *array and sets it to a new copy of `source`: 1, or 99 (VT_ALLOC_FAILED). */
int ReallocateAndSetOID(unsigned int **array, int *count, const unsigned int *source, int sourceCount);

/* buffer[i] = array[first + i] modulo 255, then a terminator at buffer[count]. */
void ConvertToCharArray(char *buffer, const unsigned int *array, int first, int count);
/* One element per character of the text, sign-extended. */
void CopyStringToOid(unsigned int *destination, const char *text);
/* One element per byte, zero-extended. */
void CopyStringToOID(unsigned int *destination, const unsigned char *bytes, int length);

/* Each byte (sign-extended) or element logged at DEBUG. */
void PrintStream(const unsigned char *bytes, int length, const char *format);
void PrintOid(const unsigned int *array, int count);

Counter64 ConvertToCounter64FromULongLong(unsigned long long value);
unsigned long long ConvertToULongLongFromCounter64(unsigned int high, unsigned int low);
/* Big-endian bytes (at most 8, or 9 with a leading zero byte) -> counter. */
void ConvertToCounter64(Counter64 *record, const unsigned char *bytes, int length);

/* New copies with ASCII letters folded; null when the allocation fails. */
char *ToLowerCopy(const char *text);
char *ToUpperCopy(const char *text);
