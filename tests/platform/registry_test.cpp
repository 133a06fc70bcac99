/* Registry access of the agent: the typed writes, the reads, "--", and the views. */
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/errors.h"
#include "support/scratch_root.h"
#ifdef WINAPI_STANDIN
#include "winapi/registry_hive.h"
#endif

namespace {

using vt_test::ScratchRoot;

const char kKey[] = "SOFTWARE\\Corvane\\Vantrel\\DAZered";
const std::string kMachine64 =
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment]\n"
    "\"PROCESSOR_ARCHITECTURE\"=\"AMD64\"\n\n";

[[maybe_unused]] bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

/* A 64-bit program has no redirected view of its own: its plain writes land where
 * the 64-bit ones do. */
#ifdef _WIN64
const bool kProgramIs64 = true;
#else
const bool kProgramIs64 = false;
#endif

/* The stored text as a wide caller sees it ("<none>" when absent). */
std::wstring WideValue(const char *subKey, const wchar_t *name, REGSAM view = 0) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_QUERY_VALUE | view, &k) != ERROR_SUCCESS) return L"<none>";
    wchar_t buf[128] = {};
    DWORD size = sizeof buf - sizeof(wchar_t);
    const LONG rc = RegQueryValueExW(k, name, nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size);
    RegCloseKey(k);
    return rc == ERROR_SUCCESS ? std::wstring(buf) : L"<none>";
}

bool KeyExists(const char *subKey, REGSAM view) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ | view, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

std::string Bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b) s.push_back(static_cast<char>(c));
    return s;
}

/* Restores the WOW64 flag that a test changes. */
class Wow64Flag {
public:
    explicit Wow64Flag(BOOL value) : saved_(gv_isWow64) { gv_isWow64 = value; }
    ~Wow64Flag() { gv_isWow64 = saved_; }

private:
    BOOL saved_;
};

/* The stored value as an ANSI caller sees it: type and exact bytes. */
std::string RawValue(const char *subKey, const char *name, DWORD *type, REGSAM view = 0) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_QUERY_VALUE | view, &k) != ERROR_SUCCESS) return "<no key>";
    BYTE buf[64];
    DWORD size = sizeof buf;
    const LONG rc = RegQueryValueExA(k, name, nullptr, type, buf, &size);
    RegCloseKey(k);
    return rc == ERROR_SUCCESS ? std::string(reinterpret_cast<char *>(buf), size) : "<no value>";
}

TEST(RegistryAccess, EveryTypeRoundTripsThroughBothWrites) {
    struct Case {
        DWORD type;
        const char *text;
        std::string plain; /* SetRegistryValue */
        std::string sixtyFour; /* SetRegistryValue64 */
    } cases[] = {
        {REG_SZ, "text", std::string("text\0", 5), std::string("text\0", 5)},
        {REG_EXPAND_SZ, "%TEMP%\\x", std::string("%TEMP%\\x\0", 9), std::string("%TEMP%\\x\0", 9)},
        {REG_BINARY, "ab", Bytes({'a', 0, 'b', 0, 0, 0}), Bytes({'a', 'b', 0})},
        {REG_DWORD, "12abc", Bytes({12, 0, 0, 0}), Bytes({12, 0, 0, 0})},
        {REG_DWORD, "  +7", Bytes({7, 0, 0, 0}), Bytes({7, 0, 0, 0})},
        {REG_DWORD, "-1", Bytes({0xff, 0xff, 0xff, 0xff}), Bytes({0xff, 0xff, 0xff, 0xff})},
        {REG_DWORD, "4294967296", Bytes({0xff, 0xff, 0xff, 0x7f}), Bytes({0xff, 0xff, 0xff, 0xff})},
        {REG_DWORD, "abc", Bytes({0, 0, 0, 0}), Bytes({0, 0, 0, 0})},
        {REG_MULTI_SZ, "a", std::string("a\0\0", 3), std::string("a\0\0", 3)},
        {REG_QWORD, "12abc", Bytes({12, 0, 0, 0, 0, 0, 0, 0}), Bytes({12, 0, 0, 0, 0, 0, 0, 0})},
        {REG_QWORD, "-2", Bytes({0xfe, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}),
         Bytes({0xfe, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff})},
        {REG_QWORD, "4294967296", Bytes({0, 0, 0, 0, 1, 0, 0, 0}), Bytes({0, 0, 0, 0, 1, 0, 0, 0})},
        {REG_DWORD_BIG_ENDIAN, "ab", Bytes({'a', 0, 'b', 0}), Bytes({'a', 0, 'b', 0})},
        {REG_NONE, "--", Bytes({0, 0, 0, 0}), Bytes({0, 0, 0, 0})},
        {REG_BINARY, "--", Bytes({0, 0}), Bytes({0})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " " + c.text);
        ScratchRoot root;
        ASSERT_EQ(SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, "Plain", c.text, c.type), ERROR_SUCCESS);
        ASSERT_EQ(SetRegistryValue64(HKEY_LOCAL_MACHINE, kKey, "Sixty", c.text, c.type), ERROR_SUCCESS);
        DWORD type = 0;
        EXPECT_EQ(RawValue(kKey, "Plain", &type), c.plain);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(RawValue(kKey, "Sixty", &type), c.sixtyFour);
        EXPECT_EQ(type, c.type);

        /* The string read hands back the same bytes with five zero bytes after them. */
        char *text = nullptr;
        ASSERT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kKey, "Plain", &text), ERROR_SUCCESS);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::string(text, c.plain.size()), c.plain);
        for (size_t i = 0; i < 5; ++i) EXPECT_EQ(text[c.plain.size() + i], 0);
        free(text);

