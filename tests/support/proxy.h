/*
 * A real forwarding proxy for tests: starts /usr/bin/tinyproxy on a free
 * loopback port with a generated configuration and stops it again (a Windows
 * test program under Wine has the Linux loopback helper start it).
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
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

namespace vt_test {

class LoopbackHelper;

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
    /* "<loopback address>:<port>" (127.0.0.1; 127.0.0.2 under Wine, whose WinHTTP
     * takes a proxy with the server's host name for the server), and as text for
     * WinHttpOpen's proxy name. */
    const std::string &name() const { return name_; }
    const wchar_t *address() const { return address_.c_str(); }
    /* The proxy's log so far (for failure messages). */
    std::string log() const;

private:
    pid_t pid_ = -1;
    int port_ = 0;
    bool ready_ = false;
    std::string dir_;
    std::string name_;
    std::wstring address_;
#ifdef _WIN32
    std::unique_ptr<LoopbackHelper> helper_;
#endif
};

}  // namespace vt_test
