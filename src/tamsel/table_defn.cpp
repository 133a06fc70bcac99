/* Table definitions: the process-wide list, look-ups, loading from the parsed
 * data-dictionary tree of one table element, printing and release. */
#include "tamsel/table_defn.h"

#include <stdlib.h>
#include <string.h>

#include "log/log.h"
#include "tamsel/criteria.h"
#include "util/strings.h"

Vector gv_tableDefnVect = {nullptr, 0, nullptr, nullptr};

namespace {

struct TypeWord {
    const char *word;
    uint8_t code;
};

constexpr TypeWord kTypeWords[] = {
    {"KEL_SQL_NOT_SUPPORTED_TYPE", KEL_SQL_NOT_SUPPORTED_TYPE},
    {"KEL_SQL_TINYINT", KEL_SQL_TINYINT},
    {"KEL_SQL_UNSIGNED_TINYINT", KEL_SQL_UNSIGNED_TINYINT},
    {"KEL_SQL_SMALLINT", KEL_SQL_SMALLINT},
    {"KEL_SQL_UNSIGNED_SMALLINT", KEL_SQL_UNSIGNED_SMALLINT},
    {"KEL_SQL_INT", KEL_SQL_INT},
    {"BIGINT", KEL_SQL_INT},
    {"INTEGER", KEL_SQL_INT},
    {"LONG", KEL_SQL_INT},
    {"KEL_SQL_UNSIGNED_INT", KEL_SQL_UNSIGNED_INT},
    {"KEL_SQL_UNSIGNED_LONG_INT", KEL_SQL_UNSIGNED_LONG_INT},
    {"KEL_SQL_FLOAT", KEL_SQL_FLOAT},
    {"FLOAT", KEL_SQL_FLOAT},
    {"KEL_SQL_DOUBLE", KEL_SQL_DOUBLE},
    {"KEL_SQL_REAL", KEL_SQL_REAL},
    {"KEL_SQL_DECIMAL", KEL_SQL_DECIMAL},
    {"KEL_SQL_NUMERIC", KEL_SQL_NUMERIC},
    {"KEL_SQL_CHAR", KEL_SQL_CHAR},
    {"CHAR", KEL_SQL_SHORT_CHAR},
    {"NCHAR", KEL_SQL_SHORT_CHAR},
    {"KEL_SQL_DATE", KEL_SQL_DATE},
    {"DATE", KEL_SQL_DATE},
    {"KEL_SQL_TIME", KEL_SQL_TIME},
    {"TIME", KEL_SQL_TIME},
    {"KEL_SQL_DATETIME", KEL_SQL_DATETIME},
    {"DATETIME", KEL_SQL_DATETIME},
    {"TIMESTAMP", KEL_SQL_DATETIME},
    {"BOOLEAN", KEL_SQL_BOOLEAN},
    {"KEL_SQL_BLOB", KEL_SQL_BLOB},
    {"BLOB", KEL_SQL_BLOB},
    {"KEL_SQL_CLOB", KEL_SQL_CLOB},
    {"CLOB", KEL_SQL_CLOB},
    {"KEL_SQL_TEXT", KEL_SQL_TEXT},
    {"TEXT", KEL_SQL_TEXT},
};

/* A copy of an optional text: true when the text is absent or copied. */
bool CopyOptional(char **target, const char *source)
{
    *target = nullptr;
    if (source == nullptr)
        return true;
    return DuplicateString(target, source) == 1;
}

const char *TextOf(const XmlTagInfo *node)
{
    if (node == nullptr || node->valueCount < 1 || node->values == nullptr)
        return nullptr;
    return node->values[0];
}

bool TagIs(const XmlTagInfo *node, const char *tag)
{
    return node != nullptr && node->tagName != nullptr && strcmp(node->tagName, tag) == 0;
}

const char *AttributeOf(const XmlTagInfo *node, const char *name)
{
    for (int i = 0; i < node->attrCount; i++) {
        if (node->attrNames != nullptr && node->attrNames[i] != nullptr && strcmp(node->attrNames[i], name) == 0)
            return node->attrValues[i];
    }
    return nullptr;
}

const char *FirstAttributeValue(const XmlTagInfo *node)
{
    if (node->attrCount < 1 || node->attrValues == nullptr)
        return nullptr;
    return node->attrValues[0];
}

/* Signed decimal with one optional leading sign; -1 when anything else is found. */
int ParseMaxSize(const char *text)
{
    const char *p = text;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    unsigned int value = 0;
    for (; *p != 0; p++) {
        if (*p < '0' || *p > '9')
            return -1;
        value = value * 10u + static_cast<unsigned int>(*p - '0');
    }
    return static_cast<int>(negative ? 0u - value : value);
}

void FreeAllowedValues(AllowedValues *allowed)
{
    if (allowed == nullptr)
        return;
    if (allowed->values != nullptr) {
        if (allowed->isRange) {
            free(allowed->values[0]);
            free(allowed->values[1]);
        } else {
            for (char **value = allowed->values; *value != nullptr; value++)
                free(*value);
        }
        free(allowed->values);
    }
    free(allowed);
}

/* Allowed values from a "value" element (a list) or a "from" element and the
 * "to" element after it (a range). */
AllowedValues *CopyAllowedValues(const XmlTagInfo *node, bool range, bool *failed)
{
    AllowedValues *allowed = static_cast<AllowedValues *>(calloc(1, sizeof(AllowedValues)));
    int count = range ? 2 : (node->valueCount > 0 ? node->valueCount : 0);
    if (allowed != nullptr)
        allowed->values = static_cast<char **>(calloc(static_cast<size_t>(count) + 1, sizeof(char *)));
    if (allowed == nullptr || allowed->values == nullptr) {
        FreeAllowedValues(allowed);
        *failed = true;
        return nullptr;
    }
    allowed->isRange = range ? 1 : 0;
    bool copied = true;
    if (range) {
        copied = CopyOptional(&allowed->values[0], TextOf(node)) &&
                 CopyOptional(&allowed->values[1], TextOf(node->sibling));
    } else {
        for (int i = 0; i < count && copied; i++)
            copied = CopyOptional(&allowed->values[i], node->values[i]);
    }
    if (!copied) {
        FreeAllowedValues(allowed);
        *failed = true;
        return nullptr;
    }
    return allowed;
}

/* One column element; null with *dropTable set when the table must be dropped. */
ColumnDefn *LoadColumn(const XmlTagInfo *columnTag, bool *dropTable)
{
    const char *name = FirstAttributeValue(columnTag);
    uint8_t type = 0;
    uint8_t nullable = 1;
    uint8_t unique = 0;
    int maxSize = 0;
    const char *description = nullptr;
    const char *defaultText = nullptr;
    const char *generatorName = nullptr;
    AllowedValues *allowed = nullptr;

    for (const XmlTagInfo *child = columnTag->child; child != nullptr; child = child->sibling) {
        const char *text = TextOf(child);
        if (text == nullptr)
            continue; /* an element without text contributes nothing */
        if (TagIs(child, "data-type")) {
            type = GetColumnTypeCode(text);
        } else if (TagIs(child, "nullable")) {
            nullable = CompareStringsNoCase(text, "true") == 0 ? 1 : 0;
        } else if (TagIs(child, "max-size")) {
            maxSize = ParseMaxSize(text);
        } else if (TagIs(child, "description")) {
            description = text;
        } else if (TagIs(child, "default-value")) {
            defaultText = text;
        } else if (TagIs(child, "generator-name")) {
            generatorName = text;
        } else if (TagIs(child, "unique")) {
            unique = strcmp(text, "true") == 0 ? 1 : 0;
        } else if (TagIs(child, "value") || TagIs(child, "from")) {
            bool range = TagIs(child, "from");
            if (range && !TagIs(child->sibling, "to")) {
                LogError("In the allowed values attribute, 'to' tag is missing.\n");
                FreeAllowedValues(allowed);
                *dropTable = true;
                return nullptr;
            }
            bool failed = false;
            FreeAllowedValues(allowed);
            allowed = CopyAllowedValues(child, range, &failed);
            if (failed) {
                LogError("Cannot copy allowed values.\n");
                *dropTable = true;
                return nullptr;
            }
            if (range)
                child = child->sibling; /* the "to" node is taken */
        }
    }
    ColumnDefn *column = CreateColumnDefn(name, type, defaultText, StringLength(defaultText), unique,
                                          generatorName, description, maxSize, nullable, allowed);
    if (column == nullptr)
        FreeAllowedValues(allowed);
    return column;
}

void FreeForeignKey(ForeignKeyDefn *foreignKey)
{
    free(foreignKey->fkLocalColumn);
    free(foreignKey->fkReferenceColumn);
    free(foreignKey->referenceTableName);
    free(foreignKey);
}

void FreeColumnVector(Vector *columns)
{
    if (columns == nullptr)
        return;
    for (VectorNode *node = columns->head; node != nullptr; node = node->next)
        FreeColumnDefn(static_cast<ColumnDefn *>(node->data));
    FreeVector(columns);
    free(columns);
}

bool LoadPrimaryKey(const XmlTagInfo *keyTag, ConstraintDefn *constraints)
{
    int count = 0;
    for (const XmlTagInfo *child = keyTag->child; child != nullptr; child = child->sibling) {
        if (TextOf(child) != nullptr)
            count++;
    }
    if (count == 0)
        return true;
    constraints->primaryKeyColumns = static_cast<char **>(calloc(static_cast<size_t>(count), sizeof(char *)));
    if (constraints->primaryKeyColumns == nullptr)
        return false;
    for (const XmlTagInfo *child = keyTag->child; child != nullptr; child = child->sibling) {
        const char *text = TextOf(child);
        if (text == nullptr)
            continue;
        if (DuplicateString(&constraints->primaryKeyColumns[constraints->primaryKeyCount], text) != 1)
            return false;
        constraints->primaryKeyCount++;
    }
    return true;
}

bool LoadForeignKeys(const XmlTagInfo *keysTag, ConstraintDefn *constraints)
{
    for (const XmlTagInfo *key = keysTag->child; key != nullptr; key = key->sibling) {
        if (!TagIs(key, "foreign-key"))
            continue;
        const char *bidirectional = AttributeOf(key, "isbidirectional");
        const char *referenceTable = AttributeOf(key, "reference-table-name");
        if (referenceTable == nullptr)
            continue;
        const XmlTagInfo *columns = key->child;
        if (!TagIs(columns, "fk-columns")) {
            LogDebug("fk-columns tag not found \n");
            continue;
        }
        const XmlTagInfo *rule = columns->sibling;
        uint8_t cascade = TagIs(rule, "fk-constraints") && TextOf(rule) != nullptr &&
                                  strcmp(TextOf(rule), "ON-DELETE-CASCADE") == 0
                              ? 1
                              : 0;
        for (const XmlTagInfo *pair = columns->child; pair != nullptr; pair = pair->sibling) {
            const XmlTagInfo *local = pair->child;
            const char *localName = nullptr;
            const char *referenceName = nullptr;
            if (TagIs(local, "fk-local-column")) {
                localName = TextOf(local);
                if (TagIs(local->sibling, "fk-reference-column"))
                    referenceName = TextOf(local->sibling);
            }
            ForeignKeyDefn *foreignKey = static_cast<ForeignKeyDefn *>(calloc(1, sizeof(ForeignKeyDefn)));
            if (foreignKey == nullptr)
                return false;
            foreignKey->onDeleteCascade = cascade;
            foreignKey->isbidirectional = bidirectional != nullptr && strcmp(bidirectional, "true") == 0 ? 1 : 0;
            bool copied = CopyOptional(&foreignKey->fkLocalColumn, localName) &&
                          CopyOptional(&foreignKey->fkReferenceColumn, referenceName) &&
                          CopyOptional(&foreignKey->referenceTableName, referenceTable);
            if (!copied || !AddForeignKeyDefn(constraints, foreignKey)) {
                FreeForeignKey(foreignKey);
                return false;
            }
        }
    }
    return true;
}

/* The three column look-ups share their checks and messages. */
ColumnDefn *FindColumn(const char *tableName, const char *columnName)
{
    if (tableName == nullptr || columnName == nullptr) {
        LogError("Cannot fetch default value;\n");
        return nullptr;
    }
    TableDefn *table = GetTableDefn(tableName);
    if (table == nullptr) {
        LogError("No definition found for table %s\n", tableName);
        return nullptr;
    }
    for (VectorNode *node = ElementAt(table->columns, 0); node != nullptr; node = node->next) {
        ColumnDefn *column = static_cast<ColumnDefn *>(node->data);
        if (column != nullptr && CompareStrings(column->name, columnName) == 0)
            return column;
    }
    return nullptr;
}

} // namespace

