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
    // Bounds the connection attempt and, separately, the wait for "OK".
    int32_t ackTimeout;
};

// Client identifier (byte-wise, case-sensitive, untrimmed) to its server.
using EndpointTable = std::map<std::string, ClientEndpoint>;

// Reads "SocketClient"/clientID and each identifier's "SC-" section; the
// first listing of an identifier wins.
void loadEndpoints(const SettingsFile &settings, EndpointTable &endpoints);
void loadEndpoints(const std::vector<EndpointSettings> &settings, EndpointTable &endpoints);

// Sends `message` to the symbol's server and waits for exactly "OK". Returns
// the log text (empty when the symbol has no server); failures also go to
// standard error. Never throws.
std::string relayOrder(const EndpointTable &endpoints, const std::string &symbol, const std::string &message);

}  // namespace varnex

#endif
