/*
 * WinHTTP stand-in on libcurl: synchronous sessions, connections and requests.
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
#include "winapi/winapi.h"
#include "winapi/wa_private.h"
#include "winapi/wa_winhttp_hooks.h"
#include "winapi/winhttp_internal.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kInboxLimit = wa_test::kWinHttpBodyBufferLimit;

/* ---- Library start-up -------------------------------------------------------- */

int gv_sslFlagsIndex = -1;

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        gv_sslFlagsIndex = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    });
}

/* ---- Objects behind the handles ------------------------------------------------ */

enum class Kind {
    Session = WINHTTP_HANDLE_TYPE_SESSION,
    Connect = WINHTTP_HANDLE_TYPE_CONNECT,
    Request = WINHTTP_HANDLE_TYPE_REQUEST
};

/* Time-outs in milliseconds; INFINITE waits for ever. WinHTTP's defaults. */
struct Timeouts {
    DWORD resolve = INFINITE;
    DWORD connect = 60000;
    DWORD send = 30000;
    DWORD receive = 30000;
    DWORD receiveResponse = 90000;
};

struct Object {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    const Kind kind;
    Timeouts timeouts;
};

struct Session : Object {
    Session() : Object(Kind::Session) {}
    std::string agent;
    DWORD accessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
    std::string proxy;
    std::string bypass;
};

struct Connection : Object {
    Connection() : Object(Kind::Connect) {}
    std::shared_ptr<Session> session;
    std::string host;
    INTERNET_PORT port = 0;
};

struct Header {
    std::string name;
    std::string value;
};

struct Request : Object {
    Request() : Object(Kind::Request) {}
    ~Request() override;

    std::shared_ptr<Connection> connection;
    std::string verb;
    std::string path;
    std::string accept;
    DWORD flags = 0;
    std::vector<Header> headers;
    DWORD securityFlags = 0;
    std::string proxyUser, proxyPassword, user, password;
    std::string url;

    /* Transfer. */
    enum class State { Opened, Sent, Received } state = State::Opened;
    CURL *easy = nullptr;
    CURLM *multi = nullptr;
    curl_slist *curlHeaders = nullptr;
    std::string body;
    bool prereqFired = false;
    bool finished = false;
    bool paused = false;
    bool onWire = false;  /* the current request has gone out on its connection */
    bool inTunnelBlock = false;
    bool headersComplete = false;
    CURLcode result = CURLE_OK;
    DWORD abortError = 0;
    curl_off_t uploaded = 0;
    unsigned long long activity = 0;

    /* Response. */
    std::string statusLine;
    int status = 0;
    std::vector<std::string> lines;
    std::string tunnelStatusLine;
    int tunnelStatus = 0;
    std::vector<std::string> tunnelLines;
    std::string inbox;
    size_t inboxOff = 0;

    size_t Unread() const { return inbox.size() - inboxOff; }
};

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

Request::~Request() { ResetTransfer(*this); }

/* ---- Handle table ----------------------------------------------------------------- */

std::mutex gv_tableLock;
std::map<uintptr_t, std::shared_ptr<Object>> gv_table;
uintptr_t gv_nextHandle = 0x7A000;

HINTERNET Insert(std::shared_ptr<Object> object) {
    std::lock_guard<std::mutex> guard(gv_tableLock);
    gv_nextHandle += 4;
    gv_table[gv_nextHandle] = std::move(object);
    return reinterpret_cast<HINTERNET>(gv_nextHandle);
}

DWORD LookupAny(HINTERNET h, std::shared_ptr<Object> *out) {
    std::lock_guard<std::mutex> guard(gv_tableLock);
    auto it = gv_table.find(reinterpret_cast<uintptr_t>(h));
    if (!h || it == gv_table.end()) return ERROR_INVALID_HANDLE;
    *out = it->second;
    return 0;
}

/* Takes the object out of the table and hands it to the caller. */
DWORD Remove(HINTERNET h, std::shared_ptr<Object> *out) {
    std::lock_guard<std::mutex> guard(gv_tableLock);
    auto it = gv_table.find(reinterpret_cast<uintptr_t>(h));
    if (!h || it == gv_table.end()) return ERROR_INVALID_HANDLE;
    *out = std::move(it->second);
    gv_table.erase(it);
    return 0;
}

template <class T>
DWORD Lookup(HINTERNET h, Kind kind, std::shared_ptr<T> *out) {
    std::shared_ptr<Object> object;
    if (DWORD err = LookupAny(h, &object)) return err;
    if (object->kind != kind) return ERROR_WINHTTP_INCORRECT_HANDLE_TYPE;
    *out = std::static_pointer_cast<T>(object);
    return 0;
}

