// The TCP relay's table of servers, built once from the configuration, so
// that the relay itself knows nothing of how settings are read.
#ifndef VARNEX_API_ENDPOINT_TABLE_H
#define VARNEX_API_ENDPOINT_TABLE_H

#include <vector>

#include "config/varnex_config.h"
#include "net/tcp_relay.h"

namespace varnex {

// The first listing of an identifier wins.
EndpointTable endpointTable(const std::vector<EndpointSettings> &settings);

}  // namespace varnex

#endif
