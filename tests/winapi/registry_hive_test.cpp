/* The hive text: what parses to what, which lines are refused, and the exact text
 * written back. */
#include "winapi/registry_hive.h"
#include "winapi/wa_private.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_root.h"

namespace {

using wa::reg::Key;
using wa::reg::ParseHive;
using wa::reg::SerializeHive;

const char kRoot[] = "HKEY_LOCAL_MACHINE";
const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

std::string Bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b) s.push_back(static_cast<char>(c));
    return s;
}

const wa::reg::Value *ValueAt(const Key &root, const std::vector<std::string> &path, const std::string &name) {
    const Key *k = root.Find(path);
    return k ? k->FindValue(name) : nullptr;
}

TEST(RegistryHiveParse, EveryDataFormGivesTheTypeAndBytesWindowsStores) {
    struct Case {
        const char *line;
        DWORD type;
        std::string data;
    } cases[] = {
        {"\"v\"=\"ab\"", 1, Bytes({'a', 0, 'b', 0, 0, 0})},
        {"\"v\"=\"\"", 1, Bytes({0, 0})},
        {"\"v\"=\"C:\\\\dir \\\"q\\\"\"", 1, wa::reg::Utf8ToUtf16Le("C:\\dir \"q\"") + Bytes({0, 0})},
        {"\"v\"=\"caf\xc3\xa9\"", 1, Bytes({'c', 0, 'a', 0, 'f', 0, 0xe9, 0, 0, 0})},
        {"\"v\"=\"\xf0\x9f\x98\x80\"", 1, Bytes({0x3d, 0xd8, 0x00, 0xde, 0, 0})},
        {"\"v\"=dword:0000000c", 4, Bytes({12, 0, 0, 0})},
        {"\"v\"=DWORD:FFFFFFFE", 4, Bytes({0xfe, 0xff, 0xff, 0xff})},
        {"\"v\"=dword:1", 4, Bytes({1, 0, 0, 0})},
        {"\"v\"=hex:00,ff,7", 3, Bytes({0, 0xff, 7})},
        {"\"v\"=hex:", 3, ""},
        {"\"v\"=hex(2):41,00,00,00", 2, Bytes({'A', 0, 0, 0})},
        {"\"v\"=hex(7):61,00,00,00,00,00", 7, Bytes({'a', 0, 0, 0, 0, 0})},
        {"\"v\"=hex(b):0c,00,00,00,00,00,00,00", 11, Bytes({12, 0, 0, 0, 0, 0, 0, 0})},
        {"\"v\"=hex(0):01", 0, Bytes({1})},
        {"\"v\"=hex(ffff0001):", 0xffff0001, ""},
        {"\"v\" = \"spaced\"  ", 1, Bytes({'s', 0, 'p', 0, 'a', 0, 'c', 0, 'e', 0, 'd', 0, 0, 0})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        auto r = ParseHive(kHeader + "[HKEY_LOCAL_MACHINE\\K]\n" + c.line + "\n", kRoot);
        ASSERT_TRUE(r.ok) << r.error;
        const auto *v = ValueAt(*r.root, {"K"}, "v");
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->type, c.type);
        EXPECT_EQ(v->data, c.data);
    }
}

