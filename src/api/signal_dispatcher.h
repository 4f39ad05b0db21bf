// The one process-wide object behind the exports: configuration, pipeline,
// position book and the relays.
#ifndef VARNEX_API_SIGNAL_DISPATCHER_H
#define VARNEX_API_SIGNAL_DISPATCHER_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <unordered_map>

#include "api/position_book.h"
#include "config/settings_file.h"
#include "net/tcp_relay.h"
#include "net/winsock_startup.h"
#include "pipe/pipe_channel.h"
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
    void relayPipe(const std::string &message);
    // A failure line for standard error goes to `consoleText`, to be written
    // once no lock is held.
    void relayTcp(const char *symbol, const std::string &message, std::string &consoleText);
    void writeSignal(const char *symbol, const char *text);
    void makeTimestamp(char *buffer) const;

    // Before the dispatcher is destroyed under the loader lock: what must not
    // be undone there (Windows Sockets' start-up) is let go instead.
    void prepareUnload() noexcept { socketsStarted.leaveStarted(); }

private:
    void readConfiguration();
    void runPipeline(const char *symbol, int32_t quantity, double price, std::string &consoleText);
    SRWLOCK &symbolLock(const std::string &symbol);

    struct SymbolLock {
        SRWLOCK lock = SRWLOCK_INIT;
    };

    PipeChannel clientChannel;
    PipeChannel serverChannel;
    EndpointTable endpoints;
    ConfigText driverName;
    ConfigText signalFile;
    ConfigText signalDebugFile;
    ConfigText logFile;
    bool initialised;
    bool varnexMode;
    bool signalMode;
    bool signalDebugMode;
    bool socketClient;
    bool logMode;
    std::string pipeBaseName;
    // Goes with the dispatcher, so a reloaded library starts with an empty
    // book. (A function-local static would also leave the runtime's guard
    // handles behind on every unload.)
    PositionBook book;
    SocketsStarted socketsStarted;
    // Locks. A symbol's lock is held for its signal's whole pipeline, so one
    // symbol's signals run one at a time in the order they take it while
    // other symbols run at once; it may be held across bounded waits on peers
    // (pipe send, TCP exchange) and file writes, and while it is held only
    // bookLock, pipeLock and the output files' own lock may be taken, one at
    // a time. bookLock guards the position book and the symbolLocks table
    // (entries are added, never removed, so a held lock outlives its lookup);
    // it covers map operations only. pipeLock guards clientChannel for one
    // open-and-send, whose writes are bounded by PipeChannel::kSendLimitMs.
    // No lock is held while writing to the console or calling into the host.
    SRWLOCK bookLock = SRWLOCK_INIT;
    std::unordered_map<std::string, SymbolLock> symbolLocks;
    SRWLOCK pipeLock = SRWLOCK_INIT;
    // Registrations from several host threads must not open the server channel at once.
    SRWLOCK registerLock = SRWLOCK_INIT;
};

// The process-wide dispatcher, created (and the configuration read) by the
// first caller; concurrent first callers wait for that one creation. Null
// only when the dispatcher could not be created, and then the next call tries again.
SignalDispatcher *getDispatcher() noexcept;

// Releases the dispatcher and everything it opened (pipes, the reader thread,
// events), so that the next load starts afresh: configuration read anew, an
// empty position book, no registration. Called when the library is unloaded,
// under the loader lock, on whatever thread unloads it; the host no longer calls.
void releaseDispatcher() noexcept;

}  // namespace varnex

#endif
