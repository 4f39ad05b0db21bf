#include "api/signal_dispatcher.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "api/destination_steps.h"
#include "api/endpoint_table.h"
#include "api/signal_texts.h"
#include "common/console.h"
#include "common/locks.h"
#include "common/system_errors.h"
#include "config/settings_file.h"
#include "config/varnex_config.h"
#include "output/file_names.h"
#include "output/line_files.h"
#include "pipe/pipe_names.h"
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
        logFile.reset(new LogFile(driverName, files.logFile,
                                  logRotationOf(config.logRotate.value) == LogRotation::Daily,
                                  config.logKeepDays.value));
        // Said once per load: what the file asks for that the library does otherwise.
        for (const std::string &note : valuesNotTakenAsWritten(config)) logFile->append(note);
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
        SymbolEntry &entry = symbolEntry(key);
        SymbolState &state = entry.second;
        TicketGuard turn(state.turn);
        LogBatch log(logMode ? logFile.get() : nullptr);
        runPipeline(state, key, quantity, price, log, console);
        queueOwed(entry);
    } catch (...) {
        // Out of memory part-way: the signal is dropped rather than crash the host.
    }
    writeConsole(ConsoleStream::Error, console);
}

SignalDispatcher::SymbolEntry &SignalDispatcher::symbolEntry(const std::string &symbol) {
    {
        SharedLock guard(symbolsLock);
        const auto found = symbols.find(symbol);
        if (found != symbols.end()) return *found;
    }
    ExclusiveLock guard(symbolsLock);
    return *symbols.try_emplace(symbol).first;
}

