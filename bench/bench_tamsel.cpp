// links: vt_tamsel sqlite3
/* The table store against an in-memory SQLite table without index, same rows:
 * adding rows, an equality selection on a CHAR column, a range selection on an
 * INT column, deletions by criteria, and the memory a stored row takes. */
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "tamsel/relvar.h"
#include "tamsel/table_defn.h"
#include "util/locks.h"

namespace {

constexpr int kSelectRows = 100000;
const char kEqualityCriteria[] = "NAME='name_50000'";
const char kRangeCriteria[] = "AGE >= 20 and AGE < 30";

void ResetStore()
{
    for (VectorNode *node = gv_tableDataVect.head; node != nullptr; node = node->next) {
        FreeTableData(static_cast<TableData *>(node->data));
        free(node->data);
    }
    FreeVector(&gv_tableDataVect);
    FreeAllTableDefns();
}

void DefinePeople()
{
    Vector *columns = NewVector();
    AppendData(columns, CreateColumnDefn("ID", KEL_SQL_INT, nullptr, 0, 0, nullptr, nullptr, 0, 1, nullptr));
    AppendData(columns, CreateColumnDefn("NAME", KEL_SQL_SHORT_CHAR, nullptr, 0, 0, nullptr, nullptr, 40, 1, nullptr));
    AppendData(columns, CreateColumnDefn("AGE", KEL_SQL_INT, nullptr, 0, 0, nullptr, nullptr, 0, 1, nullptr));
    AddTableDefn(CreateTableDefn("People", nullptr, columns,
                                 static_cast<ConstraintDefn *>(calloc(1, sizeof(ConstraintDefn)))));
    CreateTable("People");
}

void *IntValue(int32_t value)
{
    int32_t *stored = static_cast<int32_t *>(calloc(1, sizeof(int32_t) + 1));
    *stored = value;
    return stored;
}

/* Rows (i, "name_i", i % 100) and, with four columns, i % 1000. */
void AddRows(const char *table, int columnCount, int count)
{
    char name[32];
    for (int i = 0; i < count; i++) {
        void **values = static_cast<void **>(calloc(static_cast<size_t>(columnCount), sizeof(void *)));
        int32_t *lengths = static_cast<int32_t *>(calloc(static_cast<size_t>(columnCount), sizeof(int32_t)));
        int length = snprintf(name, sizeof name, "name_%d", i);
        values[0] = IntValue(i);
        lengths[0] = 4;
        values[1] = calloc(static_cast<size_t>(length) + 1, 1);
        memcpy(values[1], name, static_cast<size_t>(length));
        lengths[1] = length;
        values[2] = IntValue(i % 100);
        lengths[2] = 4;
        if (columnCount == 4) {
            values[3] = IntValue(i % 1000);
            lengths[3] = 4;
        }
        AddNewRow(table, CreateNewRowObject(values, lengths));
    }
}

void AddPeople(int count) { AddRows("People", 3, count); }

int RowsLeft()
{
    int left = 0;
    for (RowObject *row = GetTableDataByName("People")->firstRow; row != nullptr; row = row->next)
        left++;
    return left;
}

sqlite3 *OpenSqlite()
{
    sqlite3 *db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db, "CREATE TABLE People(ID INTEGER, NAME TEXT, AGE INTEGER)", nullptr, nullptr, nullptr);
    return db;
}

/* Rows (i, "name_i", i % 100) and, when the statement has a fourth column, i % 1000. */
void AddSqliteRows(sqlite3 *db, const char *insertStatement, int count)
{
    char name[32];
    sqlite3_stmt *insert = nullptr;
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db, insertStatement, -1, &insert, nullptr);
    bool score = sqlite3_bind_parameter_count(insert) == 4;
    for (int i = 0; i < count; i++) {
        int length = snprintf(name, sizeof name, "name_%d", i);
        sqlite3_bind_int(insert, 1, i);
        sqlite3_bind_text(insert, 2, name, length, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 3, i % 100);
        if (score)
            sqlite3_bind_int(insert, 4, i % 1000);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
}

void AddSqlitePeople(sqlite3 *db, int count) { AddSqliteRows(db, "INSERT INTO People VALUES(?, ?, ?)", count); }

