/*
 * Code-page conversions and the shlwapi string helpers of the stand-in.
 *
 * UTF-8 goes through the stand-in's codec (utf8.cpp); every other code page is a
 * single-byte table that is built once from the C library's iconv (CP_ACP is
 * Windows-1252). WCHAR text holds one code point per WCHAR (see wa_text.h).
 */
#include "winapi/wa_private.h"

#include <errno.h>
#include <iconv.h>
#include <map>
#include <mutex>
#include <string.h>
#include <strings.h>
#include <unordered_map>

namespace {

struct SingleByteTable {
    WCHAR toWide[256];
    bool mapped[256];
    std::unordered_map<WCHAR, unsigned char> fromWide;
};

bool IsCp1252(UINT codePage) { return codePage == CP_ACP || codePage == 3 || codePage == 1252; }

std::string IconvName(UINT codePage) {
    switch (codePage) {
    case CP_ACP:
    case 3: /* CP_THREAD_ACP */
    case 1252: return "WINDOWS-1252";
    case CP_OEMCP:
    case 437: return "IBM437";
    default: return "CP" + std::to_string(codePage);
    }
}

/* Null when the host cannot convert the code page or it is not single-byte. */
std::unique_ptr<SingleByteTable> BuildTable(UINT codePage) {
    iconv_t cd = iconv_open("WCHAR_T", IconvName(codePage).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
    auto table = std::make_unique<SingleByteTable>();
    bool singleByte = true;
    for (int b = 0; b < 256 && singleByte; ++b) {
        char in = static_cast<char>(b);
        WCHAR out = 0;
        char *inPtr = &in;
        size_t inLeft = 1;
        char *outPtr = reinterpret_cast<char *>(&out);
        size_t outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        if (rc != static_cast<size_t>(-1) && inLeft == 0 && outLeft == 0) {
            table->toWide[b] = out;
            table->mapped[b] = true;
        } else if (rc == static_cast<size_t>(-1) && errno == EINVAL) {
            singleByte = false; /* a lead byte: a multi-byte code page */
        } else {
            /* Windows-1252 leaves five bytes undefined and passes them through as
             * the C1 control of the same value; so do we, for every code page. */
            table->toWide[b] = static_cast<WCHAR>(b);
            table->mapped[b] = IsCp1252(codePage);
        }
    }
    iconv_close(cd);
    if (!singleByte) return nullptr;
    for (int b = 255; b >= 0; --b)
        if (table->mapped[b]) table->fromWide[table->toWide[b]] = static_cast<unsigned char>(b);
    return table;
}

const SingleByteTable *TableFor(UINT codePage) {
    static std::mutex lock;
    static auto *tables = new std::map<UINT, std::unique_ptr<SingleByteTable>>;
    std::lock_guard<std::mutex> guard(lock);
    auto it = tables->find(codePage);
    if (it == tables->end()) it = tables->emplace(codePage, BuildTable(codePage)).first;
    return it->second.get();
}

/* The byte of the code page for `c`, its best fit when asked for (Windows-1252
 * only), or -1. */
int AnsiByte(const SingleByteTable &table, WCHAR c, bool bestFit) {
    auto it = table.fromWide.find(c);
    if (it != table.fromWide.end()) return it->second;
    return bestFit ? wa::Cp1252BestFit(static_cast<uint32_t>(c)) : -1;
}

/* The 0 of a failed conversion, with its last error. */
int Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

/* The common end of both conversions: size query, size check, copy. */
template <typename Char>
int Deliver(const std::basic_string<Char> &text, Char *dst, int dstLen) {
    if (dstLen == 0) return static_cast<int>(text.size());
    if (text.size() > static_cast<size_t>(dstLen)) {
        memcpy(dst, text.data(), static_cast<size_t>(dstLen) * sizeof(Char));
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    memcpy(dst, text.data(), text.size() * sizeof(Char));
    return static_cast<int>(text.size());
}

}  // namespace

extern "C" int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int dstLen) {
    if (src == nullptr || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && dst == nullptr))
        return Fail(ERROR_INVALID_PARAMETER);
    const size_t n = srcLen == -1 ? strlen(src) + 1 : static_cast<size_t>(srcLen);
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(src);
    std::wstring wide;
    wide.reserve(n);
    if (codePage == CP_UTF8) {
        if (!wa::DecodeUtf8Text(src, n, (flags & MB_ERR_INVALID_CHARS) != 0, &wide))
            return Fail(ERROR_NO_UNICODE_TRANSLATION);
    } else {
        const SingleByteTable *table = TableFor(codePage);
        if (table == nullptr) return Fail(ERROR_INVALID_PARAMETER);
        for (size_t i = 0; i < n; ++i) {
            if (!table->mapped[bytes[i]] && (flags & MB_ERR_INVALID_CHARS)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
            wide.push_back(table->mapped[bytes[i]] ? table->toWide[bytes[i]] : static_cast<WCHAR>(0xFFFD));
        }
    }
    return Deliver(wide, dst, dstLen);
}

extern "C" int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst, int dstLen,
                                   LPCSTR defaultChar, LPBOOL usedDefaultChar) {
    if (src == nullptr || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && dst == nullptr) ||
        (codePage == CP_UTF8 && (defaultChar != nullptr || usedDefaultChar != nullptr)))
        return Fail(ERROR_INVALID_PARAMETER);
    const size_t n = srcLen == -1 ? wcslen(src) + 1 : static_cast<size_t>(srcLen);
    std::string narrow;
    narrow.reserve(n);
    if (codePage == CP_UTF8) {
        if (!wa::EncodeUtf8Text(src, n, (flags & WC_ERR_INVALID_CHARS) != 0, &narrow))
            return Fail(ERROR_NO_UNICODE_TRANSLATION);
    } else {
        const SingleByteTable *table = TableFor(codePage);
        if (table == nullptr) return Fail(ERROR_INVALID_PARAMETER);
        const char fallback = defaultChar != nullptr ? defaultChar[0] : '?';
        const bool bestFit = IsCp1252(codePage) && (flags & WC_NO_BEST_FIT_CHARS) == 0;
        bool used = false;
        for (size_t i = 0; i < n; ++i) {
            const int byte = AnsiByte(*table, src[i], bestFit);
            if (byte >= 0) {
                narrow.push_back(static_cast<char>(byte));
            } else {
                narrow.push_back(fallback);
                used = true;
            }
        }
        if (usedDefaultChar != nullptr) *usedDefaultChar = used ? TRUE : FALSE;
    }
    return Deliver(narrow, dst, dstLen);
}

