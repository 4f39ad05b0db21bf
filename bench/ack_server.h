// The loopback order server of the TCP benchmarks: answers "OK" to each
// connection's first bytes (after an optional delay), then waits for the
// client to close. Winsock must be started before one is made.
#ifndef VARNEX_BENCH_ACK_SERVER_H
#define VARNEX_BENCH_ACK_SERVER_H

#include <winsock2.h>
// windows.h after winsock2.h, which it would otherwise pull in the old winsock.h for.
#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

class AckServer {
public:
    // With `threadPerConnection` every connection is answered on its own
    // thread, so that the server never serialises the orders; otherwise one
    // thread answers them one after another.
    AckServer(DWORD ackDelayMs, bool threadPerConnection)
        : delayMs_(ackDelayMs), threadPerConnection_(threadPerConnection) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        address_.sin_family = AF_INET;
        address_.sin_addr.s_addr = inet_addr("127.0.0.1");
        bind(listener_, reinterpret_cast<sockaddr *>(&address_), sizeof address_);
        listen(listener_, 64);
        int length = sizeof address_;
        getsockname(listener_, reinterpret_cast<sockaddr *>(&address_), &length);
        server_ = std::thread([this] { serve(); });
    }
    ~AckServer() { stop(); }
    AckServer(const AckServer &) = delete;
    AckServer &operator=(const AckServer &) = delete;

    const sockaddr_in &address() const { return address_; }
    int port() const { return ntohs(address_.sin_port); }

    // Closes the listener, then joins every thread once its client has closed.
    void stop() {
        if (!server_.joinable()) return;
        stop_ = true;
        closesocket(listener_);
        server_.join();
        for (std::thread &answering : answering_) answering.join();
        answering_.clear();
    }

private:
    void serve() {
        while (!stop_) {
            SOCKET c = accept(listener_, nullptr, nullptr);
            if (c == INVALID_SOCKET) return;
            if (threadPerConnection_)
                answering_.emplace_back([this, c] { answer(c); });
            else
                answer(c);
        }
    }

    void answer(SOCKET c) const {
        char buffer[256];
        if (recv(c, buffer, sizeof buffer, 0) > 0) {
            if (delayMs_ > 0) Sleep(delayMs_);
            send(c, "OK", 2, 0);
            recv(c, buffer, sizeof buffer, 0);
        }
        closesocket(c);
    }

    const DWORD delayMs_;
    const bool threadPerConnection_;
    SOCKET listener_ = INVALID_SOCKET;
    sockaddr_in address_ = {};
    std::atomic<bool> stop_{false};
    std::thread server_;
    // Only the server thread adds to it; stop() reads it after joining that thread.
    std::vector<std::thread> answering_;
};

#endif
