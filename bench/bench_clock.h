// Timing helpers shared by the benchmarks.
#ifndef VARNEX_BENCH_CLOCK_H
#define VARNEX_BENCH_CLOCK_H

#include <windows.h>

#include <algorithm>
#include <vector>

inline LONGLONG ticks() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

inline double ticksToMicros(LONGLONG t) {
    static const double perMicro = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart / 1e6;
    }();
    return t / perMicro;
}

inline double nowMicros() { return ticksToMicros(ticks()); }

inline double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * v.size()))];
}

inline double median(const std::vector<double> &v) { return percentile(v, 0.5); }

#endif
