/* Reg* functions against Windows behaviour: status codes, sizes, out parameters
 * left alone on failure, handle checks, views; on the stand-in also the hive file
 * they leave and how it is read and written. */
#include "winapi/winapi.h"

#include <gtest/gtest.h>

#ifdef WINAPI_STANDIN
#include "winapi/registry_hive.h"
#include "winapi/wa_private.h"
#include "winapi/wa_testhooks.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "support/scratch_root.h"
#include "support/wine.h"

namespace {

using vt_test::PathExists;
using vt_test::ScratchRoot;

#ifdef WINAPI_STANDIN
const std::string kMachine64 =
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment]\n"
    "\"PROCESSOR_ARCHITECTURE\"=\"AMD64\"\n\n";
const std::string kMachine32 =
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment]\n"
    "\"PROCESSOR_ARCHITECTURE\"=\"x86\"\n\n";
#else
/* On Windows the machine is the one the test runs on: its processors are never written. */
const std::string kMachine64;
#endif

/* An open key that is closed at the end of the test. */
class Key {
public:
    Key() = default;
    ~Key() {
        if (k_) RegCloseKey(k_);
    }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    PHKEY out() { return &k_; }
    HKEY get() const { return k_; }

private:
    HKEY k_ = nullptr;
};

LONG Create(const char *path, REGSAM sam, Key *key, DWORD *disposition = nullptr) {
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr, key->out(),
                           disposition);
}

LONG SetString(HKEY k, const char *name, const char *text) {
    return RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                          static_cast<DWORD>(strlen(text) + 1));
}

std::string QueryA(HKEY k, const char *name, LONG *rc, DWORD *type = nullptr) {
    BYTE buf[512];
    DWORD size = sizeof buf;
    *rc = RegQueryValueExA(k, name, nullptr, type, buf, &size);
    return *rc == ERROR_SUCCESS ? std::string(reinterpret_cast<char *>(buf), size) : std::string();
}

#ifdef WINAPI_STANDIN
bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }
#endif

/* The view a 32-bit program such as the agent sees by default: a 64-bit test program
 * on Windows asks for it by name. */
#if defined(WINAPI_STANDIN) || !defined(_WIN64)
constexpr REGSAM kAgentView = 0;
#else
constexpr REGSAM kAgentView = KEY_WOW64_32KEY;
#endif

/* The machine the test runs on has a 64-bit Windows (the stand-in's machine says so
 * in its registry). */
bool Machine64() {
#ifdef WINAPI_STANDIN
    return wa::MachineIs64Bit();
#elif defined(_WIN64)
    return true;
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}

/* The text value `name` of the key at `path` in the machine's 64-bit (native) view,
 * or "<no key>". */
std::string NativeValue(const std::string &path, const char *name) {
    Key k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, k.out()) != ERROR_SUCCESS)
        return "<no key>";
    LONG rc;
    return QueryA(k.get(), name, &rc);
}

