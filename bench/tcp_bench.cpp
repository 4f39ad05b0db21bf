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

// Time inside each call of the exchange by hand, while counted.
enum HandCall { kSocket, kConnect, kSend, kRecv, kClose, kHandCalls };
const char *const kHandCallNames[kHandCalls] = {"socket", "connect", "send", "recv", "closesocket"};
volatile LONGLONG handTicks[kHandCalls] = {};

// Returns the number of Winsock calls it made.
int exchangeByHand(const sockaddr_in &address) {
    using wscount::CallTimer;
    int calls = 2;
    SOCKET s;
    int connected;
    {
        CallTimer timer(&handTicks[kSocket]);
        s = socket(AF_INET, SOCK_STREAM, 0);
    }
    {
        CallTimer timer(&handTicks[kConnect]);
        connected = connect(s, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    }
    if (connected == 0) {
        ++calls;
        {
            CallTimer timer(&handTicks[kSend]);
            send(s, "Order,1,101.25", 14, 0);
        }
        std::string reply;
        char buffer[16];
        while (reply != "OK") {
            ++calls;
            int got;
            {
                CallTimer timer(&handTicks[kRecv]);
                got = recv(s, buffer, sizeof buffer, 0);
            }
            if (got <= 0) break;
            reply.append(buffer, got);
        }
    }
    {
        CallTimer timer(&handTicks[kClose]);
        closesocket(s);
    }
    return calls + 1;
}

std::string handBreakdown(double per) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::string out;
    char buffer[64];
    for (int i = 0; i < kHandCalls; ++i) {
        std::snprintf(buffer, sizeof buffer, "%s%s %.1f us", i ? ", " : "", kHandCallNames[i],
                      handTicks[i] * 1e6 / frequency.QuadPart / per);
        out += buffer;
        handTicks[i] = 0;
    }
    return out;
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
    std::string breakdown, hand;
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
            long calls = 0;
            for (int i = 0; i < kCounted; ++i) calls += exchangeByHand(address);
            handCalls.push_back(static_cast<double>(calls) / kCounted);
            hand = handBreakdown(kCounted);
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
            std::to_string(kCounted) +
            " orders, 3 rounds); per order, calls and time inside them (last round; the wrappers add a "
            "little): " +
            breakdown + ". The exchange by hand, time inside each call: " + hand + ".";
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
