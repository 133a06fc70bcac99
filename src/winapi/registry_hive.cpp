/*
 * The registry key tree and its .reg text: names, conversions, parser, writer.
 */
#include "winapi/registry_hive.h"
#include "winapi/wa_private.h"

#include <sanitizer/asan_interface.h>
#include <sys/mman.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>

namespace wa {
namespace reg {

const char kHiveHeader[] = "Windows Registry Editor Version 5.00";

namespace {

/* ---- Code points ------------------------------------------------------------- */

constexpr uint32_t kReplacement = 0xFFFD;

/* One code point of UTF-8 text at s[*i] (*i < s.size()); see wa::DecodeUtf8. */
uint32_t DecodeUtf8(std::string_view s, size_t *i) { return wa::DecodeUtf8(s.data(), s.size(), i); }

void PutUnit(std::string *out, uint32_t unit) {
    out->push_back(static_cast<char>(unit & 0xFF));
    out->push_back(static_cast<char>((unit >> 8) & 0xFF));
}

void PutUtf16(std::string *out, uint32_t cp) {
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
        cp -= 0x10000;
        PutUnit(out, 0xD800 + (cp >> 10));
        PutUnit(out, 0xDC00 + (cp & 0x3FF));
    } else {
        PutUnit(out, cp);
    }
}

uint32_t UnitAt(const std::string &bytes, size_t unitIndex) {
    const size_t b = unitIndex * 2;
    const uint32_t lo = static_cast<unsigned char>(bytes[b]);
    const uint32_t hi = b + 1 < bytes.size() ? static_cast<unsigned char>(bytes[b + 1]) : 0;
    return lo | (hi << 8);
}

/* Calls emit(cp) for each unit of UTF-16LE bytes (an odd last byte is a unit of
 * its own), a valid surrogate pair joined into one code point and a lone
 * surrogate passed on as it is. */
template <typename Emit>
void ForEachUtf16LeCodePoint(const std::string &bytes, Emit emit) {
    const size_t units = (bytes.size() + 1) / 2;
    for (size_t u = 0; u < units; ++u) {
        uint32_t cp = UnitAt(bytes, u);
        const uint32_t pair = u + 1 < units ? JoinSurrogates(cp, UnitAt(bytes, u + 1)) : 0;
        if (pair != 0) {
            cp = pair;
            ++u;
        }
        emit(cp);
    }
}

/* Upper-case folding for name comparison. */
uint32_t Fold(uint32_t cp) {
    if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 0x20 : cp;
    if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) return cp - 0x20;
    if (cp == 0xFF) return 0x178;
    if (cp >= 0x3B1 && cp <= 0x3C9) return cp == 0x3C2 ? 0x3A3 : cp - 0x20;
    if (cp >= 0x430 && cp <= 0x44F) return cp - 0x20;
    if (cp >= 0x450 && cp <= 0x45F) return cp - 0x50;
    return cp;
}

/* Windows-1252 bytes 0x80-0x9F; the five unassigned bytes map to the C1 controls. */
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int UnicodeToCp1252(uint32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] == cp) return 0x80 + i;
    return -1;
}

}  // namespace

/* ---- Names and conversions ----------------------------------------------------- */

int CompareNames(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const unsigned char ca = static_cast<unsigned char>(a[i]);
        const unsigned char cb = static_cast<unsigned char>(b[j]);
        if (ca == cb && ca < 0x80) {
            ++i; ++j;
            continue;
        }
        uint32_t x, y;
        if (ca < 0x80 && cb < 0x80) {
            x = Fold(ca); y = Fold(cb);
            ++i; ++j;
        } else {
            x = Fold(DecodeUtf8(a, &i));
            y = Fold(DecodeUtf8(b, &j));
        }
        if (x != y) return x < y ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

namespace {

/* Appends the UTF-16LE form of UTF-8 text. Every input byte gives at most two
 * output bytes (a pair of units needs four input bytes), so the room is made once. */
void AppendUtf16Le(std::string *out, std::string_view utf8) {
    const size_t start = out->size();
    out->resize(start + utf8.size() * 2);
    char *w = &(*out)[start];
    size_t i = 0;
    while (i < utf8.size()) {
        /* ASCII eight bytes at a time, then byte by byte. */
        uint64_t block;
        while (i + 8 <= utf8.size() && (memcpy(&block, utf8.data() + i, 8), (block & 0x8080808080808080ULL) == 0)) {
            for (int b = 0; b < 8; ++b) {
                w[2 * b] = utf8[i + static_cast<size_t>(b)];
                w[2 * b + 1] = 0;
            }
            w += 16;
            i += 8;
        }
        unsigned char c;
        while (i < utf8.size() && (c = static_cast<unsigned char>(utf8[i])) < 0x80) {
            *w++ = static_cast<char>(c);
            *w++ = 0;
            ++i;
        }
        if (i == utf8.size()) break;
        uint32_t cp = DecodeUtf8(utf8, &i);
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            const uint32_t high = 0xD800 + (cp >> 10), low = 0xDC00 + (cp & 0x3FF);
            *w++ = static_cast<char>(high & 0xFF);
            *w++ = static_cast<char>(high >> 8);
            *w++ = static_cast<char>(low & 0xFF);
            *w++ = static_cast<char>(low >> 8);
        } else {
            *w++ = static_cast<char>(cp & 0xFF);
            *w++ = static_cast<char>((cp >> 8) & 0xFF);
        }
    }
    out->resize(static_cast<size_t>(w - out->data()));
}

/* A hash of a name's folded code points: names equal without regard to case
 * (NamesEqual) hash alike. */
uint64_t FoldedHash(std::string_view name) {
    uint64_t h = 0xcbf29ce484222325ULL;
    size_t i = 0;
    while (i < name.size()) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        uint32_t cp;
        if (c < 0x80) {
            cp = Fold(c);
            ++i;
        } else {
            cp = Fold(DecodeUtf8(name, &i));
        }
        h = (h ^ cp) * 0x100000001b3ULL;
    }
    return h;
}

}  // namespace

