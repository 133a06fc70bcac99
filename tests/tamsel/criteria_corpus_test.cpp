/* Replays the stored inputs of the criteria fuzz target through the same code. */
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "../../fuzz/fuzz_criteria.cpp"
#include "util/locks.h"

namespace {

TEST(CriteriaCorpusTest, EveryStoredInputRunsAndSeedsParseAsExpected)
{
    InitMutex();
    /* Seeds with a known outcome; later findings only have to run cleanly. */
    const std::map<std::string, bool> accepted = {
        {"resource_id", true}, {"chain", true},          {"mixed", true},          {"two_lines", true},
        {"empty_quotes", true}, {"not_equal_pair", false}, {"unclosed", false},    {"binary", false},
        {"upper_and", false}, {"trailing_newline", false},  {"high_bytes", false},     {"nested_invalid_sign", false}, {"quotes", false},
    };
    const std::filesystem::path folder = std::filesystem::path(VT_SOURCE_DIR) / "fuzz/corpus/criteria";
    int replayed = 0;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        const std::string input = bytes.str();
        EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size()), 0);
        auto known = accepted.find(entry.path().filename().string());
        if (known != accepted.end()) {
            CriteriaNode *tree = ParseCriteria(std::string(input.c_str()).c_str());
            EXPECT_EQ(tree != nullptr, known->second) << entry.path().filename();
            FreeCriteria(tree);
        }
        replayed++;
    }
    EXPECT_GE(replayed, static_cast<int>(accepted.size()));
}

} // namespace
