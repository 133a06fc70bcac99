/* Relvars and result sets: creation, rows, selection by criteria, reading through
 * a cursor, update, deletion, sorting and release. Printing is in relvar_print.cpp. */
#include "tamsel/relvar.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "log/log.h"
#include "tamsel/criteria.h"
#include "tamsel/kel_datetime.h"
#include "tamsel/tamsel_private.h"
#include "util/strings.h"

Vector gv_tableDataVect = {nullptr, 0, nullptr, nullptr};

using tamsel_private::ColumnAt;
using tamsel_private::ColumnNameAt;
using tamsel_private::ColumnsOf;
using tamsel_private::ObjectLock;

namespace {

/* Its address keys the lock that serialises every selection and criteria deletion. */
const char gv_criteriaLockToken = 0;

std::atomic<TamselIdGenerator> gv_idGenerator{nullptr};
std::atomic<TamselChangeSink> gv_changeSink{nullptr};

void ReportChange(RowObject *row, const char *relvarName)
{
    TamselChangeSink sink = gv_changeSink.load(std::memory_order_acquire);
    if (sink != nullptr)
        sink(row, relvarName);
}

/* Size of the record a date or time value is, or 0 for the other types. */
size_t RecordSize(uint8_t type)
{
    if (type == KEL_SQL_DATE)
        return sizeof(KelDate);
    if (type == KEL_SQL_TIME)
        return sizeof(KelTime);
    if (type == KEL_SQL_DATETIME)
        return KEL_DATETIME_LENGTH;
    return 0;
}

Vector *ColumnsOf(const TableData *relvar)
{
    return ColumnsOf(relvar->kind, relvar->tableDefn, relvar->viewDefn);
}

/* Position of the first column named so (any letter case), or -1. */
int FindColumnIndex(Vector *columns, uint8_t kind, const char *columnName)
{
    int index = 0;
    for (VectorNode *node = columns != nullptr ? ElementAt(columns, 0) : nullptr; node != nullptr;
         node = node->next, index++) {
        if (CompareStringsNoCase(ColumnNameAt(node, kind), columnName) == 0)
            return index;
    }
    return -1;
}

bool IsFilterable(const TableData *relvar)
{
    return relvar->kind == RELVAR_TABLE && relvar->tableDefn != nullptr && relvar->tableDefn->columns != nullptr &&
           relvar->tableDefn->columns->count > 0;
}

/* Takes a row out of its relvar's chain, given the row before it (null for the first). */
void UnlinkAfter(TableData *relvar, RowObject *previous, RowObject *row)
{
    if (previous == nullptr)
        relvar->firstRow = row->next;
    else
        previous->next = row->next;
    if (relvar->lastRow == row)
        relvar->lastRow = previous;
    row->next = nullptr;
}

/* Unlinks a row from its relvar's chain; false when the row is not in it. */
bool UnlinkRow(TableData *relvar, RowObject *row)
{
    RowObject *previous = nullptr;
    for (RowObject *walk = relvar->firstRow; walk != nullptr; previous = walk, walk = walk->next) {
        if (walk == row) {
            UnlinkAfter(relvar, previous, row);
            return true;
        }
    }
    return false;
}

/* A row that is out of its chain: reported while still intact, then freed. */
void ReportAndFreeRow(TableData *relvar, RowObject *row)
{
    ReportChange(row, relvar->name);
    FreeRowObject(row, relvar->columnCount);
}

/* Rows in a relvar keep their lengths, value pointers and values in one block:
 * the lengths first, then the value pointers, then the values. Values of the
 * fixed-width types are stored without the zero byte that follows texts, at
 * their type's alignment. */
size_t PointerArrayOffset(int columnCount)
{
    size_t lengths = static_cast<size_t>(columnCount) * sizeof(int32_t);
    return (lengths + alignof(void *) - 1) & ~(alignof(void *) - 1);
}

bool IsPackedRow(const RowObject *row, int columnCount)
{
    return columnCount > 0 && row->lengths != nullptr &&
           reinterpret_cast<const char *>(row->values) ==
               reinterpret_cast<const char *>(row->lengths) + PointerArrayOffset(columnCount);
}

/* Width of the fixed-width types (0 for the others); a value of such a type and
 * exactly that length needs no zero byte after it. */
size_t FixedWidth(uint8_t type)
{
    switch (type) {
    case KEL_SQL_TINYINT:
    case KEL_SQL_UNSIGNED_TINYINT:
    case KEL_SQL_SMALLINT:
    case KEL_SQL_UNSIGNED_SMALLINT:
    case KEL_SQL_INT:
    case KEL_SQL_UNSIGNED_INT:
    case KEL_SQL_FLOAT:
    case KEL_SQL_REAL:
        return 4;
    case KEL_SQL_LONG_INT:
    case KEL_SQL_UNSIGNED_LONG_INT:
    case KEL_SQL_DOUBLE:
        return 8;
    case KEL_SQL_BOOLEAN:
        return 1;
    case KEL_SQL_DATE:
        return sizeof(KelDate);
    case KEL_SQL_TIME:
        return sizeof(KelTime);
    default:
        return 0;
    }
}

size_t ValueAlignment(uint8_t type)
{
    switch (type) {
    case KEL_SQL_DATE:
    case KEL_SQL_DATETIME:
        return alignof(KelDateTime);
    case KEL_SQL_TIME:
    case KEL_SQL_BOOLEAN:
        return 1;
    default:
        return FixedWidth(type) > 0 ? FixedWidth(type) : 1;
    }
}

/* Bytes a value takes in a row block and how many of them are copied from it. */
void ValueExtent(uint8_t type, int32_t length, size_t *copied, size_t *taken)
{
    size_t size = length < 0 ? 0 : static_cast<size_t>(length);
    size_t record = RecordSize(type);
    *copied = record > 0 ? record : size;
    *taken = FixedWidth(type) > 0 && FixedWidth(type) == *copied ? *copied : *copied + 1;
}

/* Moves a relvar row's arrays and values into one block. Nothing changes when the
 * block cannot be allocated: the row stays as it was given. */
void PackRow(RowObject *row, Vector *columns, uint8_t kind, int columnCount)
{
    auto typeAt = [kind](VectorNode *node) {
        ColumnDefn *column = ColumnAt(node, kind);
        return column != nullptr ? column->type : static_cast<uint8_t>(0);
    };
    const size_t valuesStart = PointerArrayOffset(columnCount) + static_cast<size_t>(columnCount) * sizeof(void *);
    size_t size = valuesStart;
    VectorNode *node = ElementAt(columns, 0);
    for (int i = 0; i < columnCount; i++, node = node != nullptr ? node->next : nullptr) {
        if (row->values[i] == nullptr)
            continue;
        size_t copied, taken, align = ValueAlignment(typeAt(node));
        ValueExtent(typeAt(node), row->lengths[i], &copied, &taken);
        size = ((size + align - 1) & ~(align - 1)) + taken;
    }
    char *block = static_cast<char *>(calloc(1, size));
    if (block == nullptr)
        return;
    int32_t *lengths = reinterpret_cast<int32_t *>(block);
    void **values = reinterpret_cast<void **>(block + PointerArrayOffset(columnCount));
    size_t offset = valuesStart;
    node = ElementAt(columns, 0);
    for (int i = 0; i < columnCount; i++, node = node != nullptr ? node->next : nullptr) {
        lengths[i] = row->lengths[i];
        if (row->values[i] == nullptr)
            continue;
        size_t copied, taken, align = ValueAlignment(typeAt(node));
        ValueExtent(typeAt(node), row->lengths[i], &copied, &taken);
        offset = (offset + align - 1) & ~(align - 1);
        values[i] = block + offset;
        if (copied > 0)
            memcpy(values[i], row->values[i], copied);
        offset += taken;
        free(row->values[i]);
    }
    free(row->values);
    free(row->lengths);
    row->values = values;
    row->lengths = lengths;
}

/* Gives a packed row separate arrays and values again, so that one value can be
 * replaced and freed; false (row unchanged) when memory runs out. */
bool UnpackRow(RowObject *row, Vector *columns, uint8_t kind, int columnCount)
{
    if (!IsPackedRow(row, columnCount))
        return true;
    void **values = static_cast<void **>(calloc(static_cast<size_t>(columnCount), sizeof(void *)));
    int32_t *lengths = static_cast<int32_t *>(calloc(static_cast<size_t>(columnCount), sizeof(int32_t)));
    bool copied = values != nullptr && lengths != nullptr;
    VectorNode *node = ElementAt(columns, 0);
    for (int i = 0; copied && i < columnCount; i++, node = node != nullptr ? node->next : nullptr) {
        ColumnDefn *column = ColumnAt(node, kind);
        lengths[i] = row->lengths[i];
        if (row->values[i] != nullptr) {
            values[i] = CopyColumnValue(column != nullptr ? column->type : 0, row->values[i], row->lengths[i]);
            copied = values[i] != nullptr;
        }
    }
    if (!copied) {
        for (int i = 0; values != nullptr && i < columnCount; i++)
            free(values[i]);
        free(values);
        free(lengths);
        return false;
    }
    free(row->lengths); /* the block */
    row->values = values;
    row->lengths = lengths;
    return true;
}

/* The criteria parsed and bound to a table's columns; null when the text does not
 * parse or the relvar is no table with columns. The caller holds the criteria
 * lock and frees the tree. */
CriteriaNode *BoundCriteria(const TableData *relvar, const char *criteria)
{
    CriteriaNode *tree = ParseCriteria(criteria);
    if (tree == nullptr)
        return nullptr;
    if (!IsFilterable(relvar)) {
        FreeCriteria(tree);
        return nullptr;
    }
    ResolveCriteriaColumns(relvar->tableDefn->columns, tree);
    return tree;
}

int32_t SortKey(const RowObject *row, int index)
{
    int32_t key = 0;
    int32_t length = row->lengths[index];
    size_t width = length < 4 ? static_cast<size_t>(length < 0 ? 0 : length) : 4u;
    memcpy(&key, row->values[index], width);
    return key;
}

} // namespace

