/* tinyproxy launcher for the proxy tests. */
#include "support/proxy.h"
#include "support/scratch_root.h"

#ifdef _WIN32
#include "support/loopback_helper.h"
#else
#include "support/host/host_servers.h"
#include "support/http_server.h"

#include <unistd.h>
#endif

namespace vt_test {

#ifdef _WIN32

/* tinyproxy is a Linux program: the loopback helper runs it. */
bool TinyProxy::Available() { return LoopbackHelper::Available(); }

TinyProxy::TinyProxy(const Options &options) {
    std::vector<std::string> args = {"proxy", options.user.empty() ? "-" : options.user,
                                     options.password.empty() ? "-" : options.password};
    for (int p : options.connectPorts) args.push_back(std::to_string(p));
    helper_ = std::make_unique<LoopbackHelper>(args);
    if (!helper_->ok()) return;
    port_ = helper_->port();
    dir_ = helper_->dir();
    ready_ = true;
    name_ = helper_->address() + ":" + std::to_string(port_);
    address_.assign(name_.begin(), name_.end());
}

TinyProxy::~TinyProxy() = default;

std::string TinyProxy::log() const {
    if (dir_.empty()) return helper_ ? helper_->error() : "";
    return ReadWholeFile(dir_ + "\\tinyproxy.log") + ReadWholeFile(dir_ + "\\stdout.txt");
}

#else

bool TinyProxy::Available() { return access(kTinyProxyPath, X_OK) == 0; }

TinyProxy::TinyProxy(const Options &options) {
    if (!Available()) return;
    dir_ = MakeTempDir("proxy");
    port_ = RefusedPort();
    if (port_ <= 0) return;
    pid_ = StartTinyProxy(dir_, port_, options.user, options.password, options.connectPorts);
    ready_ = pid_ > 0;
    name_ = "127.0.0.1:" + std::to_string(port_);
    address_.assign(name_.begin(), name_.end());
}

TinyProxy::~TinyProxy() { StopTinyProxy(pid_); }

std::string TinyProxy::log() const {
    if (dir_.empty()) return "";
    return ReadWholeFile(dir_ + "/tinyproxy.log") + ReadWholeFile(dir_ + "/stdout.txt");
}

#endif

}  // namespace vt_test
