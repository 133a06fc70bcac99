/* Test hooks of the stand-in's processes. Not part of Win32; tests only. */
#pragma once
#include "winapi/winapi.h"

/* Only the stand-in has these hooks. */
#ifdef WINAPI_STANDIN
#ifdef __cplusplus
#include <string>
#include <vector>

namespace wa_test {

/* Divides the time-outs of waits on process handles by `scale` (a one-minute limit
 * with scale 60000 waits 1 ms). 0 goes back to the environment variable
 * WINAPI_WAIT_SCALE (unset or not a positive number: no scaling). */
void SetProcessWaitScale(DWORD scale);
/* The scale in force. */
DWORD ProcessWaitScale();

/* The arguments CreateProcessA derives from a command line: the program token
 * first, then the rest split by the Windows rules. */
std::vector<std::string> SplitCommandLine(const char *commandLine);

}  // namespace wa_test
#endif
#endif
