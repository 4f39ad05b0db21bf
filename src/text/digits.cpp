#include "text/digits.h"

namespace varnex {

char hexDigit(unsigned value) { return "0123456789ABCDEF"[value & 0x0F]; }

void appendHex(std::string &out, uint64_t value, int count) {
    for (int digit = count - 1; digit >= 0; --digit) {
        // A field wider than the value is padded, and a shift by 64 or more
        // would be undefined.
        const int shift = digit * 4;
        out += shift < 64 ? hexDigit(static_cast<unsigned>(value >> shift)) : '0';
    }
}

void appendDecimal(std::string &out, int64_t value, int width) {
    // Negated as unsigned so that the most negative value has a magnitude too.
    uint64_t magnitude = static_cast<uint64_t>(value);
    if (value < 0) {
        out += '-';
        magnitude = 0 - magnitude;
    }
    char digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (count < width) out.append(static_cast<size_t>(width - count), '0');
    while (count > 0) out += digits[--count];
}

}  // namespace varnex
