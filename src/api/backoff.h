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
    // "1 s doubling to 60 s", or "1 s" for a pause that never grows.
    std::string text() const;
};

// A symbol that keeps missing a destination, and a destination that is down
// while host relays try it themselves.
constexpr Backoff kRetryBackoff{1000, 60000};
// A destination that is down while the library's delivery thread alone
// tries it: the host's thread pays nothing for a try, so a try costs only
// that thread, and the next comes a second after the last one ended.
constexpr Backoff kLibraryRetry{1000, 1000};

}  // namespace varnex

#endif
