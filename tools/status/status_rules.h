// What varnex-status prints for a folder's status files, and its exit code:
// pure, so that every state is tested without a host.
#ifndef VARNEX_TOOLS_STATUS_RULES_H
#define VARNEX_TOOLS_STATUS_RULES_H

#include <optional>
#include <string>
#include <vector>

#include "status/status_report.h"

namespace varnex_tools {

struct FoundStatus {
    std::string file;                            // its name in the folder
    std::optional<varnex::StatusReport> report;  // none when it is no whole report
    bool processRunning = false;                 // a process with the report's id runs now
};

// The listing, one block per file, the running processes first, then a summary line.
std::string statusListing(const std::string &folder, const std::vector<FoundStatus> &found);

// 0 when no running process has a destination down or busy, or a position
// owed; 1 otherwise. Files of processes that are gone or unloaded are shown
// but do not count: nobody delivers what they list any more.
int statusExitCode(const std::vector<FoundStatus> &found);

}  // namespace varnex_tools

#endif
