/* The state behind the test hooks (wa_testhooks.h, wa_process_hooks.h,
 * wa_winhttp_hooks.h), shared by the stand-in's calls and the replacements the
 * Windows test programs put in their import table (tests/support/windows_hooks.cpp).
 * Nothing else includes it. */
#pragma once
#include "winapi/winapi.h"

namespace wa {

/* While the recorder is on: appends `milliseconds` to the record and returns true
 * (the caller does not sleep). Off: false. */
bool RecordSleep(DWORD milliseconds);

/* Counts a call of the named WinHTTP function and returns the error code an
 * injected fault gives it, or 0 when the call is to run normally. */
DWORD TakeWinHttpFault(const char *function);

}  // namespace wa
