/* Uploads: one POST of a body to the management or distribution server, with
 * the server's answer handed back when the caller asks for it. */
#pragma once
#include "winapi/winapi.h"

/* Posts body (bodySize bytes for POST_MULTIPART when not 0, else its text length).
 * answer: null, or receives a new zero-filled buffer holding the answer body.
 * Returns 0 for a 200 answer, 407 when the proxy refused the credentials, any
 * other HTTP status, 13 for a null body (nothing is sent), or a Windows error. */
DWORD InternetSendRequestEx(bool useProxy, const char *protocol, const WCHAR *host, int port, const WCHAR *proxyHost,
                            const WCHAR *proxyBypass, const WCHAR *proxyUserName, const WCHAR *proxyPassword,
                            const WCHAR *objectPath, const char *body, char **answer, int requestType,
                            bool keepAlive, DWORD bodySize);
