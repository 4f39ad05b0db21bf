// A thin object layer over Windows Sockets 2 for IPv4 TCP. Fixed failures are
// raised as C strings ("Could not start WSA", "INVALID_SOCKET", "Invalid
// Socket", "Error in select"); look-up and connect failures as std::string.
#ifndef VARNEX_NET_TCP_SOCKET_H
#define VARNEX_NET_TCP_SOCKET_H

#include <winsock2.h>

#include <cstdint>
#include <string>

namespace varnex {

// Windows Sockets is started with the first socket object and cleaned up
// with the last; every live socket object (each copy too) holds one unit.
void acquireSockets();
void releaseSockets() noexcept;
// The number of units held, for tests.
int32_t socketUsers() noexcept;

// Holds one unit from acquire() until destruction, so that sockets made one
// after another do not start and clean up Windows Sockets around each one.
class SocketsStarted {
public:
    SocketsStarted() = default;
    ~SocketsStarted();
    SocketsStarted(const SocketsStarted &) = delete;
    SocketsStarted &operator=(const SocketsStarted &) = delete;
    // True when a unit is held; a failed start is left for the next socket to report.
    bool acquire() noexcept;
    // Lets the unit go without cleaning up. WSACleanup must not run inside
    // DllMain (it may unload the protocol helpers and deadlock on the loader
    // lock), so an unload leaves Windows Sockets started; the process's next
    // start-up only counts up.
    void leaveStarted() noexcept { held = false; }

private:
    bool held = false;
};

// What one bounded receive found.
struct Received {
    enum Status { Data, Closed, TimedOut, Failed } status;
    std::string bytes;
    int error;  // the Winsock error of a failed read
};

class TcpSocket {
public:
    TcpSocket();                       // a new stream socket
    explicit TcpSocket(SOCKET handle);  // takes over an existing handle
    TcpSocket(const TcpSocket &other) noexcept;
    TcpSocket &operator=(const TcpSocket &other) noexcept;
    virtual ~TcpSocket();

    // Closes the shared handle for every copy; the last copy's destruction
    // then has nothing left to close.
    void close() noexcept;
    void sendBytes(const std::string &text) const;
    void sendLine(std::string text) const;
    // Everything already waiting, in reads of at most 1024 bytes; never blocks.
    std::string receiveAvailable() const;
    // One byte per read up to and including a line feed; blocks.
    std::string receiveLine() const;
    // Waits at most `limitMs` for the socket to become readable, then takes
    // what one read gives (at most 1024 bytes): data, the peer's close, or an error.
    Received receiveWithin(uint32_t limitMs) const;

    SOCKET nativeHandle() const;
    int32_t shareCount() const;

private:
    struct Shared;
    void share(const TcpSocket &other) noexcept;
    void giveUp() noexcept;

    // The handle and the number of objects holding it, shared by all copies,
    // so that close() on one is seen by the others.
    Shared *shared;
};

enum class SocketMode { Blocking, NonBlocking };

class TcpClientSocket : public TcpSocket {
public:
    // Connects at once. With a limit in milliseconds the name look-up and,
    // separately, the connection attempt each give up after that long;
    // without one they wait as long as the system does. A dotted address
    // needs no look-up. The socket is left in `mode`; a non-blocking one
    // suits callers whose every wait is bounded (receiveWithin).
    TcpClientSocket(const std::string &host, int32_t port, int32_t limitMs = -1,
                    SocketMode mode = SocketMode::Blocking);
    ~TcpClientSocket() override;
};

class TcpServerSocket : public TcpSocket {
public:
    // Binds every local interface, or only the dotted IPv4 `address` when
    // one is given; port 0 takes a free port (see boundPort).
    TcpServerSocket(int32_t port, int32_t backlog, int32_t nonBlocking, const char *address = nullptr);
    ~TcpServerSocket() override;

    // A connected socket owned by the caller, or null when a non-blocking
    // socket has nothing pending.
    TcpSocket *acceptConnection() const;
    int32_t boundPort() const;
};

class SocketSelector {
public:
    // Waits until one of the sockets is readable; with pollOnly 1 at most a microsecond.
    SocketSelector(const TcpSocket &first, const TcpSocket *second, int32_t pollOnly);
    // Waits at most `limitMs` milliseconds for `socket` to become readable.
    SocketSelector(const TcpSocket &socket, uint32_t limitMs);
    bool isReady(const TcpSocket &socket) const;

private:
    void wait(timeval *limit);
    fd_set readable;
};

}  // namespace varnex

#endif
