/* The package download, tried again after failures that pass: a time-out, a
 * refused or reset connection, or a server that asks to come back (408, 429, 500,
 * 502, 503, 504). Each attempt is a whole AgentDownloadFile, with its walk over the
 * server's addresses. */
#pragma once
#include "winapi/winapi.h"

/* Attempts at most: the first and three more. */
#define DOWNLOAD_ATTEMPTS 4
/* The longest Retry-After (in seconds) that is waited for; a longer one gets the
 * usual pause. */
#define DOWNLOAD_RETRY_AFTER_MAX 60

/* True for the results worth another attempt (see above). */
bool IsTransientDownloadResult(DWORD result);

/* Seconds the last download answer of this thread asked for in its Retry-After
 * header (delta-seconds form only); -1 when it had none, or was a 200. Only the
 * first answer of a download (the GET, or the throttled download's HEAD) is read. */
long LastRetryAfterSeconds(void);

/* AgentDownloadFile, again after a transient result: pauses of 1, 2 and 4 seconds
 * (through Sleep), or the answer's Retry-After when it is at most 60 seconds. Every
 * pause is logged at INFO with the code and the attempt. Returns the result of the
 * last attempt: 0, the first non-transient result, or the transient one that was
 * left after the last attempt. */
DWORD AgentDownloadFileWithRetries(const char *url, const char *destinationPath, bool keepAlive);
