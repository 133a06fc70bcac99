/* tinyproxy launcher for the proxy tests. */
#include "support/proxy.h"
#include "support/http_server.h"
#include "support/scratch_root.h"

#ifdef _WIN32

namespace vt_test {

/* The proxy is a host program: the Windows test programs go without it. */
bool TinyProxy::Available() { return false; }
TinyProxy::TinyProxy(const Options &) {}
TinyProxy::~TinyProxy() {}
std::string TinyProxy::log() const { return ""; }

}  // namespace vt_test

#else

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace vt_test {

static const char kTinyProxy[] = "/usr/bin/tinyproxy";

bool TinyProxy::Available() { return access(kTinyProxy, X_OK) == 0; }

static bool Accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0;
    close(fd);
    return ok;
}

TinyProxy::TinyProxy(const Options &options) {
    if (!Available()) return;
    dir_ = MakeTempDir("proxy");
    port_ = RefusedPort();
    if (port_ <= 0) return;
    std::string conf;
    conf += "Port " + std::to_string(port_) + "\n";
    conf += "Listen 127.0.0.1\n";
    conf += "Timeout 30\n";
    conf += "MaxClients 20\n";
    conf += "LogFile \"" + dir_ + "/tinyproxy.log\"\n";
    conf += "LogLevel Info\n";
    conf += "Allow 127.0.0.1\n";
    if (geteuid() == 0) conf += "User nobody\nGroup nogroup\n";
    if (!options.user.empty()) conf += "BasicAuth " + options.user + " " + options.password + "\n";
    if (options.connectPorts.empty()) conf += "ConnectPort 0\n";
    for (int p : options.connectPorts) conf += "ConnectPort " + std::to_string(p) + "\n";
    WriteWholeFile(dir_ + "/tinyproxy.conf", conf);
    /* The log folder must be writable after tinyproxy drops its privileges. */
    chmod(dir_.c_str(), 0777);

    const std::string confPath = dir_ + "/tinyproxy.conf";
    char *argv[] = {const_cast<char *>(kTinyProxy), const_cast<char *>("-d"), const_cast<char *>("-c"),
                    const_cast<char *>(confPath.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = dir_ + "/stdout.txt";
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    int rc = posix_spawn(&pid_, kTinyProxy, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        return;
    }
    for (int i = 0; i < 500 && !ready_; ++i) {
        if (Accepts(port_)) {
            ready_ = true;
            break;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        timespec pause{0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    address_ = L"127.0.0.1:" + std::to_wstring(port_);
}

TinyProxy::~TinyProxy() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 300; ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            timespec pause{0, 10 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
    }
}

std::string TinyProxy::log() const {
    if (dir_.empty()) return "";
    return ReadWholeFile(dir_ + "/tinyproxy.log") + ReadWholeFile(dir_ + "/stdout.txt");
}

}  // namespace vt_test

#endif
