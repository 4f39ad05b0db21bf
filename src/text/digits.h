// Decimal and hexadecimal digits written by hand, never through printf or a
// stream, so that neither the host's locale nor a C runtime's idea of a
// pointer or a width can change a byte of a file name or a log line.
#ifndef VARNEX_TEXT_DIGITS_H
#define VARNEX_TEXT_DIGITS_H

#include <cstdint>
#include <string>

namespace varnex {

// The upper-case hexadecimal digit of the low four bits of `value`.
char hexDigit(unsigned value);

// The low `count` hexadecimal digits of `value`, upper case, most significant
// first, zero-padded: digits above the count are dropped, as in a field of
// fixed width.
void appendHex(std::string &out, uint64_t value, int count);

// `value` in decimal, '-' first when negative, its digits zero-padded to at
// least `width` ("-05" for -5 in width 2); never cut.
void appendDecimal(std::string &out, int64_t value, int width = 1);

}  // namespace varnex

#endif
