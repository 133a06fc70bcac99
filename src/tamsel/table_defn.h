/* Table definitions: columns with their types, defaults, sizes and allowed values,
 * primary and foreign keys; the column type codes and the words that name them. */
#pragma once
#include <stdint.h>

#include "tamsel/containers.h"
#include "tamsel/xml_tag_info.h"

/* Column type codes. */
#define KEL_SQL_NOT_SUPPORTED_TYPE 0
#define KEL_SQL_TINYINT 1
#define KEL_SQL_UNSIGNED_TINYINT 2
#define KEL_SQL_SMALLINT 3
#define KEL_SQL_UNSIGNED_SMALLINT 4
#define KEL_SQL_INT 5
#define KEL_SQL_UNSIGNED_INT 6
#define KEL_SQL_LONG_INT 7 /* 64-bit integer; no type word names it */
#define KEL_SQL_UNSIGNED_LONG_INT 8
#define KEL_SQL_FLOAT 9
#define KEL_SQL_DOUBLE 10
#define KEL_SQL_REAL 11
#define KEL_SQL_DECIMAL 12
#define KEL_SQL_NUMERIC 13
#define KEL_SQL_CHAR 14
#define KEL_SQL_SHORT_CHAR 15 /* "CHAR", "NCHAR" */
#define KEL_SQL_DATE 16
#define KEL_SQL_TIME 17
#define KEL_SQL_DATETIME 18
#define KEL_SQL_BOOLEAN 19
#define KEL_SQL_BLOB 20
#define KEL_SQL_CLOB 21
#define KEL_SQL_TEXT 22

/* Character columns this long or longer are stored as TEXT. */
#define KEL_SQL_TEXT_MIN_SIZE 256

struct AllowedValues {
    char **values;        /* range: exactly {from, to}; list: ended by a null entry */
    uint8_t isRange;
};

struct ColumnDefn {
    char *name;
    uint8_t type;
    void *defaultValue;   /* typed value made by ConvertLiteral, or null */
    int32_t defaultLength;
    uint8_t unique;
    char *generatorName;
    char *description;
    int32_t maxSize;      /* 0 when not given, -1 when not a number */
    uint8_t nullable;
    AllowedValues *allowedValues;
};

struct ForeignKeyDefn {
    char *fkLocalColumn;
    char *fkReferenceColumn;
    char *referenceTableName;
    uint8_t onDeleteCascade;
    uint8_t isbidirectional;
};

struct ConstraintDefn {
    char **primaryKeyColumns;
    int32_t primaryKeyCount;
    Vector *foreignKeys; /* of ForeignKeyDefn; null while there is none */
};

struct TableDefn {
    char *name;
    char *description;
    Vector *columns;      /* of ColumnDefn, in column order */
    ConstraintDefn *constraints;
};

/* A pair of the database layer's type mapping tables. */
struct TypeCodePair {
    uint8_t code;
    int32_t value;
};

extern Vector gv_tableDefnVect;

uint8_t GetColumnTypeCode(const char *typeWord);
/* Takes over `allowedValues`; copies every text. */
ColumnDefn *CreateColumnDefn(const char *name, uint8_t type, const char *defaultText, int defaultLength,
                             uint8_t unique, const char *generatorName, const char *description,
                             int maxSize, uint8_t nullable, AllowedValues *allowedValues);
/* Takes over `columns` and `constraints`; copies the texts. */
TableDefn *CreateTableDefn(const char *name, const char *description, Vector *columns,
                           ConstraintDefn *constraints);
bool AddTableDefn(TableDefn *tableDefn);
TableDefn *GetTableDefn(const char *tableName);
ColumnDefn *GetColumnDefnEntry(const char *tableName, const char *columnName);
void *GetDefaultValue(const char *tableName, const char *columnName, int *found);
uint8_t GetColumnType(const char *tableName, const char *columnName);
bool AddForeignKeyDefn(ConstraintDefn *constraints, ForeignKeyDefn *foreignKey);
ForeignKeyDefn *GetForeignKeyDefn(TableDefn *tableDefn, const char *localColumn);
bool LoadTableDefn(XmlTagInfo *tableTag);
void RemoveTableDefn(const char *tableName);
void FreeAllTableDefns(void);
void PrintTableDefn(TableDefn *tableDefn);
void PrintAllTableDefns(void);
Vector *GetTableDefnVect(void);
int32_t TypeCodeToValue(const TypeCodePair *pairs, int pairCount, uint8_t code);
uint8_t ValueToTypeCode(const TypeCodePair *pairs, int pairCount, int32_t value);

/* Release of single records, for callers that build definitions themselves. */
void FreeColumnDefn(ColumnDefn *column);
void FreeConstraintDefn(ConstraintDefn *constraints);
void FreeTableDefn(TableDefn *tableDefn);
