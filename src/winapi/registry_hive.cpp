/*
 * The registry key tree and its .reg text: names, conversions, parser, writer.
 */
#include "winapi/registry_hive.h"
#include "winapi/wa_private.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <unordered_map>

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

/* A name with its letters folded, so that two names are equal without regard to
 * case exactly when these strings are equal (the parser's look-up key). */
void FoldName(std::string_view name, std::string *out) {
    out->clear();
    size_t i = 0;
    while (i < name.size()) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x80) {
            out->push_back(static_cast<char>(Fold(c)));
            ++i;
        } else {
            AppendUtf8(out, Fold(DecodeUtf8(name, &i)));
        }
    }
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
        const int c = UnicodeToCp1252(cp);
        out.push_back(c < 0 ? '?' : static_cast<char>(c));
    });
    return out;
}

/* ---- Key tree -------------------------------------------------------------------- */

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
    for (auto &v : values) {
        if (NamesEqual(v.name, n)) {
            v.type = type;
            v.data = std::move(data);
            return;
        }
    }
    values.push_back(Value{n, type, std::move(data)});
}

bool Key::RemoveValue(const std::string &n) {
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (NamesEqual(it->name, n)) {
            values.erase(it);
            return true;
        }
    }
    return false;
}

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

/* The file's text as UTF-8: a view of the bytes, or of `converted` when the
 * file is UTF-16. */
std::string_view HiveText(const std::string &fileBytes, std::string *converted) {
    if (fileBytes.size() >= 2 && static_cast<unsigned char>(fileBytes[0]) == 0xFF &&
        static_cast<unsigned char>(fileBytes[1]) == 0xFE) {
        *converted = Utf16LeToUtf8(fileBytes.substr(2, (fileBytes.size() - 2) & ~static_cast<size_t>(1)));
        return *converted;
    }
    std::string_view text(fileBytes);
    if (fileBytes.compare(0, 3, "\xEF\xBB\xBF") == 0) text.remove_prefix(3);
    return text;
}

/* The text's lines without their line ends; line n is lines[n - 1]. */
std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    lines.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

/* A key of the tree being parsed, found by its parent and folded name. */
struct ChildId {
    const Key *parent;
    std::string folded;
    bool operator==(const ChildId &o) const { return parent == o.parent && folded == o.folded; }
};

struct ChildIdHash {
    size_t operator()(const ChildId &id) const {
        return std::hash<std::string>()(id.folded) * 31 + std::hash<const Key *>()(id.parent);
    }
};

/* Keys are appended to their parent in the order the file names them and found
 * again through an index by folded name; the sibling lists are sorted once at the
 * end (Finish), so a key costs the same wherever it sorts among many siblings. */
class Parser {
public:
    Parser(const std::string &rootName, ParseResult *result) : rootName_(rootName), r_(result) {}

