#include "transfer/download.h"

#include "agent/settings.h"
#include "log/log.h"
#include "transfer/errors.h"
#include "transfer/internal.h"
#include "transfer/routing.h"
#include "transfer/session.h"

#include <stdint.h>
#include <stdio.h>

#include <string>

using namespace transfer_detail;

namespace {

/* Pause after a range so that each range takes at least 600 ms; a range that
 * took 450 ms or more (or a clock that went backwards) is followed by 100 ms. */
DWORD PauseAfterRange(const SYSTEMTIME &start, const SYSTEMTIME &end)
{
    long startSeconds = start.wHour * 3600L + start.wMinute * 60L + start.wSecond;
    long endSeconds = end.wHour * 3600L + end.wMinute * 60L + end.wSecond;
    long elapsed = (endSeconds - startSeconds) * 1000L + (static_cast<long>(end.wMilliseconds) - start.wMilliseconds);
    if (elapsed >= 0 && elapsed <= 449)
        return static_cast<DWORD>(600 - elapsed);
    return 100;
}

const DownloadTexts kTexts = {
    "InternetGetRequestByBitrate : File not modified since the time: %S\n",
    "InternetGetRequestByBitrate : Failed with the http status code: %d \n",
    "InternetGetRequestByBitrate :  Error in Content Length Header -> %d \n",
    "InternetGetRequestByBitrate : Content Length of the request file: %u Bytes\n",
    "InternetGetRequestByBitrate: Error occured while creating the file --> %d \n",
    "InternetGetRequestByBitrate : The transfer ended after %u of %u bytes --> %d \n",
    "InternetGetRequestByBitrate: could n't read the data from .tmp file \n",
    {
        "InternetGetRequestByBitrate : Error occured in WinHttpQueryDataAvailable --> %d \n",
        "InternetGetRequestByBitrate :  Error in WinHttpReadData --> %d \n",
        "InternetGetRequestByBitrate :  Error in WriteFile --> %d \n",
        "InternetGetRequestByBitrate : The server sends too slowly, the transfer is given up --> %d \n",
    },
};

/* "bytes <first>-<last>/<length>", blanks allowed around the parts; false for
 * anything else (also "*" for an unknown length). */
bool ParseContentRange(const std::wstring &text, uint64_t *first, uint64_t *last, uint64_t *length)
{
    size_t i = 0;
    auto blanks = [&]() {
        while (i < text.size() && (text[i] == L' ' || text[i] == L'\t'))
            ++i;
    };
    auto number = [&](uint64_t *value) {
        blanks();
        const size_t start = i;
        *value = 0;
        for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
            if (*value > (UINT64_MAX - 9) / 10)
                return false;
            *value = *value * 10 + static_cast<uint64_t>(text[i] - L'0');
        }
        blanks();
        return i > start;
    };
    blanks();
    if (text.compare(i, 5, L"bytes") != 0)
        return false;
    i += 5;
    if (!number(first) || i >= text.size() || text[i++] != L'-' || !number(last) || i >= text.size() ||
        text[i++] != L'/' || !number(length))
        return false;
    return i == text.size();
}

/* A 206 answer must carry exactly the range asked for, of the resource whose
 * length the HEAD answer gave: the first byte asked for, the last one (the end
 * asked for, or the resource's last byte when that comes first) and the length.
 * A server that sends other bytes, or none to say which, would put them in the
 * wrong place. 0, or RESULT_TRANSFER_INCOMPLETE (logged). */
