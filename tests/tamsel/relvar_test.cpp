/* Relvars: creation, rows, selections, updates, deletions, sorting, views and
 * the generator and change-report seams. */
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "tamsel/kel_datetime.h"
#include "tamsel/relvar.h"
#include "tamsel_support.h"

namespace {

using tamsel_test::AddRow;
using tamsel_test::ColumnTexts;
using tamsel_test::DefineTable;

class RelvarTest : public tamsel_test::StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        ASSERT_TRUE(DefineTable("Agentparams", {{"PARAM_NAME", KEL_SQL_SHORT_CHAR}, {"param_Value", KEL_SQL_SHORT_CHAR}},
                                {"PARAM_NAME"}));
        ASSERT_TRUE(CreateTable("Agentparams"));
        ASSERT_NE(AddRow("Agentparams", {"RESOURCE_ID", "42"}), nullptr);
        ASSERT_NE(AddRow("Agentparams", {"OTHER", "7"}), nullptr);
    }

    std::vector<std::string> Names(const char *criteria = nullptr)
    {
        ResultData *result = SelectRows("Agentparams", criteria);
        std::vector<std::string> names = ColumnTexts(result, "PARAM_NAME");
        FreeResultData(result);
        return names;
    }
};

TEST_F(RelvarTest, ResourceIdentifierLookup)
{
    ResultData *result = SelectRows("agentparams", "PARAM_NAME='RESOURCE_ID'");
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->rowCount, 1);
    ASSERT_NE(GotoNextRowObject(result), nullptr);
    for (const char *column : {"param_Value", "PARAM_VALUE", "Param_value"}) {
        int length = 0;
        char *value = static_cast<char *>(GetColumnValueByName(column, &length, result));
        ASSERT_NE(value, nullptr) << column;
        EXPECT_EQ(std::string(value, static_cast<size_t>(length)), "42");
    }
    EXPECT_EQ(GetColumnValueByName("missing", nullptr, result), nullptr);
    EXPECT_EQ(GotoNextRowObject(result), nullptr);
    EXPECT_EQ(GetColumnValueByName("param_Value", nullptr, result), nullptr); /* past the end */
    FreeResultData(result);

    int length = 0;
    char *value = static_cast<char *>(GetColumnValue("AGENTPARAMS", "param_value", "PARAM_NAME='OTHER'", &length));
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, "7");
    EXPECT_EQ(length, 1);

    tamsel_test::LogCapture log(2);
    EXPECT_EQ(GetColumnValue("Agentparams", "param_value", "PARAM_NAME=", &length), nullptr);
    EXPECT_EQ(GetColumnValue("Agentparams", "missing", "PARAM_NAME='OTHER'", &length), nullptr);
    EXPECT_EQ(log.Messages("ERROR"),
              "Error in executing SelectRows(Agentparams,PARAM_NAME=)\ncolumnValue is NULL for :missing\n");
    EXPECT_EQ(SelectRows("Agentparams", "PARAM_NAME=1 AND param_Value=2"), nullptr);
    EXPECT_EQ(SelectRows("Nowhere", nullptr), nullptr);
}

TEST_F(RelvarTest, ColumnValueReportsBeforeReleasingTheResult)
{
    /* Each failure is written before the result set is released. */
    struct {
        const char *column;
        const char *criteria;
        const char *message;
    } cases[] = {
        {"param_value", "PARAM_NAME='NONE'", "No such row available in the Agentparams for PARAM_NAME='NONE'"},
        {"missing", "PARAM_NAME='OTHER'", "columnValue is NULL for :missing\n"},
    };
    for (const auto &c : cases) {
        tamsel_test::LogCapture log(4);
        int length = -1;
        EXPECT_EQ(GetColumnValue("Agentparams", c.column, c.criteria, &length), nullptr) << c.column;
        const std::string raw = log.Raw();
        size_t message = raw.find(c.message);
        size_t release = raw.find("@@@ Inside FreeResultData @@@\n");
        ASSERT_NE(message, std::string::npos) << raw;
        ASSERT_NE(release, std::string::npos) << raw;
        EXPECT_LT(message, release) << raw;
        EXPECT_EQ(raw.find("@@@ Inside FreeResultData @@@\n", release + 1), std::string::npos); /* freed once */
    }
}

