// Latency from _process in this process to the order function in another
// (median, 99th percentile) and sustained orders per second, next to raw
// pipe writes between the same two processes, in alternating rounds.
//   pipe_bench.exe                  runs everything
//   pipe_bench.exe receiver FILE    (started by the above)
// The library's send ends only once the receiver has read the order (its
// pipe has no buffer), so the floor of its goals is a raw pipe that works the
// same way: a rendezvous, whose WriteFile returns when the reader has the
// bytes. A raw pipe with a buffer, whose write returns as soon as the bytes
// are queued, is shown beside it as a figure.
// Each round: buffered paced and burst, rendezvous paced and burst, library
// paced and burst. The receiver knows the plan and signals the end of each
// phase, so that no phase queues behind the one before.
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

constexpr char kBufferedPipe[] = "\\\\.\\pipe\\varnex.pipe.bench.buffered";
constexpr char kRendezvousPipe[] = "\\\\.\\pipe\\varnex.pipe.bench.rendezvous";
constexpr char kReady[] = "varnex_pipe_bench_ready";
constexpr char kRawPhase[] = "varnex_pipe_bench_raw_phase";
constexpr char kLibraryPhase[] = "varnex_pipe_bench_library_phase";
constexpr char kFinished[] = "varnex_pipe_bench_finished";

// The three ways an order goes from the sending process to the receiving one.
enum Way { kBuffered, kRendezvous, kLibrary, kWays };
const char *const kWayWord[kWays] = {"buffered", "rendezvous", "library"};

bool endsPhase(size_t count) { return count % kPerRound == kPaced || count % kPerRound == 0; }

// --- receiving process ---------------------------------------------------------
std::vector<LONGLONG> arrivals[kWays];
std::vector<int> quantities;
HANDLE libraryPhase = nullptr, rawPhase = nullptr, allArrived = nullptr;

void __stdcall onOrder(const char *text) {
    const LONGLONG now = ticks();
    const char *comma = std::strchr(text, ',');
    std::vector<LONGLONG> &times = arrivals[kLibrary];
    quantities.push_back(comma ? std::atoi(comma + 1) : -1);
    times.push_back(now);
    if (endsPhase(times.size())) SetEvent(libraryPhase);
    if (times.size() >= static_cast<size_t>(kTotal)) SetEvent(allArrived);
}

// Messages end with a NUL and may arrive several to a read or split across reads.
void readRaw(HANDLE pipe, std::vector<LONGLONG> *times) {
    char buffer[1024];
    DWORD got;
    while (times->size() < static_cast<size_t>(kTotal) &&
           ReadFile(pipe, buffer, sizeof buffer, &got, nullptr)) {
        const LONGLONG now = ticks();
        for (DWORD i = 0; i < got; ++i)
            if (buffer[i] == '\0') {
                times->push_back(now);
                if (endsPhase(times->size())) SetEvent(rawPhase);
            }
    }
}

