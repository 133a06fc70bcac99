/*
 * Reg* functions of the stand-in, the key-handle table, the WOW64 view rules and
 * the machine-registry reads of the other families.
 *
 * A key handle names a hive, the key's path as the caller asked for it and the view
 * it was opened in; the path is resolved against the hive's current state at every
 * call, so a change made by another process is seen at once and a key deleted under
 * an open handle gives ERROR_KEY_DELETED.
 */
#include "winapi/registry_hive.h"
#include "winapi/wa_private.h"

#include <cstring>
#include <map>
#include <mutex>

#ifndef ERROR_NOACCESS
#define ERROR_NOACCESS 998L
#endif

namespace {

using wa::reg::HiveId;
using wa::reg::Key;

/* ---- Access rights ------------------------------------------------------------- */

constexpr REGSAM kViewBits = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
constexpr REGSAM kGenericRead = 0x80000000u;
constexpr REGSAM kGenericWrite = 0x40000000u;
constexpr REGSAM kGenericExecute = 0x20000000u;
constexpr REGSAM kGenericAll = 0x10000000u;
constexpr REGSAM kMaximumAllowed = 0x02000000u;

REGSAM EffectiveAccess(REGSAM sam) {
    REGSAM a = sam & ~kViewBits;
    if (a & (kGenericRead | kGenericExecute)) a |= KEY_READ;
    if (a & kGenericWrite) a |= KEY_WRITE;
    if (a & (kGenericAll | kMaximumAllowed)) a |= KEY_ALL_ACCESS;
    return a;
}

/* ---- Views ----------------------------------------------------------------------- */

enum class View { Default, Wow32, Wow64 };

bool ViewOf(REGSAM sam, View inherited, View *view) {
    const REGSAM bits = sam & kViewBits;
    if (bits == kViewBits) return false;
    *view = bits == KEY_WOW64_64KEY ? View::Wow64 : bits == KEY_WOW64_32KEY ? View::Wow32 : inherited;
    return true;
}

bool Is64BitMachine(const wa::reg::Snapshot &machine);

/* HKLM\SOFTWARE\X -> HKLM\SOFTWARE\Wow6432Node\X for a 32-bit view of a 64-bit
 * machine; SOFTWARE\Classes is shared and SOFTWARE\Wow6432Node is already there.
 * `snap` is the hive's current state: one state answers the whole call. */
std::vector<std::string> PhysicalPath(const wa::reg::Snapshot &snap, HiveId hive,
                                      const std::vector<std::string> &logical, View view) {
    if (hive != HiveId::Machine || view == View::Wow64 || logical.empty() ||
        !wa::reg::NamesEqual(logical[0], "SOFTWARE"))
        return logical;
    if (logical.size() >= 2 &&
        (wa::reg::NamesEqual(logical[1], "Classes") || wa::reg::NamesEqual(logical[1], "Wow6432Node")))
        return logical;
    if (!Is64BitMachine(snap)) return logical;
    std::vector<std::string> physical = logical;
    physical.insert(physical.begin() + 1, "Wow6432Node");
    return physical;
}

/* ---- Handle table ------------------------------------------------------------------ */

struct OpenKey {
    HiveId hive = HiveId::Machine;
    std::vector<std::string> path; /* as the caller named it, before redirection */
    REGSAM access = 0;
    View view = View::Default;
    bool predefined = false;
};

std::mutex gHandleMutex;
std::map<uintptr_t, OpenKey> gHandles;
uintptr_t gNextHandle = 0x100;

bool Predefined(HKEY key, OpenKey *out) {
    *out = OpenKey();
    out->predefined = true;
    out->access = KEY_ALL_ACCESS;
    if (key == HKEY_LOCAL_MACHINE) {
        out->hive = HiveId::Machine;
    } else if (key == HKEY_CLASSES_ROOT) {
        out->hive = HiveId::Machine;
        out->path = {"SOFTWARE", "Classes"};
    } else if (key == HKEY_CURRENT_USER) {
        out->hive = HiveId::CurrentUser;
    } else if (key == HKEY_USERS) {
        out->hive = HiveId::Users;
    } else {
        return false;
    }
    return true;
}

bool LookupKey(HKEY key, OpenKey *out) {
    if (Predefined(key, out)) return true;
    std::lock_guard<std::mutex> lock(gHandleMutex);
    auto it = gHandles.find(reinterpret_cast<uintptr_t>(key));
    if (it == gHandles.end()) return false;
    *out = it->second;
    return true;
}

/* ---- Text at the boundary ------------------------------------------------------------ */

enum class Charset { Ansi, Wide };

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::string NameFromAnsi(const char *name) {
    if (!name) return std::string();
    return wa::reg::Utf16LeToUtf8(wa::reg::AnsiToUtf16Le(name, strlen(name)));
}

std::string NameFromWide(const WCHAR *name) {
    if (!name) return std::string();
    return wa::reg::Utf16LeToUtf8(wa::reg::WideToUtf16Le(name, wcslen(name)));
}

std::string NameToAnsi(const std::string &utf8) {
    return wa::reg::Utf16LeToAnsi(wa::reg::Utf8ToUtf16Le(utf8));
}

/* Stored bytes as the caller's side sees them. */
std::string DataOut(const wa::reg::Value &v, Charset cs) {
    if (!IsStringType(v.type)) return v.data;
    if (cs == Charset::Ansi) return wa::reg::Utf16LeToAnsi(v.data);
    const std::vector<WCHAR> wide = wa::reg::Utf16LeToWide(v.data);
    return std::string(reinterpret_cast<const char *>(wide.data()), wide.size() * sizeof(WCHAR));
}

/* The caller's bytes as they are stored. */
std::string DataIn(DWORD type, const BYTE *data, DWORD size, Charset cs) {
    if (!data || size == 0) return std::string();
    if (!IsStringType(type)) return std::string(reinterpret_cast<const char *>(data), size);
    if (cs == Charset::Ansi) return wa::reg::AnsiToUtf16Le(reinterpret_cast<const char *>(data), size);
    std::vector<WCHAR> wide(size / sizeof(WCHAR));
    if (!wide.empty()) memcpy(wide.data(), data, wide.size() * sizeof(WCHAR));
    return wa::reg::WideToUtf16Le(wide.data(), wide.size());
}

bool ValidName(const std::string &name) { return name.find('\n') == std::string::npos; }

/* ---- Resolution ------------------------------------------------------------------------- */

/* The handle's key, `sub` below it and the view of the call. */
struct Target {
    OpenKey base;
    std::vector<std::string> logical;
    View view = View::Default;
};

LONG Resolve(HKEY key, const std::string *sub, REGSAM sam, Target *t) {
    if (!LookupKey(key, &t->base)) return ERROR_INVALID_HANDLE;
    if (!ViewOf(sam, t->base.view, &t->view)) return ERROR_INVALID_PARAMETER;
    t->logical = t->base.path;
    if (sub) {
        std::vector<std::string> parts;
        if (!wa::reg::SplitKeyPath(*sub, &parts)) return ERROR_BAD_PATHNAME;
        for (const auto &p : parts)
            if (!ValidName(p)) return ERROR_INVALID_PARAMETER;
        t->logical.insert(t->logical.end(), parts.begin(), parts.end());
    }
    return ERROR_SUCCESS;
}

/* A new handle for the key that `t` names, with the access `sam` asks for. */
HKEY InsertKey(const Target &t, REGSAM sam) {
    OpenKey opened;
    opened.hive = t.base.hive;
    opened.path = t.logical;
    opened.access = EffectiveAccess(sam);
    opened.view = t.view;
    std::lock_guard<std::mutex> lock(gHandleMutex);
    const uintptr_t h = gNextHandle;
    gNextHandle += 4;
    gHandles[h] = std::move(opened);
    return reinterpret_cast<HKEY>(h);
}

/* The key of an open handle in the hive's current state, or null. */
const Key *KeyOf(const wa::reg::Snapshot &snap, const OpenKey &k) {
    return snap.root->Find(PhysicalPath(snap, k.hive, k.path, k.view));
}

LONG OpenCore(HKEY key, const std::string *sub, REGSAM sam, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Target t;
    LONG rc = Resolve(key, sub, sam, &t);
    if (rc != ERROR_SUCCESS) return rc;
    auto snap = wa::reg::LoadHive(t.base.hive);
    if (!t.base.predefined && !KeyOf(*snap, t.base)) return ERROR_KEY_DELETED;
    if (!snap->root->Find(PhysicalPath(*snap, t.base.hive, t.logical, t.view))) return ERROR_FILE_NOT_FOUND;
    *result = InsertKey(t, sam);
    return ERROR_SUCCESS;
}

LONG CreateCore(HKEY key, const std::string *sub, REGSAM sam, PHKEY result, LPDWORD disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (!sub) return ERROR_INVALID_PARAMETER;
    Target t;
    LONG rc = Resolve(key, sub, sam, &t);
    if (rc != ERROR_SUCCESS) return rc;
    auto snap = wa::reg::LoadHive(t.base.hive);
    const std::vector<std::string> physical = PhysicalPath(*snap, t.base.hive, t.logical, t.view);
    if (!t.base.predefined && !KeyOf(*snap, t.base)) return ERROR_KEY_DELETED;
    bool created = false;
    if (!snap->root->Find(physical)) {
        if (!(t.base.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
        const std::vector<std::string> basePhysical = PhysicalPath(*snap, t.base.hive, t.base.path, t.base.view);
        rc = wa::reg::ModifyHive(t.base.hive, [&](Key &root, bool *changed) -> LONG {
            if (!t.base.predefined && !root.Find(basePhysical)) return ERROR_KEY_DELETED;
            Key *k = &root;
            for (const auto &part : physical) {
                bool added = false;
                k = k->AddSubkey(part, &added);
                created = created || added;
            }
            *changed = created;
            return ERROR_SUCCESS;
        });
        if (rc != ERROR_SUCCESS) return rc;
    }
    *result = InsertKey(t, sam);
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

/* An open handle's key in the hive state that answers the call. */
struct Located {
    OpenKey key;
    std::shared_ptr<const wa::reg::Snapshot> snap;
    const Key *found = nullptr;
};

/* Finds the handle's key for a value operation, checking the access it needs. */
LONG KeyForValues(HKEY key, REGSAM need, Located *at) {
    if (!LookupKey(key, &at->key)) return ERROR_INVALID_HANDLE;
    if ((at->key.access & need) != need) return ERROR_ACCESS_DENIED;
    at->snap = wa::reg::LoadHive(at->key.hive);
    at->found = KeyOf(*at->snap, at->key);
    if (!at->found) return at->key.predefined ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    return ERROR_SUCCESS;
}

/* Hands out value data by the size protocol of Reg*: *size gets the size needed,
 * ERROR_MORE_DATA (and no bytes) when `data` is too small. */
LONG CopyData(const std::string &bytes, LPBYTE data, LPDWORD size) {
    const DWORD needed = static_cast<DWORD>(bytes.size());
    if (data) {
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        if (needed) memcpy(data, bytes.data(), needed);
    }
    if (size) *size = needed;
    return ERROR_SUCCESS;
}

LONG QueryCore(HKEY key, const std::string &name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size,
               Charset cs) {
    if (reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
    Located at;
    const LONG rc = KeyForValues(key, KEY_QUERY_VALUE, &at);
    if (rc != ERROR_SUCCESS) return rc;
    const wa::reg::Value *v = at.found->FindValue(name);
    if (!v) return ERROR_FILE_NOT_FOUND;
    if (type) *type = v->type;
    return CopyData(DataOut(*v, cs), data, size);
}

LONG SetCore(HKEY key, const std::string &name, DWORD type, const BYTE *data, DWORD size, Charset cs) {
    if (!data && size != 0) return ERROR_NOACCESS;
    if (!ValidName(name)) return ERROR_INVALID_PARAMETER;
    Located at;
    const LONG rc = KeyForValues(key, KEY_SET_VALUE, &at);
    if (rc != ERROR_SUCCESS) return rc;
    const OpenKey &k = at.key;
    const std::string stored = DataIn(type, data, size, cs);
    const std::vector<std::string> physical = PhysicalPath(*at.snap, k.hive, k.path, k.view);
    auto holdsAlready = [&](const Key &root) {
        const Key *target = root.Find(physical);
        const wa::reg::Value *old = target ? target->FindValue(name) : nullptr;
        return old && old->type == type && old->data == stored;
    };
    return wa::reg::ModifyHive(
        k.hive,
        [&](Key &root, bool *changed) -> LONG {
            Key *target = root.Find(physical);
            if (!target) return k.predefined ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
            target->SetValue(name, type, stored);
            *changed = true;
            return ERROR_SUCCESS;
        },
        holdsAlready);
}

/* ---- Machine values ------------------------------------------------------------------- */

const Key *MachineKey(const wa::reg::Snapshot &snap, const std::string &keyPath) {
    std::string path = keyPath;
    for (const char *prefix : {"HKEY_LOCAL_MACHINE\\", "HKLM\\"}) {
        const size_t n = strlen(prefix);
        if (path.size() >= n && wa::reg::NamesEqual(path.substr(0, n), prefix)) {
            path.erase(0, n);
            break;
        }
    }
    std::vector<std::string> parts;
    if (!wa::reg::SplitKeyPath(path, &parts)) return nullptr;
    return snap.root->Find(parts);
}

/* The value `name` of the machine key `keyPath`, or null. */
const wa::reg::Value *MachineValue(const wa::reg::Snapshot &snap, const std::string &keyPath,
                                   const std::string &name) {
    const Key *k = MachineKey(snap, keyPath);
    return k ? k->FindValue(name) : nullptr;
}

bool IsText(const wa::reg::Value *v) { return v && (v->type == REG_SZ || v->type == REG_EXPAND_SZ); }

/* A string value's text up to its first terminator. */
std::string StringText(const std::string &data) {
    size_t units = data.size() / 2;
    for (size_t u = 0; u < data.size() / 2; ++u) {
        if (data[2 * u] == 0 && data[2 * u + 1] == 0) {
            units = u;
            break;
        }
    }
    return wa::reg::Utf16LeToUtf8(data.substr(0, units * 2));
}

const char kEnvironmentKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

bool Is64BitMachine(const wa::reg::Snapshot &machine) {
    const wa::reg::Value *v = MachineValue(machine, kEnvironmentKey, "PROCESSOR_ARCHITECTURE");
    if (!IsText(v)) return false;
    const std::string arch = StringText(v->data);
    return wa::reg::NamesEqual(arch, "AMD64") || wa::reg::NamesEqual(arch, "ARM64") ||
           wa::reg::NamesEqual(arch, "IA64");
}

}  // namespace

/* ---- Machine-registry reads of the other families ------------------------------------------ */

namespace wa {

bool ReadMachineString(const std::string &key, const std::string &name, std::string *value) {
    auto snap = reg::LoadHive(reg::HiveId::Machine);
    const reg::Value *v = MachineValue(*snap, key, name);
    if (!IsText(v)) return false;
    if (value) *value = StringText(v->data);
    return true;
}

bool ReadMachineDword(const std::string &key, const std::string &name, DWORD *value) {
    auto snap = reg::LoadHive(reg::HiveId::Machine);
    const reg::Value *v = MachineValue(*snap, key, name);
    if (!v || v->type != REG_DWORD || v->data.size() != 4) return false;
    if (value) {
        DWORD d = 0;
        for (int i = 3; i >= 0; --i) d = (d << 8) | static_cast<unsigned char>(v->data[static_cast<size_t>(i)]);
        *value = d;
    }
    return true;
}

bool MachineIs64Bit() { return Is64BitMachine(*reg::LoadHive(reg::HiveId::Machine)); }

}  // namespace wa

/* ---- Reg* functions ------------------------------------------------------------------------- */

extern "C" {

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM sam, PHKEY result) {
    const std::string sub = NameFromAnsi(subKey);
    return OpenCore(key, subKey ? &sub : nullptr, sam, result);
}

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM sam, PHKEY result) {
    const std::string sub = NameFromWide(subKey);
    return OpenCore(key, subKey ? &sub : nullptr, sam, result);
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM sam, LPSECURITY_ATTRIBUTES,
                     PHKEY result, LPDWORD disposition) {
    const std::string sub = NameFromAnsi(subKey);
    return CreateCore(key, subKey ? &sub : nullptr, sam, result, disposition);
}

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM sam, LPSECURITY_ATTRIBUTES,
                     PHKEY result, LPDWORD disposition) {
    const std::string sub = NameFromWide(subKey);
    return CreateCore(key, subKey ? &sub : nullptr, sam, result, disposition);
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    return QueryCore(key, NameFromAnsi(name), reserved, type, data, size, Charset::Ansi);
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    return QueryCore(key, NameFromWide(name), reserved, type, data, size, Charset::Wide);
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE *data, DWORD size) {
    return SetCore(key, NameFromAnsi(name), type, data, size, Charset::Ansi);
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE *data, DWORD size) {
    return SetCore(key, NameFromWide(name), type, data, size, Charset::Wide);
}

LONG RegDeleteValueA(HKEY key, LPCSTR name) {
    const std::string n = NameFromAnsi(name);
    Located at;
    const LONG rc = KeyForValues(key, KEY_SET_VALUE, &at);
    if (rc != ERROR_SUCCESS) return rc;
    if (!at.found->FindValue(n)) return ERROR_FILE_NOT_FOUND;
    const OpenKey &k = at.key;
    const std::vector<std::string> physical = PhysicalPath(*at.snap, k.hive, k.path, k.view);
    return wa::reg::ModifyHive(k.hive, [&](Key &root, bool *changed) -> LONG {
        Key *target = root.Find(physical);
        if (!target) return ERROR_KEY_DELETED;
        if (!target->RemoveValue(n)) return ERROR_FILE_NOT_FOUND;
        *changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) {
    if (!subKey) return ERROR_INVALID_PARAMETER;
    const std::string sub = NameFromAnsi(subKey);
    Target t;
    LONG rc = Resolve(key, &sub, 0, &t);
    if (rc != ERROR_SUCCESS) return rc;
    auto snap = wa::reg::LoadHive(t.base.hive);
    const std::vector<std::string> physical = PhysicalPath(*snap, t.base.hive, t.logical, t.view);
    if (physical.empty()) return ERROR_ACCESS_DENIED;
    const Key *victim = snap->root->Find(physical);
    if (!victim) return t.base.predefined || KeyOf(*snap, t.base) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    if (!victim->subkeys.empty()) return ERROR_ACCESS_DENIED;
    std::vector<std::string> parentPath(physical.begin(), physical.end() - 1);
    return wa::reg::ModifyHive(t.base.hive, [&](Key &root, bool *changed) -> LONG {
        Key *parent = root.Find(parentPath);
        Key *k = parent ? parent->FindSubkey(physical.back()) : nullptr;
        if (!k) return ERROR_FILE_NOT_FOUND;
        if (!k->subkeys.empty()) return ERROR_ACCESS_DENIED;
        parent->RemoveSubkey(physical.back());
        *changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPSTR cls,
                   LPDWORD clsSize, PFILETIME lastWrite) {
    if (!name || !nameSize || reserved) return ERROR_INVALID_PARAMETER;
    Located at;
    const LONG rc = KeyForValues(key, KEY_ENUMERATE_SUB_KEYS, &at);
    if (rc != ERROR_SUCCESS) return rc;
    if (index >= at.found->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    const std::string ansi = NameToAnsi(at.found->subkeys[index]->name);
    if (*nameSize < ansi.size() + 1) return ERROR_MORE_DATA;
    memcpy(name, ansi.c_str(), ansi.size() + 1);
    *nameSize = static_cast<DWORD>(ansi.size());
    if (clsSize) {
        if (cls) {
            if (*clsSize < 1) return ERROR_MORE_DATA;
            cls[0] = '\0';
        }
        *clsSize = 0;
    }
    if (lastWrite) {
        lastWrite->dwLowDateTime = 0;
        lastWrite->dwHighDateTime = 0;
    }
    return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPDWORD type,
                   LPBYTE data, LPDWORD dataSize) {
    if (!name || !nameSize || reserved || (data && !dataSize)) return ERROR_INVALID_PARAMETER;
    Located at;
    const LONG rc = KeyForValues(key, KEY_QUERY_VALUE, &at);
    if (rc != ERROR_SUCCESS) return rc;
    if (index >= at.found->values.size()) return ERROR_NO_MORE_ITEMS;
    const wa::reg::Value &v = at.found->values[index];
    const std::string ansi = NameToAnsi(v.name);
    if (*nameSize < ansi.size() + 1) return ERROR_MORE_DATA;
    memcpy(name, ansi.c_str(), ansi.size() + 1);
    *nameSize = static_cast<DWORD>(ansi.size());
    if (type) *type = v.type;
    return CopyData(DataOut(v, Charset::Ansi), data, dataSize);
}

LONG RegCloseKey(HKEY key) {
    OpenKey k;
    if (Predefined(key, &k)) return ERROR_SUCCESS;
    std::lock_guard<std::mutex> lock(gHandleMutex);
    return gHandles.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // extern "C"
