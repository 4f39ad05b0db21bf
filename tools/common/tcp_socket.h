// A thin object layer over Windows Sockets 2 for IPv4 TCP, for varnex-ack
// and the tests' order servers; the library itself relays through
// net/tcp_connection.h and carries none of it. Failures are values, never
// exceptions: a socket that could not be made or connected holds no handle
// and says why (failure()), in the texts the library's log shows.
#ifndef VARNEX_TOOLS_TCP_SOCKET_H
#define VARNEX_TOOLS_TCP_SOCKET_H

#include <winsock2.h>

#include <cstdint>
#include <string>

#include "common/handles.h"
#include "net/socket_calls.h"
#include "net/socket_errors.h"
#include "net/tcp_connection.h"
#include "net/winsock_startup.h"

namespace varnex_tools {

// The layer's own fixed failure texts; the others are the connection's
// (net/socket_errors.h).
constexpr const char *kAcceptFailedText = "Invalid Socket";
constexpr const char *kSelectFailedText = "Error in select";

// Every live socket object, each copy too, holds one unit of the
// Windows Sockets start-up count (net/winsock_startup.h).
class TcpSocket {
public:
    TcpSocket() noexcept;                        // a new stream socket
    explicit TcpSocket(SOCKET handle) noexcept;  // takes over an existing handle
    TcpSocket(const TcpSocket &other) noexcept;
    TcpSocket &operator=(const TcpSocket &other) noexcept;
    virtual ~TcpSocket();

    // Closes the shared handle for every copy; the last copy's destruction
    // then has nothing left to close.
    void close() noexcept;
    // Sends all of `text`; 0 when it went out, otherwise the Winsock error.
    // A non-blocking socket whose buffer is full waits for room, at most
    // kSendLimitMs in all.
    int sendBytes(const std::string &text) const;
    void sendLine(std::string text) const;
    // Everything already waiting, in reads of at most 1024 bytes; never blocks.
    std::string receiveAvailable() const;
    // One byte per read up to and including a line feed; blocks.
    std::string receiveLine() const;
    // Waits at most `limitMs` for the socket to become readable, then takes
    // what one read gives (at most 1024 bytes): data, the peer's close, or an error.
    varnex::Received receiveWithin(uint32_t limitMs) const;

    SOCKET nativeHandle() const;
    int32_t shareCount() const;
    // Empty while the socket is usable; otherwise why it could not be made
    // or connected (such a socket holds no handle and no start-up unit).
    const std::string &failure() const { return failure_; }
    bool failed() const { return !failure_.empty(); }

protected:
    // Takes over a connection's socket, or its failure text.
    explicit TcpSocket(varnex::TcpConnection &&connection) noexcept;
    // Gives the socket up (closed, its unit back) and records why.
    void fail(std::string text) noexcept;

private:
    struct Shared;
    void adopt(varnex::UniqueSocket handle) noexcept;
    void share(const TcpSocket &other) noexcept;
    void giveUp() noexcept;

    // The handle and the number of objects holding it, shared by all copies,
    // so that close() on one is seen by the others; null when failed. The
    // count is atomic: copies may be made and dropped on different threads
    // (using one socket from two threads at once is still the caller's to avoid).
    Shared *shared_;
    varnex::SocketsStarted unit_;
    std::string failure_;
};

class TcpClientSocket : public TcpSocket {
public:
    // Connects at once, as the library's TcpConnection does (with no stop):
    // a limit in milliseconds bounds the name look-up and, separately, the
    // connection attempt; without one they wait as long as the system does.
    // The socket is left in `mode`; a non-blocking one suits callers whose
    // every wait is bounded (receiveWithin).
    TcpClientSocket(const std::string &host, int32_t port, int32_t limitMs = -1,
                    varnex::SocketMode mode = varnex::SocketMode::Blocking) noexcept;
    ~TcpClientSocket() override;
};

class TcpServerSocket : public TcpSocket {
public:
    // Binds every local interface, or only the dotted IPv4 `address` when
    // one is given; port 0 takes a free port (see boundPort).
    TcpServerSocket(int32_t port, int32_t backlog, int32_t nonBlocking,
                    const char *address = nullptr) noexcept;
    ~TcpServerSocket() override;

    // A connected socket owned by the caller, or null: when a non-blocking
    // socket has nothing pending, and when accept failed, which then leaves
    // kAcceptFailedText in `failure` where one is given.
    TcpSocket *acceptConnection(std::string *failure = nullptr) const;
    int32_t boundPort() const;
};

class SocketSelector {
public:
    // Waits until one of the sockets is readable; with pollOnly 1 at most a microsecond.
    SocketSelector(const TcpSocket &first, const TcpSocket *second, int32_t pollOnly);
    // Waits at most `limitMs` milliseconds for `socket` to become readable.
    SocketSelector(const TcpSocket &socket, uint32_t limitMs);
    bool isReady(const TcpSocket &socket) const;
    // select itself failed (kSelectFailedText); then no socket is ready.
    bool failed() const { return failed_; }

private:
    void wait(timeval *limit);
    fd_set readable_;
    bool failed_ = false;
};

}  // namespace varnex_tools

#endif
