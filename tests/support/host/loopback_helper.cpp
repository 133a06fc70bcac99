/*
 * loopback_helper: the Linux half of the test servers for the Windows test
 * programs, which start it under Wine and reach it on loopback.
 *
 *   loopback_helper <control port> tls <backend port>
 *       HTTPS on an ephemeral port with a self-signed certificate for
 *       "localhost": each connection's requests go, decrypted, to the plain
 *       HTTP server at 127.0.0.1:<backend port> and its answers back;
 *   loopback_helper <control port> proxy <user> <password> [<CONNECT port>...]
 *       tinyproxy ("-" as user: no authentication), reached through a relay on
 *       an ephemeral port of 127.0.0.2.
 *
 * It first connects to 127.0.0.1:<control port> and writes "<address>:<port> <folder>\n"
 * (the folder holds cert.pem, or the proxy's tinyproxy.log), or "0 <reason>\n".
 * When the test closes that connection it stops the server, removes the folder,
 * and closes its side last: a test that waits for that close knows nothing of
 * the helper is left running.
 */
#include "support/host/host_servers.h"
#include "support/sockets.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <dirent.h>
#include <signal.h>
#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace vt_test;

namespace {

int ConnectLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

/* Listening socket on `address` at an ephemeral port, stored in *port. */
int Listen(const char *address, int *port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    inet_pton(AF_INET, address, &addr.sin_addr);
    socklen_t len = sizeof(addr);
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0 || listen(fd, 32) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        close(fd);
        return -1;
    }
    *port = ntohs(addr.sin_port);
    return fd;
}

