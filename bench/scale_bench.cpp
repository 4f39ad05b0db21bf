// Cost of _process per changed signal as the position book grows, and the
// private bytes the book takes per symbol. Each size is measured in a fresh
// process that grows its book to that size, and the sizes take turns over
// several passes, so that a busy spell on the machine does not fall on one
// size alone.
//   scale_bench.exe                  every switch off: the cost is the pipeline and the book
//   scale_bench.exe log              the log on as well, up to 10,000 symbols (each new
//                                    symbol costs two log appends)
//   scale_bench.exe size N LOG FILE  (started by the above) one size, rounds to FILE
#include <windows.h>
// psapi.h needs the types of windows.h first.
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
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

struct Name {
    char text[16];
};

int roundsFor(bool withLog) { return withLog ? 5 : 7; }
int signalsFor(bool withLog) { return withLog ? 100 : 1000; }

// One size in this process: grow the book, warm up, measure; the rounds and
// the memory figure go to `file`.
int measureSize(int size, bool withLog, const char *file) {
    const int rounds = roundsFor(withLog), signals = signalsFor(withLog);
    const std::string folder = benchFolder("varnex_scale_bench");
    // Names and picks are made before anything is measured, so that neither
    // the timing nor the memory figure holds them.
    std::vector<Name> names(size);
    for (int i = 0; i < size; ++i) std::snprintf(names[i].text, sizeof names[i].text, "SYM%06d", i);
    std::vector<unsigned> picks(static_cast<size_t>(rounds) * signals);
    unsigned seed = 12345;
    for (unsigned &p : picks) p = ((seed = seed * 1103515245u + 12345u) >> 8) % static_cast<unsigned>(size);

    Varnex varnex;
    {
        BenchIni ini;
        ini.set("Setting", "driverName", folder);
        ini.set("Setting", "signalMode", "False");
        ini.set("Setting", "logMode", withLog ? "True" : "False");
        varnex = loadVarnex();
    }
    const Today day = today();
    int quantity = 0;
    auto signal = [&](unsigned index) {
        varnex.process(day.year, day.month, day.day, names[index].text, ++quantity, 101.25);
    };
    signal(0);
    const SIZE_T baseBytes = privateBytes();
    for (int i = 1; i < size; ++i) signal(static_cast<unsigned>(i));
    const SIZE_T grownBytes = privateBytes();

    std::FILE *out = std::fopen(file, "w");
    if (!out) return 2;
    // A round's names are laid out in its order before it is timed: picked
    // from the whole book, each would cost this process a cache miss of its
    // own, which a host calling with its own symbol's name does not pay.
    std::vector<Name> roundNames(signals);
    // Round -1 warms the caches after growing and is not counted.
    for (int round = -1; round < rounds; ++round) {
        const unsigned *pick = &picks[static_cast<size_t>(round < 0 ? 0 : round) * signals];
        for (int i = 0; i < signals; ++i) roundNames[i] = names[pick[i]];
        const double start = nowMicros();
        for (const Name &n : roundNames)
            varnex.process(day.year, day.month, day.day, n.text, ++quantity, 101.25);
        if (round >= 0) std::fprintf(out, "round %.6f\n", (nowMicros() - start) / signals);
    }
    std::fprintf(out, "memory %.1f %llu %d\n",
                 size > 1 ? static_cast<double>(grownBytes - baseBytes) / (size - 1) : 0.0,
                 static_cast<unsigned long long>(grownBytes), privateUsageFilled ? 1 : 0);
    std::fclose(out);
    DeleteFileA((folder + "VarnexMsg.txt").c_str());
    RemoveDirectoryA(folder.c_str());
    return 0;
}

