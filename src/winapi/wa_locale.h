/* Locale information of the stand-in: GetLocaleInfoA for the ISO names of a locale
 * id, resolved through ICU's table of Windows locale ids. */
#pragma once
#include "winapi/wa_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef DWORD LCTYPE;

#define LOCALE_NOUSEROVERRIDE 0x80000000u
#define LOCALE_USE_CP_ACP 0x40000000u
#define LOCALE_RETURN_NUMBER 0x20000000u

#define LOCALE_SISO639LANGNAME 0x00000059
#define LOCALE_SISO3166CTRYNAME 0x0000005A

#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_NEUTRAL 0x0000
#define LOCALE_INVARIANT 0x007F

#ifndef MAKELCID
#define MAKELCID(lgid, srtid) ((DWORD)((((DWORD)((WORD)(srtid))) << 16) | ((DWORD)((WORD)(lgid)))))
#endif
#ifndef SORT_DEFAULT
#define SORT_DEFAULT 0x0
#endif

/* Writes the text (with its terminator) and returns its length in characters,
 * terminator included. data empty and size 0: returns the size needed. Failures
 * return 0: ERROR_INSUFFICIENT_BUFFER when the text does not fit (the buffer is then
 * undefined), ERROR_INVALID_FLAGS for an information type other than the two above,
 * ERROR_INVALID_PARAMETER for an unknown locale id or a negative size.
 * LOCALE_USER_DEFAULT and LOCALE_SYSTEM_DEFAULT stand for the machine's language
 * (value "Default" under SYSTEM\CurrentControlSet\Control\Nls\Language, else
 * "InstallLanguage", else 0409). */
int GetLocaleInfoA(LCID locale, LCTYPE type, LPSTR data, int size);

#ifdef __cplusplus
}
#endif
