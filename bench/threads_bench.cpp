// Orders per second with 8 host threads calling _process at once, each with
// its own symbol relayed over TCP, next to one thread; the loopback server
// takes 5 ms to acknowledge each order, as a real order server might.
#include <winsock2.h>
// windows.h after winsock2.h, which it would otherwise pull in the old winsock.h for.
#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "ack_server.h"
#include "bench_report.h"

namespace {

constexpr int kThreads = 8;
constexpr DWORD kAckDelayMs = 5;

}  // namespace

int main() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    AckServer server(kAckDelayMs, 2 * kThreads);
    const int port = server.port();

    std::vector<std::string> symbols;
    std::string ids;
    for (int t = 0; t < kThreads; ++t) {
        symbols.push_back("T" + std::to_string(t));
        ids += (t ? "," : "") + symbols.back();
    }
    Varnex varnex;
    {
        BenchIni ini;
        ini.set("Setting", "signalMode", "False");
        ini.set("Setting", "socketClient", "True");
        ini.set("SocketClient", "clientID", ids);
        for (const std::string &s : symbols) {
            ini.set(("SC-" + s).c_str(), "serverIp", "127.0.0.1");
            ini.set(("SC-" + s).c_str(), "serverPort", std::to_string(port));
        }
        varnex = loadVarnex();
    }
    const Today day = today();
    constexpr int kRounds = 5;
    constexpr double kRunMicros = 1e6;

    // Runs `threads` host threads, each relaying orders of its own symbol
    // until the run's time is up; counts what they finished.
    int quantity = 0;
    auto ordersPerSecond = [&](int threads) {
        std::vector<std::thread> hosts;
        std::vector<int> done(threads, 0);
        HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        double start = 0;
        ++quantity;
        for (int t = 0; t < threads; ++t)
            hosts.emplace_back([&, t] {
                WaitForSingleObject(go, INFINITE);
                for (int q = quantity; nowMicros() - start < kRunMicros; q = -q, ++done[t])
                    varnex.process(day.year, day.month, day.day, symbols[t].c_str(), q, 101.25);
            });
        Sleep(20);
        start = nowMicros();
        SetEvent(go);
        for (std::thread &h : hosts) h.join();
        const double seconds = (nowMicros() - start) / 1e6;
        CloseHandle(go);
        int orders = 0;
        for (int n : done) orders += n;
        return orders / seconds;
    };
    std::vector<double> one, eight;
    for (int round = 0; round < kRounds; ++round) {
        one.push_back(ordersPerSecond(1));
        eight.push_back(ordersPerSecond(kThreads));
    }
    server.stop();

    std::printf("threads_bench: %d rounds of %.1f s each, server acknowledges after %lu ms\n", kRounds,
                kRunMicros / 1e6, kAckDelayMs);
    reportRow("threads", "threads: orders/s, 8 host threads over TCP", "orders/s", spreadOf(eight),
              "1 host thread", spreadOf(one), "ratio>=5");
    reportNote("threads",
               "Each host thread relays its own symbol (T0..T7, one client identifier each) to one "
               "loopback server whose acceptor hands each connection to one of " +
                   std::to_string(2 * kThreads) + " waiting worker threads, which answers after Sleep(5). " +
                   std::to_string(kRounds) +
                   " alternating rounds; each run lets its threads relay for 1 s and counts the "
                   "orders finished. Floor: the same with one thread.");
    WSACleanup();
    return 0;
}
