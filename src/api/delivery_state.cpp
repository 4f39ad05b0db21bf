#include "api/delivery_state.h"

namespace varnex {

const char *destinationName(Destination d) {
    switch (d) {
        case Destination::Pipe:
            return "pipe";
        case Destination::Tcp:
            return "tcp";
        case Destination::SignalFile:
            return "signal file";
        case Destination::SignalDebugFile:
            return "signal debug file";
    }
    return "";
}

std::string resendText(const std::string &symbol, Destinations due) {
    std::string text = symbol + " resend:";
    const char *separator = " ";
    for (int i = 0; i < kDestinationCount; ++i) {
        const auto d = static_cast<Destination>(i);
        if (!due.has(d)) continue;
        text += separator;
        text += destinationName(d);
        separator = ", ";
    }
    return text;
}

void DeliveryState::positionChanged() {
    for (Slot &slot : slots_) slot.holds = false;
}

Destinations DeliveryState::dueAt(Destinations enabled, uint64_t nowMs, const ReachedCounts &reached) const {
    Destinations due;
    for (int i = 0; i < kDestinationCount; ++i) {
        const auto d = static_cast<Destination>(i);
        const Slot &slot = slots_[i];
        if (enabled.has(d) && !slot.holds && !slot.delivering &&
            (nowMs >= slot.notBeforeMs || reached.of[i] != slot.reachedCountAtMiss))
            due.add(d);
    }
    return due;
}

Destinations DeliveryState::lacking(Destinations enabled) const {
    Destinations lacking;
    for (int i = 0; i < kDestinationCount; ++i) {
        const auto d = static_cast<Destination>(i);
        if (enabled.has(d) && !slots_[i].holds) lacking.add(d);
    }
    return lacking;
}

void DeliveryState::record(Destination d, bool reached, uint64_t nowMs, bool ownPause,
                           uint32_t reachedCount) {
    Slot &slot = slots_[static_cast<int>(d)];
    slot.holds = reached;
    slot.reachedCountAtMiss = reachedCount;
    if (reached || !ownPause) {
        slot.misses = 0;
        slot.notBeforeMs = 0;
        return;
    }
    // The first miss is tried again with the very next signal.
    ++slot.misses;
    slot.notBeforeMs = nowMs + kRetryBackoff.pauseAfter(slot.misses - 1);
}

}  // namespace varnex
