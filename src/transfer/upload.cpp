#include "transfer/upload.h"

#include "agent/settings.h"
#include "log/log.h"
#include "platform/errors.h"
#include "transfer/errors.h"
#include "transfer/internal.h"
#include "transfer/routing.h"
#include "transfer/session.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <string>

using namespace transfer_detail;

namespace {

/* Headers and options of a (re)opened request; 0 or the code that ends the upload. */
DWORD SetUpRequest(HINTERNET request, bool secure, bool useProxy, const WCHAR *proxyUserName,
                   const WCHAR *proxyPassword, int requestType, bool keepAlive)
{
    DWORD error = AddHeaderLine(request, keepAlive ? L"Connection: Keep-Alive" : L"Connection: close");
    if (error != 0) {
        LogError("InternetSendRequestEx :  Error in WinHttpAddRequestHeaders --> %d \n", static_cast<int>(error));
        HttpGetLastError(error);
    }
    if (requestType == POST_DATA) {
        error = SetDwordOption(request, WINHTTP_OPTION_CONNECT_TIMEOUT, gv_httpConnectionTimeout);
        if (error != 0)
            return FailStep("InternetSendRequestEx :  Error in WinHttpSetOption --> %d \n", error);
    }
    if (secure) {
        error = IgnoreCertificateErrors(request);
        if (error != 0)
            return FailStep("InternetSendRequestEx :  Error in WinHttpSetOption --> %d \n", error);
        LogDebug("InternetSendRequestEx :  The request is updated with the internet option security flags. \n");
    }
    if (useProxy) {
        error = SetProxyCredentials(request, proxyUserName, proxyPassword);
        if (error != 0)
            return FailStep("InternetSendRequestEx :  Error in WinHttpSetOption --> %d \n", error);
    }
    return 0;
}

}  // namespace