void BM_TamselAddRows(benchmark::State &state)
{
    InitMutex();
    for (auto _ : state) {
        state.PauseTiming();
        ResetStore();
        DefinePeople();
        state.ResumeTiming();
        AddPeople(static_cast<int>(state.range(0)));
    }
    ResetStore();
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_SqliteAddRows(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        sqlite3 *db = OpenSqlite();
        state.ResumeTiming();
        AddSqlitePeople(db, static_cast<int>(state.range(0)));
        state.PauseTiming();
        sqlite3_close(db);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void TamselSelect(benchmark::State &state, const char *criteria)
{
    InitMutex();
    ResetStore();
    DefinePeople();
    AddPeople(kSelectRows);
    int matched = 0;
    for (auto _ : state) {
        ResultData *result = SelectRows("People", criteria);
        matched = result->rowCount;
        /* Walk what was selected, as a reader of the result would. */
        int sum = 0;
        while (GotoNextRowObject(result) != nullptr)
            sum += *static_cast<int32_t *>(GetColumnValueByName("ID", nullptr, result));
        benchmark::DoNotOptimize(sum);
        FreeResultData(result);
    }
    state.counters["matched"] = matched;
    ResetStore();
}

void SqliteSelect(benchmark::State &state, const char *where)
{
    sqlite3 *db = OpenSqlite();
    AddSqlitePeople(db, kSelectRows);
    std::string query = std::string("SELECT ID, NAME, AGE FROM People WHERE ") + where;
    sqlite3_stmt *select = nullptr;
    sqlite3_prepare_v2(db, query.c_str(), -1, &select, nullptr);
    int matched = 0;
    for (auto _ : state) {
        int sum = 0;
        matched = 0;
        while (sqlite3_step(select) == SQLITE_ROW) {
            sum += sqlite3_column_int(select, 0);
            matched++;
        }
        sqlite3_reset(select);
        benchmark::DoNotOptimize(sum);
    }
    state.counters["matched"] = matched;
    sqlite3_finalize(select);
    sqlite3_close(db);
}

/* Deletions by criteria from `rows` rows (AGE cycles through 0..99): "AGE = 50"
 * takes 1 % of the rows, scattered; "AGE < 50" half of them. The rows are added
 * again outside the timing.
 *
 * A scan of the chain costs what its cache misses cost, so it depends on where
 * the allocator puts the rows. Rows added into the small pieces the previous
 * iteration freed lie scattered (a row and its value block kilobytes apart, the
 * chain jumping over the holes deleted rows left): a scan of such rows costs
 * several times one of rows laid out as a first load lays them out. With
 * `settled`, the freed memory is handed back before the rows are added again, so
 * every iteration measures that first-load layout; without it, the recycled one.
 * (SQLite keeps its rows in pages of its own: its layout does not depend on it,
 * and handing its memory back would only add page faults to its timing.) */
const char kScatteredCriteria[] = "AGE = 50";
const char kHalfCriteria[] = "AGE < 50";

void TamselDelete(benchmark::State &state, int rows, const char *criteria, bool settled = true)
{
    InitMutex();
    for (auto _ : state) {
        state.PauseTiming();
        ResetStore();
        if (settled)
            malloc_trim(0);
        DefinePeople();
        AddPeople(rows);
        state.ResumeTiming();
        DeleteRowObjectByCriteria("People", criteria);
    }
    state.counters["left"] = RowsLeft();
    ResetStore();
}

void SqliteDelete(benchmark::State &state, int rows, const char *where)
{
    std::string statement = std::string("DELETE FROM People WHERE ") + where;
    int left = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sqlite3 *db = OpenSqlite();
        AddSqlitePeople(db, rows);
        state.ResumeTiming();
        sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr);
        state.PauseTiming();
        left = rows - sqlite3_changes(db);
        sqlite3_close(db);
        state.ResumeTiming();
    }
    state.counters["left"] = left;
}

