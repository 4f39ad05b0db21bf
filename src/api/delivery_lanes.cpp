// The dispatcher's delivery lanes: the two library threads that deliver the
// positions it owes, and what the unload does with them.
#include <algorithm>
#include <memory>
#include <new>

#include "api/destination_steps.h"
#include "api/signal_dispatcher.h"
#include "api/signal_texts.h"
#include "console/console.h"
#include "pipe/pipe_names.h"
#include "text/number_text.h"

namespace varnex {

namespace {

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
    if (!state.quantity) return;
    const Destinations lacking = state.delivery.lacking(deliverable(state.route));
    for (const LaneIndex index : {kFilesLane, kPeersLane}) {
        Lane &lane = lanes_[index];
        if (state.owing[index] || lacking.within(lane.kinds).empty()) continue;
        if (!startLane(lane)) continue;  // no thread: the host's next signal tries again
        try {
            ExclusiveLock guard(owingLock_);
            if (deliveryStopping_) return;
            lane.owing.push_back(&entry);
            state.owing[index] = true;
        } catch (...) {
            continue;
        }
        SetEvent(lane.wake.get());
    }
}

// A lane's thread works on the dispatcher, which owns the lane: its task
// only points at it and owns nothing. So the dispatcher's own fate at the
// unload is its owner's, not the task's: releaseDispatcher leaves a
// dispatcher whose lane was pinned, whose thread still reads it.
struct SignalDispatcher::LaneTask final : LibraryThread::Task {
    LaneTask(SignalDispatcher &d, LaneIndex i) : dispatcher(d), index(i) {}
    SignalDispatcher &dispatcher;
    const LaneIndex index;

    void run() noexcept override { dispatcher.deliverOwed(index); }
};

bool SignalDispatcher::startLane(Lane &lane) noexcept {
    ExclusiveLock guard(startLock_);
    if (lane.thread.started()) return true;
    if (!deliveryStop_) return false;
    lane.wake.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!lane.wake) return false;
    std::unique_ptr<LaneTask> task(
        new (std::nothrow) LaneTask(*this, &lane == &lanes_[kFilesLane] ? kFilesLane : kPeersLane));
    if (!task || !lane.thread.start(std::move(task))) return false;
    // Confirmed, so that an unload right after finds it where it can be ended.
    lane.thread.confirmStarted(1000);
    return true;
}

void SignalDispatcher::deliverOwed(LaneIndex index) noexcept {
    Lane &lane = lanes_[index];
    ULONGLONG nextReceiverLook = 0;
    for (;;) {
        std::vector<SymbolEntry *> listed;
        bool copied = false;
        try {
            ExclusiveLock guard(owingLock_);
            if (deliveryStopping_) return;
            listed = lane.owing;
            copied = true;
        } catch (...) {
            // No memory for the copy: this round is skipped, the next comes soon.
        }
        Round round;
        if (index == kPeersLane) {
            // The receiver is looked for at most every kReceiverLookMs.
            const ULONGLONG now = GetTickCount64();
            if (now >= nextReceiverLook) {
                nextReceiverLook = now + kReceiverLookMs;
                round.receiverThere = receiverRegistered();
            }
        }
        bool again = false;
        for (SymbolEntry *entry : listed) {
            // An unload waits for this thread: it stops between two symbols.
            if (stopRequested()) return;
            try {
                if (index == kFilesLane)
                    retryOwedFiles(*entry);
                else
                    again |= retryOwedPeer(*entry, round);
            } catch (...) {
            }
        }
        DWORD pause = again ? 0 : !copied || !listed.empty() ? lane.busyMs : INFINITE;
        if (index == kPeersLane && statusFile_) {
            keepStatus();
            pause = pause < kStatusMs ? pause : kStatusMs;
        }
        const HANDLE waits[] = {lane.wake.get(), deliveryStop_.get()};
        WaitForMultipleObjects(2, waits, FALSE, pause);
    }
}

void SignalDispatcher::unlist(LaneIndex index, SymbolEntry &entry) {
    ExclusiveLock guard(owingLock_);
    entry.second.owing[index] = false;
    std::vector<SymbolEntry *> &owing = lanes_[index].owing;
    owing.erase(std::remove(owing.begin(), owing.end(), &entry), owing.end());
}

bool SignalDispatcher::retryOwedFiles(SymbolEntry &entry) {
    SymbolState &state = entry.second;
    // A host call on the symbol relays it itself: looked at again next round.
    if (!state.turn.tryLock()) return true;
    TakenTicket turn(state.turn);
    const Destinations due =
        state.quantity ? state.delivery.lacking(deliverable(state.route)).within(lanes_[kFilesLane].kinds)
                       : Destinations();
    if (!due.empty()) {
        const std::string quantityText = toText(*state.quantity), priceText = toText(state.price);
        const SignalCall call{entry.first, quantityText, priceText};
        FileStep signalFile(call, Destination::SignalFile, driverName_, files_, &debugFiles_);
        FileStep debugFile(call, Destination::SignalDebugFile, driverName_, files_, &debugFiles_);
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
        if (!reached.empty())
            LogBatch(logMode_ ? logFile_.get() : nullptr).add(resendText(call.symbol, reached));
    }
    if (!state.delivery.lacking(due).empty()) return true;
    unlist(kFilesLane, entry);
    return false;
}

