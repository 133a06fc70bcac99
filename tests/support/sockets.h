/* The few socket calls the test servers make, the same on POSIX and Winsock
 * (where a socket is a SOCKET handle, kept here in an int as the servers do). */
#pragma once
#include <stddef.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace vt_test {

#ifdef _WIN32
inline int CloseSocket(int fd) { return closesocket(static_cast<SOCKET>(fd)); }
inline long ReadSocket(int fd, char *buf, size_t size) {
    return recv(static_cast<SOCKET>(fd), buf, static_cast<int>(size), 0);
}
inline long SendSocket(int fd, const char *buf, size_t size) {
    return send(static_cast<SOCKET>(fd), buf, static_cast<int>(size), 0);
}
inline int PollSockets(pollfd *fds, size_t count, int timeoutMs) {
    return WSAPoll(fds, static_cast<ULONG>(count), timeoutMs);
}
inline void ShutdownSend(int fd) { shutdown(static_cast<SOCKET>(fd), SD_SEND); }
#else
inline int CloseSocket(int fd) { return close(fd); }
inline long ReadSocket(int fd, char *buf, size_t size) { return read(fd, buf, size); }
/* A peer that hung up early must not end the test program with SIGPIPE. */
inline long SendSocket(int fd, const char *buf, size_t size) { return send(fd, buf, size, MSG_NOSIGNAL); }
inline int PollSockets(pollfd *fds, size_t count, int timeoutMs) {
    return poll(fds, static_cast<nfds_t>(count), timeoutMs);
}
inline void ShutdownSend(int fd) { shutdown(fd, SHUT_WR); }
#endif

/* A socket accepted from `listenFd`, or -1. */
inline int AcceptSocket(int listenFd) {
#ifdef _WIN32
    const SOCKET s = accept(static_cast<SOCKET>(listenFd), nullptr, nullptr);
    return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
#else
    return accept(listenFd, nullptr, nullptr);
#endif
}

}  // namespace vt_test