#ifdef WINAPI_STANDIN
        /* The file itself, parsed afresh (the reads above may be answered from the
         * tree kept after the write), holds both values with the same type and data. */
        const auto parsed = wa::reg::ParseHive(root.ReadHive(), "HKEY_LOCAL_MACHINE");
        ASSERT_TRUE(parsed.ok) << parsed.errorLine << ": " << parsed.error;
        const wa::reg::Key *key = parsed.root->Find({"SOFTWARE", "Corvane", "Vantrel", "DAZered"});
        ASSERT_NE(key, nullptr);
        for (const auto &stored : {std::make_pair("Plain", c.plain), std::make_pair("Sixty", c.sixtyFour)}) {
            const wa::reg::Value *v = key->FindValue(stored.first);
            ASSERT_NE(v, nullptr) << stored.first;
            EXPECT_EQ(v->type, c.type) << stored.first;
            const bool isText = c.type == REG_SZ || c.type == REG_EXPAND_SZ || c.type == REG_MULTI_SZ;
            EXPECT_EQ(isText ? wa::reg::Utf16LeToAnsi(v->data) : v->data, stored.second) << stored.first;
        }
#endif
    }
}

TEST(RegistryAccess, TheHiveFileKeepsImportableLines) {
    ScratchRoot root;
    ASSERT_EQ(SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, "Name", "text", REG_SZ), ERROR_SUCCESS);
    ASSERT_EQ(SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, "Count", "12", REG_DWORD), ERROR_SUCCESS);
    ASSERT_EQ(SetRegistryValue64(HKEY_LOCAL_MACHINE, kKey, "Big", "12", REG_QWORD), ERROR_SUCCESS);
    ASSERT_EQ(SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, "--", "--", REG_SZ), ERROR_SUCCESS);
    ASSERT_EQ(SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, "Empty", "--", REG_SZ), ERROR_SUCCESS);
    ASSERT_EQ(SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, "Dashes", "---", REG_SZ), ERROR_SUCCESS);
    ASSERT_EQ(SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, "Gr\xc3\xbc\xc3\x9f" "e", "caf\xc3\xa9", REG_SZ),
              ERROR_SUCCESS);
#ifdef WINAPI_STANDIN
    const std::string hive = root.ReadHive();
    for (const char *line : {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Vantrel\\DAZered]\n", "\n\"Name\"=\"text\"\n",
                             "\n\"Count\"=dword:0000000c\n", "\n\"Big\"=hex(b):0c,00,00,00,00,00,00,00\n",
                             "\n@=\"\"\n", "\n\"Empty\"=\"\"\n", "\n\"Dashes\"=\"---\"\n",
                             "\n\"Gr\xc3\xbc\xc3\x9f" "e\"=\"caf\xc3\xa9\"\n"})
        EXPECT_TRUE(Contains(hive, line)) << line << "\nin\n" << hive;
