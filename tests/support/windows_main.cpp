/* Entry point of the Windows test programs. Tests listed in tests/windows_skips.txt
 * do not pass on Windows yet: each one the filter selects is reported as skipped
 * with its reason instead of being run. */
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Skip {
    const char *pattern;
    const char *reason;
};

const Skip kSkips[] = {
#include "windows_skips.inc"
    {nullptr, nullptr}};

/* gtest's wildcard: '*' any text, '?' one character. */
bool Matches(const char *pattern, const char *text) {
    if (*pattern == '\0') return *text == '\0';
    if (*pattern == '*') return Matches(pattern + 1, text) || (*text != '\0' && Matches(pattern, text + 1));
    if (*text == '\0') return false;
    return (*pattern == '?' || *pattern == *text) && Matches(pattern + 1, text + 1);
}

bool MatchesAny(const std::string &patterns, const std::string &name) {
    size_t start = 0;
    while (start <= patterns.size()) {
        size_t end = patterns.find(':', start);
        if (end == std::string::npos) end = patterns.size();
        if (Matches(patterns.substr(start, end - start).c_str(), name.c_str())) return true;
        start = end + 1;
    }
    return false;
}

/* The filter "positive[-negative]" selects `name`. */
bool Selected(const std::string &filter, const std::string &name) {
    const size_t dash = filter.find('-');
    const std::string positive = dash == std::string::npos ? filter : filter.substr(0, dash);
    const std::string negative = dash == std::string::npos ? "" : filter.substr(dash + 1);
    return MatchesAny(positive.empty() ? "*" : positive, name) && !MatchesAny(negative, name);
}

/* The tests set up their machine in the machine's own registry and on its drive C:
 * and remove what they wrote when they end, keys the machine already had included.
 * That is meant for a throw-away Wine prefix, not for a machine someone works on. */
bool MayChangeThisMachine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr) return true;
    const char *allowed = std::getenv("VT_TESTS_MAY_CHANGE_THIS_MACHINE");
    return allowed != nullptr && std::string(allowed) == "1";
}

}  // namespace

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!GTEST_FLAG_GET(list_tests) && !MayChangeThisMachine()) {
        std::fprintf(stderr,
                     "These tests write and delete keys under HKEY_LOCAL_MACHINE and folders on drive C: of the\n"
                     "machine they run on. Run them under Wine (scripts/wine-run.sh), or set\n"
                     "VT_TESTS_MAY_CHANGE_THIS_MACHINE=1 on a machine whose registry may be lost.\n");
        return 2;
    }
    std::string filter = GTEST_FLAG_GET(filter);
    std::string excluded;
    const testing::UnitTest &unit = *testing::UnitTest::GetInstance();
    for (int s = 0; s < unit.total_test_suite_count(); ++s) {
        const testing::TestSuite &suite = *unit.GetTestSuite(s);
        for (int t = 0; t < suite.total_test_count(); ++t) {
            const std::string name = std::string(suite.name()) + "." + suite.GetTestInfo(t)->name();
            for (const Skip *skip = kSkips; skip->pattern; ++skip) {
                if (!Matches(skip->pattern, name.c_str())) continue;
                if (!GTEST_FLAG_GET(list_tests) && Selected(filter, name))
                    std::printf("[  SKIPPED ] %s (not on Windows: %s)\n", name.c_str(), skip->reason);
                excluded += (excluded.empty() ? "" : ":") + name;
                break;
            }
        }
    }
    if (!excluded.empty() && !GTEST_FLAG_GET(list_tests))
        GTEST_FLAG_SET(filter, filter + (filter.find('-') == std::string::npos ? "-" : ":") + excluded);
    std::fflush(stdout);
    return RUN_ALL_TESTS();
}
