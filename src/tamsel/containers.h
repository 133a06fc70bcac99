/* The table store's small containers: the linked vector, the chained hash table,
 * the sorted name-list lookup and the row set a database query hands back.
 * No container owns the elements or values it points to. */
#pragma once
#include <stdint.h>

/* ---- Vector ----------------------------------------------------------- */

struct VectorNode {
    void *data;        /* element, not owned */
    VectorNode *next;  /* following node, null at the end */
};

/* Ordering function: (new node, existing node) -> >0 after, <0 before, 0 equal. */
typedef signed char (*VectorCompare)(VectorNode *newNode, VectorNode *existing);

struct Vector {
    VectorNode *head;
    int32_t count;
    VectorNode *tail;
    VectorCompare compare; /* null: insertion order */
};

void InitVector(Vector *vector, VectorCompare compare);
Vector *NewVector(void);
bool AddElement(Vector *vector, VectorNode *node);
bool AppendData(Vector *vector, void *element);
bool InsertElementAt(Vector *vector, VectorNode *node, int index);
VectorNode *ElementAt(Vector *vector, int index);
VectorNode *GetNthElement(Vector *vector, int offset, VectorNode *start);
bool DeleteElementAt(Vector *vector, int index);
bool DeleteElement(Vector *vector, VectorNode *node);
bool DeleteLCDVector(Vector *vector, void *element);
void FreeVector(Vector *vector);
int MergeVector(Vector *target, Vector *source);
/* Deep copy of a vector of zero-terminated strings; the caller frees each string,
 * the nodes (FreeVector) and the vector. */
Vector *CloneVector(Vector *source);

/* ---- Hash table ------------------------------------------------------- */

struct HashEntry {
    char *key;        /* own copy; null in an empty bucket head */
    void *value;      /* not owned */
    HashEntry *next;  /* chain of the same bucket */
};

struct HashTable {
    HashEntry **buckets;
    int32_t size;
};

bool HashInit(HashTable *table, int size);
bool HashPut(HashTable *table, const char *key, void *value);
bool HashContains(HashTable *table, const char *key);
void *HashGet(HashTable *table, const char *key);
HashEntry *HashGetEntry(HashTable *table, const char *key);
bool HashRemove(HashTable *table, const char *key);
int HashCount(HashTable *table);
/* New null-terminated array of the key pointers (keys stay with the table). */
char **HashKeys(HashTable *table);
void HashFree(HashTable *table);
bool HashMerge(HashTable *source, HashTable *target);

/* Binary search of a null-terminated array sorted case-insensitively. */
bool IsListContains(char **sortedList, const char *key);

/* ---- Query result ----------------------------------------------------- */

struct QueryColumn {
    char *name;          /* owned */
    unsigned char type;  /* column type code */
};

struct QueryCell {
    int32_t length;
    char *value;         /* owned, length bytes + zero; null for a database NULL */
    QueryCell *next;
};

struct QueryRow {
    QueryCell *cells;
    QueryRow *next;
};

struct QueryResult {
    int32_t columnCount;
    int32_t rowCount;
    QueryColumn *columns;
    QueryRow *rows;
    QueryRow *cursor;
};

QueryCell *AppendQueryCell(QueryCell *cells, int length, const char *bytes);
QueryRow *AppendQueryRow(QueryRow *rows, QueryCell *cells);
QueryResult *CreateQueryResult(QueryRow *rows, QueryColumn *columns, int columnCount);
QueryRow *NextQueryRow(QueryResult *result);
char *GetQueryValue(const char *columnName, int *length, QueryResult *result);
unsigned char GetQueryColumnType(const char *columnName, QueryResult *result);
char *GetQueryColumnName(int index, QueryResult *result);
void PrintQueryResult(QueryResult *result);
void FreeQueryResult(QueryResult *result);
void FreeQueryRows(QueryRow *rows);
void FreeQueryCells(QueryCell *cells);
void FreeQueryColumns(QueryColumn *columns, int columnCount);