const TcpRoute *SignalDispatcher::tcpRoute(const std::string &symbol) const {
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

namespace {

using Steps = DestinationStep *const[kDestinationCount];

// Gives back the one try of a pause that a step was admitted to and never
// settled (an allocation failed on the way), so the destination is tried again.
class AdmissionsGuard {
public:
    explicit AdmissionsGuard(Steps &steps) : steps_(steps) {}
    ~AdmissionsGuard() {
        for (DestinationStep *step : steps_)
            if (step->admitted && step->health()) step->health()->abandon(step->admission);
    }
    AdmissionsGuard(const AdmissionsGuard &) = delete;
    AdmissionsGuard &operator=(const AdmissionsGuard &) = delete;

private:
    Steps &steps_;
};

// How often each destination has been reached by anyone.
ReachedCounts reachedCounts(Steps &steps) {
    ReachedCounts reached;
    for (DestinationStep *step : steps)
        if (step->health()) reached.of[static_cast<int>(step->kind())] = step->health()->reachedCount();
    return reached;
}

// A destination that is down is not waited on: a changed position says in
// the log that it was skipped; a resend waits quietly for the destination's
// next try.
void admit(Steps &steps, Destinations due, bool unchanged, uint64_t now, Destinations &go,
           Destinations &skipped) {
    for (DestinationStep *step : steps) {
        if (!due.has(step->kind())) continue;
        SharedHealth *health = step->health();
        if (health) {
            step->admission = health->admit(now);
            step->admitted = step->admission.go;
        }
        if (!health || step->admitted)
            go.add(step->kind());
        else if (!unchanged)
            skipped.add(step->kind());
    }
}

void report(const RelayOutcome &outcome, LogBatch &log, std::string &console) {
    for (const std::string &text : outcome.log) log.add(text);
    console += outcome.console;
}

void skip(DestinationStep &step, DeliveryState &delivery, Destinations owed, uint64_t now, LogBatch &log,
          std::string &console) {
    SharedHealth &health = *step.health();
    report(step.skipped(step.message(), health.skippedText(step.downWord(), step.admission)), log, console);
    if (owed.has(step.kind())) delivery.record(step.kind(), false, now, false, health.reachedCount());
}

void relay(DestinationStep &step, DeliveryState &delivery, Destinations owed, LogBatch &log,
           std::string &console) {
    const RelayOutcome outcome = step.relay(step.message(), log);
    const uint64_t at = GetTickCount64();
    SharedHealth *health = step.health();
    std::string change;
    if (health) {
        change = health->settle(step.admission, outcome, at, step.label());
        step.admitted = false;
    }
    for (const std::string &text : outcome.log) log.add(text);
    // The line that says it went down names the reason; the relay's own
    // failure line would only say it again.
    console += !change.empty() && !outcome.reached ? change : outcome.console + change;
    if (owed.has(step.kind()))
        delivery.record(step.kind(), outcome.reached, at, !outcome.down, health ? health->reachedCount() : 0);
}

}  // namespace

void SignalDispatcher::runPipeline(SymbolState &state, const std::string &symbol, int32_t quantity,
                                   double price, LogBatch &log, std::string &console) {
    const std::string quantityText = toText(quantity);
    const std::string priceText = toText(price);
    if (log.on()) log.add(signalLogText(symbol, quantityText, priceText));
    const bool unchanged = checkPosition(state, symbol, quantity, log);
    if (unchanged && !resendMode) return;
    if (!unchanged) state.price = price;
    const TcpRoute *route = socketClient ? tcpRoute(symbol) : nullptr;
    const SignalCall call{symbol, quantityText, priceText};
    PipeStep pipe(call, pipeRelay, pipeHealth);
    TcpStep tcp(call, route);
    FileStep signalFile(call, Destination::SignalFile, driverName, files, &debugFiles);
    FileStep debugFile(call, Destination::SignalDebugFile, driverName, files, &debugFiles);
    Steps steps = {&pipe, &tcp, &signalFile, &debugFile};
    const Destinations owed = owedBy(route);
    const uint64_t now = GetTickCount64();
    Destinations due = owed;
    if (!unchanged) {
        // A symbol that owes no destination anything never needs its delivery state.
        if (!owed.empty()) state.delivery.positionChanged();
        // A changed position runs the TCP step for every symbol, which logs
        // an empty text for one without a server.
        if (socketClient) due.add(Destination::Tcp);
    } else {
        due = state.delivery.dueAt(owed, now, reachedCounts(steps));
    }
    AdmissionsGuard guard(steps);
    Destinations go, skipped;
    admit(steps, due, unchanged, now, go, skipped);
    if (unchanged) {
        if (go.empty()) return;
        log.add(resendText(symbol, go));
    }
    for (DestinationStep *step : steps) {
        if (skipped.has(step->kind()))
            skip(*step, state.delivery, owed, now, log, console);
        else if (go.has(step->kind()))
            relay(*step, state.delivery, owed, log, console);
    }
}

bool SignalDispatcher::isToday(int32_t year, int32_t month, int32_t day) const {
    const LocalTime now = localNow();
    return year == now.year && month == now.month && day == now.day;
}

bool SignalDispatcher::checkPosition(const char *symbol, int32_t quantity) {
    const std::string key(symbol);
    SymbolState &state = symbolEntry(key).second;
    TicketGuard turn(state.turn);
    LogBatch log(logMode ? logFile.get() : nullptr);
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

void SignalDispatcher::writeLog(const char *text) noexcept {
    if (!logMode || !text) return;
    try {
        logFile->append(std::string(text));
    } catch (...) {
    }
}

void SignalDispatcher::makeTimestamp(char *buffer) const { varnex::makeTimestamp(buffer); }

Destinations SignalDispatcher::deliverable() const {
    Destinations d;
    if (!resendMode) return d;
    if (varnexMode) d.add(Destination::Pipe);
    if (signalMode) d.add(Destination::SignalFile);
    if (signalMode && signalDebugMode) d.add(Destination::SignalDebugFile);
    return d;
}

namespace {

Destinations filesOf(Destinations d) {
    Destinations files;
    if (d.has(Destination::SignalFile)) files.add(Destination::SignalFile);
    if (d.has(Destination::SignalDebugFile)) files.add(Destination::SignalDebugFile);
    return files;
}

// A receiver holds its claim for as long as it serves; looking costs no pipe.
bool receiverRegistered() noexcept {
    try {
        const HANDLE claim = OpenEventA(SYNCHRONIZE, FALSE, receiverClaimName(orderPipePath(true)).c_str());
        if (!claim) return false;
        CloseHandle(claim);
        return true;
    } catch (...) {
        return false;  // no memory for the name: looked for again next time
    }
}

}  // namespace

void SignalDispatcher::queueOwed(SymbolEntry &entry) noexcept {
    SymbolState &state = entry.second;
    if (!state.quantity || state.owing || state.delivery.lacking(deliverable()).empty()) return;
    if (!startDelivery()) return;  // no thread: the host's next signal tries again
    try {
        ExclusiveLock guard(owingLock);
        if (deliveryStopping) return;
        owingSymbols.push_back(&entry);
        state.owing = true;
    } catch (...) {
        return;
    }
    SetEvent(deliveryWake.get());
}

bool SignalDispatcher::startDelivery() noexcept {
    ExclusiveLock guard(startLock);
    if (deliveryThread.started()) return true;
    deliveryWake.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!deliveryWake || !deliveryThread.start(deliveryWork, this)) return false;
    // Confirmed, so that an unload right after finds it where it can be ended.
    deliveryThread.confirmStarted(1000);
    return true;
}

void SignalDispatcher::deliveryWork(void *dispatcher) {
    static_cast<SignalDispatcher *>(dispatcher)->deliverOwed();
}

void SignalDispatcher::deliverOwed() noexcept {
    ULONGLONG nextReceiverLook = 0;
    for (;;) {
        std::vector<SymbolEntry *> listed;
        bool copied = false;
        try {
            ExclusiveLock guard(owingLock);
            if (deliveryStopping) return;
            listed = owingSymbols;
            copied = true;
        } catch (...) {
            // No memory for the copy: this round is skipped, the next comes soon.
        }
        // The receiver is looked for at most every kReceiverLookMs.
        const ULONGLONG now = GetTickCount64();
        const bool look = now >= nextReceiverLook;
        if (look) nextReceiverLook = now + kReceiverLookMs;
        Round round;
        round.receiverThere = look && receiverRegistered();
        bool filesOwed = false;
        for (SymbolEntry *entry : listed) {
            // An unload waits for this thread: it stops between two symbols.
            if (deliveryStop) return;
            try {
                filesOwed |= !filesOf(retryOwed(*entry, round)).empty();
            } catch (...) {
            }
        }
        WaitForSingleObject(deliveryWake.get(), !copied || filesOwed ? kFileRetryMs
                                                : listed.empty()     ? INFINITE
                                                                     : kReceiverLookMs);
    }
}

Destinations SignalDispatcher::retryOwed(SymbolEntry &entry, Round &round) {
    SymbolState &state = entry.second;
    // A host call on the symbol relays it itself: looked at again next round.
    if (!state.turn.tryLock()) return filesOf(deliverable());
    struct Turn {
        TicketLock &lock;
        ~Turn() { lock.unlock(); }
    } turn{state.turn};
    const Destinations due = state.quantity ? state.delivery.lacking(deliverable()) : Destinations();
    if (!due.empty()) {
        const std::string quantityText = toText(*state.quantity), priceText = toText(state.price);
        const SignalCall call{entry.first, quantityText, priceText};
        retryOwedFiles(call, state, filesOf(due));
        // The pipe as a host's signal would try it: after the symbol's own
        // pause, and no more this round once a receiver did not take one.
        ReachedCounts reached;
        reached.of[static_cast<int>(Destination::Pipe)] = pipeHealth.reachedCount();
        const bool pipeDue =
            state.delivery.dueAt(Destinations().add(Destination::Pipe), GetTickCount64(), reached)
                .has(Destination::Pipe);
        if (due.has(Destination::Pipe) && round.receiverThere && pipeDue && !round.pipeMissed)
            round.pipeMissed = !retryOwedPipe(call, state);
    }
    const Destinations lacking = state.delivery.lacking(due);
    if (!lacking.empty()) return lacking;
    ExclusiveLock guard(owingLock);
    state.owing = false;
    owingSymbols.erase(std::remove(owingSymbols.begin(), owingSymbols.end(), &entry), owingSymbols.end());
    return lacking;
}

void SignalDispatcher::retryOwedFiles(const SignalCall &call, SymbolState &state, Destinations due) {
    if (due.empty()) return;
    FileStep signalFile(call, Destination::SignalFile, driverName, files, &debugFiles);
    FileStep debugFile(call, Destination::SignalDebugFile, driverName, files, &debugFiles);
    // A try that fails again says nothing new: only the one that gets
    // through is logged, as a resend.
    LogBatch quiet(nullptr);
    Destinations reached;
    for (FileStep *step : {&signalFile, &debugFile}) {
        if (!due.has(step->kind())) continue;
        const RelayOutcome outcome = step->relay(step->message(), quiet);
        state.delivery.record(step->kind(), outcome.reached, GetTickCount64(), false);
        if (outcome.reached) reached.add(step->kind());
    }
    if (!reached.empty()) LogBatch(logMode ? logFile.get() : nullptr).add(resendText(call.symbol, reached));
}

bool SignalDispatcher::retryOwedPipe(const SignalCall &call, SymbolState &state) {
    // A receiver that is down is tried by the host's signals, once a pause.
    PipeStep pipe(call, pipeRelay, pipeHealth);
    pipe.admission = pipeHealth.admit(GetTickCount64());
    if (!pipe.admission.go) return false;
    pipe.admitted = true;
    std::string console;
    {
        LogBatch log(logMode ? logFile.get() : nullptr);
        try {
            log.add(resendText(call.symbol, Destinations().add(Destination::Pipe)));
            relay(pipe, state.delivery, Destinations().add(Destination::Pipe), log, console);
        } catch (...) {
            if (pipe.admitted) pipeHealth.abandon(pipe.admission);
            throw;
        }
    }
    writeConsole(ConsoleStream::Error, console);
    return state.delivery.holds(Destination::Pipe);
}

void SignalDispatcher::logStillOwed() noexcept {
    if (!logMode || !resendMode) return;
    try {
        LogBatch log(logFile.get());
        // No host call runs at an unload: the book is read without its locks.
        for (const SymbolEntry &entry : symbols) {
            const SymbolState &state = entry.second;
            if (!state.quantity) continue;
            const TcpRoute *route = socketClient ? tcpRoute(entry.first) : nullptr;
            const Destinations lacking = state.delivery.lacking(owedBy(route));
            for (int i = 0; i < kDestinationCount; ++i) {
                const auto d = static_cast<Destination>(i);
                if (lacking.has(d))
                    log.add(stillOwedText(
                        entry.first, toText(*state.quantity), toText(state.price),
                        d == Destination::Tcp ? route->label : std::string(destinationName(d))));
            }
        }
    } catch (...) {
        // Out of memory at the unload: the rest of these lines are lost.
    }
}

bool SignalDispatcher::prepareUnload() noexcept {
    {
        ExclusiveLock guard(owingLock);
        deliveryStopping = true;
    }
    deliveryStop = true;
    if (deliveryWake) SetEvent(deliveryWake.get());
    const bool ended = deliveryThread.stop(kDeliveryStopMs, nullptr) != LibraryThread::Ending::Pinned;
    if (ended) logStillOwed();
    socketsStarted.leaveStarted();
    return ended;
}

}  // namespace varnex