std::string Utf8ToUtf16Le(std::string_view utf8) {
    std::string out;
    AppendUtf16Le(&out, utf8);
    return out;
}

std::string Utf16LeToUtf8(const std::string &bytes) {
    std::string out;
    ForEachUtf16LeCodePoint(bytes, [&out](uint32_t cp) { AppendUtf8(&out, cp); });
    return out;
}

std::string WideToUtf16Le(const WCHAR *text, size_t count) {
    std::string out;
    out.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t cp = static_cast<uint32_t>(text[i]);
        if (cp >= 0x10000 && cp <= 0x10FFFF)
            PutUtf16(&out, cp);
        else
            PutUnit(&out, cp > 0x10FFFF ? kReplacement : cp);
    }
    return out;
}

std::vector<WCHAR> Utf16LeToWide(const std::string &bytes) {
    std::vector<WCHAR> out;
    out.reserve((bytes.size() + 1) / 2);
    ForEachUtf16LeCodePoint(bytes, [&out](uint32_t cp) { out.push_back(static_cast<WCHAR>(cp)); });
    return out;
}

std::string AnsiToUtf16Le(const char *text, size_t count) {
    std::string out;
    out.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        PutUnit(&out, (c >= 0x80 && c < 0xA0) ? kCp1252High[c - 0x80] : c);
    }
    return out;
}

std::string Utf16LeToAnsi(const std::string &bytes) {
    std::string out;
    ForEachUtf16LeCodePoint(bytes, [&out](uint32_t cp) {
        int c = UnicodeToCp1252(cp);
        if (c < 0) c = Cp1252BestFit(cp);
        out.push_back(c < 0 ? '?' : static_cast<char>(c));
    });
    return out;
}


/* ---- Memory ------------------------------------------------------------------------ */

PageBlock &PageBlock::operator=(PageBlock &&other) noexcept {
    if (this != &other) {
        this->~PageBlock();
        data_ = other.data_;
        capacity_ = other.capacity_;
        other.data_ = nullptr;
        other.capacity_ = 0;
    }
    return *this;
}

PageBlock::~PageBlock() {
    if (data_) munmap(data_, capacity_);
}

bool PageBlock::Reserve(size_t capacity) {
    constexpr size_t kHugePage = size_t{2} << 20;
    if (capacity <= capacity_) return true;
    if (data_) {
        void *p = mremap(data_, capacity_, capacity, MREMAP_MAYMOVE);
        if (p == MAP_FAILED) return false;
        data_ = static_cast<char *>(p);
        capacity_ = capacity;
        return true;
    }
    if (capacity < kHugePage) {
        void *p = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (p == MAP_FAILED) return false;
        data_ = static_cast<char *>(p);
        capacity_ = capacity;
        return true;
    }
    /* Whole huge pages on a huge-page boundary: map one more and trim both ends. */
    capacity = (capacity + kHugePage - 1) & ~(kHugePage - 1);
    void *p = mmap(nullptr, capacity + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    char *raw = static_cast<char *>(p);
    char *aligned = reinterpret_cast<char *>((reinterpret_cast<uintptr_t>(raw) + kHugePage - 1) & ~(kHugePage - 1));
    if (aligned > raw) munmap(raw, static_cast<size_t>(aligned - raw));
    munmap(aligned + capacity, static_cast<size_t>(raw + kHugePage - aligned));
    madvise(aligned, capacity, MADV_HUGEPAGE);  /* a hint: small pages where there are no huge ones */
    data_ = aligned;
    capacity_ = capacity;
    return true;
}

/* ---- Reading .reg text ------------------------------------------------------------ */

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* 1 to 8 hexadecimal digits and nothing else. */
bool ParseHex32(std::string_view digits, uint32_t *value) {
    if (digits.empty() || digits.size() > 8) return false;
    uint32_t v = 0;
    for (char c : digits) {
        const int d = HexDigit(c);
        if (d < 0) return false;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    *value = v;
    return true;
}

/* `prefix` is lower case. */
bool StartsWithNoCase(std::string_view s, const char *prefix) {
    for (size_t k = 0; prefix[k]; ++k) {
        if (k >= s.size()) return false;
        char c = s[k];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != prefix[k]) return false;
    }
    return true;
}

/* The logical lines of .reg text: blank lines and comments are skipped, and a
 * value line ending in a backslash goes on in the lines after it (long hex lists). */
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}

    /* The next logical line, trimmed; *start is where its first line begins in the
     * text and *number is that line's number (1-based). False at the end. */
    bool Next(std::string_view *logical, size_t *start, int *number) {
        while (!done_) {
            *start = pos_;
            *number = number_ + 1;
            std::string_view line = Trim(RawLine());
            if (line.empty() || line[0] == ';') continue;
            if (line[0] != '[' && line.back() == '\\' && !done_) {
                joined_.assign(line.data(), line.size());
                while (!joined_.empty() && joined_.back() == '\\' && !done_) {
                    joined_.pop_back();
                    const std::string_view next = Trim(RawLine());
                    joined_.append(next.data(), next.size());
                }
                line = joined_;
            }
            *logical = line;
            return true;
        }
        return false;
    }

    /* Where the line after the last one returned begins. */
    size_t Position() const { return pos_; }
    /* Passes over the one line from Position() to `next`, just past its '\n'. */
    void Skip(size_t next) {
        pos_ = next;
        ++number_;
    }

