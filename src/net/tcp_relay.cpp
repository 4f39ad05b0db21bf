#include "net/tcp_relay.h"

#include <windows.h>

#include <cstdio>

#include "api/number_text.h"
#include "net/tcp_socket.h"

namespace varnex {

namespace {

constexpr const char *kAcknowledgement = "OK";

void toStandardError(const std::string &text) {
    std::fputs(text.c_str(), stderr);
    std::fputs("\n", stderr);
    std::fflush(stderr);
}

// Received bytes shown on one log line: line ends and other control bytes escaped.
std::string visibleBytes(const std::string &bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
            static const char hex[] = "0123456789ABCDEF";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

struct Acknowledgement {
    bool received;
    std::string replyLine;
};

// Bytes are gathered across polls, so "O" and "K" in two segments make "OK".
// The wait ends as soon as the reply is "OK", can no longer become "OK",
// the server closes, or the limit passes; it blocks in select meanwhile.
Acknowledgement awaitAcknowledgement(const TcpSocket &socket, int32_t limitMs) {
    const std::string expected = kAcknowledgement;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(limitMs);
    std::string reply;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) break;
        SocketSelector selector(socket, static_cast<uint32_t>(deadline - now));
        if (!selector.isReady(socket)) continue;
        const std::string arrived = socket.receiveAvailable();
        if (arrived.empty()) {
            // Readable with nothing to read: the server closed (or reset) the connection.
            std::string line = "connection closed before acknowledgement";
            if (!reply.empty()) line += " (received " + visibleBytes(reply) + ")";
            return {false, line};
        }
        reply += arrived;
        if (reply == expected) return {true, reply};
        if (reply.size() >= expected.size() || expected.compare(0, reply.size(), reply) != 0)
            return {false, "unexpected reply " + visibleBytes(reply)};
    }
    std::string line = "no acknowledgement within " + toText(limitMs) + " ms";
    if (!reply.empty()) line += " (received " + visibleBytes(reply) + ")";
    return {false, line};
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

std::string relayOrder(const EndpointTable &endpoints, const std::string &symbol, const std::string &message) {
    std::string log;
    try {
        const auto found = endpoints.find(symbol);
        if (found == endpoints.end()) return log;
        const ClientEndpoint &endpoint = found->second;
        log += symbol + ", tcp://" + endpoint.host.get() + ":" + toText(endpoint.port) + "\n";
        TcpClientSocket connection(endpoint.host.get(), endpoint.port, endpoint.ackTimeout);
        connection.sendBytes(message);
        log += message + "\n";
        const Acknowledgement ack = awaitAcknowledgement(connection, endpoint.ackTimeout);
        if (!ack.received) toStandardError(ack.replyLine);
        log += ack.replyLine + "\n";
        connection.close();
    } catch (const char *error) {
        toStandardError(error);
        log += std::string(error) + "\n";
    } catch (const std::string &error) {
        toStandardError(error);
        log += error + "\n";
    } catch (...) {
        toStandardError("unhandled exception");
        log += "unhandled exception\n";
    }
    return log;
}

}  // namespace varnex