int receiver(const char *file) {
    for (auto &times : arrivals) times.reserve(kTotal);
    quantities.reserve(kTotal);
    libraryPhase = OpenEventA(EVENT_MODIFY_STATE, FALSE, kLibraryPhase);
    rawPhase = OpenEventA(EVENT_MODIFY_STATE, FALSE, kRawPhase);
    allArrived = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE buffered = CreateFileA(kBufferedPipe, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    // No input buffer, as the library's receiver makes its pipe: a write
    // completes when this end has read it.
    HANDLE rendezvous =
        CreateNamedPipeA(kRendezvousPipe, PIPE_ACCESS_INBOUND,
                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 1024, 0, 0, nullptr);
    if (buffered == INVALID_HANDLE_VALUE || rendezvous == INVALID_HANDLE_VALUE) return 2;
    std::thread bufferedReader(readRaw, buffered, &arrivals[kBuffered]);
    std::thread rendezvousReader([rendezvous] {
        if (ConnectNamedPipe(rendezvous, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED)
            readRaw(rendezvous, &arrivals[kRendezvous]);
    });
    Varnex varnex = loadVarnex(false);
    varnex.registerOrderFunc(onOrder);
    SetEvent(OpenEventA(EVENT_MODIFY_STATE, FALSE, kReady));
    // The sender says when it has sent everything, so that a lost order
    // costs a moment here rather than a long timeout.
    HANDLE ends[] = {allArrived, OpenEventA(SYNCHRONIZE, FALSE, kFinished)};
    if (WaitForMultipleObjects(2, ends, FALSE, 120000) == WAIT_OBJECT_0 + 1)
        WaitForSingleObject(allArrived, 2000);
    bufferedReader.join();
    rendezvousReader.join();
    CloseHandle(buffered);
    CloseHandle(rendezvous);
    std::FILE *out = std::fopen(file, "w");
    if (!out) return 2;
    // One line per arrival: the way, the order's number, the time. Raw
    // orders arrive in the order they were written; the library's carry
    // their number as the quantity.
    for (int way = 0; way < kWays; ++way)
        for (size_t i = 0; i < arrivals[way].size(); ++i)
            std::fprintf(out, "%d %d %lld\n", way, way == kLibrary ? quantities[i] : static_cast<int>(i) + 1,
                         arrivals[way][i]);
    std::fclose(out);
    return 0;
}

// --- sending process -------------------------------------------------------------
// One way's record, by order number (0 .. kTotal-1): when it was sent, how long
// the sending thread was held, when it arrived (0: never).
struct Record {
    std::vector<LONGLONG> sent = std::vector<LONGLONG>(kTotal), held = std::vector<LONGLONG>(kTotal),
                          arrived = std::vector<LONGLONG>(kTotal),
                          burstStart = std::vector<LONGLONG>(kRounds);
};

// Per round: median and 99th percentile latency and held time of the paced
// orders, the burst's rate; and the paced latencies of every round pooled.
struct Figures {
    std::vector<double> pooled, medians, p99s, heldMedians, rates;
    Spread pooledAt(const std::vector<double> &rounds, double p) const {
        Spread s = spreadOf(rounds);
        s.median = pooled.empty() ? 0 : percentile(pooled, p);
        return s;
    }
};

Figures figuresOf(const Record &r) {
    Figures f;
    for (int round = 0; round < kRounds; ++round) {
        const int first = round * kPerRound;
        std::vector<double> latency, held;
        for (int i = first; i < first + kPaced; ++i) {
            held.push_back(ticksToMicros(r.held[i]));
            if (r.arrived[i]) latency.push_back(ticksToMicros(r.arrived[i] - r.sent[i]));
        }
        f.pooled.insert(f.pooled.end(), latency.begin(), latency.end());
        f.heldMedians.push_back(median(held));
        if (!latency.empty())
            f.medians.push_back(median(latency)), f.p99s.push_back(percentile(latency, 0.99));
        const LONGLONG last = r.arrived[first + kPerRound - 1];
        if (last) f.rates.push_back(kBurst / (ticksToMicros(last - r.burstStart[round]) / 1e6));
    }
    return f;
}

struct Tally {
    int count = 0, outOfOrder = 0, duplicates = 0;
};

// Reads the receiver's file into the records; only the library's orders
// can come out of order or twice.
Tally readArrivals(const std::string &file, Record (&records)[kWays]) {
    Tally t;
    std::FILE *in = std::fopen(file.c_str(), "r");
    if (!in) return t;
    int way, q, last = 0;
    long long at;
    while (std::fscanf(in, "%d %d %lld", &way, &q, &at) == 3) {
        if (way < 0 || way >= kWays) continue;
        if (way == kLibrary) {
            ++t.count;
            if (q != last + 1) ++t.outOfOrder;
            last = q;
        }
        if (q < 1 || q > kTotal) continue;
        LONGLONG &slot = records[way].arrived[q - 1];
        if (slot)
            t.duplicates += way == kLibrary;
        else
            slot = at;
    }
    std::fclose(in);
    return t;
}

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
    HANDLE buffered = CreateNamedPipeA(kBufferedPipe, PIPE_ACCESS_OUTBOUND, 0, 1, 1024, 1024, 0, nullptr);
    std::string command = "\"" + std::string(self) + "\" receiver \"" + times + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child))
        return 2;
    if (WaitForSingleObject(ready, 30000) != WAIT_OBJECT_0) return 3;
    HANDLE rendezvous = CreateFileA(kRendezvousPipe, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (rendezvous == INVALID_HANDLE_VALUE) return 3;

    const Today day = today();
    Record records[kWays];
    auto rawWrite = [&](Way way, HANDLE pipe, int index) {
        char message[32];
        const int length = std::snprintf(message, sizeof message, "SYM,%d,101.25", index + 1) + 1;
        DWORD n;
        Record &r = records[way];
        r.sent[index] = ticks();
        WriteFile(pipe, message, static_cast<DWORD>(length), &n, nullptr);
        r.held[index] = ticks() - r.sent[index];
    };
    auto relay = [&](Way, HANDLE, int index) {
        Record &r = records[kLibrary];
        r.sent[index] = ticks();
        varnex.process(day.year, day.month, day.day, "SYM", index + 1, 101.25);
        r.held[index] = ticks() - r.sent[index];
    };
    int phaseTimeouts = 0;
    auto phases = [&](Way way, HANDLE pipe, HANDLE phase, auto send, int round) {
        const int first = round * kPerRound;
        for (int i = 0; i < kPaced; ++i) send(way, pipe, first + i), Sleep(1);
        phaseTimeouts += WaitForSingleObject(phase, 10000) != WAIT_OBJECT_0;
        records[way].burstStart[round] = ticks();
        for (int i = kPaced; i < kPerRound; ++i) send(way, pipe, first + i);
        phaseTimeouts += WaitForSingleObject(phase, 10000) != WAIT_OBJECT_0;
    };
    for (int round = 0; round < kRounds; ++round) {
        phases(kBuffered, buffered, rawPhase, rawWrite, round);
        phases(kRendezvous, rendezvous, rawPhase, rawWrite, round);
        phases(kLibrary, nullptr, libraryPhase, relay, round);
    }
    CloseHandle(buffered);
    CloseHandle(rendezvous);
    SetEvent(finished);
    WaitForSingleObject(child.hProcess, 120000);

    const Tally tally = readArrivals(times, records);
    DeleteFileA(times.c_str());
    for (Way way : {kBuffered, kRendezvous})
        if (records[way].arrived[kTotal - 1] == 0 || tally.count == 0) {
            std::printf("pipe_bench: not every %s raw order arrived, and %d relayed ones did; no figures\n",
                        kWayWord[way], tally.count);
            return 4;
        }
    int lost = 0;
    for (LONGLONG at : records[kLibrary].arrived) lost += at == 0;
    const Figures library = figuresOf(records[kLibrary]), meet = figuresOf(records[kRendezvous]),
                  queued = figuresOf(records[kBuffered]);

    std::printf("pipe_bench: %d rounds of %d paced orders and a burst of %d, to a second process\n", kRounds,
                kPaced, kBurst);
    reportRow("pipe_median", "pipe relay: latency to the order function, median", "us",
              library.pooledAt(library.medians, 0.5), "raw rendezvous pipe write between processes",
              meet.pooledAt(meet.medians, 0.5), "ratio<=1.10");
    reportRow("pipe_median_buffered", "pipe relay: latency, median, against a buffered write", "us",
              library.pooledAt(library.medians, 0.5), "raw buffered pipe write between processes",
              queued.pooledAt(queued.medians, 0.5), "-");
    reportRow("pipe_p99", "pipe relay: latency, 99th percentile", "us", library.pooledAt(library.p99s, 0.99),
              "raw rendezvous pipe write, 99th percentile", meet.pooledAt(meet.p99s, 0.99), "-");
    reportRow("pipe_held", "pipe relay: sending thread held per paced order, median", "us",
              spreadOf(library.heldMedians), "raw rendezvous WriteFile", spreadOf(meet.heldMedians), "-");
    reportRow("pipe_held_buffered", "pipe relay: sending thread held, against a buffered write", "us",
              spreadOf(library.heldMedians), "raw buffered WriteFile", spreadOf(queued.heldMedians), "-");
    reportRow("pipe_rate", "pipe relay: sustained orders/s", "orders/s", spreadOf(library.rates),
              "raw back-to-back rendezvous writes/s", spreadOf(meet.rates), "ratio>=0.90");
    reportRow("pipe_rate_buffered", "pipe relay: sustained orders/s, against buffered writes", "orders/s",
              spreadOf(library.rates), "raw back-to-back buffered writes/s", spreadOf(queued.rates), "-");
    reportRow("pipe_loss", "pipe relay: orders lost", "orders",
              Spread{double(lost), double(lost), double(lost)}, "value=0");
    reportNote(
        "pipe_median",
        "Latency and rate are measured with one clock (QueryPerformanceCounter) from before the call in the "
        "sending process to the order function (or the raw reader's ReadFile return) in the receiving one. "
        "Raw floors: a byte-mode pipe from the sending to the receiving process, one synchronous WriteFile "
        "of "
        "the same NUL-ended text per order, read 1024 bytes at a time by a thread of the receiving process. "
        "The rendezvous pipe is made by the receiver with no input buffer, as the library's receiver makes "
        "its own, so a write returns only when the reader has the bytes, as the library's send does; the "
        "buffered pipe is made by the sender with 1024-byte buffers, so a write returns once queued. Paced "
        "orders are 1 ms apart (Sleep(1)); bursts are back to back, rate = burst size / (last arrival - "
        "first send). The sending thread is held for the whole _process call, or for the raw WriteFile, "
        "timed in the sending process. Median and 99th percentile are over all " +
            std::to_string(kRounds * kPaced) + " paced orders; the spread is over the " +
            std::to_string(kRounds) + " rounds. Received " + std::to_string(tally.count) + " of " +
            std::to_string(kTotal) + ", " + std::to_string(tally.outOfOrder) + " out of order, " +
            std::to_string(tally.duplicates) + " duplicated" +
            (phaseTimeouts ? ", " + std::to_string(phaseTimeouts) + " phases timed out" : std::string()) +
            ".");
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 3 && std::string(argv[1]) == "receiver") return receiver(argv[2]);
    return parent();
}