TEST(RegistryHiveParse, RefusedLinesStopTheParseAndKeepWhatCameBefore) {
    struct Case {
        std::string body;
        int line;
        const char *message;
    } cases[] = {
        {"[HKEY_LOCAL_MACHINE\\A]\n\"ok\"=\"1\"\n\"p\"=\"C:\\Windows\"\n\"after\"=\"2\"\n", 5, "unknown escape"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"ok\"=\"1\"\n\"p\"=\"open\n", 5, "unterminated"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"ok\"=\"1\"\n\"d\"=dword:123456789\n", 5, "dword"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"ok\"=\"1\"\n\"d\"=dword:xyz\n", 5, "dword"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"ok\"=\"1\"\n\"h\"=hex:0,,1\n", 5, "empty byte"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"ok\"=\"1\"\n\"h\"=hex:100\n", 5, "hexadecimal byte"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"ok\"=\"1\"\n\"s\"=\"x\" junk\n", 5, "after the closing quote"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"ok\"=\"1\"\nname=\"x\"\n", 5, "a line must be"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"ok\"=\"1\"\n\"n\" \"x\"\n", 5, "'=' expected"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"ok\"=\"1\"\n\"n\"=qword:1\n", 5, "unknown value data"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"ok\"=\"1\"\n\"n\"=hex( 2 ):41\n", 5, "malformed hex(type)"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"ok\"=\"1\"\n[HKEY_CURRENT_USER\\B]\n", 5, "outside HKEY_LOCAL_MACHINE"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"ok\"=\"1\"\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 5, "malformed key path"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"ok\"=\"1\"\n[HKEY_LOCAL_MACHINE\\B\n", 5, "must end with ']'"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"ok\"=\"1\"\n[-HKEY_LOCAL_MACHINE\\B]\n\"x\"=\"1\"\n", 6, "outside a key"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.body);
        auto r = ParseHive(kHeader + c.body, kRoot);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.errorLine, c.line);
        EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
        const auto *ok = ValueAt(*r.root, {"A"}, "ok");
        ASSERT_NE(ok, nullptr);
        EXPECT_EQ(ok->data, Bytes({'1', 0, 0, 0}));
        EXPECT_EQ(ValueAt(*r.root, {"A"}, "after"), nullptr);
    }

    auto noHeader = ParseHive("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n", kRoot);
    EXPECT_FALSE(noHeader.ok);
    EXPECT_EQ(noHeader.errorLine, 1);
    /* An empty or comment-only file is an empty hive. */
    EXPECT_TRUE(ParseHive("", kRoot).ok);
    EXPECT_TRUE(ParseHive("; nothing yet\n\n", kRoot).ok);
}

TEST(RegistryHiveParse, EncodingsLineEndsContinuationsCommentsAndDeletions) {
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n; comment\r\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\\xc3\x9c]\r\n\"\xce\xa9\"=\"\xd0\xba\"\r\n";
    std::string utf16 = "\xff\xfe" + wa::reg::Utf8ToUtf16Le(text);
    for (const std::string &file : {text, "\xef\xbb\xbf" + text, utf16}) {
        auto r = ParseHive(file, kRoot);
        ASSERT_TRUE(r.ok) << r.error;
        const auto *v = ValueAt(*r.root, {"software", "\xc3\xbc"}, "\xcf\x89"); /* other case */
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->data, Bytes({0x3a, 0x04, 0, 0}));
    }

    auto r = ParseHive(kHeader +
                           "[HKEY_LOCAL_MACHINE\\A]\n"
                           "\"h\"=hex:01,02,\\\n"
                           "  03,\\\n"
                           "    04\n"
                           "\"gone\"=\"x\"\n"
                           "\"gone\"=-\n"
                           "[HKEY_LOCAL_MACHINE\\A\\Sub]\n"
                           "[HKEY_LOCAL_MACHINE\\B\\Sub]\n"
                           "[-HKEY_LOCAL_MACHINE\\B]\n"
                           "[-HKEY_LOCAL_MACHINE\\Never\\There]\n",
                       kRoot);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_NE(ValueAt(*r.root, {"A"}, "h"), nullptr);
    EXPECT_EQ(ValueAt(*r.root, {"A"}, "h")->data, Bytes({1, 2, 3, 4}));
    EXPECT_EQ(ValueAt(*r.root, {"A"}, "gone"), nullptr);
    EXPECT_NE(r.root->Find({"A", "Sub"}), nullptr);
    EXPECT_EQ(r.root->Find({"B"}), nullptr);
}

