// Plain dotted IPv4 addresses ("127.0.0.1"), read without Windows Sockets, so
// that a server table given by address needs no socket call per relay to turn
// its text into an address.
#ifndef VARNEX_TEXT_IPV4_TEXT_H
#define VARNEX_TEXT_IPV4_TEXT_H

#include <cstdint>
#include <string>

namespace varnex {

// True for exactly four decimal fields of 0..255 without leading zeros,
// separated by single dots and nothing else; `networkOrder` then holds the
// address as in_addr holds it (first field in the lowest byte). Every other
// text, including the short, octal and hexadecimal forms that inet_addr also
// reads, is left to the system's own reading.
bool parseDottedQuad(const std::string &text, uint32_t &networkOrder);

// `port`'s low 16 bits in network byte order, as sockaddr_in holds them on
// the little-endian machines Windows runs on.
uint16_t networkPort(int32_t port);

}  // namespace varnex

#endif
