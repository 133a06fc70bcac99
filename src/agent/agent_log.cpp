/*
 * Opening the agent's log: the install directory, the configured level and the
 * event flag come from the agent's registry key.
 */
#include <stdlib.h>

#include <string>

#include "agent/agent_log.h"
#include "log/log.h"
#include "platform/registry.h"
#include "util/locks.h"
#include "util/strings.h"
#include "winapi/winapi.h"

char *gv_agentInstallDir = nullptr;
unsigned int gv_vtEventEnabled = 1;

namespace {

/* The agent's level when "DAZeredLogLevel" is missing or unreadable. */
constexpr DWORD kAgentDefaultLevel = 2;

}  // namespace

int OpenAgentLog(const char *fileName) {
    free(gv_agentInstallDir);
    gv_agentInstallDir = nullptr;
    /* A folder whose name the ANSI code page cannot hold gives no log: opening
     * one under the name's stand-in characters would make folders elsewhere. */
    LONG status = ReadRegistryPath(HKEY_LOCAL_MACHINE, VT_AGENT_KEY, "DAZeredInstallDir", &gv_agentInstallDir);
    if (status != ERROR_SUCCESS) return static_cast<int>(status);
    char *directory = nullptr;
    std::string logs = std::string(gv_agentInstallDir) + "\\logs";
    if (DuplicateString(&directory, logs.c_str()) != 1) return VT_ALLOC_FAILED;
    int result = InitAgentLog(fileName, directory, 1);
    free(directory);
    return result;
}

int InitAgentLog(const char *fileName, const char *directory, int openMode) {
    InitMutex();
    DWORD eventEnabled = 0;
    if (ReadRegistryDword(HKEY_LOCAL_MACHINE, VT_AGENT_KEY, "VTEventEnabled", &eventEnabled) != ERROR_SUCCESS)
        eventEnabled = 1;
    gv_vtEventEnabled = eventEnabled;
    if (!InitLogDefaults()) return 13;
    DWORD level = 0;
    if (ReadRegistryDword(HKEY_LOCAL_MACHINE, VT_AGENT_KEY, "DAZeredLogLevel", &level) != ERROR_SUCCESS)
        level = kAgentDefaultLevel;
    if (!SetLogParameters(fileName, directory, static_cast<int>(level))) return 13;
    bool opened = openMode == 2 ? OpenLogFile() : OpenLogFileAppend();
    return opened ? 0 : 13;
}
