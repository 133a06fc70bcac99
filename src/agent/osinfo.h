/* Which Windows this is: family number, Vista test, human-readable name. */
#pragma once
#include "winapi/winapi.h"

/* 0 Windows 2000, 1 XP/2003 (also when unreadable), 2 Vista/2008, 3 later NT 6.x+,
 * -1 not NT or NT 4 and earlier. */
int GetOsFamily(void);
/* 1 for Vista and later (and, by the unsigned comparison, for family -1), else 0. */
int isVistaAndAbove(void);
/* New heap text owned by the caller, or null when the version cannot be read or,
 * without the extended record, the registry's product type cannot be read. */
char *GetOSName(void);
/* Static prefix text of an NT version ("Windows XP "...), "UnSupported" or null. */
const char *GetNTVersionPrefix(DWORD majorVersion, DWORD minorVersion);