private:
    /* The next line without its line end (text without a final line end still
     * has a last, possibly empty, line). */
    std::string_view RawLine() {
        const size_t end = text_.find('\n', pos_);
        std::string_view line;
        if (end == std::string_view::npos) {
            line = text_.substr(pos_);
            pos_ = text_.size();
            done_ = true;
        } else {
            line = text_.substr(pos_, end - pos_);
            pos_ = end + 1;
        }
        ++number_;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return line;
    }

    std::string_view text_;
    size_t pos_ = 0;
    int number_ = 0;
    bool done_ = false;
    std::string joined_;
};

/* The closing quote of plain quoted text that begins at text[pos]: npos when a
 * backslash or a line end comes first. Sixteen bytes at a time where the
 * processor compares them in one step. */
size_t PlainQuotedEnd(std::string_view text, size_t pos) {
    const char *const d = text.data();
    const size_t n = text.size();
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\'), newline = _mm_set1_epi8('\n');
    for (; pos + 16 <= n; pos += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(d + pos));
        const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, backslash)),
                                          _mm_cmpeq_epi8(block, newline));
        if (const int mask = _mm_movemask_epi8(hits)) {
            pos += static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
            return d[pos] == '"' ? pos : std::string_view::npos;
        }
    }
#endif
    while (pos < n && d[pos] != '"' && d[pos] != '\\' && d[pos] != '\n') ++pos;
    return pos < n && d[pos] == '"' ? pos : std::string_view::npos;
}

Value *FindIn(std::vector<Value> &list, std::string_view n) {
    for (auto &v : list)
        if (NamesEqual(v.name, n)) return &v;
    return nullptr;
}

void SetIn(std::vector<Value> *list, std::string_view n, DWORD type, std::string data) {
    if (Value *v = FindIn(*list, n)) {
        v->type = type;
        v->data = std::move(data);
        return;
    }
    list->push_back(Value{std::string(n), type, std::move(data)});
}

bool RemoveIn(std::vector<Value> *list, std::string_view n) {
    Value *v = FindIn(*list, n);
    if (!v) return false;
    list->erase(list->begin() + (v - list->data()));
    return true;
}

/* One value line, "name"=data or @=data: checked, and applied to a key's values
 * when a list is given. */
class ValueLineParser {
public:
    const std::string &error() const { return error_; }

    bool Parse(std::string_view line, std::vector<Value> *into) {
        size_t pos = 0;
        name_.clear();
        if (line[0] == '@') {
            pos = 1;
        } else if (line[0] == '"') {
            if (!Quoted(line, &pos, into ? &name_ : nullptr)) return false;
        } else {
            return Error("a line must be a key \"[...]\", a value \"name\"=... or @=..., or a comment");
        }
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        if (pos >= line.size() || line[pos] != '=') return Error("'=' expected after the value name");
        ++pos;
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        const std::string_view rest = line.substr(pos);
        if (rest == "-") {
            if (into) RemoveIn(into, name_);
            return true;
        }
        if (!rest.empty() && rest[0] == '"') {
            size_t p = 0;
            if (!Quoted(rest, &p, into ? &text_ : nullptr)) return false;
            if (!Trim(rest.substr(p)).empty()) return Error("text after the closing quote");
            if (into) {
                std::string data;
                data.reserve(text_.size() * 2 + 2);
                AppendUtf16Le(&data, text_);
                data.append(2, '\0');
                SetIn(into, name_, 1, std::move(data));
            }
            return true;
        }
        if (StartsWithNoCase(rest, "dword:")) {
            uint32_t v = 0;
            if (!ParseHex32(Trim(rest.substr(6)), &v)) return Error("dword: needs 1 to 8 hexadecimal digits");
            if (into) {
                std::string data(4, '\0');
                for (int k = 0; k < 4; ++k) data[static_cast<size_t>(k)] = static_cast<char>((v >> (8 * k)) & 0xFF);
                SetIn(into, name_, 4, std::move(data));
            }
            return true;
        }
        if (StartsWithNoCase(rest, "hex")) {
            size_t p = 3;
            DWORD type = 3;
            if (p < rest.size() && rest[p] == '(') {
                const size_t close = rest.find(')', p);
                if (close == std::string_view::npos || !ParseHex32(rest.substr(p + 1, close - p - 1), &type))
                    return Error("malformed hex(type)");
                p = close + 1;
            }
            if (p >= rest.size() || rest[p] != ':') return Error("':' expected after hex");
            std::string data;
            if (!HexBytes(rest.substr(p + 1), into ? &data : nullptr)) return false;
            if (into) SetIn(into, name_, type, std::move(data));
            return true;
        }
        return Error("unknown value data (expected \"text\", dword:, hex: or hex(n):)");
    }

private:
    bool Error(const std::string &message) {
        error_ = message;
        return false;
    }