bool SignalDispatcher::choosePeer(SymbolEntry &entry, const Round &round, PeerTry &chosen) {
    SymbolState &state = entry.second;
    const Destinations due =
        state.quantity ? state.delivery.lacking(deliverable(state.route)).within(lanes_[kPeersLane].kinds)
                       : Destinations();
    if (due.empty()) {
        unlist(kPeersLane, entry);
        return false;
    }
    const uint64_t now = GetTickCount64();
    for (const Destination d : {Destination::Pipe, Destination::Tcp}) {
        if (!due.has(d)) continue;
        // The pipe only while a receiver holds its claim, and no more this
        // round once a receiver took nothing.
        if (d == Destination::Pipe && (!round.receiverThere || round.pipeMissed)) continue;
        SharedHealth *health = d == Destination::Pipe ? &pipeHealth_ : state.route->health;
        ReachedCounts reached;
        reached.of[static_cast<int>(d)] = health->reachedCount();
        // After the symbol's own pause, as a host's signal would try it.
        if (!state.delivery.dueAt(Destinations().add(d), now, reached).has(d)) continue;
        chosen.admission = health->admit(now, true);
        if (!chosen.admission.go) continue;
        chosen.kind = d;
        chosen.health = health;
        chosen.quantity = *state.quantity;
        chosen.price = state.price;
        state.delivery.beginDelivery(d);
        return true;
    }
    return false;
}

RelayOutcome SignalDispatcher::tryPeer(SymbolEntry &entry, const PeerTry &chosen, std::string &console) {
    const std::string quantityText = toText(chosen.quantity), priceText = toText(chosen.price);
    const SignalCall call{entry.first, quantityText, priceText};
    PipeStep pipe(call, pipeRelay_, pipeHealth_);
    TcpStep tcp(call, entry.second.route, deliveryStop_.get());
    DestinationStep &step = chosen.kind == Destination::Pipe ? static_cast<DestinationStep &>(pipe) : tcp;
    LogBatch log(logMode_ ? logFile_.get() : nullptr);
    log.add(resendText(call.symbol, Destinations().add(chosen.kind)));
    RelayOutcome outcome = step.relay(step.message(), log);
    for (const std::string &text : outcome.log) log.add(text);
    // A try the unload cut short found nothing out about the destination.
    if (!outcome.reached && stopRequested()) {
        chosen.health->abandon(chosen.admission);
        return outcome;
    }
    const std::string change =
        chosen.health->settle(chosen.admission, outcome, GetTickCount64(), step.label());
    console = !change.empty() && !outcome.reached ? change : outcome.console + change;
    return outcome;
}

bool SignalDispatcher::retryOwedPeer(SymbolEntry &entry, Round &round) {
    SymbolState &state = entry.second;
    if (!state.turn.tryLock()) return false;
    // What is sent is taken under the turn; the try itself runs without it,
    // so that no host call on the symbol waits on a destination's time-out.
    PeerTry chosen;
    {
        TakenTicket turn(state.turn);
        if (!choosePeer(entry, round, chosen)) return false;
    }
    RelayOutcome outcome;
    std::string console;
    bool tried = false;
    try {
        outcome = tryPeer(entry, chosen, console);
        tried = true;
    } catch (...) {
        // Out of memory before the health was settled: given back untried.
        chosen.health->abandon(chosen.admission);
    }
    {
        TicketGuard turn(state.turn);
        state.delivery.endDelivery(chosen.kind);
        // A newer position came meanwhile: it is owed, and goes next.
        if (tried && state.quantity == chosen.quantity)
            state.delivery.record(chosen.kind, outcome.reached, GetTickCount64(), !outcome.down,
                                  chosen.health->reachedCount());
    }
    if (chosen.kind == Destination::Pipe && !outcome.reached) round.pipeMissed = true;
    writeConsole(ConsoleStream::Error, console);
    return true;
}

void SignalDispatcher::logStillOwed() noexcept {
    if (!logMode_ || !resendMode_) return;
    try {
        LogBatch log(logFile_.get());
        // No host call runs at an unload: the book is read without its locks.
        for (const SymbolEntry &entry : symbols_) {
            const SymbolState &state = entry.second;
            if (!state.quantity) continue;
            const Destinations lacking = state.delivery.lacking(owedBy(state.route));
            for (int i = 0; i < kDestinationCount; ++i) {
                const auto d = static_cast<Destination>(i);
                if (lacking.has(d))
                    log.add(stillOwedText(
                        entry.first, toText(*state.quantity), toText(state.price),
                        d == Destination::Tcp ? state.route->label : std::string(destinationName(d))));
            }
        }
    } catch (...) {
        // Out of memory at the unload: the rest of these lines are lost.
    }
}

bool SignalDispatcher::prepareUnload() noexcept {
    {
        ExclusiveLock guard(owingLock_);
        deliveryStopping_ = true;
    }
    if (deliveryStop_) SetEvent(deliveryStop_.get());
    bool ended = true;
    for (Lane &lane : lanes_)
        ended &= lane.thread.stop(kDeliveryStopMs, nullptr) != LibraryThread::Ending::Pinned;
    if (ended) {
        logStillOwed();
        endStatus();
    } else {
        // This dispatcher stays for good, with the lane held somewhere: its
        // connection must not keep the receiver from the next load's relays.
        pipeRelay_.retire();
    }
    socketsStarted_.leaveStarted();
    return ended;
}

}  // namespace varnex
