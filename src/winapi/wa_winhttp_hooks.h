/*
 * Test hooks of the WinHTTP stand-in: fault injection for the failures a test
 * server cannot provoke (12032 resend, 12015 login failure, 12017 cancel, 12152
 * on the n-th receive), and the stand-in's body-buffer counters.
 * Not part of WinHTTP; tests and benchmarks only.
 */
#pragma once
#include "winapi/winapi.h"

/* The stand-in has these hooks, and so do the Windows test programs (WA_TEST_HOOKS:
 * tests/support/windows_hooks.cpp). */
#if defined(WINAPI_STANDIN) || defined(WA_TEST_HOOKS)
#ifdef __cplusplus
namespace wa_test {

/* The next `times` calls of the named function (e.g. "WinHttpSendRequest",
 * "WinHttpReceiveResponse") fail with `code` without doing anything: the call
 * returns FALSE (or NULL for the handle-returning functions) with `code` as the
 * last error. The calls after them run normally. Rules for the same function
 * queue up behind each other. */
void FailWinHttpCall(const char *function, DWORD code, int times = 1);

/* Only the n-th call (1-based, counted from now) of the named function fails
 * with `code`; the calls before and after it run normally. */
void FailWinHttpCallAt(const char *function, DWORD code, int n);

/* Removes every pending fault and restarts the call counters. */
void ResetWinHttpFaults();

/* Number of calls of the named function since the last reset (failed or not). */
int WinHttpCallCount(const char *function);

}  // namespace wa_test
#endif
#endif

/* Only the stand-in has these. */
#if defined(WINAPI_STANDIN) && defined(__cplusplus)
#include <stddef.h>

namespace wa_test {

/* Body bytes received from the network and not yet handed to the caller, summed
 * over all open requests, and the highest value it has reached since the last
 * ResetWinHttpBufferPeak(). A request holds at most kWinHttpBodyBufferLimit
 * unread bytes, or one delivery of curl's (16 KiB) if that is more. */
size_t WinHttpBufferedBytes();
size_t WinHttpBufferPeak();
void ResetWinHttpBufferPeak();

/* The stand-in pauses the transfer once a request holds this many unread body
 * bytes. */
constexpr size_t kWinHttpBodyBufferLimit = 64 * 1024;

}  // namespace wa_test
#endif
