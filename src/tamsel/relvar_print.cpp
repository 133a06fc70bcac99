/* Printing relvars and result sets to the log, and relvars as text. Each routine
 * writes a header line of column names, then one line per row; which types show
 * a field depends on the routine. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "log/log.h"
#include "tamsel/kel_datetime.h"
#include "tamsel/relvar.h"
#include "util/strings.h"

namespace {

enum class Form {
    TablePrint,   /* PrintTableData */
    ViewPrint,    /* PrintCustomViewData and ToStringCustomViewData */
    ResultTable,  /* PrintResultData of a table's rows */
    ResultView,   /* PrintResultData of a view's rows */
    TableString,  /* ToStringTableData */
};

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

void AppendFormatted(std::string &out, const char *format, ...) VT_PRINTF_LIKE(2, 3);
void AppendFormatted(std::string &out, const char *format, ...)
{
    char buffer[512];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    if (length < 0)
        return;
    if (static_cast<size_t>(length) < sizeof buffer) {
        out.append(buffer, static_cast<size_t>(length));
        return;
    }
    std::string large(static_cast<size_t>(length) + 1, '\0');
    va_start(arguments, format);
    vsnprintf(&large[0], large.size(), format, arguments);
    va_end(arguments);
    large.resize(static_cast<size_t>(length));
    out += large;
}

void AppendText(std::string &out, char *text)
{
    out += text != nullptr ? text : "";
    out += '\t';
    free(text);
}

void AppendField(std::string &out, uint8_t type, const void *value, int32_t length, Form form)
{
    if (value == nullptr) {
        out += "NULL\t";
        return;
    }
    switch (type) {
    case KEL_SQL_TINYINT:
    case KEL_SQL_SMALLINT:
    case KEL_SQL_INT:
        AppendFormatted(out, "%d\t", ReadInteger(value, length, true));
        break;
    case KEL_SQL_UNSIGNED_TINYINT:
    case KEL_SQL_UNSIGNED_INT:
        AppendFormatted(out, "%d\t", ReadInteger(value, length, false));
        break;
    case KEL_SQL_LONG_INT:
        if (form == Form::TablePrint)
            AppendFormatted(out, "%d\t", ReadInteger(value, length, true));
        break;
    case KEL_SQL_FLOAT:
        AppendFormatted(out, "%f\t", static_cast<double>(ReadFloating<float>(value, length)));
        break;
    case KEL_SQL_DOUBLE:
        AppendFormatted(out, "%f\t", ReadFloating<double>(value, length));
        break;
    case KEL_SQL_CHAR:
    case KEL_SQL_SHORT_CHAR:
        AppendFormatted(out, "%s\t", static_cast<const char *>(value));
        break;
    case KEL_SQL_TEXT:
        if (form == Form::TablePrint)
            AppendFormatted(out, "%s\t", static_cast<const char *>(value));
        break;
    case KEL_SQL_DATE:
        AppendText(out, KelDateToString(static_cast<const KelDate *>(value)));
        break;
    case KEL_SQL_TIME:
        AppendText(out, KelTimeToString(static_cast<const KelTime *>(value)));
        break;
    case KEL_SQL_DATETIME:
        AppendText(out, KelDateTimeToString(static_cast<const KelDateTime *>(value)));
        break;
    case KEL_SQL_BOOLEAN:
        AppendFormatted(out, "%d\t", *static_cast<const unsigned char *>(value));
        break;
    default:
        break; /* not shown */
    }
}

uint8_t TypeOf(VectorNode *node, uint8_t kind)
{
    if (node == nullptr || node->data == nullptr)
        return 0;
    if (kind == RELVAR_VIEW) {
        const ColumnDefn *base = static_cast<ViewColumnDefn *>(node->data)->columnDefn;
        return base != nullptr ? base->type : 0;
    }
    return static_cast<ColumnDefn *>(node->data)->type;
}

const char *NameOf(VectorNode *node, uint8_t kind)
{
    if (node == nullptr || node->data == nullptr)
        return "";
    const char *name = kind == RELVAR_VIEW ? static_cast<ViewColumnDefn *>(node->data)->name
                                           : static_cast<ColumnDefn *>(node->data)->name;
    return name != nullptr ? name : "";
}

