#include "transfer/internal.h"

#include "agent/settings.h"
#include "log/log.h"
#include "platform/errors.h"
#include "transfer/download.h"
#include "transfer/errors.h"
#include "transfer/routing.h"
#include "transfer/session.h"
#include "util/strings.h"

#include <stdlib.h>
#include <string.h>

#include <vector>

namespace transfer_detail {

bool EqualsNoCase(const char *left, const char *right)
{
    return left != nullptr && right != nullptr && CompareStringsNoCase(left, right) == 0;
}

bool IsHttps(const char *protocol) { return EqualsNoCase(protocol, "https"); }

size_t WideLength(const WCHAR *text) { return text ? wcslen(text) : 0; }

const char *Printable(const char *text) { return text ? text : "(null)"; }
const WCHAR *Printable(const WCHAR *text) { return text ? text : L"(null)"; }

DWORD FailStep(const char *format, DWORD code)
{
    LogError(format, code);
    HttpGetLastError(code);
    return code;
}

DWORD AddHeaderLine(HINTERNET request, const WCHAR *line)
{
    if (!WinHttpAddRequestHeaders(request, line, static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD))
        return GetLastError();
    return 0;
}

DWORD IgnoreCertificateErrors(HINTERNET request)
{
    DWORD flags = 0;
    DWORD size = sizeof(flags);
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, &size))
        flags = 0;
    flags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
             SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
    if (!WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags)))
        return GetLastError();
    return 0;
}

DWORD SetProxyCredentials(HINTERNET request, const WCHAR *userName, const WCHAR *password)
{
    size_t nameLength = WideLength(userName);
    if (nameLength < 2)
        return 0;
    if (!WinHttpSetOption(request, WINHTTP_OPTION_PROXY_USERNAME, const_cast<WCHAR *>(userName),
                          static_cast<DWORD>(nameLength)))
        return GetLastError();
    size_t passwordLength = WideLength(password);
    if (passwordLength >= 2 &&
        !WinHttpSetOption(request, WINHTTP_OPTION_PROXY_PASSWORD, const_cast<WCHAR *>(password),
                          static_cast<DWORD>(passwordLength)))
        return GetLastError();
    return 0;
}

DWORD SetDwordOption(HINTERNET request, DWORD option, DWORD value)
{
    if (!WinHttpSetOption(request, option, &value, sizeof(value)))
        return GetLastError();
    return 0;
}

DWORD QueryRawHeaders(HINTERNET request, std::wstring *headers)
{
    return QueryTextHeader(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, headers);
}

DWORD QueryTextHeader(HINTERNET request, DWORD query, std::wstring *headers)
{
    DWORD size = 0;
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX,
                             WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX)) {
        DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER)
            return error;
    }
    /* size is in bytes; room for a terminator on top. */
    std::vector<WCHAR> text(size / sizeof(WCHAR) + 2, 0);
    DWORD bytes = static_cast<DWORD>(text.size() * sizeof(WCHAR));
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &bytes,
                             WINHTTP_NO_HEADER_INDEX))
        return GetLastError();
    headers->assign(text.data());
    return 0;
}

DWORD QueryNumberHeader(HINTERNET request, DWORD query, DWORD *value)
{
    DWORD number = 0;
    DWORD size = sizeof(number);
    if (!WinHttpQueryHeaders(request, query | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX, &number,
                             &size, WINHTTP_NO_HEADER_INDEX))
        return GetLastError();
    *value = number;
    return 0;
}

std::wstring DestinationTempName(const WCHAR *destinationPath)
{
    std::wstring name = destinationPath ? destinationPath : L"";
    name += std::to_wstring(static_cast<int>(GetCurrentThreadId()));
    name += L".tmp";
    return name;
}

std::string DataTempNameNarrow()
{
    std::string name = gv_tempDir ? gv_tempDir : "";
    name += "\\vt";
    name += std::to_string(static_cast<int>(GetCurrentThreadId()));
    name += ".tmp";
    return name;
}

std::wstring DataTempName()
{
    WCHAR *wide = nullptr;
    std::wstring name;
    if (AnsiToWide(DataTempNameNarrow().c_str(), &wide))
        name = wide;
    free(wide);
    return name;
}

void StartProgressGuard(ProgressGuard *guard, DWORD idleLimitMs, DWORD floorBytesPerSecond, DWORD now)
{
    guard->idleLimitMs = idleLimitMs;
    guard->floorBytesPerSecond = floorBytesPerSecond;
    guard->windowMs = kProgressWindowMs;
    guard->lastProgress = now;
    guard->windowStart = now;
    guard->windowBytes = 0;
}

void RestartIdleClock(ProgressGuard *guard, DWORD now) { guard->lastProgress = now; }

void NoteProgress(ProgressGuard *guard, DWORD bytes, DWORD now)
{
    if (bytes == 0)
        return;
    guard->lastProgress = now;
    guard->windowBytes += bytes;
}

