/*
 * Registry access: the 4-byte and string reads, key creation, and the two value
 * writes that take narrow (UTF-8) text and store it as Windows expects.
 */
#include "platform/registry.h"

#include "platform/errors.h"
#include "platform/handle_guard.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

BOOL gv_isWow64 = FALSE;

namespace {

using vt_platform::KeyGuard;

constexpr LONG kMissingArgument = 13;

/* Frees a heap buffer on every path. */
template <typename T>
class HeapGuard {
public:
    HeapGuard() = default;
    ~HeapGuard() { free(ptr_); }
    HeapGuard(const HeapGuard &) = delete;
    HeapGuard &operator=(const HeapGuard &) = delete;
    T **out() { return &ptr_; }
    T *get() const { return ptr_; }

private:
    T *ptr_ = nullptr;
};

/* "--" stands for the empty string. */
bool IsPlaceholder(const WCHAR *text) { return text[0] == L'-' && text[1] == L'-' && text[2] == 0; }
bool IsPlaceholder(const char *text) { return strcmp(text, "--") == 0; }

size_t WideLength(const WCHAR *text) {
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

bool IsSpace(uint32_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

/* Leading blanks, an optional sign, then decimal digits up to the first other
 * character; the magnitude saturates at `limit`. */
template <typename Ch>
uint64_t ParseDecimal(const Ch *text, uint64_t limit, bool *negative, bool *overflow) {
    size_t i = 0;
    *negative = false;
    *overflow = false;
    while (IsSpace(static_cast<uint32_t>(text[i]))) ++i;
    if (text[i] == '+' || text[i] == '-') {
        *negative = text[i] == '-';
        ++i;
    }
    uint64_t value = 0;
    for (; text[i] >= '0' && text[i] <= '9'; ++i) {
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        if (value > (limit - digit) / 10) {
            *overflow = true;
            value = limit;
        } else if (!*overflow) {
            value = value * 10 + digit;
        }
    }
    return value;
}

/* Signed conversion of a 32-bit long: out-of-range values clamp. */
template <typename Ch>
uint32_t SignedDecimal32(const Ch *text) {
    bool negative, overflow;
    const uint64_t v = ParseDecimal(text, UINT64_C(0xFFFFFFFF), &negative, &overflow);
    if (negative) return v >= UINT64_C(0x80000000) ? UINT32_C(0x80000000) : static_cast<uint32_t>(0 - v);
    return v > UINT64_C(0x7FFFFFFF) ? UINT32_C(0x7FFFFFFF) : static_cast<uint32_t>(v);
}

/* Unsigned conversion of a 32-bit unsigned long: a sign negates modulo 2^32,
 * out-of-range values give the maximum. */
template <typename Ch>
uint32_t UnsignedDecimal32(const Ch *text) {
    bool negative, overflow;
    const uint64_t v = ParseDecimal(text, UINT64_C(0xFFFFFFFF) + 1, &negative, &overflow);
    if (overflow || v > UINT64_C(0xFFFFFFFF)) return UINT32_C(0xFFFFFFFF);
    return negative ? static_cast<uint32_t>(0 - v) : static_cast<uint32_t>(v);
}

template <typename Ch>
uint64_t SignedDecimal64(const Ch *text) {
    bool negative, overflow;
    const uint64_t v = ParseDecimal(text, UINT64_MAX, &negative, &overflow);
    if (negative) return v >= (UINT64_C(1) << 63) ? (UINT64_C(1) << 63) : 0 - v;
    return v >= (UINT64_C(1) << 63) ? (UINT64_C(1) << 63) - 1 : v;
}

template <typename Ch>
uint64_t UnsignedDecimal64(const Ch *text) {
    bool negative, overflow;
    const uint64_t v = ParseDecimal(text, UINT64_MAX, &negative, &overflow);
    if (overflow) return UINT64_MAX;
    return negative ? 0 - v : v;
}

std::string LittleEndian(uint64_t value, size_t bytes) {
    std::string out(bytes, '\0');
    for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

/* The UTF-16LE bytes of a text and its terminator, whatever the width of WCHAR. */
std::string Utf16Bytes(const WCHAR *text) {
    std::string out;
    const size_t n = WideLength(text);
    for (size_t i = 0; i <= n; ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        if (c > 0xFFFF) {
            c -= 0x10000;
            out += LittleEndian(0xD800 + (c >> 10), 2);
            out += LittleEndian(0xDC00 + (c & 0x3FF), 2);
        } else {
            out += LittleEndian(c, 2);
        }
    }
    return out;
}

/* The first 4 bytes of the UTF-16 text, zero-padded when the text is shorter. */
std::string FirstFourBytes(const WCHAR *text) {
    std::string bytes = Utf16Bytes(text);
    bytes.resize(4, '\0');
    return bytes;
}

std::string WideBytes(const WCHAR *text, size_t characters) {
    return std::string(reinterpret_cast<const char *>(text), characters * sizeof(WCHAR));
}

/* The data a write stores for `type`. */
std::string FormData(DWORD type, const WCHAR *wideText, const char *narrowText, bool sixtyFour) {
    const size_t chars = WideLength(wideText);
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            return WideBytes(wideText, chars + 1);
        case REG_BINARY:
            if (sixtyFour) return std::string(narrowText, strlen(narrowText) + 1);
            return Utf16Bytes(wideText);
        case REG_DWORD:
            return LittleEndian(sixtyFour ? UnsignedDecimal32(narrowText) : SignedDecimal32(wideText), 4);
        case REG_MULTI_SZ: {
            std::string data = WideBytes(wideText, chars + 1);
            data.append(sizeof(WCHAR), '\0');
            return data;
        }
        case REG_QWORD:
            return LittleEndian(sixtyFour ? UnsignedDecimal64(narrowText) : SignedDecimal64(wideText), 8);
        default:
            return FirstFourBytes(wideText);
    }
}

LONG CreateKey(HKEY hive, const char *subKey, REGSAM sam) {
    if (subKey == nullptr) return kMissingArgument;
    KeyGuard key;
    return RegCreateKeyExA(hive, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr, key.out(), nullptr);
}

REGSAM SixtyFourBitRights() { return KEY_ALL_ACCESS | (gv_isWow64 ? KEY_WOW64_64KEY : 0); }

LONG SetValue(HKEY hive, const char *subKey, const char *valueName, const char *valueText, DWORD type,
              bool sixtyFour) {
    if (subKey == nullptr || valueName == nullptr || valueText == nullptr) return kMissingArgument;

    HeapGuard<WCHAR> wideName, wideText;
    if (!Utf8ToWide(valueName, wideName.out()) || !Utf8ToWide(valueText, wideText.out()))
        return ERROR_NO_UNICODE_TRANSLATION;
    static const WCHAR kEmpty[1] = {0};
    const WCHAR *name = IsPlaceholder(wideName.get()) ? kEmpty : wideName.get();
    const WCHAR *text = IsPlaceholder(wideText.get()) ? kEmpty : wideText.get();
    const char *narrow = IsPlaceholder(valueText) ? "" : valueText;

    const std::string data = FormData(type, text, narrow, sixtyFour);

    const REGSAM rights = sixtyFour ? SixtyFourBitRights() : KEY_ALL_ACCESS;
    LONG status = CreateKey(hive, subKey, rights);
    if (status != ERROR_SUCCESS) return status;
    KeyGuard key;
    status = RegOpenKeyExA(hive, subKey, 0, rights, key.out());
    if (status != ERROR_SUCCESS) return status;
    return RegSetValueExW(key.get(), name, 0, type, reinterpret_cast<const BYTE *>(data.data()),
                          static_cast<DWORD>(data.size()));
}

}  // namespace

LONG ReadRegistryDword(HKEY hive, const char *subKey, const char *valueName, DWORD *value) {
    if (subKey == nullptr || value == nullptr) return kMissingArgument;
    KeyGuard key;
    LONG status = RegOpenKeyExA(hive, subKey, 0, KEY_QUERY_VALUE, key.out());
    if (status != ERROR_SUCCESS) return status;
    DWORD size = sizeof(DWORD);
    return RegQueryValueExA(key.get(), valueName, nullptr, nullptr, reinterpret_cast<LPBYTE>(value), &size);
}

LONG ReadRegistryString(HKEY hive, const char *subKey, const char *valueName, char **value) {
    if (value == nullptr) return kMissingArgument;
    *value = nullptr;
    if (subKey == nullptr) return kMissingArgument;
    KeyGuard key;
    LONG status = RegOpenKeyExA(hive, subKey, 0, KEY_QUERY_VALUE, key.out());
    if (status != ERROR_SUCCESS) return status;
    DWORD size = 0;
    status = RegQueryValueExA(key.get(), valueName, nullptr, nullptr, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    /* Five zero bytes after the data terminate values stored without a terminator;
     * the query is given only `size`, so they stay zero. */
    char *buffer = static_cast<char *>(calloc(static_cast<size_t>(size) + 5, 1));
    if (buffer == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    *value = buffer;
    return RegQueryValueExA(key.get(), valueName, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size);
}

LONG ReadRegistryPath(HKEY hive, const char *subKey, const char *valueName, char **value) {
    LONG status = ReadRegistryString(hive, subKey, valueName, value);
    if (status != ERROR_SUCCESS) return status;
    /* The stored UTF-16 text against the ANSI text read back to UTF-16: equal
     * only when every character has its place in the code page. */
    KeyGuard key;
    std::wstring stored;
    WCHAR *wideName = nullptr;
    if (valueName != nullptr && !AnsiToWide(valueName, &wideName)) status = ERROR_NO_UNICODE_TRANSLATION;
    if (status == ERROR_SUCCESS) status = RegOpenKeyExA(hive, subKey, 0, KEY_QUERY_VALUE, key.out());
    DWORD size = 0;
    if (status == ERROR_SUCCESS) status = RegQueryValueExW(key.get(), wideName, nullptr, nullptr, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        stored.assign(size / sizeof(WCHAR) + 1, 0);
        status = RegQueryValueExW(key.get(), wideName, nullptr, nullptr, reinterpret_cast<LPBYTE>(&stored[0]), &size);
        stored.resize(WideLength(stored.c_str()));
    }
    free(wideName);
    WCHAR *readBack = nullptr;
    if (status == ERROR_SUCCESS && (!AnsiToWide(*value, &readBack) || stored != readBack))
        status = ERROR_NO_UNICODE_TRANSLATION;
    free(readBack);
    if (status != ERROR_SUCCESS) {
        free(*value);
        *value = nullptr;
    }
    return status;
}

LONG CreateRegistryKey(HKEY hive, const char *subKey) { return CreateKey(hive, subKey, KEY_ALL_ACCESS); }

LONG CreateRegistryKey64(HKEY hive, const char *subKey) { return CreateKey(hive, subKey, SixtyFourBitRights()); }

LONG SetRegistryValue(HKEY hive, const char *subKey, const char *valueName, const char *valueText, DWORD type) {
    return SetValue(hive, subKey, valueName, valueText, type, false);
}

LONG SetRegistryValue64(HKEY hive, const char *subKey, const char *valueName, const char *valueText, DWORD type) {
    return SetValue(hive, subKey, valueName, valueText, type, true);
}
