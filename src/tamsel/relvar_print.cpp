/* Printing relvars and result sets to the log, and relvars as text. Each routine
 * writes a header line of column names, then one line per row; which types show
 * a field depends on the routine. The log routines write each column name, each
 * field and each line end as a log write of its own. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "log/log.h"
#include "tamsel/kel_datetime.h"
#include "tamsel/relvar.h"
#include "tamsel/tamsel_private.h"
#include "util/strings.h"

using tamsel_private::ColumnsOf;

namespace {

/* A stored integer as a 32-bit number; shorter stored values are read at their
 * own width and never past it. */
int32_t ReadInteger(const void *value, int32_t length, bool isSigned)
{
    if (length >= 4) {
        int32_t v;
        memcpy(&v, value, 4);
        return v;
    }
    if (length >= 2) {
        uint16_t v;
        memcpy(&v, value, 2);
        return isSigned ? static_cast<int16_t>(v) : static_cast<int32_t>(v);
    }
    if (length == 1) {
        uint8_t v;
        memcpy(&v, value, 1);
        return isSigned ? static_cast<int8_t>(v) : static_cast<int32_t>(v);
    }
    return 0;
}

template <typename T> T ReadFloating(const void *value, int32_t length)
{
    T v = 0;
    if (length >= static_cast<int32_t>(sizeof(T)))
        memcpy(&v, value, sizeof(T));
    return v;
}

/* Where a routine's text goes: into a string, or to the log at DEBUG with one
 * write per column name, per field and per line end. */
class Output {
public:
    explicit Output(std::string *text) : text_(text) {}
    void Put(const std::string &piece)
    {
        if (text_ != nullptr)
            *text_ += piece;
        else
            LogDebug("%s", piece.c_str());
    }

private:
    std::string *text_;
};

std::string Formatted(const char *format, ...) VT_PRINTF_LIKE(1, 2);
std::string Formatted(const char *format, ...)
{
    char buffer[512];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    if (length < 0)
        return std::string();
    if (static_cast<size_t>(length) < sizeof buffer)
        return std::string(buffer, static_cast<size_t>(length));
    std::string large(static_cast<size_t>(length) + 1, '\0');
    va_start(arguments, format);
    vsnprintf(&large[0], large.size(), format, arguments);
    va_end(arguments);
    large.resize(static_cast<size_t>(length));
    return large;
}

/* A date or time text made for printing, as "%s\t" shows it; the text is freed. */
std::string TextField(char *text)
{
    std::string field = text != nullptr ? text : "(null)";
    field += '\t';
    free(text);
    return field;
}

/* Only PrintTableData (allTypes) shows 64-bit integer and TEXT fields; the other
 * routines leave them out. */
void PutField(Output &out, uint8_t type, const void *value, int32_t length, bool allTypes)
{
    if (value == nullptr) {
        out.Put("NULL\t");
        return;
    }
    switch (type) {
    case KEL_SQL_TINYINT:
    case KEL_SQL_SMALLINT:
    case KEL_SQL_INT:
        out.Put(Formatted("%d\t", ReadInteger(value, length, true)));
        break;
    case KEL_SQL_UNSIGNED_TINYINT:
    case KEL_SQL_UNSIGNED_INT:
        out.Put(Formatted("%d\t", ReadInteger(value, length, false)));
        break;
    case KEL_SQL_LONG_INT:
        if (allTypes)
            out.Put(Formatted("%d\t", ReadInteger(value, length, true)));
        break;
    case KEL_SQL_FLOAT:
        out.Put(Formatted("%f\t", static_cast<double>(ReadFloating<float>(value, length))));
        break;
    case KEL_SQL_DOUBLE:
        out.Put(Formatted("%f\t", ReadFloating<double>(value, length)));
        break;
    case KEL_SQL_CHAR:
    case KEL_SQL_SHORT_CHAR:
        out.Put(Formatted("%s\t", static_cast<const char *>(value)));
        break;
    case KEL_SQL_TEXT:
        if (allTypes)
            out.Put(Formatted("%s\t", static_cast<const char *>(value)));
        break;
    case KEL_SQL_DATE:
        out.Put(TextField(KelDateToString(static_cast<const KelDate *>(value))));
        break;
    case KEL_SQL_TIME:
        out.Put(TextField(KelTimeToString(static_cast<const KelTime *>(value))));
        break;
    case KEL_SQL_DATETIME:
        out.Put(TextField(KelDateTimeToString(static_cast<const KelDateTime *>(value))));
        break;
    case KEL_SQL_BOOLEAN:
        out.Put(Formatted("%d\t", *static_cast<const unsigned char *>(value)));
        break;
    default:
        break; /* not shown */
    }
}