void SetTamselIdGenerator(TamselIdGenerator generator)
{
    gv_idGenerator.store(generator, std::memory_order_release);
}

void SetTamselChangeSink(TamselChangeSink sink)
{
    gv_changeSink.store(sink, std::memory_order_release);
}

void *CopyColumnValue(uint8_t type, const void *value, int32_t length)
{
    if (value == nullptr)
        return nullptr;
    size_t size = length < 0 ? 0 : static_cast<size_t>(length);
    size_t record = RecordSize(type);
    if (record > 0)
        size = record;
    char *copy = static_cast<char *>(calloc(size + 1, 1));
    if (copy != nullptr && size > 0)
        memcpy(copy, value, size);
    return copy;
}

signed char SortTableByName(VectorNode *newNode, VectorNode *existing)
{
    LogTrace("@@@ Inside SortTableByName @@@\n");
    const TableData *left = static_cast<const TableData *>(newNode->data);
    const TableData *right = static_cast<const TableData *>(existing->data);
    int order = CompareStrings(left->name, right->name);
    return static_cast<signed char>(order > 0 ? 1 : (order < 0 ? -1 : 0));
}

TableData *GetTableDataByName(const char *name)
{
    LogTrace("@@@ Inside GetTableDataByName @@@\n");
    if (name == nullptr)
        return nullptr;
    /* The walk holds the list's lock, so a relvar created meanwhile on another
     * thread is either seen whole or not at all. */
    ObjectLock lock(&gv_tableDataVect);
    for (VectorNode *node = gv_tableDataVect.head; node != nullptr; node = node->next) {
        TableData *relvar = static_cast<TableData *>(node->data);
        if (CompareStringsNoCase(relvar->name, name) == 0)
            return relvar;
    }
    return nullptr;
}

