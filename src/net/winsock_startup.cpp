#include "net/winsock_startup.h"

#include <winsock2.h>

#include "common/locks.h"

namespace varnex {

namespace {

// Guarded: relays of different symbols run at once on host threads, look-ups
// on threads of their own, and WSAStartup/WSACleanup must pair up exactly.
SRWLOCK startupLock = SRWLOCK_INIT;
int32_t startupCount = 0;

}  // namespace

bool acquireSockets() noexcept {
    ExclusiveLock guard(startupLock);
    if (startupCount == 0) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 0), &data) != 0) return false;
    }
    ++startupCount;
    return true;
}

void releaseSockets() noexcept {
    ExclusiveLock guard(startupLock);
    if (--startupCount == 0) WSACleanup();
}

int32_t socketUsers() noexcept {
    ExclusiveLock guard(startupLock);
    return startupCount;
}

bool SocketsStarted::acquire() noexcept {
    if (!held) held = acquireSockets();
    return held;
}

void SocketsStarted::release() noexcept {
    if (held) releaseSockets();
    held = false;
}

}  // namespace varnex
