// TCP for the network ports on POSIX: BSD sockets, non-blocking, waited on
// with poll().

#include "serial/net_socket.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace serial::net {

namespace {

// The Winsock numbers the layer reports, whatever the system.
constexpr std::uint32_t wsaTimedOut = 10060;
constexpr std::uint32_t wsaRefused = 10061;
constexpr std::uint32_t wsaHostUnreachable = 10065;
constexpr std::uint32_t wsaNetUnreachable = 10051;
constexpr std::uint32_t wsaConnReset = 10054;
constexpr std::uint32_t wsaHostNotFound = 11001;

NetError errorFor(int error)
{
    NetError e;
    e.text = std::strerror(error);
    switch (error) {
    case ECONNREFUSED: e.kind = NetError::Kind::Refused; e.windowsError = wsaRefused; break;
    case ETIMEDOUT: e.kind = NetError::Kind::TimedOut; e.windowsError = wsaTimedOut; break;
    case EHOSTUNREACH: e.kind = NetError::Kind::Unreachable; e.windowsError = wsaHostUnreachable; break;
    case ENETUNREACH: e.kind = NetError::Kind::Unreachable; e.windowsError = wsaNetUnreachable; break;
    case ECONNRESET:
    case EPIPE:
    case ECONNABORTED: e.kind = NetError::Kind::Closed; e.windowsError = wsaConnReset; break;
    default: e.kind = NetError::Kind::Other; e.windowsError = wsaConnReset; break;
    }
    return e;
}

// Acknowledge what arrives at once.  A server that sends with Nagle's
// algorithm holds each small answer until its last one is acknowledged; our
// delayed acknowledgement would add up to 40 ms to every answer and echo
// (and to the round trip we measure).  Linux clears the flag as it goes, so
// it is set again after every receive.
void acknowledgeAtOnce(int fd)
{
#ifdef TCP_QUICKACK
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#else
    (void)fd;
#endif
}

int pollFor(int fd, short events, int timeoutMs, short &revents)
{
    pollfd p{fd, events, 0};
    int result = 0;
    do {
        result = ::poll(&p, 1, timeoutMs);
    } while (result < 0 && errno == EINTR);
    revents = p.revents;
    return result;
}

} // namespace

std::unique_ptr<TcpConnection> TcpConnection::connect(const std::string &host, std::uint16_t port, int timeoutMs,
                                                      NetError &error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int resolved = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (resolved != 0) {
        error = {NetError::Kind::HostNotFound, wsaHostNotFound,
                 resolved == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(resolved)};
        return nullptr;
    }
    error = {NetError::Kind::Refused, wsaRefused, std::strerror(ECONNREFUSED)};
    for (const addrinfo *a = found; a; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            error = errorFor(errno);
            continue;
        }
        int result = ::connect(fd, a->ai_addr, a->ai_addrlen);
        int failure = result == 0 ? 0 : errno;
        if (failure == EINPROGRESS) {
            short revents = 0;
            if (pollFor(fd, POLLOUT, timeoutMs, revents) <= 0) {
                failure = ETIMEDOUT;
            } else {
                socklen_t length = sizeof failure;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length) != 0)
                    failure = errno;
            }
        }
        if (failure != 0) {
            error = errorFor(failure);
            ::close(fd);
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        acknowledgeAtOnce(fd);
        ::freeaddrinfo(found);
        error = {};
        return std::unique_ptr<TcpConnection>(new TcpConnection(fd));
    }
    ::freeaddrinfo(found);
    return nullptr;
}

TcpConnection::~TcpConnection()
{
    ::close(static_cast<int>(socket_));
}

long TcpConnection::send(const char *data, std::size_t size, NetError &error)
{
    for (;;) {
        const ssize_t n = ::send(static_cast<int>(socket_), data, size, MSG_NOSIGNAL);
        if (n >= 0)
            return static_cast<long>(n);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        error = errorFor(errno);
        return -1;
    }
}

long TcpConnection::receive(char *buffer, std::size_t size, NetError &error)
{
    for (;;) {
        const ssize_t n = ::recv(static_cast<int>(socket_), buffer, size, 0);
        if (n > 0) {
            acknowledgeAtOnce(static_cast<int>(socket_));
            return static_cast<long>(n);
        }
        if (n == 0) {
            error = {NetError::Kind::Closed, wsaConnReset, "The server closed the connection"};
            return -1;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        error = errorFor(errno);
        return -1;
    }
}

unsigned TcpConnection::wait(bool forWrite, int timeoutMs)
{
    short revents = 0;
    if (pollFor(static_cast<int>(socket_), static_cast<short>(POLLIN | (forWrite ? POLLOUT : 0)), timeoutMs,
                revents) <= 0)
        return None;
    unsigned ready = None;
    if (revents & (POLLIN | POLLHUP | POLLERR))
        ready |= Readable;
    if (revents & (POLLOUT | POLLERR | POLLHUP))
        ready |= Writable;
    return ready;
}

} // namespace serial::net
