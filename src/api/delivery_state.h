// Which destinations hold a symbol's current position. The quantity is the
// strategy's whole position, so a message is a target: a destination that
// missed it (no receiver, a refused or silent server, a blocked file) gets
// it again with the symbol's next signal, and one that holds it gets nothing
// more. Pure: no Win32 types, the clock is passed in.
#ifndef VARNEX_API_DELIVERY_STATE_H
#define VARNEX_API_DELIVERY_STATE_H

#include <cstdint>
#include <memory>
#include <string>

#include "api/backoff.h"

namespace varnex {

// In the order the pipeline serves them.
enum class Destination { Pipe, Tcp, SignalFile, SignalDebugFile };
constexpr int kDestinationCount = 4;

// A set of destinations.
class Destinations {
public:
    Destinations &add(Destination d) {
        bits_ |= bit(d);
        return *this;
    }
    bool has(Destination d) const { return (bits_ & bit(d)) != 0; }
    bool empty() const { return bits_ == 0; }
    bool operator==(const Destinations &other) const { return bits_ == other.bits_; }
    // Those of this set that are also in `kinds`.
    Destinations within(Destinations kinds) const {
        Destinations both;
        both.bits_ = bits_ & kinds.bits_;
        return both;
    }

private:
    static unsigned bit(Destination d) { return 1u << static_cast<int>(d); }
    unsigned bits_ = 0;
};

// The name a destination has in the log's resend line.
const char *destinationName(Destination d);
// symbol + " resend: " + the names, in pipeline order, joined by ", ".
std::string resendText(const std::string &symbol, Destinations due);

// How often each destination has been reached by anyone, as its shared
// health counts it: a symbol that missed a destination before the count moved
// need not wait out a pause of its own, since the destination is back.
struct ReachedCounts {
    uint32_t of[kDestinationCount] = {};
};

class DeliveryState {
public:
    // A new quantity: no destination holds it yet.
    void positionChanged();
    // Of `enabled`, the destinations that lack the current position and may
    // be tried at `nowMs`.
    Destinations dueAt(Destinations enabled, uint64_t nowMs, const ReachedCounts &reached = {}) const;
    // What one try of `d` at `nowMs` did. A miss is tried again with the
    // next signal, each further one after the pauses of kRetryBackoff; a
    // delivery ends it. A miss whose destination went down for every symbol, or that was
    // skipped because it is down, gets no pause of this symbol's own: the
    // destination's health decides when it is tried. `reachedCount` is the
    // destination's count at the try.
    void record(Destination d, bool reached, uint64_t nowMs, bool ownPause = true, uint32_t reachedCount = 0);
    bool holds(Destination d) const { return (holds_ & bit(d)) != 0; }
    // Of `enabled`, the destinations that lack the current position, whatever their pauses.
    Destinations lacking(Destinations enabled) const;

    // The library's delivery thread takes one position to `d` without the
    // symbol's turn (so no host call waits on that try): from begin to end
    // no other relay of this symbol goes to `d`, so its positions reach it
    // one at a time and never an older after a newer. `d` is not due meanwhile.
    void beginDelivery(Destination d) { delivering_ |= bit(d); }
    bool delivering(Destination d) const { return (delivering_ & bit(d)) != 0; }
    void endDelivery(Destination d) { delivering_ &= static_cast<uint8_t>(~bit(d)); }

private:
    // What a miss leaves behind. Most symbols never miss: a book of 100,000
    // symbols keeps only two bytes and a pointer each inline, beside the
    // rest of what every signal touches, and makes these on a first miss.
    struct Pauses {
        uint32_t misses[kDestinationCount] = {};
        uint32_t reachedCountAtMiss[kDestinationCount] = {};
        uint64_t notBeforeMs[kDestinationCount] = {};
    };
    static uint8_t bit(Destination d) { return static_cast<uint8_t>(1u << static_cast<int>(d)); }
    uint8_t holds_ = 0;
    uint8_t delivering_ = 0;
    std::unique_ptr<Pauses> pauses_;  // none: no pause, nothing missed
};

}  // namespace varnex

#endif
