/* The data dictionary: the list file, the definition files it names and the
 * grammar of the table elements. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log.h"
#include "store_files.h"
#include "tamsel/data_dictionary.h"
#include "tamsel/table_defn.h"
#include "tamsel_support.h"

namespace tamsel_test {
namespace {

std::vector<std::string> DefinedTables()
{
    std::vector<std::string> names;
    for (VectorNode *node = ElementAt(&gv_tableDefnVect, 0); node != nullptr; node = node->next)
        names.push_back(static_cast<TableDefn *>(node->data)->name);
    return names;
}

std::vector<std::string> ColumnNames(const char *table)
{
    std::vector<std::string> names;
    TableDefn *defn = GetTableDefn(table);
    for (VectorNode *node = defn != nullptr ? ElementAt(defn->columns, 0) : nullptr; node != nullptr; node = node->next)
        names.push_back(static_cast<ColumnDefn *>(node->data)->name);
    return names;
}

std::string Dictionary(const std::string &tables)
{
    return "<?xml version=\"1.0\"?>\n<data-dictionary>\n" + tables + "</data-dictionary>\n";
}

std::string Table(const std::string &name, const std::string &columns, const std::string &rest = "")
{
    return "<table name=\"" + name + "\"><columns>" + columns + "</columns>" + rest + "</table>\n";
}

class DataDictionaryTest : public ::testing::Test {
protected:
    StoreFiles files_;
    LogCapture log_{3};
};

TEST_F(DataDictionaryTest, ListedFilesLoadInOrderFromTheRootsDataFolder)
{
    files_.WriteDictionary({{"a.xml", Dictionary(Table("First", "<column name=\"A\"><data-type>INTEGER</data-type></column>"))},
                            {"b.xml", Dictionary(Table("Second", "<column name=\"B\"><data-type>CHAR</data-type></column>") +
                                                 Table("Third", "<column name=\"C\"><data-type>CHAR</data-type></column>"))}});
    /* Both names on one line, a missing and an unparsable file in between. */
    files_.WriteData("datadictionary.txt", "a.xml missing.xml broken.xml b.xml\n");
    files_.WriteData("broken.xml", "<data-dictionary><table name=\"Broken\"><columns>");
    ASSERT_TRUE(files_.Start(nullptr));
    EXPECT_EQ((std::vector<std::string>{"First", "Second", "Third"}), DefinedTables());
    std::string debug = log_.Messages("DEBUG");
    EXPECT_NE(std::string::npos, debug.find("Opening " + files_.DataPath("a.xml") + "\n"));
    EXPECT_LT(debug.find(files_.DataPath("a.xml")), debug.find(files_.DataPath("b.xml")));
    std::string errors = log_.Messages("ERROR");
    EXPECT_NE(std::string::npos, errors.find("Unable to open " + files_.DataPath("missing.xml") + "\n"));
    EXPECT_NE(std::string::npos, errors.find(files_.DataPath("broken.xml") + " : failed to parse\n"));
}

TEST_F(DataDictionaryTest, MissingListIsTheOnlyFailure)
{
    SetTamselRoot(files_.root().c_str());
    EXPECT_FALSE(LoadAllDataDictFiles());
    EXPECT_EQ("Cannot open DataDictionary File.\n", log_.Messages("ERROR"));
    EXPECT_FALSE(LoadDataDictFiles(files_.root().c_str()));
    files_.WriteData("datadictionary.txt", "");
    EXPECT_TRUE(LoadDataDictFiles((files_.root() + "/data").c_str()));
    EXPECT_TRUE(DefinedTables().empty());
}