TEST_F(RelvarTest, CreationRefusesDuplicatesAndUnknownNames)
{
    EXPECT_FALSE(CreateTable("Agentparams"));
    EXPECT_FALSE(CreateTable("AGENTPARAMS"));
    EXPECT_FALSE(CreateTable("NoSuchDefinition"));
    EXPECT_EQ(gv_tableDataVect.count, 1);
    TableData *relvar = GetTableDataByName("AgentParams");
    ASSERT_NE(relvar, nullptr);
    EXPECT_EQ(relvar->columnCount, 2);
    EXPECT_EQ(relvar->rowCount, 2);
    EXPECT_EQ(GetTableDataByName(nullptr), nullptr);
}

TEST_F(RelvarTest, AllRowsInOrderAndCursorReset)
{
    ASSERT_NE(AddRow("Agentparams", {"THIRD", nullptr}), nullptr);
    ResultData *result = SelectRows("Agentparams", nullptr);
    ASSERT_NE(result, nullptr);
    TableData *relvar = GetTableDataByName("Agentparams");
    EXPECT_EQ(GotoNextRowObject(result), relvar->firstRow);
    EXPECT_EQ(GotoNextRowObject(result), relvar->firstRow->next);
    EXPECT_EQ(GotoNextRowObject(result), relvar->lastRow);
    EXPECT_EQ(GotoNextRowObject(result), nullptr);
    ResetResultDataCursor(result);
    EXPECT_EQ(GotoNextRowObject(result), relvar->firstRow);
    EXPECT_EQ(GetColumnTypeByName("PARAM_value", result), KEL_SQL_SHORT_CHAR);
    EXPECT_STREQ(GetColumnNameByIndex(1, result), "param_Value");
    EXPECT_EQ(GetColumnNameByIndex(2, result), nullptr);
    EXPECT_STREQ(GetTableNameFromResultData(result), "Agentparams");
    FreeResultData(result);

    EXPECT_EQ(SelectRowByRowIdx("Agentparams", 4), nullptr);
    struct {
        int number;
        const char *name;
    } cases[] = {{0, "RESOURCE_ID"}, {1, "RESOURCE_ID"}, {2, "OTHER"}, {3, "THIRD"}};
    for (const auto &c : cases) {
        result = SelectRowByRowIdx("Agentparams", c.number);
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(ColumnTexts(result, "PARAM_NAME"), std::vector<std::string>{c.name}) << c.number;
        FreeResultData(result);
    }
}

TEST_F(RelvarTest, UpdatesRefusePrimaryKeyColumns)
{
    RowObject *row = GetTableDataByName("Agentparams")->firstRow;
    tamsel_test::LogCapture log(2);
    EXPECT_FALSE(UpdateRowObject("Agentparams", row, "param_name", "X", 1));
    EXPECT_EQ(log.Messages("ERROR"), "@@@ UpdateRowObject Failed as PrimaryKey is being updated @@@\n");
    EXPECT_STREQ(static_cast<char *>(row->values[0]), "RESOURCE_ID");
    EXPECT_EQ(row->state, ROW_STATE_NEW);

    EXPECT_TRUE(UpdateRowObject("Agentparams", row, "PARAM_VALUE", "4711", 4));
    EXPECT_STREQ(static_cast<char *>(row->values[1]), "4711");
    EXPECT_EQ(row->lengths[1], 4);
    EXPECT_EQ(row->state, ROW_STATE_NEW | ROW_STATE_UPDATED);
    EXPECT_FALSE(UpdateRowObject("Agentparams", row, "missing", "1", 1));
    EXPECT_FALSE(UpdateRowObject("Nowhere", row, "param_Value", "1", 1));
    EXPECT_FALSE(UpdateRowObject("Agentparams", nullptr, "param_Value", "1", 1));
    EXPECT_NE(log.Messages("ERROR").find("\t@@@@@ rowPtr passed as parameter in NULL @@@@@ \n"), std::string::npos);
}

