// The Winsock steps the socket classes are made of, on a raw handle whose
// owner is the caller: building an address, switching the blocking mode,
// turning a limit into select's form, connecting with and without a bound,
// a bounded send and a bounded receive.
#ifndef VARNEX_NET_SOCKET_CALLS_H
#define VARNEX_NET_SOCKET_CALLS_H

#include <windows.h>
#include <winsock2.h>

#include <cstdint>
#include <string>

#include "net/socket_errors.h"

namespace varnex {

enum class SocketMode { Blocking, NonBlocking };

// How long a send may wait for room in a full socket buffer.
constexpr uint32_t kSendLimitMs = 5000;

// Every wait below may be given a stop: a manual-reset event (null for none)
// that ends the wait within kStopSliceMs once it is set, so that a thread
// the library must end at an unload is never held by a peer for a whole
// acknowledgement time-out. A stopped step fails with WSAEINTR.
constexpr uint32_t kStopSliceMs = 20;

// What one bounded receive found.
struct Received {
    enum Status { Data, Closed, TimedOut, Failed } status;
    std::string bytes;
    int error;  // the Winsock error of a failed read
};

// `address` in network byte order, as in_addr holds it; only the port's low 16 bits count.
sockaddr_in ipv4Address(int32_t port, uint32_t address);
void setSocketMode(SOCKET handle, SocketMode mode);
timeval timeLimit(uint32_t limitMs);

// Connects and leaves the socket in `mode`. A negative limit waits as long as
// the system tries. Returns kind None when connected, otherwise Connect
// (refused, failed or out of time) or Stopped, with the text.
ConnectError connectSocket(SOCKET handle, const sockaddr_in &address, int32_t limitMs, SocketMode mode,
                           HANDLE stop = nullptr);

// Sends all of `text`; 0 when it went out, otherwise the Winsock error. On a
// non-blocking socket whose buffer is full it waits for room, at most
// kSendLimitMs in all (then WSAETIMEDOUT).
int sendAll(SOCKET handle, const std::string &text, HANDLE stop = nullptr);
// Waits at most `limitMs` for the socket to become readable, then takes
// what one read gives (at most 1024 bytes): data, the peer's close, or an error.
Received receiveWithin(SOCKET handle, uint32_t limitMs, HANDLE stop = nullptr);

}  // namespace varnex

#endif
