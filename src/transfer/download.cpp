#include "transfer/download.h"

#include "agent/settings.h"
#include "log/log.h"
#include "platform/files.h"
#include "transfer/errors.h"
#include "transfer/internal.h"
#include "transfer/routing.h"
#include "transfer/session.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

using namespace transfer_detail;

int LoadDatafromFile(char **data)
{
    std::string name = DataTempNameNarrow();
    LogDebug("LoadDatafromFile: tmpDataFilePath, %s\n", name.c_str());
    if (data == nullptr)
        return 0;
    FILE *file = fopen(WaCrtPath(name.c_str()).c_str(), "rb");
    if (file == nullptr)
        return 0;
    long size = 0;
    if (fseek(file, 0, SEEK_END) == 0)
        size = ftell(file);
    if (size < 0)
        size = 0;
    fseek(file, 0, SEEK_SET);
    char *buffer = static_cast<char *>(calloc(static_cast<size_t>(size) + 1, 1));
    if (buffer == nullptr) {
        fclose(file);
        return 0;
    }
    size_t got = fread(buffer, 1, static_cast<size_t>(size), file);
    fclose(file);
    /* The text as a text-mode read gives it on Windows: each CR LF becomes LF. */
    size_t kept = 0;
    for (size_t i = 0; i < got; ++i) {
        if (buffer[i] == '\r' && i + 1 < got && buffer[i + 1] == '\n')
            continue;
        buffer[kept++] = buffer[i];
    }
    memset(buffer + kept, 0, got - kept);
    *data = buffer;
    return 1;
}

namespace {

const DownloadTexts kTexts = {
    "InternetGetRequestEx :File not modified since the time: %S\n",
    "InternetGetRequestEx : Failed with the http status code, %d \n",
    "InternetGetRequestEx :  Error in Content Length Header -> %d \n",
    "InternetGetRequestEx : Content Length of the request file: %u Bytes\n",
    "InternetGetRequestEx : Error occured while creating the file --> %d \n",
    "InternetGetRequestEx : The transfer ended after %u of %u bytes --> %d \n",
    "InternetGetRequestEx: could n't read the data from .tmp file \n",
    {
        "InternetGetRequestEx : Error occured in WinHttpQueryDataAvailable --> %d \n",
        "InternetGetRequestEx :  Error in WinHttpReadData --> %d \n",
        "InternetGetRequestEx :  Error in WriteFile --> %d \n",
        "InternetGetRequestEx : The server sends too slowly, the transfer is given up --> %d \n",
    },
};

}  // namespace

DWORD InternetGetRequestEx(bool useProxy, const char *protocol, const WCHAR *host, int port, const WCHAR *proxyHost,
                           const WCHAR *proxyBypass, const WCHAR *proxyUserName, const WCHAR *proxyPassword,
                           const WCHAR *objectPath, const WCHAR *destinationPath, char **output, int requestType,
                           bool keepAlive)
{
    LogDebug("@@@@@@@@ Inside InternetGetRequestEx Method @@@@@@@@ \n");
    LogInfo("InternetGetRequestEx : Vantrel Server & Port -> %S : %d \n", Printable(host), port);
    LogDebug("InternetGetRequestEx : URL to Get -> %S \n", Printable(objectPath));

    const bool getData = requestType == GET_DATA;
    InternetRequestHandle request = {};
    request.requestMode = REQUEST_MODE_GET;
    std::wstring tempName;
    bool haveTempName = false;
    DWORD contentLength = 0;

    DWORD result = GetInternetRequestHandle(useProxy, protocol, host, port, proxyHost, proxyBypass, proxyUserName,
                                            proxyPassword, objectPath, destinationPath, output, requestType,
                                            keepAlive, &request);
    if (result == 0)
        result = CheckDownloadAnswer(&request, kTexts, &contentLength);
    if (result == 0) {
        if (getData) {
            tempName = DataTempName();
        } else if (destinationPath != nullptr) {
            if (CreateFolder(destinationPath, nullptr) != 0)
                LogError("InternetGetRequestEx : Failed to create the destination directory for the "
                         "destination file %S \n",
                         Printable(destinationPath));
            tempName = DestinationTempName(destinationPath);
        }
        HANDLE file = OpenDownloadTempFile(getData, destinationPath, tempName, kTexts, &result);
        if (file != INVALID_HANDLE_VALUE) {
            haveTempName = true;
            DWORD total = 0;
            ProgressGuard guard;
            StartProgressGuard(&guard, gv_httpRequestTimeout, kPlainFloorBytesPerSecond, GetTickCount());
            result = ReadBodyToFile(request.hRequest, file, kTexts.body, true, true, contentLength, &guard, &total);
            if (result == 0) {
                LogInfo("InternetGetRequestEx: Total bytes readed = %u\n", static_cast<unsigned>(total));
                result = CheckTransferComplete(total, contentLength, kTexts);
            }
            /* The bytes must be on disk before the file takes the destination's name. */
            const DWORD closed = CloseTempFile(&file);
            if (result == 0 && closed != 0)
                result = FailStep(kTexts.body.writeFailed, closed);
        }
    }

    CloseRequestHandles(&request, "InternetGetRequestEx");

    if (result == 0) {
        if (getData) {
            result = LoadDownloadedData(output, kTexts);
        } else if ((result = ReplaceDestination(tempName, destinationPath)) == 0) {
            LogInfo("InternetGetRequestEx : Successfully downloaded the file %S from the server %S to the destination "
                    "file %S \n",
                    Printable(objectPath), Printable(host), Printable(destinationPath));
        } else {
            LogError("InternetGetRequestEx : could n't copy from %S file to %S ,\n", tempName.c_str(),
                     Printable(destinationPath));
        }
    }

    if (haveTempName)
        DeleteFileW(tempName.c_str());
    LogDebug("@@@@@@@@ End Of InternetGetRequestEx Method @@@@@@@@ \n");
    return result;
}
