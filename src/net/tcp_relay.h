// The TCP order relay: the table of servers per client identifier, and one
// order exchange with its acknowledgement.
#ifndef VARNEX_NET_TCP_RELAY_H
#define VARNEX_NET_TCP_RELAY_H

#include <cstdint>
#include <map>
#include <string>

#include "config/setting_values.h"
#include "config/settings_file.h"
#include "config/varnex_config.h"

namespace varnex {

struct ClientEndpoint {
    ConfigText host;
    int32_t port;
    // Bounds each step on its own: the name look-up, the connection attempt
    // and the wait for "OK".
    int32_t ackTimeout;
};

// Client identifier (byte-wise, case-sensitive, untrimmed) to its server.
using EndpointTable = std::map<std::string, ClientEndpoint>;

// Reads "SocketClient"/clientID and each identifier's "SC-" section; the
// first listing of an identifier wins.
void loadEndpoints(const SettingsFile &settings, EndpointTable &endpoints);
void loadEndpoints(const std::vector<EndpointSettings> &settings, EndpointTable &endpoints);

struct TcpRelayOutcome {
    std::string log;      // empty when the symbol has no server
    std::string failure;  // the line for standard error; empty when "OK" came
};

// Sends `message` to the symbol's server and waits for exactly "OK". Writes
// nothing itself: the caller logs the log text and writes the failure to
// standard error once it holds no lock. Never throws.
TcpRelayOutcome relayOrder(const EndpointTable &endpoints, const std::string &symbol,
                        const std::string &message);

}  // namespace varnex

#endif
