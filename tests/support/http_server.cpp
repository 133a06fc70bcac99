/* Test servers: cpp-httplib for HTTP/HTTPS, a raw socket server for broken answers. */
#include "support/http_server.h"
#include "support/scratch_root.h"

/* The same switches the packaged library was built with; the Windows build uses the
 * header-only library without TLS: its HTTPS server is a plain one behind the TLS
 * front of the Linux loopback helper. */
#ifndef _WIN32
#define CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_ZLIB_SUPPORT
#define CPPHTTPLIB_BROTLI_SUPPORT
#endif
#include <httplib.h>

#ifdef _WIN32
#include "support/loopback_helper.h"
#else
#include "support/host/host_servers.h"
#endif

#include "support/sockets.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>

#ifdef _WIN32
typedef int socklen_t;
#endif

namespace vt_test {

/* ---- Records and canned answers ------------------------------------------------ */

static bool SameText(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

std::string RecordedRequest::Header(const std::string &name) const {
    for (const auto &h : headers)
        if (SameText(h.first, name)) return h.second;
    return "";
}

bool RecordedRequest::HasHeader(const std::string &name) const {
    for (const auto &h : headers)
        if (SameText(h.first, name)) return true;
    return false;
}

CannedResponse CannedResponse::Text(int status, const std::string &body, HeaderList headers) {
    CannedResponse r;
    r.status = status;
    r.body = body;
    r.headers = std::move(headers);
    return r;
}

CannedResponse CannedResponse::Generated(uint64_t size, bool ranges) {
    CannedResponse r;
    r.generated = true;
    r.generatedSize = size;
    r.ranges = ranges;
    return r;
}

CannedResponse CannedResponse::Paced(uint64_t size, size_t paceBytes, unsigned paceMs) {
    CannedResponse r = Generated(size);
    r.paceBytes = paceBytes;
    r.paceMs = paceMs;
    return r;
}

std::string GeneratedBytes(uint64_t offset, uint64_t length) {
    std::string out;
    out.reserve(length);
    for (uint64_t i = 0; i < length; ++i) out.push_back(GeneratedByte(offset + i));
    return out;
}

/* ---- HTTP / HTTPS server ---------------------------------------------------------------- */

bool TlsServerAvailable() {
#ifdef _WIN32
    return LoopbackHelper::Available();
#else
    return true;
#endif
}

using Handler = std::function<CannedResponse(const RecordedRequest &)>;

struct TestHttpServer::Impl {
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    mutable std::mutex lock;
    std::map<std::pair<std::string, std::string>, Handler> handlers;
    std::vector<RecordedRequest> requests;
#ifdef _WIN32
    std::unique_ptr<LoopbackHelper> tlsFront;  // HTTPS in front of `server`
#endif

    void Dispatch(const httplib::Request &req, httplib::Response &res);
};

/* "bytes=a-b", "bytes=a-", "bytes=-n" against a body of `size` bytes. */
static bool ParseRange(const std::string &text, uint64_t size, uint64_t *first, uint64_t *last) {
    unsigned long long a = 0, b = 0;
    if (sscanf(text.c_str(), "bytes=%llu-%llu", &a, &b) == 2) {
        *first = a;
        *last = std::min<uint64_t>(b, size ? size - 1 : 0);
        return a < size && a <= b;
    }
    if (sscanf(text.c_str(), "bytes=%llu-", &a) == 1) {
        *first = a;
        *last = size ? size - 1 : 0;
        return a < size;
    }
    if (sscanf(text.c_str(), "bytes=-%llu", &b) == 1) {
        if (b == 0 || size == 0) return false;
        *first = b >= size ? 0 : size - b;
        *last = size - 1;
        return true;
    }
    return false;
}

void TestHttpServer::Impl::Dispatch(const httplib::Request &req, httplib::Response &res) {
    RecordedRequest rec;
    rec.method = req.method;
    rec.path = req.path;
    size_t q = req.target.find('?');
    rec.query = q == std::string::npos ? "" : req.target.substr(q + 1);
    for (const auto &h : req.headers) rec.headers.push_back(h);
    rec.body = req.body;
    Handler handler;
    {
        std::lock_guard<std::mutex> guard(lock);
        requests.push_back(rec);
        const std::string method = req.method == "HEAD" ? "GET" : req.method;
        auto it = handlers.find({method, req.path});
        if (it != handlers.end()) handler = it->second;
    }
    CannedResponse answer = handler ? handler(rec) : CannedResponse::Text(404, "not found");
    /* Ranges are answered here (or deliberately ignored); the library would
     * otherwise cut every body by the Range header on its own. */
    const_cast<httplib::Request &>(req).ranges.clear();

    std::string contentType = "application/octet-stream";
    for (const auto &h : answer.headers) {
        if (SameText(h.first, "Content-Type"))
            contentType = h.second;
        else if (!SameText(h.first, "Content-Length"))
            res.headers.emplace(h.first, h.second);
    }
    const uint64_t size = answer.generated ? answer.generatedSize : answer.body.size();
    uint64_t first = 0, last = size ? size - 1 : 0;
    bool partial = false;
    res.status = answer.status;
    if (answer.ranges && answer.status == 200 && rec.HasHeader("Range")) {
        if (!ParseRange(rec.Header("Range"), size, &first, &last)) {
            res.status = 416;
            res.set_header("Content-Range", "bytes */" + std::to_string(size));
            res.set_content("", "text/plain");
            return;
        }
        partial = true;
        res.status = 206;
        res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                                            std::to_string(size));
    }
    const uint64_t length = size == 0 ? 0 : last - first + 1;
    if (answer.generated || answer.paceBytes != 0) {
        /* A canned body is shared by the pieces; a generated one made per piece. */
        auto body = std::make_shared<std::string>(answer.generated ? std::string() : answer.body);
        res.set_content_provider(
            static_cast<size_t>(length), contentType,
            [first, body, generated = answer.generated, paceBytes = answer.paceBytes, paceMs = answer.paceMs](
                size_t offset, size_t want, httplib::DataSink &sink) {
                const size_t chunk = std::min<size_t>(want, paceBytes != 0 ? paceBytes : 64 * 1024);
                if (paceMs != 0) std::this_thread::sleep_for(std::chrono::milliseconds(paceMs));
                std::string bytes = generated ? GeneratedBytes(first + offset, chunk) : body->substr(first + offset, chunk);
                return sink.write(bytes.data(), bytes.size());
            });
    } else {
        res.set_content(partial ? answer.body.substr(first, length) : answer.body, contentType);
    }
}

TestHttpServer::TestHttpServer(bool tls) : tls_(tls), impl_(new Impl) {
    if (tls) {
#ifdef _WIN32
        impl_->server = std::make_unique<httplib::Server>();
#else
        dir_ = MakeTempDir("https");
        certFile_ = dir_ + "/cert.pem";
        const std::string keyFile = dir_ + "/key.pem";
        if (!WriteSelfSignedCertificate(certFile_, keyFile)) return;
        auto ssl = std::make_unique<httplib::SSLServer>(certFile_.c_str(), keyFile.c_str());
        if (!ssl->is_valid()) return;
        impl_->server = std::move(ssl);
#endif
    } else {
        impl_->server = std::make_unique<httplib::Server>();
    }
    Impl *impl = impl_.get();
    auto route = [impl](const httplib::Request &req, httplib::Response &res) { impl->Dispatch(req, res); };
    impl->server->Get(".*", route);
    impl->server->Post(".*", route);
    impl->server->Put(".*", route);
    impl->server->Delete(".*", route);
    impl->server->Options(".*", route);
    impl->server->Patch(".*", route);
    const int port = impl->server->bind_to_any_port("127.0.0.1");
    if (port <= 0) return;
    port_ = port;
    impl->thread = std::thread([impl] { impl->server->listen_after_bind(); });
    /* stop() does nothing before the loop has started: a server destroyed at once
     * (a test that skips) would leave its thread waiting on the socket for ever. */
    for (int waited = 0; !impl->server->is_running(); ++waited) {
        if (waited == 10000) {  // 10 s: the loop ended without ever running
            port_ = 0;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
#ifdef _WIN32
    if (tls) {
        impl->tlsFront = std::make_unique<LoopbackHelper>(std::vector<std::string>{"tls", std::to_string(port_)});
        port_ = impl->tlsFront->ok() ? impl->tlsFront->port() : 0;
        if (port_ > 0) certFile_ = impl->tlsFront->dir() + "\\cert.pem";
    }
#endif
}

TestHttpServer::~TestHttpServer() {
#ifdef _WIN32
    impl_->tlsFront.reset();
#endif
    if (impl_->server) impl_->server->stop();
    if (impl_->thread.joinable()) impl_->thread.join();
}

void TestHttpServer::Serve(const std::string &method, const std::string &path, CannedResponse response) {
    Serve(method, path, [response](const RecordedRequest &) { return response; });
}

void TestHttpServer::Serve(const std::string &method, const std::string &path,
                           std::function<CannedResponse(const RecordedRequest &)> handler) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->handlers[{method, path}] = std::move(handler);
}

std::vector<RecordedRequest> TestHttpServer::Requests() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->requests;
}

size_t TestHttpServer::RequestCount() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->requests.size();
}

