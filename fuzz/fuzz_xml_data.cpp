/* Fuzz target of the table-data reader: any bytes are loaded as a table-data
 * buffer into relvars with generated identifiers, inherited keys and every
 * value form; the relvars are removed again after each input. */
// links: vt_tamsel
// sources: src/tamsel/xml_data.cpp
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>
#include <string>

#include "tamsel/relvar.h"
#include "tamsel/seq_store.h"
#include "tamsel/sequence.h"
#include "tamsel/table_defn.h"
#include "tamsel/xml_data.h"
#include "util/locks.h"

namespace {

/* Sequences kept in memory: every reservation succeeds. */
int32_t gv_fuzzBatchEnd = 0;
void *FuzzAcquire(const char *) { return &gv_fuzzBatchEnd; }
QueryResult *FuzzQuery(void *, const char *, const char *const *, int)
{
    QueryColumn *columns = static_cast<QueryColumn *>(calloc(1, sizeof(QueryColumn)));
    columns[0].name = strdup("CURRENTBATCHEND");
    std::string end = std::to_string(gv_fuzzBatchEnd);
    QueryRow *rows = AppendQueryRow(nullptr, AppendQueryCell(nullptr, static_cast<int>(end.size()), end.c_str()));
    return CreateQueryResult(rows, columns, 1);
}
bool FuzzUpdate(void *, const char *, const char *const *, int)
{
    gv_fuzzBatchEnd = gv_fuzzBatchEnd > 1000000 ? 0 : gv_fuzzBatchEnd + SEQ_BATCH_SIZE;
    return true;
}
void FuzzRelease(void *) {}
const SeqStoreOps kFuzzStore = {FuzzAcquire, FuzzQuery, FuzzUpdate, FuzzRelease, nullptr};

ColumnDefn *Column(const char *name, uint8_t type, const char *generator = nullptr, const char *defaultText = nullptr)
{
    return CreateColumnDefn(name, type, defaultText, defaultText != nullptr ? static_cast<int>(strlen(defaultText)) : 0,
                            0, generator, nullptr, 0, 1, nullptr);
}

void Define(const char *name, std::initializer_list<ColumnDefn *> columns, const char *primaryKey,
            const char *foreignColumn = nullptr, const char *referenceTable = nullptr)
{
    Vector *vector = NewVector();
    for (ColumnDefn *column : columns)
        AppendData(vector, column);
    ConstraintDefn *constraints = static_cast<ConstraintDefn *>(calloc(1, sizeof(ConstraintDefn)));
    constraints->primaryKeyColumns = static_cast<char **>(calloc(1, sizeof(char *)));
    constraints->primaryKeyColumns[0] = strdup(primaryKey);
    constraints->primaryKeyCount = 1;
    if (foreignColumn != nullptr) {
        ForeignKeyDefn *key = static_cast<ForeignKeyDefn *>(calloc(1, sizeof(ForeignKeyDefn)));
        key->fkLocalColumn = strdup(foreignColumn);
        key->fkReferenceColumn = strdup(foreignColumn);
        key->referenceTableName = strdup(referenceTable);
        AddForeignKeyDefn(constraints, key);
    }
    AddTableDefn(CreateTableDefn(name, nullptr, vector, constraints));
}

void PrepareStore()
{
    static bool ready = [] {
        InitMutex();
        SetSeqStore(&kFuzzStore);
        InitSequenceState();
        UpdateSeqGen("Parent", "PARENT_SEQ");
        UpdateSeqGen("Child", "CHILD_SEQ");
        Define("Agentparams", {Column("PARAM_NAME", KEL_SQL_SHORT_CHAR), Column("param_Value", KEL_SQL_TEXT)},
               "PARAM_NAME");
        Define("Parent",
               {Column("PARENT_ID", KEL_SQL_INT, "PARENT_SEQ"), Column("NAME", KEL_SQL_SHORT_CHAR, nullptr, "none"),
                Column("ACTIVE", KEL_SQL_BOOLEAN), Column("WEIGHT", KEL_SQL_FLOAT), Column("BIG", KEL_SQL_LONG_INT),
                Column("RATIO", KEL_SQL_DOUBLE), Column("SMALL", KEL_SQL_UNSIGNED_SMALLINT)},
               "PARENT_ID");
        Define("Child",
               {Column("CHILD_ID", KEL_SQL_INT, "CHILD_SEQ"), Column("PARENT_ID", KEL_SQL_INT),
                Column("D", KEL_SQL_DATE), Column("T", KEL_SQL_TIME), Column("DT", KEL_SQL_DATETIME),
                Column("NOTE", KEL_SQL_TEXT)},
               "CHILD_ID", "PARENT_ID", "Parent");
        Define("Workflow_Statements",
               {Column("STATEMENT_ID", KEL_SQL_INT), Column("NEXT_STATEMENT_ID", KEL_SQL_INT)}, "STATEMENT_ID",
               "NEXT_STATEMENT_ID", "Workflow_Statements");
        SetTamselIdGenerator(GenerateID);
        return true;
    }();
    (void)ready;
}

void RemoveRelvars()
{
    while (gv_tableDataVect.count > 0) {
        TableData *relvar = static_cast<TableData *>(ElementAt(&gv_tableDataVect, 0)->data);
        RemoveTableData(relvar->name);
    }
}

} // namespace

int FuzzXmlDataOne(const uint8_t *data, size_t size)
{
    PrepareStore();
    if (size > (1u << 20))
        return 0;
    ConstructTableDataFromXMLBuffer(reinterpret_cast<const char *>(data), static_cast<int>(size));
    RemoveRelvars();
    return 0;
}

#ifndef VT_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return FuzzXmlDataOne(data, size);
}
#endif
