/* Test hooks of the POSIX stand-in. Not part of Win32; tests and benchmarks only. */
#pragma once
#include "winapi/winapi.h"

/* Only the stand-in has these hooks. */
#ifdef WINAPI_STANDIN
#ifdef __cplusplus
#include <vector>

namespace wa_test {

/* Sleep recorder: while on, Sleep(ms) appends ms to the record and returns at once. */
void RecordSleeps(bool on);
std::vector<DWORD> RecordedSleeps();
void ClearRecordedSleeps();

/* Whole reads of hive files by the registry in this process so far. */
unsigned long HiveFileReads();

}  // namespace wa_test
#endif
#endif
