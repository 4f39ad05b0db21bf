#include "pipe/pipe_relay.h"

#include <algorithm>

#include "pipe/pipe_texts.h"

namespace varnex {

PipeRelay::~PipeRelay() { close(); }

void PipeRelay::close() noexcept {
    DeadlineGuard guard(lock_, kNoDeadline);
    sender_.close();
}

void PipeRelay::retire() noexcept {
    retired_ = true;
    // Not waited for: a send under way closes it as it ends.
    DeadlineGuard guard(lock_, 0);
    if (guard) sender_.close();
}

PipeRelay::Attempt PipeRelay::attempt(const std::string &message, ULONGLONG deadline) {
    Attempt result;
    // Every sender keeps to the send bound, however many queue for the
    // pipes: one whose turn does not come in time leaves its order owed.
    DeadlineGuard guard(lock_, deadline);
    if (!guard) {
        result.noTurn = true;
        return result;
    }
    // The relay lets a retired connection go as it ends.
    if (retired_) {
        result.openError = ERROR_PIPE_NOT_CONNECTED;
        return result;
    }
    // The connection of an earlier relay is kept and used as long as it
    // works. One whose send failed is let go: the receiver went or restarted
    // with fresh pipes, or it stopped reading and a write given up on may
    // have left part of a message in the pipe, which the receiver drops
    // when its sender goes (kept, it would run into the next message).
    if (sender_.isConnected()) {
        if (send(message, deadline, result)) return result;
        sender_.disconnect();
        // A receiver that stopped reading would not read a new connection either.
        if (result.stalled) return result;
    }
    result.openError = sender_.openOnce();
    if (result.openError == ERROR_SUCCESS) send(message, deadline, result);
    return result;
}

bool PipeRelay::send(const std::string &message, ULONGLONG deadline, Attempt &result) {
    const ULONGLONG now = GetTickCount64();
    const DWORD limitMs = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    result.reached = sender_.send(message, limitMs);
    if (result.reached) {
        lastTakenMs_ = GetTickCount64();
        return true;
    }
    // A send whose time went on waiting for its turn, and that the receiver,
    // busy with the orders before it, had no time to take, says nothing
    // against the receiver; the pipes are as they were and stay.
    if (limitMs < PipeSender::kSendLimitMs && sender_.lastWrite() == WriteResult::NotTaken) {
        result.noTurn = true;
        return true;
    }
    result.stalled = sender_.sendTimedOut();
    result.sendError = sender_.sendError();
    return false;
}

RelayOutcome PipeRelay::relay(const std::string &message) {
    const ULONGLONG start = GetTickCount64(), deadline = start + PipeSender::kSendLimitMs;
    Attempt tried = attempt(message, deadline);
    // Another sender holds the receiver, or it is taking leave of its
    // previous sender and will offer its pipes again in a moment (they
    // answer "busy", then briefly "no such pipe"). One thread waits for it;
    // the others fail at once rather than wait beside it. No lock is held
    // between tries, so other symbols' relays go on meanwhile.
    if (!tried.reached && tried.openError == ERROR_PIPE_BUSY && !busyWaiter_.exchange(true)) {
        // Within the relay's own bound too.
        const ULONGLONG busyDeadline = std::min(GetTickCount64() + PipeSender::kBusyWaitMs, deadline);
        while (!tried.reached && !tried.noTurn && GetTickCount64() < busyDeadline &&
               (tried.openError == ERROR_PIPE_BUSY || tried.openError == ERROR_FILE_NOT_FOUND)) {
            Sleep(1);
            tried = attempt(message, deadline);
        }
        busyWaiter_ = false;
    }
    // Retired while this send was on the connection: it goes as the send ends.
    if (retired_) close();
    RelayOutcome outcome;
    outcome.reached = tried.reached;
    outcome.log.push_back(callbackResultText(message, tried.reached));
    if (tried.reached) return outcome;
    // A sender that never got its turn: if the receiver took other orders
    // meanwhile it is slow, and still up; if it took nothing for the whole
    // bound, it is not reading, as for the sender ahead that waited on it.
    if (tried.noTurn && lastTakenMs_ >= start) {
        outcome.reason = receiverSlowText(PipeSender::kSendLimitMs);
    } else if (tried.stalled || tried.noTurn) {
        outcome.reason = receiverNotReadingText(PipeSender::kSendLimitMs);
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
