/*
 * WinHTTP stand-in: the network transfer of a request, on libcurl.
 *
 * Every request handle owns one curl easy handle inside its own multi handle.
 * WinHttpSendRequest starts the transfer and drives it until the request is on
 * the wire; WinHttpReceiveResponse drives it until the final header block has
 * arrived; WinHttpQueryDataAvailable / WinHttpReadData drive it until body bytes
 * are there. Body bytes wait in a small per-request inbox; when the inbox is
 * full the write callback pauses the transfer, and reading resumes it, so a
 * body is never held whole in memory.
 *
 * Internal helpers return a Win32/WinHTTP error code (0 for success); each
 * exported function sets the last error from it.
 */
#include "winapi/wa_winhttp_hooks.h"
#include "winapi/winhttp_internal.h"
#include "winapi/winhttp_objects.h"

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <strings.h>

namespace wa::winhttp {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kInboxLimit = wa_test::kWinHttpBodyBufferLimit;

int gv_sslFlagsIndex = -1;

void ResetTransfer(Request &r) {
    if (r.easy) {
        if (r.multi) curl_multi_remove_handle(r.multi, r.easy);
        curl_easy_cleanup(r.easy);
        r.easy = nullptr;
    }
    if (r.multi) {
        curl_multi_cleanup(r.multi);
        r.multi = nullptr;
    }
    curl_slist_free_all(r.curlHeaders);
    r.curlHeaders = nullptr;
    if (r.Unread()) wa::NoteWinHttpBuffered(-static_cast<long long>(r.Unread()));
    r.inbox.clear();
    r.inbox.shrink_to_fit();
    r.inboxOff = 0;
    r.state = Request::State::Opened;
    r.prereqFired = r.finished = r.paused = false;
    r.onWire = r.inTunnelBlock = r.headersComplete = false;
    r.result = CURLE_OK;
    r.abortError = 0;
    r.uploaded = 0;
    r.statusLine.clear();
    r.status = 0;
    r.lines.clear();
    r.tunnelStatusLine.clear();
    r.tunnelStatus = 0;
    r.tunnelLines.clear();
}

/* ---- curl callbacks ------------------------------------------------------------------------- */

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

size_t HeaderCallback(char *data, size_t size, size_t count, void *user) {
    Request &r = *static_cast<Request *>(user);
    const size_t length = size * count;
    ++r.activity;
    std::string line(data, length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.compare(0, 5, "HTTP/") == 0) {
        size_t sp = line.find(' ');
        int status = sp == std::string::npos ? 0 : atoi(line.c_str() + sp + 1);
        if (!r.onWire) {
            /* Before the request is out, only a proxy's CONNECT answer can arrive. */
            r.inTunnelBlock = true;
            r.tunnelStatusLine = line;
            r.tunnelStatus = status;
            r.tunnelLines.clear();
        } else {
            r.statusLine = line;
            r.status = status;
            r.lines.clear();
            r.headersComplete = false;
        }
        return length;
    }
    if (line.empty()) {
        if (r.inTunnelBlock) {
            r.inTunnelBlock = false;
            return length;
        }
        if (r.statusLine.empty() || r.status / 100 == 1) return length;
        if (IsRedirect(r.status)) {
            /* curl follows it when it names a Location; the next block is the
             * answer, possibly after a new connection and tunnel. */
            for (const std::string &l : r.lines) {
                if (l.size() > 9 && strncasecmp(l.c_str(), "Location:", 9) == 0) {
                    r.onWire = false;
                    return length;
                }
            }
        }
        r.headersComplete = true;
        return length;
    }
    if (r.inTunnelBlock)
        r.tunnelLines.push_back(line);
    else if (!r.statusLine.empty())
        r.lines.push_back(line);
    return length;
}

size_t WriteCallback(char *data, size_t size, size_t count, void *user) {
    Request &r = *static_cast<Request *>(user);
    const size_t length = size * count;
    ++r.activity;
    const size_t unread = r.Unread();
    if (unread > 0 && unread + length > kInboxLimit) {
        r.paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (r.inboxOff > 0) {
        r.inbox.erase(0, r.inboxOff);
        r.inboxOff = 0;
    }
    r.inbox.append(data, length);
    wa::NoteWinHttpBuffered(static_cast<long long>(length));
    return length;
}

int ProgressCallback(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t ulnow) {
    Request &r = *static_cast<Request *>(user);
    if (ulnow != r.uploaded) {
        r.uploaded = ulnow;
        ++r.activity;
    }
    return 0;
}

int PrereqCallback(void *user, char *, char *, int, int) {
    Request &r = *static_cast<Request *>(user);
    r.prereqFired = true;
    r.onWire = true;
    ++r.activity;
    return CURL_PREREQFUNC_OK;
}

/* Certificate problems the request's security flags allow are cleared. */
int VerifyCallback(int ok, X509_STORE_CTX *store) {
    if (ok) return 1;
    SSL *ssl = static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    DWORD flags = 0;
    if (ssl && gv_sslFlagsIndex >= 0)
        flags = static_cast<DWORD>(
            reinterpret_cast<uintptr_t>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), gv_sslFlagsIndex)));
    DWORD needed = 0;
    switch (X509_STORE_CTX_get_error(store)) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        needed = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        break;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        needed = SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
        break;
    case X509_V_ERR_INVALID_PURPOSE:
        needed = SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
        break;
    default:
        return 0;
    }
    if (!(flags & needed)) return 0;
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
}

