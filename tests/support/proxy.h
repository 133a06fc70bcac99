/*
 * A real forwarding proxy for tests: starts /usr/bin/tinyproxy on a free
 * loopback port with a generated configuration and stops it again.
 *
 *   if (!vt_test::TinyProxy::Available()) GTEST_SKIP() << "tinyproxy missing";
 *   vt_test::TinyProxy proxy({"user", "secret", {httpsServer.port()}});
 *   ASSERT_TRUE(proxy.ok()) << proxy.log();
 *   WinHttpOpen(L"agent", WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.address(), L"", 0);
 *
 * With a user name the proxy demands basic authentication (407 otherwise).
 * CONNECT is allowed only to the listed ports (an empty list allows none).
 * Only 127.0.0.1 may use it. Forwarded requests carry a "Via" header, so a
 * server can tell proxied requests from direct ones; log() shows every request
 * line the proxy handled.
 */
#pragma once
#include <string>
#include <vector>

#include <sys/types.h>

namespace vt_test {

class TinyProxy {
public:
    struct Options {
        std::string user;      /* "" for no authentication */
        std::string password;
        std::vector<int> connectPorts;
    };

    static bool Available();

    explicit TinyProxy(const Options &options);
    ~TinyProxy();
    TinyProxy(const TinyProxy &) = delete;
    TinyProxy &operator=(const TinyProxy &) = delete;

    /* True once the proxy accepts connections. */
    bool ok() const { return ready_; }
    int port() const { return port_; }
    /* "127.0.0.1:<port>" as text for WinHttpOpen's proxy name. */
    const wchar_t *address() const { return address_.c_str(); }
    /* The proxy's log so far (for failure messages). */
    std::string log() const;

private:
    pid_t pid_ = -1;
    int port_ = 0;
    bool ready_ = false;
    std::string dir_;
    std::wstring address_;
};

}  // namespace vt_test
