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
};

/* Appends the response body of `request` to `file`: query what is available,
 * read it (in slices of kReadSliceBytes), write it, until nothing more is
 * available or a read returns no bytes. With stopAtLength the loop also ends when
 * the running total reaches contentLength ("Bytes read reached the contenlength").
 * A failing step is logged with its text and explanation, and its code returned;
 * *total grows by the bytes read. */
DWORD ReadBodyToFile(HINTERNET request, HANDLE file, const BodyLoopTexts &texts, bool logAvailable,
                     bool stopAtLength, DWORD contentLength, DWORD *total);

/* Flushes and closes the file when it is open; the handle becomes invalid. */
void CloseTempFile(HANDLE *file);

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
 * be made, else when there is a destination). INVALID_HANDLE_VALUE with *result
 * set to the error (logged) when it cannot. */
HANDLE OpenDownloadTempFile(bool getData, const WCHAR *destinationPath, const std::wstring &name,
                            const DownloadTexts &texts, DWORD *result);

/* 0 when the body held exactly contentLength bytes, else RESULT_TRANSFER_INCOMPLETE
 * (logged): a body cut short, or too long, is not the resource. */
DWORD CheckTransferComplete(DWORD total, DWORD contentLength, const DownloadTexts &texts);

/* GET_DATA: the temporary file read back into *output (LoadDatafromFile); 0, or
 * RESULT_DATA_NOT_READ (logged). */
DWORD LoadDownloadedData(char **output, const DownloadTexts &texts);

}  // namespace transfer_detail
