// The sending side of the order pipes: every changed position of this
// library goes through its one client channel, kept connected between relays.
#ifndef VARNEX_PIPE_PIPE_RELAY_H
#define VARNEX_PIPE_PIPE_RELAY_H

#include <windows.h>

#include <atomic>
#include <string>

#include "common/relay_outcome.h"
#include "pipe/pipe_channel.h"

namespace varnex {

class PipeRelay {
public:
    explicit PipeRelay(const std::string &pipeBaseName) { channel_.configure(pipeBaseName, "."); }
    ~PipeRelay();
    PipeRelay(const PipeRelay &) = delete;
    PipeRelay &operator=(const PipeRelay &) = delete;

    // Writes `message` + NUL to the receiver; reached when all of it was
    // written. The log holds the line that reports it, and a line that says
    // why when it was not. A receiver that answers "busy" (another sender
    // holds it, or it is between two senders) is waited for once, at most
    // PipeChannel::kBusyWaitMs, by one relay at a time, with no lock held
    // between tries; each write
    // is bounded by PipeChannel::kSendLimitMs. Such a receiver, and one that
    // does not read, is reported down; a missing receiver is not (it costs
    // nothing to look for, and may register at any moment).
    RelayOutcome relay(const std::string &message);

    void close() noexcept;

private:
    struct Attempt {
        bool reached = false;
        DWORD openError = ERROR_SUCCESS;  // why the pipes could not be opened
        bool stalled = false;             // the receiver took nothing within the send limit
        DWORD sendError = ERROR_SUCCESS;  // why a send on open pipes failed
    };
    // One send on the connection, or on a new one.
    Attempt attempt(const std::string &message);

    // Set while one relay waits for a busy receiver.
    std::atomic<bool> busyWaiter_{false};
    // Guards channel_ for one open-and-send; several symbols relay at once.
    SRWLOCK lock_ = SRWLOCK_INIT;
    PipeChannel channel_;
};

}  // namespace varnex

#endif