void TestHttpServer::ClearRequests() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->requests.clear();
}

/* ---- Raw socket server ------------------------------------------------------------------- */

int ListenLoopback(int *port) {
#ifdef _WIN32
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) return -1;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return -1;
    const int fd = static_cast<int>(s);
#else
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&one), sizeof(one));
#endif
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof(addr);
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        CloseSocket(fd);
        return -1;
    }
    *port = ntohs(addr.sin_port);
    return fd;
}

int RefusedPort() {
    int port = 0;
    int fd = ListenLoopback(&port);
    if (fd >= 0) CloseSocket(fd);
    return port;
}

/* A pair of connected descriptors: what is written to [1] wakes a poll on [0]
 * (a pipe; on Windows, where only sockets can be polled, a loopback connection). */
static bool MakeWakePair(int fds[2]) {
#ifdef _WIN32
    int port = 0;
    const int listener = ListenLoopback(&port);
    if (listener < 0) return false;
    const SOCKET writer = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(port));
    bool ok = writer != INVALID_SOCKET && connect(writer, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    const SOCKET reader = ok ? accept(static_cast<SOCKET>(listener), nullptr, nullptr) : INVALID_SOCKET;
    ok = ok && reader != INVALID_SOCKET;
    CloseSocket(listener);
    if (!ok) {
        if (writer != INVALID_SOCKET) closesocket(writer);
        return false;
    }
    fds[0] = static_cast<int>(reader);
    fds[1] = static_cast<int>(writer);
    return true;
#else
    return pipe(fds) == 0;
#endif
}

