/* Replays the stored inputs of the utility-text fuzz target through the same
 * checks; the seeds with a known reading are also checked for it. */
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "../../fuzz/fuzz_util_text.cpp"
#include "support/scratch_root.h"

namespace {

/* Which parser accepts a seed: 'o' OID, 'i' IP address, 'd' DateAndTime, 'h' HTTP date. */
std::string Readings(const std::string &text) {
    std::string found;
    unsigned int *array = nullptr;
    if (ConvertToOidOrIpFromString(&array, text.c_str(), false) > 0) found += 'o';
    free(array);
    if (IsValidIPAddress(text.c_str(), static_cast<int>(text.size()))) found += 'i';
    int count = 0;
    unsigned char *octets = ConvertToDateTimeFromString(text.c_str(), &count);
    if (octets) found += 'd';
    free(octets);
    struct tm *when = ParseDateTime(text.c_str());
    if (when) found += 'h';
    free(when);
    return found;
}

TEST(UtilTextCorpus, EveryStoredInputRunsAndSeedsReadAsExpected) {
    const std::map<std::string, std::string> seeds = {
        {"oid", "o"},          {"ip", "i"},           {"ip_zeros", "i"},        {"oid_double_dot", ""},
        {"rfc1123", "h"},      {"rfc850", "h"},       {"asctime", "h"},         {"long_weekday", ""},
        {"oid_overflow", ""},  {"ip_long_token", ""}, {"date_and_time_8", "d"}, {"date_and_time_11", "d"},
        {"counter_nine_bytes", ""},
    };
    const std::filesystem::path folder = std::filesystem::path(VT_SOURCE_DIR) / "fuzz/corpus/util_text";
    int replayed = 0;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        const std::string input = vt_test::ReadWholeFile(entry.path().string());
        EXPECT_EQ(0, LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size()));
        const auto known = seeds.find(entry.path().filename().string());
        if (known != seeds.end()) {
            EXPECT_EQ(known->second, Readings(input.c_str())) << known->first;
        }
        ++replayed;
    }
    EXPECT_GE(replayed, static_cast<int>(seeds.size()));
}

}  // namespace
