// The loopback order server of the TCP benchmarks: answers "OK" to each
// connection's first bytes (after an optional delay), then waits for the
// client to close. Winsock must be started before one is made.
#ifndef VARNEX_BENCH_ACK_SERVER_H
#define VARNEX_BENCH_ACK_SERVER_H

#include <winsock2.h>
// windows.h after winsock2.h, which it would otherwise pull in the old winsock.h for.
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// A socket listening on a free loopback port; `address` gets the port.
inline SOCKET listenOnLoopback(sockaddr_in &address) {
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
    listen(listener, 64);
    int length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
    return listener;
}

class AckServer {
public:
    // One thread accepts and hands each connection to one of `workers`
    // threads, so that up to that many orders are answered at once. Made
    // threads are kept: under Wine a new thread costs milliseconds, and
    // several threads blocked in accept on one socket take turns, either of
    // which would make the server, not the client, the limit.
    AckServer(DWORD ackDelayMs, int workers) : delayMs_(ackDelayMs) {
        listener_ = listenOnLoopback(address_);
        for (int i = 0; i < workers; ++i) workers_.emplace_back([this] { work(); });
        acceptor_ = std::thread([this] { acceptAll(); });
    }
    ~AckServer() { stop(); }
    AckServer(const AckServer &) = delete;
    AckServer &operator=(const AckServer &) = delete;

    const sockaddr_in &address() const { return address_; }
    int port() const { return ntohs(address_.sin_port); }

    // Wakes the acceptor with a connection of its own (a socket closed under
    // a blocked accept is not promised to wake it), then ends every worker
    // with an empty hand-over and joins them all.
    void stop() {
        if (!acceptor_.joinable()) return;
        stop_ = true;
        SOCKET wake = socket(AF_INET, SOCK_STREAM, 0);
        connect(wake, reinterpret_cast<const sockaddr *>(&address_), sizeof address_);
        closesocket(wake);
        acceptor_.join();
        closesocket(listener_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (size_t i = 0; i < workers_.size(); ++i) waiting_.push_back(INVALID_SOCKET);
        }
        ready_.notify_all();
        for (std::thread &worker : workers_) worker.join();
        workers_.clear();
    }

private:
    void acceptAll() {
        while (!stop_) {
            SOCKET c = accept(listener_, nullptr, nullptr);
            if (c == INVALID_SOCKET) return;
            if (stop_) {
                closesocket(c);
                return;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                waiting_.push_back(c);
            }
            ready_.notify_one();
        }
    }

    void work() {
        for (;;) {
            SOCKET c;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [this] { return !waiting_.empty(); });
                c = waiting_.front();
                waiting_.pop_front();
            }
            if (c == INVALID_SOCKET) return;
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
    SOCKET listener_ = INVALID_SOCKET;
    sockaddr_in address_ = {};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<SOCKET> waiting_;  // guarded by mutex_; INVALID_SOCKET ends a worker
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

#endif
