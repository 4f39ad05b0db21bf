// Latency from _process in this process to the order function in another
// (median, 99th percentile) and sustained orders per second, next to a raw
// one-way pipe write between the same two processes, in alternating rounds.
//   pipe_bench.exe                  runs everything
//   pipe_bench.exe receiver FILE    (started by the above)
// Each round: raw paced, raw burst, library paced, library burst. The receiver
// knows the plan and signals the end of each phase, so that no phase queues
// behind the one before.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_report.h"

namespace {

constexpr int kRounds = 10;
constexpr int kPaced = 150;
constexpr int kBurst = 500;
constexpr int kPerRound = kPaced + kBurst;
constexpr int kTotal = kRounds * kPerRound;

constexpr char kRawPipe[] = "\\\\.\\pipe\\varnex.pipe.bench.raw";
constexpr char kReady[] = "varnex_pipe_bench_ready";
constexpr char kRawPhase[] = "varnex_pipe_bench_raw_phase";
constexpr char kLibraryPhase[] = "varnex_pipe_bench_library_phase";
constexpr char kFinished[] = "varnex_pipe_bench_finished";

bool endsPhase(size_t count) { return count % kPerRound == kPaced || count % kPerRound == 0; }

// --- receiving process ---------------------------------------------------------
std::vector<LONGLONG> arrivals, rawArrivals;
std::vector<int> quantities;
HANDLE libraryPhase = nullptr, rawPhase = nullptr, allArrived = nullptr;

void __stdcall onOrder(const char *text) {
    const LONGLONG now = ticks();
    const char *comma = std::strchr(text, ',');
    quantities.push_back(comma ? std::atoi(comma + 1) : -1);
    arrivals.push_back(now);
    if (endsPhase(arrivals.size())) SetEvent(libraryPhase);
    if (arrivals.size() >= static_cast<size_t>(kTotal)) SetEvent(allArrived);
}

// Messages end with a NUL and may arrive several to a read or split across reads.
void readRaw(HANDLE pipe) {
    char buffer[1024];
    DWORD got;
    while (rawArrivals.size() < static_cast<size_t>(kTotal) &&
           ReadFile(pipe, buffer, sizeof buffer, &got, nullptr)) {
        const LONGLONG now = ticks();
        for (DWORD i = 0; i < got; ++i)
            if (buffer[i] == '\0') {
                rawArrivals.push_back(now);
                if (endsPhase(rawArrivals.size())) SetEvent(rawPhase);
            }
    }
}

int receiver(const char *file) {
    arrivals.reserve(kTotal);
    rawArrivals.reserve(kTotal);
    quantities.reserve(kTotal);
    libraryPhase = OpenEventA(EVENT_MODIFY_STATE, FALSE, kLibraryPhase);
    rawPhase = OpenEventA(EVENT_MODIFY_STATE, FALSE, kRawPhase);
    allArrived = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE pipe = CreateFileA(kRawPipe, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return 2;
    std::thread raw(readRaw, pipe);
    Varnex varnex = loadVarnex(false);
    varnex.registerOrderFunc(onOrder);
    SetEvent(OpenEventA(EVENT_MODIFY_STATE, FALSE, kReady));
    // The sender says when it has sent everything, so that a lost order
    // costs a moment here rather than a long timeout.
    HANDLE ends[] = {allArrived, OpenEventA(SYNCHRONIZE, FALSE, kFinished)};
    if (WaitForMultipleObjects(2, ends, FALSE, 120000) == WAIT_OBJECT_0 + 1)
        WaitForSingleObject(allArrived, 2000);
    raw.join();
    CloseHandle(pipe);
    std::FILE *out = std::fopen(file, "w");
    if (!out) return 2;
    for (LONGLONG at : rawArrivals) std::fprintf(out, "raw %lld\n", at);
    for (size_t i = 0; i < arrivals.size(); ++i) std::fprintf(out, "%d %lld\n", quantities[i], arrivals[i]);
    std::fclose(out);
    return 0;
}

// --- sending process -------------------------------------------------------------
struct Round {
    std::vector<double> rawLatency, latency;
    double rawPerSecond = 0, perSecond = 0;
};

int parent() {
    char temp[MAX_PATH], self[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string times = std::string(temp) + "varnex_pipe_bench.txt";
    DeleteFileA(times.c_str());
    Varnex varnex;
    {
        BenchIni ini;
        ini.set("Setting", "varnexMode", "True");
        ini.set("Setting", "signalMode", "False");
        varnex = loadVarnex();
    }
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, kReady);
    HANDLE finished = CreateEventA(nullptr, TRUE, FALSE, kFinished);
    HANDLE rawPhase = CreateEventA(nullptr, FALSE, FALSE, kRawPhase);
    HANDLE libraryPhase = CreateEventA(nullptr, FALSE, FALSE, kLibraryPhase);
    HANDLE rawPipe = CreateNamedPipeA(kRawPipe, PIPE_ACCESS_OUTBOUND, 0, 1, 1024, 1024, 0, nullptr);
    std::string command = "\"" + std::string(self) + "\" receiver \"" + times + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child))
        return 2;
    if (WaitForSingleObject(ready, 30000) != WAIT_OBJECT_0) return 3;