CURLcode SslContextCallback(CURL *, void *context, void *user) {
    SSL_CTX *ctx = static_cast<SSL_CTX *>(context);
    const Request &r = *static_cast<const Request *>(user);
    SSL_CTX_set_ex_data(ctx, gv_sslFlagsIndex, reinterpret_cast<void *>(static_cast<uintptr_t>(r.securityFlags)));
    SSL_CTX_set_verify(ctx, SSL_CTX_get_verify_mode(ctx), VerifyCallback);
    return CURLE_OK;
}

/* ---- Transfer ---------------------------------------------------------------------------- */

long CurlMillis(DWORD ms) {
    if (ms == INFINITE || ms == 0 || ms > static_cast<DWORD>(LONG_MAX)) return LONG_MAX;
    return static_cast<long>(ms);
}

DWORD StartTransfer(Request &r) {
    const Connection &c = *r.connection;
    const Session &s = *c.session;
    const bool secure = (r.flags & WINHTTP_FLAG_SECURE) != 0;
    r.easy = curl_easy_init();
    r.multi = curl_multi_init();
    if (!r.easy || !r.multi) return ERROR_NOT_ENOUGH_MEMORY;
    CURL *e = r.easy;
    curl_easy_setopt(e, CURLOPT_URL, r.url.c_str());
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, (long)CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");

    const bool hasBody = !r.body.empty() || r.verb == "POST" || r.verb == "PUT";
    if (r.verb == "HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (hasBody) {
        curl_easy_setopt(e, CURLOPT_POST, 1L);
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.body.data());
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body.size()));
        if (r.verb != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.verb.c_str());
    } else if (r.verb == "GET") {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.verb.c_str());
    }

    /* Only the headers the caller asked for, plus what HTTP itself needs. */
    std::vector<std::string> lines;
    for (const Header &h : r.headers) lines.push_back(h.name + ": " + h.value);
    if (FindHeader(r.headers, "Accept") < 0) lines.push_back(r.accept.empty() ? "Accept:" : "Accept: " + r.accept);
    if (hasBody && FindHeader(r.headers, "Content-Type") < 0) lines.push_back("Content-Type:");
    if (FindHeader(r.headers, "Expect") < 0) lines.push_back("Expect:");
    if (r.flags & WINHTTP_FLAG_REFRESH) {
        if (FindHeader(r.headers, "Pragma") < 0) lines.push_back("Pragma: no-cache");
        if (FindHeader(r.headers, "Cache-Control") < 0) lines.push_back("Cache-Control: no-cache");
    }
    for (const std::string &l : lines) {
        curl_slist *next = curl_slist_append(r.curlHeaders, l.c_str());
        if (!next) return ERROR_NOT_ENOUGH_MEMORY;
        r.curlHeaders = next;
    }
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, r.curlHeaders);
    if (!s.agent.empty()) curl_easy_setopt(e, CURLOPT_USERAGENT, s.agent.c_str());

    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, HeaderCallback);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &r);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, WriteCallback);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &r);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, ProgressCallback);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &r);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, PrereqCallback);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, &r);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, CurlMillis(r.timeouts.connect));

    /* An empty proxy also keeps curl from reading the environment's proxies. */
    const std::string proxy = ProxyFor(s, c.host, secure);
    curl_easy_setopt(e, CURLOPT_PROXY, proxy.c_str());
    if (!proxy.empty()) {
        curl_easy_setopt(e, CURLOPT_PROXYTYPE, (long)CURLPROXY_HTTP);
        curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 0L);
        if (!r.proxyUser.empty()) {
            curl_easy_setopt(e, CURLOPT_PROXYAUTH, (long)CURLAUTH_BASIC);
            curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, r.proxyUser.c_str());
            curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, r.proxyPassword.c_str());
        }
    }
    if (!r.user.empty()) {
        curl_easy_setopt(e, CURLOPT_HTTPAUTH, (long)CURLAUTH_BASIC);
        curl_easy_setopt(e, CURLOPT_USERNAME, r.user.c_str());
        curl_easy_setopt(e, CURLOPT_PASSWORD, r.password.c_str());
    }
    if (secure) {
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST,
                         (r.securityFlags & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) ? 0L : 2L);
        curl_easy_setopt(e, CURLOPT_SSL_SESSIONID_CACHE, 0L);
        curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, SslContextCallback);
        curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, &r);
    }
    if (curl_multi_add_handle(r.multi, e) != CURLM_OK) return ERROR_WINHTTP_INTERNAL_ERROR;
    return 0;
}

