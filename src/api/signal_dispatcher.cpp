#include "api/signal_dispatcher.h"

#include <cstdio>
#include <ctime>
#include <new>
#include <optional>

#include "api/number_text.h"
#include "api/position_book.h"
#include "api/signal_texts.h"
#include "common/locks.h"
#include "config/settings_file.h"
#include "config/varnex_config.h"
#include "output/file_names.h"
#include "output/line_files.h"
#include "pipe/pipe_texts.h"

namespace varnex {

namespace {

void consoleLine(const char *text) {
    // A host without a console has an invalid stdout; msvcrt then fails the
    // write and we carry on.
    std::fputs(text, stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

INIT_ONCE dispatcherOnce = INIT_ONCE_STATIC_INIT;
SignalDispatcher *dispatcher = nullptr;

BOOL CALLBACK createDispatcher(PINIT_ONCE, PVOID, PVOID *) {
    try {
        dispatcher = new SignalDispatcher();
        return TRUE;
    } catch (...) {
        // FALSE leaves the one-time state unset, so a later call tries again.
        return FALSE;
    }
}

}  // namespace

SignalDispatcher *getDispatcher() noexcept {
    if (!InitOnceExecuteOnce(&dispatcherOnce, createDispatcher, nullptr, nullptr)) return nullptr;
    return dispatcher;
}

void releaseDispatcher() noexcept {
    delete dispatcher;
    dispatcher = nullptr;
    // A library kept mapped (its reader was stuck in the host's callback)
    // creates a fresh dispatcher on its next use.
    InitOnceInitialize(&dispatcherOnce);
}

SignalDispatcher::SignalDispatcher()
    : initialised(false),
      varnexMode(false),
      signalMode(false),
      signalDebugMode(false),
      socketClient(false),
      logMode(false) {
    pipeBaseName = "kelvor.ts.guicl";
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
    consoleLine("_initial ... start.");
    const VarnexConfig config = readVarnexConfig(SettingsFile(kVarnexIniName));
    driverName = configText(config.driverName.value);
    varnexMode = config.varnexMode.on;
    signalMode = config.signalMode.on;
    if (config.signalFile.read) signalFile = configText(config.signalFile.value);
    signalDebugMode = config.signalDebugMode.on;
    if (config.signalDebugFile.read) signalDebugFile = configText(config.signalDebugFile.value);
    socketClient = config.socketClient.on;
    if (socketClient) varnex::loadEndpoints(config.endpoints, endpoints);
    logMode = config.logMode.on;
    if (config.logFile.read) logFile = configText(config.logFile.value);
    initialised = true;
    consoleLine("_initial ... end.");
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
    ExclusiveLock guard(processLock);
    try {
        runPipeline(year, month, day, symbol, quantity, price);
    } catch (...) {
        // Out of memory part-way: the signal is dropped rather than crash the host.
    }
}

void SignalDispatcher::runPipeline(int32_t year, int32_t month, int32_t day, const char *symbol,
                                   int32_t quantity, double price) {
    if (!isToday(year, month, day)) return;
    writeLog(signalLogText(symbol, quantity, price).c_str());
    const std::string quantityText = toText(quantity);
    const std::string priceText = toText(price);
    const bool unchanged = checkPosition(symbol, quantity);
    if (varnexMode && !unchanged) relayPipe(pipeMessage(symbol, quantityText, priceText));
    if (socketClient && !unchanged) relayTcp(symbol, tcpMessage(quantityText, priceText));
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
    const std::optional<int32_t> previous = book.find(key);
    writeLog(positionLogText(key, quantity, previous).c_str());
    book.record(key, quantity);
    return previous && *previous == quantity;
}

void SignalDispatcher::relayPipe(const std::string &message) {
    writeLog(checkSignalText(message).c_str());
    clientChannel.configure(pipeBaseName, ".");
    // The connection of an earlier relay is kept and used as long as it
    // works; only a relay without one, or whose send failed (a receiver that
    // restarted has fresh pipes), opens the pipes again, and then sends once more.
    if (!clientChannel.isConnected()) clientChannel.open(false, "QUIT", nullptr);
    bool ok = clientChannel.send(message);
    if (!ok && clientChannel.open(false, "QUIT", nullptr)) ok = clientChannel.send(message);
    writeLog(callbackResultText(message, ok).c_str());
}

void SignalDispatcher::relayTcp(const char *symbol, const std::string &message) {
    writeLog(relayOrder(endpoints, symbol, message).c_str());
}

void SignalDispatcher::loadEndpoints(const SettingsFile &settings) { varnex::loadEndpoints(settings, endpoints); }

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
