#include "net/socket_errors.h"

#include <windows.h>
#include <winsock2.h>

#include "common/system_errors.h"
#include "text/digits.h"

namespace varnex {

namespace {

const char *socketErrorName(int code) {
    switch (code) {
        case WSAEINTR:
            return "WSAEINTR";
        case WSAEBADF:
            return "WSAEBADF";
        case WSAEACCES:
            return "WSAEACCES";
        case WSAEFAULT:
            return "WSAEFAULT";
        case WSAEINVAL:
            return "WSAEINVAL";
        case WSAEMFILE:
            return "WSAEMFILE";
        case WSAEWOULDBLOCK:
            return "WSAEWOULDBLOCK";
        case WSAEINPROGRESS:
            return "WSAEINPROGRESS";
        case WSAEALREADY:
            return "WSAEALREADY";
        case WSAENOTSOCK:
            return "WSAENOTSOCK";
        case WSAEDESTADDRREQ:
            return "WSAEDESTADDRREQ";
        case WSAEMSGSIZE:
            return "WSAEMSGSIZE";
        case WSAEPROTOTYPE:
            return "WSAEPROTOTYPE";
        case WSAENOPROTOOPT:
            return "WSAENOPROTOOPT";
        case WSAEPROTONOSUPPORT:
            return "WSAEPROTONOSUPPORT";
        case WSAESOCKTNOSUPPORT:
            return "WSAESOCKTNOSUPPORT";
        case WSAEOPNOTSUPP:
            return "WSAEOPNOTSUPP";
        case WSAEPFNOSUPPORT:
            return "WSAEPFNOSUPPORT";
        case WSAEAFNOSUPPORT:
            return "WSAEAFNOSUPPORT";
        case WSAEADDRINUSE:
            return "WSAEADDRINUSE";
        case WSAEADDRNOTAVAIL:
            return "WSAEADDRNOTAVAIL";
        case WSAENETDOWN:
            return "WSAENETDOWN";
        case WSAENETUNREACH:
            return "WSAENETUNREACH";
        case WSAENETRESET:
            return "WSAENETRESET";
        case WSAECONNABORTED:
            return "WSAECONNABORTED";
        case WSAECONNRESET:
            return "WSAECONNRESET";
        case WSAENOBUFS:
            return "WSAENOBUFS";
        case WSAEISCONN:
            return "WSAEISCONN";
        case WSAENOTCONN:
            return "WSAENOTCONN";
        case WSAESHUTDOWN:
            return "WSAESHUTDOWN";
        case WSAETIMEDOUT:
            return "WSAETIMEDOUT";
        case WSAECONNREFUSED:
            return "WSAECONNREFUSED";
        case WSAEHOSTDOWN:
            return "WSAEHOSTDOWN";
        case WSAEHOSTUNREACH:
            return "WSAEHOSTUNREACH";
        case WSASYSNOTREADY:
            return "WSASYSNOTREADY";
        case WSAVERNOTSUPPORTED:
            return "WSAVERNOTSUPPORTED";
        case WSANOTINITIALISED:
            return "WSANOTINITIALISED";
        case WSAHOST_NOT_FOUND:
            return "WSAHOST_NOT_FOUND";
        case WSATRY_AGAIN:
            return "WSATRY_AGAIN";
        case WSANO_RECOVERY:
            return "WSANO_RECOVERY";
        case WSANO_DATA:
            return "WSANO_DATA";
        default:
            return "socket error";
    }
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
            out += "\\x";
            appendHex(out, c, 2);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string receivedSoFar(const std::string &reply) {
    return reply.empty() ? std::string() : " (received " + visibleBytes(reply) + ")";
}

}  // namespace

std::string socketErrorText(int code) {
    std::string text = std::string(socketErrorName(code)) + " (" + std::to_string(code) + ")";
    const std::string system = systemMessage(static_cast<unsigned long>(code));
    if (!system.empty()) text += " " + system;
    return text;
}

std::string lookupFailedText(const std::string &host, int code) {
    return "host lookup failed for " + host + ": " + socketErrorText(code);
}

std::string connectFailedText(int code) { return "connect failed: " + socketErrorText(code); }

std::string sendFailedText(int code) { return "send failed: " + socketErrorText(code); }

std::string notAPortText(int64_t port) {
    return "not sent: serverPort " + std::to_string(port) + " is not a TCP port (1 to 65535)";
}

std::string timedOutText(NetStep step, int32_t limitMs, const std::string &subject) {
    const std::string after = " timed out after " + std::to_string(limitMs) + " ms";
    switch (step) {
        case NetStep::Lookup:
            return "host lookup for " + subject + after;
        case NetStep::Connect:
            return "connect" + after;
        case NetStep::Acknowledgement:
            break;
    }
    return "acknowledgement" + after + receivedSoFar(subject);
}

std::string stoppedText(NetStep step, const std::string &subject) {
    const std::string stopped = " stopped: the library is unloading";
    switch (step) {
        case NetStep::Lookup:
            return "host lookup for " + subject + stopped;
        case NetStep::Connect:
            return "connect" + stopped;
        case NetStep::Acknowledgement:
            break;
    }
    return "acknowledgement wait" + stopped + receivedSoFar(subject);
}

std::string unexpectedReplyText(const std::string &reply) {
    return "unexpected reply " + visibleBytes(reply);
}

std::string closedBeforeAckText(const std::string &reply, int code) {
    std::string text = "connection closed before acknowledgement";
    if (code != 0) text += ": " + socketErrorText(code);
    return text + receivedSoFar(reply);
}

}  // namespace varnex