DWORD MapCurlError(CURLcode code) {
    switch (code) {
    case CURLE_OK:
        return 0;
    case CURLE_URL_MALFORMAT:
        return ERROR_WINHTTP_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
        return ERROR_WINHTTP_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
        return ERROR_WINHTTP_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
        return ERROR_WINHTTP_TIMEOUT;
    case CURLE_UNSUPPORTED_PROTOCOL: /* an HTTP/0.9 (header-less) answer */
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
        return ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
    case CURLE_TOO_MANY_REDIRECTS:
        return ERROR_WINHTTP_REDIRECT_FAILED;
    case CURLE_PEER_FAILED_VERIFICATION:
        return ERROR_WINHTTP_SECURE_FAILURE;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_INITFAILED:
        return ERROR_WINHTTP_SECURE_CHANNEL_ERROR;
    case CURLE_OUT_OF_MEMORY:
        return ERROR_NOT_ENOUGH_MEMORY;
    default: /* partial body, reset, empty answer, send/receive failures */
        return ERROR_WINHTTP_CONNECTION_ERROR;
    }
}

DWORD TransferError(const Request &r) {
    if (r.abortError) return r.abortError;
    return MapCurlError(r.result);
}

void Abort(Request &r, DWORD code) {
    if (r.multi && r.easy) curl_multi_remove_handle(r.multi, r.easy);
    r.finished = true;
    r.abortError = code;
}

enum class Want { Sent, Headers, Data };

bool Satisfied(const Request &r, Want want) {
    switch (want) {
    case Want::Sent:
        return (r.prereqFired && r.uploaded >= static_cast<curl_off_t>(r.body.size())) ||
               !r.statusLine.empty();
    case Want::Headers:
        return r.headersComplete;
    case Want::Data:
        return r.Unread() > 0;
    }
    return true;
}