uint8_t GetColumnTypeCode(const char *typeWord)
{
    if (typeWord == nullptr) {
        LogError("Column data type not supported - Error while creating column definition.\n");
        return 0;
    }
    for (const TypeWord &entry : kTypeWords) {
        if (CompareStringsNoCase(entry.word, typeWord) == 0)
            return entry.code;
    }
    return 0;
}

ColumnDefn *CreateColumnDefn(const char *name, uint8_t type, const char *defaultText, int defaultLength,
                             uint8_t unique, const char *generatorName, const char *description,
                             int maxSize, uint8_t nullable, AllowedValues *allowedValues)
{
    if (name == nullptr)
        return nullptr;
    ColumnDefn *column = static_cast<ColumnDefn *>(calloc(1, sizeof(ColumnDefn)));
    if (column == nullptr)
        return nullptr;
    bool copied = DuplicateString(&column->name, name) == 1 && CopyOptional(&column->generatorName, generatorName) &&
                  CopyOptional(&column->description, description);
    if (copied && defaultText != nullptr) {
        int length = defaultLength;
        column->defaultValue = ConvertLiteral(defaultText, &length, type);
        if (column->defaultValue != nullptr)
            column->defaultLength = length;
    }
    if (!copied) {
        free(column->name);
        free(column->generatorName);
        free(column->description);
        free(column);
        return nullptr;
    }
    column->type = type;
    /* Long character columns are kept as TEXT; the default stays a copy of the text. */
    if ((type == KEL_SQL_CHAR || type == KEL_SQL_SHORT_CHAR) && maxSize >= KEL_SQL_TEXT_MIN_SIZE)
        column->type = KEL_SQL_TEXT;
    column->unique = unique;
    column->maxSize = maxSize;
    column->nullable = nullable;
    column->allowedValues = allowedValues;
    return column;
}