Vector *ColumnsOf(uint8_t kind, TableDefn *tableDefn, CustomViewDefn *viewDefn)
{
    if (kind == RELVAR_TABLE && tableDefn != nullptr)
        return tableDefn->columns;
    if (kind == RELVAR_VIEW && viewDefn != nullptr)
        return viewDefn->columns;
    return nullptr;
}

std::string HeaderLine(Vector *columns, uint8_t kind)
{
    std::string line;
    for (VectorNode *node = ElementAt(columns, 0); node != nullptr; node = node->next) {
        line += NameOf(node, kind);
        line += '\t';
    }
    line += '\n';
    return line;
}

std::string RowLine(const RowObject *row, Vector *columns, uint8_t kind, int columnCount, Form form)
{
    std::string line;
    int index = 0;
    for (VectorNode *node = ElementAt(columns, 0); node != nullptr && index < columnCount;
         node = node->next, index++)
        AppendField(line, TypeOf(node, kind), row->values[index], row->lengths[index], form);
    line += '\n';
    return line;
}

/* The whole text of a relvar: header, then every row; false when the relvar is
 * missing or has no columns. */
bool RelvarText(const char *name, Form form, std::string &text)
{
    TableData *relvar = GetTableDataByName(name);
    if (relvar == nullptr)
        return false;
    Vector *columns = ColumnsOf(relvar->kind, relvar->tableDefn, relvar->viewDefn);
    if (columns == nullptr || columns->count == 0)
        return false;
    text = HeaderLine(columns, relvar->kind);
    for (RowObject *row = relvar->firstRow; row != nullptr; row = row->next)
        text += RowLine(row, columns, relvar->kind, relvar->columnCount, form);
    return true;
}

/* Writes a text of complete lines to the log, one write per line. */
void LogLines(const std::string &text)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size() - 1;
        LogDebug("%s", text.substr(start, end - start + 1).c_str());
        start = end + 1;
    }
}

char *HeapCopy(const std::string &text)
{
    char *copy = static_cast<char *>(calloc(text.size() + 1, 1));
    if (copy != nullptr)
        memcpy(copy, text.data(), text.size());
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
    std::string text;
    if (RelvarText(name, Form::TablePrint, text))
        LogLines(text);
}

void PrintCustomViewData(const char *name)
{
    LogTrace("@@@ Inside PrintCustomViewData @@@\n");
    std::string text;
    if (RelvarText(name, Form::ViewPrint, text))
        LogLines(text);
}

void PrintResultData(ResultData *result)
{
    LogTrace("\t@@@@@ Inside PrintResultData() @@@@@\n");
    if (result == nullptr)
        return;
    Vector *columns = ColumnsOf(result->kind, result->tableDefn, result->viewDefn);
    if (columns == nullptr)
        return;
    Form form = result->kind == RELVAR_VIEW ? Form::ResultView : Form::ResultTable;
    std::string text = HeaderLine(columns, result->kind);
    for (ResultNode *node = result->firstNode; node != nullptr; node = node->next) {
        if (node->row == nullptr || (node->row->state & ROW_STATE_DELETED))
            continue;
        text += RowLine(node->row, columns, result->kind, result->columnCount, form);
    }
    LogLines(text);
}

char *ToStringTableData(const char *name)
{
    LogTrace("@@@ Inside ToStringTableData @@@\n");
    TableData *relvar = GetTableDataByName(name);
    std::string text;
    Form form = relvar != nullptr && relvar->kind == RELVAR_VIEW ? Form::ViewPrint : Form::TableString;
    if (!RelvarText(name, form, text))
        return nullptr;
    LogTrace("String Value of Relvar Data\n %s\n", text.c_str());
    return HeapCopy(text);
}

char *ToStringCustomViewData(const char *name)
{
    LogTrace("@@@ Inside ToStringCustomViewData @@@\n");
    std::string text;
    if (!RelvarText(name, Form::ViewPrint, text))
        return nullptr;
    LogTrace("String Value of Relvar Data\n %s\n", text.c_str());
    return HeapCopy(text);
}