/* Runs the transfer until `want` holds or it ends. The receive-side time-outs
 * count from the last sign of progress (idle) and from the start (total);
 * either one ends the transfer with ERROR_WINHTTP_TIMEOUT. */
DWORD Drive(Request &r, Want want, DWORD idleMs, DWORD totalMs) {
    const Clock::time_point start = Clock::now();
    Clock::time_point lastActivity = start;
    unsigned long long seen = r.activity;
    while (!r.finished && !Satisfied(r, want)) {
        if (r.paused) {
            r.paused = false;
            curl_easy_pause(r.easy, CURLPAUSE_CONT);
            if (Satisfied(r, want)) break;
        }
        int running = 0;
        if (curl_multi_perform(r.multi, &running) != CURLM_OK) {
            Abort(r, ERROR_WINHTTP_INTERNAL_ERROR);
            break;
        }
        int queued = 0;
        while (CURLMsg *msg = curl_multi_info_read(r.multi, &queued)) {
            if (msg->msg == CURLMSG_DONE) {
                r.finished = true;
                r.result = msg->data.result;
            }
        }
        if (r.finished || Satisfied(r, want)) break;
        const Clock::time_point now = Clock::now();
        if (r.activity != seen) {
            seen = r.activity;
            lastActivity = now;
        }
        /* Before the request is on the wire only the connect time-out counts. */
        const bool idleCounts = want != Want::Sent || r.prereqFired;
        /* Milliseconds left of a limit counted from `since`; LONG_MAX when none applies. */
        auto left = [now](bool counts, DWORD limitMs, Clock::time_point since) -> long {
            if (!counts || limitMs == INFINITE || limitMs == 0) return LONG_MAX;
            return static_cast<long>(limitMs) -
                   static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(now - since).count());
        };
        const long waitMs = std::min({1000L, left(idleCounts, idleMs, lastActivity), left(true, totalMs, start)});
        if (waitMs <= 0) {
            Abort(r, ERROR_WINHTTP_TIMEOUT);
            return ERROR_WINHTTP_TIMEOUT;
        }
        curl_multi_poll(r.multi, nullptr, 0, static_cast<int>(waitMs), nullptr);
    }
    return 0;
}

/* A proxy that refused to open a tunnel answered the request itself (407 and
 * the like): its answer stands as the response, with an empty body. */
bool TakeTunnelAnswer(Request &r) {
    if (r.tunnelStatusLine.empty() || r.tunnelStatus / 100 == 2) return false;
    r.statusLine = r.tunnelStatusLine;
    r.status = r.tunnelStatus;
    r.lines = r.tunnelLines;
    r.headersComplete = true;
    r.abortError = 0;
    r.result = CURLE_OK;
    return true;
}