#endif
    /* The same values as the registry hands them out. */
    EXPECT_EQ(WideValue(kKey, L"Name"), L"text");
    EXPECT_EQ(WideValue(kKey, L""), L"");
    EXPECT_EQ(WideValue(kKey, L"Dashes"), L"---");
    EXPECT_EQ(WideValue(kKey, L"Gr\u00fc\u00dfe"), L"caf\u00e9");

    /* The empty text is one terminator: 2 bytes on Windows, one WCHAR here. */
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &k), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(k, L"", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, sizeof(WCHAR));
    RegCloseKey(k);

    /* UTF-8 in, ANSI out: the string read speaks the ANSI code page. */
    char *text = nullptr;
    ASSERT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kKey, "GR\xdc\xdf" "E", &text), ERROR_SUCCESS);
    EXPECT_STREQ(text, "caf\xe9");
    free(text);
}

TEST(RegistryAccess, ReadsReportMissingValuesAndRawBytes) {
    ScratchRoot root;
    root.WriteHive("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Vantrel\\DAZered]\n\"Level\"=dword:00000003\n"
                   "\"Big\"=hex(b):01,02,03,04,05,06,07,08\n\"Text\"=\"12\"\n\"NoEnd\"=hex(1):41,00,42,00\n");
    char *text = reinterpret_cast<char *>(0x1);
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kKey, "Missing", &text), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(text, nullptr);
    text = reinterpret_cast<char *>(0x1);
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nowhere", "Level", &text), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(text, nullptr);

    /* A DWORD read as a string: its 4 raw bytes, then zeros. */
    ASSERT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kKey, "Level", &text), ERROR_SUCCESS);
    EXPECT_EQ(std::string(text, 9), Bytes({3, 0, 0, 0, 0, 0, 0, 0, 0}));
    free(text);
    /* A string stored without its terminator still ends in zeros. */
    ASSERT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kKey, "NoEnd", &text), ERROR_SUCCESS);
    EXPECT_STREQ(text, "AB");
    free(text);

    DWORD value = 0xdeadbeef;
    EXPECT_EQ(ReadRegistryDword(HKEY_LOCAL_MACHINE, kKey, "Missing", &value), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(value, 0xdeadbeefu);
    EXPECT_EQ(ReadRegistryDword(HKEY_LOCAL_MACHINE, kKey, "Level", &value), ERROR_SUCCESS);
    EXPECT_EQ(value, 3u);
    EXPECT_EQ(ReadRegistryDword(HKEY_LOCAL_MACHINE, kKey, "Big", &value), ERROR_MORE_DATA);
    /* The type is not checked: "12" and its terminator fill three bytes. */
    value = 0xdd000000;
    EXPECT_EQ(ReadRegistryDword(HKEY_LOCAL_MACHINE, kKey, "Text", &value), ERROR_SUCCESS);
    EXPECT_EQ(value, 0xdd003231u);
}

TEST(RegistryAccess, MissingArgumentsGive13AndTouchNothing) {
    ScratchRoot root;
    EXPECT_EQ(SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, nullptr, "x", REG_SZ), 13);
    EXPECT_EQ(SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, "n", nullptr, REG_SZ), 13);
    EXPECT_EQ(SetRegistryValue64(HKEY_LOCAL_MACHINE, kKey, nullptr, "x", REG_SZ), 13);
    EXPECT_EQ(SetRegistryValue64(HKEY_LOCAL_MACHINE, nullptr, "n", "x", REG_SZ), 13);
    EXPECT_EQ(CreateRegistryKey(HKEY_LOCAL_MACHINE, nullptr), 13);
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kKey, "n", nullptr), 13);
    EXPECT_EQ(ReadRegistryDword(HKEY_LOCAL_MACHINE, kKey, "n", nullptr), 13);
    EXPECT_FALSE(vt_test::PathExists(root.path() + "/registry"));
    /* A bad root is the registry's own status. */
    EXPECT_EQ(CreateRegistryKey(reinterpret_cast<HKEY>(0x4321), kKey), ERROR_INVALID_HANDLE);
}

