/* The objects behind the WinHTTP stand-in's handles and what its parts share.
 * Only the stand-in's winhttp_*.cpp files include it. */
#pragma once
#include "winapi/winapi.h"
#include "winapi/wa_private.h"

#include <curl/curl.h>

#include <memory>
#include <string>
#include <vector>

namespace wa::winhttp {

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

/* ---- Handle table (winhttp_handles.cpp) ---------------------------------------------- */

HINTERNET Insert(std::shared_ptr<Object> object);
DWORD LookupAny(HINTERNET h, std::shared_ptr<Object> *out);
/* Takes the object out of the table and hands it to the caller. */
DWORD Remove(HINTERNET h, std::shared_ptr<Object> *out);

template <class T>
DWORD Lookup(HINTERNET h, Kind kind, std::shared_ptr<T> *out) {
    std::shared_ptr<Object> object;
    if (DWORD err = LookupAny(h, &object)) return err;
    if (object->kind != kind) return ERROR_WINHTTP_INCORRECT_HANDLE_TYPE;
    *out = std::static_pointer_cast<T>(object);
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

inline BOOL Finish(DWORD err) {
    SetLastError(err);
    return err == 0;
}

inline HINTERNET FinishHandle(DWORD err, HINTERNET h) {
    SetLastError(err);
    return err ? nullptr : h;
}

/* ---- Text and result buffers (winhttp_handles.cpp) ---------------------------------- */

/* A counted string; a zero inside the count ends it early, so a count of
 * (DWORD)-1 takes the text up to its terminator. */
std::string Utf8(const WCHAR *text, size_t length);
std::string Trim(const std::string &s);
bool SameText(const std::string &a, const std::string &b);
DWORD CopyOut(const void *data, DWORD size, LPVOID buffer, LPDWORD length);
/* Text results: the needed size counts the terminating zero, the returned one does not. */
DWORD CopyOutText(const std::wstring &text, LPVOID buffer, LPDWORD length);

/* ---- Session and connection (winhttp_session.cpp) ------------------------------------- */

/* The proxy for a request as a curl proxy URL, "" for a direct connection. */
std::string ProxyFor(const Session &s, const std::string &host, bool secure);

/* ---- Request and its headers (winhttp_request.cpp) ------------------------------------ */

int FindHeader(const std::vector<Header> &headers, const std::string &name);
/* One or more "Name: value" lines separated by CRLF. */
DWORD AddHeaderLines(Request &r, const std::string &text, DWORD flags);
/* Checks the host and object name and sets the request's URL. */
DWORD BuildUrl(Request &r);

/* ---- Network transfer (winhttp_transfer.cpp) ------------------------------------------ */

/* Starts curl and the TLS hooks once per process. */
void GlobalInit();

}  // namespace wa::winhttp