TableDefn *CreateTableDefn(const char *name, const char *description, Vector *columns,
                           ConstraintDefn *constraints)
{
    TableDefn *table = static_cast<TableDefn *>(calloc(1, sizeof(TableDefn)));
    if (table == nullptr)
        return nullptr;
    if (!CopyOptional(&table->name, name) || !CopyOptional(&table->description, description)) {
        free(table->name);
        free(table);
        return nullptr;
    }
    table->columns = columns;
    table->constraints = constraints;
    return table;
}

bool AddTableDefn(TableDefn *tableDefn)
{
    return AppendData(&gv_tableDefnVect, tableDefn);
}

TableDefn *GetTableDefn(const char *tableName)
{
    if (tableName == nullptr) {
        LogError("Table Name is NULL.\n");
        return nullptr;
    }
    for (VectorNode *node = ElementAt(&gv_tableDefnVect, 0); node != nullptr; node = node->next) {
        TableDefn *table = static_cast<TableDefn *>(node->data);
        if (table != nullptr && CompareStringsNoCase(table->name, tableName) == 0)
            return table;
    }
    return nullptr;
}

ColumnDefn *GetColumnDefnEntry(const char *tableName, const char *columnName)
{
    LogTrace("@@@@ Inside GetColumnDefnEntry @@@@\n");
    return FindColumn(tableName, columnName);
}

