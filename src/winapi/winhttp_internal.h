/* Shared between the WinHTTP stand-in and its test hooks; nothing else includes it. */
#pragma once
#include "winapi/wa_hook_state.h"
#include "winapi/wa_types.h"

#include <stddef.h>

namespace wa {

/* Keeps the body-buffer counters of the hooks up to date (delta in bytes). */
void NoteWinHttpBuffered(long long delta);

}  // namespace wa
