#include "api/signal_dispatcher.h"

#include <optional>

#include "api/endpoint_table.h"
#include "api/signal_texts.h"
#include "common/console.h"
#include "common/locks.h"
#include "config/settings_file.h"
#include "config/varnex_config.h"
#include "output/file_names.h"
#include "output/line_files.h"
#include "pipe/pipe_texts.h"
#include "text/number_text.h"

namespace varnex {

SignalDispatcher::SignalDispatcher()
    : pipeRelay(kOrderPipeBaseName),
      initialised(false),
      varnexMode(false),
      signalMode(false),
      signalDebugMode(false),
      socketClient(false),
      logMode(false),
      resendMode(false) {
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
    driverName = config.driverName.value;
    varnexMode = config.varnexMode.on;
    signalMode = config.signalMode.on;
    if (config.signalFile.read) signalFile = config.signalFile.value;
    signalDebugMode = config.signalDebugMode.on;
    if (config.signalDebugFile.read) signalDebugFile = config.signalDebugFile.value;
    socketClient = config.socketClient.on;
    if (socketClient) {
        endpoints = endpointTable(config.endpoints);
        socketsStarted.acquire();
    }
    logMode = config.logMode.on;
    if (config.logFile.read) logFile = config.logFile.value;
    if (logMode) logFilePath = logPath(driverName.c_str(), logFile.c_str());
    resendMode = config.resendMode.on;
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

void SignalDispatcher::process(int32_t year, int32_t month, int32_t day, const char *symbol, int32_t quantity,
                               double price) noexcept {
    if (!symbol) return;  // a host's null would otherwise crash its own process
    std::string console;
    try {
        if (!isToday(year, month, day)) return;
        const std::string key(symbol);
        SymbolState &state = symbolState(key);
        ExclusiveLock guard(state.lock);
        LogBatch log(*this);
        runPipeline(state, key, quantity, price, log, console);
    } catch (...) {
        // Out of memory part-way: the signal is dropped rather than crash the host.
    }
    writeConsole(ConsoleStream::Error, console);
}

SignalDispatcher::SymbolState &SignalDispatcher::symbolState(const std::string &symbol) {
    {
        SharedLock guard(bookLock);
        const auto found = symbols.find(symbol);
        if (found != symbols.end()) return found->second;
    }
    ExclusiveLock guard(bookLock);
    return symbols[symbol];
}

Destinations SignalDispatcher::owedBy(const std::string &symbol) const {
    Destinations owed;
    if (varnexMode) owed.add(Destination::Pipe);
    // A symbol without a server has no TCP destination to make good.
    if (socketClient && endpoints.count(symbol)) owed.add(Destination::Tcp);
    if (signalMode) owed.add(Destination::SignalFile);
    if (signalMode && signalDebugMode) owed.add(Destination::SignalDebugFile);
    return owed;
}

void SignalDispatcher::LogBatch::add(const std::string &text) {
    if (owner_.logMode) lines_.push_back(text);
}

void SignalDispatcher::LogBatch::flush() noexcept {
    if (lines_.empty()) return;
    appendStampedLines(owner_.logFilePath, '\t', lines_);
    lines_.clear();
}

void SignalDispatcher::runPipeline(SymbolState &state, const std::string &symbol, int32_t quantity,
                                   double price, LogBatch &log, std::string &console) {
    const std::string quantityText = toText(quantity);
    const std::string priceText = toText(price);
    if (log.on()) log.add(signalLogText(symbol, quantityText, priceText));
    const bool unchanged = checkPosition(symbol, quantity, log);
    const Destinations owed = owedBy(symbol);
    Destinations due = owed;
    if (!unchanged) {
        state.delivery.positionChanged();
        // A changed position runs the TCP step for every symbol, which logs
        // an empty text for one without a server.
        if (socketClient) due.add(Destination::Tcp);
    } else {
        if (!resendMode) return;
        due = state.delivery.dueAt(owed, GetTickCount64());
        if (due.empty()) return;
        log.add(resendText(symbol, due));
    }
    auto settle = [&](Destination d, const RelayOutcome &outcome) {
        report(outcome, log, console);
        if (owed.has(d)) state.delivery.record(d, outcome.reached, GetTickCount64());
    };
    if (due.has(Destination::Pipe))
        settle(Destination::Pipe, relayPipe(pipeMessage(symbol, quantityText, priceText), log));
    if (due.has(Destination::Tcp))
        settle(Destination::Tcp, relayTcp(symbol, tcpMessage(quantityText, priceText), log));
    if (due.has(Destination::SignalFile) || due.has(Destination::SignalDebugFile)) {
        const std::string text = signalText(quantityText, priceText);
        if (due.has(Destination::SignalFile))
            settle(Destination::SignalFile, writeSignalFile(symbol.c_str(), text));
        if (due.has(Destination::SignalDebugFile))
            settle(Destination::SignalDebugFile, writeSignalDebugFile(symbol.c_str(), text));
    }
}

void SignalDispatcher::report(const RelayOutcome &outcome, LogBatch &log, std::string &console) {
    for (const std::string &text : outcome.log) log.add(text);
    console += outcome.console;
}

bool SignalDispatcher::isToday(int32_t year, int32_t month, int32_t day) const {
    const LocalTime now = localNow();
    return year == now.year && month == now.month && day == now.day;
}

bool SignalDispatcher::checkPosition(const char *symbol, int32_t quantity) {
    LogBatch log(*this);
    return checkPosition(symbol, quantity, log);
}

bool SignalDispatcher::checkPosition(const std::string &key, int32_t quantity, LogBatch &log) {
    // The caller holds the symbol's lock, so no other thread changes this
    // entry meanwhile; bookLock keeps the map whole while other symbols are
    // added.
    std::optional<int32_t> previous;
    {
        ExclusiveLock guard(bookLock);
        previous = book.exchange(key, quantity);
    }
    if (log.on()) log.add(positionLogText(key, quantity, previous));
    return previous && *previous == quantity;
}

RelayOutcome SignalDispatcher::relayPipe(const std::string &message, LogBatch &log) {
    if (log.on()) log.add(checkSignalText(message));
    log.flush();
    return pipeRelay.relay(message);
}

RelayOutcome SignalDispatcher::relayTcp(const std::string &symbol, const std::string &message,
                                        LogBatch &log) {
    const auto found = endpoints.find(symbol);
    if (found == endpoints.end()) return noEndpointOutcome();
    // The exchange waits on the server: the lines before it are written first.
    log.flush();
    return relayOrder(found->second, symbol, message);
}

RelayOutcome SignalDispatcher::writeSignalFile(const char *symbol, const std::string &text) {
    RelayOutcome outcome;
    outcome.reached = writeStampedLine(signalPath(driverName.c_str(), symbol, signalFile.c_str()),
                                       LineMode::Rewrite, ' ', text.c_str());
    return outcome;
}

RelayOutcome SignalDispatcher::writeSignalDebugFile(const char *symbol, const std::string &text) {
    RelayOutcome outcome;
    outcome.reached = writeStampedLine(signalDebugPath(driverName.c_str(), symbol, signalDebugFile.c_str()),
                                       LineMode::Append, ' ', text.c_str());
    return outcome;
}

void SignalDispatcher::writeLog(const char *text) noexcept {
    if (!logMode || !text) return;
    try {
        writeStampedLine(logFilePath, LineMode::Append, '\t', text);
    } catch (...) {
    }
}

void SignalDispatcher::makeTimestamp(char *buffer) const { varnex::makeTimestamp(buffer); }

}  // namespace varnex
