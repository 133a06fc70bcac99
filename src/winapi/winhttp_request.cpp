/* WinHTTP stand-in: requests, the headers the caller adds, the URL they go to,
 * and the queries on the request and response headers. */
#include "winapi/winhttp_internal.h"
#include "winapi/winhttp_objects.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace wa::winhttp {
namespace {

/* Header bytes reach the caller one byte per WCHAR, as ISO 8859-1. */
std::wstring WideBytes(const std::string &bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) out.push_back(static_cast<WCHAR>(c));
    return out;
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

}  // namespace

int FindHeader(const std::vector<Header> &headers, const std::string &name) {
    for (size_t i = 0; i < headers.size(); ++i)
        if (SameText(headers[i].name, name)) return static_cast<int>(i);
    return -1;
}

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

}  // namespace wa::winhttp

using namespace wa::winhttp;

extern "C" {

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

BOOL WINAPI WinHttpQueryHeaders(HINTERNET hRequest, DWORD dwInfoLevel, LPCWSTR pwszName, LPVOID lpBuffer,
                                LPDWORD lpdwBufferLength, LPDWORD lpdwIndex) {
    DWORD err = wa::TakeWinHttpFault("WinHttpQueryHeaders");
    if (!err) err = WithRequest(hRequest, [&](Request &r) {
        return QueryHeaders(r, dwInfoLevel, pwszName, lpBuffer, lpdwBufferLength, lpdwIndex);
    });
    return Finish(err);
}

}  // extern "C"
