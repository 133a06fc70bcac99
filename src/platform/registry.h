/* Registry access: the reads and writes every Part uses. Results are Windows
 * status codes (0 for success), 13 for a missing argument. */
#pragma once
#include "winapi/winapi.h"

/* The agent's own key under HKEY_LOCAL_MACHINE. */
#define VT_AGENT_KEY "Software\\Corvane\\Vantrel\\DAZered"

/* True when this 32-bit process runs on 64-bit Windows; read by the "64" writes. */
extern BOOL gv_isWow64;

LONG ReadRegistryDword(HKEY hive, const char *subKey, const char *valueName, DWORD *value);
LONG ReadRegistryString(HKEY hive, const char *subKey, const char *valueName, char **value);
/* ReadRegistryString for a text that names a file or folder: the text is in the
 * ANSI code page, in which this program hands paths to the system. A stored text
 * with a character the code page lacks cannot be named that way (its ANSI form
 * holds a stand-in character, which would name another folder or none):
 * ERROR_NO_UNICODE_TRANSLATION, and *value stays empty. */
LONG ReadRegistryPath(HKEY hive, const char *subKey, const char *valueName, char **value);
LONG CreateRegistryKey(HKEY hive, const char *subKey);
LONG CreateRegistryKey64(HKEY hive, const char *subKey);
LONG SetRegistryValue(HKEY hive, const char *subKey, const char *valueName, const char *valueText, DWORD type);
LONG SetRegistryValue64(HKEY hive, const char *subKey, const char *valueName, const char *valueText, DWORD type);
