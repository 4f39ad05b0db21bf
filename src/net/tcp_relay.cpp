#include "net/tcp_relay.h"

#include <windows.h>

#include "common/counts.h"
#include "net/socket_errors.h"
#include "net/tcp_connection.h"
#include "text/digits.h"

namespace varnex {

namespace {

constexpr const char *kAcknowledgement = "OK";

struct Acknowledgement {
    bool received;
    std::string replyLine;
    // The server could not be reached, or did not answer in time.
    bool serverDown = false;
};

// Bytes are gathered across reads, so "O" and "K" in two segments make "OK".
// The wait ends as soon as the reply is "OK", can no longer become "OK",
// the server closes, or the limit passes.
Acknowledgement awaitAcknowledgement(const TcpConnection &connection, int32_t limitMs) {
    const std::string expected = kAcknowledgement;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(limitMs);
    std::string reply;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) break;
        const Received got = connection.receiveWithin(static_cast<uint32_t>(deadline - now));
        if (got.status == Received::TimedOut) continue;
        if (got.status == Received::Failed && got.error == WSAEINTR)
            return {false, stoppedText(NetStep::Acknowledgement, reply)};
        if (got.status != Received::Data) return {false, closedBeforeAckText(reply, got.error)};
        reply += got.bytes;
        if (reply == expected) return {true, reply};
        if (reply.size() >= expected.size() || expected.compare(0, reply.size(), reply) != 0)
            return {false, unexpectedReplyText(reply)};
    }
    return {false, timedOutText(NetStep::Acknowledgement, limitMs, reply), true};
}

// The exchange after the first log line: appends the message and reply lines
// to `log` and returns whether "OK" came, or the failure text.
Acknowledgement exchange(const ClientEndpoint &endpoint, const std::string &message, std::string &log,
                         HANDLE stop) {
    // Never wrapped into a port that some other program may listen on.
    if (!isTcpPort(endpoint.port)) return {false, notAPortText(endpoint.port)};
    const auto port = static_cast<int32_t>(endpoint.port);
    // Non-blocking: every wait below is a bounded select, so the socket
    // need not be switched back to blocking mode.
    TcpConnection connection =
        endpoint.dotted
            ? TcpConnection(endpoint.address, port, endpoint.ackTimeout, SocketMode::NonBlocking, stop)
            : TcpConnection(endpoint.host, port, endpoint.ackTimeout, SocketMode::NonBlocking, stop);
    if (connection.failed()) {
        const ConnectError &failure = connection.failure();
        return {false, failure.text, marksServerDown(failure.kind)};
    }
    const int sendError = connection.send(message);
    log += message + "\n";
    // No acknowledgement can come for a message that did not go out. A send
    // that gave up waiting for room says the server stopped reading; one the
    // server cut short (a reset) says it is there and hung up.
    if (sendError != 0) {
        connection.close();
        return {false, sendFailedText(sendError), sendError == WSAETIMEDOUT};
    }
    Acknowledgement ack = awaitAcknowledgement(connection, endpoint.ackTimeout);
    connection.close();
    return ack;
}

}  // namespace

RelayOutcome relayOrder(const ClientEndpoint &endpoint, const std::string &symbol, const std::string &message,
                        HANDLE stop) {
    RelayOutcome outcome;
    std::string log;
    // The socket layer reports failures as values; this guard is only the
    // last line against an allocation failing.
    try {
        log += symbol + ", " + serverLabel(endpoint) + "\n";
        const Acknowledgement ack = exchange(endpoint, message, log, stop);
        log += ack.replyLine + "\n";
        if (!ack.received) outcome.console = ack.replyLine + "\r\n";
        outcome.log.push_back(std::move(log));
        outcome.reached = ack.received;
        outcome.down = ack.serverDown;
        if (!ack.received) outcome.reason = ack.replyLine;
    } catch (...) {
        outcome.reached = false;
        outcome.console = std::string(kUnhandledText) + "\r\n";
        outcome.log.assign(1, log + kUnhandledText + "\n");
    }
    return outcome;
}

bool marksServerDown(ConnectFailure failure) {
    switch (failure) {
        case ConnectFailure::None:
        case ConnectFailure::StartFailed:
        case ConnectFailure::NoSocket:
        case ConnectFailure::Unhandled:
            return false;
        case ConnectFailure::Lookup:
        case ConnectFailure::Connect:
        case ConnectFailure::Stopped:
            break;
    }
    return true;
}

std::string serverLabel(const ClientEndpoint &endpoint) {
    std::string label = "tcp://" + endpoint.host + ":";
    appendDecimal(label, endpoint.port);
    return label;
}

RelayOutcome noEndpointOutcome() {
    RelayOutcome outcome;
    outcome.log.emplace_back();
    return outcome;
}

}  // namespace varnex