DWORD SendRequest(Request &r, LPCWSTR headers, DWORD headersLength, LPVOID optional, DWORD optionalLength,
                  DWORD totalLength) {
    if (headers && headersLength) {
        if (DWORD err = AddHeaderLines(r, Utf8(headers, headersLength),
                                       WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
            return err;
    }
    if (optionalLength && !optional) return ERROR_INVALID_PARAMETER;
    /* A body longer than the optional data would have to follow through
     * WinHttpWriteData, which this client does not offer. */
    if (totalLength > optionalLength) return ERROR_NOT_SUPPORTED;
    ResetTransfer(r);
    r.body.assign(static_cast<const char *>(optional), optional ? optionalLength : 0);
    if (DWORD err = BuildUrl(r)) return err;
    if (DWORD err = StartTransfer(r)) {
        ResetTransfer(r);
        return err;
    }
    if (DWORD err = Drive(r, Want::Sent, r.timeouts.send, INFINITE)) return err;
    /* Failures before the request left (name, connection, certificate) belong
     * to the send; the rest surface when the response is awaited. */
    if (r.finished && !r.prereqFired && !TakeTunnelAnswer(r)) {
        DWORD err = TransferError(r);
        if (err) return err;
    }
    r.state = Request::State::Sent;
    return 0;
}

DWORD ReceiveResponse(Request &r) {
    if (r.state == Request::State::Opened) return ERROR_WINHTTP_INCORRECT_HANDLE_STATE;
    if (r.state == Request::State::Received) return 0;
    if (!r.headersComplete) {
        if (DWORD err = Drive(r, Want::Headers, r.timeouts.receive, r.timeouts.receiveResponse)) return err;
    }
    if (!r.headersComplete && !TakeTunnelAnswer(r)) {
        DWORD err = TransferError(r);
        return err ? err : ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
    }
    r.state = Request::State::Received;
    return 0;
}

/* Waits for body bytes; 0 with nothing unread means the body has ended. */
DWORD AwaitBody(Request &r) {
    if (r.state != Request::State::Received) return ERROR_WINHTTP_INCORRECT_HANDLE_STATE;
    if (r.Unread() > 0) return 0;
    if (!r.finished) {
        if (DWORD err = Drive(r, Want::Data, r.timeouts.receive, INFINITE)) return err;
    }
    if (r.Unread() > 0) return 0;
    return TransferError(r);
}

DWORD ReadData(Request &r, LPVOID buffer, DWORD toRead, LPDWORD read) {
    if (!read) return ERROR_INVALID_PARAMETER;
    *read = 0;
    if (toRead == 0) return 0;
    if (!buffer) return ERROR_INVALID_PARAMETER;
    if (DWORD err = AwaitBody(r)) return err;
    const size_t n = std::min(static_cast<size_t>(toRead), r.Unread());
    memcpy(buffer, r.inbox.data() + r.inboxOff, n);
    r.inboxOff += n;
    wa::NoteWinHttpBuffered(-static_cast<long long>(n));
    if (r.inboxOff == r.inbox.size()) {
        r.inbox.clear();
        r.inboxOff = 0;
    }
    *read = static_cast<DWORD>(n);
    return 0;
}

}  // namespace

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        gv_sslFlagsIndex = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    });
}

Request::~Request() { ResetTransfer(*this); }

}  // namespace wa::winhttp

using namespace wa::winhttp;

extern "C" {

BOOL WINAPI WinHttpSendRequest(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength, LPVOID lpOptional,
                               DWORD dwOptionalLength, DWORD dwTotalLength, DWORD_PTR) {
    DWORD err = wa::TakeWinHttpFault("WinHttpSendRequest");
    if (!err) err = WithRequest(hRequest, [&](Request &r) {
        return SendRequest(r, lpszHeaders, dwHeadersLength, lpOptional, dwOptionalLength, dwTotalLength);
    });
    return Finish(err);
}

BOOL WINAPI WinHttpReceiveResponse(HINTERNET hRequest, LPVOID) {
    DWORD err = wa::TakeWinHttpFault("WinHttpReceiveResponse");
    if (!err) err = WithRequest(hRequest, [](Request &r) { return ReceiveResponse(r); });
    return Finish(err);
}

BOOL WINAPI WinHttpQueryDataAvailable(HINTERNET hRequest, LPDWORD lpdwNumberOfBytesAvailable) {
    DWORD err = wa::TakeWinHttpFault("WinHttpQueryDataAvailable");
    if (!err) err = WithRequest(hRequest, [&](Request &r) -> DWORD {
        if (DWORD e = AwaitBody(r)) return e;
        if (lpdwNumberOfBytesAvailable) *lpdwNumberOfBytesAvailable = static_cast<DWORD>(r.Unread());
        return 0;
    });
    return Finish(err);
}

BOOL WINAPI WinHttpReadData(HINTERNET hRequest, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                            LPDWORD lpdwNumberOfBytesRead) {
    DWORD err = wa::TakeWinHttpFault("WinHttpReadData");
    if (!err) err = WithRequest(hRequest, [&](Request &r) {
        return ReadData(r, lpBuffer, dwNumberOfBytesToRead, lpdwNumberOfBytesRead);
    });
    return Finish(err);
}

}  // extern "C"
