// What every benchmark shares: the Varnex.ini it writes, the loaded DLL,
// today's date, and the lines that scripts/bench.sh turns into the report.
//
// Line format (tab-separated, one record per line, mixed with free text):
//   ROW   id  label  unit  median  min  max  floorLabel  floorMedian  floorMin  floorMax  goal
//   POINT series  x  median  min  max
//   NOTE  id  text
// A row without a floor has "-" in the four floor fields. goal is one of
// ratio<=X, ratio>=X (figure / floor), value<X, value=X, or "-".
#ifndef VARNEX_BENCH_REPORT_H
#define VARNEX_BENCH_REPORT_H

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "varnex.h"

struct Spread {
    double median, low, high;
};

inline Spread spreadOf(const std::vector<double> &samples) {
    if (samples.empty()) return {0, 0, 0};
    return {median(samples), *std::min_element(samples.begin(), samples.end()),
            *std::max_element(samples.begin(), samples.end())};
}

inline void reportRow(const char *id, const char *label, const char *unit, Spread value,
                      const char *floorLabel, Spread floor, const char *goal) {
    std::printf("ROW\t%s\t%s\t%s\t%.6g\t%.6g\t%.6g\t%s\t%.6g\t%.6g\t%.6g\t%s\n", id, label, unit,
                value.median, value.low, value.high, floorLabel, floor.median, floor.low, floor.high, goal);
    std::fflush(stdout);
}

inline void reportRow(const char *id, const char *label, const char *unit, Spread value, const char *goal) {
    std::printf("ROW\t%s\t%s\t%s\t%.6g\t%.6g\t%.6g\t-\t-\t-\t-\t%s\n", id, label, unit, value.median,
                value.low, value.high, goal);
    std::fflush(stdout);
}

inline void reportPoint(const char *series, double x, Spread y) {
    std::printf("POINT\t%s\t%.6g\t%.6g\t%.6g\t%.6g\n", series, x, y.median, y.low, y.high);
    std::fflush(stdout);
}

inline void reportNote(const char *id, const std::string &text) {
    std::printf("NOTE\t%s\t%s\n", id, text.c_str());
    std::fflush(stdout);
}

// Varnex.ini in the Windows directory, where the library looks for it; gone
// again once the library has read it (or when the benchmark ends).
class BenchIni {
public:
    BenchIni() {
        char windows[MAX_PATH];
        GetWindowsDirectoryA(windows, MAX_PATH);
        path_ = std::string(windows) + "\\Varnex.ini";
        DeleteFileA(path_.c_str());
    }
    ~BenchIni() { remove(); }
    BenchIni(const BenchIni &) = delete;
    BenchIni &operator=(const BenchIni &) = delete;
    void set(const char *section, const char *key, const std::string &value) const {
        WritePrivateProfileStringA(section, key, value.c_str(), path_.c_str());
    }
    void remove() const { DeleteFileA(path_.c_str()); }

private:
    std::string path_;
};

struct Varnex {
    HMODULE module = nullptr;
    VarnexProcessFn process = nullptr;
    VarnexInitialFn initial = nullptr;
    VarnexRegisterOrderFuncFn registerOrderFunc = nullptr;
};

// Loads Varnex.dll by name, as a host does, and reads the configuration.
inline Varnex loadVarnex(bool readConfiguration = true) {
    Varnex v;
    v.module = LoadLibraryA("Varnex.dll");
    if (!v.module) {
        std::fprintf(stderr, "cannot load Varnex.dll (%lu)\n", GetLastError());
        std::exit(2);
    }
    v.process = reinterpret_cast<VarnexProcessFn>(GetProcAddress(v.module, "_process"));
    v.initial = reinterpret_cast<VarnexInitialFn>(GetProcAddress(v.module, "_initial"));
    v.registerOrderFunc =
        reinterpret_cast<VarnexRegisterOrderFuncFn>(GetProcAddress(v.module, "_RegisterOrderFunc"));
    if (readConfiguration) v.initial();
    return v;
}

struct Today {
    int year, month, day;
};

inline Today today() {
    std::time_t now = std::time(nullptr);
    const std::tm local = *std::localtime(&now);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

inline std::string benchFolder(const char *name) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + name + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

#endif
