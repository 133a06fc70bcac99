/*
 * In-process test servers on 127.0.0.1 (ephemeral ports) for the WinHTTP client
 * and everything built on it.
 *
 *   vt_test::TestHttpServer server;                 // HTTP; TestHttpServer(true) for HTTPS
 *   server.Serve("GET", "/pkg.msi", vt_test::CannedResponse::Generated(1 << 20));
 *   server.Serve("POST", "/post", {200, {{"Content-Type", "text/plain"}}, "ok"});
 *   ... WinHttpConnect(session, L"127.0.0.1", server.port(), 0) ...
 *   server.Requests()   // what the server received, in order
 *
 * A handler registered for "GET" also answers HEAD (same headers, no body).
 * Unregistered paths answer 404. The HTTPS server uses a self-signed
 * certificate made for the test (CN "localhost", valid for 30 days), so a
 * client only accepts it with the certificate-ignore flags.
 *
 *   vt_test::RawSocketServer raw("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc");
 * answers every connection with exactly those bytes (after reading the request
 * head) and closes; with RawSocketServer::kStall it never answers and keeps the
 * connection open until the client gives up or the server is destroyed;
 * RawSocketServer(bytes, true) sends the bytes and then stalls.
 *
 * RefusedPort() gives a loopback port nobody listens on; ListenLoopback() a
 * listening socket for servers of a test's own.
 */
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vt_test {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

/* One request as the server saw it. */
struct RecordedRequest {
    std::string method;
    std::string path;   /* without the query */
    std::string query;  /* the text after '?', "" when none */
    HeaderList headers;
    std::string body;
    /* Value of the first header of that name (any case), "" when absent. */
    std::string Header(const std::string &name) const;
    bool HasHeader(const std::string &name) const;
};

/* What a handler answers. */
struct CannedResponse {
    int status = 200;
    HeaderList headers;
    std::string body;
    /* When set, the body is `generatedSize` bytes of GeneratedByte(0..n-1),
     * produced on the fly while sending (nothing is held in memory). */
    bool generated = false;
    uint64_t generatedSize = 0;
    /* Honour "Range: bytes=a-b" on a 200 answer: 206 with Content-Range and the
     * slice, 416 when the range starts past the end. */
    bool ranges = false;
    /* When set, the body (generated or not) goes out in pieces of at most
     * `paceBytes`, each after a pause of `paceMs`: a slow server, or one that
     * trickles. */
    size_t paceBytes = 0;
    unsigned paceMs = 0;

    static CannedResponse Text(int status, const std::string &body, HeaderList headers = {});
    static CannedResponse Generated(uint64_t size, bool ranges = true);
    /* Generated, sent `paceBytes` at a time with `paceMs` before each piece. */
    static CannedResponse Paced(uint64_t size, size_t paceBytes, unsigned paceMs);
};

/* Byte `offset` of a generated body: a pattern that does not repeat every 2^n bytes. */
inline char GeneratedByte(uint64_t offset) {
    return static_cast<char>((offset * 131 + (offset >> 13) * 7 + 17) & 0xFF);
}
std::string GeneratedBytes(uint64_t offset, uint64_t length);

class TestHttpServer {
public:
    explicit TestHttpServer(bool tls = false);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer &) = delete;
    TestHttpServer &operator=(const TestHttpServer &) = delete;

    /* False when the server could not start (then port() is 0). */
    bool ok() const { return port_ > 0; }
    int port() const { return port_; }
    bool tls() const { return tls_; }
    /* PEM file of the server's certificate ("" for plain HTTP). */
    const std::string &certificateFile() const { return certFile_; }

    /* Fixed answer for one method and exact path. Later registrations win. */
    void Serve(const std::string &method, const std::string &path, CannedResponse response);
    /* Answer computed from the request. */
    void Serve(const std::string &method, const std::string &path,
               std::function<CannedResponse(const RecordedRequest &)> handler);

    std::vector<RecordedRequest> Requests() const;
    size_t RequestCount() const;
    void ClearRequests();

    struct Impl;

private:
    bool tls_;
    int port_ = 0;
    std::string dir_;
    std::string certFile_;
    std::unique_ptr<Impl> impl_;
};

class RawSocketServer {
public:
    static constexpr const char *kStall = "\x01stall";
    /* `reply` is written verbatim after the request head has been read; the
     * connection is then closed, or, with `holdOpen`, kept open without another
     * byte until the client closes it (a stalled body). */
    explicit RawSocketServer(std::string reply, bool holdOpen = false);
    ~RawSocketServer();
    RawSocketServer(const RawSocketServer &) = delete;
    RawSocketServer &operator=(const RawSocketServer &) = delete;

    bool ok() const { return port_ > 0; }
    int port() const { return port_; }
    int connections() const { return connections_.load(); }
    /* Request heads received so far (text up to and including the blank line). */
    std::vector<std::string> Requests() const;

private:
    void Run();
    void Handle(int fd);
    std::string reply_;
    bool holdOpen_;
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<int> connections_{0};
    mutable std::mutex lock_;
    std::vector<std::string> requests_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

/* False where the HTTPS server cannot run (a Windows test program outside Wine,
 * or without the Linux loopback helper that serves its TLS); tests of HTTPS skip
 * there. */
bool TlsServerAvailable();

/* A loopback port with no listener (bound once, then released). */
int RefusedPort();

/* A socket listening on 127.0.0.1 at an ephemeral port, which is stored in
 * *port; -1 when none could be opened. The caller closes it. */
int ListenLoopback(int *port);

}  // namespace vt_test
