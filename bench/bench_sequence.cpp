// links: vt_tamsel sqlite3
/* Identifiers from GenerateID with the sequence batches kept in SQLite under a
 * store root on disk: values per second from one and from two threads, and the
 * cost of one batch reservation (a query and a committed update) with the
 * database in WAL mode (synchronous NORMAL or FULL) and in SQLite's default
 * rollback-journal mode. */
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "log/log.h"
#include "tamsel/seq_store.h"
#include "tamsel/sequence.h"
#include "tamsel/table_defn.h"
#include "tamsel/tamsel_init.h"
#include "util/locks.h"

namespace {

/* Journal settings, by benchmark argument. */
struct Journal {
    bool wal;
    bool fullSync;
    const char *label;
};
const Journal kJournals[] = {{true, false, "WAL, synchronous=NORMAL"},
                             {true, true, "WAL, synchronous=FULL"},
                             {false, true, "rollback journal, synchronous=FULL"}};

/* A store root on disk (not a memory file system) holding one generated column. */
std::string StartStore(const Journal &journal)
{
    InitMutex();
    std::string root = std::filesystem::current_path().string() + "/bench_sequence_root_" + std::to_string(getpid());
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root + "/data");
    FILE *list = fopen((root + "/data/datadictionary.txt").c_str(), "w");
    fputs("tables.xml\n", list);
    fclose(list);
    FILE *tables = fopen((root + "/data/tables.xml").c_str(), "w");
    fputs("<data-dictionary><table name=\"Items\"><columns><column name=\"ID\"><data-type>INTEGER</data-type>"
          "<uniquevalue-generation><generator-name>ITEM_SEQ</generator-name></uniquevalue-generation>"
          "</column></columns></table></data-dictionary>\n",
          tables);
    fclose(tables);
    SetSqliteSeqStoreJournal(journal.wal, journal.fullSync);
    InitTamselAtRoot(root.c_str());
    return root;
}

void StopStore(const std::string &root)
{
    DeInitTamsel();
    SetTamselRoot(nullptr);
    std::filesystem::remove_all(root);
}

std::string gv_root;
ColumnDefn *gv_column = nullptr;

void BM_GenerateID(benchmark::State &state)
{
    if (state.thread_index() == 0) {
        gv_root = StartStore(kJournals[0]);
        gv_column = GetColumnDefnEntry("Items", "ID");
    }
    int32_t last = 0;
    for (auto _ : state) {
        last = GenerateID("Items", gv_column);
        benchmark::DoNotOptimize(last);
    }
    if (last == -1)
        state.SkipWithError("no identifier");
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0)
        StopStore(gv_root);
}

void BM_ReserveBatch(benchmark::State &state)
{
    const Journal &journal = kJournals[state.range(0)];
    std::string root = StartStore(journal);
    for (auto _ : state) {
        if (!UpdateSeqGen("Items", "ITEM_SEQ"))
            state.SkipWithError("reservation failed");
    }
    state.SetLabel(journal.label);
    StopStore(root);
}

} // namespace

BENCHMARK(BM_GenerateID)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_ReserveBatch)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
