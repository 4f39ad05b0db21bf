#include "net/socket_calls.h"

#include <windows.h>

#include "common/counts.h"
#include "net/socket_errors.h"
#include "text/ipv4_text.h"

namespace varnex {

namespace {

constexpr int kStopped = -2;  // beside select's own results

// select on the one socket `handle`: readable, or else writable (a connect
// that completed, room to send) with `failed` told whether the connect
// failed. With a stop it waits in slices and returns kStopped once it is set.
int selectOne(SOCKET handle, bool readable, uint32_t limitMs, HANDLE stop, bool *failed = nullptr) {
    const ULONGLONG deadline = GetTickCount64() + limitMs;
    for (;;) {
        if (stop && WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) return kStopped;
        const ULONGLONG now = GetTickCount64();
        const auto left = static_cast<uint32_t>(now < deadline ? deadline - now : 0);
        const uint32_t slice = stop && left > kStopSliceMs ? kStopSliceMs : left;
        fd_set ready, failedSet;
        FD_ZERO(&ready);
        FD_ZERO(&failedSet);
        FD_SET(handle, &ready);
        FD_SET(handle, &failedSet);
        timeval limit = timeLimit(slice);
        const int got = select(0, readable ? &ready : nullptr, readable ? nullptr : &ready,
                               failed ? &failedSet : nullptr, &limit);
        if (got != 0) {
            // Each set holds this one socket only, so its count says it
            // (FD_ISSET would be one more call into Winsock per relay).
            if (failed) *failed = got > 0 && failedSet.fd_count != 0;
            return got;
        }
        if (slice == left) return 0;
    }
}

// A non-blocking connect completed with select, so that an unreachable host
// costs at most `limitMs` instead of the system's own retry time.
ConnectError connectWithin(SOCKET handle, const sockaddr_in &address, int32_t limitMs, HANDLE stop) {
    setSocketMode(handle, SocketMode::NonBlocking);
    if (connect(handle, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) return {};
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return {ConnectFailure::Connect, connectFailedText(error)};
    bool failed = false;
    const int ready = selectOne(handle, false, static_cast<uint32_t>(limitMs), stop, &failed);
    if (ready == kStopped) return {ConnectFailure::Stopped, stoppedText(NetStep::Connect)};
    if (ready == SOCKET_ERROR) return {ConnectFailure::Connect, connectFailedText(WSAGetLastError())};
    if (ready == 0) return {ConnectFailure::Connect, timedOutText(NetStep::Connect, limitMs)};
    // Winsock reports a failed attempt in the exception set; writable means connected.
    if (failed) {
        int status = 0;
        int length = sizeof status;
        getsockopt(handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&status), &length);
        return {ConnectFailure::Connect, connectFailedText(status != 0 ? status : WSAECONNREFUSED)};
    }
    return {};
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

ConnectError connectSocket(SOCKET handle, const sockaddr_in &address, int32_t limitMs, SocketMode mode,
                           HANDLE stop) {
    if (limitMs >= 0) {
        ConnectError failure = connectWithin(handle, address, limitMs, stop);
        if (!failure.failed() && mode == SocketMode::Blocking) setSocketMode(handle, mode);
        return failure;
    }
    if (connect(handle, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        return {ConnectFailure::Connect, connectFailedText(WSAGetLastError())};
    if (mode == SocketMode::NonBlocking) setSocketMode(handle, mode);
    return {};
}

int sendAll(SOCKET handle, const std::string &text, HANDLE stop) {
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
        const int ready = selectOne(handle, false, static_cast<uint32_t>(deadline - now), stop);
        if (ready == kStopped) return WSAEINTR;
        if (ready == SOCKET_ERROR) return WSAGetLastError();
    }
    return 0;
}

Received receiveWithin(SOCKET handle, uint32_t limitMs, HANDLE stop) {
    const int ready = selectOne(handle, true, limitMs, stop);
    if (ready == kStopped) return {Received::Failed, std::string(), WSAEINTR};
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