TEST(RegistryHiveParse, NamesMatchWithoutCaseAndKeepTheFirstSpelling) {
    auto r = ParseHive(kHeader +
                           "[HKEY_LOCAL_MACHINE\\Software\\MixedCase]\n\"Value\"=\"1\"\n"
                           "[hkey_local_machine\\SOFTWARE\\mixedcase]\n\"VALUE\"=\"2\"\n\"Other\"=\"3\"\n",
                       kRoot);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.root->subkeys.size(), 1u);
    EXPECT_EQ(r.root->subkeys[0]->name, "Software");
    const Key *k = r.root->Find({"SOFTWARE", "MIXEDCASE"});
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->name, "MixedCase");
    ASSERT_EQ(k->values.size(), 2u);
    EXPECT_EQ(k->values[0].name, "Value");
    EXPECT_EQ(k->values[0].data, Bytes({'2', 0, 0, 0}));
    /* Latin-1 and Cyrillic letters fold too; different letters do not. */
    EXPECT_TRUE(wa::reg::NamesEqual("\xc3\xa9t\xc3\xa9", "\xc3\x89T\xc3\x89"));
    EXPECT_TRUE(wa::reg::NamesEqual("\xd0\xba\xd0\xbb\xd1\x8e\xd1\x87", "\xd0\x9a\xd0\x9b\xd0\xae\xd0\xa7"));
    EXPECT_FALSE(wa::reg::NamesEqual("a", "b"));
    EXPECT_FALSE(wa::reg::NamesEqual("ab", "a"));
    EXPECT_LT(wa::reg::CompareNames("alpha", "BETA"), 0);
}

TEST(RegistryHiveWrite, WritesTheLinesAnAdministratorWouldImport) {
    Key root(kRoot);
    Key *k = root.AddSubkey("Software", nullptr)->AddSubkey("Corvane", nullptr);
    k->SetValue("Name", 1, Bytes({'t', 0, 'e', 0, 'x', 0, 't', 0, 0, 0}));
    k->SetValue("", 1, Bytes({0, 0}));
    k->SetValue("Path \"q\"", 1, wa::reg::Utf8ToUtf16Le("C:\\x") + Bytes({0, 0}));
    k->SetValue("Count", 4, Bytes({12, 0, 0, 0}));
    k->SetValue("Big", 11, Bytes({12, 0, 0, 0, 0, 0, 0, 0}));
    k->SetValue("Bin", 3, Bytes({0xde, 0xad}));
    k->SetValue("Short", 4, Bytes({1, 2}));
    k->SetValue("NoEnd", 1, Bytes({'a', 0}));
    k->SetValue("Break", 1, Bytes({'a', 0, '\n', 0, 0, 0}));
    k->SetValue("Multi", 7, Bytes({'a', 0, 0, 0, 0, 0}));
    root.AddSubkey("Software", nullptr)->AddSubkey("Empty", nullptr);

    const std::string text = SerializeHive(root, kRoot);
    const std::string expected = kHeader +
                                 "[HKEY_LOCAL_MACHINE\\Software]\n\n"
                                 "[HKEY_LOCAL_MACHINE\\Software\\Corvane]\n"
                                 "\"Name\"=\"text\"\n"
                                 "@=\"\"\n"
                                 "\"Path \\\"q\\\"\"=\"C:\\\\x\"\n"
                                 "\"Count\"=dword:0000000c\n"
                                 "\"Big\"=hex(b):0c,00,00,00,00,00,00,00\n"
                                 "\"Bin\"=hex:de,ad\n"
                                 "\"Short\"=hex(4):01,02\n"
                                 "\"NoEnd\"=hex(1):61,00\n"
                                 "\"Break\"=hex(1):61,00,0a,00,00,00\n"
                                 "\"Multi\"=hex(7):61,00,00,00,00,00\n\n"
                                 "[HKEY_LOCAL_MACHINE\\Software\\Empty]\n\n";
    EXPECT_EQ(text, expected);

    /* Long data wraps with continuations and reads back unchanged. */
    std::string big;
    for (int i = 0; i < 300; ++i) big.push_back(static_cast<char>(i));
    k->SetValue("Long", 3, big);
    const std::string wrapped = SerializeHive(root, kRoot);
    size_t longest = 0, start = 0;
    while (start < wrapped.size()) {
        const size_t end = wrapped.find('\n', start);
        longest = std::max(longest, end - start);
        start = end + 1;
    }
    EXPECT_LE(longest, 82u);
    auto back = ParseHive(wrapped, kRoot);
    ASSERT_TRUE(back.ok) << back.error;
    EXPECT_EQ(SerializeHive(*back.root, kRoot), wrapped);
    EXPECT_EQ(ValueAt(*back.root, {"Software", "Corvane"}, "Long")->data, big);
}

