// The one process-wide object behind the exports: the configuration, the
// signal pipeline with its position book, and the destinations it relays to.
#ifndef VARNEX_API_SIGNAL_DISPATCHER_H
#define VARNEX_API_SIGNAL_DISPATCHER_H

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "api/delivery_state.h"
#include "api/destination_steps.h"
#include "api/floating_point.h"
#include "api/log_batch.h"
#include "api/shared_health.h"
#include "common/handles.h"
#include "common/locks.h"
#include "common/relay_outcome.h"
#include "lifetime/library_thread.h"
#include "net/tcp_relay.h"
#include "net/winsock_startup.h"
#include "output/append_files.h"
#include "output/file_names.h"
#include "output/log_file.h"
#include "pipe/pipe_receiver.h"
#include "pipe/pipe_relay.h"
#include "status/status_file.h"
#include "status/status_report.h"
#include "varnex.h"

namespace varnex {

struct VarnexConfig;

class SignalDispatcher {
public:
    SignalDispatcher();
    SignalDispatcher(const SignalDispatcher &) = delete;
    SignalDispatcher &operator=(const SignalDispatcher &) = delete;

    // Entry operations behind the exports; none of them lets an exception out.
    void initial() noexcept;
    void registerOrderFunc(OrderCallback callback) noexcept;
    // The price comes by reference, so that the export hands on where the
    // host put it without reading it: 32-bit code copies a double through
    // the x87, where a signalling NaN would raise before the host's
    // floating-point state is set aside.
    void process(int32_t year, int32_t month, int32_t day, const char *symbol, int32_t quantity,
                 const double &price) noexcept;
    void writeLog(const char *text) noexcept;

    // Whether the configuration has been read; creation fails without it.
    bool configured() const { return initialised_; }

    // Before the dispatcher is destroyed under the loader lock: the delivery
    // thread is ended, every position still owed is logged, and what must not
    // be undone there is let go instead (see library_lifetime.cpp). False
    // when the delivery thread could not be ended and works on: then the
    // dispatcher must stay.
    bool prepareUnload() noexcept;
    // At a process exit: a status file whose last report owed nothing is
    // removed; one that listed owed positions stays, for varnex-status to
    // show as gone with what it still owed. A signal file's new copy that
    // the ended files lane left half-way is removed.
    void atProcessExit() noexcept;

private:
    // What the dispatcher keeps per symbol, all of it guarded by `turn`.
    // Beside the key in the table's node, and small: with 100,000 symbols a
    // signal's cost is mostly cache misses, so what a signal touches is kept
    // within a few lines and what only a miss needs is made on first need.
    struct SymbolState {
        TicketLock turn;
        // The last quantity the host reported: the symbol's entry in the
        // position book. None before its first signal past the date gate.
        std::optional<int32_t> quantity;
        DeliveryState delivery;
        // The symbol's TCP server, or null; set when the entry is made.
        const TcpRoute *route = nullptr;
        // The price of the signal that carried `quantity`: what the delivery
        // threads send with a position still owed.
        double price = 0;
        // In each delivery lane's list; guarded by owingLock_.
        bool owing[2] = {false, false};
        // When `quantity` last changed (GetTickCount64): owed since then.
        uint64_t changedAtMs = 0;
    };

    using SymbolEntry = std::pair<const std::string, SymbolState>;

