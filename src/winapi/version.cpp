/*
 * Version and product information of the stand-in: the emulated machine's
 * (machine_version.cpp), read from its registry.
 */
#include "winapi/winapi.h"
#include "winapi/wa_private.h"

extern "C" BOOL GetVersionExA(LPOSVERSIONINFOA info) { return wa::MachineVersionEx(info); }

/* This process is 32-bit: on a 64-bit machine it sees an x86 system. */
extern "C" void GetSystemInfo(LPSYSTEM_INFO info) { wa::MachineSystemInfo(info, false); }

extern "C" void GetNativeSystemInfo(LPSYSTEM_INFO info) { wa::MachineSystemInfo(info, true); }

extern "C" BOOL GetProductInfo(DWORD osMajor, DWORD, DWORD, DWORD, PDWORD productType) {
    return wa::MachineProductInfo(osMajor, productType);
}
