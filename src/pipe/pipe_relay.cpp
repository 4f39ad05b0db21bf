#include "pipe/pipe_relay.h"

#include "common/locks.h"
#include "pipe/pipe_texts.h"

namespace varnex {

RelayOutcome PipeRelay::relay(const std::string &message) {
    RelayOutcome outcome;
    {
        ExclusiveLock guard(lock_);
        channel_.configure(baseName_, ".");
        // The connection of an earlier relay is kept and used as long as it
        // works; only a relay without one, or whose send failed (a receiver that
        // restarted has fresh pipes), opens the pipes again, and then sends once more.
        if (!channel_.isConnected()) channel_.open(false, "QUIT", nullptr);
        outcome.reached = channel_.send(message);
        if (!outcome.reached && channel_.open(false, "QUIT", nullptr))
            outcome.reached = channel_.send(message);
    }
    outcome.log.push_back(callbackResultText(message, outcome.reached));
    return outcome;
}

}  // namespace varnex
