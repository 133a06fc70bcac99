/* Helpers shared by the transfer operations; not used outside this folder. */
#pragma once
#include "winapi/winapi.h"

#include <string>

struct InternetRequestHandle;

namespace transfer_detail {

/* ASCII comparison without regard to case; a null text equals nothing. */
bool EqualsNoCase(const char *left, const char *right);
/* "https" in any mix of capitals. */
bool IsHttps(const char *protocol);
/* Length in characters, 0 for a null text. */
size_t WideLength(const WCHAR *text);
/* A printable form for "%s" / "%S" of a text that may be absent. */
const char *Printable(const char *text);
const WCHAR *Printable(const WCHAR *text);

/* Logs a step that ends the call (`format` takes the code), then the code's
 * explanation, and returns the code. */
DWORD FailStep(const char *format, DWORD code);

/* Adds one header line with WINHTTP_ADDREQ_FLAG_ADD; 0 or the Windows error. */
DWORD AddHeaderLine(HINTERNET request, const WCHAR *line);
/* Reads the security flags (a failed read is ignored), adds the four certificate
 * ignore flags and writes them back; 0 or the Windows error of the write. */
DWORD IgnoreCertificateErrors(HINTERNET request);
/* Proxy user name (and password) when the name has at least 2 characters; 0 or
 * the Windows error of the failing option. */
DWORD SetProxyCredentials(HINTERNET request, const WCHAR *userName, const WCHAR *password);
/* A 32-bit option; 0 or the Windows error. */
DWORD SetDwordOption(HINTERNET request, DWORD option, DWORD value);
/* The whole raw header block (WINHTTP_QUERY_RAW_HEADERS_CRLF); 0 or the error. */
DWORD QueryRawHeaders(HINTERNET request, std::wstring *headers);
/* One header as text (a WINHTTP_QUERY_* code); 0 or the error
 * (ERROR_WINHTTP_HEADER_NOT_FOUND when the answer has none). */
DWORD QueryTextHeader(HINTERNET request, DWORD query, std::wstring *text);
/* A numeric header (status code, content length); 0 or the error. */
DWORD QueryNumberHeader(HINTERNET request, DWORD query, DWORD *value);

/* Temporary file of a download: "<destination><thread id>.tmp" beside the
 * destination, or "<TEMP>\vt<thread id>.tmp" for in-memory data. */
std::wstring DestinationTempName(const WCHAR *destinationPath);
std::string DataTempNameNarrow();
/* The in-memory data name in wide form (ANSI code page); empty when it cannot
 * be converted. */
std::wstring DataTempName();

/* The agent name every session announces. */
constexpr WCHAR kAgentName[] = L"VantrelAgent";

/* Body reads are done in slices of at most this many bytes. */
constexpr DWORD kReadSliceBytes = 64 * 1024;

/* The ERROR lines of one operation's body-reading loop (each takes the code). */
struct BodyLoopTexts {
    const char *queryFailed;
    const char *readFailed;
    const char *writeFailed;
    const char *stalled;
};

/* ---- Slow servers ------------------------------------------------------------ */

/* A body that arrives too slowly is given up, whatever the per-read time-outs:
 * nothing at all for `idleLimitMs`, or less than `floorBytesPerSecond` on average
 * over a whole window of kProgressWindowMs. Times are GetTickCount values. */
constexpr DWORD kProgressWindowMs = 10 * 60 * 1000;
/* The floor of a plain download, in bytes per second. */
constexpr DWORD kPlainFloorBytesPerSecond = 1024;

struct ProgressGuard {
    DWORD idleLimitMs;          /* 0: no idle limit */
    DWORD floorBytesPerSecond;  /* 0: no rate floor */
    DWORD windowMs;
    DWORD lastProgress;
    DWORD windowStart;
    unsigned long long windowBytes;
};

void StartProgressGuard(ProgressGuard *guard, DWORD idleLimitMs, DWORD floorBytesPerSecond, DWORD now);
/* The idle clock starts again (a new request after a planned pause). */
void RestartIdleClock(ProgressGuard *guard, DWORD now);
/* Counts bytes that arrived at `now`. */
void NoteProgress(ProgressGuard *guard, DWORD bytes, DWORD now);
/* True when the transfer is to be given up at `now`: nothing arrived for the idle
 * limit, or a window ended below the floor (a window that ends above it starts
 * the next one). */
bool ProgressStalled(ProgressGuard *guard, DWORD now);

/* Appends the response body of `request` to `file`: query what is available,
 * read it (in slices of kReadSliceBytes), write it, until nothing more is
 * available or a read returns no bytes. With stopAtLength the loop also ends when
 * the running total reaches contentLength ("Bytes read reached the contenlength").
 * A failing step is logged with its text and explanation, and its code returned;
 * *total grows by the bytes read. A body the guard finds stalled fails with
 * ERROR_WINHTTP_TIMEOUT. */
DWORD ReadBodyToFile(HINTERNET request, HANDLE file, const BodyLoopTexts &texts, bool logAvailable,
                     bool stopAtLength, DWORD contentLength, ProgressGuard *guard, DWORD *total);

/* Flushes and closes the file when it is open; the handle becomes invalid. 0, or
 * the error of the flush or close (the bytes may not be on disk). */
DWORD CloseTempFile(HANDLE *file);

/* Puts the complete temporary file in place of the destination in one step: a
 * reader of the destination sees the old file or the new one, never part of it,
 * and a symbolic link at the destination is replaced, not written through. 0 or
 * the Windows error (the destination is then untouched). */
DWORD ReplaceDestination(const std::wstring &tempName, const WCHAR *destinationPath);

/* ---- Steps the two downloads share ------------------------------------------ */

/* The log lines of one download operation; each names its operation. */
struct DownloadTexts {
    const char *notModified;  /* INFO, %S: the recorded Last-Modified time */
    const char *statusFailed; /* ERROR, %d: the HTTP status */
    const char *lengthFailed; /* ERROR, %d: the error */
    const char *length;       /* INFO, %u: the Content-Length */
    const char *createFailed; /* ERROR, %d: the error */
    const char *incomplete;   /* ERROR, %u of %u bytes, %d: the result */
    const char *dataNotRead;  /* ERROR */
    BodyLoopTexts body;
};

/* Remembers, for this thread, the Retry-After of an answer that is not a 200
 * (LastRetryAfterSeconds, download_retry.h). */
void RecordRetryAfter(InternetRequestHandle *request);

/* The status of a download's first answer: 304 gives RESULT_NOT_MODIFIED and any
 * status but 200 is returned as it is; on 200 the Last-Modified time is recorded
 * (when enabled) and *contentLength read. 0, or the result (logged). */
DWORD CheckDownloadAnswer(InternetRequestHandle *request, const DownloadTexts &texts, DWORD *contentLength);

/* Creates the download's temporary file `name` (for GET_DATA when the name could
 * be made, else when there is a destination). Whatever stood under the name (an
 * old temporary file, a planted link) is removed first and the file made new,
 * never opened through a link. INVALID_HANDLE_VALUE with *result set to the error
 * (logged) when it cannot. */
HANDLE OpenDownloadTempFile(bool getData, const WCHAR *destinationPath, const std::wstring &name,
                            const DownloadTexts &texts, DWORD *result);

/* 0 when the body held exactly contentLength bytes, else RESULT_TRANSFER_INCOMPLETE
 * (logged): a body cut short, or too long, is not the resource. */
DWORD CheckTransferComplete(DWORD total, DWORD contentLength, const DownloadTexts &texts);

/* GET_DATA: the temporary file read back into *output (LoadDatafromFile); 0, or
 * RESULT_DATA_NOT_READ (logged). */
DWORD LoadDownloadedData(char **output, const DownloadTexts &texts);

}  // namespace transfer_detail
