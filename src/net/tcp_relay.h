// The TCP order relay: one order exchange with its acknowledgement, and the
// table of servers per client identifier that the caller looks symbols up in.
#ifndef VARNEX_NET_TCP_RELAY_H
#define VARNEX_NET_TCP_RELAY_H

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

#include "common/relay_outcome.h"
#include "net/socket_errors.h"

namespace varnex {

struct ClientEndpoint {
    std::string host;
    // As configured, which may be no port at all: the relay then sends nothing.
    int64_t port;
    // Bounds each step on its own: the name look-up, the connection attempt
    // and the wait for "OK".
    int32_t ackTimeout;
    // A host given as a plain dotted address is read once, when the table is
    // built; then no relay spends a socket call on turning it into one.
    bool dotted = false;
    uint32_t address = 0;  // network byte order, when dotted
};

// Client identifier (byte-wise, case-sensitive, untrimmed) to its server.
using EndpointTable = std::map<std::string, ClientEndpoint>;

// Sends `message` to the endpoint and waits for exactly "OK". Writes nothing
// itself: `log` holds one text of three lines (the symbol and server, the
// message, the reply or failure); `console` the failure line for standard
// error, empty when "OK" came. Every wait ends early once `stop` (a
// manual-reset event, or null) is set: the relay fails then. Never throws.
RelayOutcome relayOrder(const ClientEndpoint &endpoint, const std::string &symbol, const std::string &message,
                        HANDLE stop = nullptr);

// Whether a connection that failed so marks its server down: every failure
// to reach it does, a refused connection too (on Windows a refused connect
// is retried for about a second before it fails, so it is no cheaper than a
// silent server), but not one of this machine, where no socket could be had.
bool marksServerDown(ConnectFailure failure);

// "tcp://host:port", as the log names a server.
std::string serverLabel(const ClientEndpoint &endpoint);

// For a symbol that has no server: nothing is sent, and the log still gets
// one empty text, as the relay has always logged it.
RelayOutcome noEndpointOutcome();

}  // namespace varnex

#endif
