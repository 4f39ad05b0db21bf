// Numbers as the Windows C runtime prints them ("%d" and "%g"), computed
// without printf, streams or locale, so a host's regional settings cannot
// turn a decimal point into a comma inside an order.
#ifndef VARNEX_TEXT_NUMBER_TEXT_H
#define VARNEX_TEXT_NUMBER_TEXT_H

#include <cstdint>
#include <string>

namespace varnex {

std::string toText(int32_t value);

// General notation, six significant digits, rounded from the exact binary
// value with exact halves going away from zero; exponent form below 1e-4 and
// from 1e6 on, written as e+006 / e-005. Non-finite values as 1.#INF, -1.#INF,
// 1.#QNAN for a NaN with the sign clear, -1.#IND with it set.
std::string toText(double value);

}  // namespace varnex

#endif