namespace wa {

std::string AnsiToUtf8Text(const char *ansi) {
    std::string out;
    if (ansi == nullptr) return out;
    const SingleByteTable *table = TableFor(CP_ACP);
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(ansi); *p != 0; ++p)
        AppendUtf8(&out, table != nullptr && table->mapped[*p] ? table->toWide[*p] : 0xFFFD);
    return out;
}

std::string Utf8ToAnsiText(const std::string &utf8) {
    std::string out;
    const SingleByteTable *table = TableFor(CP_ACP);
    for (WCHAR c : Widen(utf8.c_str())) {
        const int byte = table != nullptr ? AnsiByte(*table, c, true) : -1;
        out.push_back(byte >= 0 ? static_cast<char>(byte) : '?');
    }
    return out;
}

}  // namespace wa

extern "C" BOOL StrTrimA(LPSTR text, LPCSTR trimChars) {
    if (text == nullptr || trimChars == nullptr) return FALSE;
    const size_t len = strlen(text);
    size_t start = 0;
    while (start < len && strchr(trimChars, text[start]) != nullptr) ++start;
    size_t end = len;
    while (end > start && strchr(trimChars, text[end - 1]) != nullptr) --end;
    if (start == 0 && end == len) return FALSE;
    memmove(text, text + start, end - start);
    text[end - start] = '\0';
    return TRUE;
}

extern "C" LPSTR StrStrIA(LPCSTR text, LPCSTR search) {
    if (text == nullptr || search == nullptr || search[0] == '\0') return nullptr;
    const size_t n = strlen(search);
    for (const char *p = text; *p != '\0'; ++p) {
        if (strncasecmp(p, search, n) == 0) return const_cast<LPSTR>(p);
    }
    return nullptr;
}
