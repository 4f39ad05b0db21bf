#include "api/signal_dispatcher.h"

#include <ctime>
#include <new>
#include <optional>

#include "api/endpoint_table.h"
#include "api/number_text.h"
#include "api/position_book.h"
#include "api/signal_texts.h"
#include "common/console.h"
#include "common/locks.h"
#include "common/runtime.h"
#include "config/settings_file.h"
#include "config/varnex_config.h"
#include "output/file_names.h"
#include "output/line_files.h"
#include "pipe/pipe_texts.h"

namespace varnex {

namespace {


INIT_ONCE dispatcherOnce = INIT_ONCE_STATIC_INIT;
SignalDispatcher *dispatcher = nullptr;

BOOL CALLBACK createDispatcher(PINIT_ONCE, PVOID createdHere, PVOID *) {
    try {
        dispatcher = new SignalDispatcher();
        *static_cast<bool *>(createdHere) = true;
        return TRUE;
    } catch (...) {
        // FALSE leaves the one-time state unset, so a later call tries again.
        return FALSE;
    }
}

}  // namespace

SignalDispatcher *getDispatcher() noexcept {
    bool createdHere = false;
    if (!InitOnceExecuteOnce(&dispatcherOnce, createDispatcher, &createdHere, nullptr)) return nullptr;
    // Written by the creating thread once the others may go on: a console
    // that nobody reads then holds this thread alone.
    if (createdHere) writeConsole(ConsoleStream::Output, "_initial ... start.\r\n_initial ... end.\r\n");
    return dispatcher;
}

void releaseDispatcher() noexcept {
    if (dispatcher) dispatcher->prepareUnload();
    delete dispatcher;
    dispatcher = nullptr;
    // A library kept mapped (its reader was stuck in the host's callback)
    // creates a fresh dispatcher on its next use.
    InitOnceInitialize(&dispatcherOnce);
    releaseRuntimeAtUnload();
}

SignalDispatcher::SignalDispatcher()
    : initialised(false),
      varnexMode(false),
      signalMode(false),
      signalDebugMode(false),
      socketClient(false),
      logMode(false) {
    pipeBaseName = kOrderPipeBaseName;
    readConfiguration();
}

void SignalDispatcher::initial() noexcept {
    // Only the constructor ever reads the configuration; every call from a
    // host finds it read already.
    if (initialised) return;
    try {
        readConfiguration();
    } catch (...) {
    }
}

void SignalDispatcher::readConfiguration() {
    if (initialised) return;
    const VarnexConfig config = readVarnexConfig(SettingsFile(kVarnexIniName));
    driverName = configText(config.driverName.value);
    varnexMode = config.varnexMode.on;
    signalMode = config.signalMode.on;
    if (config.signalFile.read) signalFile = configText(config.signalFile.value);
    signalDebugMode = config.signalDebugMode.on;
    if (config.signalDebugFile.read) signalDebugFile = configText(config.signalDebugFile.value);
    socketClient = config.socketClient.on;
    if (socketClient) {
        endpoints = endpointTable(config.endpoints);
        socketsStarted.acquire();
    }
    logMode = config.logMode.on;
    if (config.logFile.read) logFile = configText(config.logFile.value);
    initialised = true;
}

void SignalDispatcher::registerOrderFunc(OrderCallback callback) noexcept {
    try {
        bool ok;
        {
            ExclusiveLock guard(registerLock);
            serverChannel.configure(pipeBaseName, ".");
            ok = serverChannel.open(true, "QUIT", callback);
        }
        writeLog(registrationText(reinterpret_cast<uintptr_t>(&serverChannel), ok).c_str());
    } catch (...) {
    }
}

void SignalDispatcher::process(int32_t year, int32_t month, int32_t day, const char *symbol,
                               int32_t quantity, double price) noexcept {
    if (!symbol) return;  // a host's null would otherwise crash its own process
    std::string consoleText;
    try {
        if (!isToday(year, month, day)) return;
        ExclusiveLock guard(symbolLock(symbol));
        runPipeline(symbol, quantity, price, consoleText);
    } catch (...) {
        // Out of memory part-way: the signal is dropped rather than crash the host.
    }
    writeConsole(ConsoleStream::Error, consoleText);
}

SRWLOCK &SignalDispatcher::symbolLock(const std::string &symbol) {
    {
        SharedLock guard(bookLock);
        const auto found = symbolLocks.find(symbol);
        if (found != symbolLocks.end()) return found->second.lock;
    }
    ExclusiveLock guard(bookLock);
    return symbolLocks[symbol].lock;
}

void SignalDispatcher::runPipeline(const char *symbol, int32_t quantity, double price,
                                   std::string &consoleText) {
    writeLog(signalLogText(symbol, quantity, price).c_str());
    const std::string quantityText = toText(quantity);
    const std::string priceText = toText(price);
    const bool unchanged = checkPosition(symbol, quantity);
    if (varnexMode && !unchanged) relayPipe(pipeMessage(symbol, quantityText, priceText));
    if (socketClient && !unchanged) relayTcp(symbol, tcpMessage(quantityText, priceText), consoleText);
    if (signalMode && !unchanged) writeSignal(symbol, signalText(quantityText, priceText).c_str());
}

bool SignalDispatcher::isToday(int32_t year, int32_t month, int32_t day) const {
    std::time_t now = std::time(nullptr);
    const std::tm *local = std::localtime(&now);
    if (!local) return false;
    return year == local->tm_year + 1900 && month == local->tm_mon + 1 && day == local->tm_mday;
}

bool SignalDispatcher::checkPosition(const char *symbol, int32_t quantity) {
    const std::string key(symbol);
    // The caller holds the symbol's lock, so no other thread changes this
    // entry between the look-up and the update; bookLock keeps the map whole
    // while other symbols are added.
    std::optional<int32_t> previous;
    {
        SharedLock guard(bookLock);
        previous = book.find(key);
    }
    writeLog(positionLogText(key, quantity, previous).c_str());
    {
        ExclusiveLock guard(bookLock);
        book.record(key, quantity);
    }
    return previous && *previous == quantity;
}

void SignalDispatcher::relayPipe(const std::string &message) {
    writeLog(checkSignalText(message).c_str());
    bool ok;
    {
        ExclusiveLock guard(pipeLock);
        clientChannel.configure(pipeBaseName, ".");
        // The connection of an earlier relay is kept and used as long as it
        // works; only a relay without one, or whose send failed (a receiver that
        // restarted has fresh pipes), opens the pipes again, and then sends once more.
        if (!clientChannel.isConnected()) clientChannel.open(false, "QUIT", nullptr);
        ok = clientChannel.send(message);
        if (!ok && clientChannel.open(false, "QUIT", nullptr)) ok = clientChannel.send(message);
    }
    writeLog(callbackResultText(message, ok).c_str());
}

void SignalDispatcher::relayTcp(const char *symbol, const std::string &message, std::string &consoleText) {
    const auto found = endpoints.find(symbol);
    const RelayOutcome outcome =
        found == endpoints.end() ? noEndpointOutcome() : relayOrder(found->second, symbol, message);
    for (const std::string &text : outcome.log) writeLog(text.c_str());
    consoleText += outcome.console;
}

void SignalDispatcher::writeLog(const char *text) noexcept {
    if (!logMode || !text) return;
    try {
        writeStampedLine(logPath(driverName.get(), logFile.get()), LineMode::Append, '\t', text);
    } catch (...) {
    }
}

void SignalDispatcher::writeSignal(const char *symbol, const char *text) {
    if (signalMode)
        writeStampedLine(signalPath(driverName.get(), symbol, signalFile.get()), LineMode::Rewrite, ' ',
                         text);
    if (signalDebugMode)
        writeStampedLine(signalDebugPath(driverName.get(), symbol, signalDebugFile.get()),
                         LineMode::Append, ' ', text);
}

void SignalDispatcher::makeTimestamp(char *buffer) const { varnex::makeTimestamp(buffer); }

}  // namespace varnex