RawSocketServer::RawSocketServer(std::string reply, bool holdOpen)
    : reply_(std::move(reply)), holdOpen_(holdOpen) {
    if (!MakeWakePair(wakePipe_)) return;
    listenFd_ = ListenLoopback(&port_);
    if (listenFd_ < 0) {
        port_ = 0;
        return;
    }
    acceptor_ = std::thread([this] { Run(); });
}

RawSocketServer::~RawSocketServer() {
    if (wakePipe_[1] >= 0) {
        char c = 'x';
#ifdef _WIN32
        (void)SendSocket(wakePipe_[1], &c, 1);
#else
        (void)!write(wakePipe_[1], &c, 1);
#endif
    }
    if (acceptor_.joinable()) acceptor_.join();
    for (std::thread &t : workers_)
        if (t.joinable()) t.join();
    if (listenFd_ >= 0) CloseSocket(listenFd_);
    if (wakePipe_[0] >= 0) CloseSocket(wakePipe_[0]);
    if (wakePipe_[1] >= 0) CloseSocket(wakePipe_[1]);
}

void RawSocketServer::Run() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (PollSockets(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        const int fd = AcceptSocket(listenFd_);
        if (fd < 0) continue;
        ++connections_;
        workers_.emplace_back([this, fd] { Handle(fd); });
    }
}

/* Waits for bytes from the client or the stop signal; false on stop or timeout. */
static bool WaitReadable(int fd, int wakeFd, int timeoutMs) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (PollSockets(fds, 2, timeoutMs) <= 0) return false;
    if (fds[1].revents) return false;
    return true;
}

void RawSocketServer::Handle(int fd) {
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        if (!WaitReadable(fd, wakePipe_[0], 5000)) break;
        const long n = ReadSocket(fd, buf, sizeof(buf));
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        requests_.push_back(head);
    }
    if (reply_ != kStall) {
        size_t sent = 0;
        while (sent < reply_.size()) {
            const long n = SendSocket(fd, reply_.data() + sent, reply_.size() - sent);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        if (!holdOpen_) ShutdownSend(fd);
    }
    /* Hold the connection until the client closes it (or we are stopped), so
     * unread request bytes never turn the close into a reset. */
    const bool stall = holdOpen_ || reply_ == kStall;
    while (WaitReadable(fd, wakePipe_[0], stall ? -1 : 2000)) {
        if (ReadSocket(fd, buf, sizeof(buf)) <= 0) break;
    }
    CloseSocket(fd);
}

std::vector<std::string> RawSocketServer::Requests() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

}  // namespace vt_test