    /* A quoted string starting at line[*pos] == '"'; handles \\ and \". The text
     * goes to *out when given. */
    bool Quoted(std::string_view line, size_t *pos, std::string *out) {
        if (out) out->clear();
        const char *p = line.data() + *pos + 1;
        const char *const end = line.data() + line.size();
        const char *quote = nullptr;  /* the first quote at or after p */
        while (p < end) {
            /* The text up to the next quote or backslash goes over in one piece. */
            if (quote < p) {
                quote = static_cast<const char *>(memchr(p, '"', static_cast<size_t>(end - p)));
                if (!quote) quote = end;
            }
            const char *plain = static_cast<const char *>(memchr(p, '\\', static_cast<size_t>(quote - p)));
            if (!plain) plain = quote;
            if (out) out->append(p, static_cast<size_t>(plain - p));
            p = plain;
            if (p == end) break;
            if (*p == '"') {
                *pos = static_cast<size_t>(p + 1 - line.data());
                return true;
            }
            if (p + 1 == end) break;
            const char n = p[1];
            if (n != '\\' && n != '"') return Error(std::string("unknown escape \"\\") + n + "\" (write \\\\ for a backslash)");
            if (out) out->push_back(n);
            p += 2;
        }
        return Error("unterminated string");
    }

    /* Comma-separated hexadecimal bytes, appended to *data when given. */
    bool HexBytes(std::string_view list, std::string *data) {
        const std::string_view all = Trim(list);
        if (all.empty()) return true;
        if (data) data->reserve(all.size() / 3 + 1);
        size_t start = 0;
        while (start <= all.size()) {
            size_t end = all.find(',', start);
            if (end == std::string_view::npos) end = all.size();
            const std::string_view item = Trim(all.substr(start, end - start));
            if (item.empty()) {
                if (end == all.size() && start > 0) break; /* one trailing comma */
                return Error("empty byte in a hex list");
            }
            if (item.size() > 2 || HexDigit(item[0]) < 0 || (item.size() == 2 && HexDigit(item[1]) < 0))
                return Error("\"" + std::string(item) + "\" is not a hexadecimal byte");
            int v = HexDigit(item[0]);
            if (item.size() == 2) v = v * 16 + HexDigit(item[1]);
            if (data) data->push_back(static_cast<char>(v));
            start = end + 1;
        }
        return true;
    }

    std::string error_;
    std::string name_, text_;  /* the line's value name and text, reused */
};

}  // namespace

size_t PlainValueLineEnd(std::string_view text, size_t pos) {
    const size_t n = text.size();
    auto at = [text, n](size_t i) { return i < n ? text[i] : '\0'; };
    if (at(pos) == '@') {
        ++pos;
    } else if (at(pos) == '"') {
        pos = PlainQuotedEnd(text, pos + 1);
        if (pos == std::string_view::npos) return 0;
        ++pos;
    } else {
        return 0;
    }
    if (at(pos++) != '=') return 0;
    if (at(pos) == '"') {
        pos = PlainQuotedEnd(text, pos + 1);
        if (pos == std::string_view::npos) return 0;
        ++pos;
    } else if (text.compare(pos, 6, "dword:") == 0) {
        pos += 6;
        size_t digits = 0;
        while (digits <= 8 && HexDigit(at(pos)) >= 0) {
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 8) return 0;
    } else {
        return 0;
    }
    if (at(pos) == '\r') ++pos;
    return at(pos) == '\n' ? pos + 1 : 0;
}

namespace {

/* Guards the reading of recorded value lines in every tree. */
std::mutex gValueLinesMutex;

}  // namespace

/* ---- Key memory ------------------------------------------------------------------ */

namespace {

#if defined(__SANITIZE_ADDRESS__)
#define VT_KEY_SLABS_ON_HEAP 1
#endif

/* Where keys live: slabs of equal blocks, each slab one PageBlock, so that the
 * 20,000 keys of a large hive take two huge pages instead of 800 small pages
 * taken one fault at a time. A freed key's block goes to the next key made; the
 * slabs stay to the end of the process. Under AddressSanitizer the slabs come
 * from the heap, where the leak checker finds what keys point to, and free
 * blocks are poisoned so that a key used after its end is still caught. */
class KeyPool {
public:
    void *Allocate() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (Block *b = free_) {
            ASAN_UNPOISON_MEMORY_REGION(b, sizeof(Block));
            free_ = b->next;
            --freeCount_;
            return b;
        }
        if (next_ == end_) AddSlab(0);
        Block *b = next_++;
        ASAN_UNPOISON_MEMORY_REGION(b, sizeof(Block));
        return b;
    }