    // The library delivers the positions it owes, each kind of destination
    // at its own pace, on two threads so that neither waits for the other:
    // the files lane tries each owed signal and debug file again every
    // kFileRetryMs (a file costs a few hundred microseconds, and a reader
    // lets go within milliseconds), while the peers lane may wait on a TCP
    // server up to its acknowledgement time-out. The peers lane looks at its
    // symbols every kPeerLookMs: a TCP server that is down is tried again
    // 1 s after its last try ended (kLibraryTries), the order pipe once the
    // receiver's claim is there, looked for every kReceiverLookMs. A lane
    // sleeps while nothing is owed to its kinds.
    struct Lane {
        Destinations kinds;
        DWORD busyMs;                      // between rounds while something is owed
        std::vector<SymbolEntry *> owing;  // guarded by owingLock_
        UniqueHandle wake;                 // auto-reset: a symbol was listed
        LibraryThread thread;
    };
    enum LaneIndex { kFilesLane, kPeersLane };
    static constexpr DWORD kFileRetryMs = 5;
    static constexpr DWORD kPeerLookMs = 50;
    static constexpr DWORD kReceiverLookMs = 200;
    // How long an unload waits for a lane's thread to finish its try: a pipe
    // send's own limit with room; a TCP exchange ends at the stop.
    static constexpr DWORD kDeliveryStopMs = 2500;
    // Of the destinations a symbol with this route should hold, those the
    // library keeps owed and delivers (none without resendMode).
    Destinations deliverable(const TcpRoute *route) const;
    // Under the symbol's turn, after its pipeline: hands over owed positions.
    void queueOwed(SymbolEntry &entry) noexcept;
    bool startLane(Lane &lane) noexcept;
    struct LaneTask;  // what a lane's thread runs
    void deliverOwed(LaneIndex index) noexcept;
    void unlist(LaneIndex index, SymbolEntry &entry);
    // What one round of the peers lane found out.
    struct Round {
        bool receiverThere = false;
        bool pipeMissed = false;  // a receiver took nothing this round: no more tries
    };
    // One try of the symbol's owed files, under its turn when free. True
    // while it still owes a file.
    bool retryOwedFiles(SymbolEntry &entry);
    // One owed position to the pipe or its TCP server, taken without the
    // symbol's turn. True when it was sent (the next round comes at once).
    bool retryOwedPeer(SymbolEntry &entry, Round &round);
    // The try retryOwedPeer makes: the destination, its admission, and the
    // position as it was under the turn.
    struct PeerTry {
        Destination kind = Destination::Pipe;
        SharedHealth *health = nullptr;
        SharedHealth::Admission admission;
        int32_t quantity = 0;
        double price = 0;
    };
    // Under the symbol's turn: the first peer destination due and admitted,
    // marked as being delivered; false for none (unlisted when none is owed).
    bool choosePeer(SymbolEntry &entry, const Round &round, PeerTry &chosen);
    // Without the turn: the try, its log lines, and its health settled.
    RelayOutcome tryPeer(SymbolEntry &entry, const PeerTry &chosen, std::string &console);
    bool stopRequested() const { return WaitForSingleObject(deliveryStop_.get(), 0) == WAIT_OBJECT_0; }
    void logStillOwed() noexcept;

    // The status file (dispatcher_status.cpp): rewritten by the peers lane
    // at most every kStatusMs when it changed, and once more at the unload,
    // marked unloaded, while positions are still owed (else removed).
    static constexpr DWORD kStatusMs = 1000;
    static StatusReport describeProcess();
    StatusReport currentStatus(bool unloaded);
    // Adds the positions the listed symbols still owe to each destination.
    void addOwed(StatusReport &report, uint64_t now);
    void keepStatus() noexcept;
    void endStatus() noexcept;

    bool isToday(int32_t year, int32_t month, int32_t day) const;
    // False when memory ran out before the whole configuration was read.
    bool readConfiguration() noexcept;
    void takeConfiguration(const VarnexConfig &config);
    // Runs the steps of one signal of today; the lines for standard error
    // are gathered in `console`, to be queued once no lock is held.
    void runPipeline(SymbolState &state, const std::string &symbol, int32_t quantity, double price,
                     LogBatch &log, std::string &console);
    bool checkPosition(SymbolState &state, const std::string &symbol, int32_t quantity, LogBatch &log);
    // The destinations that should hold the position of a symbol with this route.
    Destinations owedBy(const TcpRoute *route) const;
    const TcpRoute *tcpRoute(const std::string &symbol) const;
    SymbolEntry &symbolEntry(const std::string &symbol);

