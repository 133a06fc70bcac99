/* The embedded store of SeqGenState: one SQLite database under the store's root,
 * opened on first use and kept open until the store shuts down. Every update runs
 * in its own transaction, so it is committed when RunUpdate answers. */
#include "tamsel/seq_store.h"

#include <sqlite3.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>
#include <string>

#include "log/log.h"
#include "tamsel/table_defn.h"

namespace {

std::mutex gv_sqliteLock;       /* held from AcquireConnection to ReleaseConnection */
sqlite3 *gv_sqliteDb = nullptr; /* guarded by gv_sqliteLock */
bool gv_sqliteWal = true;
bool gv_sqliteFullSync = false;

bool Execute(sqlite3 *db, const char *statement)
{
    char *message = nullptr;
    if (sqlite3_exec(db, statement, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    LogError("SeqGenState store : %s failed : %s\n", statement, message != nullptr ? message : "");
    sqlite3_free(message);
    return false;
}

sqlite3 *OpenDatabase()
{
    const char *root = GetTamselRoot();
    if (root == nullptr) {
        LogError("SeqGenState store : no store root is set\n");
        return nullptr;
    }
    std::string path = std::string(root) + "/data/tamsel.db";
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        LogError("SeqGenState store : cannot open %s : %s\n", path.c_str(), db != nullptr ? sqlite3_errmsg(db) : "");
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 5000);
    /* WAL with NORMAL keeps every committed transaction across a killed process
     * (the log is in the operating system's hands at commit); FULL also across a
     * power cut, at many times the cost of a commit. */
    bool ready = Execute(db, gv_sqliteWal ? "PRAGMA journal_mode=WAL;" : "PRAGMA journal_mode=DELETE;") &&
                 Execute(db, gv_sqliteFullSync ? "PRAGMA synchronous=FULL;" : "PRAGMA synchronous=NORMAL;") &&
                 Execute(db, "CREATE TABLE IF NOT EXISTS SeqGenState (SEQNAME TEXT PRIMARY KEY, "
                             "CURRENTBATCHEND INTEGER NOT NULL);");
    if (!ready) {
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

sqlite3_stmt *Prepare(sqlite3 *db, const char *statement, const char *const *params, int paramCount)
{
    sqlite3_stmt *prepared = nullptr;
    if (sqlite3_prepare_v2(db, statement, -1, &prepared, nullptr) != SQLITE_OK) {
        LogError("SeqGenState store : cannot prepare %s : %s\n", statement, sqlite3_errmsg(db));
        return nullptr;
    }
    for (int i = 0; i < paramCount; i++) {
        if (sqlite3_bind_text(prepared, i + 1, params[i], -1, SQLITE_TRANSIENT) != SQLITE_OK) {
            sqlite3_finalize(prepared);
            return nullptr;
        }
    }
    return prepared;
}

void *AcquireSqlite(const char *)
{
    gv_sqliteLock.lock();
    if (gv_sqliteDb == nullptr)
        gv_sqliteDb = OpenDatabase();
    if (gv_sqliteDb == nullptr) {
        gv_sqliteLock.unlock();
        return nullptr;
    }
    return gv_sqliteDb;
}

void ReleaseSqlite(void *connection)
{
    if (connection != nullptr)
        gv_sqliteLock.unlock();
}

QueryResult *RunSqliteQuery(void *connection, const char *statement, const char *const *params, int paramCount)
{
    sqlite3 *db = static_cast<sqlite3 *>(connection);
    sqlite3_stmt *prepared = db != nullptr ? Prepare(db, statement, params, paramCount) : nullptr;
    if (prepared == nullptr)
        return nullptr;
    int columnCount = sqlite3_column_count(prepared);
    QueryColumn *columns =
        static_cast<QueryColumn *>(calloc(static_cast<size_t>(columnCount > 0 ? columnCount : 1), sizeof(QueryColumn)));
    bool ok = columns != nullptr;
    for (int i = 0; ok && i < columnCount; i++) {
        columns[i].name = strdup(sqlite3_column_name(prepared, i));
        columns[i].type = KEL_SQL_CHAR;
        ok = columns[i].name != nullptr;
    }
    QueryRow *rows = nullptr;
    int step = SQLITE_ROW;
    while (ok && (step = sqlite3_step(prepared)) == SQLITE_ROW) {
        QueryCell *cells = nullptr;
        for (int i = 0; i < columnCount; i++) {
            const unsigned char *text = sqlite3_column_text(prepared, i);
            cells = AppendQueryCell(cells, sqlite3_column_bytes(prepared, i), reinterpret_cast<const char *>(text));
        }
        rows = AppendQueryRow(rows, cells);
    }
    if (ok && step != SQLITE_DONE) {
        LogError("SeqGenState store : %s failed : %s\n", statement, sqlite3_errmsg(db));
        ok = false;
    }
    sqlite3_finalize(prepared);
    QueryResult *result = ok ? CreateQueryResult(rows, columns, columnCount) : nullptr;
    if (result == nullptr) {
        FreeQueryRows(rows);
        if (columns != nullptr)
            FreeQueryColumns(columns, columnCount);
    }
    return result;
}

bool RunSqliteUpdate(void *connection, const char *statement, const char *const *params, int paramCount)
{
    sqlite3 *db = static_cast<sqlite3 *>(connection);
    sqlite3_stmt *prepared = db != nullptr ? Prepare(db, statement, params, paramCount) : nullptr;
    if (prepared == nullptr)
        return false;
    int step = sqlite3_step(prepared);
    sqlite3_finalize(prepared);
    if (step != SQLITE_DONE) {
        LogError("SeqGenState store : %s failed : %s\n", statement, sqlite3_errmsg(db));
        return false;
    }
    return sqlite3_changes(db) > 0;
}

void CloseSqlite()
{
    std::lock_guard<std::mutex> hold(gv_sqliteLock);
    sqlite3_close(gv_sqliteDb);
    gv_sqliteDb = nullptr;
}

const SeqStoreOps kSqliteOps = {AcquireSqlite, RunSqliteQuery, RunSqliteUpdate, ReleaseSqlite, CloseSqlite};

} // namespace

const SeqStoreOps *SqliteSeqStore(void)
{
    return &kSqliteOps;
}

void SetSqliteSeqStoreJournal(bool wal, bool fullSync)
{
    gv_sqliteWal = wal;
    gv_sqliteFullSync = fullSync;
}
