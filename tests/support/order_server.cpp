#include "support/order_server.h"

#include <windows.h>

#include <memory>

namespace varnex_test {

using varnex_tools::SocketSelector;
using varnex_tools::TcpSocket;

OrderServer::OrderServer(Answer answer)
    : answer_(std::move(answer)),
      listener_(0, 8, 0),
      port_(listener_.boundPort()),
      thread_([this] { serve(); }) {}

OrderServer::~OrderServer() {
    stopping_ = true;
    varnex_tools::TcpClientSocket wake("127.0.0.1", port_, 2000);  // unblocks accept
    thread_.join();
}

std::vector<std::string> OrderServer::messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

void OrderServer::serve() {
    while (!stopping_) {
        std::string failure;
        std::unique_ptr<TcpSocket> connection(listener_.acceptConnection(&failure));
        if (!failure.empty()) return;
        if (!connection || stopping_) continue;
        SocketSelector ready(*connection, 5000u);
        const std::string message = connection->receiveAvailable();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            messages_.push_back(message);
        }
        answer_(*connection);
    }
}

OrderServer::Answer OrderServer::replies(std::vector<std::string> parts, int pauseMs) {
    return [parts, pauseMs](const TcpSocket &connection) {
        for (size_t i = 0; i < parts.size(); ++i) {
            if (i > 0 && pauseMs > 0) Sleep(pauseMs);
            connection.sendBytes(parts[i]);
        }
        // Give the client time to read before this side closes.
        SocketSelector closed(connection, 5000u);
    };
}

void OrderServer::silent(const TcpSocket &connection) { SocketSelector closed(connection, 10000u); }

FlappingServer::FlappingServer(int upMs, int downMs)
    : upMs_(upMs), downMs_(downMs), port_(0), thread_([this] { run(); }) {
    while (port_.load() == 0) Sleep(1);
}

FlappingServer::~FlappingServer() {
    stopping_ = true;
    thread_.join();
}

std::vector<std::string> FlappingServer::acknowledged() {
    std::lock_guard<std::mutex> lock(mutex_);
    return acknowledged_;
}

void FlappingServer::run() {
    varnex_tools::TcpServerSocket listener(0, 8, 1, "127.0.0.1");
    port_ = listener.failed() ? -1 : listener.boundPort();
    // Down from the first connection on, so the first orders always miss.
    ULONGLONG phaseEnd = 0;
    bool up = false;
    while (!stopping_ && !listener.failed()) {
        if (!settled_ && phaseEnd != 0 && GetTickCount64() >= phaseEnd) {
            up = !up;
            phaseEnd = GetTickCount64() + (up ? upMs_ : downMs_);
        }
        SocketSelector pending(listener, 20u);
        if (!pending.isReady(listener)) continue;
        std::unique_ptr<TcpSocket> connection(listener.acceptConnection());
        if (!connection) continue;
        if (phaseEnd == 0) phaseEnd = GetTickCount64() + downMs_;
        if (!up && !settled_) continue;  // closed unread
        SocketSelector arrived(*connection, 2000u);
        const std::string order = connection->receiveAvailable();
        if (order.empty()) continue;
        connection->sendBytes("OK");
        {
            std::lock_guard<std::mutex> lock(mutex_);
            acknowledged_.push_back(order);
        }
        SocketSelector closed(*connection, 2000u);
    }
}

DownServer::DownServer(Kind kind)
    : kind_(kind), listener_(0, kind == Unreachable ? 0 : 8, 1, "127.0.0.1"), port_(listener_.boundPort()) {
    if (kind_ == Refusing) {
        sockaddr_in at = varnex::ipv4Address(0, inet_addr("127.0.0.1"));
        int length = sizeof at;
        bind(refuser_.nativeHandle(), reinterpret_cast<sockaddr *>(&at), sizeof at);
        getsockname(refuser_.nativeHandle(), reinterpret_cast<sockaddr *>(&at), &length);
        port_ = ntohs(at.sin_port);
    }
    if (kind_ == Unreachable) {
        // Connections that fill the backlog; the first that cannot connect
        // shows that further attempts go unanswered.
        for (int i = 0; i < 8; ++i) {
            auto filler = std::make_unique<varnex_tools::TcpClientSocket>("127.0.0.1", port_, 300,
                                                                          varnex::SocketMode::NonBlocking);
            if (filler->failed()) break;
            fillers_.push_back(std::move(filler));
        }
    }
    thread_ = std::thread([this] { run(); });
}

DownServer::~DownServer() {
    stopping_ = true;
    thread_.join();
}

std::vector<std::string> DownServer::acknowledged() {
    std::lock_guard<std::mutex> lock(mutex_);
    return acknowledged_;
}

void DownServer::run() {
    std::vector<std::unique_ptr<TcpSocket>> hung;
    const TcpSocket &accepting = kind_ == Refusing ? refuser_ : listener_;
    bool listening = kind_ != Refusing;
    while (!stopping_ && !accepting.failed()) {
        const bool up = back_;
        if (up) {
            hung.clear();
            fillers_.clear();
            if (!listening) listening = listen(refuser_.nativeHandle(), 8) == 0;
        }
        if (!up && kind_ != Hung) {
            Sleep(5);
            continue;
        }
        SocketSelector pending(accepting, 20u);
        if (!pending.isReady(accepting)) continue;
        const SOCKET accepted = accept(accepting.nativeHandle(), nullptr, nullptr);
        if (accepted == INVALID_SOCKET) continue;
        std::unique_ptr<TcpSocket> connection(new TcpSocket(accepted));
        if (!back_) {
            ++acceptedWhileDown_;
            hung.push_back(std::move(connection));  // kept open, never answered
            continue;
        }
        SocketSelector arrived(*connection, 2000u);
        const std::string order = connection->receiveAvailable();
        if (order.empty()) continue;  // a filler or a client that gave up
        // A connection the kernel completed while the server was down may
        // hold an order whose client gave up and left: it hears no "OK".
        if (connection->receiveWithin(0).status == varnex::Received::Closed) continue;
        connection->sendBytes("OK");
        {
            std::lock_guard<std::mutex> lock(mutex_);
            acknowledged_.push_back(order);
        }
        SocketSelector closed(*connection, 2000u);
    }
}

}  // namespace varnex_test
