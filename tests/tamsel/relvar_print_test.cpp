/* The printed text of every print routine, for a table with every printable type. */
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tamsel/relvar.h"
#include "tamsel_support.h"

namespace {

using tamsel_test::AddRow;
using tamsel_test::DefineTable;

const char kHeader[] = "I\tTI\tUI\tL\tF\tD\tC\tS\tT\tDA\tTM\tDT\tB\tUS\tN\t\n";
/* Every field, as PrintTableData shows it. */
const char kFullRow[] = "-5\t7\t9\t123\t1.500000\t2.250000\tchr\tsh\tlong text\t2024-05-06\t09:05:01\t"
                        "2024-05-06 09:05:01\t1\tNULL\t\n";
/* Without the 64-bit integer and the TEXT column, as the other routines show it. */
const char kShortRow[] = "-5\t7\t9\t1.500000\t2.250000\tchr\tsh\t2024-05-06\t09:05:01\t2024-05-06 09:05:01\t1\tNULL\t\n";

/* A printed text cut into the log writes that make it: every column name and
 * field ends with its tab, and every line end is a write of its own. */
std::vector<std::string> Pieces(const std::string &text)
{
    std::vector<std::string> pieces;
    std::string piece;
    for (char c : text) {
        piece += c;
        if (c == '\t' || c == '\n') {
            pieces.push_back(piece);
            piece.clear();
        }
    }
    if (!piece.empty())
        pieces.push_back(piece);
    return pieces;
}

class RelvarPrintTest : public tamsel_test::StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        ASSERT_TRUE(DefineTable("Everything", {{"I", KEL_SQL_INT},
                                               {"TI", KEL_SQL_TINYINT},
                                               {"UI", KEL_SQL_UNSIGNED_INT},
                                               {"L", KEL_SQL_LONG_INT},
                                               {"F", KEL_SQL_FLOAT},
                                               {"D", KEL_SQL_DOUBLE},
                                               {"C", KEL_SQL_CHAR},
                                               {"S", KEL_SQL_SHORT_CHAR},
                                               {"T", KEL_SQL_TEXT},
                                               {"DA", KEL_SQL_DATE},
                                               {"TM", KEL_SQL_TIME},
                                               {"DT", KEL_SQL_DATETIME},
                                               {"B", KEL_SQL_BOOLEAN},
                                               {"US", KEL_SQL_UNSIGNED_SMALLINT},
                                               {"N", KEL_SQL_INT}}));
        ASSERT_TRUE(CreateTable("Everything"));
        row_ = AddRow("Everything", {"-5", "7", "9", "123", "1.5", "2.25", "chr", "sh", "long text", "2024-05-06",
                                     "09:05:01", "2024-05-06 09:05:01", "TRUE", "4", nullptr});
        ASSERT_NE(row_, nullptr);
    }

    /* A view over every column of the table. */
    void CreateView()
    {
        Vector *columns = NewVector();
        for (VectorNode *node = GetTableDefn("Everything")->columns->head; node != nullptr; node = node->next) {
            ColumnDefn *column = static_cast<ColumnDefn *>(node->data);
            AppendData(columns, CreateViewColumnDefn(column->name, 0, 0, column));
        }
        char **tables = static_cast<char **>(calloc(1, sizeof(char *)));
        tables[0] = strdup("Everything");
        ASSERT_TRUE(CreateCustomViewData("EveryView", CreateCustomViewDefn(1, tables, columns)));
        TableData *table = GetTableDataByName("Everything");
        void **values = static_cast<void **>(calloc(15, sizeof(void *)));
        int32_t *lengths = static_cast<int32_t *>(calloc(15, sizeof(int32_t)));
        for (int i = 0; i < 15; i++) {
            values[i] = CopyColumnValue(GetColumnTypeByNameIndex(table, i), row_->values[i], row_->lengths[i]);
            lengths[i] = row_->lengths[i];
        }
        ASSERT_TRUE(AddNewRow("EveryView", CreateNewRowObject(values, lengths)));
    }

    static uint8_t GetColumnTypeByNameIndex(TableData *table, int index)
    {
        return static_cast<ColumnDefn *>(ElementAt(table->tableDefn->columns, index)->data)->type;
    }

    RowObject *row_ = nullptr;
};

