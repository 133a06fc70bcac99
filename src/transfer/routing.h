/* The one entry point through which the agent talks to its servers: choice of
 * server and address, URL rewriting for the product edition, and the hand-over
 * to the download and upload operations. */
#pragma once
#include "winapi/winapi.h"

/* Request types. Every type that is not one of the three POST types is sent as a GET. */
#define GET_DATA 11001         /* GET, body into memory */
#define POST_DATA 11002        /* POST, connect and receive time-outs from the settings */
#define DOWNLOAD_FILE 11003    /* GET, body into a file */
#define POST_DATA_PLAIN 11004  /* POST, WinHTTP default time-outs */
#define POST_MULTIPART 11005   /* POST, multipart/form-data, caller-given body size */

/* Download modes of the GET types. */
#define DOWNLOAD_MODE_PLAIN 0
#define DOWNLOAD_MODE_THROTTLED 1

/* The server answered 304 Not Modified. */
#define RESULT_NOT_MODIFIED 90001

/* Sends one request to the management server (toVTServer 1, or no distribution
 * server enabled) or to the distribution server, walking the target's addresses
 * when the last one that answered cannot be reached.
 *   url         server-relative path and query, ANSI code page
 *   buffer      DOWNLOAD_FILE: destination path; POST types: the body; GET_DATA: null
 *   output      GET_DATA: receives the data (free()); POST types: receives the answer
 *   bodySize    POST_MULTIPART only: bytes to send (0: the text length of buffer)
 * Returns 0, 90001, an HTTP status, a Windows error code, 6 when in-memory data
 * cannot be read back, or 12007 when no usable address was available. */
DWORD AgentSendRequest(const char *url, const char *buffer, char **output, int requestType, bool keepAlive,
                       BYTE toVTServer, DWORD bodySize, int downloadMode);

/* DOWNLOAD_FILE of url into destinationPath; throttled when a transfer rate is set. */
DWORD AgentDownloadFile(const char *url, const char *destinationPath, bool keepAlive);

/* GET_DATA of url from the management server into *output (a new heap string). */
DWORD AgentGetData(const char *url, char **output, bool keepAlive);
