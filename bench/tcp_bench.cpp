// One TCP relay (_process with only the TCP relay on) next to the same
// exchange done by hand: connect, send, receive "OK", close.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "bench_clock.h"
#include "varnex.h"

namespace {

// Answers "OK" to every connection's first bytes, then waits for the close.
void serve(SOCKET listener, std::atomic<bool> &stop) {
    while (!stop) {
        SOCKET c = accept(listener, nullptr, nullptr);
        if (c == INVALID_SOCKET) return;
        char buffer[256];
        if (recv(c, buffer, sizeof buffer, 0) > 0) {
            send(c, "OK", 2, 0);
            recv(c, buffer, sizeof buffer, 0);
        }
        closesocket(c);
    }
}

void exchangeByHand(int port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address);
    send(s, "Order,1,101.25", 14, 0);
    std::string reply;
    char buffer[16];
    while (reply != "OK") {
        int got = recv(s, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        reply.append(buffer, got);
    }
    closesocket(s);
}

}  // namespace

int main() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
    listen(listener, 16);
    int length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
    const int port = ntohs(address.sin_port);
    std::atomic<bool> stop{false};
    std::thread server(serve, listener, std::ref(stop));

    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string ini = std::string(windows) + "\\Varnex.ini";
    WritePrivateProfileStringA("Setting", "signalMode", "False", ini.c_str());
    WritePrivateProfileStringA("Setting", "socketClient", "True", ini.c_str());
    WritePrivateProfileStringA("SocketClient", "clientID", "BENCH", ini.c_str());
    WritePrivateProfileStringA("SC-BENCH", "serverPort", std::to_string(port).c_str(), ini.c_str());
    HMODULE dll = LoadLibraryA("Varnex.dll");
    if (!dll) return 2;
    auto process = reinterpret_cast<VarnexProcessFn>(GetProcAddress(dll, "_process"));
    reinterpret_cast<VarnexInitialFn>(GetProcAddress(dll, "_initial"))();
    DeleteFileA(ini.c_str());

    std::time_t now = std::time(nullptr);
    const std::tm today = *std::localtime(&now);
    constexpr int kRounds = 7, kRelays = 200;
    std::vector<double> library, byHand;
    int quantity = 0;
    for (int round = 0; round < kRounds; ++round) {
        double start = nowMicros();
        for (int i = 0; i < kRelays; ++i)
            process(today.tm_year + 1900, today.tm_mon + 1, today.tm_mday, "BENCH", ++quantity, 101.25);
        library.push_back((nowMicros() - start) / kRelays);
        start = nowMicros();
        for (int i = 0; i < kRelays; ++i) exchangeByHand(port);
        byHand.push_back((nowMicros() - start) / kRelays);
    }
    stop = true;
    closesocket(listener);
    exchangeByHand(port);
    server.join();
    const double ours = median(library), hand = median(byHand);
    std::printf("tcp_bench: %d rounds of %d relays to a loopback server answering OK\n", kRounds, kRelays);
    std::printf("  _process with the TCP relay:    %8.1f us (median of rounds)\n", ours);
    std::printf("  connect/send/recv/close by hand:%8.1f us\n", hand);
    std::printf("  ratio library / by hand:        %8.3f (goal: at most 1.2)\n", ours / hand);
    return 0;
}
