// The kinds of a connection's failure, and readable texts for Winsock error
// numbers and the TCP exchange's other failures: msvcrt's strerror knows
// none of them, so every failure text is built here, at the failure site's
// request, while callers decide on the kind.
#ifndef VARNEX_NET_SOCKET_ERRORS_H
#define VARNEX_NET_SOCKET_ERRORS_H

#include <cstdint>
#include <string>

namespace varnex {

// Why a connection could not be made, for callers to decide on. The first
// two, and an allocation that failed, are this machine's: no socket could be
// had. The others are the server's, or the way to it.
enum class ConnectFailure { None, StartFailed, NoSocket, Lookup, Connect, Stopped, Unhandled };

// A connection's failure: its kind, and the text the log and standard error
// show for it, built by the functions below at the failure site.
struct ConnectError {
    ConnectFailure kind = ConnectFailure::None;
    std::string text;

    bool failed() const { return kind != ConnectFailure::None; }
};

// The texts of the kinds that carry no detail.
constexpr const char *kStartFailedText = "Could not start WSA";  // StartFailed
constexpr const char *kNoSocketText = "INVALID_SOCKET";          // NoSocket
constexpr const char *kUnhandledText = "unhandled exception";    // Unhandled

// "WSAECONNREFUSED (10061) Connection refused." — the name, the number and
// the system's text where it has one.
std::string socketErrorText(int code);

// "host lookup failed for NAME: " + socketErrorText(code)
std::string lookupFailedText(const std::string &host, int code);
// "connect failed: " + socketErrorText(code)
std::string connectFailedText(int code);

// The bounded steps of one exchange, for saying which one ran out of time.
enum class NetStep { Lookup, Connect, Acknowledgement };
// "host lookup for NAME timed out after N ms", "connect timed out after N ms",
// "acknowledgement timed out after N ms"; `subject` is the host name of a
// look-up, and for the acknowledgement the bytes received so far, if any.
std::string timedOutText(NetStep step, int32_t limitMs, const std::string &subject = std::string());

// The same steps ended early by the library's unload: "host lookup for NAME
// stopped: the library is unloading", "connect stopped: ...",
// "acknowledgement wait stopped: ..." (with the bytes received so far).
std::string stoppedText(NetStep step, const std::string &subject = std::string());

// "send failed: " + socketErrorText(code)
std::string sendFailedText(int code);

// "not sent: serverPort N is not a TCP port (1 to 65535)"
std::string notAPortText(int64_t port);

// A reply that is not, and can no longer become, exactly "OK".
std::string unexpectedReplyText(const std::string &reply);
// The server closed (code 0) or reset the connection before its "OK".
std::string closedBeforeAckText(const std::string &reply, int code);

}  // namespace varnex

#endif
