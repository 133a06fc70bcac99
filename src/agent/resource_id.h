/* The agent's resource identifier and the install language tag. */
#pragma once

/* 0 when the registry held the identifier, else the registry status (the
 * server lookup is not made yet). */
int GetResourceID(char **resourceId);
/* Writes "DAZeredResourceID" under the SystemDetails key; the registry status. */
int SetAgentResourceId(const char *resourceId);
/* New lower-case language tag of the install language (en, de, zh-cn...), or null. */
char *GetInstallLanguageTag(void);
