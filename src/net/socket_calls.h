// The Winsock steps the socket classes are made of, on a raw handle whose
// owner is the caller: building an address, switching the blocking mode,
// turning a limit into select's form, connecting with and without a bound.
#ifndef VARNEX_NET_SOCKET_CALLS_H
#define VARNEX_NET_SOCKET_CALLS_H

#include <winsock2.h>

#include <cstdint>
#include <string>

namespace varnex {

enum class SocketMode { Blocking, NonBlocking };

// `address` in network byte order, as in_addr holds it; only the port's low 16 bits count.
sockaddr_in ipv4Address(int32_t port, uint32_t address);
void setSocketMode(SOCKET handle, SocketMode mode);
timeval timeLimit(uint32_t limitMs);

// Connects and leaves the socket in `mode`. A negative limit waits as long as
// the system tries. Returns the failure text, empty when connected.
std::string connectSocket(SOCKET handle, const sockaddr_in &address, int32_t limitMs, SocketMode mode);

}  // namespace varnex

#endif
