/* GET downloads: the plain download of a whole body, and the throttled download
 * in byte ranges. Both land the body in a temporary file first and only copy a
 * complete transfer to the destination (DOWNLOAD_FILE) or read it into memory
 * (GET_DATA); the temporary file is deleted at the end. */
#pragma once
#include "winapi/winapi.h"

/* Result when in-memory data cannot be read back from the temporary file. */
#define RESULT_DATA_NOT_READ 6
/* Result of a transfer that ended before (or beyond) its Content-Length. */
#define RESULT_TRANSFER_INCOMPLETE ERROR_WINHTTP_CONNECTION_ERROR

/* One plain GET. destinationPath: DOWNLOAD_FILE target; output: GET_DATA receives
 * a new heap string. 0, 90001 (304), an HTTP status, 6, or a Windows error code. */
DWORD InternetGetRequestEx(bool useProxy, const char *protocol, const WCHAR *host, int port, const WCHAR *proxyHost,
                           const WCHAR *proxyBypass, const WCHAR *proxyUserName, const WCHAR *proxyPassword,
                           const WCHAR *objectPath, const WCHAR *destinationPath, char **output, int requestType,
                           bool keepAlive);

/* The same download spread over time: a HEAD for the size, then ranges of
 * gv_dataTransferRateKBps x 500 bytes, each taking at least 600 ms. The
 * keep-alive argument is not used (every request keeps the connection alive). */
DWORD InternetGetRequestByBitrate(bool useProxy, const char *protocol, const WCHAR *host, int port,
                                  const WCHAR *proxyHost, const WCHAR *proxyBypass, const WCHAR *proxyUserName,
                                  const WCHAR *proxyPassword, const WCHAR *objectPath, const WCHAR *destinationPath,
                                  char **output, int requestType, bool keepAlive);

/* Reads this thread's GET_DATA temporary file ("<TEMP>\vt<thread id>.tmp") into a
 * new heap string stored in *data, CR LF turned into LF. 1, or 0 when the file
 * cannot be opened. */
int LoadDatafromFile(char **data);
