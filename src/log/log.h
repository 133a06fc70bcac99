/* The one process-wide log file: levels, line layout, set-up and tear-down. */
#pragma once
#include <stdio.h>

#if defined(__GNUC__)
#define VT_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#else
#define VT_PRINTF_LIKE(f, a)
#endif

/* The log stream; empty means no log, and every write returns at once. */
extern FILE *gv_logFilePtr;

/* Level operations: "[INFO]" from level 1, "[ERROR]" from 2, "[DEBUG]" from 3,
 * "[TRACE]" from 4. */
void LogInfo(const char *format, ...) VT_PRINTF_LIKE(1, 2);
void LogError(const char *format, ...) VT_PRINTF_LIKE(1, 2);
void LogDebug(const char *format, ...) VT_PRINTF_LIKE(1, 2);
void LogTrace(const char *format, ...) VT_PRINTF_LIKE(1, 2);

bool InitLogDefaults(void);
bool SetLogParameters(const char *fileName, const char *directory, int level);
bool SetLogFileName(const char *fileName);
bool SetLogDirectory(const char *directory);
void SetLogLevel(int level);
bool OpenLogFile(void);
bool OpenLogFileAppend(void);
void CloseLogFile(void);
void ReleaseLogSettings(void);
bool SetLogFilePtr(FILE *stream);
char *GetTimeStamp(void);
int MakeDirectoryTree(const char *path);

/* The table store's root directory (set when the table store is started). */
void SetTamselRoot(const char *root);
const char *GetTamselRoot(void);
