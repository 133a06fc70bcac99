/*
 * Narrow-string routines shared by the agent code and the table store.
 *
 * A missing string is a null pointer; every routine says what it does with one.
 * Every string handed back is a new zero-filled heap allocation owned by the caller.
 */
#include "util/strings.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "log/log.h"

namespace {

/* Outcome of the single-position search: no match. */
constexpr int kNoMatch = -1;

/*
 * The separator search: one pass over the text from `start`, one position in the
 * pattern. A byte equal to the pattern's byte at that position moves the position
 * on; any other byte sets it back to the pattern's start without being compared
 * again. Returns the start index of the first complete match, or kNoMatch.
 * An empty pattern never matches (its first byte is the terminator, which no
 * text byte before the end equals), so callers never loop on it.
 */
int SinglePositionSearch(const char *text, const char *pattern, int start) {
    int patternLength = static_cast<int>(strlen(pattern));
    if (patternLength == 0) return kNoMatch;
    int position = 0;
    for (int i = start; text[i] != '\0'; ++i) {
        if (text[i] == pattern[position]) {
            ++position;
            if (position == patternLength) return i + 1 - patternLength;
        } else {
            position = 0;
        }
    }
    return kNoMatch;
}

int ByteDifference(unsigned char left, unsigned char right) {
    /* The difference as a signed 8-bit number, as the callers expect. */
    return static_cast<int>(static_cast<int8_t>(static_cast<uint8_t>(left - right)));
}

unsigned char FoldLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

template <typename Fold>
int CompareWith(const char *left, const char *right, Fold fold) {
    if (left == nullptr && right == nullptr) return 0;
    if (left == nullptr) return -1;
    if (right == nullptr) return 1;
    const unsigned char *l = reinterpret_cast<const unsigned char *>(left);
    const unsigned char *r = reinterpret_cast<const unsigned char *>(right);
    for (;; ++l, ++r) {
        unsigned char a = fold(*l);
        unsigned char b = fold(*r);
        if (a != b) return ByteDifference(a, b);
        if (a == '\0') return 0;
    }
}

/* New zero-filled string holding `count` bytes of `source`. */
char *NewCopy(const char *source, size_t count) {
    char *copy = static_cast<char *>(calloc(count + 1, 1));
    if (copy != nullptr && count > 0) memcpy(copy, source, count);
    return copy;
}

}  // namespace

/* ---- Copying ------------------------------------------------------------------ */

int DuplicateString(char **target, const char *source) {
    if (target == nullptr) return 13;
    size_t length = source != nullptr ? strlen(source) : 0;
    *target = NewCopy(source, length);
    return *target != nullptr ? 1 : VT_ALLOC_FAILED;
}

int CopyBytes(char **target, const char *source, int count) {
    if (target == nullptr) return 13;
    size_t n = (count > 0 && source != nullptr) ? static_cast<size_t>(count) : 0;
    size_t size = count > 0 ? static_cast<size_t>(count) : 0;
    /* The buffer always has room for count bytes plus the terminator at count. */
    char *copy = static_cast<char *>(calloc(size + 1, 1));
    if (copy == nullptr) {
        *target = nullptr;
        LogError("Unable to allocate memory\n");
        return VT_ALLOC_FAILED;
    }
    if (n > 0) memcpy(copy, source, n);
    *target = copy;
    return 1;
}

int ReallocateAndSetString(char **target, const char *source, int count) {
    LogTrace("\n\t@@@@@ Inside ReallocateAndSetString() @@@@@ \n");
    if (target == nullptr) return 13;
    /* Copy before freeing: the source may be the old target itself. */
    char *old = *target;
    int result = CopyBytes(target, source, count);
    free(old);
    return result;
}

char *CopyString(char *destination, const char *source) {
    if (destination == nullptr || source == nullptr) return nullptr;
    memcpy(destination, source, strlen(source) + 1);
    return destination;
}

char *CopyCount(char *destination, const char *source, int count) {
    if (destination == nullptr) return nullptr;
    if (source != nullptr && count > 0) memcpy(destination, source, static_cast<size_t>(count));
    return destination;
}