/* A file that names many keys out of order, in several spellings, reopens and
 * deletes them, parses to the tree the same steps give through Key's own
 * sorted insertion, removal and value setting: same keys, order, spellings,
 * values and bytes, also for names that fold alike only as code points
 * (a malformed byte and U+FFFD, U+00FF and U+0178). */
TEST(RegistryHiveParse, AFileInAnyOrderGivesTheTreeItsStepsBuildOneByOne) {
    const std::vector<std::string> names = {"Alpha", "alpha", "ALPHA", "Beta", "b", "Key10", "Key9", "Key100",
                                            "\xc3\xa9t\xc3\xa9", "\xc3\x89T\xc3\x89", "\xfe", "\xef\xbf\xbd",
                                            "\xc3\xbf", "\xc5\xb8", "\xd0\xba", "\xd0\x9a", "z]"};
    const std::vector<std::string> texts = {"plain", "a\\b\"c\\", "\xf0\x9f\x98\x80 caf\xc3\xa9 \xff\xc0\xaf end",
                                            std::string(300, 'x') + "\\" + std::string(40, '"')};
    std::string file = kHeader;
    Key expected(kRoot);
    Key *current = nullptr;
    unsigned seed = 12345;
    auto next = [&seed](size_t n) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<size_t>((seed >> 16) % n);
    };
    auto escape = [](const std::string &t) {
        std::string out;
        for (char c : t) {
            if (c == '\\' || c == '"') out.push_back('\\');
            out.push_back(c);
        }
        return out;
    };
    for (int step = 0; step < 3000; ++step) {
        std::vector<std::string> path;
        const size_t depth = 1 + next(3);
        for (size_t d = 0; d < depth; ++d) path.push_back(names[next(names.size())]);
        std::string joined = kRoot;
        for (const auto &p : path) joined += "\\" + p;
        const size_t what = next(20);
        if (what == 0) {
            file += "[-" + joined + "]\n";
            const std::string last = path.back();
            path.pop_back();
            if (Key *parent = expected.Find(path)) parent->RemoveSubkey(last);
            current = nullptr;
        } else if (what < 8 || !current) {
            file += "[" + joined + "]\n";
            current = &expected;
            for (const auto &p : path) current = current->AddSubkey(p, nullptr);
        } else {
            const std::string name = names[next(names.size())];
            const std::string text = texts[next(texts.size())];
            if (what == 8) {
                file += "\"" + escape(name) + "\"=-\n";
                current->RemoveValue(name);
            } else {
                file += "\"" + escape(name) + "\"=\"" + escape(text) + "\"\n";
                std::wstring wide;
                wa::DecodeUtf8Text(text.data(), text.size(), false, &wide);
                current->SetValue(name, 1, wa::reg::WideToUtf16Le(wide.data(), wide.size()) + std::string(2, '\0'));
            }
        }
    }
    const auto r = ParseHive(file, kRoot);
    ASSERT_TRUE(r.ok) << r.errorLine << ": " << r.error;
    EXPECT_EQ(SerializeHive(*r.root, kRoot), SerializeHive(expected, kRoot));
    EXPECT_GT(expected.subkeys.size(), 5u) << "the steps must leave a tree to compare";
}