static bool AddRelvar(const char *name, uint8_t kind, TableDefn *tableDefn, CustomViewDefn *viewDefn)
{
    TableData *relvar = static_cast<TableData *>(calloc(1, sizeof(TableData)));
    if (relvar == nullptr)
        return false;
    if (DuplicateString(&relvar->name, name) != 1) {
        free(relvar);
        return false;
    }
    relvar->kind = kind;
    relvar->tableDefn = tableDefn;
    relvar->viewDefn = viewDefn;
    Vector *columns = ColumnsOf(kind, tableDefn, viewDefn);
    relvar->columnCount = columns != nullptr ? columns->count : 0;
    VectorNode *node = static_cast<VectorNode *>(calloc(1, sizeof(VectorNode)));
    if (node == nullptr) {
        free(relvar->name);
        free(relvar);
        return false;
    }
    node->data = relvar;

    /* The name test and the append are one step under the list's lock, so two
     * threads cannot both create the same name. */
    bool added = true;
    {
        ObjectLock lock(&gv_tableDataVect);
        for (VectorNode *walk = gv_tableDataVect.head; walk != nullptr && added; walk = walk->next)
            added = CompareStringsNoCase(static_cast<TableData *>(walk->data)->name, name) != 0;
        if (added) {
            if (gv_tableDataVect.tail != nullptr)
                gv_tableDataVect.tail->next = node;
            else
                gv_tableDataVect.head = node;
            gv_tableDataVect.tail = node;
            gv_tableDataVect.count++;
        }
    }
    if (!added) {
        free(node);
        free(relvar->name);
        free(relvar);
    }
    return added;
}

