/* Test hooks of the POSIX stand-in. Not part of Win32; tests and benchmarks only. */
#pragma once
#include "winapi/wa_types.h"

#ifndef _WIN32
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
