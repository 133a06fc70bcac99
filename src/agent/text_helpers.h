/* Small text helpers shared by the agent's settings modules (not exported). */
#pragma once
#include "winapi/winapi.h"

namespace vt_agent {

/* A new zero-filled heap copy of text (null for null or a failed allocation). */
char *NewText(const char *text);
/* Frees *target and stores replacement (which may be null). */
void ReplaceText(char **target, char *replacement);
/* Reads a REG_SZ value of HKEY_LOCAL_MACHINE\key into *target, freeing the old
 * text first; *target is null unless the read succeeded. Returns the status. */
LONG ReadText(const char *key, const char *name, char **target);
/* ASCII comparison without regard to case; false when either text is null. */
bool EqualsNoCase(const char *left, const char *right);
/* The C library's decimal conversion (leading blanks, a sign, then digits; 0
 * when there are none), saturated at the int range instead of overflowing. */
int DecimalValue(const char *text);

}  // namespace vt_agent
