#include "net/winsock_startup.h"

#include <windows.h>
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
        // An unload leaves Windows Sockets started (no WSACleanup under the
        // loader lock), so ws2_32 must not be unloaded with this library
        // either: unloaded and loaded again under a start-up it never saw
        // cleaned up, Wine's ws2_32 fails every socket after a reload
        // (WSAENOTSOCK). Pinned, it stays for the process, as its start-up does.
        HMODULE sockets = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, "ws2_32.dll", &sockets);
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
    if (!held_) held_ = acquireSockets();
    return held_;
}

void SocketsStarted::release() noexcept {
    if (held_) releaseSockets();
    held_ = false;
}

}  // namespace varnex
