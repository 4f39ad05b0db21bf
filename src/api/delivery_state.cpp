#include "api/delivery_state.h"

#include <new>

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

void DeliveryState::positionChanged() { holds_ = 0; }

Destinations DeliveryState::dueAt(Destinations enabled, uint64_t nowMs, const ReachedCounts &reached) const {
    Destinations due;
    for (int i = 0; i < kDestinationCount; ++i) {
        const auto d = static_cast<Destination>(i);
        if (!enabled.has(d) || holds(d) || delivering(d)) continue;
        if (!pauses_ || nowMs >= pauses_->notBeforeMs[i] || reached.of[i] != pauses_->reachedCountAtMiss[i])
            due.add(d);
    }
    return due;
}

Destinations DeliveryState::lacking(Destinations enabled) const {
    Destinations lacking;
    for (int i = 0; i < kDestinationCount; ++i) {
        const auto d = static_cast<Destination>(i);
        if (enabled.has(d) && !holds(d)) lacking.add(d);
    }
    return lacking;
}

void DeliveryState::record(Destination d, bool reached, uint64_t nowMs, bool ownPause,
                           uint32_t reachedCount) {
    const int i = static_cast<int>(d);
    if (reached)
        holds_ |= bit(d);
    else
        holds_ &= static_cast<uint8_t>(~bit(d));
    if (reached || !ownPause) {
        // The count and the time matter only under a pause; none is made
        // here, and the pauses go once no destination keeps one.
        if (!pauses_) return;
        pauses_->misses[i] = 0;
        pauses_->notBeforeMs[i] = 0;
        for (uint32_t misses : pauses_->misses)
            if (misses) return;
        pauses_.reset();
        return;
    }
    // Out of memory, a miss goes without a pause of its own: it is tried
    // again with the next signal, which is sooner, never later.
    if (!pauses_) pauses_.reset(new (std::nothrow) Pauses);
    if (!pauses_) return;
    pauses_->reachedCountAtMiss[i] = reachedCount;
    // The first miss is tried again with the very next signal.
    ++pauses_->misses[i];
    pauses_->notBeforeMs[i] = nowMs + kRetryBackoff.pauseAfter(pauses_->misses[i] - 1);
}

}  // namespace varnex
