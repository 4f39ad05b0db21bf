#include "api/signal_dispatcher.h"

#include <optional>
#include <utility>

#include "api/endpoint_table.h"
#include "api/signal_texts.h"
#include "common/console.h"
#include "common/locks.h"
#include "common/system_errors.h"
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
    if (!initialised) readConfiguration();
}

bool SignalDispatcher::readConfiguration() noexcept {
    if (initialised) return true;
    const std::optional<VarnexConfig> read = readVarnexConfig(SettingsFile(kVarnexIniName));
    if (!read) return false;
    const VarnexConfig &config = *read;
    try {
        takeConfiguration(config);
    } catch (...) {
        return false;
    }
    initialised = true;
    return true;
}

void SignalDispatcher::takeConfiguration(const VarnexConfig &config) {
    driverName = config.driverName.value;
    varnexMode = config.varnexMode.on;
    signalMode = config.signalMode.on;
    // Every file name is known, also those whose switch is off: no symbol's
    // file may take any of them, whichever switches are on.
    files = LibraryFiles{config.signalFile.value, config.signalDebugFile.value, config.logFile.value};
    signalDebugMode = config.signalDebugMode.on;
    socketClient = config.socketClient.on;
    if (socketClient) {
        endpoints = endpointTable(config.endpoints);
        for (const auto &entry : endpoints) {
            const ClientEndpoint &endpoint = entry.second;
            std::string label = serverLabel(endpoint);
            SharedHealth *health = &serverHealth[label];
            tcpRoutes.emplace(entry.first, TcpRoute{&endpoint, health, std::move(label)});
        }
        socketsStarted.acquire();
    }
    logMode = config.logMode.on;
    if (logMode) {
        log.reset(new LogFile(driverName, files.logFile,
                              logRotationOf(config.logRotate.value) == LogRotation::Daily,
                              config.logKeepDays.value));
        // Said once per load: what the file asks for that the library does otherwise.
        for (const std::string &note : valuesNotTakenAsWritten(config)) log->append(note);
    }
    resendMode = config.resendMode.on;
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
                               const double &price) noexcept {
    if (!symbol) return;  // a host's null would otherwise crash its own process
    std::string console;
    try {
        if (!isToday(year, month, day)) return;
        const std::string key(symbol);
        SymbolState &state = symbolState(key);
        TicketGuard turn(state.turn);
        LogBatch log(*this);
        runPipeline(state, key, quantity, price, log, console);
    } catch (...) {
        // Out of memory part-way: the signal is dropped rather than crash the host.
    }
    writeConsole(ConsoleStream::Error, console);
}

SignalDispatcher::SymbolState &SignalDispatcher::symbolState(const std::string &symbol) {
    {
        SharedLock guard(symbolsLock);
        const auto found = symbols.find(symbol);
        if (found != symbols.end()) return found->second;
    }
    ExclusiveLock guard(symbolsLock);
    return symbols.try_emplace(symbol).first->second;
}

const SignalDispatcher::TcpRoute *SignalDispatcher::tcpRoute(const std::string &symbol) const {
    const auto found = tcpRoutes.find(symbol);
    return found == tcpRoutes.end() ? nullptr : &found->second;
}

Destinations SignalDispatcher::owedBy(const TcpRoute *route) const {
    Destinations owed;
    if (varnexMode) owed.add(Destination::Pipe);
    // A symbol without a server has no TCP destination to make good.
    if (route) owed.add(Destination::Tcp);
    if (signalMode) owed.add(Destination::SignalFile);
    if (signalMode && signalDebugMode) owed.add(Destination::SignalDebugFile);
    return owed;
}

void SignalDispatcher::LogBatch::add(std::string text) {
    if (!owner_.logMode) return;
    // Room for a signal's usual lines at once, rather than growing by one and two.
    if (lines_.empty()) lines_.reserve(4);
    lines_.push_back(std::move(text));
}

void SignalDispatcher::LogBatch::flush() noexcept {
    if (lines_.empty()) return;
    try {
        owner_.log->append(lines_.data(), lines_.size());
    } catch (...) {
        // Out of memory: these lines are lost, the call goes on.
    }
    lines_.clear();
}

namespace {

int slot(Destination d) { return static_cast<int>(d); }

}  // namespace