TEST_F(RelvarTest, DeletionMarksStoredRowsAndFreesNewOnes)
{
    TableData *relvar = GetTableDataByName("Agentparams");
    RowObject *stored = relvar->firstRow;
    stored->state |= ROW_STATE_STORED;
    EXPECT_TRUE(DeleteRowObject("Agentparams", stored));
    EXPECT_EQ(stored->state & ROW_STATE_DELETED, ROW_STATE_DELETED);
    EXPECT_EQ(Names(), (std::vector<std::string>{"RESOURCE_ID", "OTHER"}));

    /* The last row goes at once; appending afterwards still lands at the end. */
    EXPECT_TRUE(DeleteRowObject("Agentparams", relvar->lastRow));
    EXPECT_EQ(relvar->lastRow, stored);
    ASSERT_NE(AddRow("Agentparams", {"NEXT", "1"}), nullptr);
    ASSERT_NE(AddRow("Agentparams", {"LAST", "2"}), nullptr);
    EXPECT_EQ(Names(), (std::vector<std::string>{"RESOURCE_ID", "NEXT", "LAST"}));
    EXPECT_EQ(relvar->rowCount, 4); /* deletions do not lower it */

    RowObject stranger = {};
    EXPECT_FALSE(DeleteRowObject("Agentparams", &stranger));
    EXPECT_TRUE(DeleteRowObjectByCriteria("Agentparams", "PARAM_NAME='NEXT' or PARAM_NAME='LAST'"));
    EXPECT_EQ(Names(), (std::vector<std::string>{"RESOURCE_ID"}));
    EXPECT_FALSE(DeleteRowObjectByCriteria("Agentparams", "PARAM_NAME="));
    EXPECT_FALSE(DeleteRowObjectByCriteria("Agentparams", nullptr));

    ASSERT_NE(AddRow("Agentparams", {"MORE", "3"}), nullptr);
    tamsel_test::LogCapture log(2);
    EXPECT_TRUE(DeleteAllTableRowObjects("AGENTPARAMS"));
    EXPECT_EQ(Names(), (std::vector<std::string>{"RESOURCE_ID"})); /* the stored row stays marked */
    EXPECT_EQ(relvar->firstRow, relvar->lastRow);
    EXPECT_FALSE(DeleteAllTableRowObjects(nullptr));
    EXPECT_FALSE(DeleteAllTableRowObjects("Nowhere"));
    EXPECT_EQ(log.Messages("ERROR"), "\t tableName NULL \n\t GetTableDataByName returned NULL \n");
}

TEST_F(RelvarTest, SortIsStableBothWays)
{
    ASSERT_TRUE(DefineTable("Keys", {{"ID", KEL_SQL_SHORT_CHAR}, {"KEY", KEL_SQL_INT}}));
    ASSERT_TRUE(CreateTable("Keys"));
    for (auto row : {std::make_pair("A", "3"), std::make_pair("B", "1"), std::make_pair("C", "3"), std::make_pair("D", "2")})
        ASSERT_NE(AddRow("Keys", {row.first, row.second}), nullptr);
    ResultData *result = SelectRows("Keys", nullptr);
    ASSERT_TRUE(SortResultSet(result, "key", 1));
    EXPECT_EQ(ColumnTexts(result, "ID"), (std::vector<std::string>{"B", "D", "A", "C"}));
    ASSERT_TRUE(SortResultSet(result, "KEY", 0));
    EXPECT_EQ(ColumnTexts(result, "ID"), (std::vector<std::string>{"A", "C", "D", "B"}));
    EXPECT_FALSE(SortResultSet(result, "missing", 1));
    EXPECT_FALSE(SortResultSet(result, nullptr, 1));
    FreeResultData(result);

    result = SelectRows("Keys", "ID='B'");
    tamsel_test::LogCapture log(2);
    EXPECT_TRUE(SortResultSet(result, "KEY", 1));
    EXPECT_EQ(log.Messages("ERROR"), "Number of Rows is 1 for the Relvar to be Sorted \n");
    FreeResultData(result);
}

TEST_F(RelvarTest, OnlyFlagOneSortsAscending)
{
    ASSERT_TRUE(DefineTable("Flags", {{"ID", KEL_SQL_SHORT_CHAR}, {"KEY", KEL_SQL_INT}}));
    ASSERT_TRUE(CreateTable("Flags"));
    for (auto row : {std::make_pair("A", "2"), std::make_pair("B", "9"), std::make_pair("C", "-4")})
        ASSERT_NE(AddRow("Flags", {row.first, row.second}), nullptr);
    const struct {
        int flag;
        std::vector<std::string> order;
    } cases[] = {{1, {"C", "A", "B"}}, {0, {"B", "A", "C"}}, {2, {"B", "A", "C"}}, {-1, {"B", "A", "C"}},
                 {255, {"B", "A", "C"}}};
    for (const auto &c : cases) {
        ResultData *result = SelectRows("Flags", nullptr);
        ASSERT_TRUE(SortResultSet(result, "KEY", c.flag));
        EXPECT_EQ(ColumnTexts(result, "ID"), c.order) << "flag " << c.flag;
        FreeResultData(result);
    }
}

