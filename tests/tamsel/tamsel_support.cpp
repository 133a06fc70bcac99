#include "tamsel_support.h"

#include <stdlib.h>
#include <string.h>

#include "tamsel/criteria.h"
#include "util/locks.h"

namespace tamsel_test {

void ResetStore()
{
    for (VectorNode *node = gv_tableDataVect.head; node != nullptr; node = node->next) {
        TableData *relvar = static_cast<TableData *>(node->data);
        FreeTableData(relvar);
        free(relvar);
    }
    FreeVector(&gv_tableDataVect);
    FreeAllTableDefns();
    SetTamselIdGenerator(nullptr);
    SetTamselChangeSink(nullptr);
}

std::string LogCapture::Messages(const std::string &tag) const
{
    std::string out;
    for (const std::string &message : capture_.Messages(tag))
        out += message;
    return out;
}

void StoreTest::SetUp()
{
    InitMutex();
    ResetStore();
}

void StoreTest::TearDown()
{
    ResetStore();
}

bool DefineTable(const char *name, std::initializer_list<ColumnShape> columns,
                 std::initializer_list<const char *> primaryKey)
{
    Vector *vector = NewVector();
    for (const ColumnShape &shape : columns) {
        ColumnDefn *column = CreateColumnDefn(shape.name, shape.type, shape.defaultText,
                                              shape.defaultText != nullptr ? static_cast<int>(strlen(shape.defaultText)) : 0,
                                              0, shape.generator, nullptr, 0, 1, nullptr);
        if (column == nullptr || !AppendData(vector, column))
            return false;
    }
    ConstraintDefn *constraints = static_cast<ConstraintDefn *>(calloc(1, sizeof(ConstraintDefn)));
    if (primaryKey.size() > 0) {
        constraints->primaryKeyColumns = static_cast<char **>(calloc(primaryKey.size(), sizeof(char *)));
        for (const char *key : primaryKey)
            constraints->primaryKeyColumns[constraints->primaryKeyCount++] = strdup(key);
    }
    TableDefn *table = CreateTableDefn(name, nullptr, vector, constraints);
    return table != nullptr && AddTableDefn(table);
}

RowObject *AddRow(const char *relvar, std::initializer_list<const char *> texts)
{
    TableData *table = GetTableDataByName(relvar);
    if (table == nullptr)
        return nullptr;
    void **values = static_cast<void **>(calloc(static_cast<size_t>(table->columnCount), sizeof(void *)));
    int32_t *lengths = static_cast<int32_t *>(calloc(static_cast<size_t>(table->columnCount), sizeof(int32_t)));
    VectorNode *node = table->tableDefn->columns->head;
    int i = 0;
    for (const char *text : texts) {
        ColumnDefn *column = static_cast<ColumnDefn *>(node->data);
        if (text != nullptr) {
            int length = static_cast<int>(strlen(text));
            uint8_t type = column->type;
            /* Rows hold every integer type in four bytes. */
            if (type >= KEL_SQL_TINYINT && type <= KEL_SQL_UNSIGNED_INT)
                type = KEL_SQL_INT;
            values[i] = ConvertLiteral(text, &length, type);
            lengths[i] = length;
        }
        node = node->next;
        i++;
    }
    RowObject *row = CreateNewRowObject(values, lengths);
    if (!AddNewRow(relvar, row)) {
        FreeRowObject(row, table->columnCount);
        return nullptr;
    }
    return row;
}

std::vector<std::string> ColumnTexts(ResultData *result, const char *column)
{
    std::vector<std::string> texts;
    ResetResultDataCursor(result);
    while (GotoNextRowObject(result) != nullptr) {
        int length = -1;
        void *value = GetColumnValueByName(column, &length, result);
        uint8_t type = GetColumnTypeByName(column, result);
        if (value == nullptr)
            texts.push_back("NULL");
        else if (type == KEL_SQL_INT)
            texts.push_back(std::to_string(*static_cast<int32_t *>(value)));
        else
            texts.push_back(std::string(static_cast<char *>(value), static_cast<size_t>(length)));
    }
    ResetResultDataCursor(result);
    return texts;
}

XmlTagInfo *Tag(const char *name, std::initializer_list<const char *> values,
                std::initializer_list<std::pair<const char *, const char *>> attributes)
{
    XmlTagInfo *tag = static_cast<XmlTagInfo *>(calloc(1, sizeof(XmlTagInfo)));
    tag->tagName = strdup(name);
    if (values.size() > 0) {
        tag->values = static_cast<char **>(calloc(values.size(), sizeof(char *)));
        for (const char *value : values)
            tag->values[tag->valueCount++] = strdup(value);
    }
    if (attributes.size() > 0) {
        tag->attrNames = static_cast<char **>(calloc(attributes.size(), sizeof(char *)));
        tag->attrValues = static_cast<char **>(calloc(attributes.size(), sizeof(char *)));
        for (const auto &attribute : attributes) {
            tag->attrNames[tag->attrCount] = strdup(attribute.first);
            tag->attrValues[tag->attrCount++] = strdup(attribute.second);
        }
    }
    return tag;
}

XmlTagInfo *With(XmlTagInfo *parent, std::initializer_list<XmlTagInfo *> children)
{
    XmlTagInfo **slot = &parent->child;
    while (*slot != nullptr)
        slot = &(*slot)->sibling;
    for (XmlTagInfo *child : children) {
        *slot = child;
        slot = &child->sibling;
    }
    return parent;
}

void FreeTags(XmlTagInfo *tag)
{
    while (tag != nullptr) {
        XmlTagInfo *sibling = tag->sibling;
        FreeTags(tag->child);
        free(tag->tagName);
        for (int i = 0; i < tag->valueCount; i++)
            free(tag->values[i]);
        free(tag->values);
        for (int i = 0; i < tag->attrCount; i++) {
            free(tag->attrNames[i]);
            free(tag->attrValues[i]);
        }
        free(tag->attrNames);
        free(tag->attrValues);
        free(tag);
        tag = sibling;
    }
}

} // namespace tamsel_test