void SignalDispatcher::runPipeline(SymbolState &state, const std::string &symbol, int32_t quantity,
                                   double price, LogBatch &log, std::string &console) {
    const std::string quantityText = toText(quantity);
    const std::string priceText = toText(price);
    if (log.on()) log.add(signalLogText(symbol, quantityText, priceText));
    const bool unchanged = checkPosition(state, symbol, quantity, log);
    if (unchanged && !resendMode) return;
    const TcpRoute *route = socketClient ? tcpRoute(symbol) : nullptr;
    const Destinations owed = owedBy(route);
    Step steps[kDestinationCount];
    steps[slot(Destination::Pipe)].health = &pipeHealth;
    if (route) steps[slot(Destination::Tcp)].health = route->health;
    if (state.fileHealth) {
        steps[slot(Destination::SignalFile)].health = &state.fileHealth[0];
        steps[slot(Destination::SignalDebugFile)].health = &state.fileHealth[1];
    }
    const uint64_t now = GetTickCount64();
    Destinations due = owed;
    if (!unchanged) {
        // A symbol that owes no destination anything never needs its delivery state.
        if (!owed.empty()) state.delivery.positionChanged();
        // A changed position runs the TCP step for every symbol, which logs
        // an empty text for one without a server.
        if (socketClient) due.add(Destination::Tcp);
    } else {
        ReachedCounts reached;
        for (int i = 0; i < kDestinationCount; ++i)
            if (steps[i].health) reached.of[i] = steps[i].health->reachedCount();
        due = state.delivery.dueAt(owed, now, reached);
    }
    // Gives back the one try of a pause that a step was admitted to and
    // never settled (an allocation failed on the way), so the destination
    // is tried again.
    struct AdmissionsGuard {
        Step *steps;
        ~AdmissionsGuard() {
            for (int i = 0; i < kDestinationCount; ++i)
                if (steps[i].admitted && steps[i].health) steps[i].health->abandon(steps[i].admission);
        }
    } guard{steps};
    // A destination that is down is not waited on: a changed position says
    // in the log that it was skipped; a resend waits quietly for the
    // destination's next try.
    Destinations go, skipped;
    for (int i = 0; i < kDestinationCount; ++i) {
        const auto d = static_cast<Destination>(i);
        if (!due.has(d)) continue;
        Step &step = steps[i];
        if (step.health) {
            step.admission = step.health->admit(now);
            step.admitted = step.admission.go;
        }
        if (!step.health || step.admitted) {
            go.add(d);
        } else if (!unchanged) {
            skipped.add(d);
        }
    }
    if (unchanged) {
        if (go.empty()) return;
        log.add(resendText(symbol, go));
    }
    const std::string signal = signalText(quantityText, priceText);
    const std::string signalFilePath = due.has(Destination::SignalFile)
                                           ? signalPath(driverName.c_str(), symbol.c_str(), files)
                                           : std::string();
    const std::string debugFilePath = due.has(Destination::SignalDebugFile)
                                          ? signalDebugPath(driverName.c_str(), symbol.c_str(), files)
                                          : std::string();
    auto run = [&](Destination d, const std::string &message, const std::string &path, auto &&relay) {
        Step &step = steps[slot(d)];
        if (skipped.has(d)) {
            const char *word = d == Destination::Pipe  ? "receiver down"
                               : d == Destination::Tcp ? "server down"
                                                       : "busy";
            report(skippedOutcome(d, symbol, message, route, path,
                                  step.health->skippedText(word, step.admission)),
                   log, console);
            if (owed.has(d)) state.delivery.record(d, false, now, false, step.health->reachedCount());
            return;
        }
        if (!go.has(d)) return;
        const RelayOutcome outcome = relay();
        const uint64_t at = GetTickCount64();
        if (!step.health && !outcome.reached &&
            (d == Destination::SignalFile || d == Destination::SignalDebugFile)) {
            // The first miss of this symbol's files: from now on their health
            // is kept (made once, also when both files miss in one call).
            if (!state.fileHealth) state.fileHealth = std::make_unique<SharedHealth[]>(2);
            step.health = &state.fileHealth[d == Destination::SignalFile ? 0 : 1];
        }
        std::string change;
        if (step.health) {
            const std::string label = d == Destination::Pipe  ? std::string("order pipe")
                                      : d == Destination::Tcp ? route->label
                                                              : destinationName(d) + (" " + path);
            change = step.health->settle(step.admission, outcome, at, label);
            step.admitted = false;
        }
        for (const std::string &text : outcome.log) log.add(text);
        // The line that says it went down names the reason; the relay's
        // own failure line would only say it again.
        console += !change.empty() && !outcome.reached ? change : outcome.console + change;
        if (owed.has(d))
            state.delivery.record(d, outcome.reached, at, !outcome.down,
                                  step.health ? step.health->reachedCount() : 0);
    };
    const std::string pipeText =
        due.has(Destination::Pipe) ? pipeMessage(symbol, quantityText, priceText) : std::string();
    run(Destination::Pipe, pipeText, std::string(), [&] { return relayPipe(pipeText, log); });
    const std::string tcpText =
        due.has(Destination::Tcp) ? tcpMessage(quantityText, priceText) : std::string();
    run(Destination::Tcp, tcpText, std::string(), [&] { return relayTcp(route, symbol, tcpText, log); });
    run(Destination::SignalFile, signal, signalFilePath,
        [&] { return writeSignalFile(signalFilePath, signal); });
    run(Destination::SignalDebugFile, signal, debugFilePath,
        [&] { return writeSignalDebugFile(debugFilePath, signal); });
}