TEST_F(RelvarPrintTest, TableRoutines)
{
    tamsel_test::LogCapture log(3);
    PrintTableData("everything");
    EXPECT_EQ(log.Messages("DEBUG"), std::string(kHeader) + kFullRow);
    /* One write per column name, per field and per line end. */
    EXPECT_EQ(log.Writes("DEBUG"), Pieces(std::string(kHeader) + kFullRow));

    char *text = ToStringTableData("Everything");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), std::string(kHeader) + kShortRow);
    free(text);
    EXPECT_EQ(ToStringTableData("Nowhere"), nullptr);
}

TEST_F(RelvarPrintTest, TextRoutinesTraceTheirText)
{
    tamsel_test::LogCapture log(4);
    char *text = ToStringTableData("Everything");
    ASSERT_NE(text, nullptr);
    free(text);
    std::vector<std::string> traces = log.Writes("TRACE");
    ASSERT_GE(traces.size(), 3u);
    EXPECT_EQ(traces.front(), "@@@ Inside ToStringTableData @@@\n");
    EXPECT_EQ(std::count(traces.begin(), traces.end(), "@@@ Inside GetTableDataByName @@@\n"), 1); /* one look-up */
    EXPECT_EQ(traces.back(), "String Value of Relvar Data\n " + std::string(kHeader) + kShortRow + "\n");
    EXPECT_EQ(log.Writes("DEBUG"), std::vector<std::string>{}); /* the text is not printed */
}

TEST_F(RelvarPrintTest, ResultRoutineSkipsDeletedRows)
{
    AddRow("Everything", {"1", "0", "0", "0", "0", "0", "x", "y", "z", "2000-01-01", "00:00:00",
                          "2000-01-01 00:00:00", "FALSE", "0", "2"});
    row_->state |= ROW_STATE_STORED;
    ASSERT_TRUE(DeleteRowObject("Everything", row_));
    ResultData *result = SelectRows("Everything", nullptr);
    ASSERT_EQ(result->rowCount, 2);
    tamsel_test::LogCapture log(3);
    PrintResultData(result);
    const std::string printed =
        std::string(kHeader) + "1\t0\t0\t0.000000\t0.000000\tx\ty\t2000-01-01\t00:00:00\t2000-01-01 00:00:00\t0\t2\t\n";
    EXPECT_EQ(log.Messages("DEBUG"), printed);
    EXPECT_EQ(log.Writes("DEBUG"), Pieces(printed));
    FreeResultData(result);
}

TEST_F(RelvarPrintTest, ViewRoutines)
{
    CreateView();
    tamsel_test::LogCapture log(3);
    PrintCustomViewData("EveryView");
    PrintTableData("EveryView"); /* hands views on */
    ResultData *result = SelectRows("EveryView", nullptr);
    PrintResultData(result);
    FreeResultData(result);
    std::string once = std::string(kHeader) + kShortRow;
    EXPECT_EQ(log.Messages("DEBUG"), once + once + once);
    EXPECT_EQ(log.Writes("DEBUG"), Pieces(once + once + once));

    char *text = ToStringCustomViewData("EveryView");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), once);
    free(text);
}

TEST_F(RelvarPrintTest, LongTextsGrowInsteadOfStopping)
{
    for (int i = 0; i < 40; i++)
        AddRow("Everything", {"1", "2", "3", "4", "5", "6", "seven", "eight", "nine", "2000-01-01", "00:00:00",
                              "2000-01-01 00:00:00", "TRUE", "0", "0"});
    char *text = ToStringTableData("Everything");
    ASSERT_NE(text, nullptr);
    std::string all(text);
    free(text);
    EXPECT_GT(all.size(), 1024u);
    size_t lines = 0;
    for (char c : all)
        lines += c == '\n';
    EXPECT_EQ(lines, 42u);
    const std::string last = "1\t2\t3\t5.000000\t6.000000\tseven\teight\t2000-01-01\t00:00:00\t"
                             "2000-01-01 00:00:00\t1\t0\t\n";
    ASSERT_GT(all.size(), last.size());
    EXPECT_EQ(all.substr(all.size() - last.size()), last);
}

} // namespace
