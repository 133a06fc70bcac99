/* Relvars: named in-memory tables built from table definitions, and custom views;
 * their rows, selections by criteria, result sets with a cursor, updates,
 * deletions and printing. */
#pragma once
#include <stdint.h>

#include "tamsel/containers.h"
#include "tamsel/table_defn.h"

#define RELVAR_TABLE 1
#define RELVAR_VIEW 2

/* Row state bits. */
#define ROW_STATE_STORED 1  /* known to the database layer */
#define ROW_STATE_NEW 2
#define ROW_STATE_UPDATED 4
#define ROW_STATE_DELETED 8 /* marked, still linked */

struct RowObject {
    void **values;      /* columnCount values, owned; null means NULL */
    int32_t *lengths;
    uint8_t state;
    RowObject *next;
};

struct ViewColumnDefn {
    char *name;
    int32_t attribute;
    uint8_t flag;
    ColumnDefn *columnDefn; /* the base table's column: gives the type */
};

struct CustomViewDefn {
    uint8_t tableCount;
    char **tableNames;   /* the first is the view's base table */
    Vector *columns;     /* of ViewColumnDefn, owned */
};

struct TableData {
    char *name;
    uint8_t kind;        /* RELVAR_TABLE or RELVAR_VIEW */
    TableDefn *tableDefn;
    CustomViewDefn *viewDefn;
    int32_t columnCount;
    int32_t rowCount;    /* rows added since creation */
    RowObject *firstRow;
    RowObject *lastRow;  /* end of the chain, so that appending does not walk it */
};

struct ResultNode {
    RowObject *row;
    ResultNode *next;
};

struct ResultData {
    ResultNode *firstNode;
    uint8_t kind;
    TableDefn *tableDefn;
    CustomViewDefn *viewDefn;
    int32_t rowCount;
    int32_t columnCount;
    ResultNode *cursor;  /* while filling: the last node; afterwards the current one */
};

/* The table list: every relvar, in creation order. */
extern Vector gv_tableDataVect;

bool CreateTable(const char *name);
bool CreateCustomViewData(const char *name, CustomViewDefn *viewDefn);
signed char SortTableByName(VectorNode *newNode, VectorNode *existing);
TableData *GetTableDataByName(const char *name);
RowObject *CreateNewRowObject(void **values, int32_t *lengths);
bool AddNewRow(const char *name, RowObject *row);
ResultData *SelectRows(const char *name, const char *criteria);
ResultData *SelectRowByRowIdx(const char *name, int rowNumber);
bool UpdateRowObject(const char *name, RowObject *row, const char *columnName, const void *bytes, int length);
bool DeleteRowObject(const char *name, RowObject *row);
bool DeleteRowObjectByCriteria(const char *name, const char *criteria);
bool DeleteAllTableRowObjects(const char *name);
void FreeRowObject(RowObject *row, int columnCount);
ResultData *CreateResultData(int rowCount, int columnCount, TableData *relvar);
bool AddRowToResultData(RowObject *row, ResultData *result);
void FreeResultData(ResultData *result);
RowObject *GotoNextRowObject(ResultData *result);
void ResetResultDataCursor(ResultData *result);
void *GetColumnValueByName(const char *columnName, int *length, ResultData *result);
void *GetColumnValue(const char *name, const char *columnName, const char *criteria, int *length);
uint8_t GetColumnTypeByName(const char *columnName, ResultData *result);
char *GetColumnNameByIndex(int index, ResultData *result);
char *GetTableNameFromResultData(ResultData *result);
char *GetTableNameOfView(char *name);
bool SortResultSet(ResultData *result, const char *columnName, int ascending);
void PrintTableData(const char *name);
void PrintCustomViewData(const char *name);
void PrintResultData(ResultData *result);
char *ToStringTableData(const char *name);
/* The rows of a result set as PrintResultData lays them out, as a new text. */
char *ToStringResultData(ResultData *result);
char *ToStringCustomViewData(const char *name);
CustomViewDefn *CreateCustomViewDefn(uint8_t tableCount, char **tableNames, Vector *columns);
ViewColumnDefn *CreateViewColumnDefn(char *name, int32_t attribute, uint8_t flag, ColumnDefn *columnDefn);
void FreeTableData(TableData *tableData);
void FreeCustomViewDefn(CustomViewDefn *viewDefn);

/* Unloads a relvar: FreeTableData, then its table-list node and record. */
bool RemoveTableData(const char *name);

/* Copy of a stored value of a column type: date and time values are copied as
 * records (their parts included), every other type byte for byte. */
void *CopyColumnValue(uint8_t type, const void *value, int32_t length);

/* Where the sequence generator and the change notifications plug in. Without a
 * generator, columns with a generator name get no identifier; without a change
 * sink, changes are reported to nobody. */
typedef int32_t (*TamselIdGenerator)(const char *relvarName, ColumnDefn *column);
typedef void (*TamselChangeSink)(RowObject *row, const char *relvarName);
void SetTamselIdGenerator(TamselIdGenerator generator);
void SetTamselChangeSink(TamselChangeSink sink);