bool SendAll(int fd, const char *data, size_t size) {
    while (size > 0) {
        const long n = SendSocket(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void RemoveFolder(const std::string &dir) {
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) unlink((dir + "/" + e->d_name).c_str());
        closedir(d);
    }
    rmdir(dir.c_str());
}

/* One HTTPS connection: bytes both ways until either side ends. */
void Relay(SSL_CTX *ctx, int client, int backendPort) {
    /* A client that stops mid-handshake or mid-record must not hold the thread for ever. */
    timeval limit{30, 0};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    SSL *ssl = SSL_new(ctx);
    int backend = -1;
    if (ssl && SSL_set_fd(ssl, client) == 1 && SSL_accept(ssl) == 1) backend = ConnectLoopback(backendPort);
    char buf[16384];
    while (backend >= 0) {
        pollfd fds[2] = {{client, POLLIN, 0}, {backend, POLLIN, 0}};
        if (SSL_pending(ssl) == 0 && poll(fds, 2, -1) < 0) break;
        if (SSL_pending(ssl) > 0 || (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            const int n = SSL_read(ssl, buf, sizeof(buf));
            if (n <= 0 || !SendAll(backend, buf, static_cast<size_t>(n))) break;
            continue;
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            const long n = ReadSocket(backend, buf, sizeof(buf));
            if (n <= 0 || SSL_write(ssl, buf, static_cast<int>(n)) != n) break;
        }
    }
    if (backend >= 0) {
        SSL_shutdown(ssl);
        close(backend);
    }
    SSL_free(ssl);
    close(client);
}

/* One connection to the proxy, passed on as it is. When the proxy has answered and
 * closed, the client may still be sending a body the proxy never read: that is taken
 * and dropped until the client closes, instead of the reset that would cut the
 * client's sending short before it reads the answer. */
void RelayPlain(int client, int backendPort) {
    const int backend = ConnectLoopback(backendPort);
    bool backendDone = backend < 0;
    if (backendDone) shutdown(client, SHUT_WR);
    char buf[16384];
    for (;;) {
        pollfd fds[2] = {{client, POLLIN, 0}, {backend, POLLIN, 0}};
        if (poll(fds, backendDone ? 1 : 2, backendDone ? 10000 : -1) <= 0) break;
        if (fds[0].revents) {
            const long n = ReadSocket(client, buf, sizeof(buf));
            if (n <= 0) break;
            if (!backendDone) SendAll(backend, buf, static_cast<size_t>(n));
        }
        if (!backendDone && fds[1].revents) {
            const long n = ReadSocket(backend, buf, sizeof(buf));
            if (n > 0 && !SendAll(client, buf, static_cast<size_t>(n))) break;
            if (n > 0) continue;
            backendDone = true;
            shutdown(client, SHUT_WR);
        }
    }
    if (backend >= 0) close(backend);
    close(client);
}

/* Blocks until the test closes the control connection; meanwhile each connection
 * to `listener` is served by `serve` on a thread of its own. */
template <typename Serve>
void WaitForClose(int control, int listener, Serve serve) {
    char buf[256];
    for (;;) {
        pollfd fds[2] = {{control, POLLIN, 0}, {listener, POLLIN, 0}};
        if (poll(fds, listener >= 0 ? 2 : 1, -1) < 0) continue;
        if (fds[0].revents) {
            if (ReadSocket(control, buf, sizeof(buf)) <= 0) return;
            continue;
        }
        if (fds[1].revents & POLLIN) {
            const int client = accept(listener, nullptr, nullptr);
            if (client >= 0) std::thread(serve, client).detach();
        }
    }
}

}  // namespace

int main(int argc, char **argv) {
    signal(SIGPIPE, SIG_IGN);
    if (argc < 3) {
        fprintf(stderr, "usage: %s <control port> tls <backend port> | proxy <user> <password> [<port>...]\n",
                argv[0]);
        return 2;
    }
    const int control = ConnectLoopback(atoi(argv[1]));
    if (control < 0) return 1;
    const std::string mode = argv[2];
    const char *tmp = getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/loopback-helper.XXXXXX";
    if (!mkdtemp(&dir[0])) {
        const char failed[] = "0 no temporary folder\n";
        SendAll(control, failed, sizeof(failed) - 1);
        return 1;
    }
    std::string reason;
    int port = 0;
    if (mode == "tls" && argc == 4) {
        SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
        const std::string cert = dir + "/cert.pem", key = dir + "/key.pem";
        const int listener = Listen("127.0.0.1", &port);
        if (!ctx || !WriteSelfSignedCertificate(cert, key) ||
            SSL_CTX_use_certificate_file(ctx, cert.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1 || listener < 0) {
            reason = "no TLS server";
        } else {
            const std::string ready = "127.0.0.1:" + std::to_string(port) + " " + dir + "\n";
            const int backendPort = atoi(argv[3]);
            if (SendAll(control, ready.data(), ready.size()))
                WaitForClose(control, listener, [ctx, backendPort](int client) { Relay(ctx, client, backendPort); });
            close(listener);
        }
    } else if (mode == "proxy" && argc >= 5) {
        std::vector<int> connectPorts;
        for (int i = 5; i < argc; ++i) connectPorts.push_back(atoi(argv[i]));
        /* Wine's WinHTTP sends a proxy the bare path, as to the server itself, when
         * the proxy's host name is the server's: the proxy gets an address of its own,
         * where RelayPlain passes its connections on to tinyproxy. */
        const char *address = "127.0.0.2";
        int proxyPort = 0;
        const int probe = Listen("127.0.0.1", &proxyPort);
        if (probe >= 0) close(probe);
        const int listener = Listen(address, &port);
        const std::string user = strcmp(argv[3], "-") == 0 ? "" : argv[3];
        const pid_t proxy = probe < 0 || listener < 0
                                ? -1
                                : StartTinyProxy(dir, proxyPort, user, argv[4], connectPorts);
        if (proxy < 0) {
            reason = "tinyproxy did not start";
        } else {
            const std::string ready = std::string(address) + ":" + std::to_string(port) + " " + dir + "\n";
            if (SendAll(control, ready.data(), ready.size()))
                WaitForClose(control, listener, [proxyPort](int client) { RelayPlain(client, proxyPort); });
            StopTinyProxy(proxy);
        }
        if (listener >= 0) close(listener);
    } else {
        reason = "unknown request";
    }
    if (!reason.empty()) {
        const std::string failed = "0 " + reason + "\n";
        SendAll(control, failed.data(), failed.size());
        /* The test reads the reason, then closes. */
        WaitForClose(control, -1, [](int) {});
    }
    RemoveFolder(dir);
    close(control);
    /* Relays still running end with the process. */
    _exit(reason.empty() ? 0 : 1);
}