std::vector<std::pair<int, std::string>> g_changes;
int32_t g_nextIdentifier = 0;

void RecordChange(RowObject *row, const char *relvar)
{
    std::string first = row->values[0] != nullptr ? static_cast<char *>(row->values[0]) : "NULL";
    g_changes.emplace_back(row->state, std::string(relvar) + ":" + first);
}

int32_t NextIdentifier(const char *, ColumnDefn *column)
{
    return strcmp(column->generatorName, "NONE") == 0 ? -1 : ++g_nextIdentifier;
}

TEST_F(RelvarTest, GeneratorDefaultsAndChangeReports)
{
    ASSERT_TRUE(DefineTable("Jobs", {{"NAME", KEL_SQL_SHORT_CHAR, "job"},
                                     {"ID", KEL_SQL_INT, nullptr, "JOB_SEQ"},
                                     {"OTHER", KEL_SQL_INT, "5", "NONE"},
                                     {"WHEN", KEL_SQL_DATETIME, "2024-05-06 09:05:00"}}));
    ASSERT_TRUE(CreateTable("Jobs"));

    /* Without a generator: no identifier; defaults still apply. */
    RowObject *plain = AddRow("Jobs", {nullptr, nullptr, nullptr, nullptr});
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->values[1], nullptr);
    EXPECT_STREQ(static_cast<char *>(plain->values[0]), "job");
    EXPECT_EQ(*static_cast<int32_t *>(plain->values[2]), 5);
    EXPECT_EQ(plain->lengths[3], KEL_DATETIME_LENGTH);
    char *when = KelDateTimeToString(static_cast<KelDateTime *>(plain->values[3]));
    EXPECT_STREQ(when, "2024-05-06 09:05:00");
    free(when);
    /* The row's date-time is its own copy, not the definition's default. */
    EXPECT_NE(plain->values[3], GetColumnDefnEntry("Jobs", "WHEN")->defaultValue);

    g_changes.clear();
    g_nextIdentifier = 100;
    SetTamselIdGenerator(NextIdentifier);
    SetTamselChangeSink(RecordChange);
    RowObject *generated = AddRow("Jobs", {"build", nullptr, nullptr, nullptr});
    ASSERT_NE(generated, nullptr);
    EXPECT_EQ(*static_cast<int32_t *>(generated->values[1]), 101);
    EXPECT_EQ(generated->lengths[1], 4);
    EXPECT_EQ(*static_cast<int32_t *>(generated->values[2]), 5); /* -1: no identifier, the default */
    RowObject *given = AddRow("Jobs", {"test", "7", nullptr, nullptr});
    EXPECT_EQ(*static_cast<int32_t *>(given->values[1]), 7);

    EXPECT_TRUE(UpdateRowObject("Jobs", generated, "NAME", "deploy", 6));
    EXPECT_TRUE(DeleteRowObject("Jobs", given));
    std::vector<std::pair<int, std::string>> expected = {
        {2, "Jobs:build"}, {2, "Jobs:test"}, {6, "Jobs:deploy"}, {2, "Jobs:test"}};
    EXPECT_EQ(g_changes, expected);
}

TEST_F(RelvarTest, ViewsListButRefuseCriteria)
{
    TableDefn *base = GetTableDefn("Agentparams");
    Vector *columns = NewVector();
    char name[] = "Value";
    AppendData(columns, CreateViewColumnDefn(name, 0, 0, static_cast<ColumnDefn *>(ElementAt(base->columns, 1)->data)));
    char **tables = static_cast<char **>(calloc(1, sizeof(char *)));
    tables[0] = strdup("Agentparams");
    CustomViewDefn *view = CreateCustomViewDefn(1, tables, columns);
    ASSERT_TRUE(CreateCustomViewData("ParamView", view));
    EXPECT_FALSE(CreateCustomViewData("paramview", view));

    void **values = static_cast<void **>(calloc(1, sizeof(void *)));
    int32_t *lengths = static_cast<int32_t *>(calloc(1, sizeof(int32_t)));
    values[0] = strdup("99");
    lengths[0] = 2;
    ASSERT_TRUE(AddNewRow("ParamView", CreateNewRowObject(values, lengths)));

    ResultData *result = SelectRows("ParamView", nullptr);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(ColumnTexts(result, "value"), std::vector<std::string>{"99"});
    EXPECT_EQ(GetColumnTypeByName("param_value", result), KEL_SQL_SHORT_CHAR);
    EXPECT_STREQ(GetTableNameFromResultData(result), "Agentparams");
    FreeResultData(result);
    EXPECT_EQ(SelectRows("ParamView", "Value='99'"), nullptr);
    EXPECT_FALSE(DeleteRowObjectByCriteria("ParamView", "Value='99'"));
    char viewName[] = "ParamView", tableName[] = "Agentparams";
    EXPECT_STREQ(GetTableNameOfView(viewName), "Agentparams");
    EXPECT_EQ(GetTableNameOfView(tableName), tableName);
    EXPECT_TRUE(RemoveTableData("ParamView"));
    EXPECT_EQ(GetTableDataByName("ParamView"), nullptr);
}

