// parseDottedQuad against glibc's inet_addr, which reads dotted addresses as
// Windows Sockets' inet_addr does: every text the parser takes must give the
// very address inet_addr gives, and every plain four-field decimal text that
// inet_addr takes, the parser must take too.
#include <arpa/inet.h>

#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "text/ipv4_text.h"

namespace {

// Four fields of one to three digits, no leading zero, separated by dots.
bool looksPlain(const std::string &text) {
    int fields = 1, digits = 0;
    char first = 0;
    for (char c : text) {
        if (c == '.') {
            if (digits == 0) return false;
            ++fields;
            digits = 0;
        } else if (c >= '0' && c <= '9') {
            if (digits == 0) first = c;
            if (++digits > 3 || (digits == 2 && first == '0')) return false;
        } else {
            return false;
        }
    }
    return fields == 4 && digits > 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    if (text.find('\0') != std::string::npos) return 0;
    uint32_t parsed = 0;
    const bool taken = varnex::parseDottedQuad(text, parsed);
    in_addr system{};
    const bool systemTakes = inet_aton(text.c_str(), &system) != 0;
    if (taken) {
        FUZZ_CHECK(systemTakes && system.s_addr == parsed, varnex_fuzz::shown(text));
    } else if (looksPlain(text) && systemTakes) {
        FUZZ_CHECK(false, "inet_aton takes a plain address the parser refused: " + varnex_fuzz::shown(text));
    }
    const uint16_t port = static_cast<uint16_t>(size * 257 + (size ? data[0] : 0));
    FUZZ_CHECK(varnex::networkPort(port) == htons(port), std::to_string(port));
    return 0;
}
