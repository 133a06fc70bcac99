/* Two threads adding and selecting rows on their own relvars at the same time. */
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tamsel/relvar.h"
#include "tamsel_support.h"

namespace {

using tamsel_test::DefineTable;

class ConcurrencyTest : public tamsel_test::StoreTest {};

/* Adds `rows` rows to the relvar, selecting from it with a criteria now and then;
 * returns the number of selections that saw fewer rows than had been added. */
int Work(const char *relvar, int rows)
{
    int short_ = 0;
    for (int i = 0; i < rows; i++) {
        std::string key = std::to_string(i);
        if (tamsel_test::AddRow(relvar, {key.c_str(), "'x'"}) == nullptr)
            return -1;
        if (i % 50 == 0) {
            ResultData *result = SelectRows(relvar, "K >= 0 and NAME != 'y'");
            if (result == nullptr || result->rowCount != i + 1)
                short_++;
            FreeResultData(result);
        }
    }
    return short_;
}

TEST_F(ConcurrencyTest, NoRowLostOnDifferentRelvars)
{
    const int rows = 2000;
    for (const char *name : {"Left", "Right"}) {
        ASSERT_TRUE(DefineTable(name, {{"K", KEL_SQL_INT}, {"NAME", KEL_SQL_SHORT_CHAR}}));
        ASSERT_TRUE(CreateTable(name));
    }
    int leftShort = 0, rightShort = 0;
    std::thread left([&] { leftShort = Work("Left", rows); });
    std::thread right([&] { rightShort = Work("Right", rows); });
    left.join();
    right.join();
    EXPECT_EQ(leftShort, 0);
    EXPECT_EQ(rightShort, 0);
    for (const char *name : {"Left", "Right"}) {
        TableData *relvar = GetTableDataByName(name);
        EXPECT_EQ(relvar->rowCount, rows);
        int chained = 0;
        for (RowObject *row = relvar->firstRow; row != nullptr; row = row->next)
            chained++;
        EXPECT_EQ(chained, rows) << name;
        ResultData *result = SelectRows(name, "K < 1000");
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(result->rowCount, 1000) << name;
        FreeResultData(result);
    }
}

TEST_F(ConcurrencyTest, SameNameCreatedOnce)
{
    const int tables = 50;
    std::vector<std::string> names;
    for (int i = 0; i < tables; i++) {
        names.push_back("Table" + std::to_string(i));
        ASSERT_TRUE(DefineTable(names.back().c_str(), {{"K", KEL_SQL_INT}}));
    }
    int created[2] = {0, 0};
    auto create = [&](int slot) {
        for (const std::string &name : names)
            created[slot] += CreateTable(name.c_str()) ? 1 : 0;
    };
    std::thread first(create, 0);
    std::thread second(create, 1);
    first.join();
    second.join();
    EXPECT_EQ(created[0] + created[1], tables);
    EXPECT_EQ(gv_tableDataVect.count, tables);
}

} // namespace