void ReverseLeadingChars(char *text, int count) {
    if (text == nullptr || count <= 0) return;
    /* Never past the terminator of a text shorter than count. */
    size_t n = strnlen(text, static_cast<size_t>(count));
    if (n < 2) return;
    char *copy = NewCopy(text, n);
    if (copy == nullptr) return;
    for (size_t i = 0; i < n; ++i) text[i] = copy[n - 1 - i];
    free(copy);
}

/* ---- Measuring and comparing ---------------------------------------------------- */

int StringLength(const char *text) { return text != nullptr ? static_cast<int>(strlen(text)) : 0; }

int CompareStrings(const char *left, const char *right) {
    return CompareWith(left, right, [](unsigned char c) { return c; });
}

int CompareStringsNoCase(const char *left, const char *right) {
    return CompareWith(left, right, FoldLetter);
}

/* ---- Parsing -------------------------------------------------------------------- */

int TextToInteger(const char *text) {
    if (text == nullptr) return 0;
    const char *digits = (text[0] == '+' || text[0] == '-') ? text + 1 : text;
    for (const char *p = digits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return -1;
    }
    /* No range check: the value wraps modulo 2^32 like the 32-bit arithmetic it
     * always was, without signed overflow. */
    uint32_t value = 0;
    for (const char *p = digits; *p != '\0'; ++p) value = value * 10u + static_cast<uint32_t>(*p - '0');
    if (text[0] == '-') value = 0u - value;
    return static_cast<int32_t>(value);
}

/* ---- Searching ------------------------------------------------------------------ */

char *SubString(const char *text, const char *pattern) {
    LogTrace("\n\t@@@@@ Inside SubString() @@@@@ \n");
    if (text == nullptr || pattern == nullptr) return nullptr;
    size_t textLength = strlen(text);
    size_t patternLength = strlen(pattern);
    if (patternLength > textLength) return nullptr;
    for (size_t i = 0; i + patternLength <= textLength; ++i) {
        if (memcmp(text + i, pattern, patternLength) == 0) return const_cast<char *>(text + i);
    }
    return nullptr;
}

bool FindSubString(const char *text, const char *pattern) {
    LogTrace("\n\t@@@@@ Inside FindSubString() @@@@@ \n");
    return SubString(text, pattern) != nullptr;
}

int FindSubstringIndex(const char *text, const char *pattern) {
    if (text == nullptr || pattern == nullptr) return -1;
    int index = SinglePositionSearch(text, pattern, 0);
    return index == kNoMatch ? 0 : index;
}

int CountOccurrences(const char *text, const char *separator) {
    if (text == nullptr || separator == nullptr) return -1;
    int count = 0;
    int separatorLength = static_cast<int>(strlen(separator));
    int from = 0;
    for (;;) {
        int index = SinglePositionSearch(text, separator, from);
        if (index == kNoMatch) return count;
        ++count;
        from = index + separatorLength;
    }
}

char *TextBefore(const char *text, const char *separator) {
    int index = FindSubstringIndex(text, separator);
    if (index < 0) return nullptr;
    return NewCopy(text, static_cast<size_t>(index));
}

char *TextAfter(const char *text, const char *separator) {
    int index = FindSubstringIndex(text, separator);
    if (index < 0) return nullptr;
    /* Without a match the index is 0; a separator longer than the text must not
     * move the start past the terminator. */
    size_t length = strlen(text);
    size_t start = static_cast<size_t>(index) + strlen(separator);
    if (start > length) start = length;
    return NewCopy(text + start, length - start);
}

char **SplitString(const char *text, const char *separator) {
    if (text == nullptr) return nullptr;
    int count = CountOccurrences(text, separator);
    if (count < 0) count = 0;
    char **parts = static_cast<char **>(calloc(static_cast<size_t>(count) + 2, sizeof(char *)));
    if (parts == nullptr) return nullptr;
    char *rest = nullptr;
    bool ok = DuplicateString(&rest, text) == 1;
    for (int i = 0; ok && i < count; ++i) {
        parts[i] = TextBefore(rest, separator);
        char *next = TextAfter(rest, separator);
        free(rest);
        rest = next;
        ok = parts[i] != nullptr && rest != nullptr;
    }
    if (!ok) {
        free(rest);
        for (int i = 0; i < count; ++i) free(parts[i]);
        free(parts);
        return nullptr;
    }
    parts[count] = rest;
    return parts;
}
