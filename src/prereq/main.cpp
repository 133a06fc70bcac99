/*
 * The prerequisite handler: opens the agent log, takes the patch name from the
 * command line, loads the agent settings and checks (and repairs) the Reader base
 * installation. The only place that decides the exit code: 13 without a patch
 * name, 0 otherwise.
 */
#include <stdlib.h>

#include "agent/agent_log.h"
#include "agent/settings.h"
#include "log/log.h"
#include "prereq/reader.h"
#include "util/strings.h"

/* The value given after -p; null until the command line names one. */
extern char *gv_patchName;
char *gv_patchName = nullptr;

bool ParseCommandLine(char **argv, int argc);

namespace {

constexpr const char *kLogFileName = "rozedidavevazez.log";
constexpr int kExitNoPatchName = 13;

bool IsPatchNameSwitch(const char *argument) {
    return argument != nullptr && argument[0] == '-' && argument[1] == 'p';
}

}  // namespace

/*
 * Any argument starting with "-p" is the patch-name switch and takes the next
 * argument as its value (which is then skipped); a later switch replaces an earlier
 * one. A switch in last place has no value and leaves the patch name missing.
 * Other arguments are ignored.
 */
bool ParseCommandLine(char **argv, int argc) {
    for (int i = 1; i < argc; ++i) {
        if (!IsPatchNameSwitch(argv[i])) continue;
        free(gv_patchName);
        gv_patchName = nullptr;
        if (i + 1 >= argc) break;
        ++i;
        if (DuplicateString(&gv_patchName, argv[i]) == 1) LogInfo("patchName : %s\n", gv_patchName);
    }
    return true;
}

int main(int argc, char **argv) {
    /* Without a log every later write is a no-op; the run goes on regardless. */
    OpenAgentLog(kLogFileName);

    ParseCommandLine(argv, argc);
    if (gv_patchName == nullptr) return kExitNoPatchName;

    /* Step 4: load the agent settings (result not examined). */
    InitializeAgentParameters();
    /* Step 5: check the Reader source and repair it when needed. */
    if (IsReaderSourceAvailable() != 0) InstallReaderBase();

    return 0;
}
