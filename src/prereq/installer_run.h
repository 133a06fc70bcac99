/* Running msiexec on the Reader base package: again while another installation
 * holds the Windows Installer (1618), and a plain notice when the computer must be
 * restarted to complete it (3010, 1641). */
#pragma once
#include "winapi/winapi.h"

/* msiexec answered "another installation is already in progress". */
#define MSIEXEC_INSTALL_ALREADY_RUNNING 1618
/* Runs at most: the first and three more. */
#define MSIEXEC_RUNS 4

/* Runs `commandLine` in `workingDirectory` through execute within `minutes` in all.
 * After a 1618 it waits 30, 60, then 90 seconds (Sleep, logged at INFO) and runs it
 * again, as long as a whole minute is left for the next run; when it gives up, an
 * ERROR line says why. After a 3010 or 1641 one INFO line and one line on standard
 * output say that the installation needs a restart, with the code. Returns
 * execute's folded status of the last run. */
DWORD RunReaderInstaller(const char *workingDirectory, const char *commandLine, int minutes);