void *GetDefaultValue(const char *tableName, const char *columnName, int *found)
{
    LogTrace("@@@@ Inside GetDefaultValue @@@@\n");
    ColumnDefn *column = FindColumn(tableName, columnName);
    if (column == nullptr)
        return nullptr;
    if (found != nullptr)
        *found = 1;
    return column->defaultValue;
}

uint8_t GetColumnType(const char *tableName, const char *columnName)
{
    LogTrace("@@@@ Inside GetColumnDefnEntry @@@@\n");
    ColumnDefn *column = FindColumn(tableName, columnName);
    return column != nullptr ? column->type : 0;
}

bool AddForeignKeyDefn(ConstraintDefn *constraints, ForeignKeyDefn *foreignKey)
{
    if (constraints == nullptr)
        return false;
    if (constraints->foreignKeys == nullptr) {
        constraints->foreignKeys = NewVector();
        if (constraints->foreignKeys == nullptr)
            return false;
    }
    return AppendData(constraints->foreignKeys, foreignKey);
}

ForeignKeyDefn *GetForeignKeyDefn(TableDefn *tableDefn, const char *localColumn)
{
    if (tableDefn == nullptr || tableDefn->constraints == nullptr) {
        LogError("No constraint Definition \n");
        return nullptr;
    }
    if (tableDefn->constraints->foreignKeys == nullptr) {
        LogError("No Foreignkey Entries in Definition \n");
        return nullptr;
    }
    for (VectorNode *node = ElementAt(tableDefn->constraints->foreignKeys, 0); node != nullptr; node = node->next) {
        ForeignKeyDefn *foreignKey = static_cast<ForeignKeyDefn *>(node->data);
        if (CompareStringsNoCase(foreignKey->fkLocalColumn, localColumn) == 0)
            return foreignKey;
    }
    return nullptr;
}

