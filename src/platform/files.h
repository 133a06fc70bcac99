/* Small file-system helpers shared by the agent code. */
#pragma once
#include "winapi/winapi.h"

typedef BOOL(WINAPI *IsWow64ProcessFn)(HANDLE process, PBOOL wow64);
/* IsWow64Process when the system has it, else empty. Filled by LoadWow64Functions. */
extern IsWow64ProcessFn gv_isWow64ProcessFn;

int CheckFileExists(const char *path);
int CreateFolder(const WCHAR *path, void *unused);
char *GetLastFileName(const char *path);
void LoadWow64Functions(void);