    void Free(void *p) {
        std::lock_guard<std::mutex> lock(mutex_);
        Block *b = static_cast<Block *>(p);
        b->next = free_;
        free_ = b;
        ++freeCount_;
        ASAN_POISON_MEMORY_REGION(b, sizeof(Block));
    }

    /* Room for `count` more keys, in one new slab unless there is room already. */
    void Expect(size_t count) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (freeCount_ + static_cast<size_t>(end_ - next_) < count) AddSlab(count);
    }

private:
    union Block {
        Block *next;
        alignas(Key) char bytes[sizeof(Key)];
    };

    /* A new slab for `count` blocks at least; slabs grow from 16 KiB to 2 MiB.
     * The rest of the slab before it is left unused. */
    void AddSlab(size_t count) {
        const size_t bytes = std::max(slabBytes_, count * sizeof(Block));
        slabBytes_ = std::min(2 * slabBytes_, size_t{2} << 20);
#if VT_KEY_SLABS_ON_HEAP
        slabs_.emplace_back(new Block[bytes / sizeof(Block)]);
        next_ = slabs_.back().get();
        end_ = next_ + bytes / sizeof(Block);
#else
        PageBlock slab;
        if (!slab.Reserve(bytes)) throw std::bad_alloc();
        next_ = reinterpret_cast<Block *>(slab.data());
        end_ = next_ + slab.capacity() / sizeof(Block);
        slabs_.push_back(std::move(slab));
#endif
        ASAN_POISON_MEMORY_REGION(next_, static_cast<size_t>(end_ - next_) * sizeof(Block));
    }

    std::mutex mutex_;
    Block *free_ = nullptr;
    size_t freeCount_ = 0;
    Block *next_ = nullptr, *end_ = nullptr;  /* the unused rest of the newest slab */
    size_t slabBytes_ = size_t{16} << 10;
#if VT_KEY_SLABS_ON_HEAP
    std::vector<std::unique_ptr<Block[]>> slabs_;
#else
    std::vector<PageBlock> slabs_;
#endif
};

/* Never destroyed: keys may be freed during the process's exit. */
KeyPool &Pool() {
    static KeyPool *const pool = new KeyPool;
    return *pool;
}

}  // namespace

void *Key::operator new(size_t size) {
    if (size != sizeof(Key)) return ::operator new(size);
    return Pool().Allocate();
}

void Key::operator delete(void *p, size_t size) noexcept {
    if (!p) return;
    if (size != sizeof(Key)) {
        ::operator delete(p);
        return;
    }
    Pool().Free(p);
}

/* ---- Key tree -------------------------------------------------------------------- */

ValueList::ValueList(const ValueList &other) { *this = other; }

ValueList &ValueList::operator=(const ValueList &other) {
    if (this == &other) return *this;
    /* Recorded lines of `other` may be being read by another thread. */
    std::unique_lock<std::mutex> lock(gValueLinesMutex, std::defer_lock);
    if (!other.loaded_.load(std::memory_order_acquire)) lock.lock();
    list_ = other.list_;
    first_ = other.first_;
    more_ = other.more_;
    source_ = other.source_;
    loaded_.store(other.loaded_.load(std::memory_order_relaxed), std::memory_order_release);
    return *this;
}

void ValueList::AddLines(std::string_view text, const std::shared_ptr<const void> &source) {
    if (!source_) {
        first_ = text;
        source_ = source;
    } else {
        more_.push_back(text);
    }
    loaded_.store(false, std::memory_order_release);
}

const std::vector<Value> &ValueList::Loaded() const {
    if (loaded_.load(std::memory_order_acquire)) return list_;
    std::lock_guard<std::mutex> lock(gValueLinesMutex);
    if (!loaded_.load(std::memory_order_relaxed)) {
        /* The lines were checked when the hive was parsed. */
        ValueLineParser parser;
        auto read = [&parser, this](std::string_view text) {
            LineReader reader(text);
            std::string_view line;
            size_t start = 0;
            int number = 0;
            while (reader.Next(&line, &start, &number)) parser.Parse(line, &list_);
        };
        read(first_);
        for (const std::string_view text : more_) read(text);
        first_ = std::string_view();
        std::vector<std::string_view>().swap(more_);
        source_.reset();
        loaded_.store(true, std::memory_order_release);
    }
    return list_;
}

std::unique_ptr<Key> Key::Clone() const {
    auto copy = std::make_unique<Key>(name);
    copy->values = values;
    copy->subkeys.reserve(subkeys.size());
    for (const auto &sub : subkeys) copy->subkeys.push_back(sub->Clone());
    return copy;
}

namespace {
bool KeyLess(const std::unique_ptr<Key> &k, const std::string &n) { return CompareNames(k->name, n) < 0; }
}  // namespace

Key *Key::FindSubkey(const std::string &n) const {
    auto it = std::lower_bound(subkeys.begin(), subkeys.end(), n, KeyLess);
    if (it != subkeys.end() && NamesEqual((*it)->name, n)) return it->get();
    return nullptr;
}

Key *Key::AddSubkey(const std::string &n, bool *created) {
    auto it = std::lower_bound(subkeys.begin(), subkeys.end(), n, KeyLess);
    if (it != subkeys.end() && NamesEqual((*it)->name, n)) {
        if (created) *created = false;
        return it->get();
    }
    if (created) *created = true;
    return subkeys.insert(it, std::make_unique<Key>(n))->get();
}

