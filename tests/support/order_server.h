// A loopback order server on a free port, run on a thread of the test and
// built on the socket layer itself. Each connection gets the first message
// the client sends, then `answer` decides what the server does with it.
#ifndef VARNEX_TESTS_ORDER_SERVER_H
#define VARNEX_TESTS_ORDER_SERVER_H

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/tcp_socket.h"

namespace varnex_test {

class OrderServer {
public:
    using Answer = std::function<void(const varnex_tools::TcpSocket &)>;
    explicit OrderServer(Answer answer);
    ~OrderServer();

    int port() const { return port_; }
    std::vector<std::string> messages();

    static Answer replies(std::vector<std::string> parts, int pauseMs = 0);
    // Waits (at most 10 s) until the client closes, sending nothing.
    static void silent(const varnex_tools::TcpSocket &connection);

private:
    void serve();
    Answer answer_;
    varnex_tools::TcpServerSocket listener_;
    int port_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<std::string> messages_;
    std::thread thread_;
};

// An order server that is down (closing every connection unanswered) for
// `downMs`, then up (answering every order "OK") for `upMs`, again and again,
// until settle() keeps it up for good. (Listening anew on the same port
// after a close leaves Wine refusing nothing and accepting nothing.)
class FlappingServer {
public:
    FlappingServer(int upMs, int downMs);
    ~FlappingServer();

    int port() const { return port_; }
    void settle() { settled_ = true; }
    // Every order it answered "OK", in order.
    std::vector<std::string> acknowledged();

private:
    void run();
    const int upMs_, downMs_;
    std::atomic<int> port_;
    std::atomic<bool> settled_{false};
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<std::string> acknowledged_;
    std::thread thread_;
};

// An order server that is down until back(), then answers every order
// "OK". Down, a Refusing server's port refuses connections, as a stopped
// server's does (bound, not yet listening); a Hung server accepts
// connections and never answers; an Unreachable one lets connection
// attempts go unanswered, as a switched-off machine does (a listener whose
// full backlog nobody accepts drops them).
class DownServer {
public:
    enum Kind { Refusing, Hung, Unreachable };
    explicit DownServer(Kind kind);
    ~DownServer();

    int port() const { return port_; }
    void back() { back_ = true; }
    // Connections it accepted while down.
    int acceptedWhileDown() const { return acceptedWhileDown_; }
    // Every order it answered "OK", in order.
    std::vector<std::string> acknowledged();

private:
    void run();
    const Kind kind_;
    varnex_tools::TcpServerSocket listener_;
    varnex_tools::TcpSocket refuser_;  // a Refusing server's: listens once it is back
    int port_;
    std::vector<std::unique_ptr<varnex_tools::TcpClientSocket>> fillers_;
    std::atomic<bool> back_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<int> acceptedWhileDown_{0};
    std::mutex mutex_;
    std::vector<std::string> acknowledged_;
    std::thread thread_;
};

}  // namespace varnex_test

#endif
