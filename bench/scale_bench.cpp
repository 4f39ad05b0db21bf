// Cost of _process per changed signal as the position book grows (one
// process, the book grown in place between sizes), and the private bytes the
// book takes per symbol.
//   scale_bench.exe        every switch off: the cost is the pipeline and the book
//   scale_bench.exe log    the log on as well, smaller sizes (each new symbol
//                          costs two log appends, so 100,000 would take half a minute)
#include <windows.h>
// psapi.h needs the types of windows.h first.
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_report.h"

namespace {

// Windows fills PrivateUsage and PagefileUsage with the same commit charge;
// Wine 8 leaves PrivateUsage at 0, so the other stands in for it there.
bool privateUsageFilled = true;

SIZE_T privateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&counters),
                         sizeof counters);
    if (counters.PrivateUsage) return counters.PrivateUsage;
    privateUsageFilled = false;
    return counters.PagefileUsage;
}

}  // namespace

int main(int argc, char **argv) {
    const bool withLog = argc > 1 && std::string(argv[1]) == "log";
    const std::vector<int> sizes =
        withLog ? std::vector<int>{1, 1000, 10000} : std::vector<int>{1, 1000, 10000, 100000};
    const int maxSize = sizes.back();
    const int rounds = withLog ? 5 : 7, signals = withLog ? 100 : 2000;
    const std::string folder = benchFolder("varnex_scale_bench");

    // Names and the order in which they are picked are made before anything
    // is measured, so that neither the timing nor the memory figure holds them.
    std::vector<std::string> names(maxSize);
    char name[16];
    for (int i = 0; i < maxSize; ++i) {
        std::snprintf(name, sizeof name, "SYM%06d", i);
        names[i] = name;
    }
    std::vector<unsigned> picks(static_cast<size_t>(rounds) * signals);
    unsigned seed = 12345;
    for (unsigned &p : picks) p = (seed = seed * 1103515245u + 12345u) >> 8;

    Varnex varnex;
    {
        BenchIni ini;
        ini.set("Setting", "driverName", folder);
        ini.set("Setting", "signalMode", "False");
        ini.set("Setting", "logMode", withLog ? "True" : "False");
        varnex = loadVarnex();
    }
    const Today day = today();
    int quantity = 0, grown = 0;
    auto signal = [&](int index) {
        varnex.process(day.year, day.month, day.day, names[index].c_str(), ++quantity, 101.25);
    };
    signal(grown++);
    const SIZE_T baseBytes = privateBytes();

    const char *series = withLog ? "scale_log" : "scale";
    std::vector<Spread> costs;
    for (int size : sizes) {
        while (grown < size) signal(grown++);
        std::vector<double> perSignal;
        for (int round = 0; round < rounds; ++round) {
            const unsigned *pick = &picks[static_cast<size_t>(round) * signals];
            const double start = nowMicros();
            for (int i = 0; i < signals; ++i) signal(static_cast<int>(pick[i] % static_cast<unsigned>(size)));
            perSignal.push_back((nowMicros() - start) / signals);
        }
        costs.push_back(spreadOf(perSignal));
        reportPoint(series, size, costs.back());
    }
    const SIZE_T grownBytes = privateBytes();

    std::printf(
        "scale_bench: %s, %d rounds of %d changed signals on symbols picked at random from the book\n",
        withLog ? "log on" : "every switch off", rounds, signals);
    const std::string top = std::to_string(maxSize);
    if (withLog) {
        reportRow("scale_log", ("scale, log on: per changed signal at " + top + " symbols").c_str(), "us",
                  costs.back(), "same at 1 symbol", costs.front(), "ratio<=1.2");
    } else {
        reportRow("scale", ("scale: per changed signal at " + top + " symbols").c_str(), "us", costs.back(),
                  "same at 1 symbol", costs.front(), "ratio<=1.2");
        const double perSymbol = static_cast<double>(grownBytes - baseBytes) / (maxSize - 1);
        reportRow("memory", ("memory: private bytes per symbol after " + top).c_str(), "bytes",
                  Spread{perSymbol, perSymbol, perSymbol}, "-");
        reportNote("memory",
                   std::string(privateUsageFilled ? "PrivateUsage"
                                                  : "PagefileUsage (PrivateUsage reads 0 under Wine; on "
                                                    "Windows both are the commit charge)") +
                       " from GetProcessMemoryInfo after " + top + " symbols minus after 1, divided by " +
                       std::to_string(maxSize - 1) +
                       "; symbols are 9 characters (SYM000000). Private bytes "
                       "at " +
                       top + " symbols: " + std::to_string(grownBytes / 1024) + " KiB.");
    }
    reportNote(series,
               std::string("One process; the book grows in place between sizes (each new symbol is one "
                           "_process call). ") +
                   (withLog ? "logMode on, everything else off."
                            : "Every switch off (signalMode, logMode, "
                              "varnexMode, socketClient), so a signal "
                              "costs the date gate, number rendering "
                              "and the book.") +
                   " Symbols picked with a fixed pseudo-random sequence over the whole book.");
    DeleteFileA((folder + "VarnexMsg.txt").c_str());
    RemoveDirectoryA(folder.c_str());
    return 0;
}
