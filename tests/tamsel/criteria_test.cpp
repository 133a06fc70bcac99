/* The criteria language: what parses, how chains group, and what each comparison
 * selects for every column type. */
#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "tamsel/criteria.h"
#include "tamsel_support.h"
#include "util/locks.h"

namespace {

using tamsel_test::AddRow;
using tamsel_test::ColumnTexts;
using tamsel_test::DefineTable;

/* The tree as a fully parenthesised text. */
std::string Shape(const CriteriaNode *node)
{
    if (node == nullptr)
        return "<null>";
    if (node->columnName != nullptr) {
        static const char *ops[] = {"?", "<", ">", "<=", ">=", "=", "!=", "and", "or"};
        return std::string(node->columnName) + ops[node->op] + node->literal;
    }
    return "(" + Shape(node->left) + (node->op == CRITERIA_AND ? " and " : " or ") + Shape(node->right) + ")";
}

std::string ParsedShape(const char *criteria)
{
    CriteriaNode *tree = ParseCriteria(criteria);
    std::string shape = tree != nullptr ? Shape(tree) : "<refused>";
    FreeCriteria(tree);
    return shape;
}

TEST(CriteriaParseTest, AcceptedTexts)
{
    struct {
        const char *criteria;
        const char *shape;
    } cases[] = {
        {"PARAM_NAME='RESOURCE_ID'", "PARAM_NAME='RESOURCE_ID'"},
        {"a=1 and (b=2 or c=3)", "(a=1 and (b=2 or c=3))"},
        {"(a=1)", "a=1"},
        {"a = 1", "a=1"},
        {" \ta\t>=\t10 ", "a>=10"},
        {"5 < AGE", "AGE<5"}, /* the literal stays on the right, the operator unchanged */
        {"n = 1.5", "n=1.5"},
        {"a != 'x y'", "a!='x y'"},
        {"a<=''", "a<=''"},
        {"a='RESOURCE_ID9_x'", "a='RESOURCE_ID9_x'"},
        {"a='!\"#$%&()*+,-./:<=>?@[\\]^`{|}~ 09'", "a='!\"#$%&()*+,-./:<=>?@[\\]^`{|}~ 09'"},
        {"AND=1", "AND=1"}, /* keywords are lower case only */
        {"Or=1 or andy=2", "(Or=1 or andy=2)"},
        {"a=1\nb=2", "b=2"}, /* several lines: the last line's tree */
        {"((((a>1))))", "a>1"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ParsedShape(c.criteria), c.shape) << c.criteria;

    CriteriaNode *tree = ParseCriteria("PARAM_NAME='RESOURCE_ID'");
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->op, CRITERIA_EQ);
    EXPECT_EQ(tree->parent, nullptr);
    FreeCriteria(tree);
    tree = ParseCriteria("a=1 or b=2");
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->left->parent, tree);
    EXPECT_EQ(tree->right->parent, tree);
    FreeCriteria(tree);
}

TEST(CriteriaParseTest, RefusedTextsThenAValidOne)
{
    const char *refused[] = {
        "a=1 AND b=2", "a<>1", "", "   ", "a=", "a=1 and", "(a=1", "a=1)", "a=-1", "a='x;y'", "a='\ttab'",
        "a='_x'", "a='\xc3\xa9'", "_a=1", "a=1.", "a=.5", "a='open", "a=1 b=2", "a=1 and and b=2", "1=2",
        "a=b", "\x01", "a='it''s'", "a=1\n\nb=2", "a=1\n", "a==1", "a=!1", "()", "a=1 or", "a=1 \x80",
    };
    for (const char *criteria : refused) {
        EXPECT_EQ(ParsedShape(criteria), "<refused>") << criteria;
        /* Nothing of a failed parse is seen by the next one. */
        EXPECT_EQ(ParsedShape("a=1"), "a=1") << "after " << criteria;
    }
    EXPECT_EQ(ParseCriteria(nullptr), nullptr);
}

