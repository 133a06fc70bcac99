#include "transfer/download_retry.h"

#include "log/log.h"
#include "transfer/internal.h"
#include "transfer/routing.h"
#include "transfer/session.h"

#include <wctype.h>

namespace {

/* Pause before the second, third and fourth attempt. */
const DWORD kRetryPauseMs[DOWNLOAD_ATTEMPTS - 1] = {1000, 2000, 4000};

thread_local long tRetryAfterSeconds = -1;

}  // namespace

namespace transfer_detail {

void RecordRetryAfter(InternetRequestHandle *request)
{
    tRetryAfterSeconds = -1;
    if (request->statusCode == 200 || request->hRequest == nullptr)
        return;
    WCHAR text[64] = {0};
    DWORD bytes = sizeof(text) - sizeof(WCHAR);
    if (!WinHttpQueryHeaders(request->hRequest, WINHTTP_QUERY_RETRY_AFTER, WINHTTP_HEADER_NAME_BY_INDEX, text,
                             &bytes, WINHTTP_NO_HEADER_INDEX))
        return;
    /* Delta-seconds: digits alone, kept below a day so nothing overflows. An HTTP
     * date is not followed. */
    long seconds = 0;
    const WCHAR *p = text;
    while (*p == L' ' || *p == L'\t')
        ++p;
    if (!iswdigit(*p))
        return;
    for (; iswdigit(*p); ++p)
        if (seconds < 86400)
            seconds = seconds * 10 + (*p - L'0');
    while (*p == L' ' || *p == L'\t')
        ++p;
    if (*p == L'\0')
        tRetryAfterSeconds = seconds;
}

}  // namespace transfer_detail

bool IsTransientDownloadResult(DWORD result)
{
    switch (result) {
    case ERROR_WINHTTP_TIMEOUT:
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case 408:
    case 429:
    case 500:
    case 502:
    case 503:
    case 504:
        return true;
    default:
        return false;
    }
}

long LastRetryAfterSeconds(void) { return tRetryAfterSeconds; }

DWORD AgentDownloadFileWithRetries(const char *url, const char *destinationPath, bool keepAlive)
{
    const char *name = transfer_detail::Printable(url);
    for (int attempt = 1;; ++attempt) {
        tRetryAfterSeconds = -1;
        const DWORD result = AgentDownloadFile(url, destinationPath, keepAlive);
        if (result == 0 || !IsTransientDownloadResult(result))
            return result;
        if (attempt == DOWNLOAD_ATTEMPTS) {
            LogError("AgentDownloadFileWithRetries : %s still failed with %d after %d attempts; giving up \n", name,
                     static_cast<int>(result), attempt);
            return result;
        }
        /* A Retry-After belongs to an HTTP answer, never to a connection failure. */
        const long asked = result < 1000 ? tRetryAfterSeconds : -1;
        const bool honoured = asked >= 0 && asked <= DOWNLOAD_RETRY_AFTER_MAX;
        const DWORD pause = honoured ? static_cast<DWORD>(asked) * 1000 : kRetryPauseMs[attempt - 1];
        LogInfo("AgentDownloadFileWithRetries : %s failed with %d on attempt %d of %d; trying again in %u seconds%s \n",
                name, static_cast<int>(result), attempt, DOWNLOAD_ATTEMPTS, static_cast<unsigned>(pause / 1000),
                honoured ? " (Retry-After)" : "");
        Sleep(pause);
    }
}
