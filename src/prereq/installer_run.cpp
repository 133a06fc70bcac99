#include "prereq/installer_run.h"

#include "log/log.h"
#include "platform/process.h"

#include <stdio.h>
#include <stdlib.h>

namespace {

/* Pause before the second, third and fourth run. */
const DWORD kBusyPauseMs[MSIEXEC_RUNS - 1] = {30000, 60000, 90000};

}  // namespace

DWORD RunReaderInstaller(const char *workingDirectory, const char *commandLine, int minutes) {
    const unsigned long long limitMs = static_cast<unsigned long long>(minutes > 0 ? minutes : 0) * 60000ull;
    const DWORD started = GetTickCount();
    DWORD status = 0;
    DWORD exitCode = STILL_ACTIVE;
    int runMinutes = minutes;
    for (int run = 1;; ++run) {
        char *remarks = NULL;
        status = executeWithExitCode(workingDirectory, commandLine, &remarks, runMinutes, 0, &exitCode);
        free(remarks);
        if (exitCode != MSIEXEC_INSTALL_ALREADY_RUNNING) break;
        if (run == MSIEXEC_RUNS) {
            LogError("InstallReaderBase : Another installation is still in progress after %d runs of msiexec (exit "
                     "code %d); giving up \n",
                     run, MSIEXEC_INSTALL_ALREADY_RUNNING);
            break;
        }
        const DWORD pause = kBusyPauseMs[run - 1];
        const unsigned long long used = static_cast<DWORD>(GetTickCount() - started);
        if (used + pause + 60000ull > limitMs) {
            LogError("InstallReaderBase : Another installation is in progress (exit code %d) and the %d-minute limit "
                     "leaves no time for another run; giving up \n",
                     MSIEXEC_INSTALL_ALREADY_RUNNING, minutes);
            break;
        }
        LogInfo("InstallReaderBase : Another installation is in progress (msiexec exit code %d, run %d of %d); "
                "starting msiexec again in %u seconds \n",
                MSIEXEC_INSTALL_ALREADY_RUNNING, run, MSIEXEC_RUNS, static_cast<unsigned>(pause / 1000));
        Sleep(pause);
        runMinutes = static_cast<int>((limitMs - used - pause) / 60000ull);
    }
    if (exitCode == ERROR_SUCCESS_REBOOT_REQUIRED || exitCode == ERROR_SUCCESS_REBOOT_INITIATED) {
        LogInfo("InstallReaderBase : The installation needs a restart of the computer to complete (msiexec exit "
                "code %d) \n",
                static_cast<int>(exitCode));
        printf("Reader 10.1.0 installation needs a restart of the computer (msiexec exit code %d)\n",
               static_cast<int>(exitCode));
        fflush(stdout);
    }
    return status;
}
