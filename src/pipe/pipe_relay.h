// The sending side of the order pipes: every changed position of this
// library goes through its one client channel, kept connected between relays.
#ifndef VARNEX_PIPE_PIPE_RELAY_H
#define VARNEX_PIPE_PIPE_RELAY_H

#include <windows.h>

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
    // written. The log holds the line that reports it. A receiver held by
    // another process fails it at once; one between two senders of this
    // process is waited for once, at most PipeChannel::kBusyWaitMs, and each
    // write is bounded by PipeChannel::kSendLimitMs.
    RelayOutcome relay(const std::string &message);

    void close() noexcept;

private:
    // One send on the connection, or on a new one; `openError` is why the
    // pipes could not be opened (ERROR_SUCCESS when they were, or when the
    // existing connection took the message).
    bool attempt(const std::string &message, DWORD &openError);

    // Guards channel_ for one open-and-send; several symbols relay at once.
    SRWLOCK lock_ = SRWLOCK_INIT;
    PipeChannel channel_;
};

}  // namespace varnex

#endif
