/* System error texts and text conversions (ANSI code page, UTF-8, UTF-16). */
#pragma once
#include "winapi/winapi.h"

/* One-line text for a Windows, installer or update code; new heap string. */
char *GetErrorText(DWORD code);
/* The installer/update table text; new heap string, "Unknown Error. Code : %d" for
 * codes without an entry. */
char *GetInstallerErrorText(DWORD code);

/* Conversions: false for a missing input (output untouched); otherwise the output
 * gets a new zero-filled buffer that the caller frees, also when false is returned. */
bool AnsiToWide(const char *text, WCHAR **wide);
bool Utf8ToWide(const char *text, WCHAR **wide);
bool WideToUtf8(const WCHAR *text, char **utf8);
bool AnsiToUtf8(const char *text, char **utf8);
