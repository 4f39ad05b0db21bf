// One order exchange against loopback servers that answer well, badly or not at all.
#include "net/tcp_relay.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "common/tcp_socket.h"
#include "support/order_server.h"

using namespace varnex;
using varnex_test::OrderServer;
using varnex_tools::TcpServerSocket;
using varnex_tools::TcpSocket;

namespace {

class RelayTest : public ::testing::Test {
protected:
    // The one log text; the line for standard error goes to `console`.
    std::string relayTo(int64_t port, int ackTimeout = 5000) {
        const RelayOutcome outcome = relayOrder({"127.0.0.1", port, ackTimeout}, "XYZ", "Order,3,101.5");
        console = outcome.console;
        reached = outcome.reached;
        down = outcome.down;
        EXPECT_EQ(outcome.log.size(), 1u);
        return outcome.log.empty() ? std::string() : outcome.log.front();
    }
    std::string console;
    bool reached = false;
    bool down = false;
    std::string head(int port) {
        return "XYZ, tcp://127.0.0.1:" + std::to_string(port) + "\nOrder,3,101.5\n";
    }
};

TEST_F(RelayTest, ExactOkIsAcknowledged) {
    OrderServer server(OrderServer::replies({"OK"}));
    EXPECT_EQ(relayTo(server.port()), head(server.port()) + "OK\n");
    EXPECT_TRUE(reached);
    EXPECT_EQ(console, "");
    EXPECT_EQ(server.messages(), std::vector<std::string>{"Order,3,101.5"});
}

TEST_F(RelayTest, OkSplitAcrossSegmentsIsAcknowledged) {
    OrderServer server(OrderServer::replies({"O", "K"}, 100));
    EXPECT_EQ(relayTo(server.port()), head(server.port()) + "OK\n");
    EXPECT_TRUE(reached);
}

TEST_F(RelayTest, RepliesThatCannotBecomeOkEndTheWaitAtOnce) {
    for (const char *reply : {"NO", "OK\r\n", "OKAY", "X"}) {
        SCOPED_TRACE(reply);
        OrderServer server(OrderServer::replies({reply}));
        const ULONGLONG start = GetTickCount64();
        const std::string log = relayTo(server.port(), 60000);
        EXPECT_LT(GetTickCount64() - start, 30000u);  // far from the minute-long limit
        EXPECT_EQ(log.rfind(head(server.port()) + "unexpected reply \"", 0), 0u) << log;
    }
    OrderServer crlf(OrderServer::replies({"OK\r\n"}));
    EXPECT_EQ(relayTo(crlf.port()), head(crlf.port()) + "unexpected reply \"OK\\r\\n\"\n");
    EXPECT_FALSE(reached);
    EXPECT_EQ(console, "unexpected reply \"OK\\r\\n\"\r\n");
}

TEST_F(RelayTest, ServerResettingTheConnectionEndsTheWait) {
    OrderServer server([](const TcpSocket &c) {
        linger abort = {1, 0};  // closing with a zero linger sends a reset
        setsockopt(c.nativeHandle(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&abort),
                   sizeof abort);
        const_cast<TcpSocket &>(c).close();
    });
    const std::string log = relayTo(server.port(), 60000);
    EXPECT_EQ(log.rfind(head(server.port()) + "connection closed before acknowledgement", 0), 0u) << log;
    const std::string failureLine = log.substr(head(server.port()).size());
    EXPECT_EQ(console, failureLine.substr(0, failureLine.size() - 1) + "\r\n");
}

TEST_F(RelayTest, ServerClosingFirstEndsTheWait) {
    OrderServer server([](const TcpSocket &) {});
    EXPECT_EQ(relayTo(server.port(), 60000),
              head(server.port()) + "connection closed before acknowledgement\n");
    OrderServer half([](const TcpSocket &c) { c.sendBytes("O"); });
    EXPECT_EQ(relayTo(half.port(), 60000),
              head(half.port()) + "connection closed before acknowledgement (received \"O\")\n");
}

TEST_F(RelayTest, SilentServerIsBoundedByAckTimeout) {
    OrderServer server(OrderServer::silent);
    EXPECT_EQ(relayTo(server.port(), 300), head(server.port()) + "acknowledgement timed out after 300 ms\n");
    EXPECT_FALSE(reached);
    EXPECT_EQ(console, "acknowledgement timed out after 300 ms\r\n");
    OrderServer half(OrderServer::replies({"O", "K"}, 5000));
    EXPECT_EQ(relayTo(half.port(), 300),
              head(half.port()) + "acknowledgement timed out after 300 ms (received \"O\")\n");
    // A stop ends the wait long before its time-out, and says why.
    const HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread setter([stop] {
        Sleep(100);
        SetEvent(stop);
    });
    const RelayOutcome stopped =
        relayOrder({"127.0.0.1", server.port(), 120000}, "XYZ", "Order,3,101.5", stop);
    EXPECT_EQ(stopped.log,
              std::vector<std::string>{head(server.port()) +
                                       "acknowledgement wait stopped: the library is unloading\n"});
    EXPECT_FALSE(stopped.reached);
    setter.join();
    // Already set, it ends the relay at its first wait.
    const RelayOutcome ended = relayOrder({"127.0.0.1", server.port(), 120000}, "XYZ", "O", stop);
    EXPECT_NE(ended.log.front().find(" stopped: the library is unloading\n"), std::string::npos)
        << ended.log.front();
    CloseHandle(stop);
}

TEST_F(RelayTest, RefusedPortAndNoPortAreLoggedAfterTheFirstLine) {
    int32_t closedPort;
    {
        TcpServerSocket probe(0, 1, 0);
        closedPort = probe.boundPort();
    }
    EXPECT_EQ(relayTo(closedPort), "XYZ, tcp://127.0.0.1:" + std::to_string(closedPort) +
                                       "\nconnect failed: WSAECONNREFUSED (10061) Connection refused.\n");
    EXPECT_FALSE(reached);
    EXPECT_TRUE(down);
    EXPECT_EQ(console, "connect failed: WSAECONNREFUSED (10061) Connection refused.\r\n");
    // No port at all, or one past 65535 that would wrap onto another: nothing is sent.
    for (const int64_t port : {int64_t(0), int64_t(-1), int64_t(65536) + closedPort, int64_t(80000000000)}) {
        const std::string text = std::to_string(port);
        const RelayOutcome outcome = relayOrder({"127.0.0.1", port, 5000}, "XYZ", "Order,3,101.5");
        EXPECT_EQ(outcome.log,
                  std::vector<std::string>{"XYZ, tcp://127.0.0.1:" + text + "\nnot sent: serverPort " + text +
                                           " is not a TCP port (1 to 65535)\n"});
        EXPECT_FALSE(outcome.reached || outcome.down);
    }
    EXPECT_EQ(socketUsers(), 0);
}

TEST(Relay, OnlyAFailureOfThisMachineLeavesTheServerUp) {
    for (const ConnectFailure kind :
         {ConnectFailure::StartFailed, ConnectFailure::NoSocket, ConnectFailure::Unhandled})
        EXPECT_FALSE(marksServerDown(kind)) << static_cast<int>(kind);
    for (const ConnectFailure kind :
         {ConnectFailure::Lookup, ConnectFailure::Connect, ConnectFailure::Stopped})
        EXPECT_TRUE(marksServerDown(kind)) << static_cast<int>(kind);
}

TEST(Relay, SymbolWithoutServerLogsOneEmptyText) {
    const RelayOutcome outcome = noEndpointOutcome();
    EXPECT_FALSE(outcome.reached);
    EXPECT_EQ(outcome.log, std::vector<std::string>{""});
    EXPECT_EQ(outcome.console, "");
}

}  // namespace