bool CreateTable(const char *name)
{
    LogTrace("@@@ Inside CreateTable @@@\n");
    TableDefn *tableDefn = GetTableDefn(name);
    if (tableDefn == nullptr || GetTableDataByName(name) != nullptr)
        return false;
    return AddRelvar(name, RELVAR_TABLE, tableDefn, nullptr);
}

bool CreateCustomViewData(const char *name, CustomViewDefn *viewDefn)
{
    LogTrace("@@@ Inside CreateCustomViewData @@@\n");
    if (name == nullptr || viewDefn == nullptr || GetTableDataByName(name) != nullptr)
        return false;
    return AddRelvar(name, RELVAR_VIEW, nullptr, viewDefn);
}

RowObject *CreateNewRowObject(void **values, int32_t *lengths)
{
    LogTrace("@@@ Inside CreateNewRowObject @@@\n");
    if (values == nullptr || lengths == nullptr)
        return nullptr;
    RowObject *row = static_cast<RowObject *>(calloc(1, sizeof(RowObject)));
    if (row == nullptr)
        return nullptr;
    row->values = values;
    row->lengths = lengths;
    row->state = ROW_STATE_NEW;
    return row;
}

bool AddNewRow(const char *name, RowObject *row)
{
    LogTrace("@@@ Inside AddNewRow @@@\n");
    TableData *relvar = GetTableDataByName(name);
    if (relvar == nullptr || row == nullptr)
        return false;
    Vector *columns = ColumnsOf(relvar);
    if (columns == nullptr || columns->count == 0)
        return false;

    TamselIdGenerator generator = gv_idGenerator.load(std::memory_order_acquire);
    int index = 0;
    for (VectorNode *node = ElementAt(columns, 0); node != nullptr && index < relvar->columnCount;
         node = node->next, index++) {
        ColumnDefn *column = ColumnAt(node, relvar->kind);
        if (column == nullptr || row->values[index] != nullptr)
            continue;
        if (column->generatorName != nullptr && generator != nullptr) {
            int32_t identifier = generator(relvar->name, column);
            if (identifier != -1) {
                int32_t *stored = static_cast<int32_t *>(calloc(1, sizeof(int32_t) + 1));
                if (stored != nullptr) {
                    *stored = identifier;
                    row->values[index] = stored;
                    row->lengths[index] = 4;
                }
            }
        }
        if (row->values[index] == nullptr && column->defaultValue != nullptr) {
            void *copy = CopyColumnValue(column->type, column->defaultValue, column->defaultLength);
            if (copy != nullptr) {
                row->values[index] = copy;
                row->lengths[index] = column->defaultLength;
            }
        }
    }

    PackRow(row, columns, relvar->kind, relvar->columnCount);
    row->next = nullptr;
    if (relvar->lastRow != nullptr)
        relvar->lastRow->next = row;
    else
        relvar->firstRow = row;
    relvar->lastRow = row;
    relvar->rowCount++;
    ReportChange(row, relvar->name);
    return true;
}

ResultData *CreateResultData(int rowCount, int columnCount, TableData *relvar)
{
    LogTrace("@@@ Inside CreateResultData @@@\n");
    ResultData *result = static_cast<ResultData *>(calloc(1, sizeof(ResultData)));
    if (result == nullptr)
        return nullptr;
    result->rowCount = rowCount;
    result->columnCount = columnCount;
    if (relvar != nullptr) {
        result->kind = relvar->kind;
        result->tableDefn = relvar->tableDefn;
        result->viewDefn = relvar->viewDefn;
    }
    return result;
}

bool AddRowToResultData(RowObject *row, ResultData *result)
{
    LogTrace("@@@ Inside AddRowToResultData @@@\n");
    if (result == nullptr)
        return false;
    ResultNode *node = static_cast<ResultNode *>(calloc(1, sizeof(ResultNode)));
    if (node == nullptr)
        return false;
    node->row = row;
    ResultNode *last = result->cursor;
    if (last == nullptr && result->firstNode != nullptr) {
        last = result->firstNode;
        while (last->next != nullptr)
            last = last->next;
    }
    if (last == nullptr)
        result->firstNode = node;
    else
        last->next = node;
    result->cursor = node;
    result->rowCount++;
    return true;
}

