/*
 * Agent settings: the registry model of the agent's configuration and the
 * process-wide values it fills. Loaded once by InitializeAgentParameters at
 * start; read by name everywhere afterwards. Every text value is a heap string
 * owned by this module; readers never free them.
 */
#pragma once
#include "winapi/winapi.h"
#include "agent/agent_log.h"  /* gv_agentInstallDir */
#include "log/log.h"
#include "platform/registry.h" /* gv_isWow64, VT_AGENT_KEY */

#include "agent/machine.h"
#include "agent/osinfo.h"
#include "agent/proxy.h"
#include "agent/resource_id.h"

/* Keys under HKEY_LOCAL_MACHINE (read through the 32-bit view). */
#define VT_SERVERINFO_KEY "Software\\Corvane\\Vantrel\\DAZered\\ServerInfo"
#define VT_SYSTEMDETAILS_KEY "Software\\Corvane\\Vantrel\\DAZered\\SystemDetails"
#define VT_IFMODIFIEDSINCE_KEY "Software\\Corvane\\Vantrel\\DAZered\\IfModifiedSince"
#define VT_IFMODIFIEDSINCE_WOW64_KEY "Software\\Wow6432Node\\Corvane\\Vantrel\\DAZered\\IfModifiedSince"

/* Result of the loaders: 0 on success, 13 for a missing value or a failed load. */
#define VT_SETTINGS_OK 0
#define VT_SETTINGS_MISSING 13

/* ---- Management server ---------------------------------------------------- */
extern char *gv_serverName;
extern char *gv_serverFlatName;
extern char *gv_serverIPAddress;
extern char *gv_serverSecIPAddress;
extern char *gv_lastAccessName;
extern int gv_serverHttpPort;
extern int gv_serverSecurePort;
extern int gv_serverPort;          /* the HTTP or the secure port, by protocol */
extern char *gv_serverProtocol;    /* "http" or "https"; "http" initially */

/* ---- Distribution server -------------------------------------------------- */
extern char *gv_dsEnabled;         /* "yes" (any case) enables it */
extern char *gv_dsServerName;
extern char *gv_dsServerFlatName;
extern char *gv_dsIPAddress;
extern char *gv_dsSecIPAddress;
extern char *gv_dsLastAccessName;
extern int gv_dsHttpPort;
extern int gv_dsSecurePort;
extern int gv_dsPort;
extern char *gv_dsProtocol;        /* "http" initially */
extern int gv_enableDSRoute;       /* 1: every request goes to the distribution server */

/* ---- Agent ------------------------------------------------------------------ */
extern char *gv_agentVersion;
extern char *gv_mspName;
extern char *gv_customerName;
extern char *gv_customerId;
extern char *gv_vtProductCode;     /* "RERI" initially */
/* gv_agentInstallDir: declared in agent/agent_log.h. */
extern char *gv_remoteOfficeName;
extern char *gv_remoteOfficeId;
extern char *gv_remoteOfficeMgmt;  /* "NO" initially */
extern char *gv_serverDataPath;    /* client-data/<customer>/domains/<namespace> */
extern char *gv_agentResourceId;
extern char *gv_tempDir;           /* 255-byte buffer from %TEMP% */
extern char *gv_ifModifiedSinceKey;
/* gv_isWow64: declared in platform/registry.h. */
extern DWORD gv_blockCrashedConfig;
extern DWORD gv_shutdownBlocked;
extern int gv_checksumEnabled;     /* 1 initially */
extern char *gv_callerContext;     /* "LOGOFF" when run at user log-off; null here */

/* ---- Transfer --------------------------------------------------------------- */
extern DWORD gv_httpRequestTimeout;     /* milliseconds, 60000 initially */
extern DWORD gv_httpConnectionTimeout;  /* milliseconds, 30000 initially */
extern int gv_dataTransferRateKBps;     /* 0 = no limit; 1024 initially */

/* ---- Proxy -------------------------------------------------------------------- */
extern char *gv_proxyEnabled;      /* "NO" initially; "yes" (any case) enables it */
extern char *gv_proxyServerName;
extern char *gv_proxyByPass;       /* "<local>" initially */
extern char *gv_proxyUserName;     /* "" initially */
extern char *gv_proxyPassword;     /* "" initially; decoded, never logged */

/* ---- Local machine -------------------------------------------------------------- */
extern char *gv_localComputerName;
extern char *gv_localIPAddresses;  /* "a.b.c.d,e.f.g.h" */
extern char *gv_localMACAddresses; /* "00:1a:2b:3c:4d:5e,..." */
extern char *gv_domainController;  /* flat name without the leading "\\" */
extern char *gv_clientNamespace;   /* domain or workgroup name */
extern int gv_isDomainJoined;      /* 1 initially */

/* ---- Operations ------------------------------------------------------------------ */

/* Loads every setting; 0 when every step succeeded, 13 otherwise. */
int InitializeAgentParameters(void);
int InitializeServerDetailsFromRegistry(void);
int InitializeDSServerDetailsFromRegistry(void);
int InitializeAgentDetails(void);
/* 0 with a non-empty identifier, else 13 (the out text may hold an empty buffer). */
int GetCustomerId(char **customerId);
/* Sets gv_enableDSRoute; the registry status of the read or of the write-back. */
int GetEnableDSRoute(void);
/* 1 when "EnableChecksum" is absent or "yes" (any case), else 0. */
int IsChecksumEnabled(void);
/* Writes "DataTransferRate_KBps" as decimal text; the registry status. */
int SetDataTransferRate(unsigned int rateKBps);
/* Store the address that answered; the registry status, 13 for a null text. */
int SetLastAccessName(const char *accessName);
int SetDSLastAccessName(const char *accessName);
/* Copies the distribution-server values over the management-server values. */
void SwitchToDistributionServerRoute(void);
/* Frees every value of this module and restores the initial values, for an
 * embedding program that loads the settings again. */
void ResetAgentSettings(void);
