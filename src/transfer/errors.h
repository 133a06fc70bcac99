/* Explanations of WinHTTP and WinINet error codes for the transfer log. */
#pragma once
#include "winapi/winapi.h"

/* Writes the explanation of a WinHTTP/WinINet code as one ERROR line; codes
 * without an entry (file errors among them) write nothing. */
void HttpGetLastError(DWORD code);

/* The explanation logged for a code, or null when the code has none. */
const char *HttpErrorText(DWORD code);
