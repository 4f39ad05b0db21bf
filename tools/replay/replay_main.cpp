// varnex-replay: feeds Varnex.dll signals from a CSV file or standard input.
#include <windows.h>

#include <atomic>
#include <fstream>
#include <iostream>
#include <string>

#include "common/system_errors.h"
#include "common/tool_text.h"
#include "common/tool_win.h"
#include "replay/csv_signals.h"

using namespace varnex_tools;

namespace {

constexpr const char *kUsage =
    "usage: varnex-replay [--dll PATH] [--pace MS] [--hold MS] [--register] [FILE | -]  (one "
    "date,symbol,quantity,price "
    "a line)";

std::atomic<long> ordersReceived{0};

void VARNEX_CALL printOrder(const char *text) {
    outLine(localStamp() + "  ORDER " + text);
    ++ordersReceived;
}

int usage(const std::string &problem) {
    errorLine("varnex-replay: " + problem + " (" + kUsage + ")");
    return 2;
}

// Orders reach this process on the library's reader thread; wait until they
// stop coming (a short quiet spell), at most a few seconds.
void awaitOrders() {
    const ULONGLONG deadline = GetTickCount64() + 3000;
    long seen = -1;
    ULONGLONG quietSince = GetTickCount64();
    while (GetTickCount64() < deadline) {
        if (ordersReceived != seen) {
            seen = ordersReceived;
            quietSince = GetTickCount64();
        } else if (GetTickCount64() - quietSince >= 300) {
            return;
        }
        Sleep(10);
    }
}

}  // namespace

int main(int argc, char **argv) {
    std::string dll, file;
    int64_t pace = 0, hold = -1;
    bool registerOrders = false, haveFile = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--dll" && i + 1 < argc) {
            dll = argv[++i];
        } else if (arg == "--pace" && i + 1 < argc) {
            if (!parseInteger(argv[++i], 0, 3600000, pace))
                return usage("--pace needs milliseconds, 0 to 3600000");
        } else if (arg == "--hold" && i + 1 < argc) {
            if (!parseInteger(argv[++i], 0, 3600000, hold))
                return usage("--hold needs milliseconds, 0 to 3600000");
        } else if (arg == "--register") {
            registerOrders = true;
        } else if ((arg == "-" || arg.rfind("--", 0) != 0) && !haveFile) {
            file = arg;
            haveFile = true;
        } else {
            return usage("unknown or incomplete option " + arg);
        }
    }
    std::ifstream opened;
    if (haveFile && file != "-") {
        opened.open(file, std::ios::binary);
        if (!opened) {
            errorLine("varnex-replay: cannot read " + file + " (" + varnex::systemErrorText(GetLastError()) +
                      ")");
            return 1;
        }
    }
    std::istream &input = opened.is_open() ? static_cast<std::istream &>(opened) : std::cin;

    VarnexLibrary varnex;
    std::string error;
    if (!loadVarnex(dll, varnex, error)) {
        errorLine("varnex-replay: " + error);
        return 3;
    }
    outLine("varnex-replay: using " + varnex.path);
    if (registerOrders) varnex.registerOrderFunc(printOrder);

    long lines = 0, badLines = 0, sent = 0, today = 0;
    std::string line;
    while (std::getline(input, line)) {
        ++lines;
        const ParsedLine parsed = parseSignalLine(line, lines == 1);
        if (parsed.kind == LineKind::Skip) continue;
        if (parsed.kind == LineKind::Bad) {
            ++badLines;
            outLine("varnex-replay: line " + std::to_string(lines) + " skipped: " + parsed.error);
            continue;
        }
        SYSTEMTIME now;
        GetLocalTime(&now);
        CsvSignal signal = parsed.signal;
        if (signal.today) signal.year = now.wYear, signal.month = now.wMonth, signal.day = now.wDay;
        if (sent > 0 && pace > 0) Sleep(static_cast<DWORD>(pace));
        varnex.process(signal.year, signal.month, signal.day, signal.symbol.c_str(), signal.quantity,
                       signal.price);
        ++sent;
        if (signal.year == now.wYear && signal.month == now.wMonth && signal.day == now.wDay) ++today;
    }
    if (registerOrders) awaitOrders();
    std::string summary = "varnex-replay: " + std::to_string(lines) + " lines read, " +
                          std::to_string(badLines) + " bad, " + std::to_string(sent) + " signals sent, " +
                          std::to_string(today) + " of them dated today";
    if (registerOrders) summary += ", " + std::to_string(ordersReceived.load()) + " orders received";
    outLine(summary);
    if (hold >= 0) {
        // The library goes on delivering what it owes meanwhile; then it is
        // unloaded as a host unloads it, and logs what is still owed.
        outLine("varnex-replay: holding the library for " + std::to_string(hold) + " ms");
        Sleep(static_cast<DWORD>(hold));
        FreeLibrary(varnex.module);
        outLine("varnex-replay: library unloaded");
    }
    return 0;
}
