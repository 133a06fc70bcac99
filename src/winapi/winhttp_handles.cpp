/* WinHTTP stand-in: the handle table, the options every handle carries, and
 * the copying of results into the caller's buffers. */
#include "winapi/winhttp_internal.h"
#include "winapi/winhttp_objects.h"

#include <cstring>
#include <map>
#include <mutex>

namespace wa::winhttp {
namespace {

std::mutex gv_tableLock;
std::map<uintptr_t, std::shared_ptr<Object>> gv_table;
uintptr_t gv_nextHandle = 0x7A000;

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

}  // namespace

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

DWORD Remove(HINTERNET h, std::shared_ptr<Object> *out) {
    std::lock_guard<std::mutex> guard(gv_tableLock);
    auto it = gv_table.find(reinterpret_cast<uintptr_t>(h));
    if (!h || it == gv_table.end()) return ERROR_INVALID_HANDLE;
    *out = std::move(it->second);
    gv_table.erase(it);
    return 0;
}

std::string Utf8(const WCHAR *text, size_t length) {
    if (!text) return std::string();
    std::wstring copy(text, wcsnlen(text, length));
    return wa::Narrow(copy.c_str());
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

DWORD CopyOut(const void *data, DWORD size, LPVOID buffer, LPDWORD length) {
    if (!buffer || *length < size) {
        *length = size;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    memcpy(buffer, data, size);
    *length = size;
    return 0;
}

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

}  // namespace wa::winhttp

using namespace wa::winhttp;

extern "C" {

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