bool Key::RemoveSubkey(const std::string &n) {
    auto it = std::lower_bound(subkeys.begin(), subkeys.end(), n, KeyLess);
    if (it == subkeys.end() || !NamesEqual((*it)->name, n)) return false;
    subkeys.erase(it);
    return true;
}

const Value *Key::FindValue(const std::string &n) const {
    for (const auto &v : values)
        if (NamesEqual(v.name, n)) return &v;
    return nullptr;
}

void Key::SetValue(const std::string &n, DWORD type, std::string data) {
    SetIn(&values.Mutable(), n, type, std::move(data));
}

bool Key::RemoveValue(const std::string &n) { return RemoveIn(&values.Mutable(), n); }

const Key *Key::Find(const std::vector<std::string> &path) const {
    const Key *k = this;
    for (const auto &part : path) {
        k = k->FindSubkey(part);
        if (!k) return nullptr;
    }
    return k;
}

Key *Key::Find(const std::vector<std::string> &path) {
    return const_cast<Key *>(static_cast<const Key *>(this)->Find(path));
}

namespace {

/* SplitKeyPath on a view: the parts are views into `path`. */
bool SplitKeyPathView(std::string_view path, std::vector<std::string_view> *parts) {
    parts->clear();
    if (path.empty()) return true;
    if (path[0] == '\\') return false;
    size_t start = 0;
    while (start < path.size()) {
        const size_t end = path.find('\\', start);
        const std::string_view part = path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part.empty()) return false;
        parts->push_back(part);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return true;
}

}  // namespace

bool SplitKeyPath(const std::string &path, std::vector<std::string> *parts) {
    std::vector<std::string_view> views;
    const bool ok = SplitKeyPathView(path, &views);
    parts->assign(views.begin(), views.end());
    return ok;
}

/* ---- Parser ----------------------------------------------------------------------- */

namespace {

/* The file's text as UTF-8 and what holds it: the file's bytes (held by
 * `keep`), or their conversion when the file is UTF-16. */
std::string_view HiveText(std::string_view bytes, std::shared_ptr<const void> keep,
                          std::shared_ptr<const void> *holder) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        auto converted = std::make_shared<const std::string>(
            Utf16LeToUtf8(std::string(bytes.substr(2, (bytes.size() - 2) & ~static_cast<size_t>(1)))));
        *holder = converted;
        return *converted;
    }
    *holder = std::move(keep);
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    return bytes;
}

/* The keys of a tree being parsed, found by parent and name without regard to
 * case: one open-addressed table in a PageBlock (a hive of 20,000 keys needs
 * 2 MiB of it), no allocation per key. */
class ChildIndex {
public:
    void Init(size_t expected) { Resize(PowerOfTwoAbove(2 * expected + 16)); }

    static uint64_t HashOf(const Key *parent, std::string_view name) {
        return FoldedHash(name) ^ (reinterpret_cast<uintptr_t>(parent) * 0x9E3779B97F4A7C15ULL);
    }

    /* `hash` is HashOf(parent, name). */
    Key *Find(const Key *parent, std::string_view name, uint64_t hash) const {
        for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
            const Slot &s = slots_[i];
            if (!s.key && !s.removed) return nullptr;
            if (s.key && s.hash == hash && s.parent == parent && NamesEqual(s.key->name, name)) return s.key;
        }
    }
    Key *Find(const Key *parent, std::string_view name) const { return Find(parent, name, HashOf(parent, name)); }

    /* `child` is not in the index yet; `hash` is HashOf(parent, child->name). */
    void Insert(const Key *parent, Key *child, uint64_t hash) {
        if (2 * (used_ + 1) > mask_ + 1) Resize(2 * (mask_ + 1));
        Slot *s = Place(hash);
        if (!s->removed) ++used_;
        *s = Slot{hash, parent, child, false};
    }

    void Erase(const Key *parent, const Key *child) {
        for (size_t i = HashOf(parent, child->name) & mask_;; i = (i + 1) & mask_) {
            Slot &s = slots_[i];
            if (!s.key && !s.removed) return;
            if (s.key == child) {
                s = Slot{s.hash, nullptr, nullptr, true};
                return;
            }
        }
    }

private:
    /* All bits zero is a free slot: fresh memory needs no filling. */
    struct Slot {
        uint64_t hash;
        const Key *parent;
        Key *key;      /* null: free, or freed by Erase when `removed` */
        bool removed;  /* look-ups go on past this slot */
    };

    static size_t PowerOfTwoAbove(size_t n) {
        size_t p = 1;
        while (p < n) p <<= 1;
        return p;
    }
    /* The first free or freed slot for `hash`. */
    Slot *Place(uint64_t hash) {
        size_t i = hash & mask_;
        while (slots_[i].key) i = (i + 1) & mask_;
        return &slots_[i];
    }
    /* Out of memory is what it is for any other container of the parser. */
    void Resize(size_t count) {
        PageBlock block;
        if (!block.Reserve(count * sizeof(Slot))) throw std::bad_alloc();
        PageBlock old = std::move(block_);
        const Slot *oldSlots = slots_;
        const size_t oldCount = slots_ ? mask_ + 1 : 0;
        block_ = std::move(block);
        slots_ = reinterpret_cast<Slot *>(block_.data());
        mask_ = count - 1;
        used_ = 0;
        for (size_t i = 0; i < oldCount; ++i) {
            if (!oldSlots[i].key) continue;
            *Place(oldSlots[i].hash) = oldSlots[i];
            ++used_;
        }
    }

    PageBlock block_;
    Slot *slots_ = nullptr;
    size_t mask_ = 0;
    size_t used_ = 0;  /* slots holding a key or freed by Erase */
};

