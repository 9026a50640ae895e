#pragma once
// A TCP connection for the network ports, the one thing of the network
// transport that differs between systems (net_socket_posix.cpp with BSD
// sockets, net_socket_win32.cpp with Winsock).  Every call returns at once
// or within the time it is given; waiting happens in wait(), which blocks
// in the system's poll, never in a loop.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace serial::net {

struct NetError {
    enum class Kind {
        None,
        HostNotFound, // the name does not resolve
        Refused,      // nothing listens there
        TimedOut,     // no answer to the connection request in time
        Unreachable,  // no route to the host or its network
        Closed,       // the far end closed the connection
        Other,
    };
    Kind kind = Kind::None;
    std::uint32_t windowsError = 0; // the Winsock number for it (WSAECONNREFUSED ...)
    std::string text;               // the system's own words
};

class TcpConnection {
public:
    // Resolves host and connects to port within timeoutMs; Nagle's delay is
    // off (the echo test writes ten bytes at a time).  Null on failure.
    static std::unique_ptr<TcpConnection> connect(const std::string &host, std::uint16_t port, int timeoutMs,
                                                  NetError &error);
    ~TcpConnection();
    TcpConnection(const TcpConnection &) = delete;
    TcpConnection &operator=(const TcpConnection &) = delete;

    // Sends what the system takes without blocking: the count (0 when its
    // buffer is full), -1 on failure.
    long send(const char *data, std::size_t size, NetError &error);
    // Receives what is there without blocking: the count, 0 when nothing
    // is, -1 when the far end closed the connection or it failed.
    long receive(char *buffer, std::size_t size, NetError &error);

    enum Ready : unsigned { None = 0, Readable = 1, Writable = 2 };
    // Blocks until the connection is readable (or writable, when asked) or
    // timeoutMs has passed (-1: no limit).  A closed or broken connection
    // counts as readable: the next receive tells what happened.
    unsigned wait(bool forWrite, int timeoutMs);

private:
    explicit TcpConnection(std::intptr_t socket) : socket_(socket) {}
    std::intptr_t socket_;
};

} // namespace serial::net
