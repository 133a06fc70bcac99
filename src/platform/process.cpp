/* Running an external program with a time limit (execute). */
#include "platform/process.h"

#include "log/log.h"
#include "platform/errors.h"
#include "platform/handle_guard.h"
#include "util/strings.h"

#include <stdlib.h>
#include <string.h>

namespace {

/* Exit codes that mean success: 0, 1508 (success, browser restart pending), 1641
 * (success, reboot started) and 3010 (success, reboot needed). */
DWORD FoldExitCode(DWORD code) {
    switch (code) {
    case 0:
    case 1508:
    case ERROR_SUCCESS_REBOOT_INITIATED:
    case ERROR_SUCCESS_REBOOT_REQUIRED: return 0;
    default: return code;
    }
}

/* minutes x 60000 ms; the longest finite wait for limits beyond it. */
DWORD LimitMilliseconds(int minutes) {
    const unsigned long long ms = static_cast<unsigned long long>(minutes) * 60000ull;
    return ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms);
}

}  // namespace

DWORD execute(const char *workingDirectory, const char *commandLine, char **remarks, int minutes, int show) {
    return executeWithExitCode(workingDirectory, commandLine, remarks, minutes, show, NULL);
}

DWORD executeWithExitCode(const char *workingDirectory, const char *commandLine, char **remarks, int minutes,
                          int show, DWORD *exitCode) {
    if (exitCode != NULL) *exitCode = STILL_ACTIVE;
    LogDebug("@@@@@@@@ Inside execute Method @@@@@@@@ \n");

    const bool haveDirectory = workingDirectory != NULL && workingDirectory[0] != '\0';
    char savedDirectory[4096];
    memset(savedDirectory, 0, sizeof savedDirectory);
    char *remark = NULL;
    DWORD result = 0;

    if (haveDirectory) {
        const DWORD length = GetCurrentDirectoryA(sizeof savedDirectory, savedDirectory);
        if (length == 0) {
            result = GetLastError();
            LogError("execute: Failed to get the CurrentWorkingDirectory \n");
            if (remarks != NULL) *remarks = GetErrorText(result);
            return result;
        }
        if (length >= sizeof savedDirectory) {
            LogError("execute : CurrentWorkingDirectory Buffer overflow. Need to allocate the length for %d chars \n",
                     static_cast<int>(length));
            if (remarks != NULL) *remarks = GetErrorText(ERROR_BUFFER_OVERFLOW);
            return ERROR_BUFFER_OVERFLOW;
        }
        if (commandLine == NULL || commandLine[0] == '\0') {
            if (remarks != NULL) *remarks = GetErrorText(ERROR_INVALID_PARAMETER);
            return ERROR_INVALID_PARAMETER;
        }
        LogInfo("execute : Current Working Directory : %s \n", savedDirectory);
        LogInfo("execute : Executing Application Source : %s \n", commandLine);
        LogInfo("execute : Set Working Directory : %s \n", workingDirectory);
        if (!SetCurrentDirectoryA(workingDirectory)) {
            result = GetLastError();
            LogError("execute : Failed to set the WorkingDirectory %s \n ", workingDirectory);
            if (remarks != NULL) *remarks = GetErrorText(result);
            return result;
        }
    }

    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (show != 0) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOWNORMAL;
    }
    /* CreateProcessA may write into the command line: hand it a copy. */
    char *line = NULL;
    if (commandLine != NULL) DuplicateString(&line, commandLine);

    PROCESS_INFORMATION info;
    memset(&info, 0, sizeof info);
    const BOOL started =
        (commandLine == NULL || line != NULL) &&
        CreateProcessA(NULL, line, NULL, NULL, FALSE, CREATE_DEFAULT_ERROR_MODE | CREATE_NO_WINDOW, NULL,
                       haveDirectory ? workingDirectory : NULL, &startup, &info);
    vt_platform::HandleGuard process(info.hProcess);
    vt_platform::HandleGuard thread(info.hThread);
    if (!started) {
        result = (commandLine != NULL && line == NULL) ? ERROR_NOT_ENOUGH_MEMORY : GetLastError();
        LogInfo("execute : Failed to Create the Process for the application \n");
        remark = GetErrorText(result);
    } else {
        LogInfo("execute : Process successfully created for application %s \n", commandLine);
        if (minutes <= 0) {
            result = 0;
            remark = GetErrorText(0);
        } else {
            const DWORD wait = WaitForSingleObject(process.get(), LimitMilliseconds(minutes));
            if (wait == WAIT_TIMEOUT) {
                result = WAIT_TIMEOUT;
                LogInfo("execute : Terminating the Process for application %s as time is exceeded %d Minutes \n",
                        commandLine, minutes);
                remark = GetErrorText(WAIT_TIMEOUT);
                if (TerminateProcess(process.get(), 0)) {
                    LogInfo("execute : The process has been successfully terminated ..! \n");
                } else {
                    LogError("execute : The process termination is failed with error code : %d \n",
                             static_cast<int>(GetLastError()));
                }
            } else if (wait == WAIT_OBJECT_0) {
                DWORD programExit = 0;
                if (!GetExitCodeProcess(process.get(), &programExit)) {
                    result = GetLastError();
                    LogInfo("execute : Unable to find the exit code for the application and the error code is : %d \n",
                            static_cast<int>(result));
                    remark = GetErrorText(result);
                } else {
                    remark = GetErrorText(programExit);
                    LogInfo("execute : Exit code for the application : %d \n", static_cast<int>(programExit));
                    result = FoldExitCode(programExit);
                    if (exitCode != NULL) *exitCode = programExit;
                }
            } else {
                /* The wait itself failed: its error is the result, and the remark is
                 * that error's text so that every result comes with its remark. */
                result = GetLastError();
                if (result == 0) result = ERROR_INVALID_HANDLE;
                LogError("execute : WaitForSingleObject Failed with error code %d \n", static_cast<int>(result));
                remark = GetErrorText(result);
            }
        }
    }
    free(line);

    /* Close the handles before the directory goes back. */
    process.reset();
    thread.reset();
    if (haveDirectory) SetCurrentDirectoryA(savedDirectory);

    LogInfo("execute : Remarks from the CreateProcess is %s for the executable %s \n", remark ? remark : "(null)",
            commandLine ? commandLine : "(null)");
    LogDebug("@@@@@@@@ End Of execute Method @@@@@@@@ \n");
    if (remarks != NULL)
        *remarks = remark;
    else
        free(remark);
    return result;
}