int orchestrate(bool withLog) {
    const std::vector<int> sizes{1, 1000, 10000, 100000};
    const int passes = withLog ? 2 : 3;
    char temp[MAX_PATH], self[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string file = std::string(temp) + "varnex_scale_bench.txt";
    std::vector<std::vector<double>> costs(sizes.size());
    double perSymbol = 0;
    unsigned long long topBytes = 0;
    bool filled = true;
    int failures = 0;
    for (int pass = 0; pass < passes; ++pass)
        for (size_t s = 0; s < sizes.size(); ++s) {
            DeleteFileA(file.c_str());
            std::string command = "\"" + std::string(self) + "\" size " + std::to_string(sizes[s]) + " " +
                                  (withLog ? "log" : "off") + " \"" + file + "\"";
            STARTUPINFOA startup = {};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION child = {};
            if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                &child))
                return 2;
            WaitForSingleObject(child.hProcess, 120000);
            CloseHandle(child.hProcess);
            CloseHandle(child.hThread);
            std::FILE *in = std::fopen(file.c_str(), "r");
            if (!in) {
                ++failures;
                continue;
            }
            double value;
            unsigned long long bytes;
            int usage;
            while (std::fscanf(in, " round %lf", &value) == 1) costs[s].push_back(value);
            if (std::fscanf(in, " memory %lf %llu %d", &value, &bytes, &usage) == 3 &&
                s + 1 == sizes.size() && pass == 0)
                perSymbol = value, topBytes = bytes, filled = usage == 1;
            std::fclose(in);
        }
    DeleteFileA(file.c_str());

    std::printf(
        "scale_bench: %s, %d passes over the sizes, %d rounds of %d changed signals per size and pass\n",
        withLog ? "log on" : "every switch off", passes, roundsFor(withLog), signalsFor(withLog));
    const char *series = withLog ? "scale_log" : "scale";
    for (size_t s = 0; s < sizes.size(); ++s) reportPoint(series, sizes[s], spreadOf(costs[s]));
    const std::string top = std::to_string(sizes.back());
    if (withLog) {
        reportRow("scale_log", ("scale, log on: per changed signal at " + top + " symbols").c_str(), "us",
                  spreadOf(costs.back()), "same at 1 symbol", spreadOf(costs.front()), "ratio<=1.2");
    } else {
        reportRow("scale", ("scale: per changed signal at " + top + " symbols").c_str(), "us",
                  spreadOf(costs.back()), "same at 1 symbol", spreadOf(costs.front()), "ratio<=1.2");
        reportRow("memory", ("memory: private bytes per symbol after " + top).c_str(), "bytes",
                  Spread{perSymbol, perSymbol, perSymbol}, "-");
        reportNote(
            "memory",
            std::string(filled ? "PrivateUsage"
                               : "PagefileUsage (PrivateUsage reads 0 under Wine; on Windows both are the "
                                 "commit charge)") +
                " from GetProcessMemoryInfo after " + top + " symbols minus after 1, divided by " +
                std::to_string(sizes.back() - 1) +
                "; symbols are 9 characters (SYM000000). Private bytes at " + top +
                " symbols: " + std::to_string(topBytes / 1024) +
                " KiB. A symbol costs one node of the book's hash table (its name, inline up to 15 "
                "characters; its turn; its last quantity, price, server and when it changed; which "
                "destinations hold it), the heap's header for that node and its share of the table's "
                "buckets. What only a missed destination needs (its pauses) is made on the first miss and "
                "let go once nothing pauses, so it is not in this figure.");
    }
    reportNote(
        series,
        "A fresh process per size grows its book (each new symbol is one _process call), then measures "
        "changed signals on symbols picked with a fixed pseudo-random sequence over the whole book, after "
        "one uncounted warm-up round; each round's names are laid out in its order before it is timed, "
        "so that the figure holds the library's cache misses and not this process's own; " +
            std::to_string(passes) + " pass(es) over the sizes in turn, " +
            std::to_string(roundsFor(withLog)) + " rounds each. " +
            (withLog ? "logMode on, everything else off."
                     : "Every switch off (signalMode, logMode, varnexMode, socketClient), so a signal costs "
                       "the date gate, number rendering and the book.") +
            (failures ? " " + std::to_string(failures) + " size runs reported nothing." : ""));
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 5 && std::string(argv[1]) == "size")
        return measureSize(std::atoi(argv[2]), std::string(argv[3]) == "log", argv[4]);
    return orchestrate(argc > 1 && std::string(argv[1]) == "log");
}
