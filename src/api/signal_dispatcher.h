// The one process-wide object behind the exports: the configuration, the
// signal pipeline with its position book, and the destinations it relays to.
#ifndef VARNEX_API_SIGNAL_DISPATCHER_H
#define VARNEX_API_SIGNAL_DISPATCHER_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <unordered_map>

#include "api/delivery_state.h"
#include "api/position_book.h"
#include "common/relay_outcome.h"
#include "net/tcp_relay.h"
#include "net/tcp_socket.h"
#include "pipe/pipe_channel.h"
#include "pipe/pipe_relay.h"
#include "varnex.h"

namespace varnex {

class SignalDispatcher {
public:
    SignalDispatcher();
    SignalDispatcher(const SignalDispatcher &) = delete;
    SignalDispatcher &operator=(const SignalDispatcher &) = delete;

    // Entry operations behind the exports; none of them lets an exception out.
    void initial() noexcept;
    void registerOrderFunc(OrderCallback callback) noexcept;
    void process(int32_t year, int32_t month, int32_t day, const char *symbol, int32_t quantity,
                 double price) noexcept;
    void writeLog(const char *text) noexcept;

    bool isToday(int32_t year, int32_t month, int32_t day) const;
    bool checkPosition(const char *symbol, int32_t quantity);
    void makeTimestamp(char *buffer) const;

    // Before the dispatcher is destroyed under the loader lock: what must not
    // be undone there is let go instead (see library_lifetime.cpp).
    void prepareUnload() noexcept { socketsStarted.leaveStarted(); }

private:
    // What the dispatcher keeps per symbol, all of it guarded by `lock`.
    struct SymbolState {
        SRWLOCK lock = SRWLOCK_INIT;
        DeliveryState delivery;
    };

    void readConfiguration();
    // Runs the steps of one signal of today; the lines for standard error
    // are gathered in `console`, to be queued once no lock is held.
    void runPipeline(SymbolState &state, const char *symbol, int32_t quantity, double price,
                     std::string &console);
    // The destinations that should hold `symbol`'s position.
    Destinations owedBy(const std::string &symbol) const;
    // The destination steps. Each reports what it did; runPipeline writes
    // the reports in order.
    RelayOutcome relayPipe(const std::string &message);
    RelayOutcome relayTcp(const std::string &symbol, const std::string &message);
    RelayOutcome writeSignalFile(const char *symbol, const std::string &text);
    RelayOutcome writeSignalDebugFile(const char *symbol, const std::string &text);
    void report(const RelayOutcome &outcome, std::string &console);
    SymbolState &symbolState(const std::string &symbol);

    PipeRelay pipeRelay;  // owns the client channel
    PipeChannel serverChannel;
    EndpointTable endpoints;
    std::string driverName;
    std::string signalFile;
    std::string signalDebugFile;
    std::string logFile;
    bool initialised;
    bool varnexMode;
    bool signalMode;
    bool signalDebugMode;
    bool socketClient;
    bool logMode;
    bool resendMode;
    std::string pipeBaseName;
    // Goes with the dispatcher, so a reloaded library starts with an empty
    // book. (A function-local static would also leave the runtime's guard
    // handles behind on every unload.)
    PositionBook book;
    SocketsStarted socketsStarted;
    // Locks. A symbol's lock is held for its signal's whole pipeline (its
    // delivery state included), so one
    // symbol's signals run one at a time in the order they take it while
    // other symbols run at once; it may be held across bounded waits on peers
    // (pipe send, TCP exchange) and file writes, and while it is held only
    // bookLock, the pipe relay's lock and the output files' own lock may be
    // taken, one at a time. bookLock guards the position book and the
    // symbols table (entries are added, never removed, so a held lock
    // outlives its lookup); it covers map operations only. No lock is held
    // while writing to the console or calling into the host.
    SRWLOCK bookLock = SRWLOCK_INIT;
    std::unordered_map<std::string, SymbolState> symbols;
    // Registrations from several host threads must not open the server channel at once.
    SRWLOCK registerLock = SRWLOCK_INIT;
};

// The process-wide dispatcher, created (and the configuration read) by the
// first caller; concurrent first callers wait for that one creation. Null
// only when the dispatcher could not be created, and then the next call tries again.
SignalDispatcher *getDispatcher() noexcept;

// The unload: releases the dispatcher and all it opened so that the next
// load starts afresh. Called from DllMain under the loader lock.
void releaseDispatcher() noexcept;

}  // namespace varnex

#endif
