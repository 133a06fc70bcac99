/* Windows Installer database access of the stand-in (msi.dll): a package opened
 * read-only, a view on one of its tables, its rows as records and their string
 * fields, over libmsi.
 *
 * Installer handles are numbers of their own (MSIHANDLE), not kernel handles: they
 * are closed with MsiCloseHandle, never CloseHandle. A database stays open as long
 * as a view made on it is open. Texts are UTF-8 both ways, like the other narrow
 * texts of the stand-in.
 *
 * Only read-only access is offered: MsiOpenDatabaseA takes MSIDBOPEN_READONLY and
 * refuses every other persistence mode with ERROR_INVALID_PARAMETER. A file that is
 * missing, unreadable or not an Installer database gives ERROR_OPEN_FAILED.
 */
#pragma once
#include "winapi/wa_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned long MSIHANDLE;

/* Persistence modes of MsiOpenDatabaseA: small numbers passed in place of a path. */
#define MSIDBOPEN_READONLY ((LPCSTR)0)
#define MSIDBOPEN_TRANSACT ((LPCSTR)1)
#define MSIDBOPEN_DIRECT ((LPCSTR)2)
#define MSIDBOPEN_CREATE ((LPCSTR)3)
#define MSIDBOPEN_CREATEDIRECT ((LPCSTR)4)

#ifndef ERROR_INVALID_HANDLE
#define ERROR_INVALID_HANDLE 6L
#endif
#ifndef ERROR_OPEN_FAILED
#define ERROR_OPEN_FAILED 110L
#endif
#ifndef ERROR_INVALID_HANDLE_STATE
#define ERROR_INVALID_HANDLE_STATE 1609L
#endif
#ifndef ERROR_BAD_QUERY_SYNTAX
#define ERROR_BAD_QUERY_SYNTAX 1615L
#endif
#ifndef ERROR_INSTALL_PACKAGE_INVALID
#define ERROR_INSTALL_PACKAGE_INVALID 1620L
#endif
#ifndef ERROR_FUNCTION_FAILED
#define ERROR_FUNCTION_FAILED 1627L
#endif
#ifndef ERROR_CREATE_FAILED
#define ERROR_CREATE_FAILED 1631L
#endif

/* Opens the database file (a Windows path). ERROR_SUCCESS and *database, or
 * ERROR_INVALID_PARAMETER (no path, no handle pointer, another mode than
 * read-only) or ERROR_OPEN_FAILED. */
UINT WINAPI MsiOpenDatabaseA(LPCSTR databasePath, LPCSTR persist, MSIHANDLE *database);

/* Prepares a query ("SELECT `Property`, `Value` FROM `Property`") on an open
 * database. ERROR_SUCCESS and *view, ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER
 * or ERROR_BAD_QUERY_SYNTAX (also for a table the database does not have). */
UINT WINAPI MsiDatabaseOpenViewA(MSIHANDLE database, LPCSTR query, MSIHANDLE *view);

/* Runs the view's query; `parameters` must be 0 (no parameter markers). Executing
 * again starts the rows from the first. ERROR_SUCCESS, ERROR_INVALID_HANDLE or
 * ERROR_FUNCTION_FAILED. */
UINT WINAPI MsiViewExecute(MSIHANDLE view, MSIHANDLE parameters);

/* The next row as a new record handle. ERROR_NO_MORE_ITEMS after the last row (then
 * *record is 0), ERROR_FUNCTION_FAILED when the view was not executed,
 * ERROR_INVALID_HANDLE. */
UINT WINAPI MsiViewFetch(MSIHANDLE view, MSIHANDLE *record);

/* Field `field` of a record (1 is the first column) as text. *size holds the
 * buffer's size in characters; on ERROR_SUCCESS it becomes the length copied,
 * without the terminator. When the text does not fit, the buffer receives as much
 * as fits (terminated, when size is not 0), *size the length needed without the
 * terminator, and the result is ERROR_MORE_DATA. A null field, field 0 and a field
 * past the last one read as the empty text. ERROR_INVALID_HANDLE,
 * ERROR_INVALID_PARAMETER (no size pointer; a buffer is needed with a size). */
UINT WINAPI MsiRecordGetStringA(MSIHANDLE record, UINT field, LPSTR buffer, LPDWORD size);

/* Closes a database, view or record handle; 0 is accepted and does nothing.
 * ERROR_SUCCESS or ERROR_INVALID_HANDLE. */
UINT WINAPI MsiCloseHandle(MSIHANDLE handle);

#ifdef __cplusplus
}
#endif
