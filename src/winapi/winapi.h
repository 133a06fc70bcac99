/*
 * The one place that decides the platform.
 *
 * Every module calls the Win32 API through this header. On Windows it brings in
 * the SDK; on POSIX hosts it declares our stand-in for exactly the subset of
 * Win32 that the program calls (same names, types, constants and error codes),
 * implemented in this folder on top of an emulated machine root (WINAPI_ROOT).
 */
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winhttp.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <iphlpapi.h>
#include <lm.h>
#include <dsgetdc.h>
#include <wincrypt.h>
#include <msi.h>
#include <msiquery.h>
#ifdef __cplusplus
#include <string>
/* Windows paths reach the C runtime unchanged. */
inline std::string WaCrtPath(const char *path) { return path ? path : ""; }
#endif
#else
#include "winapi/wa_types.h"
#include "winapi/wa_system.h"
#include "winapi/wa_text.h"
#include "winapi/wa_file.h"
#include "winapi/wa_registry.h"
#include "winapi/wa_winhttp.h"
#include "winapi/wa_process.h"
#include "winapi/wa_version.h"
#include "winapi/wa_net.h"
#include "winapi/wa_crypt.h"
#include "winapi/wa_locale.h"
#include "winapi/wa_msi.h"
#ifdef __cplusplus
#include <string>
/* A Windows path handed to the C runtime (fopen, mkdir...): translated to the
 * emulated machine root, exactly as the stand-in's own file functions do. */
std::string WaCrtPath(const char *path);
#endif
#endif
