/* Shared between the WinHTTP stand-in and its test hooks; nothing else includes it. */
#pragma once
#include "winapi/wa_types.h"

#include <stddef.h>

namespace wa {

/* Counts a call of the named WinHTTP function and returns the error code an
 * injected fault gives it, or 0 when the call is to run normally. */
DWORD TakeWinHttpFault(const char *function);

/* Keeps the body-buffer counters of the hooks up to date (delta in bytes). */
void NoteWinHttpBuffered(long long delta);

}  // namespace wa