TEST(CriteriaParseTest, ChainsGroupToTheRight)
{
    /* Each row of values tells the right grouping from the left one. */
    struct {
        const char *chain;
        const char *rightGrouped;
        const char *leftGrouped;
        const char *a, *b, *c, *d;
    } cases[] = {
        {"a=1 or b=2 and c=3", "a=1 or (b=2 and c=3)", "(a=1 or b=2) and c=3", "1", "0", "0", "0"},
        {"a=1 and b=2 or c=3", "a=1 and (b=2 or c=3)", "(a=1 and b=2) or c=3", "0", "0", "3", "0"},
        {"a=1 and b=2 and c=3 or d=4", "a=1 and (b=2 and (c=3 or d=4))", "((a=1 and b=2) and c=3) or d=4",
         "0", "0", "0", "4"},
        {"a=1 or b=2 and c=3 or d=4", "a=1 or (b=2 and (c=3 or d=4))", "((a=1 or b=2) and c=3) or d=4", "1",
         "0", "0", "0"},
        {"a=1 and b=2 or c=3 and d=4", "a=1 and (b=2 or (c=3 and d=4))", "((a=1 and b=2) or c=3) and d=4",
         "0", "0", "3", "4"},
    };
    InitMutex();
    tamsel_test::ResetStore();
    ASSERT_TRUE(DefineTable("Chains", {{"a", KEL_SQL_INT}, {"b", KEL_SQL_INT}, {"c", KEL_SQL_INT}, {"d", KEL_SQL_INT}}));
    ASSERT_TRUE(CreateTable("Chains"));
    for (const auto &c : cases) {
        EXPECT_EQ(ParsedShape(c.chain), ParsedShape(c.rightGrouped)) << c.chain;
        EXPECT_NE(ParsedShape(c.chain), ParsedShape(c.leftGrouped)) << c.chain;
        RowObject *row = AddRow("Chains", {c.a, c.b, c.c, c.d});
        ASSERT_NE(row, nullptr);
        bool results[3];
        const char *forms[3] = {c.chain, c.rightGrouped, c.leftGrouped};
        for (int i = 0; i < 3; i++) {
            CriteriaNode *tree = ParseCriteria(forms[i]);
            ASSERT_NE(tree, nullptr) << forms[i];
            ResolveCriteriaColumns(GetTableDefn("Chains")->columns, tree);
            results[i] = EvaluateCriteria(row, tree);
            FreeCriteria(tree);
        }
        EXPECT_EQ(results[0], results[1]) << c.chain;
        EXPECT_NE(results[1], results[2]) << c.chain << ": the row does not tell the groupings apart";
    }
    /* a=1 or b=2 and c=3 is false for a=0, b=2, c=0. */
    RowObject *row = AddRow("Chains", {"0", "2", "0", "0"});
    CriteriaNode *tree = ParseCriteria("a=1 or b=2 and c=3");
    ResolveCriteriaColumns(GetTableDefn("Chains")->columns, tree);
    EXPECT_FALSE(EvaluateCriteria(row, tree));
    FreeCriteria(tree);
    tamsel_test::ResetStore();
}

