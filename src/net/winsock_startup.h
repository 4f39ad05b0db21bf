// The process-wide start-up count of Windows Sockets. WSAStartup runs with
// the first unit taken and WSACleanup with the last given back, so sockets
// made one after another on different threads share one start-up instead of
// pairing a start and a clean-up around each.
#ifndef VARNEX_NET_WINSOCK_STARTUP_H
#define VARNEX_NET_WINSOCK_STARTUP_H

#include <cstdint>

namespace varnex {

// False (and no unit taken) when WSAStartup fails; the next call tries again.
// A caller that already holds a unit only adds to the count, which cannot fail.
bool acquireSockets() noexcept;
void releaseSockets() noexcept;
// The number of units held, for tests.
int32_t socketUsers() noexcept;

// Holds at most one unit, from acquire() until release() or destruction.
class SocketsStarted {
public:
    SocketsStarted() = default;
    ~SocketsStarted() { release(); }
    // Moved, the unit goes with it.
    SocketsStarted(SocketsStarted &&other) noexcept : held_(other.held_) { other.held_ = false; }
    SocketsStarted(const SocketsStarted &) = delete;
    SocketsStarted &operator=(const SocketsStarted &) = delete;
    // True when a unit is held; a failed start is left for the next socket to report.
    bool acquire() noexcept;
    void release() noexcept;
    // Lets the unit go without cleaning up. WSACleanup must not run inside
    // DllMain (it may unload the protocol helpers and deadlock on the loader
    // lock), so an unload leaves Windows Sockets started; the process's next
    // start-up only counts up.
    void leaveStarted() noexcept { held_ = false; }

private:
    bool held_ = false;
};

}  // namespace varnex

#endif