TEST(RegistryApi, ReadsOfAMissingHiveFindNothingAndCreateNothing) {
#ifndef WINAPI_STANDIN
    GTEST_SKIP() << "the stand-in's machine without a hive file";
#else
    ScratchRoot root;
    HKEY k = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nothing", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(k, nullptr);
    DWORD size = 7;
    EXPECT_EQ(RegQueryValueExA(HKEY_LOCAL_MACHINE, "v", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(size, 7u);
    std::string text;
    EXPECT_FALSE(wa::ReadMachineString("SYSTEM\\Setup", "x", &text));
    EXPECT_FALSE(wa::MachineIs64Bit());
    EXPECT_FALSE(PathExists(root.path() + "/registry"));
#endif
}

TEST(RegistryApi, QuerySizesBuffersAndOutParametersFollowWindows) {
    ScratchRoot root;
    root.WriteHive("[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\n\"S\"=\"abc\"\n\"D\"=dword:0000000c\n\"B\"=hex:01,02,03\n"
                   "@=\"default\"\n");
    Key k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\t", 0, KEY_READ, k.out()), ERROR_SUCCESS);
    ASSERT_NE(k.get(), nullptr);

    /* Size-only queries: A counts bytes of ANSI text, W counts WCHARs. */
    DWORD type = 0xdeadbeef, size = 0;
    EXPECT_EQ(RegQueryValueExA(k.get(), "S", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 4u);
    size = 0;
    EXPECT_EQ(RegQueryValueExW(k.get(), L"s", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4 * sizeof(WCHAR));
    EXPECT_EQ(RegQueryValueExA(k.get(), "S", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);

    /* Exact, one short, and a canary after the buffer. */
    struct Case {
        const char *name;
        DWORD given;
        LONG rc;
        DWORD sizeAfter;
        std::string data;
    } cases[] = {
        {"S", 4, ERROR_SUCCESS, 4, std::string("abc\0", 4)},
        {"S", 3, ERROR_MORE_DATA, 4, ""},
        {"S", 0, ERROR_MORE_DATA, 4, ""},
        {"D", 4, ERROR_SUCCESS, 4, std::string("\x0c\0\0\0", 4)},
        {"D", 8, ERROR_SUCCESS, 4, std::string("\x0c\0\0\0", 4)},
        {"B", 2, ERROR_MORE_DATA, 3, ""},
        {"", 8, ERROR_SUCCESS, 8, std::string("default\0", 8)},
        {nullptr, 8, ERROR_SUCCESS, 8, std::string("default\0", 8)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name ? c.name : "(null)");
        unsigned char buf[16];
        memset(buf, 0xCC, sizeof buf);
        DWORD sz = c.given;
        EXPECT_EQ(RegQueryValueExA(k.get(), c.name, nullptr, nullptr, buf, &sz), c.rc);
        EXPECT_EQ(sz, c.sizeAfter);
        if (c.rc == ERROR_SUCCESS) {
            EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), sz), c.data);
        }
        const size_t untouched = c.rc == ERROR_SUCCESS ? sz : 0;
        for (size_t i = untouched; i < sizeof buf; ++i) EXPECT_EQ(buf[i], 0xCC) << i;
    }

    /* W text comes back in WCHARs; one WCHAR short is more data. */
    WCHAR wbuf[6];
    for (auto &w : wbuf) w = 0x7777;
    size = 4 * sizeof(WCHAR);
    EXPECT_EQ(RegQueryValueExW(k.get(), L"S", nullptr, nullptr, reinterpret_cast<LPBYTE>(wbuf), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(wbuf), L"abc");
    EXPECT_EQ(wbuf[4], static_cast<WCHAR>(0x7777));
    size = 4 * sizeof(WCHAR) - 1;
    EXPECT_EQ(RegQueryValueExW(k.get(), L"S", nullptr, nullptr, reinterpret_cast<LPBYTE>(wbuf), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 4 * sizeof(WCHAR));

    /* Bad parameters and a missing value leave the out parameters alone. */
    DWORD reserved = 0;
    type = 0xdeadbeef;
    size = 99;
    BYTE one[4];
    EXPECT_EQ(RegQueryValueExA(k.get(), "S", &reserved, &type, one, &size), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExA(k.get(), "S", nullptr, &type, one, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExA(k.get(), "Missing", nullptr, &type, one, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ_OR_WINE(0xdeadbeefu, REG_NONE, type);  // Wine clears the type
    EXPECT_EQ(size, 99u);
}

TEST(RegistryApi, WritesStoreWindowsDataAndLeaveAnImportableFile) {
    ScratchRoot root;
    Key k;
    DWORD disposition = 0;
    ASSERT_EQ(Create("SOFTWARE\\Corvane\\Write", KEY_ALL_ACCESS, &k, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    Key again;
    ASSERT_EQ(Create("software\\CORVANE\\write", KEY_ALL_ACCESS, &again, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    EXPECT_NE(again.get(), k.get());

    EXPECT_EQ(SetString(k.get(), "Name", "text"), ERROR_SUCCESS);
    EXPECT_EQ(SetString(k.get(), "Ansi", "caf\xe9 \x80"), ERROR_SUCCESS);
    const DWORD twelve = 12;
    EXPECT_EQ(RegSetValueExA(k.get(), "Count", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&twelve), 4),
              ERROR_SUCCESS);
    const WCHAR wide[] = {L'w', static_cast<WCHAR>(0x1F600), 0};
    EXPECT_EQ(RegSetValueExW(again.get(), L"Wide", 0, REG_SZ, reinterpret_cast<const BYTE *>(wide), sizeof wide),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(k.get(), "Null", 0, REG_BINARY, nullptr, 3), 998);

#ifdef WINAPI_STANDIN
    const std::string hive = root.ReadHive();
    EXPECT_EQ(hive.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    EXPECT_TRUE(Contains(hive, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Write]\n")) << hive;
    EXPECT_TRUE(Contains(hive, "\n\"Name\"=\"text\"\n")) << hive;
    EXPECT_TRUE(Contains(hive, "\n\"Ansi\"=\"caf\xc3\xa9 \xe2\x82\xac\"\n")) << hive;
    EXPECT_TRUE(Contains(hive, "\n\"Count\"=dword:0000000c\n")) << hive;
    EXPECT_TRUE(Contains(hive, "\n\"Wide\"=\"w\xf0\x9f\x98\x80\"\n")) << hive;
    EXPECT_TRUE(wa::reg::ParseHive(hive, "HKEY_LOCAL_MACHINE").ok);
#endif

    LONG rc;
    EXPECT_EQ(QueryA(k.get(), "ANSI", &rc), std::string("caf\xe9 \x80\0", 7));
    WCHAR back[4] = {};
    DWORD size = sizeof back;
    EXPECT_EQ(RegQueryValueExW(k.get(), L"Wide", nullptr, nullptr, reinterpret_cast<LPBYTE>(back), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, sizeof wide);
    EXPECT_EQ(std::wstring(back), std::wstring(wide));
    /* A character the ANSI code page lacks reads as '?'. */
    EXPECT_EQ(QueryA(k.get(), "Wide", &rc), std::string("w?\0", 3));
}

TEST(RegistryApi, HandlesAreCheckedLikeWindows) {
    ScratchRoot root;
    root.WriteHive("[HKEY_LOCAL_MACHINE\\SOFTWARE\\H]\n\"v\"=\"1\"\n");
    HKEY a = nullptr, b = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\H", 0, KEY_READ, &a), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(a, nullptr, 0, KEY_READ, &b), ERROR_SUCCESS);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(a, b);
    EXPECT_NE(a, HKEY_LOCAL_MACHINE);
    LONG rc;
    EXPECT_EQ(QueryA(b, "v", &rc), std::string("1\0", 2));
    EXPECT_EQ(RegCloseKey(a), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(a), ERROR_INVALID_HANDLE);
    QueryA(a, "v", &rc);
    EXPECT_EQ(rc, ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(b), ERROR_SUCCESS);

    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x12345678)), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    HKEY out = reinterpret_cast<HKEY>(0x1);
    EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(0x12345678), "x", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
    EXPECT_EQ(out, nullptr);
    if (!vt_test::UnderWine()) {  // Wine writes through the missing out parameter and the program dies
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\SOFTWARE", 0, KEY_READ, &out), ERROR_BAD_PATHNAME);
    const LONG bothViews =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ | KEY_WOW64_32KEY | KEY_WOW64_64KEY, &out);
    if (bothViews == ERROR_SUCCESS && vt_test::UnderWine()) {
        RegCloseKey(out);  // Wine takes both views at once
    } else {
        EXPECT_EQ(bothViews, ERROR_INVALID_PARAMETER);
    }
#ifdef WINAPI_STANDIN
    /* A line break in a name could not be written back to the hive file. */
    Key h;
    ASSERT_EQ(Create("SOFTWARE\\H", KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
    EXPECT_EQ(SetString(h.get(), "a\nb", "x"), ERROR_INVALID_PARAMETER);
    Key broken;
    EXPECT_EQ(Create("SOFTWARE\\a\nb", KEY_ALL_ACCESS, &broken), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(wa::reg::ParseHive(root.ReadHive(), "HKEY_LOCAL_MACHINE").ok);
#endif
}

TEST(RegistryApi, AccessRightsOfTheHandleAreEnforced) {
    ScratchRoot root;
    root.WriteHive("[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"v\"=\"1\"\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\Sub]\n");
    Key readOnly, writeOnly, sub;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A", 0, KEY_QUERY_VALUE, readOnly.out()), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A", 0, KEY_SET_VALUE, writeOnly.out()), ERROR_SUCCESS);
    EXPECT_EQ(SetString(readOnly.get(), "v", "2"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(readOnly.get(), "v"), ERROR_ACCESS_DENIED);
    LONG rc;
    QueryA(writeOnly.get(), "v", &rc);
    EXPECT_EQ(rc, ERROR_ACCESS_DENIED);
    char name[32];
    DWORD nameSize = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(readOnly.get(), 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
    /* Creating below a read handle: an existing key opens, a new one is refused. */
    EXPECT_EQ(RegCreateKeyExA(readOnly.get(), "Sub", 0, nullptr, 0, KEY_READ, nullptr, sub.out(), nullptr),
              ERROR_SUCCESS);
    HKEY fresh = nullptr;
    const LONG made = RegCreateKeyExA(readOnly.get(), "New", 0, nullptr, 0, KEY_READ, nullptr, &fresh, nullptr);
    if (made == ERROR_SUCCESS && vt_test::UnderWine()) {
        RegCloseKey(fresh);  // Wine makes it
    } else {
        EXPECT_EQ(made, ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(SetString(writeOnly.get(), "v", "2"), ERROR_SUCCESS);
    EXPECT_EQ(NativeValue("SOFTWARE\\A", "v"), std::string("2\0", 2));
#ifdef WINAPI_STANDIN
    EXPECT_TRUE(Contains(root.ReadHive(), "\"v\"=\"2\""));
#endif
}

TEST(RegistryApi, EnumerationAndDeletion) {
    ScratchRoot root;
    Key k;
    ASSERT_EQ(Create("SOFTWARE\\E", KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
    for (const char *sub : {"beta", "Alpha", "gamma"}) {
        Key s;
        ASSERT_EQ(RegCreateKeyExA(k.get(), sub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, s.out(), nullptr),
                  ERROR_SUCCESS);
    }
    std::vector<std::string> names;
    char name[16];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        const LONG rc = RegEnumKeyExA(k.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(rc, ERROR_SUCCESS);
        EXPECT_EQ(size, strlen(name));
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "gamma"}));
    DWORD tight = 5; /* "Alpha" needs 6 with its terminator */
    EXPECT_EQ(RegEnumKeyExA(k.get(), 0, name, &tight, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);

    ASSERT_EQ(SetString(k.get(), "second", "22"), ERROR_SUCCESS);
    ASSERT_EQ(SetString(k.get(), "first", "1"), ERROR_SUCCESS);
    /* The stand-in keeps values in the order they were made; Windows promises no
     * order (Wine sorts them by name), so each value's index is looked up first. */
    DWORD second = 0, first = 0;
    for (DWORD i = 0; i < 2; ++i) {
        DWORD size = sizeof name;
        ASSERT_EQ(RegEnumValueA(k.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
        (std::string(name) == "second" ? second : first) = i;
    }
    EXPECT_NE(second, first);
#ifdef WINAPI_STANDIN
    EXPECT_EQ(second, 0u);
#endif
    DWORD nameSize = sizeof name, type = 0, dataSize = 2;
    BYTE data[8];
    EXPECT_EQ(RegEnumValueA(k.get(), second, name, &nameSize, nullptr, &type, data, &dataSize), ERROR_MORE_DATA);
    EXPECT_EQ(std::string(name), "second");
    EXPECT_EQ(dataSize, 3u);
    nameSize = sizeof name;
    dataSize = sizeof data;
    EXPECT_EQ(RegEnumValueA(k.get(), first, name, &nameSize, nullptr, &type, data, &dataSize), ERROR_SUCCESS);
    EXPECT_EQ(std::string(name), "first");
    EXPECT_EQ(nameSize, 5u);
    EXPECT_EQ(dataSize, 2u);
    nameSize = sizeof name;
    EXPECT_EQ(RegEnumValueA(k.get(), 2, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

    EXPECT_EQ(RegDeleteValueA(k.get(), "FIRST"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(k.get(), "first"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\E"), ERROR_ACCESS_DENIED); /* has subkeys */
    EXPECT_EQ(RegDeleteKeyA(k.get(), "missing"), ERROR_FILE_NOT_FOUND);
    Key gamma;
    ASSERT_EQ(RegOpenKeyExA(k.get(), "GAMMA", 0, KEY_ALL_ACCESS, gamma.out()), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(k.get(), "gamma"), ERROR_SUCCESS);
    EXPECT_EQ(SetString(gamma.get(), "v", "x"), ERROR_KEY_DELETED);
    Key gone;
    EXPECT_EQ(RegOpenKeyExA(k.get(), "gamma", 0, KEY_READ, gone.out()), ERROR_FILE_NOT_FOUND);
#ifdef WINAPI_STANDIN
    const std::string hive = root.ReadHive();
    EXPECT_FALSE(Contains(hive, "gamma")) << hive;
    EXPECT_FALSE(Contains(hive, "\"first\"")) << hive;
    EXPECT_TRUE(Contains(hive, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\E\\beta]")) << hive;
#endif
}

TEST(RegistryApi, Wow64ViewsRedirectSoftwareExceptClasses) {
    /* `view` kAgentView is what the 32-bit agent gets without asking for a view. */
    struct Case {
        bool machine64;
        REGSAM view;
        const char *path;
        const char *lands;  /* in the 64-bit view */
        const char *absent;
        const char *wineLands;  /* where Wine puts it instead, or nullptr */
    } cases[] = {
        {true, kAgentView, "SOFTWARE\\Corvane\\V", "SOFTWARE\\Wow6432Node\\Corvane\\V", "SOFTWARE\\Corvane", nullptr},
        {true, KEY_WOW64_32KEY, "Software\\Corvane\\V", "Software\\Wow6432Node\\Corvane\\V", "Software\\Corvane", nullptr},
        {true, KEY_WOW64_64KEY, "SOFTWARE\\Corvane\\V", "SOFTWARE\\Corvane\\V", "Wow6432Node", nullptr},
        {false, kAgentView, "SOFTWARE\\Corvane\\V", "SOFTWARE\\Corvane\\V", "Wow6432Node", nullptr},
        {false, KEY_WOW64_32KEY, "SOFTWARE\\Corvane\\V", "SOFTWARE\\Corvane\\V", "Wow6432Node", nullptr},
        {true, kAgentView, "SOFTWARE\\Classes\\Installer\\Products\\P", "SOFTWARE\\Classes\\Installer\\Products\\P",
         "Wow6432Node", "SOFTWARE\\Wow6432Node\\Classes\\Installer\\Products\\P"},
        {true, kAgentView, "SOFTWARE\\Wow6432Node\\Y", "SOFTWARE\\Wow6432Node\\Y", "Wow6432Node\\Wow6432Node", nullptr},
        {true, kAgentView, "SYSTEM\\CurrentControlSet\\Control\\Other", "SYSTEM\\CurrentControlSet\\Control\\Other",
         "Wow6432Node", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.path) + (c.machine64 ? " on 64-bit" : " on 32-bit"));
        ScratchRoot root;
#ifdef WINAPI_STANDIN
        root.WriteHive(c.machine64 ? kMachine64 : kMachine32);
#else
        if (c.machine64 != Machine64()) continue;  // the machine the test runs on is the only one
#endif
        EXPECT_EQ(Machine64(), c.machine64);
        Key k;
        ASSERT_EQ(Create(c.path, KEY_ALL_ACCESS | c.view, &k), ERROR_SUCCESS);
        ASSERT_EQ(SetString(k.get(), "v", "1"), ERROR_SUCCESS);
        const bool wineElsewhere = c.wineLands != nullptr && vt_test::UnderWine();  // Wine redirects Classes too
        EXPECT_EQ(NativeValue(wineElsewhere ? c.wineLands : c.lands, "v"), std::string("1\0", 2));
#ifdef WINAPI_STANDIN
        const std::string hive = root.ReadHive();
        EXPECT_TRUE(Contains(hive, "[HKEY_LOCAL_MACHINE\\" + std::string(c.lands) + "]\n\"v\"=\"1\"")) << hive;
        EXPECT_FALSE(Contains(hive, c.absent)) << hive;
#endif
        /* Read back in the same view; the other view does not see a redirected key. */
        Key r;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, c.path, 0, KEY_READ | c.view, r.out()), ERROR_SUCCESS);
    }

    if (!Machine64()) return;  // a 32-bit Windows has no second view
    ScratchRoot root;
    root.WriteHive(kMachine64 + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Only32]\n");
    HKEY out = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Only32", 0, KEY_READ | kAgentView, &out), ERROR_SUCCESS);
    RegCloseKey(out);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Only32", 0, KEY_READ | KEY_WOW64_64KEY, &out),
              ERROR_FILE_NOT_FOUND);

    /* A handle keeps the view it was opened in for keys opened below it. */
    Key software64, software32, a, b;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, software64.out()),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | kAgentView, software32.out()),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExA(software64.get(), "Native", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, a.out(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExA(software32.get(), "Redirected", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, b.out(),
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(SetString(a.get(), "v", "64"), ERROR_SUCCESS);
    ASSERT_EQ(SetString(b.get(), "v", "32"), ERROR_SUCCESS);
    EXPECT_EQ(NativeValue("SOFTWARE\\Native", "v"), std::string("64\0", 3));
    EXPECT_EQ(NativeValue("SOFTWARE\\Wow6432Node\\Redirected", "v"), std::string("32\0", 3));
    EXPECT_EQ(NativeValue("SOFTWARE\\Redirected", "v"), "<no key>");
#ifdef WINAPI_STANDIN
    const std::string hive = root.ReadHive();
    EXPECT_TRUE(Contains(hive, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Native]")) << hive;
    EXPECT_TRUE(Contains(hive, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Redirected]")) << hive;
#endif
}

TEST(RegistryApi, ACorruptHiveIsNeverOverwrittenAndReadsUpToTheBadLine) {
#ifndef WINAPI_STANDIN
    GTEST_SKIP() << "the stand-in's hive file and its parser";
#else
    ScratchRoot root;
    root.WriteHive("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Good]\n\"Kept\"=\"yes\"\n\"Path\"=\"C:\\Windows\"\n"
                   "\"Lost\"=\"no\"\n");
    const std::string before = root.ReadHive();

    testing::internal::CaptureStderr();
    Key good;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Good", 0, KEY_ALL_ACCESS, good.out()), ERROR_SUCCESS);
    LONG rc;
    EXPECT_EQ(QueryA(good.get(), "Kept", &rc), std::string("yes\0", 4));
    QueryA(good.get(), "Lost", &rc);
    EXPECT_EQ(rc, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SetString(good.get(), "New", "x"), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(SetString(good.get(), "Kept", "yes"), ERROR_REGISTRY_CORRUPT) << "even a write that would change nothing";
    Key fresh;
    EXPECT_EQ(Create("SOFTWARE\\Fresh", KEY_ALL_ACCESS, &fresh), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(fresh.get(), nullptr);
    /* Opening an existing key writes nothing and so still works. */
    Key existing;
    EXPECT_EQ(Create("SOFTWARE\\Good", KEY_ALL_ACCESS, &existing), ERROR_SUCCESS);
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_EQ(root.ReadHive(), before);
    EXPECT_TRUE(Contains(err, root.path() + "/registry/HKLM.reg, line 5: unknown escape")) << err;
    EXPECT_TRUE(Contains(err, "left as it is")) << err;
    const std::string dir = root.path() + "/registry";
    DIR *d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr);
    while (const struct dirent *e = readdir(d)) EXPECT_FALSE(Contains(e->d_name, ".tmp")) << e->d_name;
    closedir(d);
#endif
}

#ifdef WINAPI_STANDIN
/* Each writer sets `count` values of its own; nothing may be lost. */
int WriteMany(const std::string &prefix, int count) {
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        HKEY k = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Race", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                            nullptr) != ERROR_SUCCESS) {
            ++failures;
            continue;
        }
        const std::string name = prefix + std::to_string(i);
        if (SetString(k, name.c_str(), name.c_str()) != ERROR_SUCCESS) ++failures;
        RegCloseKey(k);
    }
    return failures;
}
#endif

TEST(RegistryApi, ConcurrentWritersInProcessesAndThreadsLoseNothing) {
#ifndef WINAPI_STANDIN
    GTEST_SKIP() << "writers sharing the stand-in's hive file, in processes made with fork";
#else
    ScratchRoot root;
    constexpr int kEach = 40;
    std::vector<pid_t> children;
    for (const char *prefix : {"procA_", "procB_"}) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) _exit(WriteMany(prefix, kEach) == 0 ? 0 : 1);
        children.push_back(pid);
    }
    std::vector<std::thread> threads;
    int threadFailures[2] = {0, 0};
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([t, &threadFailures] {
            threadFailures[t] = WriteMany("thread" + std::to_string(t) + "_", kEach);
        });
    for (auto &t : threads) t.join();
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(threadFailures[0] + threadFailures[1], 0);

    auto parsed = wa::reg::ParseHive(root.ReadHive(), "HKEY_LOCAL_MACHINE");
    ASSERT_TRUE(parsed.ok) << parsed.error;
    const wa::reg::Key *race = parsed.root->Find({"SOFTWARE", "Race"});
    ASSERT_NE(race, nullptr);
    EXPECT_EQ(race->values.size(), 4u * kEach);
    for (const char *prefix : {"procA_", "procB_", "thread0_", "thread1_"})
        for (int i = 0; i < kEach; ++i)
            EXPECT_NE(race->FindValue(prefix + std::to_string(i)), nullptr) << prefix << i;
#endif
}

TEST(RegistryApi, ReadsSeeTheFileAsItIsNow) {
#ifndef WINAPI_STANDIN
    GTEST_SKIP() << "the stand-in's hive file rewritten under it";
#else
    ScratchRoot root;
    /* Rewritten at once with the same size: the cache must not answer. */
    for (const char *digit : {"1", "2", "3"}) {
        root.WriteHive(std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\C]\n\"v\"=\"") + digit + "\"\n");
        Key k;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\C", 0, KEY_READ, k.out()), ERROR_SUCCESS);
        LONG rc;
        EXPECT_EQ(QueryA(k.get(), "v", &rc), std::string(digit) + '\0');
    }
    /* A UTF-16LE file with a byte-order mark, as the registry editor exports. */
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Unicode]\r\n\"Gr\xc3\xbc\xc3\x9f\x65\"=\"\xce\xa9\"\r\n";
    vt_test::WriteWholeFile(root.path() + "/registry/HKLM.reg", "\xff\xfe" + wa::reg::Utf8ToUtf16Le(text));
    Key u;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"software\\UNICODE", 0, KEY_READ, u.out()), ERROR_SUCCESS);
    WCHAR value[4] = {};
    DWORD size = sizeof value;
    EXPECT_EQ(RegQueryValueExW(u.get(), L"GR\u00dc\u00dfE", nullptr, nullptr, reinterpret_cast<LPBYTE>(value),
                               &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(value), L"\u03a9");
    /* A write turns the file into UTF-8 and keeps the other values. */
    ASSERT_EQ(SetString(u.get(), "x", "y"), ERROR_ACCESS_DENIED); /* opened for reading */
    Key w;
    ASSERT_EQ(Create("SOFTWARE\\Unicode", KEY_ALL_ACCESS, &w), ERROR_SUCCESS);
    ASSERT_EQ(SetString(w.get(), "x", "y"), ERROR_SUCCESS);
    EXPECT_TRUE(Contains(root.ReadHive(), "\"Gr\xc3\xbc\xc3\x9f\x65\"=\"\xce\xa9\"\n\"x\"=\"y\"\n"));
#endif
}

TEST(RegistryApi, ASettledHiveIsReadOnceUntilAnotherProcessWritesIt) {
#ifndef WINAPI_STANDIN
    GTEST_SKIP() << "the stand-in's cache of its hive file";
#else
    ScratchRoot root;
    root.WriteHive("[HKEY_LOCAL_MACHINE\\SOFTWARE\\C]\n\"v\"=\"1\"\n");
    /* Older than the step in which file times advance: no rewrite can hide. */
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto query = [](const char *name) {
        Key k;
        LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\C", 0, KEY_READ, k.out());
        return rc == ERROR_SUCCESS ? QueryA(k.get(), name, &rc) : std::string("<no key>");
    };
    const unsigned long start = wa_test::HiveFileReads();
    for (int i = 0; i < 50; ++i) ASSERT_EQ(query("v"), std::string("1") + '\0');
    EXPECT_EQ(wa_test::HiveFileReads() - start, 1u) << "a settled hive is read once";

    /* What this process wrote it knows without reading it back. */
    Key w;
    ASSERT_EQ(Create("SOFTWARE\\C", KEY_ALL_ACCESS, &w), ERROR_SUCCESS);
    ASSERT_EQ(SetString(w.get(), "w", "2"), ERROR_SUCCESS);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(query("w"), std::string("2") + '\0');
    EXPECT_EQ(wa_test::HiveFileReads() - start, 1u);
    /* Setting the bytes a value already holds leaves the file as it is. */
    struct stat before {}, after {};
    ASSERT_EQ(stat((root.path() + "/registry/HKLM.reg").c_str(), &before), 0);
    ASSERT_EQ(SetString(w.get(), "w", "2"), ERROR_SUCCESS);
    ASSERT_EQ(stat((root.path() + "/registry/HKLM.reg").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);

    /* Another process's write is read once (once it has settled, as above). */
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(SetString(w.get(), "w", "3") == ERROR_SUCCESS ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (int i = 0; i < 20; ++i) ASSERT_EQ(query("w"), std::string("3") + '\0');
    EXPECT_EQ(wa_test::HiveFileReads() - start, 2u);
#endif
}

/* A hive of several MiB is read into memory of another kind (whole huge pages):
 * every byte still lands where it belongs, up to the file's last line. */
TEST(RegistryApi, AHiveOfSeveralMegabytesIsReadWhole) {
#ifndef WINAPI_STANDIN
    GTEST_SKIP() << "the stand-in's reading of a large hive file";
#else
    ScratchRoot root;
    std::string big(3 * 1024 * 1024 + 12345, 'x');
    for (size_t i = 0; i < big.size(); i += 4093) big[i] = static_cast<char>('a' + i % 26);
    root.WriteHive("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Big]\n\"Blob\"=\"" + big + "\"\n\"After\"=\"end\"\n");
    Key k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Big", 0, KEY_READ, k.out()), ERROR_SUCCESS);
    std::string blob(big.size() + 1, '?');
    DWORD size = static_cast<DWORD>(blob.size());
    ASSERT_EQ(RegQueryValueExA(k.get(), "Blob", nullptr, nullptr, reinterpret_cast<LPBYTE>(&blob[0]), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, big.size() + 1);
    EXPECT_TRUE(blob == big + '\0') << "the value's bytes differ";
    LONG rc;
    EXPECT_EQ(QueryA(k.get(), "After", &rc), std::string("end") + '\0');
#endif
}

/* A file rewritten in place with the same size and its times set back, as a
 * coarse clock would leave them: the change time still moves, and the cache must
 * not answer. */
TEST(RegistryApi, AnInPlaceRewriteWithItsTimesPutBackIsRead) {
#ifndef WINAPI_STANDIN
    GTEST_SKIP() << "the stand-in's cache of its hive file";
#else
    ScratchRoot root;
    const std::string path = root.path() + "/registry/HKLM.reg";
    root.WriteHive("[HKEY_LOCAL_MACHINE\\SOFTWARE\\C]\n\"v\"=\"1\"\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Key k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\C", 0, KEY_READ, k.out()), ERROR_SUCCESS);
    LONG rc;
    ASSERT_EQ(QueryA(k.get(), "v", &rc), std::string("1") + '\0');
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::string text = vt_test::ReadWholeFile(path);
    text[text.rfind('1')] = '2';
    const int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    close(fd);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const unsigned long reads = wa_test::HiveFileReads();
    EXPECT_EQ(QueryA(k.get(), "v", &rc), std::string("2") + '\0');
    EXPECT_EQ(wa_test::HiveFileReads() - reads, 1u);
#endif
}

/* Threads asking for values of a hive nobody has read yet, all at once: every
 * key's lines are read once and every thread sees every value. */
TEST(RegistryApi, ThreadsReadingAFreshHiveAtOnceSeeEveryValue) {
#ifndef WINAPI_STANDIN
    GTEST_SKIP() << "the stand-in's first reading of its hive file from several threads";
#else
    ScratchRoot root;
    constexpr int kKeys = 300;
    std::string text;
    for (int i = 0; i < kKeys; ++i) {
        const std::string n = std::to_string(i);
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\K" + n + "]\n\"a\"=\"" + n + "\"\n\"b\"=dword:" + n + "\n\n";
    }
    root.WriteHive(text);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &wrong] {
            for (int j = 0; j < kKeys; ++j) {
                const int i = (t % 2 == 0) ? j : kKeys - 1 - j;
                const std::string n = std::to_string(i);
                Key k;
                LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ("SOFTWARE\\T\\K" + n).c_str(), 0, KEY_READ, k.out());
                DWORD type = 0;
                if (rc != ERROR_SUCCESS || QueryA(k.get(), "a", &rc) != n + '\0' || rc != ERROR_SUCCESS ||
                    QueryA(k.get(), "b", &rc, &type).size() != 4 || type != REG_DWORD)
                    ++wrong;
                char name[8];
                DWORD size = sizeof name;
                if (RegEnumValueA(k.get(), 2, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_NO_MORE_ITEMS)
                    ++wrong;
            }
        });
    for (auto &th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
#endif
}

TEST(RegistryApi, OtherRootsAndMachineValues) {
    ScratchRoot root;
#ifdef WINAPI_STANDIN  // the stand-in's own readers of machine values
    root.WriteHive(kMachine64 + "[HKEY_LOCAL_MACHINE\\SYSTEM\\Setup]\n\"Build\"=dword:00001db1\n\"Name\"=\"x\"\n");
    DWORD build = 0;
    EXPECT_TRUE(wa::ReadMachineDword("SYSTEM\\Setup", "build", &build));
    EXPECT_EQ(build, 0x1db1u);
    EXPECT_FALSE(wa::ReadMachineDword("SYSTEM\\Setup", "Name", &build));
    std::string text;
    EXPECT_TRUE(wa::ReadMachineString("HKEY_LOCAL_MACHINE\\SYSTEM\\Setup", "Name", &text));
    EXPECT_EQ(text, "x");
    EXPECT_FALSE(wa::ReadMachineString("SYSTEM\\Setup", "Build", &text));
#endif

    /* HKEY_CURRENT_USER is a tree of its own; HKEY_CLASSES_ROOT is SOFTWARE\Classes. */
    Key user, cls;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\VtScratchU", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              user.out(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(SetString(user.get(), "v", "1"), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, ".vtscratch", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, cls.out(),
                              nullptr),
              ERROR_SUCCESS);
    Key machineClass, machineUser;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.vtscratch", 0, KEY_READ, machineClass.out()),
              ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\VtScratchU", 0, KEY_READ, machineUser.out()),
              ERROR_FILE_NOT_FOUND);
#ifdef WINAPI_STANDIN  // HKEY_CURRENT_USER has a hive file of its own
    EXPECT_TRUE(Contains(vt_test::ReadWholeFile(root.path() + "/registry/HKCU.reg"),
                         "[HKEY_CURRENT_USER\\Software\\VtScratchU]\n\"v\"=\"1\""));
    const std::string hive = root.ReadHive();
    EXPECT_TRUE(Contains(hive, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.vtscratch]")) << hive;
    EXPECT_FALSE(Contains(hive, "VtScratchU")) << hive;
#else  // the machine's own registry: what the test made goes again
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\VtScratchU"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.vtscratch"), ERROR_SUCCESS);
#endif
}

}  // namespace
