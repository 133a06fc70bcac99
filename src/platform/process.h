/* Running an external program (an installer) with a time limit. */
#pragma once
#include "winapi/winapi.h"

/* Runs `commandLine` (program path first, searched for as a command line), in
 * `workingDirectory` when one is given (NULL or empty: the current directory), and
 * waits up to `minutes` (0: start it and do not wait). A program still running at
 * the limit is terminated and the result is WAIT_TIMEOUT (258). Otherwise the result
 * is the program's exit code, with 0, 1508, 1641 and 3010 folded to 0, or the system
 * error of the step that failed.
 *
 * `*remarks` receives a new heap string (free() it): the text of the result code, or
 * of the exit code as the program returned it. The previous value is not freed.
 * While the program runs, the working directory is the whole process's current
 * directory: two calls with working directories must not overlap. */
DWORD execute(const char *workingDirectory, const char *commandLine, char **remarks, int minutes, int show);

/* execute, and *exitCode (when given) receives the program's exit code as it
 * returned it, before folding (3010 stays 3010); STILL_ACTIVE (259) when no exit
 * code was read (the program did not start, was not waited for, or was
 * terminated at the limit). */
DWORD executeWithExitCode(const char *workingDirectory, const char *commandLine, char **remarks, int minutes,
                          int show, DWORD *exitCode);
