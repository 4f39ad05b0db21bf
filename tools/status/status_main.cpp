// varnex-status: what each host process with the library loaded owes right
// now, read from the status files in the driverName folder, without loading
// the library. Exit code 0 when nothing is down, busy or owed, so that a
// script can alert on it.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "common/handles.h"
#include "common/tool_win.h"
#include "config/settings_file.h"
#include "config/varnex_config.h"
#include "status/status_rules.h"

using namespace varnex_tools;

namespace {

int usage(const std::string &why) {
    errorLine("varnex-status: " + why);
    errorLine("usage: varnex-status [--watch] [FOLDER]");
    errorLine("  FOLDER: where the status files are; default: driverName of Varnex.ini");
    errorLine("  --watch: show it again every second, until Ctrl+C");
    return 2;
}

// Read with every sharing, so that the library's replace is never refused.
std::optional<std::string> readShared(const std::string &path) {
    varnex::UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    return text;
}

bool processRunning(uint32_t pid) {
    varnex::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    DWORD code = 0;
    return process && GetExitCodeProcess(process.get(), &code) && code == STILL_ACTIVE;
}

std::vector<FoundStatus> statusFiles(const std::string &folder) {
    std::vector<FoundStatus> found;
    WIN32_FIND_DATAA entry;
    varnex::UniqueFindHandle search(FindFirstFileA((folder + "Varnex-*.status").c_str(), &entry));
    if (!search) return found;
    do {
        const std::optional<uint32_t> pid = varnex::statusFilePid(entry.cFileName);
        if (!pid) continue;
        FoundStatus status;
        status.file = entry.cFileName;
        // Replaced between the listing and the read: read again once.
        for (int attempt = 0; attempt < 2 && !status.report; ++attempt) {
            const std::optional<std::string> text = readShared(folder + entry.cFileName);
            if (text) status.report = varnex::parseStatus(*text);
        }
        status.processRunning = processRunning(status.report ? status.report->pid : *pid);
        found.push_back(status);
    } while (FindNextFileA(search.get(), &entry));
    return found;
}

}  // namespace

int main(int argc, char **argv) {
    bool watch = false;
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--watch")
            watch = true;
        else if (!arg.empty() && arg[0] != '-' && folder.empty())
            folder = arg;
        else
            return usage("unknown option " + arg);
    }
    if (folder.empty()) {
        const std::optional<varnex::VarnexConfig> config =
            varnex::readVarnexConfig(varnex::SettingsFile(varnex::kVarnexIniName));
        if (!config) return usage("out of memory while reading Varnex.ini");
        folder = config->driverName.value;
    }
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        errorLine("varnex-status: no folder " + folder);
        return 2;
    }
    catchStopSignals();
    std::string shown;
    for (;;) {
        const std::vector<FoundStatus> found = statusFiles(folder);
        const std::string listing = statusListing(folder, found);
        if (listing != shown) {
            if (watch) outLine("== " + localStamp());
            outLine(listing);
            shown = listing;
        }
        if (!watch || WaitForSingleObject(stopEvent(), 1000) == WAIT_OBJECT_0) return statusExitCode(found);
    }
}