void BM_TamselDeleteScattered(benchmark::State &state) { TamselDelete(state, kSelectRows, kScatteredCriteria); }
void BM_TamselDeleteScatteredRecycledHeap(benchmark::State &state)
{
    TamselDelete(state, kSelectRows, kScatteredCriteria, false);
}
void BM_SqliteDeleteScattered(benchmark::State &state) { SqliteDelete(state, kSelectRows, "AGE = 50"); }
void BM_TamselDeleteHalf(benchmark::State &state)
{
    TamselDelete(state, static_cast<int>(state.range(0)), kHalfCriteria);
}
void BM_SqliteDeleteHalf(benchmark::State &state) { SqliteDelete(state, static_cast<int>(state.range(0)), "AGE < 50"); }

/* Bytes the allocator hands out for rows of four columns (ID, NAME, AGE, SCORE),
 * per row, measured as the growth of malloc's in-use total. */
constexpr int kMemoryRows = 1000000;

size_t HeapInUse()
{
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

void BM_TamselBytesPerRow(benchmark::State &state)
{
    InitMutex();
    double perRow = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ResetStore();
        Vector *columns = NewVector();
        AppendData(columns, CreateColumnDefn("ID", KEL_SQL_INT, nullptr, 0, 0, nullptr, nullptr, 0, 1, nullptr));
        AppendData(columns,
                   CreateColumnDefn("NAME", KEL_SQL_SHORT_CHAR, nullptr, 0, 0, nullptr, nullptr, 40, 1, nullptr));
        AppendData(columns, CreateColumnDefn("AGE", KEL_SQL_INT, nullptr, 0, 0, nullptr, nullptr, 0, 1, nullptr));
        AppendData(columns, CreateColumnDefn("SCORE", KEL_SQL_INT, nullptr, 0, 0, nullptr, nullptr, 0, 1, nullptr));
        AddTableDefn(CreateTableDefn("Scores", nullptr, columns,
                                     static_cast<ConstraintDefn *>(calloc(1, sizeof(ConstraintDefn)))));
        CreateTable("Scores");
        size_t before = HeapInUse();
        state.ResumeTiming();
        AddRows("Scores", 4, kMemoryRows);
        state.PauseTiming();
        perRow = static_cast<double>(HeapInUse() - before) / kMemoryRows;
        ResetStore();
        state.ResumeTiming();
    }
    state.counters["bytes_per_row"] = perRow;
}

void BM_SqliteBytesPerRow(benchmark::State &state)
{
    double perRow = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sqlite3 *db = nullptr;
        sqlite3_open(":memory:", &db);
        sqlite3_exec(db, "CREATE TABLE Scores(ID INTEGER, NAME TEXT, AGE INTEGER, SCORE INTEGER)", nullptr, nullptr,
                     nullptr);
        size_t before = HeapInUse();
        state.ResumeTiming();
        AddSqliteRows(db, "INSERT INTO Scores VALUES(?, ?, ?, ?)", kMemoryRows);
        state.PauseTiming();
        perRow = static_cast<double>(HeapInUse() - before) / kMemoryRows;
        sqlite3_close(db);
        state.ResumeTiming();
    }
    state.counters["bytes_per_row"] = perRow;
}

void BM_TamselSelectEqualityChar(benchmark::State &state) { TamselSelect(state, kEqualityCriteria); }
void BM_SqliteSelectEqualityChar(benchmark::State &state) { SqliteSelect(state, "NAME='name_50000'"); }
void BM_TamselSelectRangeInt(benchmark::State &state) { TamselSelect(state, kRangeCriteria); }
void BM_SqliteSelectRangeInt(benchmark::State &state) { SqliteSelect(state, "AGE >= 20 AND AGE < 30"); }

} // namespace

BENCHMARK(BM_TamselAddRows)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteAddRows)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TamselSelectEqualityChar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteSelectEqualityChar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TamselSelectRangeInt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteSelectRangeInt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TamselDeleteScattered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteDeleteScattered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TamselDeleteScatteredRecycledHeap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TamselDeleteHalf)->Arg(10000)->Arg(20000)->Arg(40000)->Arg(80000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteDeleteHalf)->Arg(10000)->Arg(20000)->Arg(40000)->Arg(80000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TamselBytesPerRow)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteBytesPerRow)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