/* ---- Text helpers --------------------------------------------------------------------- */

/* A counted string; a zero inside the count ends it early, so a count of
 * (DWORD)-1 takes the text up to its terminator. */
std::string Utf8(const WCHAR *text, size_t length) {
    if (!text) return std::string();
    std::wstring copy(text, wcsnlen(text, length));
    return wa::Narrow(copy.c_str());
}

/* Header bytes reach the caller one byte per WCHAR, as ISO 8859-1. */
std::wstring WideBytes(const std::string &bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) out.push_back(static_cast<WCHAR>(c));
    return out;
}

std::string Trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool SameText(const std::string &a, const std::string &b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

/* '*' matches any run of characters; compared without regard to case. */
bool GlobMatch(const char *pattern, const char *text) {
    if (*pattern == '\0') return *text == '\0';
    if (*pattern == '*') {
        for (const char *t = text;; ++t) {
            if (GlobMatch(pattern + 1, t)) return true;
            if (*t == '\0') return false;
        }
    }
    if (*text == '\0') return false;
    if (tolower(static_cast<unsigned char>(*pattern)) != tolower(static_cast<unsigned char>(*text)))
        return false;
    return GlobMatch(pattern + 1, text + 1);
}

std::vector<std::string> SplitList(const std::string &text, const char *separators) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find_first_of(separators, pos);
        if (end == std::string::npos) end = text.size();
        std::string item = Trim(text.substr(pos, end - pos));
        if (!item.empty()) out.push_back(item);
        pos = end + 1;
    }
    return out;
}

/* ---- Request headers ----------------------------------------------------------------- */

int FindHeader(const std::vector<Header> &headers, const std::string &name) {
    for (size_t i = 0; i < headers.size(); ++i)
        if (SameText(headers[i].name, name)) return static_cast<int>(i);
    return -1;
}

DWORD ProcessHeader(Request &r, const std::string &name, const std::string &value, DWORD flags) {
    int index = FindHeader(r.headers, name);
    if (index >= 0 && (flags & WINHTTP_ADDREQ_FLAG_ADD_IF_NEW))
        return ERROR_WINHTTP_HEADER_ALREADY_EXISTS;
    if (flags & WINHTTP_ADDREQ_FLAG_REPLACE) {
        /* An empty value removes the header. */
        if (index >= 0)
            r.headers.erase(r.headers.begin() + index);
        else if (!(flags & WINHTTP_ADDREQ_FLAG_ADD))
            return ERROR_WINHTTP_HEADER_NOT_FOUND;
        if (!value.empty()) r.headers.push_back({name, value});
        return 0;
    }
    if (index >= 0 && (flags & (WINHTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA |
                                WINHTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON))) {
        const char *sep = (flags & WINHTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON) ? "; " : ", ";
        r.headers[index].value += sep + value;
        return 0;
    }
    r.headers.push_back({name, value});
    return 0;
}

/* One or more "Name: value" lines separated by CRLF. */
DWORD AddHeaderLines(Request &r, const std::string &text, DWORD flags) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (Trim(line).empty()) continue;
        size_t colon = line.find(':');
        if (colon == std::string::npos) return ERROR_WINHTTP_INVALID_HEADER;
        std::string name = Trim(line.substr(0, colon));
        if (name.empty() || name.find_first_of(" \t") != std::string::npos)
            return ERROR_WINHTTP_INVALID_HEADER;
        DWORD err = ProcessHeader(r, name, Trim(line.substr(colon + 1)), flags);
        if (err) return err;
    }
    return 0;
}

/* ---- Proxy ---------------------------------------------------------------------------- */

/* "<local>" bypasses names without a dot; other entries are host names or
 * patterns with '*'. */
bool Bypassed(const std::string &bypass, const std::string &host) {
    for (const std::string &entry : SplitList(bypass, "; ,\t")) {
        if (SameText(entry, "<local>")) {
            if (host.find('.') == std::string::npos && host.find(':') == std::string::npos)
                return true;
        } else if (GlobMatch(entry.c_str(), host.c_str())) {
            return true;
        }
    }
    return false;
}

/* The proxy for a request as a curl proxy URL, "" for a direct connection.
 * The proxy text is "host:port" or a list of "[scheme=]host[:port]" entries. */
