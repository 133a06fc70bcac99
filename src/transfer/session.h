/* WinHTTP sessions and request handles for the GET and HEAD requests of the
 * downloads: one operation opens session, connection and request, applies the
 * headers and options, sends with a bounded resend policy and reads the status. */
#pragma once
#include "winapi/winapi.h"

/* requestMode values. */
#define REQUEST_MODE_GET 0    /* GET, If-Modified-Since when enabled */
#define REQUEST_MODE_RANGE 1  /* GET with the caller's extraHeader line */
#define REQUEST_MODE_HEAD 2   /* HEAD, If-Modified-Since when enabled */

/* One request; zero-initialised by the caller, who closes the three handles
 * (request, connection, session) whatever GetInternetRequestHandle returned. */
struct InternetRequestHandle {
    HINTERNET hSession;
    HINTERNET hConnect;
    HINTERNET hRequest;
    int requestMode;
    const WCHAR *extraHeader; /* borrowed; REQUEST_MODE_RANGE only */
    DWORD statusCode;         /* 0 until a status has been read */
};

/* 1: GET and HEAD requests carry If-Modified-Since and 200 answers record their
 * Last-Modified header. 0 at start; nothing in the agent turns it on. */
extern int gv_ifModifiedSinceEnabled;
/* The last Last-Modified text recorded (heap, or null). */
extern WCHAR *gv_lastModifiedTime;

/* For an embedding program that wants conditional downloads. Switching off keeps
 * the recorded text; ClearLastModifiedTime forgets it. Single-threaded use only. */
void SetIfModifiedSinceEnabled(int enabled);
void ClearLastModifiedTime(void);

/* Opens, sends and receives one request. Returns 0 when a response other than
 * 407 arrived (status in handle->statusCode), 407 when the proxy refused the
 * credentials, else the Windows error code of the failing step. The destination
 * path and output pointer are not used here; the callers pass them through. */
DWORD GetInternetRequestHandle(bool useProxy, const char *protocol, const WCHAR *host, int port,
                               const WCHAR *proxyHost, const WCHAR *proxyBypass, const WCHAR *proxyUserName,
                               const WCHAR *proxyPassword, const WCHAR *objectPath, const WCHAR *destinationPath,
                               char **output, int requestType, bool keepAlive, InternetRequestHandle *handle);

/* Stores a heap copy of the response's Last-Modified header in *stored (the old
 * text is freed). 0, or the Windows error code. */
DWORD GetFilelastmodifiedTime(InternetRequestHandle *handle, WCHAR **stored);

/* Closes the handles still held by the record, request first, then connection,
 * then session; a failed close is logged as "<caller> :  Error in WinHttpCloseHandle
 * <field> --> %d \n". */
void CloseRequestHandles(InternetRequestHandle *handle, const char *caller);