DWORD InternetSendRequestEx(bool useProxy, const char *protocol, const WCHAR *host, int port, const WCHAR *proxyHost,
                            const WCHAR *proxyBypass, const WCHAR *proxyUserName, const WCHAR *proxyPassword,
                            const WCHAR *objectPath, const char *body, char **answer, int requestType,
                            bool keepAlive, DWORD bodySize)
{
    /* A caller-given size covers bytes after an embedded zero; otherwise the body is text. */
    const bool sized = requestType == POST_MULTIPART && bodySize != 0;
    const DWORD postSize = body == nullptr ? 0 : sized ? bodySize : static_cast<DWORD>(strlen(body));

    LogDebug("@@@@@@@@ Inside InternetSendRequestEx Method @@@@@@@@ \n");
    LogInfo("InternetSendRequestEx : Vantrel Server & Port -> %S : %d \n", Printable(host), port);
    LogDebug("InternetSendRequestEx : URL to Post -> %S \n", Printable(objectPath));
    if (sized)
        LogDebug("InternetSendRequestEx : Data to Send -> \n %.*s \n",
                 static_cast<int>(postSize < INT_MAX ? postSize : INT_MAX), body);
    else
        LogDebug("InternetSendRequestEx : Data to Send -> \n %s \n", Printable(body));
    if (body == nullptr) {
        LogDebug("@@@@@@@@ End Of InternetSendRequestEx Method @@@@@@@@ \n");
        return ERROR_INVALID_DATA;
    }
    LogDebug("InternetSendRequestEx : dwPostSize: %d \n", static_cast<int>(postSize));

    const bool secure = IsHttps(protocol);
    InternetRequestHandle handles = {};
    DWORD result = 0;

    if (useProxy) {
        LogInfo("InternetSendRequestEx : Proxy Server Name : %S \n", Printable(proxyHost));
        handles.hSession = WinHttpOpen(kAgentName, WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxyHost, proxyBypass, 0);
    } else {
        handles.hSession =
            WinHttpOpen(kAgentName, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    }
    if (handles.hSession == nullptr)
        result = FailStep("InternetSendRequestEx :  Error in WinHttpOpen --> %d \n", GetLastError());

    const DWORD openFlags = WINHTTP_FLAG_REFRESH | (secure ? WINHTTP_FLAG_SECURE : 0);
    if (result == 0) {
        handles.hConnect = WinHttpConnect(handles.hSession, host, static_cast<INTERNET_PORT>(port), 0);
        if (handles.hConnect == nullptr)
            result = FailStep("InternetSendRequestEx :  Error in WinHttpConnect --> %d \n", GetLastError());
    }
    if (result == 0) {
        handles.hRequest = WinHttpOpenRequest(handles.hConnect, L"POST", objectPath, nullptr, WINHTTP_NO_REFERER,
                                             WINHTTP_DEFAULT_ACCEPT_TYPES, openFlags);
        if (handles.hRequest == nullptr)
            result = FailStep("InternetSendRequestEx :  Error in WinHttpOpenRequest --> %d \n", GetLastError());
    }
    if (result == 0)
        result = SetUpRequest(handles.hRequest, secure, useProxy, proxyUserName, proxyPassword, requestType, keepAlive);

    /* Sending: at most five counted attempts; one reopen of the request alone. */
    bool reopened = false;
    int attempts = 0;
    while (result == 0 && attempts < 5) {
        if (requestType == POST_DATA) {
            DWORD error = SetDwordOption(handles.hRequest, WINHTTP_OPTION_RECEIVE_TIMEOUT, gv_httpRequestTimeout);
            if (error != 0) {
                LogError("InternetSendRequestEx :  Error in WinHttpSetOption before send request--> %d \n", static_cast<int>(error));
                HttpGetLastError(error);
            }
        } else if (requestType == POST_MULTIPART) {
            DWORD error = AddHeaderLine(handles.hRequest, L"Content-Type: multipart/form-data");
            if (error != 0) {
                LogError("InternetSendRequestEx :  Error in WinHttpAddRequestHeaders (second Header ) --> %d \n",
                         static_cast<int>(error));
                HttpGetLastError(error);
            }
        }

        bool reopen = false;
        if (!WinHttpSendRequest(handles.hRequest, WINHTTP_NO_ADDITIONAL_HEADERS, 0, const_cast<char *>(body), postSize,
                                postSize, 0)) {
            DWORD error = GetLastError();
            if (error == ERROR_WINHTTP_LOGIN_FAILURE || error == ERROR_WINHTTP_OPERATION_CANCELLED) {
                LogInfo("InternetSendRequestEx : Going to close the request handle and going to resending the data to "
                        "the server %S \n",
                        Printable(host));
                reopen = !reopened;
            }
            if (!reopen) {
                result = FailStep("InternetSendRequestEx :  Error in WinHttpSendRequest -> %d \n", error);
                break;
            }
        } else if (WinHttpReceiveResponse(handles.hRequest, nullptr)) {
            break;
        } else {
            DWORD error = GetLastError();
            if (error == ERROR_WINHTTP_RESEND_REQUEST) {
                LogInfo("InternetSendRequestEx : Resending the data to the server %S \n", Printable(host));
                Sleep(5000);
                ++attempts;
                continue;
            }
            if (error == ERROR_WINHTTP_LOGIN_FAILURE || error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE) {
                LogInfo("InternetSendRequestEx : Going to close the request handle and going to resending the data to "
                        "the server %S,as the error code received is %d \n",
                        Printable(host), static_cast<int>(error));
                if (reopened) {
                    ++attempts;
                    continue;
                }
                reopen = true;
            } else {
                LogInfo("InternetSendRequestEx :  Error - WinHttpReceiveResponse --> %d \n", static_cast<int>(error));
                HttpGetLastError(error);
                result = error;
                break;
            }
        }
        if (reopen) {
            /* Only the request is replaced; connection and session stay. */
            WinHttpCloseHandle(handles.hRequest);
            handles.hRequest = WinHttpOpenRequest(handles.hConnect, L"POST", objectPath, nullptr, WINHTTP_NO_REFERER,
                                                 WINHTTP_DEFAULT_ACCEPT_TYPES, openFlags);
            if (handles.hRequest == nullptr) {
                result = FailStep("InternetSendRequestEx :  Error in WinHttpOpenRequest --> %d \n", GetLastError());
                break;
            }
            reopened = true;
            attempts = 0;
            result = SetUpRequest(handles.hRequest, secure, useProxy, proxyUserName, proxyPassword, requestType,
                                  keepAlive);
        }
    }
    if (result == 0) {
        std::wstring headers;
        DWORD error = QueryRawHeaders(handles.hRequest, &headers);
        if (error != 0) {
            result = FailStep("InternetSendRequestEx :  Error in WinHttpQueryHeaders --> %d \n", error);
        } else {
            LogDebug("InternetSendRequestEx :  Header Informations : \n %S \n", headers.c_str());
            DWORD status = 0;
            error = QueryNumberHeader(handles.hRequest, WINHTTP_QUERY_STATUS_CODE, &status);
            if (error != 0) {
                LogError("InternetSendRequestEx : WinHttpQueryHeaders failed with the error code while getting http "
                         "status code %d \n",
                         static_cast<int>(error));
                result = error;
            } else if (status == 407) {
                LogError("InternetSendRequestEx : Proxy Credentials are failed to authenticate %d \n", 407);
                result = 407;
            } else if (status == 200) {
                LogInfo("InternetSendRequestEx : Successfully posted the data to the server %S \n", Printable(host));
                if (answer != nullptr) {
                    LogInfo("InternetSendRequestEx : Reading the response sent by the server %S \n", Printable(host));
                    DWORD contentLength = 0;
                    error = QueryNumberHeader(handles.hRequest, WINHTTP_QUERY_CONTENT_LENGTH, &contentLength);
                    if (error != 0) {
                        result = FailStep("InternetSendRequestEx :  WinHttpQueryHeaders failed with the error code "
                                          "while getting content length -> %d \n",
                                          error);
                    } else {
                        const size_t capacity = (static_cast<size_t>(contentLength) + 2) * 4 + 4;
                        char *buffer = static_cast<char *>(calloc(capacity, 1));
                        if (buffer == nullptr) {
                            result = ERROR_NOT_ENOUGH_MEMORY;
                        } else {
                            *answer = buffer;
                            /* Chunks follow each other; the last byte stays a terminator. */
                            size_t used = 0;
                            for (;;) {
                                size_t room = capacity - 1 - used;
                                size_t wanted = static_cast<size_t>(contentLength) + 2;
                                if (wanted > room)
                                    wanted = room;
                                DWORD got = 0;
                                if (wanted == 0 ||
                                    !WinHttpReadData(handles.hRequest, buffer + used, static_cast<DWORD>(wanted), &got) ||
                                    got == 0)
                                    break;
                                used += got;
                                LogDebug("InternetSendRequestEx : Received response from server %S: \n %s \n",
                                         Printable(host), buffer);
                                LogDebug("InternetSendRequestEx :  No Of Bytes -> %d \n", static_cast<int>(got));
                            }
                        }
                    }
                }
            } else {
                char *hostText = nullptr;
                if (host == nullptr || !WideToUtf8(host, &hostText)) {
                    free(hostText);
                    hostText = nullptr;
                }
                LogError("InternetSendRequestEx : Failed to post the data to the server %s with http status code %d \n",
                         Printable(hostText), static_cast<int>(status));
                free(hostText);
                result = status;
            }
        }
    }

    CloseRequestHandles(&handles, "InternetSendRequestEx");
    LogDebug("@@@@@@@@ End Of InternetSendRequestEx Method @@@@@@@@ \n");
    return result;
}
