/* Test hooks of the POSIX stand-in, which the Windows test programs have too
 * (WA_TEST_HOOKS: tests/support/windows_hooks.cpp). Not part of Win32; tests and
 * benchmarks only. */
#pragma once
#include "winapi/winapi.h"

#if defined(WINAPI_STANDIN) || defined(WA_TEST_HOOKS)
#ifdef __cplusplus
#include <vector>

namespace wa_test {

/* Sleep recorder: while on, Sleep(ms) appends ms to the record and returns at once. */
void RecordSleeps(bool on);
std::vector<DWORD> RecordedSleeps();
void ClearRecordedSleeps();

}  // namespace wa_test
#endif
#endif

/* Only the stand-in has this one. */
#if defined(WINAPI_STANDIN) && defined(__cplusplus)
namespace wa_test {

/* Whole reads of hive files by the registry in this process so far. */
unsigned long HiveFileReads();

}  // namespace wa_test
#endif
