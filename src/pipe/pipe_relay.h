// The sending side of the order pipes: every changed position of this
// library goes through its one sending end, kept connected between relays.
#ifndef VARNEX_PIPE_PIPE_RELAY_H
#define VARNEX_PIPE_PIPE_RELAY_H

#include <windows.h>

#include <atomic>
#include <string>

#include "common/locks.h"
#include "common/relay_outcome.h"
#include "pipe/pipe_sender.h"

namespace varnex {

class PipeRelay {
public:
    explicit PipeRelay(const std::string &pipeBaseName) { sender_.configure(pipeBaseName, "."); }
    ~PipeRelay();
    PipeRelay(const PipeRelay &) = delete;
    PipeRelay &operator=(const PipeRelay &) = delete;

    // Writes `message` + NUL to the receiver; reached when all of it was
    // written. The log holds the line that reports it, and a line that says
    // why when it was not. The whole relay, the wait for its turn among this
    // library's senders included, keeps to PipeSender::kSendLimitMs: a
    // sender whose turn does not come in time, or whose time runs out
    // before the receiver, busy with the orders before it, takes its order,
    // sends nothing and reports a slow receiver (one that took other orders
    // meanwhile) or one not reading (one that took nothing all that time). A receiver that answers
    // "busy" (another sender holds it, or it is between two senders) is
    // waited for once, at most PipeSender::kBusyWaitMs, by one relay at a
    // time, with no lock held between tries. Such a receiver, and one that
    // takes nothing for the whole bound, is reported down; a slow or missing
    // receiver is not (a missing one costs nothing to look for, and may
    // register at any moment).
    RelayOutcome relay(const std::string &message);

    void close() noexcept;
    // For a library whose unload could not end a thread that may still
    // relay: the receiver serves one sender at a time, so a connection kept
    // by a library that is never freed would hold it from every other sender
    // for good. The connection goes now unless a send is on it, else as
    // that send ends; every later relay fails without opening one.
    void retire() noexcept;

private:
    struct Attempt {
        bool reached = false;
        bool noTurn = false;              // the deadline came while other orders went first
        DWORD openError = ERROR_SUCCESS;  // why the pipes could not be opened
        bool stalled = false;             // the receiver took nothing within the send limit
        DWORD sendError = ERROR_SUCCESS;  // why a send on open pipes failed
    };
    // One send on the connection, or on a new one, done by `deadline`.
    Attempt attempt(const std::string &message, ULONGLONG deadline);
    // Sends on the held connection within what is left to `deadline`; false
    // when the connection is to be let go.
    bool send(const std::string &message, ULONGLONG deadline, Attempt &result);

    // When the receiver last took an order (GetTickCount64).
    std::atomic<ULONGLONG> lastTakenMs_{0};
    std::atomic<bool> retired_{false};
    // Set while one relay waits for a busy receiver.
    std::atomic<bool> busyWaiter_{false};
    // Guards sender_ for one open-and-send; several symbols relay at once.
    DeadlineLock lock_;
    PipeSender sender_;
};

}  // namespace varnex

#endif
