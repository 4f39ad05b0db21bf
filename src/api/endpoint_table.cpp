#include "api/endpoint_table.h"

#include "text/ipv4_text.h"

namespace varnex {

EndpointTable endpointTable(const std::vector<EndpointSettings> &settings) {
    EndpointTable table;
    for (const EndpointSettings &entry : settings) {
        ClientEndpoint endpoint{entry.serverIp.value, entry.serverPort.written, entry.ackTimeout.value};
        endpoint.dotted = parseDottedQuad(endpoint.host, endpoint.address);
        table.emplace(entry.id, std::move(endpoint));
    }
    return table;
}

}  // namespace varnex