std::string ProxyFor(const Session &s, const std::string &host, bool secure) {
    if (s.accessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || s.proxy.empty()) return "";
    if (Bypassed(s.bypass, host)) return "";
    std::string chosen;
    for (const std::string &entry : SplitList(s.proxy, "; \t")) {
        size_t eq = entry.find('=');
        if (eq == std::string::npos) {
            if (chosen.empty()) chosen = entry;
            continue;
        }
        std::string scheme = entry.substr(0, eq);
        if (SameText(scheme, secure ? "https" : "http")) {
            chosen = entry.substr(eq + 1);
            break;
        }
    }
    if (chosen.empty()) return "";
    size_t scheme = chosen.find("://");
    if (scheme != std::string::npos) chosen = chosen.substr(scheme + 3);
    while (!chosen.empty() && chosen.back() == '/') chosen.pop_back();
    if (chosen.find(':') == std::string::npos) chosen += ":80";
    return "http://" + chosen;
}

/* ---- URL ---------------------------------------------------------------------------------- */

bool ValidHost(const std::string &host) {
    if (host.empty()) return false;
    for (unsigned char c : host) {
        if (isalnum(c) || c == '.' || c == '-' || c == '_' || c == ':' || c == '[' || c == ']' ||
            c == '%')
            continue;
        return false;
    }
    return true;
}

/* The object name as sent: spaces and other bytes that may not stand in a
 * request line are percent-escaped. */
