// The dispatcher's status file: what each destination is doing and what the
// library still owes it, gathered by the peers lane off the host's threads.
#include <windows.h>

#include <algorithm>
#include <map>

#include "api/signal_dispatcher.h"
#include "common/clock.h"
#include "config/varnex_config.h"

namespace varnex {

namespace {

// The destination a position of this kind is owed to, as the status names it.
std::string statusLabel(Destination d, const TcpRoute *route) {
    switch (d) {
        case Destination::Pipe:
            return "order pipe";
        case Destination::Tcp:
            return route->label;
        case Destination::SignalFile:
            return "signal files";
        case Destination::SignalDebugFile:
            return "signal debug files";
    }
    return std::string();
}

DestinationReport healthReport(const std::string &label, const SharedHealth &health, uint64_t now) {
    const SharedHealth::Report h = health.report(now);
    return {label, h.down ? "down" : "up", h.since, h.reason, h.nextTryMs, 0, {}};
}

std::string processPath() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
}

std::string configurationPath() {
    char windows[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows, length < MAX_PATH ? length : 0) + "\\" + kVarnexIniName;
}

}  // namespace

StatusReport SignalDispatcher::describeProcess() {
    StatusReport facts;
    facts.pid = GetCurrentProcessId();
    facts.process = processPath();
    facts.loaded = stampText(localNow());
    facts.config = configurationPath();
    return facts;
}

StatusReport SignalDispatcher::currentStatus(bool unloaded) {
    StatusReport report = processFacts_;
    report.ended = unloaded;
    const uint64_t now = GetTickCount64();
    if (varnexMode_) report.destinations.push_back(healthReport("order pipe", pipeHealth_, now));
    for (const auto &server : serverHealth_)
        report.destinations.push_back(healthReport(server.first, server.second, now));
    if (signalMode_) report.destinations.push_back({"signal files", "up", "", "", -1, 0, {}});
    if (signalMode_ && signalDebugMode_)
        report.destinations.push_back({"signal debug files", "up", "", "", -1, 0, {}});
    addOwed(report, now);
    return report;
}

void SignalDispatcher::addOwed(StatusReport &report, uint64_t now) {
    std::vector<SymbolEntry *> listed;
    {
        ExclusiveLock guard(owingLock_);
        for (const Lane &lane : lanes_) listed.insert(listed.end(), lane.owing.begin(), lane.owing.end());
    }
    std::sort(listed.begin(), listed.end());
    listed.erase(std::unique(listed.begin(), listed.end()), listed.end());
    // Per destination: (changed at, position), to be listed the oldest first.
    std::map<std::string, std::vector<std::pair<uint64_t, OwedPosition>>> owed;
    for (SymbolEntry *entry : listed) {
        SymbolState &state = entry->second;
        // A host call on the symbol right now settles it: the next report has it.
        if (!state.turn.tryLock()) continue;
        TakenTicket turn(state.turn);
        if (!state.quantity) continue;
        const Destinations lacking = state.delivery.lacking(deliverable(state.route));
        for (int i = 0; i < kDestinationCount; ++i) {
            const auto d = static_cast<Destination>(i);
            if (!lacking.has(d)) continue;
            const std::string since = stampText(localTimeAgo(now - state.changedAtMs));
            owed[statusLabel(d, state.route)].push_back(
                {state.changedAtMs, {entry->first, *state.quantity, since}});
        }
    }
    for (DestinationReport &destination : report.destinations) {
        auto found = owed.find(destination.label);
        if (found == owed.end()) continue;
        std::vector<std::pair<uint64_t, OwedPosition>> &positions = found->second;
        std::stable_sort(positions.begin(), positions.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
        destination.owedCount = positions.size();
        for (size_t i = 0; i < positions.size() && i < kListedOwed; ++i)
            destination.owed.push_back(positions[i].second);
        // A file is busy while a reader keeps a position from it.
        if (destination.state == "up" && destination.label.find("signal") == 0) {
            destination.state = "busy";
            destination.since = destination.owed.front().since;
        }
    }
}

void SignalDispatcher::keepStatus() noexcept {
    const ULONGLONG now = GetTickCount64();
    if (!statusFile_ || now < nextStatusMs_) return;
    nextStatusMs_ = now + kStatusMs;
    try {
        StatusReport report = currentStatus(false);
        // Written only when something in it changed.
        report.updated = lastStatus_.updated;
        if (!lastStatus_.updated.empty() && report == lastStatus_) return;
        report.updated = stampText(localNow());
        if (!statusFile_->write(statusText(report))) return;
        lastStatusClear_ = report.clear();
        lastStatus_ = report;
    } catch (...) {
        // No memory for the report: the next one comes in a second.
    }
}

void SignalDispatcher::atProcessExit() noexcept {
    if (statusFile_ && lastStatusClear_) statusFile_->remove();
    // The files lane may have been ended between writing a signal file's new
    // copy and moving it into place: the copy is not left in the folder.
    // driverName is a prefix: the files are in the folder it ends in.
    const std::string folder = driverName_.substr(0, driverName_.find_last_of("\\/") + 1);
    if (const DWORD lane = lanes_[kFilesLane].thread.id())
        DeleteFileA(rewriteTempPath(folder, GetCurrentProcessId(), lane).c_str());
}

void SignalDispatcher::endStatus() noexcept {
    if (!statusFile_) return;
    try {
        StatusReport report = currentStatus(true);
        // What was still owed at the unload stays readable; else nothing is left.
        if (report.clear()) {
            statusFile_->remove();
            return;
        }
        report.updated = stampText(localNow());
        statusFile_->write(statusText(report));
    } catch (...) {
        statusFile_->remove();
    }
}

}  // namespace varnex
