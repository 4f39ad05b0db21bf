// _process for changed signals with the log and signal files on, next to the
// file work that it must do anyway (two log appends and one signal-file
// rewrite, each opened and closed), timed in the same run and interleaved.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "varnex.h"

namespace {

void appendLine(const std::string &path, const char *mode, const char *text) {
    char stamp[80];
    std::time_t now = std::time(nullptr);
    std::strftime(stamp, sizeof stamp, "%Y/%m/%d %X", std::localtime(&now));
    if (std::FILE *file = std::fopen(path.c_str(), mode)) {
        std::fprintf(file, "%s\t%s\n", stamp, text);
        std::fclose(file);
    }
}

}  // namespace

int main() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "varnex_bench\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string ini = std::string(windows) + "\\Varnex.ini";
    WritePrivateProfileStringA("Setting", "driverName", folder.c_str(), ini.c_str());
    WritePrivateProfileStringA("Setting", "logMode", "True", ini.c_str());

    HMODULE dll = LoadLibraryA("Varnex.dll");
    if (!dll) return 2;
    auto process = reinterpret_cast<VarnexProcessFn>(GetProcAddress(dll, "_process"));
    auto initial = reinterpret_cast<VarnexInitialFn>(GetProcAddress(dll, "_initial"));
    initial();
    DeleteFileA(ini.c_str());

    std::time_t now = std::time(nullptr);
    const std::tm today = *std::localtime(&now);
    constexpr int kRounds = 7, kSignals = 300;
    std::vector<double> library, byHand;
    int quantity = 0;
    for (int round = 0; round < kRounds; ++round) {
        double start = nowMicros();
        for (int i = 0; i < kSignals; ++i)
            process(today.tm_year + 1900, today.tm_mon + 1, today.tm_mday, "BENCH", ++quantity, 101.25 + i);
        library.push_back((nowMicros() - start) / kSignals);

        start = nowMicros();
        for (int i = 0; i < kSignals; ++i) {
            appendLine(folder + "HandMsg.txt", "a", "BENCH: 1,101.25");
            appendLine(folder + "HandMsg.txt", "a", "BENCH qty=\t1 preQty=\t0");
            appendLine(folder + "HAND.txt", "w", "1 101.25");
        }
        byHand.push_back((nowMicros() - start) / kSignals);
    }
    const double ours = median(library), hand = median(byHand);
    std::printf("process_bench: %d rounds of %d changed signals (log and signal file on)\n", kRounds, kSignals);
    std::printf("  _process per signal:            %8.1f us (median of rounds)\n", ours);
    std::printf("  same file operations by hand:   %8.1f us\n", hand);
    std::printf("  ratio library / by hand:        %8.3f (goal: at most 1.10)\n", ours / hand);
    for (const char *name : {"VarnexMsg.txt", "BENCH.txt", "HandMsg.txt", "HAND.txt"}) DeleteFileA((folder + name).c_str());
    RemoveDirectoryA(folder.c_str());
    return 0;
}
