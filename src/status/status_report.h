// What a host process's library owes right now, as a file another program
// can read without loading the library: each destination's state and the
// positions still owed to it. The delivery thread renders it; varnex-status
// parses it. Line-based, tab-separated, with a last "end" line, so that a
// reader can tell a whole report from a cut one. Pure.
#ifndef VARNEX_STATUS_STATUS_REPORT_H
#define VARNEX_STATUS_STATUS_REPORT_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnex {

// At most this many owed positions are listed per destination, the oldest
// first; the count says how many there are in all.
constexpr size_t kListedOwed = 20;

struct OwedPosition {
    std::string symbol;
    int32_t quantity = 0;
    std::string since;  // stamp of the change that made it owed
};

struct DestinationReport {
    std::string label;       // as the log names it: "tcp://host:port", "order pipe", "signal files"
    std::string state;       // "up", "down" or "busy"
    std::string since;       // stamp it went down or busy; empty while up
    std::string reason;      // why the last try failed; empty when none did
    int64_t nextTryMs = -1;  // until the library's next try; -1 for none planned
    size_t owedCount = 0;
    std::vector<OwedPosition> owed;  // the oldest first, at most kListedOwed

    bool operator==(const DestinationReport &other) const;
};

struct StatusReport {
    uint32_t pid = 0;
    std::string process;  // the host's executable
    std::string loaded;   // stamp
    std::string config;   // the configuration file
    std::string updated;  // stamp of this report
    bool ended = false;   // written at the unload: nobody delivers what it lists
    std::vector<DestinationReport> destinations;

    // Nothing down or busy, and nothing owed.
    bool clear() const;
    bool operator==(const StatusReport &other) const;
};

std::string statusText(const StatusReport &report);
// None for anything but a whole report of this format (cut short, garbled).
std::optional<StatusReport> parseStatus(const std::string &text);

// "Varnex-1234.status": never taken for a symbol's "*.txt" signal file.
std::string statusFileName(uint32_t pid);
// The pid of a status file's name, or none for another file.
std::optional<uint32_t> statusFilePid(const std::string &name);

}  // namespace varnex

#endif
