#include "api/backoff.h"

namespace varnex {

uint64_t Backoff::pauseAfter(uint32_t failures) const {
    if (failures == 0) return 0;
    uint64_t pause = firstMs;
    for (uint32_t i = 1; i < failures && pause < longestMs; ++i) pause *= 2;
    return pause < longestMs ? pause : longestMs;
}

std::string Backoff::text() const {
    if (longestMs <= firstMs) return std::to_string(firstMs / 1000) + " s";
    return std::to_string(firstMs / 1000) + " s doubling to " + std::to_string(longestMs / 1000) + " s";
}

}  // namespace varnex
