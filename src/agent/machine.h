/* Identity of the local machine: host name, addresses, domain. */
#pragma once

/* 0, or 13 when the host name or the namespace cannot be found. */
int InitializeLocalMachineDetails(void);
/* Both out texts are new 131068-byte zero-filled buffers, empty on failure.
 * 0 or a Win32 error code. Lists the adapters on standard output. */
int GetLocalAddresses(char **ipList, char **macList);
/* 0 or the error of the domain-controller lookup. */
int GetDomainController(char **controller);
/* 1 on success, 0 on failure. */
int GetLocalComputerName(char **computerName);
/* 1 on success, 0 on failure; joined is 1 for a domain member, else 0. */
int GetClientNamespace(char **nameSpace, int *joined);
