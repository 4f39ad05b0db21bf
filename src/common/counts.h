// Sizes handed to Win32 and Winsock counts, and the range of a TCP port. A size_t wider than the count
// would wrap (64-bit) into a small or negative number; clamped, a caller at
// worst transfers less than asked and sees it in the count it gets back.
#ifndef VARNEX_COMMON_COUNTS_H
#define VARNEX_COMMON_COUNTS_H

#include <cstddef>
#include <cstdint>
#include <limits>

namespace varnex {

// For DWORD counts (ReadFile, WriteFile).
constexpr uint32_t clampToUint32(std::size_t size) {
    return size > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                       : static_cast<uint32_t>(size);
}

// For int counts (send, recv).
constexpr int clampToInt(std::size_t size) {
    return size > static_cast<std::size_t>(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                                            : static_cast<int>(size);
}

// A TCP port is 1 to 65535: anything else is refused, never wrapped into
// one (70000 would otherwise reach port 4464).
constexpr bool isTcpPort(int64_t number) { return number >= 1 && number <= 65535; }

}  // namespace varnex

#endif
