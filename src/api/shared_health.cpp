#include "api/shared_health.h"

#include "common/clock.h"
#include "common/locks.h"

namespace varnex {

SharedHealth::Admission SharedHealth::admit(uint64_t nowMs, bool byLibrary) {
    ExclusiveLock guard(lock_);
    return health_.admit(nowMs, byLibrary);
}

std::string SharedHealth::settle(const Admission &admission, const RelayOutcome &outcome, uint64_t nowMs,
                                 const std::string &label) {
    const TryResult result = outcome.reached ? TryResult::Reached
                             : outcome.down  ? TryResult::Down
                                             : TryResult::Refused;
    DestinationHealth::Change change;
    {
        ExclusiveLock guard(lock_);
        change = health_.settle(admission, result, nowMs);
        if (change == DestinationHealth::Change::WentDown) since_ = stampText(localNow());
        if (!outcome.reached) lastReason_ = outcome.reason;
    }
    switch (change) {
        case DestinationHealth::Change::WentDown:
            return wentDownLine(label, outcome.reason, health_.rule());
        case DestinationHealth::Change::CameBack:
            return cameBackLine(label);
        case DestinationHealth::Change::None:
            break;
    }
    return std::string();
}

void SharedHealth::abandon(const Admission &admission) {
    ExclusiveLock guard(lock_);
    health_.abandon(admission);
}

std::string SharedHealth::skippedText(const char *state, const Admission &skipped) const {
    std::string since;
    {
        SharedLock guard(lock_);
        since = since_;
    }
    return downText(state, since, skipped);
}

uint32_t SharedHealth::reachedCount() const {
    SharedLock guard(lock_);
    return health_.reachedCount();
}

SharedHealth::Report SharedHealth::report(uint64_t nowMs) const {
    SharedLock guard(lock_);
    Report report;
    report.down = health_.down();
    report.reason = lastReason_;
    if (report.down) {
        report.since = since_;
        report.nextTryMs = static_cast<int64_t>(health_.nextTryInMs(nowMs));
    }
    return report;
}

}  // namespace varnex
