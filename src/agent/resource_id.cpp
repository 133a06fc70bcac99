/*
 * The agent's resource identifier: kept under the SystemDetails key; when it
 * is missing the server is asked for the machine's resource file.
 */
#include "agent/resource_id.h"
#include "agent/settings.h"
#include "agent/text_helpers.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

int SetAgentResourceId(const char *resourceId) {
    return SetRegistryValue(HKEY_LOCAL_MACHINE, VT_SYSTEMDETAILS_KEY, "DAZeredResourceID", resourceId, REG_SZ);
}

int GetResourceID(char **resourceId) {
    LONG status = vt_agent::ReadText(VT_SYSTEMDETAILS_KEY, "DAZeredResourceID", resourceId);
    if (status == ERROR_SUCCESS) {
        return 0;
    }
    LogError("GetResourceID : Unable to get the VT Agent Resource ID from Registry , So trying to get the same from "
             "server .\n");
    /* The resource file is not fetched from the server yet (and never for a
     * LOGOFF caller): the registry status stands as the result until that lookup
     * is connected here. */
    return static_cast<int>(status);
}

char *GetInstallLanguageTag(void) {
    HMODULE kernel = LoadLibraryA("kernel32.dll");
    if (kernel == nullptr) {
        LogError("Could not load NTDLL.DLL for retrieving UI language");
        return nullptr;
    }
    char *text = nullptr;
    vt_agent::ReadText("SYSTEM\\CurrentControlSet\\Control\\Nls\\Language", "InstallLanguage", &text);
    unsigned int number = 0;
    if (text == nullptr || sscanf(text, "%X", &number) != 1) {
        number = 0;
    }
    LogInfo("String from Registry : %s and Integer after Conversion : %d\n", text != nullptr ? text : "",
            static_cast<int>(number));
    free(text);
    FreeLibrary(kernel);

    const LCID locale = static_cast<int>(number) > 0 ? (number & 0xFFFF) : 0x409;
    char country[5] = {0};
    char language[5] = {0};
    GetLocaleInfoA(locale, LOCALE_SISO3166CTRYNAME, country, sizeof country);
    GetLocaleInfoA(locale, LOCALE_SISO639LANGNAME, language, sizeof language);

    std::string tag;
    if (strstr(language, "zh") != nullptr || strstr(language, "pt") != nullptr) {
        tag = std::string(language) + "-" + country;
    } else if (strstr(language, "nb") != nullptr) {
        tag = "no";
    } else {
        tag = language;
    }
    for (char &c : tag) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return vt_agent::NewText(tag.c_str());
}
