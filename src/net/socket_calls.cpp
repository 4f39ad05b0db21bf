#include "net/socket_calls.h"

#include <windows.h>

#include "common/counts.h"
#include "net/socket_errors.h"
#include "text/ipv4_text.h"

namespace varnex {

namespace {

// A non-blocking connect completed with select, so that an unreachable host
// costs at most `limitMs` instead of the system's own retry time.
std::string connectWithin(SOCKET handle, const sockaddr_in &address, int32_t limitMs) {
    setSocketMode(handle, SocketMode::NonBlocking);
    if (connect(handle, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        return std::string();
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return connectFailedText(error);
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(handle, &writable);
    FD_SET(handle, &failed);
    timeval limit = timeLimit(static_cast<uint32_t>(limitMs));
    const int ready = select(0, nullptr, &writable, &failed, &limit);
    if (ready == SOCKET_ERROR) return connectFailedText(WSAGetLastError());
    if (ready == 0) return timedOutText(NetStep::Connect, limitMs);
    // Winsock reports a failed attempt in the exception set; writable means
    // connected. The set holds this one socket only, so its count says it
    // (FD_ISSET would be one more call into Winsock per relay).
    if (failed.fd_count != 0) {
        int status = 0;
        int length = sizeof status;
        getsockopt(handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&status), &length);
        return connectFailedText(status != 0 ? status : WSAECONNREFUSED);
    }
    return std::string();
}

}  // namespace

sockaddr_in ipv4Address(int32_t port, uint32_t address) {
    sockaddr_in result = {};
    result.sin_family = AF_INET;
    result.sin_port = networkPort(port);
    result.sin_addr.s_addr = address;
    return result;
}

void setSocketMode(SOCKET handle, SocketMode mode) {
    u_long value = mode == SocketMode::NonBlocking ? 1 : 0;
    ioctlsocket(handle, FIONBIO, &value);
}

timeval timeLimit(uint32_t limitMs) {
    return {static_cast<long>(limitMs / 1000), static_cast<long>((limitMs % 1000) * 1000)};
}

std::string connectSocket(SOCKET handle, const sockaddr_in &address, int32_t limitMs, SocketMode mode) {
    if (limitMs >= 0) {
        std::string failure = connectWithin(handle, address, limitMs);
        if (failure.empty() && mode == SocketMode::Blocking) setSocketMode(handle, mode);
        return failure;
    }
    if (connect(handle, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        return connectFailedText(WSAGetLastError());
    if (mode == SocketMode::NonBlocking) setSocketMode(handle, mode);
    return std::string();
}

int sendAll(SOCKET handle, const std::string &text) {
    size_t sent = 0;
    const ULONGLONG deadline = GetTickCount64() + kSendLimitMs;
    while (sent < text.size()) {
        const int got = send(handle, text.data() + sent, clampToInt(text.size() - sent), 0);
        if (got > 0) {
            sent += static_cast<size_t>(got);
            continue;
        }
        const int error = got == 0 ? WSAECONNABORTED : WSAGetLastError();
        const ULONGLONG now = GetTickCount64();
        if (error != WSAEWOULDBLOCK || now >= deadline) return error == WSAEWOULDBLOCK ? WSAETIMEDOUT : error;
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(handle, &writable);
        timeval limit = timeLimit(static_cast<uint32_t>(deadline - now));
        if (select(0, nullptr, &writable, nullptr, &limit) == SOCKET_ERROR) return WSAGetLastError();
    }
    return 0;
}

Received receiveWithin(SOCKET handle, uint32_t limitMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle, &readable);
    timeval limit = timeLimit(limitMs);
    const int ready = select(0, &readable, nullptr, nullptr, &limit);
    if (ready == SOCKET_ERROR) return {Received::Failed, std::string(), WSAGetLastError()};
    if (ready == 0) return {Received::TimedOut, std::string(), 0};
    char buffer[1024];
    const int got = recv(handle, buffer, clampToInt(sizeof buffer), 0);
    if (got > 0) return {Received::Data, std::string(buffer, static_cast<size_t>(got)), 0};
    if (got == 0) return {Received::Closed, std::string(), 0};
    const int error = WSAGetLastError();
    // Readable yet nothing to take: a spurious wake-up, not a failure.
    if (error == WSAEWOULDBLOCK) return {Received::TimedOut, std::string(), 0};
    return {Received::Failed, std::string(), error};
}

}  // namespace varnex
