#include "pipe/pipe_relay.h"

#include "common/locks.h"
#include "pipe/pipe_texts.h"

namespace varnex {

PipeRelay::~PipeRelay() { close(); }

void PipeRelay::close() noexcept {
    ExclusiveLock guard(lock_);
    channel_.close();
}

PipeRelay::Attempt PipeRelay::attempt(const std::string &message) {
    ExclusiveLock guard(lock_);
    Attempt result;
    // The connection of an earlier relay is kept and used as long as it
    // works. One whose send failed is let go: the receiver went or restarted
    // with fresh pipes, or it stopped reading and a write given up on may
    // have left part of a message in the pipe, which the receiver drops
    // when its sender goes (kept, it would run into the next message).
    if (channel_.isConnected()) {
        if (channel_.send(message)) {
            result.reached = true;
            return result;
        }
        result.stalled = channel_.sendTimedOut();
        result.sendError = channel_.sendError();
        channel_.disconnect();
        // A receiver that stopped reading would not read a new connection either.
        if (result.stalled) return result;
    }
    result.openError = channel_.openOnce();
    if (result.openError != ERROR_SUCCESS) return result;
    result.reached = channel_.send(message);
    if (!result.reached) {
        result.stalled = channel_.sendTimedOut();
        result.sendError = channel_.sendError();
    }
    return result;
}

RelayOutcome PipeRelay::relay(const std::string &message) {
    Attempt tried = attempt(message);
    // Another sender holds the receiver, or it is taking leave of its
    // previous sender and will offer its pipes again in a moment (they
    // answer "busy", then briefly "no such pipe"). One thread waits for it;
    // the others fail at once rather than wait beside it. No lock is held
    // between tries, so other symbols' relays go on meanwhile.
    if (!tried.reached && tried.openError == ERROR_PIPE_BUSY && !busyWaiter_.exchange(true)) {
        const ULONGLONG deadline = GetTickCount64() + PipeChannel::kBusyWaitMs;
        while (!tried.reached && GetTickCount64() < deadline &&
               (tried.openError == ERROR_PIPE_BUSY || tried.openError == ERROR_FILE_NOT_FOUND)) {
            Sleep(1);
            tried = attempt(message);
        }
        busyWaiter_ = false;
    }
    RelayOutcome outcome;
    outcome.reached = tried.reached;
    outcome.log.push_back(callbackResultText(message, tried.reached));
    if (tried.reached) return outcome;
    if (tried.stalled) {
        outcome.reason = receiverNotReadingText(PipeChannel::kSendLimitMs);
        outcome.down = true;
    } else if (tried.openError == ERROR_PIPE_BUSY) {
        outcome.reason = receiverBusyText(tried.openError);
        outcome.down = true;
    } else if (tried.openError == ERROR_FILE_NOT_FOUND) {
        outcome.reason = noReceiverText(tried.openError);
    } else {
        outcome.reason = pipeFailedText(tried.openError != ERROR_SUCCESS ? tried.openError : tried.sendError);
    }
    outcome.log.push_back(pipeReasonText(outcome.reason));
    return outcome;
}

}  // namespace varnex
