/* Small file-system helpers shared by the agent code. */
#include "platform/files.h"

#include "log/log.h"
#include "platform/errors.h"
#include "util/strings.h"

#include <stdlib.h>
#include <string.h>

IsWow64ProcessFn gv_isWow64ProcessFn = nullptr;

int CheckFileExists(const char *path) {
    LogDebug("@@@@@@@@ Inside CheckFileExists Method @@@@@@@@ \n");
    LogDebug("FileName to search -> %s \n", path != nullptr ? path : "(null)");
    WIN32_FIND_DATAA data;
    HANDLE find = path != nullptr ? FindFirstFileA(path, &data) : INVALID_HANDLE_VALUE;
    if (find == INVALID_HANDLE_VALUE) {
        LogError("CheckFileExists -> Invalid File Handle. %d \n", static_cast<int>(GetLastError()));
        LogDebug("@@@@@@@@ End Of CheckFileExists Method @@@@@@@@ \n");
        return 2;
    }
    FindClose(find);
    LogDebug("@@@@@@@@ End Of CheckFileExists Method @@@@@@@@ \n");
    return 0;
}

char *GetLastFileName(const char *path) {
    LogDebug("GetLastFileName Function Called with %s...!\n", path != nullptr ? path : "(null)");
    if (path == nullptr) return nullptr;
    const char *slash = strrchr(path, '\\');
    const char *name = slash != nullptr ? slash + 1 : path;
    char *copy = nullptr;
    DuplicateString(&copy, name);
    return copy;
}

namespace {

/* Where the last component first occurs in the path, by a left-to-right search
 * that keeps one position in the component: a match moves it on, a mismatch sets
 * it back to the component's start without looking at that character again.
 * The length of the text before the match, or 0 when there is none. */
size_t FolderPartLength(const char *path, const char *component) {
    const size_t want = strlen(component);
    if (want == 0) return 0;
    size_t matched = 0;
    for (size_t i = 0; path[i] != '\0'; ++i) {
        if (path[i] == component[matched]) {
            if (++matched == want) return i + 1 - want;
        } else {
            matched = 0;
        }
    }
    return 0;
}

}  // namespace

int CreateFolder(const WCHAR *path, void *) {
    int result = 0;
    char *folder = nullptr;
    WideToUtf8(path, &folder);
    /* The path is shown in its UTF-8 form: a C runtime's own wide-string
     * conversion stops at the first character outside its locale and leaves the
     * line unfinished, so the next line would run into it. */
    LogDebug("CreateFolder : CreateFolder function called with %s\n",
             path == nullptr ? "(null)" : folder != nullptr ? folder : "");
    if (folder == nullptr) {
        LogError("CreateFolder : The directory to create is NULL . \n");
        result = 13;
    } else {
        char *last = GetLastFileName(folder);
        if (last != nullptr) {
            const size_t folderLength = FolderPartLength(folder, last);
            /* Longer than a drive root such as "C:\": only the folder part is made. */
            if (folderLength > 3) folder[folderLength] = '\0';
            free(last);
        }
        LogInfo("CreateFolder : The Directory to create is %s \n", folder);
        /* The folder is made from its UTF-16 form: the A function would read the
         * UTF-8 text in the ANSI code page and make a folder of another name. */
        WCHAR *wideFolder = nullptr;
        if (Utf8ToWide(folder, &wideFolder))
            result = SHCreateDirectoryExW(nullptr, wideFolder, nullptr);
        else
            result = ERROR_NO_UNICODE_TRANSLATION;
        free(wideFolder);
        if (result == ERROR_ALREADY_EXISTS) result = 0;
    }
    free(folder);
    LogDebug("CreateFolder function returns Error code %d \n", result);
    return result;
}

void LoadWow64Functions(void) {
    if (LoadLibraryA("kernel32.dll") == nullptr) return;
    gv_isWow64ProcessFn = reinterpret_cast<IsWow64ProcessFn>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(GetModuleHandleA("kernel32"), "IsWow64Process")));
}