TEST(RegistryAccess, Wow64WritesLandInTheirViews) {
    struct Case {
        bool machine64;
        const char *key;
        const char *plainLands;
        const char *sixtyFourLands;
    } cases[] = {
        {true, "SOFTWARE\\Corvane\\P", "SOFTWARE\\Wow6432Node\\Corvane\\P", "SOFTWARE\\Corvane\\P"},
        {true, "SOFTWARE\\Classes\\Installer\\Products\\X\\SourceList",
         "SOFTWARE\\Classes\\Installer\\Products\\X\\SourceList",
         "SOFTWARE\\Classes\\Installer\\Products\\X\\SourceList"},
        {false, "SOFTWARE\\Corvane\\P", "SOFTWARE\\Corvane\\P", "SOFTWARE\\Corvane\\P"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.key);
        ScratchRoot root;
        root.WriteHive(c.machine64 ? kMachine64 : "");
        Wow64Flag flag(c.machine64 ? TRUE : FALSE);
        ASSERT_EQ(SetRegistryValue(HKEY_LOCAL_MACHINE, c.key, "Plain", "32", REG_SZ), ERROR_SUCCESS);
        ASSERT_EQ(SetRegistryValue64(HKEY_LOCAL_MACHINE, c.key, "Sixty", "64", REG_SZ), ERROR_SUCCESS);
        DWORD type;
        const char *plainLands = kProgramIs64 ? c.sixtyFourLands : c.plainLands;
        EXPECT_EQ(RawValue(plainLands, "Plain", &type, KEY_WOW64_64KEY), std::string("32\0", 3));
        EXPECT_EQ(RawValue(c.sixtyFourLands, "Sixty", &type, KEY_WOW64_64KEY), std::string("64\0", 3));
        /* The reads use the default view. */
        char *text = nullptr;
        EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, c.key, "Plain", &text), ERROR_SUCCESS);
        EXPECT_STREQ(text, "32");
        free(text);
        if (c.machine64 && strcmp(plainLands, c.sixtyFourLands) != 0) {
            EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, c.key, "Sixty", &text), ERROR_FILE_NOT_FOUND);
            EXPECT_EQ(text, nullptr);
        }
    }

    ScratchRoot root;
    root.WriteHive(kMachine64);
    Wow64Flag flag(TRUE);
    ASSERT_EQ(CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\K32"), ERROR_SUCCESS);
    ASSERT_EQ(CreateRegistryKey64(HKEY_LOCAL_MACHINE, "SOFTWARE\\K64"), ERROR_SUCCESS);
    EXPECT_TRUE(KeyExists(kProgramIs64 ? "SOFTWARE\\K32" : "SOFTWARE\\Wow6432Node\\K32", KEY_WOW64_64KEY));
    EXPECT_TRUE(KeyExists("SOFTWARE\\K64", KEY_WOW64_64KEY));
}

}  // namespace

namespace {

TEST(RegistryAccess, PathsReadOnlyWhenTheAnsiCodePageCanNameThem) {
    ScratchRoot root;
    /* The hive file is UTF-8: é and ü have their places in Windows-1252, Ω does not. */
    root.WriteHive("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Vantrel\\DAZered]\n"
                   "\"Plain\"=\"C:\\\\Vantrel Agent\"\n"
                   "\"Accents\"=\"C:\\\\Vantr\xc3\xa9l\\\\\xc3\xbc\"\n"
                   "\"Greek\"=\"C:\\\\Vantrel \xce\xa9\\\\Agent\"\n");
    char *text = nullptr;
    ASSERT_EQ(ReadRegistryPath(HKEY_LOCAL_MACHINE, kKey, "Plain", &text), ERROR_SUCCESS);
    EXPECT_STREQ(text, "C:\\Vantrel Agent");
    free(text);
    ASSERT_EQ(ReadRegistryPath(HKEY_LOCAL_MACHINE, kKey, "Accents", &text), ERROR_SUCCESS);
    EXPECT_STREQ(text, "C:\\Vantr\xe9l\\\xfc");
    free(text);
    text = reinterpret_cast<char *>(0x1);
    EXPECT_EQ(ReadRegistryPath(HKEY_LOCAL_MACHINE, kKey, "Greek", &text), ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(ReadRegistryPath(HKEY_LOCAL_MACHINE, kKey, "Missing", &text), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(text, nullptr);

    /* A text read in the ANSI code page and written back through its UTF-8 form
     * is the stored text again. */
    ASSERT_EQ(ReadRegistryPath(HKEY_LOCAL_MACHINE, kKey, "Accents", &text), ERROR_SUCCESS);
    char *utf8 = nullptr;
    ASSERT_TRUE(AnsiToUtf8(text, &utf8));
    EXPECT_EQ(SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, "Copy", utf8, REG_SZ), ERROR_SUCCESS);
    free(utf8);
    free(text);
    EXPECT_EQ(WideValue(kKey, L"Copy"), L"C:\\Vantr\u00e9l\\\u00fc");
}

}  // namespace
