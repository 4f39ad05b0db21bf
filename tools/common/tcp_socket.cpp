#include "common/tcp_socket.h"

#include <winsock2.h>

#include <atomic>
#include <new>

#include "common/counts.h"
#include "net/socket_calls.h"

namespace varnex_tools {

using varnex::kNoSocketText;
using varnex::kStartFailedText;
using varnex::kUnhandledText;
using varnex::UniqueSocket;

struct TcpSocket::Shared {
    UniqueSocket handle;
    std::atomic<int32_t> count;
};

TcpSocket::TcpSocket() noexcept : shared_(nullptr) {
    if (!unit_.acquire()) {
        failure_ = kStartFailedText;
        return;
    }
    UniqueSocket handle(socket(AF_INET, SOCK_STREAM, 0));
    if (!handle) {
        unit_.release();
        failure_ = kNoSocketText;
        return;
    }
    adopt(std::move(handle));
}

TcpSocket::TcpSocket(SOCKET handle) noexcept : shared_(nullptr) {
    UniqueSocket owned(handle);
    if (!unit_.acquire()) {
        failure_ = kStartFailedText;
        return;
    }
    adopt(std::move(owned));
}

TcpSocket::TcpSocket(varnex::TcpConnection &&connection) noexcept : shared_(nullptr) {
    if (connection.failed()) {
        // Copying the text could only fail for want of memory.
        try {
            failure_ = connection.failure().text;
        } catch (...) {
            failure_ = kUnhandledText;
        }
        return;
    }
    unit_.acquire();  // the connection holds a unit until it ends, so this only counts
    adopt(connection.release());
}

TcpSocket::TcpSocket(const TcpSocket &other) noexcept : shared_(nullptr) { share(other); }

TcpSocket &TcpSocket::operator=(const TcpSocket &other) noexcept {
    if (this != &other && (shared_ != other.shared_ || !shared_)) {
        giveUp();
        share(other);
    }
    return *this;
}

TcpSocket::~TcpSocket() { giveUp(); }

void TcpSocket::adopt(UniqueSocket handle) noexcept {
    shared_ = new (std::nothrow) Shared{UniqueSocket(), 1};
    if (!shared_) {
        handle.reset();  // closed while Windows Sockets is still started
        unit_.release();
        failure_ = kUnhandledText;
        return;
    }
    shared_->handle = std::move(handle);
}

void TcpSocket::share(const TcpSocket &other) noexcept {
    failure_ = other.failure_;
    shared_ = other.shared_;
    if (!shared_) return;
    shared_->count.fetch_add(1, std::memory_order_relaxed);
    unit_.acquire();  // the source holds a unit, so this only counts
}

void TcpSocket::giveUp() noexcept {
    if (!shared_) return;
    // The last holder, whichever thread it is on, sees every other's work
    // on the handle done before it closes it.
    if (shared_->count.fetch_sub(1, std::memory_order_acq_rel) == 1) delete shared_;  // closes the handle
    shared_ = nullptr;
    unit_.release();
}

void TcpSocket::fail(std::string text) noexcept {
    giveUp();
    failure_ = std::move(text);
}

void TcpSocket::close() noexcept {
    if (shared_) shared_->handle.reset();
}

SOCKET TcpSocket::nativeHandle() const { return shared_ ? shared_->handle.get() : INVALID_SOCKET; }

int32_t TcpSocket::shareCount() const { return shared_ ? shared_->count.load() : 0; }

int TcpSocket::sendBytes(const std::string &text) const { return varnex::sendAll(nativeHandle(), text); }

void TcpSocket::sendLine(std::string text) const {
    text += '\n';
    sendBytes(text);
}

std::string TcpSocket::receiveAvailable() const {
    std::string result;
    char buffer[1024];
    for (;;) {
        u_long waiting = 0;
        if (ioctlsocket(nativeHandle(), FIONREAD, &waiting) != 0 || waiting == 0) break;
        const int wanted = varnex::clampToInt(waiting < sizeof buffer ? waiting : sizeof buffer);
        const int got = recv(nativeHandle(), buffer, wanted, 0);
        if (got <= 0) break;
        result.append(buffer, static_cast<size_t>(got));
    }
    return result;
}

varnex::Received TcpSocket::receiveWithin(uint32_t limitMs) const {
    return varnex::receiveWithin(nativeHandle(), limitMs);
}

std::string TcpSocket::receiveLine() const {
    std::string result;
    for (;;) {
        char byte;
        const int got = recv(nativeHandle(), &byte, 1, 0);
        if (got == SOCKET_ERROR) return std::string();
        if (got == 0) return result;
        result += byte;
        if (byte == '\n') return result;
    }
}

TcpClientSocket::TcpClientSocket(const std::string &host, int32_t port, int32_t limitMs,
                                 varnex::SocketMode mode) noexcept
    : TcpSocket(varnex::TcpConnection(host, port, limitMs, mode)) {}

TcpClientSocket::~TcpClientSocket() = default;

TcpServerSocket::TcpServerSocket(int32_t port, int32_t backlog, int32_t nonBlocking,
                                 const char *bindAddress) noexcept {
    if (failed()) return;
    unsigned long numeric = INADDR_ANY;
    if (bindAddress) {
        numeric = inet_addr(bindAddress);
        if (numeric == INADDR_NONE) {
            fail(kNoSocketText);
            return;
        }
    }
    const sockaddr_in address = varnex::ipv4Address(port, static_cast<uint32_t>(numeric));
    if (nonBlocking == 1) varnex::setSocketMode(nativeHandle(), varnex::SocketMode::NonBlocking);
    if (bind(nativeHandle(), reinterpret_cast<const sockaddr *>(&address), sizeof address) == SOCKET_ERROR) {
        fail(kNoSocketText);
        return;
    }
    listen(nativeHandle(), backlog);
}

TcpServerSocket::~TcpServerSocket() = default;

TcpSocket *TcpServerSocket::acceptConnection(std::string *failure) const {
    UniqueSocket accepted(accept(nativeHandle(), nullptr, nullptr));
    if (!accepted) {
        if (WSAGetLastError() != WSAEWOULDBLOCK && failure) *failure = kAcceptFailedText;
        return nullptr;
    }
    auto *connection = new (std::nothrow) TcpSocket(accepted.get());
    if (connection) {
        accepted.release();  // the new socket owns it now
    } else if (failure) {
        *failure = kUnhandledText;
    }
    return connection;
}

int32_t TcpServerSocket::boundPort() const {
    sockaddr_in address = {};
    int length = sizeof address;
    if (getsockname(nativeHandle(), reinterpret_cast<sockaddr *>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

SocketSelector::SocketSelector(const TcpSocket &first, const TcpSocket *second, int32_t pollOnly) {
    FD_ZERO(&readable_);
    FD_SET(first.nativeHandle(), &readable_);
    if (second) FD_SET(second->nativeHandle(), &readable_);
    timeval poll = {0, 1};
    wait(pollOnly == 1 ? &poll : nullptr);
}

SocketSelector::SocketSelector(const TcpSocket &socket, uint32_t limitMs) {
    FD_ZERO(&readable_);
    FD_SET(socket.nativeHandle(), &readable_);
    timeval limit = varnex::timeLimit(limitMs);
    wait(&limit);
}

void SocketSelector::wait(timeval *limit) {
    if (select(0, &readable_, nullptr, nullptr, limit) == SOCKET_ERROR) {
        failed_ = true;
        FD_ZERO(&readable_);
    }
}

bool SocketSelector::isReady(const TcpSocket &socket) const {
    return FD_ISSET(socket.nativeHandle(), const_cast<fd_set *>(&readable_)) != 0;
}

}  // namespace varnex_tools
