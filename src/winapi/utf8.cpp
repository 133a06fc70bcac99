/*
 * The stand-in's one UTF-8 codec: code point encoding and decoding, surrogate
 * pairs, and the UTF-8 <-> WCHAR conversions of the code-page and W functions.
 * Depends on nothing else in the stand-in (the hive parser's fuzz target compiles
 * it alone).
 */
#include "winapi/wa_private.h"

#include <string.h>
#include <wchar.h>

namespace wa {

namespace {
constexpr uint32_t kReplacement = 0xFFFD;

bool IsSurrogate(uint32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }
}  // namespace

void AppendUtf8(std::string *out, uint32_t cp) {
    if (cp > 0x10FFFF || IsSurrogate(cp)) cp = kReplacement;
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

uint32_t DecodeUtf8(const char *text, size_t n, size_t *i, bool *malformed) {
    const unsigned char *s = reinterpret_cast<const unsigned char *>(text);
    const unsigned char c = s[*i];
    if (c < 0x80) {
        ++*i;
        return c;
    }
    size_t extra = 0;
    uint32_t cp = 0;
    uint32_t min = 0;
    if ((c & 0xE0) == 0xC0) {
        cp = c & 0x1F; extra = 1; min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        cp = c & 0x0F; extra = 2; min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        cp = c & 0x07; extra = 3; min = 0x10000;
    }
    size_t k = 1;
    for (; k <= extra; ++k) {
        if (*i + k >= n || (s[*i + k] & 0xC0) != 0x80) break;
        cp = (cp << 6) | (s[*i + k] & 0x3F);
    }
    if (extra == 0 || k <= extra || cp < min || cp > 0x10FFFF || IsSurrogate(cp)) {
        if (malformed != nullptr) *malformed = true;
        ++*i;
        return kReplacement;
    }
    *i += extra + 1;
    return cp;
}

uint32_t JoinSurrogates(uint32_t high, uint32_t low) {
    if (high < 0xD800 || high > 0xDBFF || low < 0xDC00 || low > 0xDFFF) return 0;
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

bool DecodeUtf8Text(const char *text, size_t n, bool strict, std::wstring *out) {
    for (size_t i = 0; i < n;) {
        bool malformed = false;
        const uint32_t cp = DecodeUtf8(text, n, &i, &malformed);
        if (malformed && strict) return false;
        out->push_back(static_cast<WCHAR>(cp));
    }
    return true;
}

bool EncodeUtf8Text(const WCHAR *text, size_t n, bool strict, std::string *out) {
    for (size_t i = 0; i < n; ++i) {
        uint32_t cp = static_cast<uint32_t>(text[i]);
        const uint32_t pair = i + 1 < n ? JoinSurrogates(cp, static_cast<uint32_t>(text[i + 1])) : 0;
        if (pair != 0) {
            cp = pair;
            ++i;
        }
        if (strict && (cp > 0x10FFFF || IsSurrogate(cp))) return false;
        AppendUtf8(out, cp);
    }
    return true;
}

std::string Narrow(const WCHAR *text) {
    std::string out;
    if (text != nullptr) EncodeUtf8Text(text, wcslen(text), false, &out);
    return out;
}

std::wstring Widen(const char *utf8) {
    std::wstring out;
    if (utf8 != nullptr) DecodeUtf8Text(utf8, strlen(utf8), false, &out);
    return out;
}

}  // namespace wa
