/* Code pages, system message texts and the shlwapi string helpers of the stand-in. */
#pragma once
#include "winapi/wa_types.h"
#include <stdarg.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CP_ACP 0      /* the ANSI code page: Windows-1252 */
#define CP_OEMCP 1
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define WC_ERR_INVALID_CHARS 0x00000080

/* WCHAR is wchar_t, 4 bytes on POSIX hosts: the stand-in's "UTF-16" text holds one
 * code point per WCHAR, so a character beyond U+FFFF counts as one WCHAR here and
 * as two on Windows. A UTF-16 surrogate pair met in WCHAR text is joined again.
 *
 * Code pages: CP_UTF8, and single-byte code pages through the C library's iconv
 * (CP_ACP is Windows-1252, CP_OEMCP code page 437). Windows' size protocol: with
 * an output size of 0 the size needed is returned; a length of -1 takes the text
 * up to and including its terminator; too small an output fails with
 * ERROR_INSUFFICIENT_BUFFER. Invalid UTF-8 becomes U+FFFD, or fails with
 * ERROR_NO_UNICODE_TRANSLATION under MB_ERR_INVALID_CHARS. Characters a code page
 * lacks become the default character ('?', with *usedDefaultChar set), except
 * that Windows-1252 writes its best fit for those it has one for (U+0100 as 'A')
 * unless WC_NO_BEST_FIT_CHARS is given. */
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int dstLen);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst, int dstLen,
                        LPCSTR defaultChar, LPBOOL usedDefaultChar);

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF
#define LANG_USER_DEFAULT 0x0400

/* Messages come from our own table of the common system codes; a code that is not
 * in it fails with ERROR_MR_MID_NOT_FOUND. */
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                     DWORD size, va_list *arguments);

/* shlwapi. Case is compared for ASCII letters only. StrStrIA returns NULL for an
 * empty search text. */
BOOL StrTrimA(LPSTR text, LPCSTR trimChars);
LPSTR StrStrIA(LPCSTR text, LPCSTR search);

#ifdef __cplusplus
}
#endif
