// One client connection with a single owner: moved, never copied, so it
// needs no share count and no allocation of its own, and its socket is
// closed once, by close() or when the owner ends. The TCP relay's exchange
// is one; the tools' socket objects (tools/common/tcp_socket.h), whose
// copies share a handle, connect through one too. Failures are values,
// never exceptions: the runtime spends a TLS slot that it never gives back
// on the first exception thrown in each load of the library, so a host that
// reloads it would run out of slots if a refused connection threw.
#ifndef VARNEX_NET_TCP_CONNECTION_H
#define VARNEX_NET_TCP_CONNECTION_H

#include <winsock2.h>

#include <cstdint>
#include <string>
#include <utility>

#include "common/handles.h"
#include "net/socket_calls.h"
#include "net/socket_errors.h"
#include "net/winsock_startup.h"

namespace varnex {

class TcpConnection {
public:
    // Connects at once, leaving the socket in `mode`. A host name is looked
    // up first; the look-up and, separately, the connection attempt each
    // give up after `limitMs` (negative: as long as the system tries). Every
    // wait of the connection, its sends and receives included, ends early
    // once `stop` is set (socket_calls.h).
    TcpConnection(const std::string &host, int32_t port, int32_t limitMs, SocketMode mode,
                  HANDLE stop = nullptr) noexcept;
    // The same for an address already known (network byte order): no look-up.
    TcpConnection(uint32_t address, int32_t port, int32_t limitMs, SocketMode mode,
                  HANDLE stop = nullptr) noexcept;
    TcpConnection(TcpConnection &&) noexcept = default;
    TcpConnection(const TcpConnection &) = delete;
    TcpConnection &operator=(const TcpConnection &) = delete;

    // 0 when all of `text` went out, otherwise the Winsock error (sendAll).
    int send(const std::string &text) const { return sendAll(socket_.get(), text, stop_); }
    Received receiveWithin(uint32_t limitMs) const {
        return varnex::receiveWithin(socket_.get(), limitMs, stop_);
    }
    void close() noexcept { socket_.reset(); }
    // Hands the connected socket to an owner of another kind. The start-up
    // unit stays until the connection ends, so that owner takes its own first.
    UniqueSocket release() noexcept { return std::move(socket_); }
    // Kind None while connected; otherwise why the connection could not be
    // made (and then it holds no socket and no start-up unit).
    const ConnectError &failure() const { return failure_; }
    bool failed() const { return failure_.failed(); }

private:
    // Takes a start-up unit and a new socket; false (with the reason) when
    // either cannot be had.
    bool open();
    void connectTo(uint32_t address, int32_t port, int32_t limitMs, SocketMode mode);
    void fail(ConnectError failure) noexcept;

    SocketsStarted unit_;  // first in, last out: the socket closes while Windows Sockets is started
    UniqueSocket socket_;
    ConnectError failure_;
    HANDLE stop_;
};

}  // namespace varnex

#endif
