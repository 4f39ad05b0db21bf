#include "net/tcp_connection.h"

#include <utility>

#include "net/name_lookup.h"

namespace varnex {

TcpConnection::TcpConnection(const std::string &host, int32_t port, int32_t limitMs, SocketMode mode,
                             HANDLE stop) noexcept
    : stop_(stop) {
    // Only building a text can throw, for want of memory.
    try {
        if (!open()) return;
        FoundAddress found = lookUpAddress(host, limitMs, stop);
        if (found.failure.failed())
            fail(std::move(found.failure));
        else
            connectTo(found.address, port, limitMs, mode);
    } catch (...) {
        fail({ConnectFailure::Unhandled, kUnhandledText});
    }
}

TcpConnection::TcpConnection(uint32_t address, int32_t port, int32_t limitMs, SocketMode mode,
                             HANDLE stop) noexcept
    : stop_(stop) {
    try {
        if (open()) connectTo(address, port, limitMs, mode);
    } catch (...) {
        fail({ConnectFailure::Unhandled, kUnhandledText});
    }
}

bool TcpConnection::open() {
    if (!unit_.acquire()) {
        failure_ = {ConnectFailure::StartFailed, kStartFailedText};
        return false;
    }
    socket_.reset(socket(AF_INET, SOCK_STREAM, 0));
    if (socket_) return true;
    fail({ConnectFailure::NoSocket, kNoSocketText});
    return false;
}

void TcpConnection::connectTo(uint32_t address, int32_t port, int32_t limitMs, SocketMode mode) {
    ConnectError failure = connectSocket(socket_.get(), ipv4Address(port, address), limitMs, mode, stop_);
    if (failure.failed()) fail(std::move(failure));
}

void TcpConnection::fail(ConnectError failure) noexcept {
    socket_.reset();
    unit_.release();
    failure_ = std::move(failure);
}

}  // namespace varnex