    bool Parse(const std::vector<std::string_view> &lines) {
        size_t i = 0;
        bool header = false;
        std::string joined;
        while (i < lines.size()) {
            const int number = static_cast<int>(i + 1);
            std::string_view logical = Trim(lines[i]);
            ++i;
            if (logical.empty() || logical[0] == ';') continue;
            if (logical[0] != '[' && logical.back() == '\\' && i < lines.size()) {
                /* A trailing backslash continues a value line (long hex lists). */
                joined.assign(logical.data(), logical.size());
                while (!joined.empty() && joined.back() == '\\' && i < lines.size()) {
                    joined.pop_back();
                    const std::string_view next = Trim(lines[i]);
                    joined.append(next.data(), next.size());
                    ++i;
                }
                logical = joined;
            }
            if (!header) {
                if (logical != kHiveHeader) return Fail(number, "the first line must be \"" + std::string(kHiveHeader) + "\"");
                header = true;
                continue;
            }
            const bool ok = logical[0] == '[' ? Section(logical) : ValueLine(logical);
            if (!ok) return Fail(number, error_);
        }
        return true;
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
    bool Fail(int number, const std::string &message) {
        r_->ok = false;
        r_->errorLine = number;
        r_->error = message;
        return false;
    }
    bool Error(const std::string &message) {
        error_ = message;
        return false;
    }

    /* The sub-key of `parent` named `name`, or null. */
    Key *Child(const Key *parent, std::string_view name) {
        ChildId id{parent, std::string()};
        FoldName(name, &id.folded);
        auto it = index_.find(id);
        return it == index_.end() ? nullptr : it->second;
    }

    Key *AddChild(Key *parent, std::string_view name) {
        ChildId id{parent, std::string()};
        FoldName(name, &id.folded);
        auto it = index_.find(id);
        if (it != index_.end()) return it->second;
        parent->subkeys.push_back(std::make_unique<Key>(std::string(name)));
        Key *k = parent->subkeys.back().get();
        index_.emplace(std::move(id), k);
        return k;
    }

    /* A deleted key is kept until the parse ends, so that no new key takes its
     * address while the index still holds its sub-keys. */
    void RemoveChild(Key *parent, std::string_view name) {
        ChildId id{parent, std::string()};
        FoldName(name, &id.folded);
        auto it = index_.find(id);
        if (it == index_.end()) return;
        const Key *victim = it->second;
        index_.erase(it);
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
        if (!NamesEqual(parts_[0], rootName_)) return Error("key outside " + rootName_ + ": \"" + std::string(path) + "\"");
        Key *k = r_->root.get();
        if (remove) {
            if (parts_.size() == 1) return Error("the root key cannot be deleted");
            for (size_t p = 1; k && p + 1 < parts_.size(); ++p) k = Child(k, parts_[p]);
            if (k) RemoveChild(k, parts_.back());
            current_ = nullptr;
            return true;
        }
        for (size_t p = 1; p < parts_.size(); ++p) k = AddChild(k, parts_[p]);
        current_ = k;
        return true;
    }

    /* A quoted string starting at line[*pos] == '"'; handles \\ and \". */
    bool Quoted(std::string_view line, size_t *pos, std::string *out) {
        out->clear();
        size_t p = *pos + 1;
        size_t quote = 0;  /* the first quote at or after p */
        while (p < line.size()) {
            /* The text up to the next quote or backslash goes over in one piece. */
            if (quote < p) quote = std::min(line.find('"', p), line.size());
            const size_t plain = std::min(line.substr(0, quote).find('\\', p), quote);
            out->append(line.data() + p, plain - p);
            p = plain;
            if (p >= line.size()) break;
            if (line[p] == '"') {
                *pos = p + 1;
                return true;
            }
            if (p + 1 >= line.size()) break;
            const char n = line[p + 1];
            if (n != '\\' && n != '"') return Error(std::string("unknown escape \"\\") + n + "\" (write \\\\ for a backslash)");
            out->push_back(n);
            p += 2;
        }
        return Error("unterminated string");
    }

    bool ValueLine(std::string_view line) {
        if (!current_) return Error("a value line outside a key");
        size_t pos = 0;
        name_.clear();
        if (line[0] == '@') {
            pos = 1;
        } else if (line[0] == '"') {
            if (!Quoted(line, &pos, &name_)) return false;
        } else {
            return Error("a line must be a key \"[...]\", a value \"name\"=... or @=..., or a comment");
        }
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        if (pos >= line.size() || line[pos] != '=') return Error("'=' expected after the value name");
        ++pos;
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        const std::string_view rest = line.substr(pos);
        if (rest == "-") {
            current_->RemoveValue(name_);
            return true;
        }
        if (!rest.empty() && rest[0] == '"') {
            size_t p = 0;
            if (!Quoted(rest, &p, &text_)) return false;
            if (!Trim(rest.substr(p)).empty()) return Error("text after the closing quote");
            std::string data;
            data.reserve(text_.size() * 2 + 2);
            AppendUtf16Le(&data, text_);
            data.append(2, '\0');
            current_->SetValue(name_, 1, std::move(data));
            return true;
        }
        if (StartsWithNoCase(rest, "dword:")) {
            uint32_t v = 0;
            if (!ParseHex32(Trim(rest.substr(6)), &v)) return Error("dword: needs 1 to 8 hexadecimal digits");
            std::string data(4, '\0');
            for (int k = 0; k < 4; ++k) data[static_cast<size_t>(k)] = static_cast<char>((v >> (8 * k)) & 0xFF);
            current_->SetValue(name_, 4, std::move(data));
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
            if (!HexBytes(rest.substr(p + 1), &data)) return false;
            current_->SetValue(name_, type, std::move(data));
            return true;
        }
        return Error("unknown value data (expected \"text\", dword:, hex: or hex(n):)");
    }

    bool HexBytes(std::string_view list, std::string *data) {
        const std::string_view all = Trim(list);
        if (all.empty()) return true;
        data->reserve(all.size() / 3 + 1);
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
            data->push_back(static_cast<char>(v));
            start = end + 1;
        }
        return true;
    }

    const std::string rootName_;
    ParseResult *r_;
    Key *current_ = nullptr;
    std::string error_;
    std::unordered_map<ChildId, Key *, ChildIdHash> index_;
    std::vector<std::unique_ptr<Key>> removed_;
    std::vector<std::string_view> parts_;
    std::string name_, text_;  /* the value line's name and text, reused */
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

ParseResult ParseHive(const std::string &fileBytes, const std::string &rootName) {
    ParseResult result;
    result.root = std::make_unique<Key>(rootName);
    Parser parser(rootName, &result);
    std::string converted;
    parser.Parse(SplitLines(HiveText(fileBytes, &converted)));
    parser.Finish();
    return result;
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
