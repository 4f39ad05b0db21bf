#include "status/status_rules.h"

#include <algorithm>

namespace varnex_tools {

namespace {

using varnex::DestinationReport;
using varnex::StatusReport;

bool live(const FoundStatus &f) { return f.report && !f.report->ended && f.processRunning; }

std::string plural(size_t n, const std::string &one, const std::string &many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string padded(const std::string &text, size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string destinationLine(const DestinationReport &d) {
    std::string line = "  " + padded(d.label, 28) + d.state;
    if (!d.since.empty()) line += " since " + d.since;
    if (d.state == "down" && !d.reason.empty()) line += " (" + d.reason + ")";
    if (d.state == "down" && d.nextTryMs == 0) line += "; being tried now";
    if (d.state == "down" && d.nextTryMs > 0)
        line += "; next try in " + std::to_string((d.nextTryMs + 999) / 1000) + " s";
    if (d.owedCount > 0) line += "; " + plural(d.owedCount, "position", "positions") + " owed";
    return line + "\n";
}

std::string block(const FoundStatus &f) {
    if (!f.report) return f.file + ": not a whole status file (being written, or not the library's)\n";
    const StatusReport &r = *f.report;
    std::string text = "process " + std::to_string(r.pid) + " " + r.process + ": ";
    if (r.ended)
        text += "unloaded the library at " + r.updated + "; still owed then:";
    else if (!f.processRunning)
        text += "gone: it ended without unloading the library; its last status (" + r.updated + "):";
    else
        text += "running; loaded " + r.loaded + " with " + r.config + "; updated " + r.updated;
    text += "\n";
    for (const DestinationReport &d : r.destinations) {
        text += destinationLine(d);
        for (const varnex::OwedPosition &p : d.owed)
            text += "      " + padded(p.symbol, 12) + padded(std::to_string(p.quantity), 8) + "since " +
                    p.since + "\n";
        if (d.owedCount > d.owed.size())
            text += "      ... and " + std::to_string(d.owedCount - d.owed.size()) + " more\n";
    }
    return text;
}

}  // namespace

std::string statusListing(const std::string &folder, const std::vector<FoundStatus> &found) {
    std::string text = "Varnex status files in " + folder + "\n";
    if (found.empty())
        return text + "  none: no host process with statusMode on has the library loaded here\n";
    std::vector<const FoundStatus *> order;
    for (const FoundStatus &f : found) order.push_back(&f);
    std::stable_sort(order.begin(), order.end(),
                     [](const FoundStatus *a, const FoundStatus *b) { return live(*a) && !live(*b); });
    size_t running = 0, down = 0, owed = 0;
    for (const FoundStatus *f : order) {
        text += "\n" + block(*f);
        if (!live(*f)) continue;
        ++running;
        for (const DestinationReport &d : f->report->destinations) {
            down += d.state != "up";
            owed += d.owedCount;
        }
    }
    return text + "\n" + plural(running, "running process", "running processes") + ": " +
           plural(down, "destination", "destinations") + " down or busy, " +
           plural(owed, "position", "positions") + " owed\n";
}

int statusExitCode(const std::vector<FoundStatus> &found) {
    for (const FoundStatus &f : found)
        if (live(f) && !f.report->clear()) return 1;
    return 0;
}

}  // namespace varnex_tools
