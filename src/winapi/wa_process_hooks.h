/* Test hooks of the stand-in's processes. Not part of Win32; tests only. */
#pragma once
#include "winapi/winapi.h"

/* The stand-in has these hooks, and so do the Windows test programs (WA_TEST_HOOKS:
 * tests/support/windows_hooks.cpp). */
#if defined(WINAPI_STANDIN) || defined(WA_TEST_HOOKS)
#ifdef __cplusplus
namespace wa_test {

/* Divides the time-outs of waits on process handles by `scale` (a one-minute limit
 * with scale 60000 waits 1 ms). 0 goes back to the environment variable
 * WINAPI_WAIT_SCALE (unset or not a positive number: no scaling). */
void SetProcessWaitScale(DWORD scale);
/* The scale in force. */
DWORD ProcessWaitScale();

}  // namespace wa_test
#endif
#endif

/* Only the stand-in has this one. */
#if defined(WINAPI_STANDIN) && defined(__cplusplus)
#include <string>
#include <vector>

namespace wa_test {

/* The arguments CreateProcessA derives from a command line: the program token
 * first, then the rest split by the Windows rules. */
std::vector<std::string> SplitCommandLine(const char *commandLine);

}  // namespace wa_test
#endif
