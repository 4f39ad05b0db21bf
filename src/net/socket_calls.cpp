#include "net/socket_calls.h"

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

}  // namespace varnex