bool LoadTableDefn(XmlTagInfo *tableTag)
{
    if (tableTag == nullptr)
        return false;
    const char *tableName = FirstAttributeValue(tableTag);
    Vector *columns = NewVector();
    if (columns == nullptr)
        return false;
    const char *description = nullptr;
    const XmlTagInfo *node = tableTag->child;
    if (TagIs(node, "description")) {
        description = TextOf(node);
        node = node->sibling;
    }
    if (node == nullptr) {
        free(columns); /* still empty: no nodes to release */
        return false;
    }

    for (const XmlTagInfo *columnTag = node->child; columnTag != nullptr; columnTag = columnTag->sibling) {
        if (!TagIs(columnTag, "column") || FirstAttributeValue(columnTag) == nullptr)
            continue;
        bool dropTable = false;
        ColumnDefn *column = LoadColumn(columnTag, &dropTable);
        if (dropTable) {
            FreeColumnVector(columns);
            return false;
        }
        if (column == nullptr || !AppendData(columns, column)) {
            FreeColumnDefn(column);
            FreeColumnVector(columns);
            return false;
        }
    }

    ConstraintDefn *constraints = static_cast<ConstraintDefn *>(calloc(1, sizeof(ConstraintDefn)));
    bool loaded = constraints != nullptr;
    const XmlTagInfo *next = node->sibling;
    if (loaded && TagIs(next, "primary-key")) {
        loaded = LoadPrimaryKey(next, constraints);
        next = next->sibling;
    }
    if (loaded && TagIs(next, "foreign-keys"))
        loaded = LoadForeignKeys(next, constraints);

    TableDefn *table = loaded ? CreateTableDefn(tableName, description, columns, constraints) : nullptr;
    if (table == nullptr || !AddTableDefn(table)) {
        if (table != nullptr) {
            FreeTableDefn(table);
        } else {
            FreeConstraintDefn(constraints);
            FreeColumnVector(columns);
        }
        return false;
    }
    LogTrace("\t@@@@ Loaded Table definition Successfully @@@@\n");
    return true;
}

void FreeColumnDefn(ColumnDefn *column)
{
    if (column == nullptr)
        return;
    free(column->name);
    free(column->defaultValue);
    free(column->description);
    free(column->generatorName);
    FreeAllowedValues(column->allowedValues);
    free(column);
}

