#include "api/endpoint_table.h"

namespace varnex {

EndpointTable endpointTable(const std::vector<EndpointSettings> &settings) {
    EndpointTable table;
    for (const EndpointSettings &entry : settings)
        table.emplace(entry.id,
                      ClientEndpoint{entry.serverIp.value, entry.serverPort.value, entry.ackTimeout.value});
    return table;
}

}  // namespace varnex