/* Builds the key tree from the section lines; value lines are checked and each
 * key records where its own lie, to read them when they are first looked at.
 * Keys are appended to their parent in the order the file names them and found
 * again through an index by folded name; the sibling lists are sorted once at the
 * end (Finish), so a key costs the same wherever it sorts among many siblings. */
class Parser {
public:
    Parser(const std::string &rootName, ParseResult *result, std::shared_ptr<const void> source)
        : rootName_(rootName), r_(result), source_(std::move(source)) {}

    void Parse(std::string_view text) {
        text_ = text;
        index_.Init(text.size() / 256);
        Pool().Expect(text.size() / 256);
        LineReader reader(text);
        bool header = false;
        std::string_view logical;
        size_t start = 0;
        int number = 0;
        for (;;) {
            /* Most lines are values in the forms this stand-in writes: those
             * pass without the full check. */
            if (current_) {
                if (const size_t next = PlainValueLineEnd(text, reader.Position())) {
                    reader.Skip(next);
                    sawValue_ = true;
                    continue;
                }
            }
            if (!reader.Next(&logical, &start, &number)) break;
            if (!header) {
                if (logical != kHiveHeader) {
                    Fail(number, "the first line must be \"" + std::string(kHiveHeader) + "\"");
                    return;
                }
                header = true;
                continue;
            }
            if (logical[0] == '[') {
                CloseLines(start);
                if (!Section(logical)) {
                    Fail(number, error_);
                    return;
                }
                linesStart_ = reader.Position();
                continue;
            }
            if (!current_) {
                Fail(number, "a value line outside a key");
                return;
            }
            if (!values_.Parse(logical, nullptr)) {
                CloseLines(start);
                Fail(number, values_.error());
                return;
            }
            sawValue_ = true;
        }
        CloseLines(text.size());
    }

    /* Sorts every sibling list of the tree by CompareNames. */
    void Finish() {
        std::vector<Key *> pending{r_->root.get()};
        while (!pending.empty()) {
            Key *k = pending.back();
            pending.pop_back();
            auto less = [](const std::unique_ptr<Key> &a, const std::unique_ptr<Key> &b) {
                return CompareNames(a->name, b->name) < 0;
            };
            if (!std::is_sorted(k->subkeys.begin(), k->subkeys.end(), less))
                std::sort(k->subkeys.begin(), k->subkeys.end(), less);
            for (const auto &sub : k->subkeys) pending.push_back(sub.get());
        }
    }

private:
    void Fail(int number, const std::string &message) {
        r_->ok = false;
        r_->errorLine = number;
        r_->error = message;
    }
    bool Error(const std::string &message) {
        error_ = message;
        return false;
    }

    /* The current key's value lines end where `end` begins. */
    void CloseLines(size_t end) {
        if (current_ && sawValue_) current_->values.AddLines(text_.substr(linesStart_, end - linesStart_), source_);
        sawValue_ = false;
    }

    /* The sub-key of `parent` named `name`, or null. */
    Key *Child(const Key *parent, std::string_view name) { return index_.Find(parent, name); }

    Key *AddChild(Key *parent, std::string_view name) {
        const uint64_t hash = ChildIndex::HashOf(parent, name);
        if (Key *k = index_.Find(parent, name, hash)) return k;
        parent->subkeys.push_back(std::make_unique<Key>(std::string(name)));
        Key *k = parent->subkeys.back().get();
        index_.Insert(parent, k, hash);
        return k;
    }

    /* A deleted key is kept until the parse ends, so that no new key takes its
     * address while the index still holds its sub-keys. */
    void RemoveChild(Key *parent, std::string_view name) {
        const Key *victim = index_.Find(parent, name);
        if (!victim) return;
        index_.Erase(parent, victim);
        auto pos = std::find_if(parent->subkeys.begin(), parent->subkeys.end(),
                                [victim](const std::unique_ptr<Key> &k) { return k.get() == victim; });
        removed_.push_back(std::move(*pos));
        parent->subkeys.erase(pos);
    }

