// A destination's health as host threads share it: the pure rule behind a
// lock of its own, held only for a few assignments (never across a try), and
// the wall-clock time at which it went down, for the log.
#ifndef VARNEX_API_SHARED_HEALTH_H
#define VARNEX_API_SHARED_HEALTH_H

#include <windows.h>

#include <string>

#include "api/destination_health.h"
#include "common/relay_outcome.h"

namespace varnex {

class SharedHealth {
public:
    using Admission = DestinationHealth::Admission;

    // Set before the first relay, while no other thread can see it.
    void setRule(const RetryRule &rule) { health_ = DestinationHealth(rule); }
    Admission admit(uint64_t nowMs, bool byLibrary = false);
    // Settles an admitted try with what it found; returns the console line
    // of a change (went down, came back), empty when there was none.
    std::string settle(const Admission &admission, const RelayOutcome &outcome, uint64_t nowMs,
                       const std::string &label);
    void abandon(const Admission &admission);
    // STATE + " since ..., next try in N s" for a relay that was not admitted.
    std::string skippedText(const char *state, const Admission &skipped) const;
    uint32_t reachedCount() const;

    // How it is doing, for the status file.
    struct Report {
        bool down = false;
        std::string since;       // stamp it went down
        std::string reason;      // of the last failed try
        int64_t nextTryMs = -1;  // while down
    };
    Report report(uint64_t nowMs) const;

private:
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    DestinationHealth health_;
    std::string since_;
    std::string lastReason_;
};

}  // namespace varnex

#endif