    const Today day = today();
    std::vector<LONGLONG> rawSent(kTotal), sent(kTotal + 1);
    // How long the sending thread is held per paced order: the raw WriteFile
    // against the whole _process call.
    std::vector<LONGLONG> rawHeld(kTotal), held(kTotal + 1);
    std::vector<LONGLONG> rawBurstStart(kRounds), burstStart(kRounds);
    auto rawWrite = [&](int index) {
        char message[32];
        const int length = std::snprintf(message, sizeof message, "SYM,%d,101.25", index + 1) + 1;
        DWORD n;
        rawSent[index] = ticks();
        WriteFile(rawPipe, message, static_cast<DWORD>(length), &n, nullptr);
        rawHeld[index] = ticks() - rawSent[index];
    };
    auto relay = [&](int quantity) {
        sent[quantity] = ticks();
        varnex.process(day.year, day.month, day.day, "SYM", quantity, 101.25);
        held[quantity] = ticks() - sent[quantity];
    };
    int phaseTimeouts = 0;
    auto awaitPhase = [&](HANDLE phase) {
        phaseTimeouts += WaitForSingleObject(phase, 10000) != WAIT_OBJECT_0;
    };
    for (int round = 0, next = 0; round < kRounds; ++round, next += kPerRound) {
        for (int i = 0; i < kPaced; ++i) rawWrite(next + i), Sleep(1);
        awaitPhase(rawPhase);
        rawBurstStart[round] = ticks();
        for (int i = kPaced; i < kPerRound; ++i) rawWrite(next + i);
        awaitPhase(rawPhase);
        for (int i = 0; i < kPaced; ++i) relay(next + i + 1), Sleep(1);
        awaitPhase(libraryPhase);
        burstStart[round] = ticks();
        for (int i = kPaced; i < kPerRound; ++i) relay(next + i + 1);
        awaitPhase(libraryPhase);
    }
    CloseHandle(rawPipe);
    SetEvent(finished);
    WaitForSingleObject(child.hProcess, 120000);

    std::vector<LONGLONG> rawArrived, arrived(kTotal + 1, 0);
    int count = 0, outOfOrder = 0, duplicates = 0, last = 0;
    if (std::FILE *in = std::fopen(times.c_str(), "r")) {
        long long at;
        int q;
        while (std::fscanf(in, " raw %lld", &at) == 1) rawArrived.push_back(at);
        while (std::fscanf(in, "%d %lld", &q, &at) == 2) {
            ++count;
            if (q != last + 1) ++outOfOrder;
            last = q;
            if (q < 1 || q > kTotal) continue;
            if (arrived[q])
                ++duplicates;
            else
                arrived[q] = at;
        }
        std::fclose(in);
    }
    DeleteFileA(times.c_str());
    if (rawArrived.size() < static_cast<size_t>(kTotal) || count == 0) {
        std::printf("pipe_bench: the receiver reported %zu raw and %d relayed arrivals; no figures\n",
                    rawArrived.size(), count);
        return 4;
    }

