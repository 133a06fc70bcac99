#include "transfer/routing.h"

#include "agent/settings.h"
#include "log/log.h"
#include "platform/errors.h"
#include "transfer/download.h"
#include "transfer/internal.h"
#include "transfer/upload.h"
#include "util/strings.h"

#include <stdlib.h>

#include <string>

using namespace transfer_detail;

namespace {

/* A heap text made by the conversions; freed when it goes out of scope. */
template <typename T>
struct HeapText {
    T *text = nullptr;
    HeapText() = default;
    HeapText(const HeapText &) = delete;
    HeapText &operator=(const HeapText &) = delete;
    ~HeapText() { free(text); }
};

/* A failed conversion leaves the text absent. */
template <typename T>
void Convert(bool (*convert)(const char *, T **), const char *text, HeapText<T> *converted)
{
    if (!convert(text, &converted->text)) {
        free(converted->text);
        converted->text = nullptr;
    }
}

bool IsFallbackCode(DWORD result)
{
    return result == 400 || result == ERROR_WINHTTP_TIMEOUT || result == ERROR_WINHTTP_INVALID_URL ||
           result == ERROR_WINHTTP_NAME_NOT_RESOLVED || result == ERROR_WINHTTP_CANNOT_CONNECT;
}

bool IsSuccessCode(DWORD result) { return result == 0 || result == RESULT_NOT_MODIFIED; }

bool IsUsable(const WCHAR *address) { return address != nullptr && wcslen(address) > 2; }

bool IsPostType(int requestType)
{
    return requestType == POST_DATA || requestType == POST_DATA_PLAIN || requestType == POST_MULTIPART;
}

bool ContainsNoCase(const std::string &text, const char *part)
{
    std::string lowered = text;
    std::string wanted = part;
    for (char &c : lowered)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    for (char &c : wanted)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lowered.find(wanted) != std::string::npos;
}

/* Replaces the target's last access text with a copy of the address that answered. */
void AdoptLastAccess(char **lastAccess, const char *address)
{
    char *copy = nullptr;
    if (address == nullptr || DuplicateString(&copy, address) != 1)
        return;
    free(*lastAccess);
    *lastAccess = copy;
}

}  // namespace