bool ProgressStalled(ProgressGuard *guard, DWORD now)
{
    /* Unsigned differences stay right across the wrap of the tick count. */
    if (guard->idleLimitMs != 0 && now - guard->lastProgress > guard->idleLimitMs)
        return true;
    if (guard->floorBytesPerSecond != 0 && guard->windowMs != 0 && now - guard->windowStart >= guard->windowMs) {
        const unsigned long long elapsed = now - guard->windowStart;
        if (guard->windowBytes * 1000ULL < elapsed * guard->floorBytesPerSecond)
            return true;
        guard->windowStart = now;
        guard->windowBytes = 0;
    }
    return false;
}

DWORD ReadBodyToFile(HINTERNET request, HANDLE file, const BodyLoopTexts &texts, bool logAvailable,
                     bool stopAtLength, DWORD contentLength, ProgressGuard *guard, DWORD *total)
{
    std::vector<char> buffer;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available))
            return FailStep(texts.queryFailed, GetLastError());
        if (logAvailable)
            LogDebug("InternetGetRequestEx: Bytes Available to read now: %u\n", static_cast<unsigned>(available));
        if (available == 0)
            return 0;
        if (guard != nullptr && ProgressStalled(guard, GetTickCount()))
            return FailStep(texts.stalled, ERROR_WINHTTP_TIMEOUT);

        DWORD wanted = available < kReadSliceBytes ? available : kReadSliceBytes;
        if (buffer.size() < static_cast<size_t>(wanted) + 1)
            buffer.resize(static_cast<size_t>(wanted) + 1);
        DWORD got = 0;
        if (!WinHttpReadData(request, buffer.data(), wanted, &got))
            return FailStep(texts.readFailed, GetLastError());
        if (guard != nullptr)
            NoteProgress(guard, got, GetTickCount());
        *total += got;
        if (got > 0) {
            DWORD written = 0;
            if (!WriteFile(file, buffer.data(), got, &written, nullptr) || written != got) {
                DWORD error = GetLastError();
                if (error == 0)
                    error = ERROR_WRITE_FAULT;
                return FailStep(texts.writeFailed, error);
            }
        }
        if (stopAtLength && *total == contentLength) {
            LogInfo("Bytes read reached the contenlength\n");
            return 0;
        }
        if (got == 0)
            return 0;
    }
}

DWORD CloseTempFile(HANDLE *file)
{
    if (*file == INVALID_HANDLE_VALUE || *file == nullptr)
        return 0;
    DWORD result = 0;
    if (!FlushFileBuffers(*file))
        result = GetLastError();
    if (!CloseHandle(*file) && result == 0)
        result = GetLastError();
    *file = INVALID_HANDLE_VALUE;
    return result;
}

DWORD ReplaceDestination(const std::wstring &tempName, const WCHAR *destinationPath)
{
    if (destinationPath == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (!MoveFileExW(tempName.c_str(), destinationPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return GetLastError();
    return 0;
}

DWORD CheckDownloadAnswer(InternetRequestHandle *request, const DownloadTexts &texts, DWORD *contentLength)
{
    RecordRetryAfter(request);
    if (request->statusCode == 304) {
        LogInfo(texts.notModified, Printable(gv_lastModifiedTime));
        return RESULT_NOT_MODIFIED;
    }
    if (request->statusCode != 200) {
        LogError(texts.statusFailed, static_cast<int>(request->statusCode));
        return request->statusCode;
    }
    if (gv_ifModifiedSinceEnabled == 1)
        GetFilelastmodifiedTime(request, &gv_lastModifiedTime);
    DWORD result = QueryNumberHeader(request->hRequest, WINHTTP_QUERY_CONTENT_LENGTH, contentLength);
    if (result != 0)
        return FailStep(texts.lengthFailed, result);
    LogInfo(texts.length, static_cast<unsigned>(*contentLength));
    return 0;
}

HANDLE OpenDownloadTempFile(bool getData, const WCHAR *destinationPath, const std::wstring &name,
                            const DownloadTexts &texts, DWORD *result)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    /* Made new for writing, shared for readers. A link planted under the name is
     * removed (DeleteFileW takes the link, not its target) and the file created
     * afresh, so the bytes never go wherever the link pointed. */
    if (getData ? !name.empty() : destinationPath != nullptr) {
        DeleteFileW(name.c_str());
        file = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    } else
        SetLastError(ERROR_INVALID_PARAMETER);
    if (file == INVALID_HANDLE_VALUE)
        *result = FailStep(texts.createFailed, GetLastError());
    return file;
}

DWORD CheckTransferComplete(DWORD total, DWORD contentLength, const DownloadTexts &texts)
{
    if (total == contentLength)
        return 0;
    DWORD result = RESULT_TRANSFER_INCOMPLETE;
    LogError(texts.incomplete, static_cast<unsigned>(total), static_cast<unsigned>(contentLength),
             static_cast<int>(result));
    HttpGetLastError(result);
    return result;
}

DWORD LoadDownloadedData(char **output, const DownloadTexts &texts)
{
    if (LoadDatafromFile(output) != 1) {
        LogError("%s", texts.dataNotRead);
        return RESULT_DATA_NOT_READ;
    }
    LogDebug("Data in memory : %s\n", *output);
    return 0;
}

}  // namespace transfer_detail