void FreeResultData(ResultData *result)
{
    LogTrace("@@@ Inside FreeResultData @@@\n");
    if (result == nullptr)
        return;
    ResultNode *node = result->firstNode;
    while (node != nullptr) {
        ResultNode *next = node->next;
        free(node);
        node = next;
    }
    free(result);
}

ResultData *SelectRows(const char *name, const char *criteria)
{
    LogTrace("@@@ Inside SelectRows @@@\n");
    TableData *relvar = GetTableDataByName(name);
    if (relvar == nullptr)
        return nullptr;

    if (criteria == nullptr) {
        ResultData *result = CreateResultData(0, relvar->columnCount, relvar);
        if (result == nullptr)
            return nullptr;
        for (RowObject *row = relvar->firstRow; row != nullptr; row = row->next) {
            if (!AddRowToResultData(row, result)) {
                FreeResultData(result);
                return nullptr;
            }
        }
        result->cursor = nullptr;
        return result;
    }

    ObjectLock lock(&gv_criteriaLockToken);
    CriteriaNode *tree = BoundCriteria(relvar, criteria);
    if (tree == nullptr)
        return nullptr;
    ResultData *result = CreateResultData(0, relvar->columnCount, relvar);
    if (result == nullptr) {
        FreeCriteria(tree);
        return nullptr;
    }
    for (RowObject *row = relvar->firstRow; row != nullptr; row = row->next) {
        if (EvaluateCriteria(row, tree) && !AddRowToResultData(row, result)) {
            LogError("not able to Add row \n");
            FreeResultData(result);
            FreeCriteria(tree);
            return nullptr;
        }
    }
    result->cursor = nullptr;
    FreeCriteria(tree);
    return result;
}

ResultData *SelectRowByRowIdx(const char *name, int rowNumber)
{
    LogTrace("@@@ Inside SelectRowByRowIdx @@@\n");
    TableData *relvar = GetTableDataByName(name);
    if (relvar == nullptr || relvar->rowCount < rowNumber)
        return nullptr;
    ResultData *result = CreateResultData(0, relvar->columnCount, relvar);
    if (result == nullptr)
        return nullptr;
    RowObject *row = relvar->firstRow;
    for (int step = 1; step < rowNumber && row != nullptr; step++)
        row = row->next;
    if (row != nullptr && !AddRowToResultData(row, result)) {
        FreeResultData(result);
        return nullptr;
    }
    result->cursor = nullptr;
    return result;
}

RowObject *GotoNextRowObject(ResultData *result)
{
    LogTrace("@@@ Inside GotoNextRowObject @@@\n");
    if (result == nullptr)
        return nullptr;
    result->cursor = result->cursor == nullptr ? result->firstNode : result->cursor->next;
    return result->cursor != nullptr ? result->cursor->row : nullptr;
}

void ResetResultDataCursor(ResultData *result)
{
    LogTrace("@@@ Inside ResetResultDataCursor @@@\n");
    if (result != nullptr)
        result->cursor = nullptr;
}

void *GetColumnValueByName(const char *columnName, int *length, ResultData *result)
{
    LogTrace("\t@@@@@ GetColumnValueByName() @@@@@\n");
    if (result == nullptr || result->cursor == nullptr || result->cursor->row == nullptr)
        return nullptr;
    if (result->kind != RELVAR_TABLE && result->kind != RELVAR_VIEW)
        return nullptr;
    int index = FindColumnIndex(ColumnsOf(result->kind, result->tableDefn, result->viewDefn), result->kind,
                                columnName);
    if (index < 0 || index >= result->columnCount)
        return nullptr;
    RowObject *row = result->cursor->row;
    if (length != nullptr)
        *length = row->lengths[index];
    return row->values[index];
}

