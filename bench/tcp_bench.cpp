// One TCP relay (_process with only the TCP relay on) next to the same
// exchange done by hand against the same loopback server: socket, connect,
// send, receive "OK", close. Then the Winsock calls one relay makes, counted
// in Varnex.dll's import address table, next to those of the exchange by hand.
#include <winsock2.h>
// windows.h after winsock2.h, which it would otherwise pull in the old winsock.h for.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ack_server.h"
#include "bench_report.h"
#include "winsock_count.h"

namespace {

// Returns the number of Winsock calls it made.
int exchangeByHand(const sockaddr_in &address) {
    int calls = 2;
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(s, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
        ++calls;
        send(s, "Order,1,101.25", 14, 0);
        std::string reply;
        char buffer[16];
        while (reply != "OK") {
            ++calls;
            int got = recv(s, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            reply.append(buffer, got);
        }
    }
    closesocket(s);
    return calls + 1;
}

}  // namespace

int main() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    // One thread answers the connections one after another.
    AckServer server(0, 1);
    const sockaddr_in &address = server.address();
    const int port = server.port();

    Varnex varnex;
    {
        BenchIni ini;
        ini.set("Setting", "signalMode", "False");
        ini.set("Setting", "socketClient", "True");
        ini.set("SocketClient", "clientID", "BENCH");
        ini.set("SC-BENCH", "serverIp", "127.0.0.1");
        ini.set("SC-BENCH", "serverPort", std::to_string(port));
        varnex = loadVarnex();
    }
    const Today day = today();
    constexpr int kRounds = 40, kRelays = 10, kCounted = 20;
    std::vector<double> library, byHand;
    int quantity = 0;
    for (int round = 0; round < kRounds; ++round) {
        double start = nowMicros();
        for (int i = 0; i < kRelays; ++i)
            varnex.process(day.year, day.month, day.day, "BENCH", ++quantity, 101.25);
        library.push_back((nowMicros() - start) / kRelays);
        start = nowMicros();
        for (int i = 0; i < kRelays; ++i) exchangeByHand(address);
        byHand.push_back((nowMicros() - start) / kRelays);
    }

    // Counting runs apart from the timing: the wrappers cost a little.
    std::vector<double> relayCalls, handCalls;
    std::string breakdown;
    std::vector<std::string> uncounted;
    bool found;
    {
        wscount::ImportCounter counter(varnex.module);
        found = counter.found;
        uncounted = counter.uncounted;
        for (int round = 0; round < 3; ++round) {
            wscount::ImportCounter::reset();
            for (int i = 0; i < kCounted; ++i)
                varnex.process(day.year, day.month, day.day, "BENCH", ++quantity, 101.25);
            relayCalls.push_back(static_cast<double>(wscount::ImportCounter::total()) / kCounted);
            breakdown = wscount::ImportCounter::breakdown(kCounted);
            long hand = 0;
            for (int i = 0; i < kCounted; ++i) hand += exchangeByHand(address);
            handCalls.push_back(static_cast<double>(hand) / kCounted);
        }
    }
    server.stop();

    std::printf("tcp_bench: %d rounds of %d relays to a loopback server answering OK\n", kRounds, kRelays);
    reportRow("tcp", "TCP relay: `_process` per order", "us", spreadOf(library),
              "raw socket/connect/send/recv \"OK\"/closesocket", spreadOf(byHand), "ratio<=1.10");
    reportNote(
        "tcp",
        "Floor: the same loopback server (one thread, answers \"OK\" to the first bytes, then waits for "
        "the close); the address is built once outside the timed exchange. " +
            std::to_string(kRounds) + " alternating rounds of " + std::to_string(kRelays) + " orders each.");
    if (found) {
        reportRow("tcp_calls", "TCP relay: Winsock calls per order", "calls", spreadOf(relayCalls),
                  "raw exchange", spreadOf(handCalls), "-");
        std::string note =
            "Counted by pointing Varnex.dll's WS2_32 import address table entries at counting "
            "wrappers in the benchmark process (" +
            std::to_string(kCounted) + " orders, 3 rounds); per order: " + breakdown + ".";
        if (!uncounted.empty()) {
            note += " Imported but not counted (no wrapper):";
            for (const std::string &name : uncounted) note += " " + name;
            note += ".";
        }
        reportNote("tcp_calls", note);
    } else {
        reportNote("tcp_calls", "Varnex.dll has no WS2_32 import table entry; Winsock calls not counted.");
    }
    WSACleanup();
    return 0;
}