/* A parsed key reads its own lines (from every section that names it) only when
 * its values are first asked for; the tree keeps the text alive, copies carry
 * the unread lines, and both write back the same text. */
TEST(RegistryHiveParse, KeysReadTheirOwnLinesWhenFirstAskedAndWriteBackAsRead) {
    const std::string text = kHeader +
                             "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"one\"\r\n\"bin\"=hex:01,02,\\\r\n  03\r\n"
                             "[HKEY_LOCAL_MACHINE\\B]\n; comment\n\"w\"=dword:1\n\n"
                             "[hkey_local_machine\\a]\n\"V\"=\"two \\\"q\\\"\"\n\"bin\"=-\n@=\"d\"\n"
                             "[HKEY_LOCAL_MACHINE\\C\\Empty]\n";
    auto r = ParseHive(std::string(text), kRoot); /* the caller's bytes are gone at once */
    ASSERT_TRUE(r.ok) << r.errorLine << ": " << r.error;
    const Key *a = r.root->Find({"A"});
    const Key *b = r.root->Find({"B"});
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(a->values.Pending());
    EXPECT_TRUE(b->values.Pending());
    EXPECT_FALSE(r.root->Find({"C", "Empty"})->values.Pending()) << "a key without value lines has nothing to read";

    const std::unique_ptr<Key> copy = r.root->Clone();
    EXPECT_TRUE(copy->Find({"A"})->values.Pending()) << "copying reads nothing";

    ASSERT_EQ(a->values.size(), 2u);
    EXPECT_EQ(a->values[0].name, "v");
    EXPECT_EQ(a->values[0].data, wa::reg::Utf8ToUtf16Le("two \"q\"") + Bytes({0, 0}));
    EXPECT_EQ(a->values[1].name, "");
    EXPECT_FALSE(a->values.Pending());
    EXPECT_TRUE(b->values.Pending()) << "reading one key reads no other";

    const std::string expected = kHeader +
                                 "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"two \\\"q\\\"\"\n@=\"d\"\n\n"
                                 "[HKEY_LOCAL_MACHINE\\B]\n\"w\"=dword:00000001\n\n"
                                 "[HKEY_LOCAL_MACHINE\\C]\n\n[HKEY_LOCAL_MACHINE\\C\\Empty]\n\n";
    EXPECT_EQ(SerializeHive(*copy, kRoot), expected);
    EXPECT_EQ(SerializeHive(*r.root, kRoot), expected);
}

/* A bad line in the second section of a key: the key holds the lines before it,
 * from both sections, and no later key exists. */
TEST(RegistryHiveParse, ABadLineEndsTheKeysLinesAndTheTreeWhereItStands) {
    const std::string text = kHeader +
                             "[HKEY_LOCAL_MACHINE\\A]\n\"first\"=\"1\"\n"
                             "[HKEY_LOCAL_MACHINE\\B]\n\"x\"=\"1\"\n"
                             "[HKEY_LOCAL_MACHINE\\A]\n\"second\"=hex:01,\\\n  02\n\"bad\"=\"\\q\"\n\"after\"=\"3\"\n"
                             "[HKEY_LOCAL_MACHINE\\Later]\n\"y\"=\"1\"\n";
    const auto r = ParseHive(text, kRoot);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errorLine, 10);
    const Key *a = r.root->Find({"A"});
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->values.size(), 2u);
    EXPECT_EQ(a->values[0].name, "first");
    EXPECT_EQ(a->values[1].data, Bytes({1, 2}));
    EXPECT_NE(ValueAt(*r.root, {"B"}, "x"), nullptr);
    EXPECT_EQ(r.root->Find({"Later"}), nullptr);
}