DWORD AgentSendRequest(const char *url, const char *buffer, char **output, int requestType, bool keepAlive,
                       BYTE toVTServer, DWORD bodySize, int downloadMode)
{
    /* Target: the management server unless the distribution server is enabled and
     * the caller did not insist on the management server. */
    const bool management = toVTServer == 1 || !EqualsNoCase(gv_dsEnabled, "yes");
    const char *protocolSetting = management ? gv_serverProtocol : gv_dsProtocol;
    const std::string protocolCopy = protocolSetting ? protocolSetting : "";
    const char *protocol = protocolSetting ? protocolCopy.c_str() : nullptr;
    const int port = management ? gv_serverPort : gv_dsPort;
    char **lastAccess = management ? &gv_lastAccessName : &gv_dsLastAccessName;
    const char *ipAddress = management ? gv_serverIPAddress : gv_dsIPAddress;
    const char *secIpAddress = management ? gv_serverSecIPAddress : gv_dsSecIPAddress;
    const char *hostName = management ? gv_serverName : gv_dsServerName;
    const char *flatName = management ? gv_serverFlatName : gv_dsServerFlatName;

    /* URL: forward slashes, then the product edition's prefix. */
    std::string path = url ? url : "";
    for (char &c : path)
        if (c == '\\')
            c = '/';
    const char *productCode = gv_vtProductCode;
    const bool getType = requestType == GET_DATA || requestType == DOWNLOAD_FILE;
    if (EqualsNoCase(productCode, "RODO")) {
        if (!management || !getType) {
            LogInfo("AgentSendRequest - gv_vtProductCode is [%s], toVTServer is set to [%d]. Request Type is NOT "
                    "GET_DATA / DOWNLOAD_FILE and is [%d]\n",
                    Printable(productCode), management ? 1 : 0, requestType);
        } else if (ContainsNoCase(path, "/agentRequest?") || ContainsNoCase(path, "/agentSlot?") ||
                   ContainsNoCase(path, "/agenttrayicon?") || ContainsNoCase(path, "agentinfo?")) {
            LogInfo("AgentSendRequest - gv_vtProductCode is [%s], requestType is GET_DATA / DOWNLOAD_FILE [%d] and is "
                    "servlet request \n",
                    Printable(productCode), requestType);
        } else {
            path = "clientdatarequest?fileName=" + path;
        }
    } else if (EqualsNoCase(productCode, "ZORIR")) {
        path = "vt/" + path;
        LogInfo("AgentSendRequest - gv_vtProductCode is [%s], requestType is GET_DATA / DOWNLOAD_FILE [%d] \n",
                Printable(productCode), requestType);
    } else {
        LogDebug("AgentSendRequest - Stand Alone / MSP build : gv_vtProductCode is [%s] \n", Printable(productCode));
    }

    /* Texts for WinHTTP. */
    HeapText<char> utf8Url;
    Convert(AnsiToUtf8, path.c_str(), &utf8Url);
    LogInfo("AgentSendRequest : The url to get / send in UTF8 format is given by %s \n", Printable(utf8Url.text));
    HeapText<WCHAR> wideUrl;
    Convert(Utf8ToWide, utf8Url.text, &wideUrl);
    const WCHAR *objectPath = wideUrl.text ? wideUrl.text : L"";

    HeapText<WCHAR> wideBuffer;
    if (downloadMode != 2) {
        if (requestType == GET_DATA)
            Convert(Utf8ToWide, buffer, &wideBuffer);
        else if (requestType == DOWNLOAD_FILE)
            Convert(AnsiToWide, buffer, &wideBuffer);
    }

    HeapText<WCHAR> wideLast, wideIp, wideSecIp, wideHost, wideFlat;
    Convert(Utf8ToWide, *lastAccess, &wideLast);
    Convert(Utf8ToWide, ipAddress, &wideIp);
    Convert(Utf8ToWide, secIpAddress, &wideSecIp);
    Convert(Utf8ToWide, hostName, &wideHost);
    Convert(Utf8ToWide, flatName, &wideFlat);

    /* The proxy serves the management server only. */
    bool useProxy = false;
    HeapText<WCHAR> proxyUser, proxyPassword, proxyHost, proxyBypass;
    if (EqualsNoCase(gv_proxyEnabled, "yes")) {
        Convert(Utf8ToWide, gv_proxyUserName, &proxyUser);
        Convert(Utf8ToWide, gv_proxyPassword, &proxyPassword);
        Convert(Utf8ToWide, gv_proxyServerName, &proxyHost);
        Convert(Utf8ToWide, gv_proxyByPass, &proxyBypass);
        useProxy = management;
    }

    DWORD result = ERROR_WINHTTP_NAME_NOT_RESOLVED;
    /* One attempt on an address; false (result unchanged) when it is not usable. */
    auto attempt = [&](const WCHAR *address) -> bool {
        if (!IsUsable(address))
            return false;
        if (IsPostType(requestType)) {
            result = InternetSendRequestEx(useProxy, protocol, address, port, proxyHost.text, proxyBypass.text,
                                           proxyUser.text, proxyPassword.text, objectPath, buffer, output, requestType,
                                           keepAlive, bodySize);
        } else if (downloadMode == DOWNLOAD_MODE_PLAIN) {
            result = InternetGetRequestEx(useProxy, protocol, address, port, proxyHost.text, proxyBypass.text,
                                          proxyUser.text, proxyPassword.text, objectPath, wideBuffer.text, output,
                                          requestType, keepAlive);
        } else if (downloadMode == DOWNLOAD_MODE_THROTTLED) {
            result = InternetGetRequestByBitrate(useProxy, protocol, address, port, proxyHost.text, proxyBypass.text,
                                                 proxyUser.text, proxyPassword.text, objectPath, wideBuffer.text,
                                                 output, requestType, keepAlive);
        }
        return true;
    };

    /* The walk: last access address, then IP, secondary IP, host name and flat
     * name, as long as the server could not be reached. An address becomes the
     * last access address only when it was tried and answered. */
    attempt(wideLast.text);
    if (IsFallbackCode(result)) {
        if (attempt(wideIp.text) && result == 0) {
            AdoptLastAccess(lastAccess, ipAddress);
        } else {
            struct Next {
                const WCHAR *wide;
                const char *narrow;
            } rest[] = {{wideSecIp.text, secIpAddress}, {wideHost.text, hostName}, {wideFlat.text, flatName}};
            for (const Next &next : rest) {
                bool tried = attempt(next.wide);
                if (IsSuccessCode(result)) {
                    if (tried)
                        AdoptLastAccess(lastAccess, next.narrow);
                    break;
                }
                if (!IsFallbackCode(result))
                    break;
            }
        }
    }

    if (IsSuccessCode(result)) {
        if (management)
            SetLastAccessName(*lastAccess);
        else
            SetDSLastAccessName(*lastAccess);
        LogInfo("AgentSendRequest : Last Access Address is %s \n", Printable(*lastAccess));
    }
    return result;
}

DWORD AgentDownloadFile(const char *url, const char *destinationPath, bool keepAlive)
{
    int mode = gv_dataTransferRateKBps != 0 ? DOWNLOAD_MODE_THROTTLED : DOWNLOAD_MODE_PLAIN;
    return AgentSendRequest(url, destinationPath, nullptr, DOWNLOAD_FILE, keepAlive, 0, 0, mode);
}

DWORD AgentGetData(const char *url, char **output, bool keepAlive)
{
    return AgentSendRequest(url, nullptr, output, GET_DATA, keepAlive, 1, 0, DOWNLOAD_MODE_PLAIN);
}