TEST_F(DataDictionaryTest, AllowedValuesAttributesAndTheLetterCaseOfElements)
{
    const std::string columns =
        "<column name=\"Range\"><data-type>INTEGER</data-type>"
        "<allowed-values><from>1</from><to>9</to></allowed-values></column>"
        "<column name=\"List\"><data-type>CHAR</data-type>"
        "<allowed-values><value>red</value><!-- between --><value>green</value><value>blue</value></allowed-values>"
        "<description>colours</description></column>"
        "<COLUMN name=\"Shouting\"><data-type>CHAR</data-type></COLUMN>";
    files_.WriteDictionary({{"t.xml", Dictionary("<table name=\"Shapes\" owner=\"someone\" system=\"yes\">"
                                                 "<description>first</description><columns>" +
                                                 columns + "</columns></table>\n")}});
    ASSERT_TRUE(files_.Start(nullptr));
    EXPECT_EQ((std::vector<std::string>{"Range", "List"}), ColumnNames("Shapes"));
    ColumnDefn *range = GetColumnDefnEntry("Shapes", "Range");
    ASSERT_NE(nullptr, range);
    ASSERT_NE(nullptr, range->allowedValues);
    EXPECT_TRUE(range->allowedValues->isRange);
    EXPECT_STREQ("1", range->allowedValues->values[0]);
    EXPECT_STREQ("9", range->allowedValues->values[1]);
    ColumnDefn *list = GetColumnDefnEntry("Shapes", "List");
    ASSERT_NE(nullptr, list);
    ASSERT_NE(nullptr, list->allowedValues);
    EXPECT_FALSE(list->allowedValues->isRange);
    std::vector<std::string> values;
    for (char **value = list->allowedValues->values; *value != nullptr; value++)
        values.push_back(*value);
    EXPECT_EQ((std::vector<std::string>{"red", "green", "blue"}), values);
    EXPECT_STREQ("colours", list->description);
    EXPECT_STREQ("first", GetTableDefn("Shapes")->description);
    EXPECT_EQ("\n Not all Attributes were read\n", log_.Messages("ERROR"));
}

TEST_F(DataDictionaryTest, BrokenTablesAreSkippedAndTheNextOnesLoad)
{
    const std::string column = "<column name=\"ID\"><data-type>INTEGER</data-type></column>";
    auto foreignKey = [](const std::string &pair) {
        return "<foreign-keys><foreign-key reference-table-name=\"Good1\"><fk-columns>" + pair +
               "</fk-columns><fk-constraints>ON-DELETE-CASCADE</fk-constraints></foreign-key></foreign-keys>";
    };
    const std::string tables =
        Table("Good1", column, "<primary-key><primary-key-column>ID</primary-key-column></primary-key>") +
        Table("BadLocal", column,
              foreignKey("<fk-column><fk-local-column>ID<fk-reference-column>ID</fk-reference-column>"
                         "</fk-local-column></fk-column>")) +
        Table("Good2", column,
              foreignKey("<fk-column><fk-local-column>ID</fk-local-column>"
                         "<fk-reference-column>ID</fk-reference-column></fk-column>")) +
        Table("BadReference", column,
              foreignKey("<fk-column><fk-local-column>ID</fk-local-column><fk-reference-column>ID<x/>"
                         "</fk-reference-column></fk-column>")) +
        Table("BadKey", column, "<primary-key><primary-key-column>ID<x/></primary-key-column></primary-key>") +
        Table("BadValues", "<column name=\"V\"><allowed-values><value>a<x/></value></allowed-values></column>") +
        Table("BadRange", "<column name=\"V\"><allowed-values><from>1</from><x/></allowed-values></column>") +
        Table("Good3", column);
    files_.WriteDictionary({{"t.xml", Dictionary(tables)}});
    ASSERT_TRUE(files_.Start(nullptr));
    EXPECT_EQ((std::vector<std::string>{"Good1", "Good2", "Good3"}), DefinedTables());
    EXPECT_EQ("\n Missing endof FK-LOCAL-COLUMN tag\n\nMissing endof FK-REFERENCE-COLUMN\n"
              "\nMissing primary-key-column end tag\n\n No ending Value tag\n\nNo ending TO tag \n",
              log_.Messages("ERROR"));
    ForeignKeyDefn *key = GetForeignKeyDefn(GetTableDefn("Good2"), "ID");
    ASSERT_NE(nullptr, key);
    EXPECT_STREQ("Good1", key->referenceTableName);
    EXPECT_EQ(1, key->onDeleteCascade);
    ASSERT_EQ(1, GetTableDefn("Good1")->constraints->primaryKeyCount);
}

TEST_F(DataDictionaryTest, TreesAreReleasedWhole)
{
    XmlTagInfo *root = CreateandInitXmlTagInfo();
    ASSERT_NE(nullptr, root);
    XmlTagInfo *walk = root;
    for (int i = 0; i < 50000; i++) { /* deep enough to overflow a recursive release */
        walk->child = CreateandInitXmlTagInfo();
        walk->sibling = CreateandInitXmlTagInfo();
        walk = walk->child;
    }
    FreeXmlTagInfoList(root); /* LeakSanitizer checks that all of it went */
}

}  // namespace
}  // namespace tamsel_test
