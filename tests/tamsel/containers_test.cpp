/* Vector, hash table, sorted name list and query results. */
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <thread>
#include <vector>

#include "tamsel/containers.h"
#include "tamsel_support.h"
#include "util/locks.h"

namespace {

signed char CompareInts(VectorNode *newNode, VectorNode *existing)
{
    intptr_t a = reinterpret_cast<intptr_t>(newNode->data);
    intptr_t b = reinterpret_cast<intptr_t>(existing->data);
    return static_cast<signed char>(a > b ? 1 : (a < b ? -1 : 0));
}

void *Int(intptr_t value) { return reinterpret_cast<void *>(value); }

std::vector<intptr_t> Contents(Vector *vector)
{
    std::vector<intptr_t> values;
    for (int i = 0; i < vector->count; i++)
        values.push_back(reinterpret_cast<intptr_t>(ElementAt(vector, i)->data));
    return values;
}

/* count must match the chain and the tail must be its last node. */
void ExpectConsistent(Vector *vector)
{
    int walked = 0;
    VectorNode *last = nullptr;
    for (VectorNode *node = vector->head; node != nullptr; node = node->next, walked++)
        last = node;
    EXPECT_EQ(walked, vector->count);
    EXPECT_EQ(last, vector->tail);
}

class VectorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitMutex();
        InitVector(&vector_, nullptr);
    }
    void TearDown() override { FreeVector(&vector_); }
    Vector vector_;
};