    PipeRelay pipeRelay_;  // owns the sending end
    SharedHealth pipeHealth_;
    PipeReceiver pipeReceiver_;
    EndpointTable endpoints_;
    // Built with the table and never changed after: read without a lock.
    std::map<std::string, SharedHealth> serverHealth_;  // by "host:port"
    std::map<std::string, TcpRoute> tcpRoutes_;         // by client identifier
    std::string driverName_;
    LibraryFiles files_;
    // The log, while logMode is on; it and the debug files keep their files
    // open until the dispatcher goes (at unload).
    std::unique_ptr<LogFile> logFile_;
    AppendFiles debugFiles_{kKeptDebugFiles};
    bool initialised_;
    bool varnexMode_;
    bool signalMode_;
    bool signalDebugMode_;
    bool socketClient_;
    bool logMode_;
    bool resendMode_;
    bool statusMode_ = false;
    std::string pipeBaseName_;
    // The status's account of this process and load, taken once with the
    // configuration on the host's thread: the peers lane may not ask for the
    // process's path, since GetModuleFileName takes the loader lock, which
    // an unload holds while it waits for the lane to end.
    StatusReport processFacts_;
    std::unique_ptr<StatusFile> statusFile_;
    // The peers lane's: the last report written, and when the next may be.
    // Whether that report was clear is read at a process exit, when the lane
    // may have been ended anywhere: a flag, never the report itself.
    StatusReport lastStatus_;
    std::atomic<bool> lastStatusClear_{true};
    ULONGLONG nextStatusMs_ = 0;
    SocketsStarted socketsStarted_;
    // Locks. A symbol's turn is held for its signal's whole pipeline (its
    // last quantity and delivery state included), so one symbol's signals
    // run one at a time, first come first served, while other symbols run
    // at once; it may be held across bounded waits on peers (pipe send, TCP
    // exchange) and file writes, and while it is held only symbolsLock_, the
    // pipe relay's lock and the output files' own lock may be taken, one at
    // a time. symbolsLock_ guards the table itself and covers map operations
    // only: shared to find a symbol, exclusive to add one. Entries are added,
    // never removed, and stay where they are, so a turn outlives its look-up.
    // The table goes with the dispatcher, so a reloaded library starts with
    // an empty position book. No lock is held while writing to the console
    // or calling into the host.
    SRWLOCK symbolsLock_ = SRWLOCK_INIT;
    std::unordered_map<std::string, SymbolState> symbols_;
    // The lanes' lists of symbols that owe their kinds a position, and
    // whether the lanes are to stop; guarded by owingLock_, held for list
    // operations only. startLock_ guards the threads' start. A symbol's
    // `owing` flags change under both its turn and owingLock_. deliveryStop_
    // (manual-reset) is set at the unload: it ends the lanes' waits, a TCP
    // exchange's included.
    SRWLOCK owingLock_ = SRWLOCK_INIT;
    Lane lanes_[2];
    bool deliveryStopping_ = false;
    UniqueHandle deliveryStop_;
    SRWLOCK startLock_ = SRWLOCK_INIT;
    // Registrations from several host threads must not open the receiver at once.
    SRWLOCK registerLock_ = SRWLOCK_INIT;
};

// What an export holds while it calls into the dispatcher: the process-wide
// dispatcher, created (and the configuration read) by the first caller;
// concurrent first callers wait for that one creation. Null only when the
// dispatcher could not be created, and then the next call tries again.
// From before the creation until the export returns, the host thread's
// floating-point state is set aside (api/floating_point.h).
class DispatcherCall {
public:
    DispatcherCall() noexcept;
    DispatcherCall(const DispatcherCall &) = delete;
    DispatcherCall &operator=(const DispatcherCall &) = delete;
    explicit operator bool() const { return dispatcher_ != nullptr; }
    SignalDispatcher *operator->() const { return dispatcher_; }

private:
    FloatingPointScope floatingPoint_;  // first made, last undone
    SignalDispatcher *dispatcher_;
};

inline DispatcherCall getDispatcher() noexcept { return DispatcherCall(); }

// The unload: releases the dispatcher and all it opened so that the next
// load starts afresh. Called from DllMain under the loader lock.
void releaseDispatcher() noexcept;
// At a process exit, with every other thread already ended: only what is
// safe then (see library_lifetime.cpp).
void leaveAtProcessExit() noexcept;

}  // namespace varnex

#endif
