/* Opening the agent's log with the settings from the agent's registry key. */
#pragma once

/* The agent install directory: read first by OpenAgentLog, read again by the
 * settings loader. */
extern char *gv_agentInstallDir;
/* "VTEventEnabled" as read by InitAgentLog (1 when absent). */
extern unsigned int gv_vtEventEnabled;

/* Opens `fileName` in the "logs" folder of the install directory, for appending. */
int OpenAgentLog(const char *fileName);
/* Opens the log in `directory` at the configured level: openMode 2 starts a new
 * file, any other appends. 0, or 13 when the log cannot be opened. */
int InitAgentLog(const char *fileName, const char *directory, int openMode);