void FreeConstraintDefn(ConstraintDefn *constraints)
{
    if (constraints == nullptr)
        return;
    for (int i = 0; i < constraints->primaryKeyCount; i++)
        free(constraints->primaryKeyColumns[i]);
    free(constraints->primaryKeyColumns);
    if (constraints->foreignKeys != nullptr) {
        for (VectorNode *node = constraints->foreignKeys->head; node != nullptr; node = node->next)
            FreeForeignKey(static_cast<ForeignKeyDefn *>(node->data));
        FreeVector(constraints->foreignKeys);
        free(constraints->foreignKeys);
    }
    free(constraints);
}

void FreeTableDefn(TableDefn *tableDefn)
{
    if (tableDefn == nullptr)
        return;
    free(tableDefn->name);
    free(tableDefn->description);
    FreeColumnVector(tableDefn->columns);
    FreeConstraintDefn(tableDefn->constraints);
    free(tableDefn);
}

void RemoveTableDefn(const char *tableName)
{
    TableDefn *table = GetTableDefn(tableName);
    if (table == nullptr)
        return;
    DeleteLCDVector(&gv_tableDefnVect, table);
    FreeTableDefn(table);
}

void FreeAllTableDefns(void)
{
    for (VectorNode *node = ElementAt(&gv_tableDefnVect, 0); node != nullptr; node = node->next)
        FreeTableDefn(static_cast<TableDefn *>(node->data));
    FreeVector(&gv_tableDefnVect);
}

void PrintTableDefn(TableDefn *tableDefn)
{
    if (tableDefn == nullptr || tableDefn->columns == nullptr || tableDefn->columns->count == 0)
        return;
    LogDebug("Table Name : %s\n", tableDefn->name);
    LogDebug("Description: %s\n", tableDefn->description != nullptr ? tableDefn->description : "(null)");
    LogDebug("---------------------------------------\n\n");
    for (VectorNode *node = ElementAt(tableDefn->columns, 0); node != nullptr; node = node->next) {
        ColumnDefn *column = static_cast<ColumnDefn *>(node->data);
        LogDebug("Column Name : %s\n", column->name);
        LogDebug("Column Type : %d\n", column->type);
        LogDebug("Unique Flag : %s\n", column->unique ? "TRUE" : "FALSE");
        LogDebug("Description : %s\n", column->description != nullptr ? column->description : "(null)");
        LogDebug("---------------------------------------\n\n");
    }
    ConstraintDefn *constraints = tableDefn->constraints;
    if (constraints == nullptr)
        return;
    for (int i = 0; i < constraints->primaryKeyCount; i++)
        LogDebug("Primary key : %s\n\n", constraints->primaryKeyColumns[i]);
    if (constraints->foreignKeys != nullptr && constraints->foreignKeys->count > 0) {
        LogDebug("Foreign key Constraints\n");
        LogDebug("********************************\n");
        for (VectorNode *node = ElementAt(constraints->foreignKeys, 0); node != nullptr; node = node->next) {
            ForeignKeyDefn *foreignKey = static_cast<ForeignKeyDefn *>(node->data);
            LogDebug("Column Name : %s\n", foreignKey->fkLocalColumn != nullptr ? foreignKey->fkLocalColumn : "(null)");
            LogDebug("Ref Column  : %s\n",
                     foreignKey->fkReferenceColumn != nullptr ? foreignKey->fkReferenceColumn : "(null)");
            LogDebug("Tablename : %s\n", foreignKey->referenceTableName);
        }
        LogDebug("********************************\n");
    }
}

void PrintAllTableDefns(void)
{
    for (VectorNode *node = ElementAt(&gv_tableDefnVect, 0); node != nullptr; node = node->next)
        PrintTableDefn(static_cast<TableDefn *>(node->data));
}

Vector *GetTableDefnVect(void)
{
    return &gv_tableDefnVect;
}

int32_t TypeCodeToValue(const TypeCodePair *pairs, int pairCount, uint8_t code)
{
    for (int i = 0; pairs != nullptr && i < pairCount; i++) {
        if (pairs[i].code == code)
            return pairs[i].value;
    }
    return 0;
}

uint8_t ValueToTypeCode(const TypeCodePair *pairs, int pairCount, int32_t value)
{
    for (int i = 0; pairs != nullptr && i < pairCount; i++) {
        if (pairs[i].value == value)
            return pairs[i].code;
    }
    return 0;
}
