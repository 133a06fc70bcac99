/* Table definitions loaded from data-dictionary trees, and their look-ups. */
#include <gtest/gtest.h>

#include <string>

#include "tamsel/table_defn.h"
#include "tamsel_support.h"

namespace {

using tamsel_test::FreeTags;
using tamsel_test::Tag;
using tamsel_test::With;

/* A column element with (tag, text) children. */
XmlTagInfo *Column(const char *name, std::initializer_list<std::pair<const char *, const char *>> children)
{
    XmlTagInfo *column = Tag("column", {}, {{"name", name}});
    for (const auto &child : children)
        With(column, {Tag(child.first, {child.second})});
    return column;
}

XmlTagInfo *Table(const char *name, std::initializer_list<XmlTagInfo *> columns)
{
    XmlTagInfo *container = Tag("columns");
    for (XmlTagInfo *column : columns)
        With(container, {column});
    return With(Tag("table", {}, {{"name", name}}), {Tag("description", {"test table"}), container});
}

bool Load(XmlTagInfo *tree)
{
    bool loaded = LoadTableDefn(tree);
    FreeTags(tree);
    return loaded;
}

class TableDefnTest : public tamsel_test::StoreTest {};

TEST_F(TableDefnTest, TypeWordsInAnyCase)
{
    struct {
        const char *word;
        uint8_t code;
    } cases[] = {{"char", 15},       {"NChar", 15},   {"KEL_SQL_CHAR", 14}, {"bigint", 5},   {"Integer", 5},
                 {"LONG", 5},        {"float", 9},    {"kel_sql_real", 11}, {"varchar", 0},  {"timestamp", 18},
                 {"Boolean", 19},    {"text", 22},    {"KEL_SQL_UNSIGNED_LONG_INT", 8},     {"", 0}};
    for (const auto &c : cases)
        EXPECT_EQ(GetColumnTypeCode(c.word), c.code) << c.word;
    tamsel_test::LogCapture log(2);
    EXPECT_EQ(GetColumnTypeCode(nullptr), 0);
    EXPECT_EQ(log.Messages("ERROR"), "Column data type not supported - Error while creating column definition.\n");
}

TEST_F(TableDefnTest, ColumnAttributes)
{
    ASSERT_TRUE(Load(Table("Items", {
        Column("Short", {{"data-type", "char"}, {"max-size", "255"}}),
        Column("Long", {{"data-type", "CHAR"}, {"max-size", "256"}, {"default-value", "abc"}}),
        Column("Flags", {{"data-type", "INTEGER"}, {"nullable", "FALSE"}, {"unique", "TRUE"}, {"max-size", "+12"}}),
        Column("ItemId", {{"data-type", "int"}, {"nullable", "TRUE"}, {"unique", "true"}, {"max-size", "1x"},
                          {"generator-name", "ITEM_SEQ"}, {"default-value", "42"}}),
        Column("Plain", {{"data-type", "varchar"}}),
    })));
    struct {
        const char *column;
        uint8_t type;
        uint8_t nullable;
        uint8_t unique;
        int maxSize;
    } cases[] = {{"Short", 15, 1, 0, 255}, {"Long", 22, 1, 0, 256}, {"Flags", 5, 0, 0, 12},
                 {"ItemId", 0, 1, 1, -1},  {"Plain", 0, 1, 0, 0}};
    for (const auto &c : cases) {
        ColumnDefn *column = GetColumnDefnEntry("ITEMS", c.column);
        ASSERT_NE(column, nullptr) << c.column;
        EXPECT_EQ(column->type, c.type) << c.column;
        EXPECT_EQ(column->nullable, c.nullable) << c.column;
        EXPECT_EQ(column->unique, c.unique) << c.column;
        EXPECT_EQ(column->maxSize, c.maxSize) << c.column;
    }
    ColumnDefn *longColumn = GetColumnDefnEntry("Items", "Long");
    ASSERT_NE(longColumn->defaultValue, nullptr);
    EXPECT_STREQ(static_cast<char *>(longColumn->defaultValue), "abc");
    EXPECT_EQ(longColumn->defaultLength, 3);
    EXPECT_STREQ(GetColumnDefnEntry("Items", "ItemId")->generatorName, "ITEM_SEQ");

    /* Table names match in any case, column names exactly. */
    EXPECT_NE(GetTableDefn("items"), nullptr);
    EXPECT_EQ(GetColumnDefnEntry("Items", "itemid"), nullptr);
    EXPECT_EQ(GetColumnType("Items", "Flags"), 5);
    int found = 0;
    EXPECT_EQ(GetDefaultValue("Items", "Flags", &found), nullptr);
    EXPECT_EQ(found, 1);
    found = 0;
    EXPECT_EQ(GetDefaultValue("Items", "Nothing", &found), nullptr);
    EXPECT_EQ(found, 0);

    tamsel_test::LogCapture log(2);
    EXPECT_EQ(GetColumnDefnEntry("Other", "x"), nullptr);
    EXPECT_EQ(GetColumnDefnEntry(nullptr, "x"), nullptr);
    EXPECT_EQ(log.Messages("ERROR"), "No definition found for table Other\nCannot fetch default value;\n");
}

TEST_F(TableDefnTest, AllowedValuesAndMalformedRanges)
{
    XmlTagInfo *list = Column("Colour", {{"data-type", "CHAR"}});
    With(list, {Tag("value", {"red", "green", "blue"})});
    XmlTagInfo *range = Column("Level", {{"data-type", "INT"}});
    With(range, {Tag("from", {"1"}), Tag("to", {"9"})});
    ASSERT_TRUE(Load(Table("Palette", {list, range})));
    AllowedValues *colours = GetColumnDefnEntry("Palette", "Colour")->allowedValues;
    ASSERT_NE(colours, nullptr);
    EXPECT_EQ(colours->isRange, 0);
    EXPECT_STREQ(colours->values[2], "blue");
    EXPECT_EQ(colours->values[3], nullptr);
    AllowedValues *levels = GetColumnDefnEntry("Palette", "Level")->allowedValues;
    ASSERT_NE(levels, nullptr);
    EXPECT_EQ(levels->isRange, 1);
    EXPECT_STREQ(levels->values[0], "1");
    EXPECT_STREQ(levels->values[1], "9");

    tamsel_test::LogCapture log(2);
    XmlTagInfo *broken = Column("Level", {{"data-type", "INT"}});
    With(broken, {Tag("from", {"1"}), Tag("until", {"9"})});
    EXPECT_FALSE(Load(Table("Broken", {Column("Fine", {{"data-type", "INT"}}), broken})));
    EXPECT_EQ(GetTableDefn("Broken"), nullptr);
    EXPECT_EQ(log.Messages("ERROR"), "In the allowed values attribute, 'to' tag is missing.\n");

    /* Elements without text contribute nothing: no empty list, and a textless
     * "from" is no range that would need its "to". */
    XmlTagInfo *textless = Column("Shade", {{"data-type", "CHAR"}});
    With(textless, {Tag("value"), Tag("from"), Tag("until", {"9"})});
    ASSERT_TRUE(Load(Table("Textless", {textless})));
    EXPECT_EQ(GetColumnDefnEntry("Textless", "Shade")->allowedValues, nullptr);
    EXPECT_EQ(log.Messages("ERROR"), "In the allowed values attribute, 'to' tag is missing.\n");
}

TEST_F(TableDefnTest, TablesWithoutColumnContainerAreNotLoaded)
{
    /* The column vector is made first (its trace comes before anything else);
     * a table with a description only, or without children, is then dropped. */
    tamsel_test::LogCapture log(4);
    XmlTagInfo *descriptionOnly = With(Tag("table", {}, {{"name", "Empty"}}), {Tag("description", {"x"})});
    EXPECT_FALSE(Load(descriptionOnly));
    EXPECT_FALSE(Load(Tag("table", {}, {{"name", "Bare"}})));
    EXPECT_EQ(log.Messages("TRACE"), "\n\t@@@@@ Inside InitVector() @@@@@ \n"
                                     "\n\t@@@@@ Inside InitVector() @@@@@ \n");
    EXPECT_EQ(GetTableDefnVect()->count, 0);
}

TEST_F(TableDefnTest, PrimaryAndForeignKeys)
{
    XmlTagInfo *table = Table("Orders", {Column("OrderId", {{"data-type", "INTEGER"}}),
                                         Column("CustomerId", {{"data-type", "INTEGER"}}),
                                         Column("Region", {{"data-type", "INTEGER"}})});
    With(table, {With(Tag("primary-key"), {Tag("primary-key-column", {"OrderId"}), Tag("primary-key-column")})});
    XmlTagInfo *pairs = With(Tag("fk-columns"),
                             {With(Tag("fk-column"), {Tag("fk-local-column", {"CustomerId"}),
                                                      Tag("fk-reference-column", {"Id"})}),
                              With(Tag("fk-column"), {Tag("fk-local-column", {"Region"}),
                                                      Tag("fk-reference-column", {"RegionId"})})});
    XmlTagInfo *key = With(Tag("foreign-key", {}, {{"reference-table-name", "Customers"}, {"isbidirectional", "true"}}),
                           {pairs, Tag("fk-constraints", {"ON-DELETE-CASCADE"})});
    XmlTagInfo *noColumns = With(Tag("foreign-key", {}, {{"reference-table-name", "Other"}}), {Tag("fk-stuff")});
    XmlTagInfo *noTable = With(Tag("foreign-key"), {Tag("fk-columns")});
    With(table, {With(Tag("foreign-keys"), {key, noColumns, noTable})});
    tamsel_test::LogCapture log(3);
    ASSERT_TRUE(Load(table));
    EXPECT_EQ(log.Messages("DEBUG"), "fk-columns tag not found \n");

    TableDefn *orders = GetTableDefn("orders");
    ASSERT_NE(orders, nullptr);
    EXPECT_STREQ(orders->description, "test table");
    ASSERT_EQ(orders->constraints->primaryKeyCount, 1);
    EXPECT_STREQ(orders->constraints->primaryKeyColumns[0], "OrderId");
    ASSERT_EQ(orders->constraints->foreignKeys->count, 2);
    for (const char *local : {"customerid", "REGION"}) {
        ForeignKeyDefn *foreignKey = GetForeignKeyDefn(orders, local);
        ASSERT_NE(foreignKey, nullptr) << local;
        EXPECT_STREQ(foreignKey->referenceTableName, "Customers");
        EXPECT_EQ(foreignKey->onDeleteCascade, 1);
        EXPECT_EQ(foreignKey->isbidirectional, 1);
    }
    EXPECT_STREQ(GetForeignKeyDefn(orders, "Region")->fkReferenceColumn, "RegionId");
    EXPECT_EQ(GetForeignKeyDefn(orders, "OrderId"), nullptr);

    tamsel_test::LogCapture printed(3);
    PrintTableDefn(orders);
    const std::string rule = "---------------------------------------\n\n";
    const std::string stars = "********************************\n";
    std::string expected = "Table Name : Orders\nDescription: test table\n" + rule;
    for (const char *column : {"OrderId", "CustomerId", "Region"})
        expected += std::string("Column Name : ") + column + "\nColumn Type : 5\nUnique Flag : FALSE\n" +
                    "Description : (null)\n" + rule;
    expected += "Primary key : OrderId\n\nForeign key Constraints\n" + stars +
                "Column Name : CustomerId\nRef Column  : Id\nTablename : Customers\n" +
                "Column Name : Region\nRef Column  : RegionId\nTablename : Customers\n" + stars;
    EXPECT_EQ(printed.Messages("DEBUG"), expected);

    RemoveTableDefn("ORDERS");
    EXPECT_EQ(GetTableDefn("Orders"), nullptr);
    RemoveTableDefn("Orders"); /* nothing left to remove */
}

TEST(TypeCodePairsTest, FirstMatchEitherWay)
{
    const TypeCodePair pairs[] = {{5, 4}, {14, 1}, {15, 1}, {5, 99}};
    EXPECT_EQ(TypeCodeToValue(pairs, 4, 5), 4);
    EXPECT_EQ(TypeCodeToValue(pairs, 4, 9), 0);
    EXPECT_EQ(ValueToTypeCode(pairs, 4, 1), 14);
    EXPECT_EQ(ValueToTypeCode(pairs, 4, 7), 0);
}

} // namespace