TEST(CriteriaParseTest, DeepNestingStaysWithinTheStackOrFailsCleanly)
{
    InitMutex();
    auto nested = [](int depth) {
        return std::string(static_cast<size_t>(depth), '(') + "a=1" + std::string(static_cast<size_t>(depth), ')');
    };
    /* The stack holds at most 10,000 states. n parentheses around a comparison
     * need n + 5 at the deepest point: the start state, the (empty) list, one per
     * "(", then column, operator and literal. So 5,000 parentheses parse, 9,995
     * are the most that fit, and one more fails cleanly, as does any deeper text. */
    EXPECT_EQ(ParsedShape(nested(5000).c_str()), "a=1");
    EXPECT_EQ(ParsedShape(nested(9995).c_str()), "a=1");
    EXPECT_EQ(ParsedShape(nested(9996).c_str()), "<refused>");
    EXPECT_EQ(ParsedShape(nested(12000).c_str()), "<refused>");
    EXPECT_EQ(ParsedShape((std::string(50000, '(') + "a=1").c_str()), "<refused>");
    EXPECT_EQ(ParsedShape("a=1"), "a=1");
    /* A right-grouped chain of k comparisons needs 2k + 3 states: 4,998 fit
     * (9,999 states), 4,999 do not (10,001). */
    auto chainOf = [](int count) {
        std::string text = "a=1";
        for (int i = 1; i < count; i++)
            text += " and a=1";
        return text;
    };
    auto parses = [](const std::string &text) {
        CriteriaNode *tree = ParseCriteria(text.c_str());
        bool parsed = tree != nullptr;
        FreeCriteria(tree);
        return parsed;
    };
    EXPECT_TRUE(parses(chainOf(4998)));
    EXPECT_FALSE(parses(chainOf(4999)));
    EXPECT_EQ(ParsedShape(nested(20).c_str()), "a=1"); /* an overflow leaves nothing behind */

    /* A long right-grouped chain: a deep tree, evaluated and freed without recursion limits. */
    std::string chain = "a=1";
    for (int i = 0; i < 3000; i++)
        chain += " and a=1";
    Vector columns;
    InitVector(&columns, nullptr);
    ColumnDefn *column = CreateColumnDefn("a", KEL_SQL_INT, nullptr, 0, 0, nullptr, nullptr, 0, 1, nullptr);
    AppendData(&columns, column);
    int32_t one = 1;
    void *values[] = {&one};
    int32_t lengths[] = {4};
    RowObject row = {values, lengths, ROW_STATE_NEW, nullptr};
    for (const char *last : {" and a=1", " and a=2", " or a=2"}) {
        CriteriaNode *tree = ParseCriteria((chain + last).c_str());
        ASSERT_NE(tree, nullptr);
        ResolveCriteriaColumns(&columns, tree);
        /* The innermost comparison decides: true unless the chain ends in "and a=2". */
        EXPECT_EQ(EvaluateCriteria(&row, tree), strcmp(last, " and a=2") != 0) << last;
        FreeCriteria(tree);
    }
    FreeColumnDefn(column);
    FreeVector(&columns);
    for (int i = 0; i < 3000; i++)
        chain += " or a=1";
    EXPECT_EQ(ParsedShape(chain.c_str()), "<refused>"); /* beyond 10,000 states */
}

class CriteriaSelectTest : public tamsel_test::StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        ASSERT_TRUE(DefineTable("People", {{"ID", KEL_SQL_INT},
                                           {"NAME", KEL_SQL_SHORT_CHAR},
                                           {"AGE", KEL_SQL_INT},
                                           {"TINY", KEL_SQL_TINYINT},
                                           {"UTINY", KEL_SQL_UNSIGNED_TINYINT},
                                           {"SCORE", KEL_SQL_FLOAT},
                                           {"WEIGHT", KEL_SQL_DOUBLE},
                                           {"BORN", KEL_SQL_DATE},
                                           {"NOTES", KEL_SQL_TEXT},
                                           {"CODE", KEL_SQL_CHAR}}));
        ASSERT_TRUE(CreateTable("People"));
        ASSERT_NE(AddRow("People", {"1", "RESOURCE_ID", "9", "-1", "200", "1.5", "70.5", "2000-01-01", "n", "'q'"}), nullptr);
        ASSERT_NE(AddRow("People", {"2", "resource_id", "10", "5", "20", "2.25", "80", "2001-01-01", "n", "b"}), nullptr);
        ASSERT_NE(AddRow("People", {"3", nullptr, "11", "0", "0", "0.5", "90", "2002-01-01", "n", nullptr}), nullptr);
        ASSERT_NE(AddRow("People", {"4", "Zed", "0", "7", "255", "3", "0", "2003-01-01", "n", "a b"}), nullptr);
    }

    std::string Ids(const char *criteria)
    {
        ResultData *result = SelectRows("People", criteria);
        if (result == nullptr)
            return "<null>";
        std::string ids;
        for (const std::string &id : ColumnTexts(result, "ID"))
            ids += id;
        FreeResultData(result);
        return ids;
    }
};

