// Host names to IPv4 addresses, with a bound on how long a resolver that
// does not answer may hold the caller.
#ifndef VARNEX_NET_NAME_LOOKUP_H
#define VARNEX_NET_NAME_LOOKUP_H

#include <windows.h>

#include <cstdint>
#include <string>

#include "net/socket_errors.h"

namespace varnex {

struct FoundAddress {
    uint32_t address;  // in network byte order, as in_addr holds it
    // None when found; otherwise Lookup (failed or out of time) or Stopped.
    ConnectError failure;
};

// A dotted address needs no resolver. A name is looked up within `limitMs`,
// or for as long as the system takes when the limit is negative; a bounded
// wait also ends once `stop` (a manual-reset event, or null) is set. The
// caller holds a Windows Sockets start-up unit. Only building a text can
// throw, and only for want of memory.
FoundAddress lookUpAddress(const std::string &host, int32_t limitMs, HANDLE stop = nullptr);

// At the unload, under the loader lock, once no export call runs: ends the
// look-up threads. A look-up still in the resolver is left to it; its thread
// ends when the resolver returns, without coming back into this module.
void endNameLookups() noexcept;

}  // namespace varnex

#endif
