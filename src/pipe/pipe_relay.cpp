#include "pipe/pipe_relay.h"

#include <cstdio>
#include <cstdlib>

#include "common/locks.h"
#include "pipe/pipe_texts.h"

namespace varnex {

namespace {

// When this process last let a connection to the receiver go: for a moment
// afterwards the receiver is between two senders (its pipes answer "busy",
// then "missing", until it offers fresh ones), so this process's next relay
// waits for it once. Any other "busy" means another process holds the
// receiver, and the relay fails at once. The note lives in the process's
// environment, so that it outlives an unload: a reloaded library's first
// relay follows its predecessor's. It carries the process id, so a child
// process that inherits the environment ignores it.
constexpr const char *kLeftNote = "VARNEX_PIPE_SENDER_LEFT";
constexpr ULONGLONG kJustLeftMs = 2000;

void noteConnectionLeft() {
    char note[48];
    std::snprintf(note, sizeof note, "%lu:%llu", GetCurrentProcessId(), GetTickCount64());
    SetEnvironmentVariableA(kLeftNote, note);
}

bool connectionJustLeft() {
    char note[48];
    const DWORD size = GetEnvironmentVariableA(kLeftNote, note, sizeof note);
    if (size == 0 || size >= sizeof note) return false;
    char *rest = nullptr;
    if (std::strtoul(note, &rest, 10) != GetCurrentProcessId() || *rest != ':') return false;
    const ULONGLONG leftAt = std::strtoull(rest + 1, nullptr, 10);
    return GetTickCount64() - leftAt < kJustLeftMs;
}

}  // namespace

PipeRelay::~PipeRelay() { close(); }

void PipeRelay::close() noexcept {
    ExclusiveLock guard(lock_);
    if (channel_.isConnected()) noteConnectionLeft();
    channel_.close();
}

bool PipeRelay::attempt(const std::string &message, DWORD &openError) {
    ExclusiveLock guard(lock_);
    // The connection of an earlier relay is kept and used as long as it
    // works. One whose send failed is let go: the receiver went or restarted
    // with fresh pipes, or it stopped reading and a write given up on may
    // have left part of a message in the pipe, which the receiver drops
    // when its sender goes (kept, it would run into the next message).
    if (channel_.isConnected()) {
        if (channel_.send(message)) return true;
        const bool receiverStalled = channel_.sendTimedOut();
        channel_.disconnect();
        // A receiver that stopped reading is not between senders: nothing to wait for.
        if (receiverStalled) return false;
        noteConnectionLeft();
    }
    openError = channel_.openOnce();
    return openError == ERROR_SUCCESS && channel_.send(message);
}

RelayOutcome PipeRelay::relay(const std::string &message) {
    RelayOutcome outcome;
    DWORD openError = ERROR_SUCCESS;
    outcome.reached = attempt(message, openError);
    const bool receiverBetweenSenders =
        (openError == ERROR_PIPE_BUSY || openError == ERROR_FILE_NOT_FOUND) && connectionJustLeft();
    if (!outcome.reached && receiverBetweenSenders) {
        // The one wait of this relay, with no lock held between attempts, so
        // other symbols' relays go on meanwhile.
        const ULONGLONG deadline = GetTickCount64() + PipeChannel::kBusyWaitMs;
        while (!outcome.reached && GetTickCount64() < deadline) {
            Sleep(1);
            outcome.reached = attempt(message, openError);
        }
    }
    outcome.log.push_back(callbackResultText(message, outcome.reached));
    return outcome;
}

}  // namespace varnex