TEST_F(CriteriaSelectTest, ComparisonsByColumnType)
{
    struct {
        const char *criteria;
        const char *ids;
    } cases[] = {
        {"NAME='RESOURCE_ID'", "1"}, /* case-sensitive text */
        {"name = 'resource_id'", "2"},
        {"NAME!='RESOURCE_ID'", "234"}, /* a NULL text is below every text */
        {"NAME<'a'", "134"},
        {"NAME<=''", "3"},
        {"NAME>'Z'", "24"},
        {"NAME=5", ""}, /* an unquoted literal loses its first and last character too */
        {"NAME>5", "124"},
        {"CODE=''q''", "<null>"},
        {"AGE >= 10", "23"},
        {"10 >= AGE", "23"}, /* not mirrored */
        {"5 < AGE", "4"},
        {"AGE < 5", "4"},
        {"AGE = 1.5", "4"}, /* converts to 0 */
        {"AGE = 'abc'", "4"},
        {"AGE != 9 and AGE != 0", "23"},
        {"TINY < 0", "1"}, /* signed one-byte */
        {"UTINY > 100", "14"}, /* unsigned one-byte */
        {"SCORE > 1.25", "124"},
        {"SCORE <= 0.5", "3"},
        {"SCORE < 99999999999999999999999999999999999999999", "1234"}, /* beyond the float range */
        {"WEIGHT = 80", ""}, /* DOUBLE, DATE and TEXT columns never match */
        {"WEIGHT != 80", ""},
        {"BORN = '2001-01-01'", ""},
        {"NOTES = 'n'", ""},
        {"MISSING = 1", ""},
        {"MISSING != 1", ""},
        {"ID = 1 or MISSING = 1", "1"},
        {"ID=1 or ID=2 and AGE=9", "1"},
        {"(ID=1 or ID=2) and AGE=10", "2"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Ids(c.criteria), c.ids) << c.criteria;
}

TEST_F(CriteriaSelectTest, IntegerLiteralsBeyondTheColumnTypeMatchNothing)
{
    ASSERT_TRUE(DefineTable("Wide", {{"ID", KEL_SQL_SHORT_CHAR}, {"X", KEL_SQL_INT}, {"U", KEL_SQL_UNSIGNED_INT},
                                     {"T", KEL_SQL_TINYINT}, {"UT", KEL_SQL_UNSIGNED_TINYINT},
                                     {"S", KEL_SQL_SMALLINT}, {"BIG", KEL_SQL_LONG_INT}}));
    ASSERT_TRUE(CreateTable("Wide"));
    ASSERT_NE(AddRow("Wide", {"a", "0", "0", "0", "0", "0", "0"}), nullptr);
    ASSERT_NE(AddRow("Wide", {"b", "-1", "4294967295", "-128", "255", "-32768", "1"}), nullptr);
    ASSERT_NE(AddRow("Wide", {"c", "2147483647", "7", "127", "1", "32767", "2"}), nullptr);
    auto ids = [](const char *criteria) {
        ResultData *result = SelectRows("Wide", criteria);
        if (result == nullptr)
            return std::string("<null>");
        std::string text;
        for (const std::string &id : ColumnTexts(result, "ID"))
            text += id;
        FreeResultData(result);
        return text;
    };
    struct {
        const char *criteria;
        const char *ids;
    } cases[] = {
        {"X = 4294967296", ""}, /* would wrap to 0 */
        {"X = 4294967295", ""}, /* would wrap to -1 */
        {"X != 4294967296", ""},
        {"X < 99999999999999999999999", ""},
        {"X = 2147483647", "c"},
        {"X = 2147483648", ""},
        {"U = 4294967295", "b"},
        {"U = 4294967296", ""},
        {"T = 127", "c"},
        {"T = 128", ""},
        {"T < 128", ""},
        {"UT = 255", "b"},
        {"UT = 256", ""},
        {"S = 32767", "c"},
        {"S = 32768", ""},
        {"X >= 0", "ac"},
        {"X = 4294967296 or ID = 'a'", "a"}, /* only that comparison is false */
        {"X = 'abc'", "a"},                  /* not an integer text: 0, as before */
        {"BIG = 99999999999999999999", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ids(c.criteria), c.ids) << c.criteria;

    tamsel_test::LogCapture log(4);
    EXPECT_EQ(ids("x = 4294967296 and ID = 'a'"), "");
    EXPECT_EQ(ids("BIG >= 18446744073709551616"), "");
    EXPECT_EQ(ids("U = 4294967295"), "b");
    EXPECT_EQ(log.Messages("DEBUG"),
              "Criteria literal 4294967296 does not fit the type of column x: no row matches\n"
              "Criteria literal 18446744073709551616 does not fit the type of column BIG: no row matches\n");
}

TEST_F(CriteriaSelectTest, BindingConvertsLiteralsAndEvaluatesNullTreeAsTrue)
{
    EXPECT_TRUE(EvaluateCriteria(GetTableDataByName("People")->firstRow, nullptr));
    /* NULL values: numeric comparisons are false (and the value is never read). */
    RowObject *empty = AddRow("People", {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr, nullptr});
    ASSERT_NE(empty, nullptr);
    for (const char *criteria : {"AGE != 1", "AGE = 0", "TINY < 1", "UTINY >= 0", "SCORE != 1.5"}) {
        CriteriaNode *numeric = ParseCriteria(criteria);
        ResolveCriteriaColumns(GetTableDefn("People")->columns, numeric);
        EXPECT_FALSE(EvaluateCriteria(empty, numeric)) << criteria;
        FreeCriteria(numeric);
    }

    CriteriaNode *tree = ParseCriteria("AGE >= 10 and NOTES = 'n' or Missing=1");
    ASSERT_NE(tree, nullptr);
    ResolveCriteriaColumns(GetTableDefn("People")->columns, tree);
    EXPECT_EQ(tree->left->columnIndex, 2);
    EXPECT_EQ(tree->left->columnType, KEL_SQL_INT);
    EXPECT_EQ(tree->right->left->columnIndex, 8);
    EXPECT_EQ(tree->right->right->columnType, 0);
    FreeCriteria(tree);

    struct {
        const char *text;
        uint8_t type;
        int length;
        std::vector<unsigned char> bytes;
    } conversions[] = {
        {"-2", KEL_SQL_TINYINT, 1, {0xFE}},
        {"+258", KEL_SQL_SMALLINT, 2, {0x02, 0x01}},
        {"12x", KEL_SQL_INT, 4, {0, 0, 0, 0}},
        {"true", KEL_SQL_BOOLEAN, 1, {1}},
        {"False", KEL_SQL_BOOLEAN, 1, {0}},
        {"abc", KEL_SQL_DECIMAL, 3, {'a', 'b', 'c'}},
        {"abc", KEL_SQL_CHAR, 3, {'a', 'b', 'c'}},
    };
    for (const auto &c : conversions) {
        int length = static_cast<int>(strlen(c.text));
        void *value = ConvertLiteral(c.text, &length, c.type);
        ASSERT_NE(value, nullptr) << c.text;
        EXPECT_EQ(length, c.length) << c.text;
        EXPECT_EQ(std::vector<unsigned char>(static_cast<unsigned char *>(value),
                                             static_cast<unsigned char *>(value) + length),
                  c.bytes)
            << c.text;
        free(value);
    }
    int length = 5;
    void *value = ConvertLiteral("-1.25", &length, KEL_SQL_FLOAT);
    EXPECT_EQ(length, 4);
    EXPECT_FLOAT_EQ(*static_cast<float *>(value), -1.25f);
    free(value);
    /* Beyond the float's range: infinite. */
    for (const char *huge : {"99999999999999999999999999999999999999999", "-99999999999999999999999999999999999999999"}) {
        length = static_cast<int>(strlen(huge));
        value = ConvertLiteral(huge, &length, KEL_SQL_FLOAT);
        ASSERT_NE(value, nullptr);
        EXPECT_TRUE(isinf(*static_cast<float *>(value))) << huge;
        EXPECT_EQ(*static_cast<float *>(value) < 0, huge[0] == '-') << huge;
        free(value);
    }
    length = 3;
    value = ConvertLiteral("0.5", &length, KEL_SQL_DOUBLE);
    EXPECT_EQ(length, 8);
    EXPECT_DOUBLE_EQ(*static_cast<double *>(value), 0.5);
    free(value);
    length = 3;
    EXPECT_EQ(ConvertLiteral("yes", &length, KEL_SQL_BOOLEAN), nullptr);
    EXPECT_EQ(ConvertLiteral("1", &length, 23), nullptr);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(ConvertLiteral(nullptr, &length, KEL_SQL_INT), nullptr);
}

} // namespace
