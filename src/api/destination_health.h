// How one destination is doing, shared by every symbol and host thread that
// relays to it: a TCP server (host and port), the order pipe's receiver. A
// try that fails the way a dead or hung peer fails (a time-out, a refused
// connection, a receiver that is busy or not reading) marks the destination
// down. While it is down, relays to it do not wait on it: they are skipped,
// and one try per pause finds out whether it is back. Who makes that try is
// the rule's: while positions are kept owed, the library's delivery thread
// alone, so the host's thread pays for the first failure only; otherwise the
// first host relay after the pause. A position it takes brings it back at
// once. Without this every symbol would pay its own time-out, and a host
// calling hundreds of symbols from one thread would freeze for as long as
// its server is down.
// Pure: no Win32 types, the clock is passed in; the caller serialises.
#ifndef VARNEX_API_DESTINATION_HEALTH_H
#define VARNEX_API_DESTINATION_HEALTH_H

#include <cstdint>
#include <string>

#include "api/backoff.h"

namespace varnex {

// What one try of a destination found.
enum class TryResult {
    Reached,  // it holds the position now
    Refused,  // it answered but did not take this one: it stays up, or down
    Down,     // it could not be reached in time, or is held by someone else
};

// Who tries a destination that is down, and after which pauses.
struct RetryRule {
    Backoff pause;
    bool libraryTries;  // only a try admitted `byLibrary`; host relays skip it
};
// Nothing is kept owed: the host's own relays find out when it is back.
constexpr RetryRule kHostTries{kRetryBackoff, false};
// Positions are kept owed, and the library's delivery thread tries.
constexpr RetryRule kLibraryTries{kLibraryRetry, true};

class DestinationHealth {
public:
    enum class Change { None, WentDown, CameBack };

    struct Admission {
        bool go = false;     // try it now
        bool probe = false;  // this is the one try of a pause; settle or abandon it
        uint64_t downSinceMs = 0;
        // While skipped: how long until the next try may start; 0 while
        // another thread is trying it right now.
        uint64_t nextTryInMs = 0;
    };

    explicit DestinationHealth(RetryRule rule = kHostTries) : rule_(rule) {}

    // `byLibrary`: asked by the library's delivery thread, not a host call.
    Admission admit(uint64_t nowMs, bool byLibrary = false);
    // What the admitted try found.
    Change settle(const Admission &admission, TryResult result, uint64_t nowMs);
    // An admitted probe that was not made after all.
    void abandon(const Admission &admission);

    bool down() const { return down_; }
    uint64_t pauseMs() const { return rule_.pause.pauseAfter(failures_); }
    // While down: how long until the next try may start, 0 while one runs.
    uint64_t nextTryInMs(uint64_t nowMs) const {
        return probing_ || nowMs >= nextTryMs_ ? 0 : nextTryMs_ - nowMs;
    }
    const RetryRule &rule() const { return rule_; }
    // Counts the tries that reached it: a symbol that missed it before the
    // count moved need not wait out a pause of its own.
    uint32_t reachedCount() const { return reached_; }

private:
    RetryRule rule_;
    bool down_ = false;
    bool probing_ = false;
    uint32_t reached_ = 0;
    uint64_t downSinceMs_ = 0;
    uint32_t failures_ = 0;  // tries that failed in a row while down, the first included
    uint64_t nextTryMs_ = 0;
};

// What the log says of a relay skipped while its destination is down:
// STATE + " since STAMP, next try in N s" (N rounded up), or
// STATE + " since STAMP, being tried now".
std::string downText(const char *state, const std::string &sinceStamp,
                     const DestinationHealth::Admission &skipped);
// The console's one line when a destination goes down, and when it is back.
std::string wentDownLine(const std::string &label, const std::string &reason, const RetryRule &rule);
std::string cameBackLine(const std::string &label);

}  // namespace varnex

#endif