std::string EscapePath(const std::string &path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    if (path.empty() || path[0] != '/') out.push_back('/');
    for (unsigned char c : path) {
        if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
            c == '`' || c == '{' || c == '|' || c == '}') {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

DWORD BuildUrl(Request &r) {
    const Connection &c = *r.connection;
    const bool secure = (r.flags & WINHTTP_FLAG_SECURE) != 0;
    if (!ValidHost(c.host)) return ERROR_WINHTTP_INVALID_URL;
    std::string host = c.host;
    if (host.find(':') != std::string::npos && host[0] != '[') host = "[" + host + "]";
    unsigned port = c.port ? c.port : (secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT);
    std::string url = std::string(secure ? "https" : "http") + "://" + host + ":" +
                      std::to_string(port) + EscapePath(r.path);
    CURLU *u = curl_url();
    CURLUcode rc = u ? curl_url_set(u, CURLUPART_URL, url.c_str(), 0) : CURLUE_OUT_OF_MEMORY;
    curl_url_cleanup(u);
    if (rc != CURLUE_OK) return ERROR_WINHTTP_INVALID_URL;
    r.url = url;
    return 0;
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

/* ---- Response headers --------------------------------------------------------------------- */

/* Header names of the query levels this stand-in answers from the header list. */
const char *QueryLevelName(DWORD level) {
    switch (level) {
    case WINHTTP_QUERY_MIME_VERSION: return "Mime-Version";
    case WINHTTP_QUERY_CONTENT_TYPE: return "Content-Type";
    case WINHTTP_QUERY_CONTENT_TRANSFER_ENCODING: return "Content-Transfer-Encoding";
    case WINHTTP_QUERY_CONTENT_ID: return "Content-ID";
    case WINHTTP_QUERY_CONTENT_DESCRIPTION: return "Content-Description";
    case WINHTTP_QUERY_CONTENT_LENGTH: return "Content-Length";
    case WINHTTP_QUERY_CONTENT_LANGUAGE: return "Content-Language";
    case WINHTTP_QUERY_ALLOW: return "Allow";
    case WINHTTP_QUERY_PUBLIC: return "Public";
    case WINHTTP_QUERY_DATE: return "Date";
    case WINHTTP_QUERY_EXPIRES: return "Expires";
    case WINHTTP_QUERY_LAST_MODIFIED: return "Last-Modified";
    case WINHTTP_QUERY_MESSAGE_ID: return "Message-ID";
    case WINHTTP_QUERY_URI: return "URI";
    case WINHTTP_QUERY_DERIVED_FROM: return "Derived-From";
    case WINHTTP_QUERY_COST: return "Cost";
    case WINHTTP_QUERY_LINK: return "Link";
    case WINHTTP_QUERY_PRAGMA: return "Pragma";
    case WINHTTP_QUERY_CONNECTION: return "Connection";
    case WINHTTP_QUERY_ACCEPT: return "Accept";
    case WINHTTP_QUERY_ACCEPT_CHARSET: return "Accept-Charset";
    case WINHTTP_QUERY_ACCEPT_ENCODING: return "Accept-Encoding";
    case WINHTTP_QUERY_ACCEPT_LANGUAGE: return "Accept-Language";
    case WINHTTP_QUERY_AUTHORIZATION: return "Authorization";
    case WINHTTP_QUERY_CONTENT_ENCODING: return "Content-Encoding";
    case WINHTTP_QUERY_FORWARDED: return "Forwarded";
    case WINHTTP_QUERY_FROM: return "From";
    case WINHTTP_QUERY_IF_MODIFIED_SINCE: return "If-Modified-Since";
    case WINHTTP_QUERY_LOCATION: return "Location";
    case WINHTTP_QUERY_ORIG_URI: return "Orig-Uri";
    case WINHTTP_QUERY_REFERER: return "Referer";
    case WINHTTP_QUERY_RETRY_AFTER: return "Retry-After";
    case WINHTTP_QUERY_SERVER: return "Server";
    case WINHTTP_QUERY_TITLE: return "Title";
    case WINHTTP_QUERY_USER_AGENT: return "User-Agent";
    case WINHTTP_QUERY_WWW_AUTHENTICATE: return "WWW-Authenticate";
    case WINHTTP_QUERY_PROXY_AUTHENTICATE: return "Proxy-Authenticate";
    case WINHTTP_QUERY_ACCEPT_RANGES: return "Accept-Ranges";
    case WINHTTP_QUERY_SET_COOKIE: return "Set-Cookie";
    case WINHTTP_QUERY_COOKIE: return "Cookie";
    case WINHTTP_QUERY_REFRESH: return "Refresh";
    case WINHTTP_QUERY_CONTENT_DISPOSITION: return "Content-Disposition";
    case WINHTTP_QUERY_AGE: return "Age";
    case WINHTTP_QUERY_CACHE_CONTROL: return "Cache-Control";
    case WINHTTP_QUERY_CONTENT_BASE: return "Content-Base";
    case WINHTTP_QUERY_CONTENT_LOCATION: return "Content-Location";
    case WINHTTP_QUERY_CONTENT_MD5: return "Content-MD5";
    case WINHTTP_QUERY_CONTENT_RANGE: return "Content-Range";
    case WINHTTP_QUERY_ETAG: return "ETag";
    case WINHTTP_QUERY_HOST: return "Host";
    case WINHTTP_QUERY_IF_MATCH: return "If-Match";
    case WINHTTP_QUERY_IF_NONE_MATCH: return "If-None-Match";
    case WINHTTP_QUERY_IF_RANGE: return "If-Range";
    case WINHTTP_QUERY_IF_UNMODIFIED_SINCE: return "If-Unmodified-Since";
    case WINHTTP_QUERY_MAX_FORWARDS: return "Max-Forwards";
    case WINHTTP_QUERY_PROXY_AUTHORIZATION: return "Proxy-Authorization";
    case WINHTTP_QUERY_RANGE: return "Range";
    case WINHTTP_QUERY_TRANSFER_ENCODING: return "Transfer-Encoding";
    case WINHTTP_QUERY_UPGRADE: return "Upgrade";
    case WINHTTP_QUERY_VARY: return "Vary";
    case WINHTTP_QUERY_VIA: return "Via";
    case WINHTTP_QUERY_WARNING: return "Warning";
    case WINHTTP_QUERY_EXPECT: return "Expect";
    case WINHTTP_QUERY_PROXY_CONNECTION: return "Proxy-Connection";
    case WINHTTP_QUERY_UNLESS_MODIFIED_SINCE: return "Unless-Modified-Since";
    case WINHTTP_QUERY_PROXY_SUPPORT: return "Proxy-Support";
    case WINHTTP_QUERY_AUTHENTICATION_INFO: return "Authentication-Info";
    default: return nullptr;
    }
}

/* "Sun, 06 Nov 1994 08:49:37 GMT" (the form HTTP servers send). */
bool ParseHttpDate(const std::string &text, SYSTEMTIME *out) {
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static const char *const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    char day[4] = {0}, month[4] = {0};
    int d = 0, y = 0, hh = 0, mm = 0, ss = 0;
    if (sscanf(text.c_str(), "%3s, %d %3s %d %d:%d:%d", day, &d, month, &y, &hh, &mm, &ss) != 7)
        return false;
    int m = -1, wd = 0;
    for (int i = 0; i < 12; ++i)
        if (strcasecmp(month, months[i]) == 0) m = i;
    for (int i = 0; i < 7; ++i)
        if (strncasecmp(day, days[i], 3) == 0) wd = i;
    if (m < 0 || d < 1 || d > 31 || hh > 23 || mm > 59 || ss > 60) return false;
    *out = SYSTEMTIME{static_cast<WORD>(y), static_cast<WORD>(m + 1), static_cast<WORD>(wd),
                      static_cast<WORD>(d), static_cast<WORD>(hh), static_cast<WORD>(mm),
                      static_cast<WORD>(ss), 0};
    return true;
}

DWORD CopyOut(const void *data, DWORD size, LPVOID buffer, LPDWORD length) {
    if (!buffer || *length < size) {
        *length = size;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    memcpy(buffer, data, size);
    *length = size;
    return 0;
}

/* Text results: the needed size counts the terminating zero, the returned one does not. */
DWORD CopyOutText(const std::wstring &text, LPVOID buffer, LPDWORD length) {
    const DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
    if (!buffer || *length < needed) {
        *length = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    memcpy(buffer, text.c_str(), needed);
    *length = static_cast<DWORD>(text.size() * sizeof(WCHAR));
    return 0;
}

DWORD QueryHeaders(Request &r, DWORD infoLevel, const WCHAR *name, LPVOID buffer, LPDWORD length,
                   LPDWORD index) {
    if (!length) return ERROR_INVALID_PARAMETER;
    const DWORD level = infoLevel & 0xFFFF;
    const DWORD modifiers = infoLevel & 0xFFFF0000u;
    const bool fromRequest = (modifiers & WINHTTP_QUERY_FLAG_REQUEST_HEADERS) != 0;
    if (!fromRequest && r.state != Request::State::Received) return ERROR_WINHTTP_INCORRECT_HANDLE_STATE;

    std::vector<Header> list;
    if (fromRequest) {
        list = r.headers;
    } else {
        for (const std::string &l : r.lines) {
            size_t colon = l.find(':');
            if (colon == std::string::npos) continue;
            list.push_back({Trim(l.substr(0, colon)), Trim(l.substr(colon + 1))});
        }
    }

    std::string value;
    bool indexed = false;
    switch (level) {
    case WINHTTP_QUERY_RAW_HEADERS_CRLF:
    case WINHTTP_QUERY_RAW_HEADERS: {
        /* CRLF form: lines end in CRLF, an empty line closes the block; the plain
         * form separates the lines with zeros and ends with two. */
        const std::string term = level == WINHTTP_QUERY_RAW_HEADERS_CRLF ? "\r\n" : std::string(1, '\0');
        std::string first = fromRequest ? r.verb + " " + EscapePath(r.path) + " HTTP/1.1" : r.statusLine;
        value = first + term;
        for (const Header &h : list) value += h.name + ": " + h.value + term;
        value += term;
        break;
    }
    case WINHTTP_QUERY_STATUS_CODE:
    case WINHTTP_QUERY_STATUS_TEXT:
    case WINHTTP_QUERY_VERSION: {
        if (fromRequest) return ERROR_WINHTTP_HEADER_NOT_FOUND;
        size_t sp1 = r.statusLine.find(' ');
        std::string version = r.statusLine.substr(0, sp1);
        std::string rest = sp1 == std::string::npos ? "" : r.statusLine.substr(sp1 + 1);
        size_t sp2 = rest.find(' ');
        std::string code = rest.substr(0, sp2);
        std::string text = sp2 == std::string::npos ? "" : rest.substr(sp2 + 1);
        value = level == WINHTTP_QUERY_STATUS_CODE ? code : level == WINHTTP_QUERY_VERSION ? version : text;
        break;
    }
    case WINHTTP_QUERY_REQUEST_METHOD:
        value = r.verb;
        break;
    default: {
        std::string headerName;
        if (level == WINHTTP_QUERY_CUSTOM) {
            if (!name || !*name) return ERROR_INVALID_PARAMETER;
            headerName = wa::Narrow(name);
        } else {
            const char *known = QueryLevelName(level);
            if (!known) return ERROR_WINHTTP_HEADER_NOT_FOUND;
            headerName = known;
        }
        const DWORD wanted = index ? *index : 0;
        DWORD seen = 0;
        bool found = false;
        for (const Header &h : list) {
            if (!SameText(h.name, headerName)) continue;
            if (seen++ == wanted) {
                value = h.value;
                found = true;
                break;
            }
        }
        if (!found) return ERROR_WINHTTP_HEADER_NOT_FOUND;
        indexed = true;
        break;
    }
    }

    DWORD err;
    if (modifiers & (WINHTTP_QUERY_FLAG_NUMBER | WINHTTP_QUERY_FLAG_NUMBER64)) {
        const char *text = value.c_str();
        while (*text == ' ' || *text == '\t') ++text;
        if (!isdigit(static_cast<unsigned char>(*text))) return ERROR_WINHTTP_INVALID_QUERY_REQUEST;
        unsigned long long number = strtoull(text, nullptr, 10);
        if (modifiers & WINHTTP_QUERY_FLAG_NUMBER64) {
            err = CopyOut(&number, sizeof(number), buffer, length);
        } else {
            DWORD n32 = static_cast<DWORD>(number);
            err = CopyOut(&n32, sizeof(n32), buffer, length);
        }
    } else if (modifiers & WINHTTP_QUERY_FLAG_SYSTEMTIME) {
        SYSTEMTIME st;
        if (!ParseHttpDate(value, &st)) return ERROR_WINHTTP_INVALID_QUERY_REQUEST;
        err = CopyOut(&st, sizeof(st), buffer, length);
    } else {
        err = CopyOutText(WideBytes(value), buffer, length);
    }
    if (!err && indexed && index) ++*index;
    return err;
}

/* ---- Options ------------------------------------------------------------------------------- */

DWORD *TimeoutField(Object &o, DWORD option) {
    switch (option) {
    case WINHTTP_OPTION_RESOLVE_TIMEOUT: return &o.timeouts.resolve;
    case WINHTTP_OPTION_CONNECT_TIMEOUT: return &o.timeouts.connect;
    case WINHTTP_OPTION_SEND_TIMEOUT: return &o.timeouts.send;
    case WINHTTP_OPTION_RECEIVE_TIMEOUT: return &o.timeouts.receive;
    case WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT: return &o.timeouts.receiveResponse;
    default: return nullptr;
    }
}

std::string *CredentialField(Request &r, DWORD option) {
    switch (option) {
    case WINHTTP_OPTION_PROXY_USERNAME: return &r.proxyUser;
    case WINHTTP_OPTION_PROXY_PASSWORD: return &r.proxyPassword;
    case WINHTTP_OPTION_USERNAME: return &r.user;
    case WINHTTP_OPTION_PASSWORD: return &r.password;
    default: return nullptr;
    }
}

DWORD SetDword(DWORD *field, LPVOID buffer, DWORD length) {
    if (length != sizeof(DWORD)) return ERROR_INSUFFICIENT_BUFFER;
    if (!buffer) return ERROR_INVALID_PARAMETER;
    memcpy(field, buffer, sizeof(DWORD));
    return 0;
}

DWORD SetOption(Object &o, DWORD option, LPVOID buffer, DWORD length) {
    if (DWORD *field = TimeoutField(o, option)) return SetDword(field, buffer, length);
    switch (option) {
    case WINHTTP_OPTION_SECURITY_FLAGS:
        if (o.kind != Kind::Request) return ERROR_WINHTTP_INCORRECT_HANDLE_TYPE;
        return SetDword(&static_cast<Request &>(o).securityFlags, buffer, length);
    case WINHTTP_OPTION_PROXY_USERNAME:
    case WINHTTP_OPTION_PROXY_PASSWORD:
    case WINHTTP_OPTION_USERNAME:
    case WINHTTP_OPTION_PASSWORD:
        if (o.kind != Kind::Request) return ERROR_WINHTTP_INCORRECT_HANDLE_TYPE;
        if (!buffer && length) return ERROR_INVALID_PARAMETER;
        *CredentialField(static_cast<Request &>(o), option) = Utf8(static_cast<const WCHAR *>(buffer), length);
        return 0;
    case WINHTTP_OPTION_USER_AGENT:
        if (o.kind != Kind::Session) return ERROR_WINHTTP_INCORRECT_HANDLE_TYPE;
        static_cast<Session &>(o).agent = Utf8(static_cast<const WCHAR *>(buffer), length);
        return 0;
    default:
        return ERROR_WINHTTP_INVALID_OPTION;
    }
}

DWORD QueryOption(Object &o, DWORD option, LPVOID buffer, LPDWORD length) {
    if (!length) return ERROR_INVALID_PARAMETER;
    if (DWORD *field = TimeoutField(o, option)) return CopyOut(field, sizeof(DWORD), buffer, length);
    switch (option) {
    case WINHTTP_OPTION_HANDLE_TYPE: {
        DWORD type = static_cast<DWORD>(o.kind);
        return CopyOut(&type, sizeof(type), buffer, length);
    }
    case WINHTTP_OPTION_SECURITY_FLAGS:
        if (o.kind != Kind::Request) return ERROR_WINHTTP_INCORRECT_HANDLE_TYPE;
        return CopyOut(&static_cast<Request &>(o).securityFlags, sizeof(DWORD), buffer, length);
    case WINHTTP_OPTION_PROXY_USERNAME:
    case WINHTTP_OPTION_PROXY_PASSWORD:
    case WINHTTP_OPTION_USERNAME:
    case WINHTTP_OPTION_PASSWORD:
        if (o.kind != Kind::Request) return ERROR_WINHTTP_INCORRECT_HANDLE_TYPE;
        return CopyOutText(wa::Widen(CredentialField(static_cast<Request &>(o), option)->c_str()), buffer, length);
    case WINHTTP_OPTION_URL: {
        if (o.kind != Kind::Request) return ERROR_WINHTTP_INCORRECT_HANDLE_TYPE;
        Request &r = static_cast<Request &>(o);
        if (r.url.empty() && BuildUrl(r) != 0) return ERROR_WINHTTP_INVALID_URL;
        return CopyOutText(wa::Widen(r.url.c_str()), buffer, length);
    }
    case WINHTTP_OPTION_USER_AGENT:
        if (o.kind != Kind::Session) return ERROR_WINHTTP_INCORRECT_HANDLE_TYPE;
        return CopyOutText(wa::Widen(static_cast<Session &>(o).agent.c_str()), buffer, length);
    default:
        return ERROR_WINHTTP_INVALID_OPTION;
    }
}

/* ---- The operations --------------------------------------------------------------------------- */

DWORD OpenSession(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR bypass, DWORD flags,
                  HINTERNET *out) {
    if (flags & WINHTTP_FLAG_ASYNC) return ERROR_NOT_SUPPORTED;
    auto s = std::make_shared<Session>();
    s->agent = wa::Narrow(agent);
    switch (accessType) {
    case WINHTTP_ACCESS_TYPE_NAMED_PROXY:
        if (!proxy || !*proxy) return ERROR_INVALID_PARAMETER;
        s->accessType = accessType;
        s->proxy = wa::Narrow(proxy);
        s->bypass = wa::Narrow(bypass);
        break;
    case WINHTTP_ACCESS_TYPE_NO_PROXY:
    case WINHTTP_ACCESS_TYPE_DEFAULT_PROXY:
    case WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY:
        s->accessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
        break;
    default:
        return ERROR_INVALID_PARAMETER;
    }
    GlobalInit();
    *out = Insert(s);
    return 0;
}

DWORD OpenConnection(HINTERNET session, LPCWSTR server, INTERNET_PORT port, HINTERNET *out) {
    std::shared_ptr<Session> s;
    if (DWORD err = Lookup(session, Kind::Session, &s)) return err;
    if (!server || !*server) return ERROR_INVALID_PARAMETER;
    auto c = std::make_shared<Connection>();
    c->session = s;
    c->host = wa::Narrow(server);
    c->port = port;
    c->timeouts = s->timeouts;
    *out = Insert(c);
    return 0;
}

DWORD OpenRequest(HINTERNET connect, LPCWSTR verb, LPCWSTR object, LPCWSTR *acceptTypes, DWORD flags,
                  HINTERNET *out) {
    std::shared_ptr<Connection> c;
    if (DWORD err = Lookup(connect, Kind::Connect, &c)) return err;
    auto r = std::make_shared<Request>();
    r->connection = c;
    r->verb = verb && *verb ? wa::Narrow(verb) : "GET";
    r->path = object && *object ? wa::Narrow(object) : "/";
    r->flags = flags;
    r->timeouts = c->timeouts;
    if (acceptTypes) {
        for (LPCWSTR *t = acceptTypes; *t; ++t) {
            if (!**t) continue;
            if (!r->accept.empty()) r->accept += ", ";
            r->accept += wa::Narrow(*t);
        }
    }
    *out = Insert(r);
    return 0;
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

/* Runs `body` on the object behind a handle of any kind. */
template <class T>
DWORD WithObject(HINTERNET h, T &&body) {
    std::shared_ptr<Object> o;
    if (DWORD err = LookupAny(h, &o)) return err;
    return body(*o);
}

template <class T>
DWORD WithRequest(HINTERNET h, T &&body) {
    std::shared_ptr<Request> r;
    if (DWORD err = Lookup(h, Kind::Request, &r)) return err;
    return body(*r);
}

BOOL Finish(DWORD err) {
    SetLastError(err);
    return err == 0;
}

HINTERNET FinishHandle(DWORD err, HINTERNET h) {
    SetLastError(err);
    return err ? nullptr : h;
}

}  // namespace

extern "C" {

HINTERNET WINAPI WinHttpOpen(LPCWSTR pszAgentW, DWORD dwAccessType, LPCWSTR pszProxyW,
                             LPCWSTR pszProxyBypassW, DWORD dwFlags) {
    HINTERNET h = nullptr;
    DWORD err = wa::TakeWinHttpFault("WinHttpOpen");
    if (!err) err = OpenSession(pszAgentW, dwAccessType, pszProxyW, pszProxyBypassW, dwFlags, &h);
    return FinishHandle(err, h);
}

HINTERNET WINAPI WinHttpConnect(HINTERNET hSession, LPCWSTR pswzServerName, INTERNET_PORT nServerPort,
                                DWORD) {
    HINTERNET h = nullptr;
    DWORD err = wa::TakeWinHttpFault("WinHttpConnect");
    if (!err) err = OpenConnection(hSession, pswzServerName, nServerPort, &h);
    return FinishHandle(err, h);
}

HINTERNET WINAPI WinHttpOpenRequest(HINTERNET hConnect, LPCWSTR pwszVerb, LPCWSTR pwszObjectName, LPCWSTR,
                                    LPCWSTR, LPCWSTR *ppwszAcceptTypes, DWORD dwFlags) {
    HINTERNET h = nullptr;
    DWORD err = wa::TakeWinHttpFault("WinHttpOpenRequest");
    if (!err) err = OpenRequest(hConnect, pwszVerb, pwszObjectName, ppwszAcceptTypes, dwFlags, &h);
    return FinishHandle(err, h);
}

BOOL WINAPI WinHttpAddRequestHeaders(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                                     DWORD dwModifiers) {
    DWORD err = wa::TakeWinHttpFault("WinHttpAddRequestHeaders");
    if (!err) err = WithRequest(hRequest, [&](Request &r) -> DWORD {
        if (!lpszHeaders || !dwHeadersLength) return ERROR_INVALID_PARAMETER;
        return AddHeaderLines(r, Utf8(lpszHeaders, dwHeadersLength), dwModifiers);
    });
    return Finish(err);
}

BOOL WINAPI WinHttpSetOption(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength) {
    DWORD err = wa::TakeWinHttpFault("WinHttpSetOption");
    if (!err) err = WithObject(hInternet, [&](Object &o) { return SetOption(o, dwOption, lpBuffer, dwBufferLength); });
    return Finish(err);
}

BOOL WINAPI WinHttpQueryOption(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, LPDWORD lpdwBufferLength) {
    DWORD err = wa::TakeWinHttpFault("WinHttpQueryOption");
    if (!err)
        err = WithObject(hInternet, [&](Object &o) { return QueryOption(o, dwOption, lpBuffer, lpdwBufferLength); });
    return Finish(err);
}

BOOL WINAPI WinHttpSetTimeouts(HINTERNET hInternet, int nResolveTimeout, int nConnectTimeout, int nSendTimeout,
                               int nReceiveTimeout) {
    DWORD err = wa::TakeWinHttpFault("WinHttpSetTimeouts");
    if (!err) err = WithObject(hInternet, [&](Object &o) -> DWORD {
        if (o.kind == Kind::Connect) return ERROR_WINHTTP_INCORRECT_HANDLE_TYPE;
        if (nResolveTimeout < -1 || nConnectTimeout < -1 || nSendTimeout < -1 || nReceiveTimeout < -1)
            return ERROR_INVALID_PARAMETER;
        o.timeouts.resolve = static_cast<DWORD>(nResolveTimeout);
        o.timeouts.connect = static_cast<DWORD>(nConnectTimeout);
        o.timeouts.send = static_cast<DWORD>(nSendTimeout);
        o.timeouts.receive = static_cast<DWORD>(nReceiveTimeout);
        return 0;
    });
    return Finish(err);
}

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

BOOL WINAPI WinHttpQueryHeaders(HINTERNET hRequest, DWORD dwInfoLevel, LPCWSTR pwszName, LPVOID lpBuffer,
                                LPDWORD lpdwBufferLength, LPDWORD lpdwIndex) {
    DWORD err = wa::TakeWinHttpFault("WinHttpQueryHeaders");
    if (!err) err = WithRequest(hRequest, [&](Request &r) {
        return QueryHeaders(r, dwInfoLevel, pwszName, lpBuffer, lpdwBufferLength, lpdwIndex);
    });
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

BOOL WINAPI WinHttpCloseHandle(HINTERNET hInternet) {
    DWORD err = wa::TakeWinHttpFault("WinHttpCloseHandle");
    if (!err) {
        std::shared_ptr<Object> doomed;
        err = Remove(hInternet, &doomed);
        /* The object (and its transfer) goes here, outside the table lock, or
         * later when its last user lets go. */
    }
    return Finish(err);
}

}  // extern "C"
