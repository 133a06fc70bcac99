/* The agent's resource identifier and the install language tag. */
#pragma once

/* 0 when the registry held the identifier; else the registry status for a
 * LOGOFF caller, or the result of the server lookup. */
int GetResourceID(char **resourceId);
/* Fetches "/<data path>/resources/<host>.xml" from the management server, loads
 * it into the table store and takes RESOURCE_ID's param_Value from Agentparams
 * (written to the registry). 0 when the file was fetched and loaded, the
 * transfer code, or the system error code of a failed load. */
int GetResourceIDFromServer(char **resourceId);
/* Writes "DAZeredResourceID" under the SystemDetails key; the registry status. */
int SetAgentResourceId(const char *resourceId);
/* New lower-case language tag of the install language (en, de, zh-cn...), or null. */
char *GetInstallLanguageTag(void);