TEST_F(VectorTest, SortedInsertOrdersAndRefusesDuplicates)
{
    InitVector(&vector_, CompareInts);
    for (intptr_t value : {5, 1, 3})
        ASSERT_TRUE(AppendData(&vector_, Int(value)));
    EXPECT_EQ(Contents(&vector_), (std::vector<intptr_t>{1, 3, 5}));
    EXPECT_FALSE(AppendData(&vector_, Int(3)));
    EXPECT_EQ(vector_.count, 3);

    /* A longer run in scrambled order lands sorted, every binary-search branch taken. */
    for (intptr_t value : {9, 0, 4, 7, 2, 8, 6})
        ASSERT_TRUE(AppendData(&vector_, Int(value)));
    EXPECT_EQ(Contents(&vector_), (std::vector<intptr_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    ExpectConsistent(&vector_);
    for (intptr_t value : {0, 9, 4})
        EXPECT_FALSE(AppendData(&vector_, Int(value)));
}

TEST_F(VectorTest, IndexOperationsAtBothEnds)
{
    for (intptr_t value : {10, 20, 30})
        AppendData(&vector_, Int(value));
    EXPECT_EQ(Contents(&vector_), (std::vector<intptr_t>{10, 20, 30}));
    EXPECT_EQ(ElementAt(&vector_, -1), nullptr);
    EXPECT_EQ(ElementAt(&vector_, 3), nullptr);

    ASSERT_TRUE(DeleteElementAt(&vector_, 2));
    AppendData(&vector_, Int(40));
    EXPECT_EQ(Contents(&vector_), (std::vector<intptr_t>{10, 20, 40}));

    VectorNode *front = static_cast<VectorNode *>(calloc(1, sizeof(VectorNode)));
    front->data = Int(5);
    ASSERT_TRUE(InsertElementAt(&vector_, front, 0));
    VectorNode *back = static_cast<VectorNode *>(calloc(1, sizeof(VectorNode)));
    back->data = Int(50);
    EXPECT_FALSE(InsertElementAt(&vector_, back, vector_.count + 1));
    ASSERT_TRUE(InsertElementAt(&vector_, back, vector_.count));
    EXPECT_EQ(vector_.tail, back);
    EXPECT_EQ(Contents(&vector_), (std::vector<intptr_t>{5, 10, 20, 40, 50}));

    ASSERT_TRUE(DeleteElementAt(&vector_, 0));
    ASSERT_TRUE(DeleteElementAt(&vector_, vector_.count - 1));
    EXPECT_FALSE(DeleteElementAt(&vector_, vector_.count));
    EXPECT_EQ(Contents(&vector_), (std::vector<intptr_t>{10, 20, 40}));
    ExpectConsistent(&vector_);

    while (vector_.count > 0)
        ASSERT_TRUE(DeleteElementAt(&vector_, 0));
    EXPECT_EQ(vector_.head, nullptr);
    EXPECT_EQ(vector_.tail, nullptr);
    EXPECT_FALSE(DeleteElementAt(&vector_, 0));
    AppendData(&vector_, Int(1));
    EXPECT_EQ(Contents(&vector_), (std::vector<intptr_t>{1}));
}

TEST_F(VectorTest, DeleteElementOfStrangerKeepsEverything)
{
    VectorNode stranger = {Int(99), nullptr};
    EXPECT_FALSE(DeleteElement(&vector_, &stranger));
    for (intptr_t value : {1, 2, 3})
        AppendData(&vector_, Int(value));
    EXPECT_TRUE(DeleteElement(&vector_, &stranger)); /* stack node: freeing it would crash */
    EXPECT_EQ(vector_.count, 3);

    EXPECT_TRUE(DeleteElement(&vector_, ElementAt(&vector_, 2)));
    EXPECT_EQ(Contents(&vector_), (std::vector<intptr_t>{1, 2}));
    ExpectConsistent(&vector_);

    EXPECT_TRUE(DeleteLCDVector(&vector_, Int(1)));
    EXPECT_FALSE(DeleteLCDVector(&vector_, Int(1)));
    EXPECT_EQ(Contents(&vector_), (std::vector<intptr_t>{2}));
}

TEST_F(VectorTest, CloneCopiesStringsAndMergeMovesNodes)
{
    char alpha[] = "alpha", beta[] = "beta";
    AppendData(&vector_, alpha);
    AppendData(&vector_, beta);
    Vector *clone = CloneVector(&vector_);
    ASSERT_NE(clone, nullptr);
    ASSERT_EQ(clone->count, 2);
    char *first = static_cast<char *>(ElementAt(clone, 0)->data);
    EXPECT_STREQ(first, "alpha");
    EXPECT_NE(first, alpha); /* a copy, not the same string */
    alpha[0] = 'A';
    EXPECT_STREQ(first, "alpha");
    EXPECT_STREQ(static_cast<char *>(ElementAt(clone, 1)->data), "beta");
    EXPECT_EQ(CloneVector(nullptr), nullptr);

    Vector target;
    InitVector(&target, nullptr);
    AppendData(&target, Int(7));
    EXPECT_EQ(MergeVector(&target, clone), 1);
    EXPECT_EQ(clone->count, 0);
    ASSERT_EQ(target.count, 3);
    EXPECT_EQ(ElementAt(&target, 1)->data, first);
    for (int i = 1; i < 3; i++)
        free(ElementAt(&target, i)->data);
    FreeVector(&target);
    free(clone);
}

/* Two threads adding to one vector: the vector's lock keeps every element and
 * the chain whole, sorted or not. */
TEST_F(VectorTest, TwoThreadsAddingLoseNothing)
{
    Vector sorted;
    InitVector(&sorted, CompareInts);
    auto adder = [this, &sorted](intptr_t first) {
        for (intptr_t i = 0; i < 400; i++) {
            AppendData(&vector_, Int(first + i));
            AppendData(&sorted, Int(2 * i + first));
        }
    };
    std::thread one(adder, 0), two(adder, 1);
    one.join();
    two.join();
    EXPECT_EQ(vector_.count, 800);
    ExpectConsistent(&vector_);
    ASSERT_EQ(sorted.count, 800);
    ExpectConsistent(&sorted);
    intptr_t expected = 0;
    for (VectorNode *node = ElementAt(&sorted, 0); node != nullptr; node = node->next)
        EXPECT_EQ(reinterpret_cast<intptr_t>(node->data), expected++);
    FreeVector(&sorted);
}

TEST(HashTableTest, PutReplaceRemoveAndChains)
{
    HashTable table;
    ASSERT_TRUE(HashInit(&table, 0));
    EXPECT_EQ(table.size, 10);
    int one = 1, two = 2, three = 3;

    /* "a" (97) and "k" (107) share bucket 7 of 10; "u" (117) too. */
    ASSERT_TRUE(HashPut(&table, "a", &one));
    ASSERT_TRUE(HashPut(&table, "k", &two));
    ASSERT_TRUE(HashPut(&table, "u", &three));
    EXPECT_EQ(HashCount(&table), 3);
    ASSERT_TRUE(HashPut(&table, "k", &three));
    EXPECT_EQ(HashCount(&table), 3);
    EXPECT_EQ(HashGet(&table, "k"), &three);

    /* Removing the bucket head keeps the chain behind it reachable. */
    ASSERT_TRUE(HashRemove(&table, "a"));
    EXPECT_FALSE(HashContains(&table, "a"));
    EXPECT_EQ(HashGet(&table, "k"), &three);
    EXPECT_EQ(HashGet(&table, "u"), &three);
    EXPECT_EQ(HashCount(&table), 2);
    EXPECT_FALSE(HashRemove(&table, "a"));
    ASSERT_TRUE(HashRemove(&table, "u"));
    ASSERT_TRUE(HashRemove(&table, "k"));
    EXPECT_EQ(HashCount(&table), 0);
    ASSERT_TRUE(HashPut(&table, "a", &one));
    EXPECT_EQ(HashGet(&table, "a"), &one);

    /* Keys are case-sensitive, and bytes above 127 stay inside the table. */
    EXPECT_FALSE(HashContains(&table, "A"));
    const char high[] = "\xff\xfe\x80 key";
    ASSERT_TRUE(HashPut(&table, high, &two));
    EXPECT_EQ(HashGet(&table, high), &two);

    HashEntry *entry = HashGetEntry(&table, "a");
    ASSERT_NE(entry, nullptr);
    entry->value = &three;
    EXPECT_EQ(HashGet(&table, "a"), &three);

    char **keys = HashKeys(&table);
    std::vector<std::string> names;
    for (char **key = keys; *key != nullptr; key++)
        names.push_back(*key);
    free(keys);
    EXPECT_EQ(names.size(), 2u);

    HashTable other;
    ASSERT_TRUE(HashInit(&other, 3));
    ASSERT_TRUE(HashPut(&other, "a", &one));
    ASSERT_TRUE(HashMerge(&table, &other));
    EXPECT_EQ(HashGet(&other, "a"), &one); /* the target's own value stays */
    EXPECT_EQ(HashGet(&other, high), &two);
    EXPECT_FALSE(HashMerge(nullptr, &other));
    HashFree(&other);
    HashFree(&table);
}

TEST(SortedListTest, FindsAnyCaseAndRefusesStrangers)
{
    char alpha[] = "Alpha", beta[] = "beta", gamma[] = "Gamma";
    char *list[] = {alpha, beta, gamma, nullptr};
    struct {
        const char *key;
        bool found;
    } cases[] = {{"BETA", true}, {"alpha", true}, {"gamma", true}, {"delta", false}, {"", false}, {"Aardvark", false}};
    for (const auto &c : cases)
        EXPECT_EQ(IsListContains(list, c.key), c.found) << c.key;
    char *empty[] = {nullptr};
    EXPECT_FALSE(IsListContains(empty, "Alpha"));
    EXPECT_FALSE(IsListContains(nullptr, "Alpha"));
}

TEST(QueryResultTest, CursorValuesAndTypes)
{
    QueryColumn *columns = static_cast<QueryColumn *>(calloc(2, sizeof(QueryColumn)));
    columns[0].name = strdup("SEQNAME");
    columns[0].type = 14;
    columns[1].name = strdup("CURRENTBATCHEND");
    columns[1].type = 5;
    int32_t batchEnd = 600;
    QueryCell *cells = AppendQueryCell(nullptr, 3, "seq");
    cells = AppendQueryCell(cells, 4, reinterpret_cast<const char *>(&batchEnd));
    QueryRow *rows = AppendQueryRow(nullptr, cells);
    rows = AppendQueryRow(rows, AppendQueryCell(AppendQueryCell(nullptr, 0, nullptr), 0, nullptr));
    QueryResult *result = CreateQueryResult(rows, columns, 2);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->rowCount, 2);

    int length = 0;
    EXPECT_EQ(GetQueryValue("SEQNAME", &length, result), nullptr); /* before the first step */
    ASSERT_NE(NextQueryRow(result), nullptr);
    char *value = GetQueryValue("currentbatchend", &length, result);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(*reinterpret_cast<int32_t *>(value), 600);
    EXPECT_EQ(GetQueryColumnType("SeqName", result), 14);
    EXPECT_EQ(GetQueryColumnType("missing", result), 0);
    EXPECT_STREQ(GetQueryColumnName(1, result), "CURRENTBATCHEND");
    EXPECT_EQ(GetQueryColumnName(2, result), nullptr);
    ASSERT_NE(NextQueryRow(result), nullptr);
    EXPECT_EQ(GetQueryValue("SEQNAME", &length, result), nullptr); /* database NULL */
    EXPECT_EQ(length, 0);
    EXPECT_EQ(NextQueryRow(result), nullptr);
    FreeQueryResult(result);

    QueryResult *empty = CreateQueryResult(nullptr, nullptr, 0);
    EXPECT_EQ(NextQueryRow(empty), nullptr);
    FreeQueryResult(empty);
}

TEST(QueryResultTest, PrintsEveryFieldAsItsOwnWrite)
{
    const struct {
        const char *name;
        unsigned char type;
    } layout[] = {{"SEQNAME", 14}, {"CURRENTBATCHEND", 5}, {"DAY", 16}, {"AT", 17}, {"STAMP", 18}};
    QueryColumn *columns = static_cast<QueryColumn *>(calloc(5, sizeof(QueryColumn)));
    for (int i = 0; i < 5; i++) {
        columns[i].name = strdup(layout[i].name);
        columns[i].type = layout[i].type;
    }
    int32_t batchEnd = -600;
    QueryCell *cells = AppendQueryCell(nullptr, 3, "seq");
    cells = AppendQueryCell(cells, 4, reinterpret_cast<const char *>(&batchEnd));
    cells = AppendQueryCell(cells, 10, "2024-05-06");
    cells = AppendQueryCell(cells, 4, "9:05");
    cells = AppendQueryCell(cells, 10, "2024-05-06");
    QueryRow *rows = AppendQueryRow(nullptr, cells);
    QueryCell *nulls = nullptr;
    for (int i = 0; i < 5; i++)
        nulls = AppendQueryCell(nulls, 0, nullptr);
    rows = AppendQueryRow(rows, nulls);
    QueryResult *result = CreateQueryResult(rows, columns, 5);
    ASSERT_NE(result, nullptr);

    tamsel_test::LogCapture log(3);
    PrintQueryResult(result);
    EXPECT_EQ(log.Messages("DEBUG"), "SEQNAME\tCURRENTBATCHEND\tDAY\tAT\tSTAMP\t\n"
                                     "seq\t-600\t2024-05-06\t09:05:00\t2024-05-06 00:00:00\t\n"
                                     "(null)\tNULL\t(null)\t(null)\t(null)\t\n");
    /* Header: five names and the line end; each row: five cells and the line end. */
    EXPECT_EQ(log.Writes("DEBUG").size(), 18u);
    FreeQueryResult(result);
}

} // namespace