    std::vector<double> allRaw, all, rawMedians, medians, rawP99s, p99s, rawRates, rates;
    std::vector<double> rawHeldMedians, heldMedians;
    int lost = 0;
    for (int round = 0; round < kRounds; ++round) {
        const int first = round * kPerRound;
        std::vector<double> raw, lib, rawCall, libCall;
        for (int i = first; i < first + kPaced; ++i) {
            rawCall.push_back(ticksToMicros(rawHeld[i]));
            libCall.push_back(ticksToMicros(held[i + 1]));
            raw.push_back(ticksToMicros(rawArrived[i] - rawSent[i]));
            if (arrived[i + 1]) lib.push_back(ticksToMicros(arrived[i + 1] - sent[i + 1]));
        }
        allRaw.insert(allRaw.end(), raw.begin(), raw.end());
        all.insert(all.end(), lib.begin(), lib.end());
        rawMedians.push_back(median(raw));
        rawP99s.push_back(percentile(raw, 0.99));
        rawHeldMedians.push_back(median(rawCall));
        heldMedians.push_back(median(libCall));
        if (!lib.empty()) medians.push_back(median(lib)), p99s.push_back(percentile(lib, 0.99));
        const int end = first + kPerRound;  // last message of the burst
        rawRates.push_back(kBurst / (ticksToMicros(rawArrived[end - 1] - rawBurstStart[round]) / 1e6));
        if (arrived[end]) rates.push_back(kBurst / (ticksToMicros(arrived[end] - burstStart[round]) / 1e6));
    }
    for (int q = 1; q <= kTotal; ++q) lost += arrived[q] == 0;

    std::printf("pipe_bench: %d rounds of %d paced orders and a burst of %d, to a second process\n", kRounds,
                kPaced, kBurst);
    auto pooled = [](const std::vector<double> &all, const std::vector<double> &rounds, double p) {
        Spread s = spreadOf(rounds);
        s.median = percentile(all, p);
        return s;
    };
    reportRow("pipe_median", "pipe relay: latency to the order function, median", "us",
              pooled(all, medians, 0.5), "raw one-way pipe write between processes",
              pooled(allRaw, rawMedians, 0.5), "ratio<=1.10");
    reportRow("pipe_p99", "pipe relay: latency, 99th percentile", "us", pooled(all, p99s, 0.99),
              "raw one-way pipe write, 99th percentile", pooled(allRaw, rawP99s, 0.99), "-");
    reportRow("pipe_held", "pipe relay: sending thread held per paced order, median", "us",
              spreadOf(heldMedians), "raw WriteFile", spreadOf(rawHeldMedians), "-");
    reportRow("pipe_rate", "pipe relay: sustained orders/s", "orders/s", spreadOf(rates),
              "raw back-to-back pipe writes/s", spreadOf(rawRates), "ratio>=0.90");
    reportRow("pipe_loss", "pipe relay: orders lost", "orders",
              Spread{double(lost), double(lost), double(lost)}, "value=0");
    reportNote(
        "pipe_median",
        "Latency and rate are measured with one clock (QueryPerformanceCounter) from before the call in the "
        "sending process to the order function (or the raw reader's ReadFile return) in the receiving one. "
        "Raw floor: a byte-mode pipe from the sending to the receiving process, one synchronous WriteFile of "
        "the same NUL-ended text per order, read 1024 bytes at a time. Paced orders are 1 ms apart "
        "(Sleep(1)); "
        "bursts are back to back, rate = burst size / (last arrival - first send). The sending thread is "
        "held for the whole _process call, or for the raw WriteFile, timed in the sending process. Median "
        "and 99th "
        "percentile are over all " +
            std::to_string(kRounds * kPaced) + " paced orders; the spread is over the " +
            std::to_string(kRounds) + " rounds. Received " + std::to_string(count) + " of " +
            std::to_string(kTotal) + ", " + std::to_string(outOfOrder) + " out of order, " +
            std::to_string(duplicates) + " duplicated" +
            (phaseTimeouts ? ", " + std::to_string(phaseTimeouts) + " phases timed out" : std::string()) +
            ".");
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 3 && std::string(argv[1]) == "receiver") return receiver(argv[2]);
    return parent();
}
