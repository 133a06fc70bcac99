/* A loopback server that keeps whole request bodies, whatever their content
 * type, and answers every request with fixed bytes. */
#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace transfer_test {

class BodyServer {
public:
    struct Request {
        std::string head; /* request line and headers, up to the blank line */
        std::string body; /* Content-Length bytes */
    };

    /* `reply` is written verbatim after each request body; `chunks` > 1 splits
     * it into that many writes with short gaps. */
    explicit BodyServer(std::string reply, int chunks = 1);
    ~BodyServer();
    BodyServer(const BodyServer &) = delete;
    BodyServer &operator=(const BodyServer &) = delete;

    bool ok() const { return port_ > 0; }
    int port() const { return port_; }
    std::vector<Request> Requests() const;

private:
    void Run();
    std::string reply_;
    int chunks_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    std::vector<Request> requests_;
    std::thread thread_;
};

}  // namespace transfer_test
