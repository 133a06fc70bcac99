/* Where the sequence generator keeps SeqGenState (SEQNAME, CURRENTBATCHEND):
 * a small statement interface that a database engine implements. Statements
 * carry '?' placeholders; the parameters are bound as texts, never spliced into
 * the statement. */
#pragma once
#include "tamsel/containers.h"

struct SeqStoreOps {
    /* The connection that serves a relvar's table (null relvar: the default
     * one); null when none can be opened. Held until ReleaseConnection. */
    void *(*AcquireConnection)(const char *relvarName);
    /* Rows of a query, every cell as text; null when the query cannot run. */
    QueryResult *(*RunQuery)(void *connection, const char *statement, const char *const *params, int paramCount);
    /* True when the change is committed to the store. */
    bool (*RunUpdate)(void *connection, const char *statement, const char *const *params, int paramCount);
    void (*ReleaseConnection)(void *connection);
    /* Closes whatever the engine keeps open (store shut-down). */
    void (*Close)(void);
};

/* The engine the sequence generator uses; the embedded SQLite store unless
 * another is set (null restores the default). */
void SetSeqStore(const SeqStoreOps *ops);
const SeqStoreOps *GetSeqStore(void);

/* The embedded store: one SQLite database "<root>/data/tamsel.db" under the
 * store's root (SetTamselRoot), created with SeqGenState on first use. */
const SeqStoreOps *SqliteSeqStore(void);
/* How the database is opened next: WAL with synchronous=NORMAL by default,
 * which keeps every committed batch across a killed process; `fullSync` keeps
 * them across a power cut as well; without `wal`, SQLite's rollback journal. */
void SetSqliteSeqStoreJournal(bool wal, bool fullSync);