/* Change reports of a deletion by criteria, as "state:first column". */
std::vector<std::string> g_deleted;
bool g_sinkSelects = false;

void RecordDeletion(RowObject *row, const char *relvar)
{
    g_deleted.push_back(std::to_string(row->state) + ":" + static_cast<char *>(row->values[0]));
    if (g_sinkSelects) {
        /* A listener that reads the relvar while it is told of a change. */
        ResultData *result = SelectRows(relvar, "PARAM_NAME='KEEP'");
        if (result != nullptr)
            g_deleted.back() += "/" + std::to_string(result->rowCount);
        FreeResultData(result);
    }
}

TEST_F(RelvarTest, DeletionByCriteriaKeepsChainOrderAndReportsAfterTheLock)
{
    ASSERT_TRUE(DeleteAllTableRowObjects("Agentparams"));
    TableData *relvar = GetTableDataByName("Agentparams");
    const int count = 40;
    for (int i = 0; i < count; i++) {
        std::string name = (i % 2 == 0 ? "DROP" : "KEEP");
        std::string value = std::to_string(i);
        ASSERT_NE(AddRow("Agentparams", {name.c_str(), value.c_str()}), nullptr);
    }
    /* A stored row among the matches is only marked and keeps its place. */
    relvar->firstRow->next->next->state |= ROW_STATE_STORED;

    g_deleted.clear();
    g_sinkSelects = true;
    SetTamselChangeSink(RecordDeletion);
    tamsel_test::LogCapture log(4);
    std::promise<bool> done;
    std::future<bool> outcome = done.get_future();
    std::thread worker([&done] { done.set_value(DeleteRowObjectByCriteria("Agentparams", "PARAM_NAME='DROP'")); });
    if (outcome.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        worker.detach();
        FAIL() << "a change sink that selects rows blocked the deletion";
    }
    worker.join();
    SetTamselChangeSink(nullptr);
    g_sinkSelects = false;
    EXPECT_TRUE(outcome.get());

    /* Reports in chain order, each row intact, the listener seeing the rows left. */
    ASSERT_EQ(g_deleted.size(), static_cast<size_t>(count / 2 - 1));
    for (const std::string &report : g_deleted)
        EXPECT_EQ(report, "2:DROP/20");
    std::vector<std::string> values;
    ResultData *all = SelectRows("Agentparams", nullptr);
    values = ColumnTexts(all, "param_Value");
    FreeResultData(all);
    std::vector<std::string> expected;
    for (int i = 1; i < count; i += 2) {
        expected.push_back(std::to_string(i));
        if (i == 1)
            expected.push_back("2"); /* the stored row */
    }
    EXPECT_EQ(values, expected);
    EXPECT_EQ(relvar->lastRow->next, nullptr);
    EXPECT_STREQ(static_cast<char *>(relvar->lastRow->values[1]), "39");

    /* Each deleted row leaves the same trace lines as DeleteRowObject. */
    std::string trace = log.Messages("TRACE");
    size_t deletes = 0, lookups = 0;
    for (size_t at = trace.find("@@@ Inside DeleteRowObject @@@\n"); at != std::string::npos;
         at = trace.find("@@@ Inside DeleteRowObject @@@\n", at + 1))
        deletes++;
    for (size_t at = trace.find("@@@ Inside FreeRowObject @@@\n"); at != std::string::npos;
         at = trace.find("@@@ Inside FreeRowObject @@@\n", at + 1))
        lookups++;
    EXPECT_EQ(deletes, static_cast<size_t>(count / 2));
    EXPECT_EQ(lookups, static_cast<size_t>(count / 2 - 1));

    /* Deleting the tail and the head keeps both ends right for appending. */
    EXPECT_TRUE(DeleteRowObjectByCriteria("Agentparams", "param_Value='39' or param_Value='1'"));
    ASSERT_NE(AddRow("Agentparams", {"KEEP", "end"}), nullptr);
    all = SelectRows("Agentparams", nullptr);
    values = ColumnTexts(all, "param_Value");
    FreeResultData(all);
    ASSERT_EQ(values.size(), expected.size() - 1);
    EXPECT_EQ(values.front(), "2");
    EXPECT_EQ(values[values.size() - 2], "37");
    EXPECT_EQ(values.back(), "end");
}