DWORD CheckContentRange(HINTERNET request, uint64_t rangeStart, uint64_t rangeEnd, DWORD contentLength,
                        uint64_t *expectedBytes)
{
    std::wstring text;
    uint64_t first = 0, last = 0, length = 0;
    const uint64_t wantLast = rangeEnd < contentLength ? rangeEnd : static_cast<uint64_t>(contentLength) - 1;
    *expectedBytes = wantLast - rangeStart + 1;
    if (QueryTextHeader(request, WINHTTP_QUERY_CONTENT_RANGE, &text) == 0 &&
        ParseContentRange(text, &first, &last, &length) && first == rangeStart && last == wantLast &&
        length == contentLength)
        return 0;
    const DWORD result = RESULT_TRANSFER_INCOMPLETE;
    LogError("InternetGetRequestByBitrate : The answer holds other bytes than bytes=%u-%u of %u (Content-Range: %S) "
             "--> %d \n",
             static_cast<unsigned>(rangeStart), static_cast<unsigned>(wantLast), static_cast<unsigned>(contentLength),
             text.empty() ? L"(none)" : text.c_str(), static_cast<int>(result));
    HttpGetLastError(result);
    return result;
}

}  // namespace

DWORD InternetGetRequestByBitrate(bool useProxy, const char *protocol, const WCHAR *host, int port,
                                  const WCHAR *proxyHost, const WCHAR *proxyBypass, const WCHAR *proxyUserName,
                                  const WCHAR *proxyPassword, const WCHAR *objectPath, const WCHAR *destinationPath,
                                  char **output, int requestType, bool /*keepAlive*/)
{
    LogDebug("@@@@@@@@ Inside InternetGetRequestByBitrate Method @@@@@@@@ \n");
    LogInfo("InternetGetRequestByBitrate : Vantrel Server & Port -> %S : %d \n", Printable(host), port);
    LogDebug("InternetGetRequestByBitrate : URL to Get -> %S \n", Printable(objectPath));

    const bool getData = requestType == GET_DATA;
    DWORD total = 0;
    DWORD contentLength = 0;
    std::wstring tempName;
    bool haveTempName = false;

    /* The size, from a HEAD request. */
    InternetRequestHandle head = {};
    head.requestMode = REQUEST_MODE_HEAD;
    DWORD result = GetInternetRequestHandle(useProxy, protocol, host, port, proxyHost, proxyBypass, proxyUserName,
                                            proxyPassword, objectPath, destinationPath, output, requestType, true,
                                            &head);
    if (result == 0) {
        result = CheckDownloadAnswer(&head, kTexts, &contentLength);
        if (result == 0)
            CloseRequestHandles(&head, "InternetGetRequestByBitrate");
    }

    HANDLE file = INVALID_HANDLE_VALUE;
    if (result == 0) {
        /* No destination folder is made here: a missing folder fails the creation. */
        tempName = getData ? DataTempName() : DestinationTempName(destinationPath);
        file = OpenDownloadTempFile(getData, destinationPath, tempName, kTexts, &result);
        haveTempName = file != INVALID_HANDLE_VALUE;
    }

    if (result == 0) {
        const uint64_t block = gv_dataTransferRateKBps > 0 ? static_cast<uint64_t>(gv_dataTransferRateKBps) * 500 : 0;
        LogDebug("InternetGetRequestByBitrate: Block of bytes to read: %u\n", static_cast<unsigned>(block));
        if (block == 0 && contentLength > 0) {
            /* Without a rate there is no block size: the ranges would never advance. */
            result = ERROR_INVALID_PARAMETER;
            LogError("InternetGetRequestByBitrate : No data transfer rate is set --> %d \n", static_cast<int>(result));
        }
        uint64_t requested = 0;
        uint64_t rangeStart = 0;
        bool first = true;
        /* The pauses keep the rate near 0.83 x the ceiling; a tenth of it is a
         * server that has all but stopped. */
        ProgressGuard guard;
        StartProgressGuard(&guard, gv_httpRequestTimeout, static_cast<DWORD>(block / 5), GetTickCount());
        /* The ranges are 0-B, B+1-2B, 2B+1-3B...; the last one ends at the content
         * length. A range is requested only while bytes remain after the last one. */
        while (result == 0 && contentLength > 0 && (first || requested + 1 < contentLength)) {
            SYSTEMTIME start;
            GetLocalTime(&start);
            if (!first)
                rangeStart = requested + 1;
            first = false;
            requested += block;
            unsigned rangeEnd = static_cast<unsigned>(requested < contentLength ? requested : contentLength);
            WCHAR rangeLine[200];
            swprintf(rangeLine, sizeof(rangeLine) / sizeof(rangeLine[0]), L"Range: bytes=%u-%u",
                     static_cast<unsigned>(rangeStart), rangeEnd);
            LogDebug("InternetGetRequestByBitrate: Content-Range Header message: %S\n", rangeLine);

            InternetRequestHandle range = {};
            range.requestMode = REQUEST_MODE_RANGE;
            range.extraHeader = rangeLine;
            result = GetInternetRequestHandle(useProxy, protocol, host, port, proxyHost, proxyBypass, proxyUserName,
                                              proxyPassword, objectPath, destinationPath, output, requestType, true,
                                              &range);
            bool wholeBody = false;
            uint64_t expected = 0;
            if (result == 0) {
                if (range.statusCode == 206) {
                    result = CheckContentRange(range.hRequest, rangeStart, rangeEnd, contentLength, &expected);
                } else if (range.statusCode == 200) {
                    /* The server ignored the range and sent the whole body: the file
                     * is that body, once, and the download is complete. */
                    wholeBody = true;
                    CloseTempFile(&file);
                    file = OpenDownloadTempFile(getData, destinationPath, tempName, kTexts, &result);
                    total = 0;
                } else if (range.statusCode != 206) {
                    LogError("InternetGetRequestByBitrate : Failed with the http status code %d \n", static_cast<int>(range.statusCode));
                    result = range.statusCode;
                }
            }
            if (result == 0) {
                const DWORD before = total;
                RestartIdleClock(&guard, GetTickCount());
                result = ReadBodyToFile(range.hRequest, file, kTexts.body, false, false, contentLength, &guard,
                                        &total);
                /* A range holds exactly the bytes its Content-Range names. */
                if (result == 0 && !wholeBody && total - before != expected) {
                    result = RESULT_TRANSFER_INCOMPLETE;
                    LogError(kTexts.incomplete, static_cast<unsigned>(total - before), static_cast<unsigned>(expected),
                             static_cast<int>(result));
                    HttpGetLastError(result);
                }
            }
            if (result != 0) {
                CloseRequestHandles(&range, "InternetGetRequestByBitrate");
                break;
            }
            LogDebug("InternetGetRequestByBitrate: Bytes Readed: %d\n", static_cast<int>(requested));
            CloseRequestHandles(&range, "InternetGetRequestByBitrate");

            SYSTEMTIME end;
            GetLocalTime(&end);
            Sleep(PauseAfterRange(start, end));
            if (wholeBody)
                break;
        }
        /* The bytes must be on disk before the file takes the destination's name. */
        const DWORD closed = CloseTempFile(&file);
        if (result == 0 && closed != 0)
            result = FailStep(kTexts.body.writeFailed, closed);
    }

    LogInfo("InternetGetRequestByBitrate: Total bytes readed = %u\n", static_cast<unsigned>(total));
    CloseRequestHandles(&head, "InternetGetRequestByBitrate");
    if (result == 0)
        result = CheckTransferComplete(total, contentLength, kTexts);

    if (result == 0) {
        if (getData) {
            result = LoadDownloadedData(output, kTexts);
        } else if ((result = ReplaceDestination(tempName, destinationPath)) == 0) {
            LogInfo("InternetGetRequestByBitrate : Successfully downloaded the file %S from the server %S\n",
                    Printable(objectPath), Printable(host));
        } else {
            LogError("InternetGetRequestByBitrate : could n't copy from .tmp file, errorcode --> %d \n", static_cast<int>(result));
        }
    }

    if (haveTempName)
        DeleteFileW(tempName.c_str());
    LogDebug("@@@@@@@@ End Of InternetGetRequestByBitrate Method @@@@@@@@ \n");
    return result;
}
