/* The row set a database query hands back: columns, rows of cells, a cursor. */
#include <stdlib.h>
#include <string.h>

#include "log/log.h"
#include "tamsel/containers.h"
#include "tamsel/kel_datetime.h"
#include "tamsel/table_defn.h"
#include "util/strings.h"

QueryCell *AppendQueryCell(QueryCell *cells, int length, const char *bytes)
{
    QueryCell *cell = static_cast<QueryCell *>(calloc(1, sizeof(QueryCell)));
    if (cell == nullptr)
        return cells;
    if (bytes != nullptr && length >= 0) {
        cell->value = static_cast<char *>(calloc(static_cast<size_t>(length) + 1, 1));
        if (cell->value == nullptr) {
            free(cell);
            return cells;
        }
        memcpy(cell->value, bytes, static_cast<size_t>(length));
        cell->length = length;
    }
    if (cells == nullptr)
        return cell;
    QueryCell *last = cells;
    while (last->next != nullptr)
        last = last->next;
    last->next = cell;
    return cells;
}

QueryRow *AppendQueryRow(QueryRow *rows, QueryCell *cells)
{
    QueryRow *row = static_cast<QueryRow *>(calloc(1, sizeof(QueryRow)));
    if (row == nullptr)
        return rows;
    row->cells = cells;
    if (rows == nullptr)
        return row;
    QueryRow *last = rows;
    while (last->next != nullptr)
        last = last->next;
    last->next = row;
    return rows;
}

QueryResult *CreateQueryResult(QueryRow *rows, QueryColumn *columns, int columnCount)
{
    QueryResult *result = static_cast<QueryResult *>(calloc(1, sizeof(QueryResult)));
    if (result == nullptr)
        return nullptr;
    result->rows = rows;
    result->columns = columns;
    result->columnCount = columnCount;
    for (QueryRow *row = rows; row != nullptr; row = row->next)
        result->rowCount++;
    return result;
}

QueryRow *NextQueryRow(QueryResult *result)
{
    if (result == nullptr)
        return nullptr;
    result->cursor = result->cursor == nullptr ? result->rows : result->cursor->next;
    return result->cursor;
}

char *GetQueryValue(const char *columnName, int *length, QueryResult *result)
{
    if (result == nullptr || result->cursor == nullptr || columnName == nullptr)
        return nullptr;
    QueryCell *cell = result->cursor->cells;
    for (int i = 0; i < result->columnCount && cell != nullptr; i++, cell = cell->next) {
        if (CompareStringsNoCase(result->columns[i].name, columnName) == 0) {
            if (length != nullptr)
                *length = cell->length;
            return cell->value;
        }
    }
    return nullptr;
}

unsigned char GetQueryColumnType(const char *columnName, QueryResult *result)
{
    if (result == nullptr || columnName == nullptr)
        return 0;
    for (int i = 0; i < result->columnCount; i++) {
        if (CompareStringsNoCase(result->columns[i].name, columnName) == 0)
            return result->columns[i].type;
    }
    return 0;
}

char *GetQueryColumnName(int index, QueryResult *result)
{
    if (result == nullptr || index < 0 || index >= result->columnCount)
        return nullptr;
    return result->columns[index].name;
}

/* Each field is its own DEBUG write, and so is the line end after the header and
 * after each row. Date, time and date-time cells hold their text as the database
 * gave it; they are printed in the table store's text form. */
void PrintQueryResult(QueryResult *result)
{
    if (result == nullptr)
        return;
    for (int i = 0; i < result->columnCount; i++)
        LogDebug("%-s\t", result->columns[i].name != nullptr ? result->columns[i].name : "(null)");
    LogDebug("\n");
    for (QueryRow *row = result->rows; row != nullptr; row = row->next) {
        QueryCell *cell = row->cells;
        for (int i = 0; i < result->columnCount && cell != nullptr; i++, cell = cell->next) {
            unsigned char type = result->columns[i].type;
            if (type >= KEL_SQL_TINYINT && type <= KEL_SQL_DOUBLE) {
                if (cell->value == nullptr) {
                    LogDebug("NULL\t");
                    continue;
                }
                /* The cell holds at least its length in bytes: read no further. */
                int32_t value = 0;
                size_t width = cell->length < 4 ? static_cast<size_t>(cell->length) : 4u;
                memcpy(&value, cell->value, width);
                LogDebug("%-d\t", value);
            } else if (type >= KEL_SQL_DATE && type <= KEL_SQL_DATETIME && cell->value != nullptr) {
                KelDateTime *dateTime = ConvertStringToKelDateTime(cell->value);
                char *text = nullptr;
                if (dateTime != nullptr) {
                    if (type == KEL_SQL_DATE)
                        text = KelDateToString(KelDateTimeDate(dateTime));
                    else if (type == KEL_SQL_TIME)
                        text = KelTimeToString(KelDateTimeTime(dateTime));
                    else
                        text = KelDateTimeToString(dateTime);
                }
                LogDebug("%-s\t", text != nullptr ? text : cell->value);
                free(text);
                free(dateTime);
            } else {
                LogDebug("%-s\t", cell->value != nullptr ? cell->value : "(null)");
            }
        }
        LogDebug("\n");
    }
}

void FreeQueryCells(QueryCell *cells)
{
    while (cells != nullptr) {
        QueryCell *next = cells->next;
        free(cells->value);
        free(cells);
        cells = next;
    }
}

void FreeQueryRows(QueryRow *rows)
{
    while (rows != nullptr) {
        QueryRow *next = rows->next;
        FreeQueryCells(rows->cells);
        free(rows);
        rows = next;
    }
}

void FreeQueryColumns(QueryColumn *columns, int columnCount)
{
    if (columns == nullptr)
        return;
    for (int i = 0; i < columnCount; i++)
        free(columns[i].name);
    free(columns);
}

void FreeQueryResult(QueryResult *result)
{
    if (result == nullptr)
        return;
    FreeQueryRows(result->rows);
    FreeQueryColumns(result->columns, result->columnCount);
    free(result);
}
