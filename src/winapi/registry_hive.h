/*
 * The registry of the stand-in, below the Reg* functions: the key tree, the .reg
 * text it is kept in, and the hive files under <root>/registry.
 * Private to src/winapi (and its tests and fuzz target).
 */
#pragma once
#include "winapi/wa_types.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace wa {
namespace reg {

/* ---- Names ------------------------------------------------------------------- */

/* Key and value names (UTF-8) compare without regard to case, as Windows does:
 * ASCII, Latin-1, Greek and Cyrillic letters fold; everything else compares exactly. */
int CompareNames(std::string_view a, std::string_view b);
inline bool NamesEqual(std::string_view a, std::string_view b) { return CompareNames(a, b) == 0; }

/* ---- Text conversions at the registry's boundary ------------------------------ */

/* UTF-8 <-> UTF-16LE bytes (no terminator added or expected). Malformed UTF-8 and
 * lone surrogates become U+FFFD. */
std::string Utf8ToUtf16Le(std::string_view utf8);
std::string Utf16LeToUtf8(const std::string &bytes);
/* WCHAR units <-> UTF-16LE bytes, lossless both ways: a WCHAR above U+FFFF becomes a
 * surrogate pair and a valid pair becomes one WCHAR; lone surrogates pass through. */
std::string WideToUtf16Le(const WCHAR *text, size_t count);
std::vector<WCHAR> Utf16LeToWide(const std::string &bytes);
/* Windows-1252 <-> UTF-16LE bytes; characters outside the code page become their
 * best fit, else '?', as the registry's A functions give them. */
std::string AnsiToUtf16Le(const char *text, size_t count);
std::string Utf16LeToAnsi(const std::string &bytes);

/* ---- Memory ----------------------------------------------------------------------- */

/* Zeroed memory mapped in one step, for the large buffers of a hive (its bytes,
 * the parser's index of keys, the slabs keys live in): taking thousands of small pages one fault at a
 * time costs more than the work done in them. From 2 MiB on the block lies in
 * whole huge pages on a huge-page boundary, asked for where the kernel has them. */
class PageBlock {
public:
    PageBlock() = default;
    PageBlock(PageBlock &&other) noexcept { *this = std::move(other); }
    PageBlock &operator=(PageBlock &&other) noexcept;
    PageBlock(const PageBlock &) = delete;
    PageBlock &operator=(const PageBlock &) = delete;
    ~PageBlock();

    /* Room for at least `capacity` bytes, keeping those held; false when the
     * memory cannot be had (the block is then as it was). */
    bool Reserve(size_t capacity);
    char *data() const { return data_; }
    size_t capacity() const { return capacity_; }

private:
    char *data_ = nullptr;
    size_t capacity_ = 0;
};

/* ---- Key tree ------------------------------------------------------------------- */

struct Value {
    std::string name;  /* UTF-8; "" is the default value */
    DWORD type = 0;
    std::string data;  /* raw bytes as Windows stores them (strings in UTF-16LE) */
};

/* A key's values in the order they were first set. A parsed key holds only where
 * its value lines lie in the hive text (checked when the file was parsed) and
 * reads them the first time its values are looked at, so a hive of many keys
 * costs a scan of its key lines. Reading is safe from several threads at once;
 * changing is for a key nobody else sees (a copy being edited). */
class ValueList {
public:
    ValueList() = default;
    ValueList(const ValueList &other);
    ValueList &operator=(const ValueList &other);

    const std::vector<Value> &Loaded() const;
    std::vector<Value> &Mutable() { return const_cast<std::vector<Value> &>(Loaded()); }
    size_t size() const { return Loaded().size(); }
    bool empty() const { return Loaded().empty(); }
    const Value &operator[](size_t i) const { return Loaded()[i]; }
    std::vector<Value>::const_iterator begin() const { return Loaded().begin(); }
    std::vector<Value>::const_iterator end() const { return Loaded().end(); }

    /* The parser's: value lines of `text` (a part of *source, already checked)
     * to be read after those recorded before. */
    void AddLines(std::string_view text, const std::shared_ptr<const void> &source);
    /* Whether lines are still waiting to be read (for tests). */
    bool Pending() const { return !loaded_.load(std::memory_order_acquire); }

private:
    mutable std::vector<Value> list_;
    mutable std::string_view first_;              /* the first run of lines, */
    mutable std::vector<std::string_view> more_;  /* those of later sections of the key */
    mutable std::shared_ptr<const void> source_;  /* holds the text they lie in */
    mutable std::atomic<bool> loaded_{true};
};

struct Key {
    std::string name;  /* UTF-8, case as created */
    ValueList values;
    std::vector<std::unique_ptr<Key>> subkeys; /* sorted by CompareNames */

