/* WinHTTP stand-in: sessions (agent and proxy settings) and connections. */
#include "winapi/winhttp_internal.h"
#include "winapi/winhttp_objects.h"

#include <cctype>
#include <strings.h>

namespace wa::winhttp {
namespace {

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

}  // namespace

/* The proxy text is "host:port" or a list of "[scheme=]host[:port]" entries. */
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

}  // namespace wa::winhttp

using namespace wa::winhttp;

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

}  // extern "C"
