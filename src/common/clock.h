// The local clock every stamp is read from.
#ifndef VARNEX_COMMON_CLOCK_H
#define VARNEX_COMMON_CLOCK_H

#include <cstdint>

#include "text/stamped_lines.h"

namespace varnex {

// The system's local time now.
LocalTime localNow();
// The local time `ms` milliseconds ago.
LocalTime localTimeAgo(uint64_t ms);

}  // namespace varnex

#endif
