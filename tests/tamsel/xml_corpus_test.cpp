/* Replays the stored inputs of the table-data and dictionary fuzz targets
 * through the same code. */
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#define VT_FUZZ_REPLAY
#include "../../fuzz/fuzz_data_dictionary.cpp"
#include "../../fuzz/fuzz_xml_data.cpp"
#include "tamsel/relvar.h"
#include "tamsel/seq_store.h"
#include "tamsel/sequence.h"
#include "support/scratch_root.h"
#include "tamsel_support.h"

namespace {

int ReplayFolder(const char *name, int (*run)(const uint8_t *, size_t))
{
    const std::filesystem::path folder = std::filesystem::path(VT_SOURCE_DIR) / "fuzz/corpus" / name;
    int replayed = 0;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        const std::string input = vt_test::ReadWholeFile(entry.path().string());
        EXPECT_EQ(0, run(reinterpret_cast<const uint8_t *>(input.data()), input.size())) << entry.path();
        replayed++;
    }
    return replayed;
}

TEST(XmlCorpusTest, EveryStoredInputOfBothReadersRunsCleanly)
{
    tamsel_test::ResetStore();
    EXPECT_GE(ReplayFolder("data_dictionary", FuzzDataDictionaryOne), 3);
    EXPECT_TRUE(GetTableDefnVect()->count == 0);
    EXPECT_GE(ReplayFolder("xml_data", FuzzXmlDataOne), 4);
    EXPECT_EQ(0, gv_tableDataVect.count);
    /* The target's store set-up stays for the process; undo it for the other tests. */
    tamsel_test::ResetStore();
    FreeSequenceState();
    SetSeqStore(nullptr);
}

}  // namespace
