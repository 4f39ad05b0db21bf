#include "net/tcp_socket.h"

#include <ws2tcpip.h>

#include <cstring>

#include <new>

#include "common/locks.h"
#include "net/socket_errors.h"

namespace varnex {

namespace {

// Guarded, although the relay runs under the pipeline's lock: socket objects
// may live on any thread, and WSAStartup/WSACleanup must pair up exactly.
SRWLOCK startupLock = SRWLOCK_INIT;
int32_t startupCount = 0;

sockaddr_in ipv4Address(int32_t port, const void *address) {
    sockaddr_in result = {};
    result.sin_family = AF_INET;
    result.sin_port = htons(static_cast<u_short>(port));  // only the low 16 bits count
    if (address) std::memcpy(&result.sin_addr, address, 4);
    return result;
}

std::string connectError(int code) { return "connect failed: " + socketErrorText(code); }

void setNonBlocking(SOCKET handle, bool on) {
    u_long value = on ? 1 : 0;
    ioctlsocket(handle, FIONBIO, &value);
}

// A non-blocking connect completed with select, so that an unreachable host
// costs at most `limitMs` instead of the system's own retry time.
void connectWithin(SOCKET handle, const sockaddr_in &address, int32_t limitMs) {
    setNonBlocking(handle, true);
    if (connect(handle, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        const int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) throw connectError(error);
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(handle, &writable);
        FD_SET(handle, &failed);
        timeval limit = {limitMs / 1000, (limitMs % 1000) * 1000};
        const int ready = select(0, nullptr, &writable, &failed, &limit);
        if (ready == SOCKET_ERROR) throw connectError(WSAGetLastError());
        if (ready == 0) throw "connect failed: no connection within " + std::to_string(limitMs) + " ms";
        // Winsock reports a failed attempt in the exception set; writable means connected.
        if (FD_ISSET(handle, &failed)) {
            int status = 0;
            int length = sizeof status;
            getsockopt(handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&status), &length);
            throw connectError(status != 0 ? status : WSAECONNREFUSED);
        }
    }
    setNonBlocking(handle, false);
}

}  // namespace

void acquireSockets() {
    ExclusiveLock guard(startupLock);
    if (startupCount == 0) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 0), &data) != 0) throw "Could not start WSA";
    }
    ++startupCount;
}

void releaseSockets() noexcept {
    ExclusiveLock guard(startupLock);
    if (--startupCount == 0) WSACleanup();
}

int32_t socketUsers() noexcept {
    ExclusiveLock guard(startupLock);
    return startupCount;
}

struct TcpSocket::Shared {
    SOCKET handle;
    int32_t count;
};

TcpSocket::TcpSocket() : shared(nullptr) {
    acquireSockets();
    const SOCKET handle = socket(AF_INET, SOCK_STREAM, 0);
    if (handle == INVALID_SOCKET) {
        releaseSockets();
        throw "INVALID_SOCKET";
    }
    shared = new (std::nothrow) Shared{handle, 1};
    if (!shared) {
        closesocket(handle);
        releaseSockets();
        throw std::bad_alloc();
    }
}

TcpSocket::TcpSocket(SOCKET handle) : shared(nullptr) {
    acquireSockets();
    shared = new (std::nothrow) Shared{handle, 1};
    if (!shared) {
        releaseSockets();
        throw std::bad_alloc();
    }
}

TcpSocket::TcpSocket(const TcpSocket &other) noexcept : shared(nullptr) { share(other); }

TcpSocket &TcpSocket::operator=(const TcpSocket &other) noexcept {
    if (shared != other.shared) {
        giveUp();
        share(other);
    }
    return *this;
}

TcpSocket::~TcpSocket() { giveUp(); }

void TcpSocket::share(const TcpSocket &other) noexcept {
    shared = other.shared;
    ++shared->count;
    ExclusiveLock guard(startupLock);
    ++startupCount;  // the source holds a unit, so the library is already started
}

void TcpSocket::giveUp() noexcept {
    if (--shared->count == 0) {
        close();
        delete shared;
    }
    shared = nullptr;
    releaseSockets();
}

void TcpSocket::close() noexcept {
    if (shared->handle != INVALID_SOCKET) {
        closesocket(shared->handle);
        shared->handle = INVALID_SOCKET;
    }
}

SOCKET TcpSocket::nativeHandle() const { return shared->handle; }

int32_t TcpSocket::shareCount() const { return shared->count; }