/* Value lines in the plain written forms pass in one scan; every other line goes
 * to the full check. The scan must never pass a line the full check refuses, nor
 * misplace where the line ends: each line is parsed as it stands and with a
 * leading blank (which the scan never takes), and the two parses must agree on
 * the result, the error and its line, and the tree written back. The lines are
 * those of the fuzz corpus, typical written lines, and both mutated at random. */
TEST(RegistryHiveParse, PlainValueLinesPassExactlyAsTheFullCheckPassesThem) {
    std::vector<std::string> lines = {"\"Value1\"=\"some text of a typical length\"", "@=\"x\"", "\"\"=\"\"",
                                      "\"Count\"=dword:0000000c", "\"n\"=dword:1", "\"t\"=\"tab\there\"\r",
                                      "\"a long name with spaces and more\"=\"\xc3\xa9t\xc3\xa9 d'une longue valeur\""};
    const std::string dir = std::string(VT_SOURCE_DIR) + "/fuzz/corpus/reg";
    if (DIR *d = opendir(dir.c_str())) {
        while (const struct dirent *e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            const std::string text = vt_test::ReadWholeFile(dir + "/" + e->d_name);
            for (size_t start = 0, end; start < text.size(); start = end + 1) {
                end = text.find('\n', start);
                if (end == std::string::npos) end = text.size();
                lines.push_back(text.substr(start, end - start));
            }
        }
        closedir(d);
    }
    const std::vector<std::string> pieces = {"\"", "@", "=", " ", "\t", "\\", "\r", "dword:", "DWORD:", "hex:",
                                             "hex(2):", "-", "0", "9", "f", "G", "x", ",", ";", "[", "]",
                                             "123456789", "\xc3\xa9", std::string(1, '\0'), "\"v\"=", "=\"", "\"t\"", "\r ", " \r"};
    std::mt19937 random(14);
    auto pick = [&random](size_t n) { return static_cast<size_t>(random() % n); };
    int plain = 0, refused = 0;
    for (int round = 0; round < 12000; ++round) {
        std::string line;
        if (round % 3 == 2) {
            for (size_t n = 1 + pick(6); n > 0; --n) line += pieces[pick(pieces.size())];
        } else {
            line = lines[pick(lines.size())];
            for (size_t edits = pick(3); edits > 0; --edits) {
                const size_t at = line.empty() ? 0 : pick(line.size() + 1);
                switch (pick(3)) {
                case 0: line.insert(at, pieces[pick(pieces.size())]); break;
                case 1: if (at < line.size()) line.erase(at, 1); break;
                default: if (at < line.size()) line[at] = pieces[pick(pieces.size())][0];
                }
            }
        }
        if (line.find('\n') != std::string::npos) continue;

        /* The line amid others, and last (where the scan ends byte by byte). */
        const std::string rest = round % 2 ? "\n\"after\"=\"1\"\n" : round % 4 ? "\n" : "";
        const size_t end = wa::reg::PlainValueLineEnd(line + rest, 0);
        const std::string before = kHeader + "[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"0\"\n@=dword:2\n";
        const auto scanned = ParseHive(before + line + rest, kRoot);
        const auto checked = ParseHive(before + " " + line + rest, kRoot);
        if (end != 0) {
            ++plain;
            EXPECT_EQ(end, line.size() + 1) << "[" << line << "]";
            EXPECT_TRUE(checked.ok) << "[" << line << "]";
        }
        if (!checked.ok) {
            ++refused;
            /* Counted past the two plain lines before it. */
            if (line[0] == '"' || line[0] == '@') {
                EXPECT_EQ(checked.errorLine, 6) << "[" << line << "]";
            }
        }
        ASSERT_EQ(scanned.ok, checked.ok) << "[" << line << "]";
        ASSERT_EQ(scanned.errorLine, checked.errorLine) << "[" << line << "]";
        ASSERT_EQ(scanned.error, checked.error) << "[" << line << "]";
        ASSERT_EQ(SerializeHive(*scanned.root, kRoot), SerializeHive(*checked.root, kRoot)) << "[" << line << "]";
    }
    /* Both sides of the scan were taken often. */
    EXPECT_GT(plain, 500);
    EXPECT_GT(refused, 1000);
}

