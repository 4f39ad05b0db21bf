// Readable texts for Winsock error numbers: msvcrt's strerror knows none of
// them, so every failure text is built here, at the failure site's request.
#ifndef VARNEX_NET_SOCKET_ERRORS_H
#define VARNEX_NET_SOCKET_ERRORS_H

#include <string>

namespace varnex {

// "WSAECONNREFUSED (10061) Connection refused." — the name, the number and
// the system's text where it has one.
std::string socketErrorText(int code);

}  // namespace varnex

#endif
