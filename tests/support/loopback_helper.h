/*
 * Windows test programs under Wine: starts support/host/loopback_helper, a
 * Linux program (Wine starts a Linux program as it is, without a process
 * handle), and keeps a loopback connection to it for its lifetime.
 *
 *   vt_test::LoopbackHelper front({"tls", std::to_string(backendPort)});
 *   if (front.ok()) ... https://<front.address()>:<front.port()> ... front.dir() ...
 *
 * The destructor closes the connection and waits (up to 10 s) until the helper
 * has stopped its server and ended.
 */
#pragma once
#include <string>
#include <vector>

namespace vt_test {

class LoopbackHelper {
public:
    /* False where the helper cannot be started (not under Wine, or not built). */
    static bool Available();

    explicit LoopbackHelper(const std::vector<std::string> &args);
    ~LoopbackHelper();
    LoopbackHelper(const LoopbackHelper &) = delete;
    LoopbackHelper &operator=(const LoopbackHelper &) = delete;

    bool ok() const { return port_ > 0; }
    /* Where the helper's server listens: a loopback address and port. */
    const std::string &address() const { return address_; }
    int port() const { return port_; }
    /* The helper's folder as a Windows path (certificate, proxy log). */
    const std::string &dir() const { return dir_; }
    /* Why the helper did not start ("" once it did). */
    const std::string &error() const { return error_; }

private:
    int control_ = -1;
    int port_ = 0;
    std::string address_;
    std::string dir_;
    std::string error_;
};

}  // namespace vt_test
