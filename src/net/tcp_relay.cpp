#include "net/tcp_relay.h"

#include <windows.h>

#include "net/socket_errors.h"
#include "net/tcp_socket.h"
#include "text/number_text.h"

namespace varnex {

namespace {

constexpr const char *kAcknowledgement = "OK";

struct Acknowledgement {
    bool received;
    std::string replyLine;
};

// Bytes are gathered across reads, so "O" and "K" in two segments make "OK".
// The wait ends as soon as the reply is "OK", can no longer become "OK",
// the server closes, or the limit passes.
Acknowledgement awaitAcknowledgement(const TcpSocket &socket, int32_t limitMs) {
    const std::string expected = kAcknowledgement;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(limitMs);
    std::string reply;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) break;
        const Received got = socket.receiveWithin(static_cast<uint32_t>(deadline - now));
        if (got.status == Received::TimedOut) continue;
        if (got.status != Received::Data) return {false, closedBeforeAckText(reply, got.error)};
        reply += got.bytes;
        if (reply == expected) return {true, reply};
        if (reply.size() >= expected.size() || expected.compare(0, reply.size(), reply) != 0)
            return {false, unexpectedReplyText(reply)};
    }
    return {false, timedOutText(NetStep::Acknowledgement, limitMs, reply)};
}

}  // namespace

void loadEndpoints(const SettingsFile &settings, EndpointTable &endpoints) {
    loadEndpoints(readEndpointSettings(settings), endpoints);
}

void loadEndpoints(const std::vector<EndpointSettings> &settings, EndpointTable &endpoints) {
    for (const EndpointSettings &entry : settings) {
        ClientEndpoint endpoint;
        endpoint.host = configText(entry.serverIp.value);
        endpoint.port = entry.serverPort.value;
        endpoint.ackTimeout = entry.ackTimeout.value;
        endpoints.emplace(entry.id, std::move(endpoint));
    }
}

TcpRelayOutcome relayOrder(const EndpointTable &endpoints, const std::string &symbol,
                        const std::string &message) {
    TcpRelayOutcome outcome;
    std::string &log = outcome.log;
    // The socket layer reports failures as values; this guard is only the
    // last line against an allocation failing.
    try {
        const auto found = endpoints.find(symbol);
        if (found == endpoints.end()) return outcome;
        const ClientEndpoint &endpoint = found->second;
        log += symbol + ", tcp://" + endpoint.host.get() + ":" + toText(endpoint.port) + "\n";
        // Non-blocking: every wait below is a bounded select, so the socket
        // need not be switched back to blocking mode.
        TcpClientSocket connection(endpoint.host.get(), endpoint.port, endpoint.ackTimeout,
                                   SocketMode::NonBlocking);
        if (connection.failed()) {
            outcome.failure = connection.failure();
            log += connection.failure() + "\n";
            return outcome;
        }
        connection.sendBytes(message);
        log += message + "\n";
        const Acknowledgement ack = awaitAcknowledgement(connection, endpoint.ackTimeout);
        if (!ack.received) outcome.failure = ack.replyLine;
        log += ack.replyLine + "\n";
        connection.close();
    } catch (...) {
        outcome.failure = kUnhandledText;
        log += std::string(kUnhandledText) + "\n";
    }
    return outcome;
}

}  // namespace varnex
