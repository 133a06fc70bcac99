/* Replays the hive-parser fuzz corpus: every stored input must survive being
 * parsed, written and parsed again (the fuzz target's own check). */
#include "../../fuzz/fuzz_reg_parser.cpp"

#include <gtest/gtest.h>

#include <dirent.h>

#include "support/scratch_root.h"

namespace {

TEST(RegistryHiveCorpus, EveryStoredInputWritesBackToTheSameTree) {
    const std::string dir = std::string(VT_SOURCE_DIR) + "/fuzz/corpus/reg";
    DIR *d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr) << dir;
    int replayed = 0;
    while (const struct dirent *e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const std::string path = dir + "/" + e->d_name;
        std::string why;
        EXPECT_TRUE(HiveRoundTrips(vt_test::ReadWholeFile(path), &why)) << path << ": " << why;
        ++replayed;
    }
    closedir(d);
    EXPECT_GE(replayed, 5);
}

}  // namespace
