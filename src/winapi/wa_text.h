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

BOOL StrTrimA(LPSTR text, LPCSTR trimChars);
LPSTR StrStrIA(LPCSTR text, LPCSTR search);

#ifdef __cplusplus
}
#endif
