#include "api/destination_health.h"

namespace varnex {

DestinationHealth::Admission DestinationHealth::admit(uint64_t nowMs, bool byLibrary) {
    Admission admission;
    admission.downSinceMs = downSinceMs_;
    if (!down_) {
        admission.go = true;
        return admission;
    }
    if (!probing_ && nowMs >= nextTryMs_ && (byLibrary || !rule_.libraryTries)) {
        probing_ = true;
        admission.go = admission.probe = true;
        return admission;
    }
    // A host relay that the library's try is due for says "being tried now".
    admission.nextTryInMs = probing_ || nowMs >= nextTryMs_ ? 0 : nextTryMs_ - nowMs;
    return admission;
}

DestinationHealth::Change DestinationHealth::settle(const Admission &admission, TryResult result,
                                                    uint64_t nowMs) {
    if (admission.probe) probing_ = false;
    if (result == TryResult::Reached) {
        ++reached_;
        if (!down_) return Change::None;
        down_ = false;
        failures_ = 0;
        return Change::CameBack;
    }
    // A destination that is up and refuses one position stays up; one that
    // is down is back only once it takes a position.
    if (result == TryResult::Refused && !down_) return Change::None;
    if (!down_) {
        down_ = true;
        downSinceMs_ = nowMs;
        failures_ = 1;
        nextTryMs_ = nowMs + pauseMs();
        return Change::WentDown;
    }
    // A thread that was let through before the destination went down may
    // report after the probe of the pause: only the probe lengthens it.
    if (admission.probe) {
        ++failures_;
        nextTryMs_ = nowMs + pauseMs();
    }
    return Change::None;
}

void DestinationHealth::abandon(const Admission &admission) {
    if (admission.probe) probing_ = false;
}

std::string downText(const char *state, const std::string &sinceStamp,
                     const DestinationHealth::Admission &skipped) {
    std::string text = std::string(state) + " since " + sinceStamp + ", ";
    if (skipped.nextTryInMs == 0) return text + "being tried now";
    return text + "next try in " + std::to_string((skipped.nextTryInMs + 999) / 1000) + " s";
}

std::string wentDownLine(const std::string &label, const std::string &reason, const RetryRule &rule) {
    const std::string head = "varnex: " + label + " is down (" + reason + "); its relays are skipped";
    if (rule.libraryTries)
        return head + " and kept owed; the library tries it again " + rule.pause.text() +
               " after each failed try\r\n";
    return head + ", with one try after each pause of " + rule.pause.text() + "\r\n";
}

std::string cameBackLine(const std::string &label) { return "varnex: " + label + " is back\r\n"; }

}  // namespace varnex
