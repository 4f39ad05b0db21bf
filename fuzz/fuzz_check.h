// A property that fails prints what it saw and aborts, which libFuzzer
// reports as a crash and saves the input that caused it.
#ifndef VARNEX_FUZZ_FUZZ_CHECK_H
#define VARNEX_FUZZ_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>
#include <string>

namespace varnex_fuzz {

[[noreturn]] inline void fail(const char *file, int line, const char *property, const std::string &detail) {
    std::fprintf(stderr, "%s:%d: property failed: %s\n%s\n", file, line, property, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

// Bytes shown with C escapes, so a failing input can be read off the report;
// long texts are cut after their first 200 bytes and their length is given.
inline std::string shown(const std::string &bytes) {
    constexpr size_t kShownBytes = 200;
    std::string out = "\"";
    for (unsigned char c : bytes.substr(0, kShownBytes)) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        }
    }
    out += "\"";
    if (bytes.size() > kShownBytes) out += "... (" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

}  // namespace varnex_fuzz

#define FUZZ_CHECK(condition, detail) \
    ((condition) ? (void)0 : ::varnex_fuzz::fail(__FILE__, __LINE__, #condition, (detail)))

#endif
