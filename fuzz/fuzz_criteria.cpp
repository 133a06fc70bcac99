/* Fuzz target of the criteria language: any byte sequence is scanned and parsed;
 * an accepted tree is bound to a small table and evaluated against one row. */
// links: vt_tamsel
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "tamsel/criteria.h"
#include "tamsel/relvar.h"
#include "tamsel/table_defn.h"

namespace {

/* Columns of every comparison family: signed, unsigned, float, text, other. */
Vector *FuzzColumns()
{
    static Vector *columns = [] {
        Vector *vector = NewVector();
        const struct {
            const char *name;
            uint8_t type;
        } kinds[] = {{"a", KEL_SQL_INT}, {"b", KEL_SQL_UNSIGNED_TINYINT}, {"c", KEL_SQL_FLOAT},
                     {"d", KEL_SQL_SHORT_CHAR}, {"e", KEL_SQL_DOUBLE}, {"f", KEL_SQL_SMALLINT}};
        for (const auto &kind : kinds)
            AppendData(vector, CreateColumnDefn(kind.name, kind.type, nullptr, 0, 0, nullptr, nullptr, 0, 1, nullptr));
        return vector;
    }();
    return columns;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.c_str(); /* a criteria is a zero-terminated text */
    CriteriaNode *tree = ParseCriteria(text.c_str());
    if (tree == nullptr)
        return 0;
    ResolveCriteriaColumns(FuzzColumns(), tree);
    int32_t a = 7;
    uint8_t b = 200;
    float c = 1.5f;
    char d[] = "text";
    double e = 2.0;
    int16_t f = -3;
    void *values[] = {&a, &b, &c, d, &e, &f};
    int32_t lengths[] = {4, 1, 4, 4, 8, 2};
    RowObject row = {values, lengths, ROW_STATE_NEW, nullptr};
    EvaluateCriteria(&row, tree);
    void *noValues[] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    int32_t noLengths[] = {0, 0, 0, 0, 0, 0};
    RowObject nulls = {noValues, noLengths, ROW_STATE_NEW, nullptr};
    EvaluateCriteria(&nulls, tree);
    FreeCriteria(tree);
    return 0;
}