void TcpSocket::sendBytes(const std::string &text) const {
    send(shared->handle, text.data(), static_cast<int>(text.size()), 0);
}

void TcpSocket::sendLine(std::string text) const {
    text += '\n';
    sendBytes(text);
}

std::string TcpSocket::receiveAvailable() const {
    std::string result;
    char buffer[1024];
    for (;;) {
        u_long waiting = 0;
        if (ioctlsocket(shared->handle, FIONREAD, &waiting) != 0 || waiting == 0) break;
        const int wanted = waiting < sizeof buffer ? static_cast<int>(waiting) : static_cast<int>(sizeof buffer);
        const int got = recv(shared->handle, buffer, wanted, 0);
        if (got <= 0) break;
        result.append(buffer, static_cast<size_t>(got));
    }
    return result;
}

std::string TcpSocket::receiveLine() const {
    std::string result;
    for (;;) {
        char byte;
        const int got = recv(shared->handle, &byte, 1, 0);
        if (got == SOCKET_ERROR) return std::string();
        if (got == 0) return result;
        result += byte;
        if (byte == '\n') return result;
    }
}

TcpClientSocket::TcpClientSocket(const std::string &host, int32_t port, int32_t connectLimitMs) {
    // A dotted address needs no resolver; under Wine a look-up is a costly round trip.
    const unsigned long numeric = inet_addr(host.c_str());
    sockaddr_in address;
    if (numeric != INADDR_NONE || host == "255.255.255.255") {
        address = ipv4Address(port, &numeric);
    } else {
        const hostent *entry = gethostbyname(host.c_str());
        if (!entry || !entry->h_addr_list || !entry->h_addr_list[0])
            throw "host lookup failed for " + host + ": " + socketErrorText(WSAGetLastError());
        address = ipv4Address(port, entry->h_addr_list[0]);
    }
    if (connectLimitMs >= 0) {
        connectWithin(nativeHandle(), address, connectLimitMs);
    } else if (connect(nativeHandle(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        throw connectError(WSAGetLastError());
    }
}

TcpClientSocket::~TcpClientSocket() = default;

TcpServerSocket::TcpServerSocket(int32_t port, int32_t backlog, int32_t nonBlocking, const char *bindAddress) {
    unsigned long numeric = INADDR_ANY;
    if (bindAddress) {
        numeric = inet_addr(bindAddress);
        if (numeric == INADDR_NONE) throw "INVALID_SOCKET";
    }
    const sockaddr_in address = ipv4Address(port, &numeric);
    if (nonBlocking == 1) setNonBlocking(nativeHandle(), true);
    if (bind(nativeHandle(), reinterpret_cast<const sockaddr *>(&address), sizeof address) == SOCKET_ERROR)
        throw "INVALID_SOCKET";  // the base destructor closes the socket and gives its unit back
    listen(nativeHandle(), backlog);
}

TcpServerSocket::~TcpServerSocket() = default;

TcpSocket *TcpServerSocket::acceptConnection() const {
    const SOCKET accepted = accept(nativeHandle(), nullptr, nullptr);
    if (accepted == INVALID_SOCKET) {
        if (WSAGetLastError() == WSAEWOULDBLOCK) return nullptr;
        throw "Invalid Socket";
    }
    return new TcpSocket(accepted);
}

int32_t TcpServerSocket::boundPort() const {
    sockaddr_in address = {};
    int length = sizeof address;
    if (getsockname(nativeHandle(), reinterpret_cast<sockaddr *>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

SocketSelector::SocketSelector(const TcpSocket &first, const TcpSocket *second, int32_t pollOnly) {
    FD_ZERO(&readable);
    FD_SET(first.nativeHandle(), &readable);
    if (second) FD_SET(second->nativeHandle(), &readable);
    timeval poll = {0, 1};
    wait(pollOnly == 1 ? &poll : nullptr);
}

SocketSelector::SocketSelector(const TcpSocket &socket, uint32_t limitMs) {
    FD_ZERO(&readable);
    FD_SET(socket.nativeHandle(), &readable);
    timeval limit = {static_cast<long>(limitMs / 1000), static_cast<long>((limitMs % 1000) * 1000)};
    wait(&limit);
}

void SocketSelector::wait(timeval *limit) {
    if (select(0, &readable, nullptr, nullptr, limit) == SOCKET_ERROR) throw "Error in select";
}

bool SocketSelector::isReady(const TcpSocket &socket) const {
    return FD_ISSET(socket.nativeHandle(), const_cast<fd_set *>(&readable)) != 0;
}

}  // namespace varnex
