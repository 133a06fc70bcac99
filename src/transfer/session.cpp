#include "transfer/session.h"

#include "agent/settings.h"
#include "log/log.h"
#include "transfer/errors.h"
#include "transfer/internal.h"
#include "transfer/routing.h"

#include <stdlib.h>
#include <string.h>

#include <string>

using namespace transfer_detail;

int gv_ifModifiedSinceEnabled = 0;
WCHAR *gv_lastModifiedTime = nullptr;

void SetIfModifiedSinceEnabled(int enabled) { gv_ifModifiedSinceEnabled = enabled ? 1 : 0; }

void ClearLastModifiedTime(void)
{
    free(gv_lastModifiedTime);
    gv_lastModifiedTime = nullptr;
}

namespace {

void CloseOne(HINTERNET *field, const char *caller, const char *fieldName)
{
    if (*field == nullptr)
        return;
    if (!WinHttpCloseHandle(*field)) {
        DWORD error = GetLastError();
        LogError("%s :  Error in WinHttpCloseHandle %s --> %d \n", caller, fieldName, static_cast<int>(error));
        HttpGetLastError(error);
    }
    *field = nullptr;
}

/* Closes quietly what a failed opening step leaves behind. */
void DropHandles(InternetRequestHandle *handle)
{
    HINTERNET *fields[] = {&handle->hRequest, &handle->hConnect, &handle->hSession};
    for (HINTERNET *field : fields) {
        if (*field != nullptr)
            WinHttpCloseHandle(*field);
        *field = nullptr;
    }
}

}  // namespace

void CloseRequestHandles(InternetRequestHandle *handle, const char *caller)
{
    CloseOne(&handle->hRequest, caller, "hRequest");
    CloseOne(&handle->hConnect, caller, "hConnect");
    CloseOne(&handle->hSession, caller, "hSession");
}

DWORD GetInternetRequestHandle(bool useProxy, const char *protocol, const WCHAR *host, int port,
                               const WCHAR *proxyHost, const WCHAR *proxyBypass, const WCHAR *proxyUserName,
                               const WCHAR *proxyPassword, const WCHAR *objectPath, const WCHAR * /*destinationPath*/,
                               char ** /*output*/, int requestType, bool keepAlive, InternetRequestHandle *handle)
{
    LogDebug("@@@@@@@@ Inside GetInternetRequestHandle Method @@@@@@@@ \n");
    const bool secure = IsHttps(protocol);
    const bool getData = requestType == GET_DATA;
    int reopens = 0;

    for (;;) {
        /* Session. */
        if (useProxy) {
            LogDebug("GetInternetRequestHandle : Proxy Server Name : %S \n", Printable(proxyHost));
            handle->hSession = WinHttpOpen(kAgentName, WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxyHost, proxyBypass, 0);
        } else {
            handle->hSession = WinHttpOpen(kAgentName, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                           WINHTTP_NO_PROXY_BYPASS, 0);
        }
        if (handle->hSession == nullptr)
            return FailStep("GetInternetRequestHandle :  Error in WinHttpOpen --> %d \n", GetLastError());

        DWORD openFlags = WINHTTP_FLAG_REFRESH;
        if (secure)
            openFlags |= WINHTTP_FLAG_SECURE;

        /* Connection. */
        handle->hConnect = WinHttpConnect(handle->hSession, host, static_cast<INTERNET_PORT>(port), 0);
        if (handle->hConnect == nullptr) {
            DWORD error = GetLastError();
            DropHandles(handle);
            return FailStep("GetInternetRequestHandle :  Error in WinHttpConnect --> %d \n", error);
        }

        /* Request. */
        LPCWSTR acceptTypes[] = {L"*/*", nullptr};
        const WCHAR *verb = handle->requestMode == REQUEST_MODE_HEAD ? L"HEAD" : L"GET";
        handle->hRequest =
            WinHttpOpenRequest(handle->hConnect, verb, objectPath, nullptr, WINHTTP_NO_REFERER, acceptTypes, openFlags);
        if (handle->hRequest == nullptr) {
            DWORD error = GetLastError();
            DropHandles(handle);
            return FailStep("GetInternetRequestHandle :  Error in WinHttpOpenRequest --> %d \n", error);
        }

        /* Headers: their failures are logged and the request goes on. */
        DWORD error = AddHeaderLine(handle->hRequest, keepAlive ? L"Connection: Keep-Alive" : L"Connection: close");
        if (error != 0) {
            LogError("GetInternetRequestHandle :  Error in WinHttpAddRequestHeaders --> %d \n", static_cast<int>(error));
            HttpGetLastError(error);
        }
        if (handle->requestMode == REQUEST_MODE_RANGE) {
            error = AddHeaderLine(handle->hRequest, handle->extraHeader);
            if (error != 0) {
                LogError("InternetGetRequestByBitrate :  Error in WinHttpAddRequestHeaders --> %d \n", static_cast<int>(error));
                HttpGetLastError(error);
            }
        } else if (gv_ifModifiedSinceEnabled == 1 && gv_lastModifiedTime != nullptr) {
            std::wstring line = L"If-Modified-Since: ";
            line += gv_lastModifiedTime;
            LogDebug("GetInternetRequestHandle : %S\n", line.c_str());
            error = AddHeaderLine(handle->hRequest, line.c_str());
            if (error != 0) {
                LogError("GetInternetRequestHandle :  Error in IF-MODIFIED-SINCE WinHttpAddRequestHeaders --> %d \n",
                         static_cast<int>(error));
                HttpGetLastError(error);
            }
        }

        /* Options. */
        if (getData) {
            error = SetDwordOption(handle->hRequest, WINHTTP_OPTION_CONNECT_TIMEOUT, gv_httpConnectionTimeout);
            if (error != 0)
                return FailStep("GetInternetRequestHandle :  Error in WinHttpSetOption --> %d \n", error);
        }
        if (secure) {
            error = IgnoreCertificateErrors(handle->hRequest);
            if (error != 0)
                return FailStep("GetInternetRequestHandle :  Error in WinHttpSetOption --> %d \n", error);
            LogDebug("GetInternetRequestHandle :  The request is updated with the internet option security flags. \n");
        }
        if (useProxy) {
            error = SetProxyCredentials(handle->hRequest, proxyUserName, proxyPassword);
            if (error != 0)
                return FailStep("GetInternetRequestHandle :  Error in WinHttpSetOption --> %d \n", error);
        }

        /* Sending, with at most five counted attempts on this handle set. */
        bool reopen = false;
        int attempts = 0;
        while (attempts < 5) {
            if (getData) {
                error = SetDwordOption(handle->hRequest, WINHTTP_OPTION_RECEIVE_TIMEOUT, gv_httpRequestTimeout);
                if (error != 0)
                    return FailStep("GetInternetRequestHandle :  Error in WinHttpSetOption before send request --> %d \n",
                                    error);
            }
            if (!WinHttpSendRequest(handle->hRequest, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                                    0)) {
                error = GetLastError();
                if (error == ERROR_WINHTTP_LOGIN_FAILURE || error == ERROR_WINHTTP_OPERATION_CANCELLED) {
                    LogInfo("GetInternetRequestHandle : Going to close the request handle and going to resending the "
                            "data to the server %S \n",
                            Printable(host));
                    if (reopens == 0) {
                        reopen = true;
                        break;
                    }
                }
                return FailStep("GetInternetRequestHandle :  Error in WinHttpSendRequest -> %d \n", error);
            }
            if (WinHttpReceiveResponse(handle->hRequest, nullptr))
                break;
            error = GetLastError();
            if (error == ERROR_WINHTTP_RESEND_REQUEST) {
                LogInfo("GetInternetRequestHandle : Resending the data to the server %S \n", Printable(host));
                Sleep(5000);
                ++attempts;
                continue;
            }
            if (error == ERROR_WINHTTP_LOGIN_FAILURE || error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE) {
                LogInfo("GetInternetRequestHandle : Going to close the request handle and going to resending the data "
                        "to the server %S,as the error code received is %d \n",
                        Printable(host), static_cast<int>(error));
                if (reopens == 0) {
                    reopen = true;
                    break;
                }
                ++attempts;
                continue;
            }
            LogInfo("GetInternetRequestHandle :  Error - WinHttpReceiveResponse --> %d \n", static_cast<int>(error));
            HttpGetLastError(error);
            return error;
        }
        if (reopen) {
            /* A new session, connection and request, once per call. */
            DropHandles(handle);
            reopens = 1;
            continue;
        }
        break;
    }

    /* Response headers and status; after five failed attempts there is no
     * response and the header query reports the error. */
    std::wstring headers;
    DWORD error = QueryRawHeaders(handle->hRequest, &headers);
    if (error != 0)
        return FailStep("GetInternetRequestHandle :  Error in WinHttpQueryHeaders --> %d \n", error);
    LogDebug("GetInternetRequestHandle :  Header Informations : \n %S \n", headers.c_str());

    DWORD status = 0;
    error = QueryNumberHeader(handle->hRequest, WINHTTP_QUERY_STATUS_CODE, &status);
    if (error != 0) {
        LogError("GetInternetRequestHandle : WinHttpQueryHeaders failed with the error code while getting http status "
                 "code %d \n",
                 static_cast<int>(error));
        return error;
    }
    handle->statusCode = status;
    if (status == 407) {
        LogError("GetInternetRequestHandle : Proxy Credentials are failed to authenticate %d \n", 407);
        return 407;
    }
    LogDebug("@@@@@@@@ End of GetInternetRequestHandle Method @@@@@@@@ \n");
    return 0;
}

