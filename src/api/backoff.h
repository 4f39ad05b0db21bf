// How long something that keeps failing is left alone before its next try:
// a first pause, then each pause twice the one before, up to a longest.
// One value serves every retry rule of the library, so the rules and the
// texts that tell a trader about them cannot drift apart. Pure.
#ifndef VARNEX_API_BACKOFF_H
#define VARNEX_API_BACKOFF_H

#include <cstdint>
#include <string>

namespace varnex {

struct Backoff {
    uint64_t firstMs;
    uint64_t longestMs;

    // The pause after the `failures`-th failure in a row: none before the
    // first, firstMs after it, then doubling up to longestMs.
    uint64_t pauseAfter(uint32_t failures) const;
    // "1 s doubling to 60 s"
    std::string text() const;
};

// A destination that is down, and a symbol that keeps missing one.
constexpr Backoff kRetryBackoff{1000, 60000};

}  // namespace varnex

#endif
