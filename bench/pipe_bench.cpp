// Latency from _process in this process to the order function in another
// (median and 99th percentile) and sustained throughput, next to a raw
// one-way pipe write and a raw pipe round trip measured in the same run.
//   pipe_bench.exe                       runs everything
//   pipe_bench.exe receiver COUNT FILE   (started by the above)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "bench_clock.h"
#include "varnex.h"

namespace {

constexpr int kLatencySignals = 2000;
constexpr int kBurstSignals = 5000;

// --- receiving process -------------------------------------------------------
std::vector<LONGLONG> arrivals;
std::vector<int> quantities;
long expected = 0;
HANDLE done = nullptr;

void __stdcall onOrder(const char *text) {
    const LONGLONG now = ticks();
    const char *comma = std::strchr(text, ',');
    quantities.push_back(comma ? std::atoi(comma + 1) : -1);
    arrivals.push_back(now);
    if (static_cast<long>(arrivals.size()) == expected) SetEvent(done);
}

constexpr char kRawPipe[] = "\\\\.\\pipe\\varnex.pipe.bench.raw";

// Raw baseline: the same kind of message over a plain pipe from the parent
// process, one synchronous read per message.
std::vector<LONGLONG> rawArrivals;

void receiveRaw() {
    HANDLE pipe = CreateFileA(kRawPipe, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetEvent(OpenEventA(EVENT_MODIFY_STATE, FALSE, "varnex_pipe_bench_raw_ready"));
    char buffer[1024];
    DWORD got;
    for (int i = 0; i < kLatencySignals; ++i) {
        if (!ReadFile(pipe, buffer, sizeof buffer, &got, nullptr)) break;
        rawArrivals.push_back(ticks());
    }
    CloseHandle(pipe);
}

int receiver(long count, const char *file) {
    receiveRaw();
    expected = count;
    arrivals.reserve(count);
    quantities.reserve(count);
    done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HMODULE dll = LoadLibraryA("Varnex.dll");
    if (!dll) return 2;
    reinterpret_cast<VarnexRegisterOrderFuncFn>(GetProcAddress(dll, "_RegisterOrderFunc"))(onOrder);
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, "varnex_pipe_bench_ready");
    SetEvent(ready);
    WaitForSingleObject(done, 120000);
    std::FILE *out = std::fopen(file, "w");
    for (size_t i = 0; i < rawArrivals.size(); ++i) std::fprintf(out, "raw %lld\n", rawArrivals[i]);
    for (size_t i = 0; i < arrivals.size(); ++i) std::fprintf(out, "%d %lld\n", quantities[i], arrivals[i]);
    std::fclose(out);
    return 0;
}

// --- raw baselines between two threads ----------------------------------------
struct RawPipes {
    HANDLE serverIn, serverOut, clientIn, clientOut;
    explicit RawPipes(const char *name) {
        const std::string base = std::string("\\\\.\\pipe\\") + name;
        serverIn = CreateNamedPipeA((base + "_IN").c_str(), PIPE_ACCESS_INBOUND, 0, 1, 1024, 1024, 0, nullptr);
        serverOut = CreateNamedPipeA((base + "_OUT").c_str(), PIPE_ACCESS_OUTBOUND, 0, 1, 1024, 1024, 0, nullptr);
        clientOut = CreateFileA((base + "_IN").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        clientIn = CreateFileA((base + "_OUT").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ~RawPipes() {
        for (HANDLE h : {serverIn, serverOut, clientIn, clientOut}) CloseHandle(h);
    }
};

void rawBaselines(double &oneWayMedian, double &roundTripMedian) {
    RawPipes pipes("varnex.pipe.bench.raw");
    std::vector<LONGLONG> sent(kLatencySignals), received(kLatencySignals);
    std::vector<double> roundTrips;
    std::thread echo([&] {
        char buffer[1024];
        DWORD got;
        for (int i = 0; i < 2 * kLatencySignals; ++i) {
            if (!ReadFile(pipes.serverIn, buffer, sizeof buffer, &got, nullptr)) return;
            if (i < kLatencySignals) received[i] = ticks();
            else WriteFile(pipes.serverOut, buffer, got, &got, nullptr);
        }
    });
    const char message[] = "SYM,1,101.25";
    DWORD n;
    for (int i = 0; i < kLatencySignals; ++i) {
        sent[i] = ticks();
        WriteFile(pipes.clientOut, message, sizeof message, &n, nullptr);
        while (received[i] == 0) Sleep(0);
    }
    for (int i = 0; i < kLatencySignals; ++i) {
        char buffer[1024];
        const LONGLONG start = ticks();
        WriteFile(pipes.clientOut, message, sizeof message, &n, nullptr);
        ReadFile(pipes.clientIn, buffer, sizeof buffer, &n, nullptr);
        roundTrips.push_back(ticksToMicros(ticks() - start));
    }
    echo.join();
    std::vector<double> oneWay;
    for (int i = 0; i < kLatencySignals; ++i) oneWay.push_back(ticksToMicros(received[i] - sent[i]));
    oneWayMedian = percentile(oneWay, 0.5);
    roundTripMedian = percentile(roundTrips, 0.5);
}

int parent() {
    char windows[MAX_PATH], temp[MAX_PATH], self[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    GetTempPathA(MAX_PATH, temp);
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string ini = std::string(windows) + "\\Varnex.ini";
    const std::string times = std::string(temp) + "varnex_pipe_bench.txt";
    WritePrivateProfileStringA("Setting", "varnexMode", "True", ini.c_str());
    WritePrivateProfileStringA("Setting", "signalMode", "False", ini.c_str());

    double rawOneWay, rawRoundTrip;
    rawBaselines(rawOneWay, rawRoundTrip);

    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, "varnex_pipe_bench_ready");
    std::string command = "\"" + std::string(self) + "\" receiver " + std::to_string(kLatencySignals + kBurstSignals) +
                          " \"" + times + "\"";
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION child = {};
    HANDLE rawPipe = CreateNamedPipeA(kRawPipe, PIPE_ACCESS_OUTBOUND, 0, 1, 1024, 1024, 0, nullptr);
    HANDLE rawReady = CreateEventA(nullptr, TRUE, FALSE, "varnex_pipe_bench_raw_ready");
    std::vector<LONGLONG> rawSent(kLatencySignals);
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) return 2;
    if (WaitForSingleObject(rawReady, 30000) != WAIT_OBJECT_0) return 3;
    for (int i = 0; i < kLatencySignals; ++i) {
        static const char message[] = "SYM,1,101.25";
        DWORD n;
        rawSent[i] = ticks();
        WriteFile(rawPipe, message, sizeof message, &n, nullptr);
        Sleep(1);
    }
    CloseHandle(rawPipe);
    if (WaitForSingleObject(ready, 30000) != WAIT_OBJECT_0) return 3;

    HMODULE dll = LoadLibraryA("Varnex.dll");
    auto process = reinterpret_cast<VarnexProcessFn>(GetProcAddress(dll, "_process"));
    reinterpret_cast<VarnexInitialFn>(GetProcAddress(dll, "_initial"))();
    DeleteFileA(ini.c_str());
    std::time_t now = std::time(nullptr);
    const std::tm today = *std::localtime(&now);
    const int y = today.tm_year + 1900, m = today.tm_mon + 1, d = today.tm_mday;

    // Latency: one signal at a time, with a pause so that none queues behind another.
    std::vector<LONGLONG> sent(kLatencySignals + kBurstSignals + 1);
    for (int q = 1; q <= kLatencySignals; ++q) {
        sent[q] = ticks();
        process(y, m, d, "SYM", q, 101.25);
        Sleep(1);
    }
    // Throughput: back to back.
    const LONGLONG burstStart = ticks();
    for (int q = kLatencySignals + 1; q <= kLatencySignals + kBurstSignals; ++q) {
        sent[q] = ticks();
        process(y, m, d, "SYM", q, 101.25);
    }
    WaitForSingleObject(child.hProcess, 120000);

    std::vector<double> latency, rawLatency;
    int count = 0, outOfOrder = 0, last = 0;
    LONGLONG lastArrival = 0;
    if (std::FILE *in = std::fopen(times.c_str(), "r")) {
        int q;
        long long at;
        for (int i = 0; i < kLatencySignals && std::fscanf(in, "raw %lld\n", &at) == 1; ++i)
            rawLatency.push_back(ticksToMicros(at - rawSent[i]));
        while (std::fscanf(in, "%d %lld", &q, &at) == 2) {
            ++count;
            if (q != last + 1) ++outOfOrder;
            last = q;
            if (q >= 1 && q <= kLatencySignals) latency.push_back(ticksToMicros(at - sent[q]));
            lastArrival = at;
        }
        std::fclose(in);
    }
    DeleteFileA(times.c_str());
    if (latency.empty() || rawLatency.empty()) return 4;
    const double rawCrossProcess = percentile(rawLatency, 0.5);
    const double median = percentile(latency, 0.5), p99 = percentile(latency, 0.99);
    const double seconds = ticksToMicros(lastArrival - burstStart) / 1e6;
    std::printf("pipe_bench: %d paced signals and a burst of %d, to a second host process\n", kLatencySignals,
                kBurstSignals);
    std::printf("  received: %d of %d, out of order: %d\n", count, kLatencySignals + kBurstSignals, outOfOrder);
    std::printf("  _process -> order function: median %7.1f us, 99th percentile %7.1f us\n", median, p99);
    std::printf("  raw one-way pipe write:     median %7.1f us between processes, %.1f us between threads\n",
                rawCrossProcess, rawOneWay);
    std::printf("  raw pipe round trip:        median %7.1f us (between threads)\n", rawRoundTrip);
    std::printf("  ratio median / raw one-way: %7.2f between processes (goal: at most 1.5)\n",
                median / rawCrossProcess);
    std::printf("  sustained throughput:       %7.0f orders/s\n", kBurstSignals / seconds);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::string(argv[1]) == "receiver") return receiver(std::atol(argv[2]), argv[3]);
    return parent();
}