RelayOutcome SignalDispatcher::skippedOutcome(Destination d, const std::string &symbol,
                                              const std::string &message, const TcpRoute *route,
                                              const std::string &path, const std::string &down) {
    RelayOutcome outcome;
    switch (d) {
        case Destination::Pipe:
            outcome.log = {checkSignalText(message), callbackResultText(message, false),
                           pipeReasonText("not sent, " + down)};
            break;
        case Destination::Tcp:
            outcome.log.push_back(symbol + ", " + route->label + "\nnot sent: " + down + "\n");
            break;
        case Destination::SignalFile:
        case Destination::SignalDebugFile:
            outcome.log.push_back(fileNotWrittenText(destinationName(d), path, down));
            break;
    }
    return outcome;
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
    const std::string key(symbol);
    SymbolState &state = symbolState(key);
    TicketGuard turn(state.turn);
    LogBatch log(*this);
    return checkPosition(state, key, quantity, log);
}

bool SignalDispatcher::checkPosition(SymbolState &state, const std::string &key, int32_t quantity,
                                     LogBatch &log) {
    // The caller holds the symbol's turn. The line goes first: were memory
    // to run out building it, the book would still hold the quantity that
    // the destinations were last given.
    const std::optional<int32_t> previous = state.quantity;
    if (log.on()) log.add(positionLogText(key, quantity, previous));
    state.quantity = quantity;
    return previous && *previous == quantity;
}

RelayOutcome SignalDispatcher::relayPipe(const std::string &message, LogBatch &log) {
    if (log.on()) log.add(checkSignalText(message));
    log.flush();
    return pipeRelay.relay(message);
}

RelayOutcome SignalDispatcher::relayTcp(const TcpRoute *route, const std::string &symbol,
                                        const std::string &message, LogBatch &log) {
    if (!route) return noEndpointOutcome();
    // The exchange waits on the server: the lines before it are written first.
    log.flush();
    return relayOrder(*route->endpoint, symbol, message);
}

namespace {

RelayOutcome fileOutcome(Destination d, const std::string &path, unsigned long error) {
    RelayOutcome outcome;
    outcome.reached = error == ERROR_SUCCESS;
    if (!outcome.reached) {
        outcome.reason = systemErrorText(error);
        // Held by a reader: the file is busy for every signal until it is let go.
        outcome.down = isBusyError(error);
        outcome.log.push_back(fileNotWrittenText(destinationName(d), path, outcome.reason));
    }
    return outcome;
}

}  // namespace

RelayOutcome SignalDispatcher::writeSignalFile(const std::string &path, const std::string &text) {
    unsigned long error = ERROR_SUCCESS;
    rewriteStampedLine(path, ' ', text.c_str(), &error);
    return fileOutcome(Destination::SignalFile, path, error);
}

RelayOutcome SignalDispatcher::writeSignalDebugFile(const std::string &path, const std::string &text) {
    return fileOutcome(Destination::SignalDebugFile, path, debugFiles.append(path, ' ', &text, 1));
}

void SignalDispatcher::writeLog(const char *text) noexcept {
    if (!logMode || !text) return;
    try {
        log->append(std::string(text));
    } catch (...) {
    }
}

void SignalDispatcher::makeTimestamp(char *buffer) const { varnex::makeTimestamp(buffer); }

}  // namespace varnex