uint8_t TypeOf(VectorNode *node, uint8_t kind)
{
    const ColumnDefn *column = tamsel_private::ColumnAt(node, kind);
    return column != nullptr ? column->type : 0;
}

const char *NameOf(VectorNode *node, uint8_t kind)
{
    const char *name = tamsel_private::ColumnNameAt(node, kind);
    return name != nullptr ? name : "";
}

void PutHeader(Output &out, Vector *columns, uint8_t kind)
{
    for (VectorNode *node = ElementAt(columns, 0); node != nullptr; node = node->next)
        out.Put(Formatted("%s\t", NameOf(node, kind)));
    out.Put("\n");
}

void PutRow(Output &out, const RowObject *row, Vector *columns, uint8_t kind, int columnCount, bool allTypes)
{
    int index = 0;
    for (VectorNode *node = ElementAt(columns, 0); node != nullptr && index < columnCount;
         node = node->next, index++)
        PutField(out, TypeOf(node, kind), row->values[index], row->lengths[index], allTypes);
    out.Put("\n");
}

/* The header and every row of a relvar; false when it has no columns. */
bool PutRelvar(Output &out, const TableData *relvar, bool allTypes)
{
    Vector *columns = ColumnsOf(relvar->kind, relvar->tableDefn, relvar->viewDefn);
    if (columns == nullptr || columns->count == 0)
        return false;
    PutHeader(out, columns, relvar->kind);
    for (RowObject *row = relvar->firstRow; row != nullptr; row = row->next)
        PutRow(out, row, columns, relvar->kind, relvar->columnCount, allTypes);
    return true;
}

/* The text of a relvar as a new heap string, logged at TRACE; null when the relvar
 * is missing or has no columns. */
char *RelvarString(const char *name)
{
    TableData *relvar = GetTableDataByName(name);
    if (relvar == nullptr)
        return nullptr;
    std::string text;
    Output out(&text);
    if (!PutRelvar(out, relvar, false))
        return nullptr;
    LogTrace("String Value of Relvar Data\n %s\n", text.c_str());
    char *copy = nullptr;
    DuplicateString(&copy, text.c_str());
    return copy;
}

} // namespace

void PrintTableData(const char *name)
{
    LogTrace("@@@ Inside PrintTableData @@@\n");
    TableData *relvar = GetTableDataByName(name);
    if (relvar == nullptr)
        return;
    if (relvar->kind == RELVAR_VIEW) {
        PrintCustomViewData(name);
        return;
    }
    Output log(nullptr);
    PutRelvar(log, relvar, true);
}

void PrintCustomViewData(const char *name)
{
    LogTrace("@@@ Inside PrintCustomViewData @@@\n");
    TableData *relvar = GetTableDataByName(name);
    if (relvar == nullptr)
        return;
    Output log(nullptr);
    PutRelvar(log, relvar, false);
}

void PrintResultData(ResultData *result)
{
    LogTrace("\t@@@@@ Inside PrintResultData() @@@@@\n");
    if (result == nullptr)
        return;
    Vector *columns = ColumnsOf(result->kind, result->tableDefn, result->viewDefn);
    if (columns == nullptr)
        return;
    Output log(nullptr);
    PutHeader(log, columns, result->kind);
    for (ResultNode *node = result->firstNode; node != nullptr; node = node->next) {
        if (node->row == nullptr || (node->row->state & ROW_STATE_DELETED))
            continue;
        PutRow(log, node->row, columns, result->kind, result->columnCount, false);
    }
}

char *ToStringResultData(ResultData *result)
{
    LogTrace("\t@@@@@ Inside ToStringResultData() @@@@@\n");
    Vector *columns = result != nullptr ? ColumnsOf(result->kind, result->tableDefn, result->viewDefn) : nullptr;
    if (columns == nullptr)
        return nullptr;
    std::string text;
    Output out(&text);
    PutHeader(out, columns, result->kind);
    for (ResultNode *node = result->firstNode; node != nullptr; node = node->next) {
        if (node->row != nullptr && !(node->row->state & ROW_STATE_DELETED))
            PutRow(out, node->row, columns, result->kind, result->columnCount, false);
    }
    char *copy = nullptr;
    DuplicateString(&copy, text.c_str());
    return copy;
}

char *ToStringTableData(const char *name)
{
    LogTrace("@@@ Inside ToStringTableData @@@\n");
    return RelvarString(name);
}

char *ToStringCustomViewData(const char *name)
{
    LogTrace("@@@ Inside ToStringCustomViewData @@@\n");
    return RelvarString(name);
}