void *GetColumnValue(const char *name, const char *columnName, const char *criteria, int *length)
{
    LogTrace("@@@ Inside GetColumnValue @@@\n");
    ResultData *result = SelectRows(name, criteria);
    if (result == nullptr) {
        LogError("Error in executing SelectRows(%s,%s)\n", name != nullptr ? name : "(null)",
                 criteria != nullptr ? criteria : "(null)");
        return nullptr;
    }
    if (GotoNextRowObject(result) == nullptr) {
        LogTrace("No such row available in the %s for %s", name, criteria != nullptr ? criteria : "(null)");
        FreeResultData(result);
        return nullptr;
    }
    void *value = GetColumnValueByName(columnName, length, result);
    if (value == nullptr)
        LogError("columnValue is NULL for :%s\n", columnName != nullptr ? columnName : "(null)");
    FreeResultData(result);
    return value;
}

uint8_t GetColumnTypeByName(const char *columnName, ResultData *result)
{
    LogTrace("@@@ Inside GetColumnTypeByName @@@\n");
    if (result == nullptr)
        return 0;
    Vector *columns = ColumnsOf(result->kind, result->tableDefn, result->viewDefn);
    if (columns == nullptr)
        return 0;
    for (VectorNode *node = ElementAt(columns, 0); node != nullptr; node = node->next) {
        ColumnDefn *column = ColumnAt(node, result->kind);
        if (column != nullptr && CompareStringsNoCase(column->name, columnName) == 0)
            return column->type;
    }
    return 0;
}

char *GetColumnNameByIndex(int index, ResultData *result)
{
    LogTrace("@@@ Inside GetColumnNameByIndex @@@\n");
    if (result == nullptr || index < 0)
        return nullptr;
    Vector *columns = ColumnsOf(result->kind, result->tableDefn, result->viewDefn);
    if (columns == nullptr || index >= columns->count)
        return nullptr;
    return const_cast<char *>(ColumnNameAt(ElementAt(columns, index), result->kind));
}

char *GetTableNameFromResultData(ResultData *result)
{
    LogTrace("@@@ Inside GetTableNameFromResultData @@@\n");
    if (result == nullptr)
        return nullptr;
    if (result->kind == RELVAR_TABLE)
        return result->tableDefn != nullptr ? result->tableDefn->name : nullptr;
    if (result->viewDefn == nullptr || result->viewDefn->tableCount == 0 || result->viewDefn->tableNames == nullptr)
        return nullptr;
    return result->viewDefn->tableNames[0];
}

char *GetTableNameOfView(char *name)
{
    LogTrace("@@@ Inside GetTableNameOfView @@@\n");
    TableData *relvar = GetTableDataByName(name);
    if (relvar != nullptr && relvar->kind == RELVAR_VIEW && relvar->viewDefn != nullptr &&
        relvar->viewDefn->tableCount > 0 && relvar->viewDefn->tableNames != nullptr)
        return relvar->viewDefn->tableNames[0];
    return name;
}

bool UpdateRowObject(const char *name, RowObject *row, const char *columnName, const void *bytes, int length)
{
    LogTrace("@@@ Inside UpdateRowObject @@@\n");
    TableData *relvar = GetTableDataByName(name);
    if (relvar == nullptr)
        return false;
    if (row == nullptr) {
        LogError("\t@@@@@ rowPtr passed as parameter in NULL @@@@@ \n");
        return false;
    }
    if (relvar->kind == RELVAR_TABLE) {
        ConstraintDefn *constraints = relvar->tableDefn != nullptr ? relvar->tableDefn->constraints : nullptr;
        for (int i = 0; constraints != nullptr && i < constraints->primaryKeyCount; i++) {
            if (CompareStringsNoCase(constraints->primaryKeyColumns[i], columnName) == 0) {
                LogError("@@@ UpdateRowObject Failed as PrimaryKey is being updated @@@\n");
                return false;
            }
        }
    }
    Vector *columns = ColumnsOf(relvar);
    int index = FindColumnIndex(columns, relvar->kind, columnName);
    if (index < 0 || index >= relvar->columnCount)
        return false;
    ColumnDefn *column = ColumnAt(ElementAt(columns, index), relvar->kind);
    if (!UnpackRow(row, columns, relvar->kind, relvar->columnCount))
        return false;
    void *copy = nullptr;
    if (bytes != nullptr) {
        copy = CopyColumnValue(column != nullptr ? column->type : 0, bytes, length);
        if (copy == nullptr)
            return false;
    }
    void *old = row->values[index];
    row->values[index] = copy;
    row->lengths[index] = bytes != nullptr ? length : 0;
    row->state |= ROW_STATE_UPDATED;
    ReportChange(row, relvar->name);
    free(old);
    return true;
}