    Key() = default;
    explicit Key(std::string n) : name(std::move(n)) {}
    std::unique_ptr<Key> Clone() const;

    /* Keys made with new live in slabs of their own (registry_hive.cpp). */
    static void *operator new(size_t size);
    static void operator delete(void *p, size_t size) noexcept;

    Key *FindSubkey(const std::string &n) const;
    /* The existing subkey of that name, else a new one. */
    Key *AddSubkey(const std::string &n, bool *created);
    bool RemoveSubkey(const std::string &n);
    const Value *FindValue(const std::string &n) const;
    void SetValue(const std::string &n, DWORD type, std::string data);
    bool RemoveValue(const std::string &n);
    /* The key at `path` below this one, or null. */
    const Key *Find(const std::vector<std::string> &path) const;
    Key *Find(const std::vector<std::string> &path);
};

/* ---- .reg text ------------------------------------------------------------------- */

extern const char kHiveHeader[];  /* "Windows Registry Editor Version 5.00" */

struct ParseResult {
    std::unique_ptr<Key> root;  /* always set; holds what parsed before an error */
    bool ok = true;
    int errorLine = 0;          /* 1-based line of the first error */
    std::string error;
};

/* Parses a hive file whose sections all lie under `rootName` ("HKEY_LOCAL_MACHINE").
 * UTF-8 (with or without a byte-order mark) or UTF-16LE with a byte-order mark.
 * Stops at the first line that does not parse. */
ParseResult ParseHive(const std::string &fileBytes, const std::string &rootName);
/* The same for bytes that `keep` holds: the tree holds on to them, and its keys
 * read their values from them when first asked. */
ParseResult ParseHive(std::string_view fileBytes, std::shared_ptr<const void> keep, const std::string &rootName);
/* Where the line at text[pos] ends (just past its '\n') when it is a value line
 * in one of the plain forms this stand-in writes: "name"="text", @="text" or
 * "name"=dword:digits, with no blank, escape or line break inside. Such a line is
 * one the full check of a value line passes; 0 for any other line, which is left
 * to that check. */
size_t PlainValueLineEnd(std::string_view text, size_t pos);
/* The hive as UTF-8 .reg text that ParseHive reads back to the same tree. */
std::string SerializeHive(const Key &root, const std::string &rootName);

/* Splits "A\B\C" into its components; false for a leading backslash or an empty
 * component in the middle ("A\\B"); one trailing backslash is allowed. */
bool SplitKeyPath(const std::string &path, std::vector<std::string> *parts);

/* ---- Hive files -------------------------------------------------------------- */

enum class HiveId { Machine, CurrentUser, Users };

/* "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS". */
const char *HiveRootName(HiveId id);
/* <root>/registry/HKLM.reg, HKCU.reg, HKU.reg under the current WINAPI_ROOT. */
std::string HivePath(HiveId id);

/* One parsed state of a hive file, shared by readers. */
struct Snapshot {
    std::shared_ptr<const Key> root;
    std::string path;
    bool corrupt = false;
    int errorLine = 0;
    std::string error;
};

/* The hive as the file holds it now (an empty tree when the file is absent; never
 * creates anything). Parsed files are cached by path, inode, size and times. */
std::shared_ptr<const Snapshot> LoadHive(HiveId id);

/* Changes the hive: under the hive's lock file the file is read again, `change`
 * edits a copy of the tree and sets *changed when it altered anything, and the
 * new text replaces the file through a temporary file and a rename. `change`
 * returns a Windows status; nothing is written unless it returns ERROR_SUCCESS.
 * A hive that does not parse is left alone: ERROR_REGISTRY_CORRUPT, with a
 * message on standard error. `unchanged`, when given, is asked first (under the
 * lock, on the tree as the file holds it): true means the change would alter
 * nothing, and ERROR_SUCCESS is returned without copying the tree. */
LONG ModifyHive(HiveId id, const std::function<LONG(Key &root, bool *changed)> &change,
                const std::function<bool(const Key &root)> &unchanged = nullptr);

}  // namespace reg
}  // namespace wa
