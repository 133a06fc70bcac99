/* Network identity of the stand-in: Winsock start-up and host name, the IP Helper
 * adapter list, domain membership and domain controller (see net.cpp for the
 * emulated settings in the registry). */
#pragma once
#include "winapi/wa_types.h"

/* The C library's own declaration comes first, so that the mapping below renames
 * only the callers of the Windows function. Code of the stand-in that needs the
 * host's name uses uname(). */
#include <unistd.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Winsock ---------------------------------------------------------------------- */

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128
typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char *lpVendorInfo;
} WSADATA, *LPWSADATA;

#define SOCKET_ERROR (-1)
#define WSAEFAULT 10014L
#define WSAVERNOTSUPPORTED 10092L
#define WSANOTINITIALISED 10093L
#ifndef MAKEWORD
#define MAKEWORD(a, b) ((WORD)(((BYTE)((a) & 0xff)) | ((WORD)((BYTE)((b) & 0xff))) << 8))
#endif

int WSAStartup(WORD versionRequested, LPWSADATA data);
int WSACleanup(void);
int WSAGetLastError(void);
/* The emulated "ComputerName", else the host's name. */
int wa_gethostname(char *name, int nameLength);
#define gethostname wa_gethostname

/* ---- IP Helper --------------------------------------------------------------------- */

#define MAX_ADAPTER_DESCRIPTION_LENGTH 128
#define MAX_ADAPTER_NAME_LENGTH 256
#define MAX_ADAPTER_ADDRESS_LENGTH 8
#define MIB_IF_TYPE_OTHER 1
#define MIB_IF_TYPE_ETHERNET 6
#define MIB_IF_TYPE_LOOPBACK 24

typedef struct {
    char String[4 * 4];
} IP_ADDRESS_STRING, *PIP_ADDRESS_STRING, IP_MASK_STRING, *PIP_MASK_STRING;

typedef struct _IP_ADDR_STRING {
    struct _IP_ADDR_STRING *Next;
    IP_ADDRESS_STRING IpAddress;
    IP_MASK_STRING IpMask;
    DWORD Context;
} IP_ADDR_STRING, *PIP_ADDR_STRING;

typedef struct _IP_ADAPTER_INFO {
    struct _IP_ADAPTER_INFO *Next;
    DWORD ComboIndex;
    char AdapterName[MAX_ADAPTER_NAME_LENGTH + 4];
    char Description[MAX_ADAPTER_DESCRIPTION_LENGTH + 4];
    UINT AddressLength;
    BYTE Address[MAX_ADAPTER_ADDRESS_LENGTH];
    DWORD Index;
    UINT Type;
    UINT DhcpEnabled;
    PIP_ADDR_STRING CurrentIpAddress;
    IP_ADDR_STRING IpAddressList;
    IP_ADDR_STRING GatewayList;
    IP_ADDR_STRING DhcpServer;
    BOOL HaveWins;
    IP_ADDR_STRING PrimaryWinsServer;
    IP_ADDR_STRING SecondaryWinsServer;
    int64_t LeaseObtained;
    int64_t LeaseExpires;
} IP_ADAPTER_INFO, *PIP_ADAPTER_INFO;

/* The adapters as one linked block: ERROR_BUFFER_OVERFLOW with the size needed
 * when the buffer is missing or too small, ERROR_NO_DATA without adapters. */
DWORD GetAdaptersInfo(PIP_ADAPTER_INFO adapterInfo, ULONG *size);

/* ---- Network management: join state and domain controller ---------------------------- */

typedef DWORD NET_API_STATUS;
#define NERR_Success 0

typedef enum _NETSETUP_JOIN_STATUS {
    NetSetupUnknownStatus = 0,
    NetSetupUnjoined,
    NetSetupWorkgroupName,
    NetSetupDomainName
} NETSETUP_JOIN_STATUS, *PNETSETUP_JOIN_STATUS;

/* *nameBuffer is freed with NetApiBufferFree. */
NET_API_STATUS NetGetJoinInformation(LPCWSTR server, LPWSTR *nameBuffer, PNETSETUP_JOIN_STATUS joinStatus);
NET_API_STATUS NetApiBufferFree(LPVOID buffer);

#ifndef GUID_DEFINED
#define GUID_DEFINED
typedef struct _GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
} GUID;
#endif

typedef struct _DOMAIN_CONTROLLER_INFOA {
    LPSTR DomainControllerName;
    LPSTR DomainControllerAddress;
    ULONG DomainControllerAddressType;
    GUID DomainGuid;
    LPSTR DomainName;
    LPSTR DnsForestName;
    ULONG Flags;
    LPSTR DcSiteName;
    LPSTR ClientSiteName;
} DOMAIN_CONTROLLER_INFOA, *PDOMAIN_CONTROLLER_INFOA;

#define DS_INET_ADDRESS 1
#define DS_NETBIOS_ADDRESS 2
#define DS_RETURN_DNS_NAME 0x40000000
#define DS_RETURN_FLAT_NAME 0x80000000

/* *info is freed with NetApiBufferFree; ERROR_NO_SUCH_DOMAIN outside a domain. */
DWORD DsGetDcNameA(LPCSTR computerName, LPCSTR domainName, GUID *domainGuid, LPCSTR siteName, ULONG flags,
                   PDOMAIN_CONTROLLER_INFOA *info);

#ifdef __cplusplus
}
#endif