void FreeRowObject(RowObject *row, int columnCount)
{
    LogTrace("@@@ Inside FreeRowObject @@@\n");
    if (row == nullptr)
        return;
    if (IsPackedRow(row, columnCount)) {
        free(row->lengths); /* the block of arrays and values */
        free(row);
        return;
    }
    if (row->values != nullptr) {
        for (int i = 0; i < columnCount; i++)
            free(row->values[i]);
    }
    free(row->values);
    free(row->lengths);
    free(row);
}

bool DeleteRowObject(const char *name, RowObject *row)
{
    LogTrace("@@@ Inside DeleteRowObject @@@\n");
    if (row == nullptr)
        return false;
    if (row->state & ROW_STATE_STORED) {
        /* The database layer removes it once the deletion is saved. */
        row->state |= ROW_STATE_DELETED;
        return true;
    }
    TableData *relvar = GetTableDataByName(name);
    if (relvar == nullptr || !UnlinkRow(relvar, row))
        return false;
    ReportAndFreeRow(relvar, row);
    return true;
}

bool DeleteRowObjectByCriteria(const char *name, const char *criteria)
{
    LogTrace("@@@ Inside DeleteRowObjectByCriteria @@@\n");
    if (criteria == nullptr)
        return false;
    TableData *relvar = GetTableDataByName(name);
    if (relvar == nullptr)
        return false;
    /* Matching rows are taken out of the chain in one walk under the criteria lock
     * (the walk knows each row's predecessor, so the deletion is linear) and kept
     * in chain order on a list of their own, linked through `next`. They are
     * reported and freed after the lock is released, so a change sink may select
     * rows. Stored rows are only marked and stay linked. */
    RowObject *unlinked = nullptr;
    RowObject *unlinkedTail = nullptr;
    {
        ObjectLock lock(&gv_criteriaLockToken);
        CriteriaNode *tree = BoundCriteria(relvar, criteria);
        if (tree == nullptr)
            return false;
        RowObject *previous = nullptr;
        RowObject *row = relvar->firstRow;
        while (row != nullptr) {
            RowObject *next = row->next;
            if (!EvaluateCriteria(row, tree)) {
                previous = row;
            } else if (row->state & ROW_STATE_STORED) {
                LogTrace("@@@ Inside DeleteRowObject @@@\n");
                row->state |= ROW_STATE_DELETED;
                previous = row;
            } else {
                UnlinkAfter(relvar, previous, row);
                if (unlinkedTail != nullptr)
                    unlinkedTail->next = row;
                else
                    unlinked = row;
                unlinkedTail = row;
            }
            row = next;
        }
        FreeCriteria(tree);
    }
    /* The same steps and log lines as DeleteRowObject for each row, in chain order. */
    while (unlinked != nullptr) {
        RowObject *row = unlinked;
        unlinked = row->next;
        row->next = nullptr;
        LogTrace("@@@ Inside DeleteRowObject @@@\n");
        LogTrace("@@@ Inside GetTableDataByName @@@\n");
        ReportAndFreeRow(relvar, row);
    }
    return true;
}

bool DeleteAllTableRowObjects(const char *name)
{
    LogTrace("@@@ Inside DeleteAllTableRowObjects @@@\n");
    if (name == nullptr) {
        LogError("\t tableName NULL \n");
        return false;
    }
    TableData *relvar = GetTableDataByName(name);
    if (relvar == nullptr) {
        LogError("\t GetTableDataByName returned NULL \n");
        return false;
    }
    if (!IsFilterable(relvar))
        return false;
    RowObject *row = relvar->firstRow;
    while (row != nullptr) {
        RowObject *next = row->next;
        DeleteRowObject(name, row);
        row = next;
    }
    return true;
}