/* Keys live in slabs shared by every tree of the process, whose blocks go from
 * freed keys to new ones: threads parsing, copying, changing and dropping trees
 * at once must each keep keys of their own. */
TEST(RegistryHiveKeys, TreesMadeAndDroppedInManyThreadsAtOnceKeepTheirOwnKeys) {
    auto names = [](const Key &k) {
        std::set<std::string> out;
        for (const auto &sub : k.subkeys) out.insert(sub->name);
        return out;
    };
    std::vector<std::thread> threads;
    std::vector<int> faults(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &names, &faults] {
            const std::string mine = "T" + std::to_string(t);
            std::string text = kHeader;
            std::set<std::string> expected, changed;
            for (int i = 0; i < 300; ++i) {
                const std::string name = "K" + std::to_string(i);
                text += "[HKEY_LOCAL_MACHINE\\" + mine + "\\" + name + "]\n\"v\"=\"" + name + "\"\n";
                expected.insert(name);
                changed.insert(i % 2 ? name : "N" + std::to_string(i));
            }
            for (int round = 0; round < 20; ++round) {
                const auto r = ParseHive(text, kRoot);
                const Key *parsed = r.root->Find({mine});
                if (!r.ok || !parsed) {
                    ++faults[t];
                    continue;
                }
                std::unique_ptr<Key> copy = parsed->Clone();
                for (int i = 0; i < 300; i += 2) {
                    copy->RemoveSubkey("K" + std::to_string(i));
                    copy->AddSubkey("N" + std::to_string(i), nullptr);
                }
                if (names(*parsed) != expected || names(*copy) != changed) ++faults[t];
                const wa::reg::Value *v = ValueAt(*r.root, {mine, "K7"}, "v");
                if (!v || v->data != wa::reg::Utf8ToUtf16Le("K7") + Bytes({0, 0})) ++faults[t];
            }
        });
    }
    for (auto &th : threads) th.join();
    EXPECT_EQ(faults, std::vector<int>(4, 0));
}

TEST(RegistryHiveText, ConversionsAtTheBoundary) {
    /* Windows-1252: the 0x80-0x9F block maps to its own characters, the rest of
     * Unicode that the code page lacks becomes its best fit, else '?'. */
    const std::string ansi = "\x80\x9f\xe9\x81";
    const std::string utf16 = wa::reg::AnsiToUtf16Le(ansi.data(), ansi.size());
    EXPECT_EQ(utf16, Bytes({0xac, 0x20, 0x78, 0x01, 0xe9, 0x00, 0x81, 0x00}));
    EXPECT_EQ(wa::reg::Utf16LeToAnsi(utf16), ansi);
    EXPECT_EQ(wa::reg::Utf16LeToAnsi(wa::reg::Utf8ToUtf16Le("\xce\xa9x\xcf\x89")), "Ox?");

    /* WCHAR text: characters beyond U+FFFF become surrogate pairs and back; a lone
     * surrogate survives both ways. */
    const WCHAR wide[] = {L'a', static_cast<WCHAR>(0x1F600), static_cast<WCHAR>(0xD800), L'b'};
    const std::string units = wa::reg::WideToUtf16Le(wide, 4);
    EXPECT_EQ(units, Bytes({'a', 0, 0x3d, 0xd8, 0x00, 0xde, 0x00, 0xd8, 'b', 0}));
    const std::vector<WCHAR> back = wa::reg::Utf16LeToWide(units);
    EXPECT_EQ(back, std::vector<WCHAR>(wide, wide + 4));
    /* Malformed UTF-8 becomes U+FFFD per bad byte. */
    EXPECT_EQ(wa::reg::Utf8ToUtf16Le("\xc0\xaf"), Bytes({0xfd, 0xff, 0xfd, 0xff}));
}

}  // namespace
