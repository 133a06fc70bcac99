/*
 * The agent's resource identifier: kept under the SystemDetails key; when it
 * is missing the server is asked for the machine's resource file.
 */
#include "agent/resource_id.h"
#include "agent/settings.h"
#include "agent/text_helpers.h"
#include "tamsel/relvar.h"
#include "tamsel/xml_data.h"
#include "transfer/routing.h"

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
    if (gv_callerContext != nullptr && vt_agent::EqualsNoCase(gv_callerContext, "LOGOFF")) {
        return static_cast<int>(status);
    }
    return GetResourceIDFromServer(resourceId);
}

int GetResourceIDFromServer(char **resourceId) {
    std::string host = gv_localComputerName != nullptr ? gv_localComputerName : "";
    for (char &c : host) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    free(GetInstallLanguageTag()); /* only logged: the path does not carry it */

    char path[1024];
    snprintf(path, sizeof path, "/%s/%s/%s%s", gv_serverDataPath != nullptr ? gv_serverDataPath : "", "resources",
             host.c_str(), ".xml");
    char *response = nullptr;
    DWORD result = AgentGetData(path, &response, true);
    if (result != 0) {
        LogError("GetResourceIDFromServer : Unable to get the reource id xml from %s path and the error code is %d \n",
                 path, static_cast<int>(result));
        free(response);
        return static_cast<int>(result);
    }
    const int length = response != nullptr ? static_cast<int>(strlen(response)) : 0;
    if (!ConstructTableDataFromXMLBuffer(response, length)) {
        const int code = static_cast<int>(GetLastError());
        LogError("GetResourceIDFromServer : Error occured (%d) while loading resource id buffer to the memory : \n %s \n",
                 code, response != nullptr ? response : "");
        free(response);
        return code;
    }
    free(response);

    ResultData *rows = SelectRows("Agentparams", "PARAM_NAME='RESOURCE_ID'");
    if (rows == nullptr) {
        LogError("GetResourceIDFromServer :No rows found corresponding to the resource id in the resource id xml .\n");
        return 0;
    }
    if (GotoNextRowObject(rows) == nullptr) {
        LogError("GetResourceIDFromServer : No row objects corresponding to the resource id is found \n");
        FreeResultData(rows);
        return 0;
    }
    /* A row without a value gives nothing to copy: reported like a failed copy. */
    const char *value = static_cast<const char *>(GetColumnValueByName("param_Value", nullptr, rows));
    char *copy = vt_agent::NewText(value);
    FreeResultData(rows);
    if (copy == nullptr) {
        LogError("GetResourceIDFromServer : Error while allocating the value of resourceid \n");
        return 0;
    }
    vt_agent::ReplaceText(resourceId, copy);
    LogInfo("GetResourceIDFromServer : The Resource ID from the server is given  by %s \n", copy);
    SetAgentResourceId(copy);
    return 0;
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
