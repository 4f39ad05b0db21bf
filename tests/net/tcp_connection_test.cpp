// The relay's connection against loopback ports that refuse, never answer or
// are given up on: each failure's kind and its text.
#include "net/tcp_connection.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>

#include "common/tcp_socket.h"
#include "support/order_server.h"

using namespace varnex;
using varnex_test::DownServer;
using varnex_tools::TcpServerSocket;

namespace {

uint32_t loopback() { return inet_addr("127.0.0.1"); }

void expectFailure(const TcpConnection &connection, ConnectFailure kind, const std::string &text) {
    EXPECT_EQ(connection.failure().kind, kind) << connection.failure().text;
    EXPECT_EQ(connection.failure().text, text);
}

TEST(TcpConnection, ARefusedConnectIsAConnectFailureNamingTheWinsockError) {
    int32_t closedPort;
    {
        TcpServerSocket probe(0, 1, 0);
        closedPort = probe.boundPort();
    }
    const int32_t users = socketUsers();
    const std::string refused = "connect failed: WSAECONNREFUSED (10061) Connection refused.";
    expectFailure(TcpConnection("127.0.0.1", closedPort, -1, SocketMode::Blocking), ConnectFailure::Connect,
                  refused);
    expectFailure(TcpConnection(loopback(), closedPort, 2000, SocketMode::NonBlocking),
                  ConnectFailure::Connect, refused);
    const TcpConnection noPort("127.0.0.1", 0, 2000, SocketMode::NonBlocking);
    EXPECT_EQ(noPort.failure().kind, ConnectFailure::Connect);
    EXPECT_EQ(noPort.failure().text.rfind("connect failed: WSA", 0), 0u) << noPort.failure().text;
    EXPECT_EQ(socketUsers(), users);
}

// A port whose listener takes no more connections leaves an attempt
// unanswered: it runs out of time, or ends at once at a stop.
TEST(TcpConnection, AnUnansweredConnectRunsOutOfTimeOrEndsAtTheStop) {
    DownServer server(DownServer::Unreachable);
    expectFailure(TcpConnection(loopback(), server.port(), 300, SocketMode::NonBlocking),
                  ConnectFailure::Connect, "connect timed out after 300 ms");
    const HANDLE stop = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    expectFailure(TcpConnection(loopback(), server.port(), 120000, SocketMode::NonBlocking, stop),
                  ConnectFailure::Stopped, "connect stopped: the library is unloading");
    CloseHandle(stop);
}

}  // namespace
