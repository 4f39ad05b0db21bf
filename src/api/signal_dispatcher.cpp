#include "api/signal_dispatcher.h"

#include <optional>
#include <utility>

#include "api/destination_steps.h"
#include "api/endpoint_table.h"
#include "api/signal_texts.h"
#include "common/clock.h"
#include "common/counts.h"
#include "common/locks.h"
#include "common/system_errors.h"
#include "config/settings_file.h"
#include "config/varnex_config.h"
#include "console/console.h"
#include "output/file_names.h"
#include "output/line_files.h"
#include "pipe/pipe_names.h"
#include "pipe/pipe_texts.h"
#include "text/number_text.h"

namespace varnex {

SignalDispatcher::SignalDispatcher()
    : pipeRelay_(kOrderPipeBaseName),
      initialised_(false),
      varnexMode_(false),
      signalMode_(false),
      signalDebugMode_(false),
      socketClient_(false),
      logMode_(false),
      resendMode_(false) {
    pipeBaseName_ = kOrderPipeBaseName;
    lanes_[kFilesLane].kinds.add(Destination::SignalFile).add(Destination::SignalDebugFile);
    lanes_[kFilesLane].busyMs = kFileRetryMs;
    lanes_[kPeersLane].kinds.add(Destination::Pipe).add(Destination::Tcp);
    lanes_[kPeersLane].busyMs = kPeerLookMs;
    deliveryStop_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    readConfiguration();
    // The status is kept from the start, also while nothing is owed.
    if (statusFile_) startLane(lanes_[kPeersLane]);
}

void SignalDispatcher::initial() noexcept {
    // Nothing left to do: a dispatcher is only made once its configuration
    // was read (configured()), so the host's _initial finds it read.
}

bool SignalDispatcher::readConfiguration() noexcept {
    if (initialised_) return true;
    const std::optional<VarnexConfig> read = readVarnexConfig(SettingsFile(kVarnexIniName));
    if (!read) return false;
    const VarnexConfig &config = *read;
    try {
        takeConfiguration(config);
    } catch (...) {
        return false;
    }
    initialised_ = true;
    return true;
}

void SignalDispatcher::takeConfiguration(const VarnexConfig &config) {
    resendMode_ = config.resendMode.on;
    statusMode_ = config.statusMode.on;
    processFacts_ = describeProcess();
    // While positions are kept owed, the delivery threads alone try a
    // destination that is down; without, the host's relays find out.
    const RetryRule rule = resendMode_ ? kLibraryTries : kHostTries;
    pipeHealth_.setRule(rule);
    driverName_ = config.driverName.value;
    varnexMode_ = config.varnexMode.on;
    signalMode_ = config.signalMode.on;
    // Every file name is known, also those whose switch is off: no symbol's
    // file may take any of them, whichever switches are on.
    files_ = LibraryFiles{config.signalFile.value, config.signalDebugFile.value, config.logFile.value};
    signalDebugMode_ = config.signalDebugMode.on;
    socketClient_ = config.socketClient.on;
    if (socketClient_) {
        endpoints_ = endpointTable(config.endpoints);
        for (const auto &entry : endpoints_) {
            const ClientEndpoint &endpoint = entry.second;
            std::string label = serverLabel(endpoint);
            SharedHealth *health = &serverHealth_[label];
            health->setRule(rule);
            tcpRoutes_.emplace(entry.first, TcpRoute{&endpoint, health, std::move(label)});
        }
        socketsStarted_.acquire();
    }
    logMode_ = config.logMode.on;
    if (logMode_) {
        logFile_.reset(new LogFile(driverName_, files_.logFile,
                                   logRotationOf(config.logRotate.value) == LogRotation::Daily,
                                   config.logKeepDays.value));
        // Said once per load: what the file asks for that the library does otherwise.
        for (const std::string &note : valuesNotTakenAsWritten(config)) logFile_->append(note);
    }
    // Only into a folder that is there: a driverName left empty or wrong
    // must not put a file where nobody asked for one.
    const DWORD folder = GetFileAttributesA(driverName_.c_str());
    if (statusMode_ && !driverName_.empty() && folder != INVALID_FILE_ATTRIBUTES &&
        (folder & FILE_ATTRIBUTE_DIRECTORY))
        statusFile_.reset(new StatusFile(driverName_, GetCurrentProcessId()));
}

void SignalDispatcher::registerOrderFunc(OrderCallback callback) noexcept {
    try {
        bool ok;
        {
            ExclusiveLock guard(registerLock_);
            pipeReceiver_.configure(pipeBaseName_, ".");
            ok = pipeReceiver_.open("QUIT", callback);
        }
        writeLog(registrationText(reinterpret_cast<uintptr_t>(&pipeReceiver_), ok).c_str());
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
        LogBatch log(logMode_ ? logFile_.get() : nullptr);
        runPipeline(state, key, quantity, price, log, console);
        queueOwed(entry);
    } catch (...) {
        // Out of memory part-way: the signal is dropped rather than crash the host.
    }
    writeConsole(ConsoleStream::Error, console);
}

SignalDispatcher::SymbolEntry &SignalDispatcher::symbolEntry(const std::string &symbol) {
    {
        SharedLock guard(symbolsLock_);
        const auto found = symbols_.find(symbol);
        if (found != symbols_.end()) return *found;
    }
    ExclusiveLock guard(symbolsLock_);
    const auto made = symbols_.try_emplace(symbol);
    if (made.second && socketClient_) made.first->second.route = tcpRoute(symbol);
    return *made.first;
}

const TcpRoute *SignalDispatcher::tcpRoute(const std::string &symbol) const {
    const auto found = tcpRoutes_.find(symbol);
    return found == tcpRoutes_.end() ? nullptr : &found->second;
}

Destinations SignalDispatcher::owedBy(const TcpRoute *route) const {
    Destinations owed;
    if (varnexMode_) owed.add(Destination::Pipe);
    // A symbol without a server has no TCP destination to make good, nor
    // has one whose server's port can take no connection: its relays say so
    // with each change, and nothing is kept owed that could never arrive.
    if (route && isTcpPort(route->endpoint->port)) owed.add(Destination::Tcp);
    if (signalMode_) owed.add(Destination::SignalFile);
    if (signalMode_ && signalDebugMode_) owed.add(Destination::SignalDebugFile);
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
void admit(Steps &steps, Destinations due, bool unchanged, uint64_t now, const DeliveryState &delivery,
           Destinations &go, Destinations &skipped) {
    for (DestinationStep *step : steps) {
        if (!due.has(step->kind())) continue;
        SharedHealth *health = step->health();
        // The library is taking an earlier position of this symbol there:
        // this one waits its turn, owed, rather than overtake it.
        step->handedOver = delivery.delivering(step->kind());
        if (step->handedOver) {
            if (!unchanged) skipped.add(step->kind());
            continue;
        }
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
    const std::string why = step.handedOver ? kEarlierPositionBeingDelivered
                                            : health.skippedText(step.downWord(), step.admission);
    report(step.skipped(step.message(), why), log, console);
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
    if (unchanged && !resendMode_) return;
    if (!unchanged) state.price = price;
    const TcpRoute *route = state.route;
    const SignalCall call{symbol, quantityText, priceText};
    PipeStep pipe(call, pipeRelay_, pipeHealth_);
    TcpStep tcp(call, route);
    FileStep signalFile(call, Destination::SignalFile, driverName_, files_, &debugFiles_);
    FileStep debugFile(call, Destination::SignalDebugFile, driverName_, files_, &debugFiles_);
    Steps steps = {&pipe, &tcp, &signalFile, &debugFile};
    const Destinations owed = owedBy(route);
    const uint64_t now = GetTickCount64();
    Destinations due = owed;
    if (!unchanged) {
        state.changedAtMs = now;
        // A symbol that owes no destination anything never needs its delivery state.
        if (!owed.empty()) state.delivery.positionChanged();
        // A changed position runs the TCP step for every symbol, which logs
        // an empty text for one without a server.
        if (socketClient_) due.add(Destination::Tcp);
    } else {
        due = state.delivery.dueAt(owed, now, reachedCounts(steps));
    }
    AdmissionsGuard guard(steps);
    Destinations go, skipped;
    admit(steps, due, unchanged, now, state.delivery, go, skipped);
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
    if (!logMode_ || !text) return;
    try {
        logFile_->append(std::string(text));
    } catch (...) {
    }
}

Destinations SignalDispatcher::deliverable(const TcpRoute *route) const {
    return resendMode_ ? owedBy(route) : Destinations();
}

}  // namespace varnex
