#include "text/ipv4_text.h"

namespace varnex {

bool parseDottedQuad(const std::string &text, uint32_t &networkOrder) {
    uint32_t address = 0;
    size_t at = 0;
    for (int field = 0; field < 4; ++field) {
        if (field > 0) {
            if (at >= text.size() || text[at] != '.') return false;
            ++at;
        }
        const size_t first = at;
        unsigned value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - first < 3)
            value = value * 10 + static_cast<unsigned>(text[at++] - '0');
        const size_t digits = at - first;
        // A leading zero would mean octal to inet_addr: not ours to guess.
        if (digits == 0 || value > 255 || (digits > 1 && text[first] == '0')) return false;
        address |= static_cast<uint32_t>(value) << (8 * field);
    }
    if (at != text.size()) return false;
    networkOrder = address;
    return true;
}

uint16_t networkPort(int32_t port) {
    const auto value = static_cast<uint16_t>(port);
    return static_cast<uint16_t>((value >> 8) | (value << 8));
}

}  // namespace varnex