DWORD GetFilelastmodifiedTime(InternetRequestHandle *handle, WCHAR **stored)
{
    LogDebug("@@@@@@@@@@@ Inside GetFilelastmodifiedTime Method   @@@@@@@@@@@@@\n");
    DWORD result = 0;
    DWORD size = 0;
    DWORD error = 0;
    if (!WinHttpQueryHeaders(handle->hRequest, WINHTTP_QUERY_LAST_MODIFIED, WINHTTP_HEADER_NAME_BY_INDEX,
                             WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX))
        error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) {
        LogError("GetFilelastmodifiedTime: Could n't query HEADER for last modified time\n");
        result = error != 0 ? error : static_cast<DWORD>(ERROR_WINHTTP_HEADER_NOT_FOUND);
    } else {
        DWORD bytes = size * 4 + 2;
        WCHAR *text = static_cast<WCHAR *>(calloc(bytes / sizeof(WCHAR) + 1, sizeof(WCHAR)));
        if (text == nullptr) {
            result = ERROR_NOT_ENOUGH_MEMORY;
        } else if (WinHttpQueryHeaders(handle->hRequest, WINHTTP_QUERY_LAST_MODIFIED, WINHTTP_HEADER_NAME_BY_INDEX,
                                       text, &bytes, WINHTTP_NO_HEADER_INDEX)) {
            LogDebug("GetFilelastmodifiedTime : File last modified time: %S\n", text);
            free(*stored);
            *stored = text;
            text = nullptr;
        } else {
            result = GetLastError();
            LogError("GetFilelastmodifiedTime :  Error in Content Length Header -> %d \n", static_cast<int>(result));
            HttpGetLastError(result);
        }
        free(text);
    }
    LogDebug("@@@@@@@@@@@ End of GetFilelastmodifiedTime Method   @@@@@@@@@@@@@\n");
    return result;
}
