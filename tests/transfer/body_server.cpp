#include "body_server.h"

#include "support/http_server.h"
#include "support/sockets.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace transfer_test {

BodyServer::BodyServer(std::string reply, int chunks) : reply_(std::move(reply)), chunks_(chunks < 1 ? 1 : chunks)
{
    listenFd_ = vt_test::ListenLoopback(&port_);
    if (listenFd_ < 0)
        return;
    thread_ = std::thread([this] { Run(); });
}

BodyServer::~BodyServer()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0)
        vt_test::CloseSocket(listenFd_);
}

std::vector<BodyServer::Request> BodyServer::Requests() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

namespace {

/* Appends the next bytes from the peer to *buffer; false when the peer closes,
 * on a read error or once the server stops. */
bool ReadMore(int fd, std::string *buffer, const std::atomic<bool> &stop)
{
    while (!stop) {
        pollfd p = {fd, POLLIN, 0};
        int ready = vt_test::PollSockets(&p, 1, 50);
        if (ready < 0)
            return false;
        if (ready == 0)
            continue;
        char chunk[4096];
        long got = vt_test::ReadSocket(fd, chunk, sizeof(chunk));
        if (got <= 0)
            return false;
        buffer->append(chunk, static_cast<size_t>(got));
        return true;
    }
    return false;
}

std::string Lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

size_t ContentLength(const std::string &head)
{
    size_t at = Lower(head).find("\r\ncontent-length:");
    if (at == std::string::npos)
        return 0;
    return static_cast<size_t>(strtoul(head.c_str() + at + 17, nullptr, 10));
}

}  // namespace

void BodyServer::Run()
{
    while (!stop_) {
        pollfd p = {listenFd_, POLLIN, 0};
        if (vt_test::PollSockets(&p, 1, 50) <= 0)
            continue;
        int fd = vt_test::AcceptSocket(listenFd_);
        if (fd < 0)
            continue;
        /* One request per connection; the answer closes it. */
        std::string buffer;
        size_t headEnd;
        bool alive = true;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos && (alive = ReadMore(fd, &buffer, stop_))) {
        }
        if (alive) {
            Request request;
            request.head = buffer.substr(0, headEnd + 4);
            size_t want = ContentLength(request.head);
            if (Lower(request.head).find("\r\nexpect: 100-continue") != std::string::npos) {
                static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
                if (vt_test::SendSocket(fd, kContinue, sizeof(kContinue) - 1) < 0)
                    alive = false;
            }
            while (buffer.size() - (headEnd + 4) < want && ReadMore(fd, &buffer, stop_)) {
            }
            request.body = buffer.substr(headEnd + 4);
            {
                std::lock_guard<std::mutex> guard(lock_);
                requests_.push_back(request);
            }
            size_t piece = (reply_.size() + chunks_ - 1) / chunks_;
            for (size_t offset = 0; offset < reply_.size(); offset += piece) {
                size_t n = std::min(piece, reply_.size() - offset);
                if (vt_test::SendSocket(fd, reply_.data() + offset, n) < 0)
                    break;
                if (chunks_ > 1)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        vt_test::ShutdownSend(fd);
        vt_test::CloseSocket(fd);
    }
}

}  // namespace transfer_test
