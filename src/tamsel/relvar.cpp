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

/* Unlinks a row from its relvar's chain; false when the row is not in it. */
bool UnlinkRow(TableData *relvar, RowObject *row)
{
    RowObject *previous = nullptr;
    for (RowObject *walk = relvar->firstRow; walk != nullptr; previous = walk, walk = walk->next) {
        if (walk != row)
            continue;
        if (previous == nullptr)
            relvar->firstRow = walk->next;
        else
            previous->next = walk->next;
        if (relvar->lastRow == walk)
            relvar->lastRow = previous;
        walk->next = nullptr;
        return true;
    }
    return false;
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
    if (type == KEL_SQL_DATETIME)
        return CopyKelDateTime(static_cast<const KelDateTime *>(value));
    size_t size = length < 0 ? 0 : static_cast<size_t>(length);
    if (type == KEL_SQL_DATE)
        size = sizeof(KelDate);
    else if (type == KEL_SQL_TIME)
        size = sizeof(KelTime);
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
    ReportChange(row, relvar->name);
    FreeRowObject(row, relvar->columnCount);
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
    ObjectLock lock(&gv_criteriaLockToken);
    CriteriaNode *tree = BoundCriteria(relvar, criteria);
    if (tree == nullptr)
        return false;
    RowObject *row = relvar->firstRow;
    while (row != nullptr) {
        RowObject *next = row->next;
        if (EvaluateCriteria(row, tree))
            DeleteRowObject(name, row);
        row = next;
    }
    FreeCriteria(tree);
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