    bool Section(std::string_view line) {
        const size_t close = line.rfind(']');
        if (close == std::string_view::npos) return Error("a key line must end with ']'");
        if (!Trim(line.substr(close + 1)).empty()) return Error("text after ']'");
        std::string_view path = line.substr(1, close - 1);
        const bool remove = !path.empty() && path[0] == '-';
        if (remove) path.remove_prefix(1);
        if (!SplitKeyPathView(path, &parts_) || parts_.empty())
            return Error("malformed key path \"" + std::string(path) + "\"");
        if (parts_[0] != rootName_ && !NamesEqual(parts_[0], rootName_)) return Error("key outside " + rootName_ + ": \"" + std::string(path) + "\"");
        Key *k = r_->root.get();
        if (remove) {
            if (parts_.size() == 1) return Error("the root key cannot be deleted");
            for (size_t p = 1; k && p + 1 < parts_.size(); ++p) k = Child(k, parts_[p]);
            if (k) RemoveChild(k, parts_.back());
            current_ = nullptr;
            chain_.clear();
            return true;
        }
        /* Sections mostly follow their neighbours: the leading names spelt exactly
         * as in the section before lead to the same keys. */
        chain_.resize(std::min(chain_.size(), parts_.size()));
        size_t p = 1;
        while (p < chain_.size() && chain_[p].name == parts_[p]) k = chain_[p++].key;
        chain_.resize(p);
        for (; p < parts_.size(); ++p) {
            k = AddChild(k, parts_[p]);
            chain_.push_back(Link{parts_[p], k});
        }
        current_ = k;
        return true;
    }

    struct Link {
        std::string_view name;
        Key *key;
    };

    const std::string rootName_;
    ParseResult *r_;
    std::shared_ptr<const void> source_;
    std::string_view text_;
    Key *current_ = nullptr;
    size_t linesStart_ = 0;  /* where the current key's value lines begin */
    bool sawValue_ = false;  /* a value line since the current key's section */
    std::string error_;
    ValueLineParser values_;
    ChildIndex index_;
    std::vector<std::unique_ptr<Key>> removed_;
    std::vector<std::string_view> parts_;
    std::vector<Link> chain_;  /* the keys of the last section's path, root's slot unused */
};

/* ---- Writer ------------------------------------------------------------------------ */

std::string Escape(const std::string &s) {
    std::string out;
    out.reserve(s.size() + 2);
    for (char c : s) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

/* True when the data is one well-formed UTF-16 string with its terminator and no
 * line breaks, so that "text" reads back to the same bytes. */
bool IsPlainString(const std::string &data) {
    if (data.size() < 2 || data.size() % 2 != 0) return false;
    const size_t units = data.size() / 2;
    if (UnitAt(data, units - 1) != 0) return false;
    for (size_t u = 0; u + 1 < units; ++u) {
        const uint32_t c = UnitAt(data, u);
        if (c == 0 || c == '\n' || c == '\r') return false;
        if (c >= 0xDC00 && c <= 0xDFFF) return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            const uint32_t n = u + 2 < units ? UnitAt(data, u + 1) : 0;
            if (n < 0xDC00 || n > 0xDFFF) return false;
            ++u;
        }
    }
    return true;
}

void WriteValue(std::string *out, const Value &v) {
    std::string line = v.name.empty() ? std::string("@=") : "\"" + Escape(v.name) + "\"=";
    if (v.type == 1 && IsPlainString(v.data)) {
        line += "\"" + Escape(Utf16LeToUtf8(v.data.substr(0, v.data.size() - 2))) + "\"";
        *out += line + "\n";
        return;
    }
    char buf[32];
    if (v.type == 4 && v.data.size() == 4) {
        uint32_t d = 0;
        for (int k = 3; k >= 0; --k) d = (d << 8) | static_cast<unsigned char>(v.data[static_cast<size_t>(k)]);
        snprintf(buf, sizeof buf, "dword:%08x", d);
        *out += line + buf + "\n";
        return;
    }
    if (v.type == 3) {
        line += "hex:";
    } else {
        snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
        line += buf;
    }
    for (size_t k = 0; k < v.data.size(); ++k) {
        snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(v.data[k]));
        line += buf;
        if (k + 1 < v.data.size()) {
            line += ",";
            if (line.size() > 76) {
                *out += line + "\\\n";
                line = "  ";
            }
        }
    }
    *out += line + "\n";
}

void WriteKey(std::string *out, const Key &k, const std::string &path) {
    *out += "[" + path + "]\n";
    for (const auto &v : k.values) WriteValue(out, v);
    *out += "\n";
    for (const auto &sub : k.subkeys) WriteKey(out, *sub, path + "\\" + sub->name);
}

}  // namespace

ParseResult ParseHive(std::string_view fileBytes, std::shared_ptr<const void> keep, const std::string &rootName) {
    ParseResult result;
    result.root = std::make_unique<Key>(rootName);
    std::shared_ptr<const void> holder;
    const std::string_view text = HiveText(fileBytes, std::move(keep), &holder);
    Parser parser(rootName, &result, holder);
    parser.Parse(text);
    parser.Finish();
    return result;
}

ParseResult ParseHive(const std::string &fileBytes, const std::string &rootName) {
    auto copy = std::make_shared<const std::string>(fileBytes);
    return ParseHive(*copy, copy, rootName);
}

std::string SerializeHive(const Key &root, const std::string &rootName) {
    std::string out = std::string(kHiveHeader) + "\n\n";
    if (!root.values.empty()) {
        out += "[" + rootName + "]\n";
        for (const auto &v : root.values) WriteValue(&out, v);
        out += "\n";
    }
    for (const auto &sub : root.subkeys) WriteKey(&out, *sub, rootName + "\\" + sub->name);
    return out;
}

}  // namespace reg
}  // namespace wa