TEST_F(RelvarTest, RowValuesOfEveryKindSurviveStorageUpdatesAndByteCopies)
{
    ASSERT_TRUE(DefineTable("Mixed", {{"NAME", KEL_SQL_SHORT_CHAR},
                                      {"FLAG", KEL_SQL_BOOLEAN},
                                      {"WEIGHT", KEL_SQL_DOUBLE},
                                      {"COUNT", KEL_SQL_INT},
                                      {"WHEN", KEL_SQL_DATETIME},
                                      {"DAY", KEL_SQL_DATE},
                                      {"AT", KEL_SQL_TIME},
                                      {"NOTE", KEL_SQL_TEXT}}));
    ASSERT_TRUE(CreateTable("Mixed"));
    RowObject *row = AddRow("Mixed", {"abc", "TRUE", "2.5", "-7", "2024-05-06 09:05:00", "2023-02-03", "10:11:12",
                                      nullptr});
    RowObject *other = AddRow("Mixed", {"a", "FALSE", "0.25", "9", "1999-12-31 23:59:58", nullptr, nullptr, "x"});
    ASSERT_NE(row, nullptr);
    ASSERT_NE(other, nullptr);

    /* Values read at their type (misaligned reads would stop the sanitizer), texts
     * still end with a zero byte. */
    EXPECT_STREQ(static_cast<char *>(row->values[0]), "abc");
    EXPECT_EQ(*static_cast<uint8_t *>(row->values[1]), 1);
    EXPECT_EQ(*static_cast<double *>(row->values[2]), 2.5);
    EXPECT_EQ(*static_cast<int32_t *>(row->values[3]), -7);
    EXPECT_EQ(static_cast<KelDate *>(row->values[5])->year, 2023);
    EXPECT_EQ(static_cast<KelTime *>(row->values[6])->second, 12);
    EXPECT_EQ(row->values[7], nullptr);
    EXPECT_EQ(*static_cast<double *>(other->values[2]), 0.25);
    EXPECT_STREQ(static_cast<char *>(other->values[7]), "x");

    /* A date-time copied byte for byte by its recorded length stays whole after
     * its row is gone: it refers to nothing outside its own bytes. */
    ASSERT_EQ(row->lengths[4], KEL_DATETIME_LENGTH);
    KelDateTime *copy = static_cast<KelDateTime *>(calloc(1, sizeof(KelDateTime)));
    memcpy(copy, row->values[4], static_cast<size_t>(row->lengths[4]));
    void *copied = CopyColumnValue(KEL_SQL_DATETIME, other->values[4], other->lengths[4]);

    /* An update replaces one value and leaves the others as they were. */
    ASSERT_TRUE(UpdateRowObject("Mixed", row, "NAME", "longer name", 11));
    ASSERT_TRUE(UpdateRowObject("Mixed", row, "NOTE", "note", 4));
    EXPECT_STREQ(static_cast<char *>(row->values[0]), "longer name");
    EXPECT_STREQ(static_cast<char *>(row->values[7]), "note");
    EXPECT_EQ(*static_cast<double *>(row->values[2]), 2.5);
    char *when = KelDateTimeToString(static_cast<KelDateTime *>(row->values[4]));
    EXPECT_STREQ(when, "2024-05-06 09:05:00");
    free(when);
    ASSERT_TRUE(UpdateRowObject("Mixed", row, "COUNT", nullptr, 0));
    EXPECT_EQ(row->values[3], nullptr);

    EXPECT_TRUE(DeleteRowObjectByCriteria("Mixed", "NAME='longer name' or NAME='a'"));
    EXPECT_EQ(GetTableDataByName("Mixed")->firstRow, nullptr);
    when = KelDateTimeToString(copy);
    EXPECT_STREQ(when, "2024-05-06 09:05:00");
    free(when);
    when = KelDateTimeToString(static_cast<KelDateTime *>(copied));
    EXPECT_STREQ(when, "1999-12-31 23:59:58");
    free(when);
    free(copy);
    free(copied);
}

} // namespace