bool SortResultSet(ResultData *result, const char *columnName, int ascending)
{
    LogTrace("@@@ Inside SortResultSet @@@\n");
    if (result == nullptr || columnName == nullptr)
        return false;
    if (result->tableDefn == nullptr && result->viewDefn == nullptr)
        return false;
    Vector *columns = ColumnsOf(result->kind, result->tableDefn, result->viewDefn);
    if (columns == nullptr || columns->count == 0 || result->columnCount == 0)
        return false;
    int index = FindColumnIndex(columns, result->kind, columnName);
    if (index < 0 || index >= result->columnCount)
        return false;
    if (result->firstNode != nullptr && result->firstNode->next == nullptr) {
        if (result->rowCount == 1) {
            LogError("Number of Rows is 1 for the Relvar to be Sorted \n");
            return true;
        }
        return false;
    }

    /* Stable: rows with equal keys keep their order. A NULL key sorts first. */
    struct Keyed {
        bool isNull;
        int32_t key;
        RowObject *row;
    };
    std::vector<Keyed> rows;
    for (ResultNode *node = result->firstNode; node != nullptr; node = node->next) {
        bool isNull = node->row == nullptr || node->row->values[index] == nullptr;
        rows.push_back({isNull, isNull ? 0 : SortKey(node->row, index), node->row});
    }
    auto before = [](const Keyed &a, const Keyed &b) {
        if (a.isNull != b.isNull)
            return a.isNull;
        return a.key < b.key;
    };
    if (ascending == 1)
        std::stable_sort(rows.begin(), rows.end(), before);
    else
        std::stable_sort(rows.begin(), rows.end(), [&](const Keyed &a, const Keyed &b) { return before(b, a); });
    size_t i = 0;
    for (ResultNode *node = result->firstNode; node != nullptr; node = node->next)
        node->row = rows[i++].row;
    return true;
}

CustomViewDefn *CreateCustomViewDefn(uint8_t tableCount, char **tableNames, Vector *columns)
{
    LogTrace("\t@@@@@ Inside CreateCustomViewDefn() @@@@@\n");
    CustomViewDefn *view = static_cast<CustomViewDefn *>(calloc(1, sizeof(CustomViewDefn)));
    if (view == nullptr) {
        LogError("Could not allocate memory for CustomViewDefn\n");
        return nullptr;
    }
    view->tableCount = tableCount;
    view->tableNames = tableNames;
    view->columns = columns;
    return view;
}

ViewColumnDefn *CreateViewColumnDefn(char *name, int32_t attribute, uint8_t flag, ColumnDefn *columnDefn)
{
    LogTrace("\t@@@@@ Inside CreateViewColumnDefn() @@@@@\n");
    ViewColumnDefn *column = static_cast<ViewColumnDefn *>(calloc(1, sizeof(ViewColumnDefn)));
    if (column == nullptr || (name != nullptr && DuplicateString(&column->name, name) != 1)) {
        free(column);
        LogError("Could not allocate memory for ViewColumnDefn\n");
        return nullptr;
    }
    column->attribute = attribute;
    column->flag = flag;
    column->columnDefn = columnDefn;
    return column;
}

void FreeCustomViewDefn(CustomViewDefn *viewDefn)
{
    LogTrace("\t@@@@@ Inside FreeCustomViewDefn() @@@@@\n");
    if (viewDefn == nullptr)
        return;
    if (viewDefn->columns != nullptr) {
        for (VectorNode *node = viewDefn->columns->head; node != nullptr; node = node->next) {
            ViewColumnDefn *column = static_cast<ViewColumnDefn *>(node->data);
            if (column != nullptr)
                free(column->name);
            free(column);
        }
        FreeVector(viewDefn->columns);
        free(viewDefn->columns);
        viewDefn->columns = nullptr;
    }
    if (viewDefn->tableNames != nullptr) {
        for (int i = 0; i < viewDefn->tableCount; i++)
            free(viewDefn->tableNames[i]);
        free(viewDefn->tableNames);
        viewDefn->tableNames = nullptr;
    }
}

void FreeTableData(TableData *tableData)
{
    LogTrace("\t@@@@@ Inside FreeTableData() @@@@@\n");
    if (tableData == nullptr)
        return;
    LogTrace("\t %s is being freed\n", tableData->name != nullptr ? tableData->name : "(null)");
    free(tableData->name);
    tableData->name = nullptr;
    RowObject *row = tableData->firstRow;
    while (row != nullptr) {
        RowObject *next = row->next;
        FreeRowObject(row, tableData->columnCount);
        row = next;
    }
    tableData->firstRow = nullptr;
    tableData->lastRow = nullptr;
    if (tableData->kind == RELVAR_VIEW && tableData->viewDefn != nullptr) {
        FreeCustomViewDefn(tableData->viewDefn);
        free(tableData->viewDefn);
        tableData->viewDefn = nullptr;
    }
}

bool RemoveTableData(const char *name)
{
    TableData *relvar = GetTableDataByName(name);
    if (relvar == nullptr)
        return false;
    DeleteLCDVector(&gv_tableDataVect, relvar);
    FreeTableData(relvar);
    free(relvar);
    return true;
}
