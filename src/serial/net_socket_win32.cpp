// TCP for the network ports on Windows: Winsock, non-blocking sockets,
// waited on with select().

#include "serial/net_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

namespace serial::net {

namespace {

void startWinsock()
{
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

std::string textOf(int code)
{
    char *text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPSTR>(&text), 0,
                                        nullptr);
    std::string result = length && text ? std::string(text, length) : "Winsock error " + std::to_string(code);
    if (text)
        LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == '.'))
        result.pop_back();
    return result;
}

NetError errorFor(int code)
{
    NetError e;
    e.windowsError = static_cast<std::uint32_t>(code);
    e.text = textOf(code);
    switch (code) {
    case WSAECONNREFUSED: e.kind = NetError::Kind::Refused; break;
    case WSAETIMEDOUT: e.kind = NetError::Kind::TimedOut; break;
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH: e.kind = NetError::Kind::Unreachable; break;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAESHUTDOWN: e.kind = NetError::Kind::Closed; break;
    default: e.kind = NetError::Kind::Other; break;
    }
    return e;
}

// select() on one socket; false on a time-out.
bool selectOne(SOCKET s, bool read, bool write, int timeoutMs, bool &readable, bool &writable)
{
    fd_set readSet, writeSet, errorSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&errorSet);
    if (read)
        FD_SET(s, &readSet);
    if (write)
        FD_SET(s, &writeSet);
    FD_SET(s, &errorSet);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int result = select(0, &readSet, &writeSet, &errorSet, timeoutMs < 0 ? nullptr : &limit);
    if (result <= 0)
        return false;
    const bool failed = FD_ISSET(s, &errorSet);
    readable = failed || FD_ISSET(s, &readSet);
    writable = failed || FD_ISSET(s, &writeSet);
    return true;
}

} // namespace

std::unique_ptr<TcpConnection> TcpConnection::connect(const std::string &host, std::uint16_t port, int timeoutMs,
                                                      NetError &error)
{
    startWinsock();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (const int resolved = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found)) {
        error = errorFor(resolved);
        error.kind = NetError::Kind::HostNotFound;
        return nullptr;
    }
    error = errorFor(WSAECONNREFUSED);
    for (const addrinfo *a = found; a; a = a->ai_next) {
        const SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) {
            error = errorFor(WSAGetLastError());
            continue;
        }
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        int failure = 0;
        if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
            failure = WSAGetLastError();
            if (failure == WSAEWOULDBLOCK) {
                bool readable = false, writable = false;
                if (!selectOne(s, false, true, timeoutMs, readable, writable)) {
                    failure = WSAETIMEDOUT;
                } else {
                    int soError = 0;
                    int length = sizeof soError;
                    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&soError), &length);
                    failure = soError;
                }
            }
        }
        if (failure != 0) {
            error = errorFor(failure);
            closesocket(s);
            continue;
        }
        const BOOL on = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
        freeaddrinfo(found);
        error = {};
        return std::unique_ptr<TcpConnection>(new TcpConnection(static_cast<std::intptr_t>(s)));
    }
    freeaddrinfo(found);
    return nullptr;
}

TcpConnection::~TcpConnection()
{
    closesocket(static_cast<SOCKET>(socket_));
}

long TcpConnection::send(const char *data, std::size_t size, NetError &error)
{
    const int n = ::send(static_cast<SOCKET>(socket_), data, static_cast<int>(size), 0);
    if (n >= 0)
        return n;
    const int code = WSAGetLastError();
    if (code == WSAEWOULDBLOCK)
        return 0;
    error = errorFor(code);
    return -1;
}

long TcpConnection::receive(char *buffer, std::size_t size, NetError &error)
{
    const int n = recv(static_cast<SOCKET>(socket_), buffer, static_cast<int>(size), 0);
    if (n > 0)
        return n;
    if (n == 0) {
        error = errorFor(WSAECONNRESET);
        error.kind = NetError::Kind::Closed;
        error.text = "The server closed the connection";
        return -1;
    }
    const int code = WSAGetLastError();
    if (code == WSAEWOULDBLOCK)
        return 0;
    error = errorFor(code);
    return -1;
}

unsigned TcpConnection::wait(bool forWrite, int timeoutMs)
{
    bool readable = false, writable = false;
    if (!selectOne(static_cast<SOCKET>(socket_), true, forWrite, timeoutMs, readable, writable))
        return None;
    return (readable ? Readable : None) | (writable ? Writable : None);
}

} // namespace serial::net
