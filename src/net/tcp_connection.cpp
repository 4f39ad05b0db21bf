#include "net/tcp_connection.h"

#include "net/name_lookup.h"
#include "net/tcp_socket.h"

namespace varnex {

TcpConnection::TcpConnection(const std::string &host, int32_t port, int32_t limitMs, SocketMode mode,
                             HANDLE stop) noexcept
    : stop_(stop) {
    // Only building a text can throw, for want of memory.
    try {
        if (!open()) return;
        const FoundAddress found = lookUpAddress(host, limitMs, stop);
        const std::string failure =
            found.failure.empty()
                ? connectSocket(socket_.get(), ipv4Address(port, found.address), limitMs, mode, stop)
                : found.failure;
        if (!failure.empty()) fail(failure);
    } catch (...) {
        fail(kUnhandledText);
    }
}

TcpConnection::TcpConnection(uint32_t address, int32_t port, int32_t limitMs, SocketMode mode,
                             HANDLE stop) noexcept
    : stop_(stop) {
    try {
        if (!open()) return;
        const std::string failure =
            connectSocket(socket_.get(), ipv4Address(port, address), limitMs, mode, stop);
        if (!failure.empty()) fail(failure);
    } catch (...) {
        fail(kUnhandledText);
    }
}

bool TcpConnection::open() {
    if (!unit_.acquire()) {
        failure_ = kStartFailedText;
        return false;
    }
    socket_.reset(socket(AF_INET, SOCK_STREAM, 0));
    if (socket_) return true;
    fail(kNoSocketText);
    return false;
}

void TcpConnection::fail(const std::string &text) {
    socket_.reset();
    unit_.release();
    failure_ = text;
}

}  // namespace varnex
