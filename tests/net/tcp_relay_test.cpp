// The endpoint table from real INI files, and one order exchange against
// loopback servers that answer well, badly or not at all.
#include "net/tcp_relay.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "net/tcp_socket.h"
#include "support/order_server.h"
#include "support/temp_folder.h"

using namespace varnex;
using varnex_test::OrderServer;

namespace {

EndpointTable loadFrom(const std::string &ini) {
    varnex_test::TempFolder folder;
    const std::string path = folder.file("Varnex.ini");
    varnex_test::writeFile(path, ini);
    EndpointTable table;
    loadEndpoints(SettingsFile(path.c_str()), table);
    return table;
}

std::string describe(const EndpointTable &table) {
    std::string out;
    for (const auto &entry : table)
        out += "[" + entry.first + "]=" + entry.second.host.get() + ":" + std::to_string(entry.second.port) +
               "/" + std::to_string(entry.second.ackTimeout) + " ";
    return out;
}

TEST(Endpoints, EachIdentifierReadsItsOwnSection) {
    EXPECT_EQ(describe(loadFrom(
                  "[SocketClient]\r\nclientID=A,B\r\n[SC-A]\r\nserverIp=10.0.0.1\r\nserverPort=5000\r\n"
                  "[SC-B]\r\nserverPort=6000\r\nackTimeout=250\r\n")),
              "[A]=10.0.0.1:5000/5000 [B]=127.0.0.1:6000/250 ");
}

TEST(Endpoints, FirstListingWinsAndEmptyIdentifiersAreKept) {
    EXPECT_EQ(describe(loadFrom("[SocketClient]\r\nclientID=A,A\r\n[SC-A]\r\nserverPort=1\r\n")),
              "[A]=127.0.0.1:1/5000 ");
    EXPECT_EQ(describe(loadFrom("[SocketClient]\r\nclientID=A,B,\r\n[SC-]\r\nserverPort=7\r\n")),
              "[]=127.0.0.1:7/5000 [A]=127.0.0.1:0/5000 [B]=127.0.0.1:0/5000 ");
    EXPECT_EQ(describe(loadFrom("")), "[]=127.0.0.1:0/5000 ");
}

TEST(Endpoints, LeadingBlankBelongsToTheIdentifier) {
    const EndpointTable table =
        loadFrom("[SocketClient]\r\nclientID=A, B\r\n[SC- B]\r\nserverPort=9\r\n[SC-B]\r\nserverPort=8\r\n");
    EXPECT_EQ(table.count("B"), 0u);
    ASSERT_EQ(table.count(" B"), 1u);
    EXPECT_EQ(table.at(" B").port, 9);
}

class RelayTest : public ::testing::Test {
protected:
    // The log text; the failure line for standard error goes to `failure`.
    std::string relayTo(int port, int ackTimeout = 5000, const std::string &host = "127.0.0.1") {
        EndpointTable table;
        ClientEndpoint endpoint;
        endpoint.host.reset(static_cast<char *>(std::calloc(255, 1)));
        host.copy(endpoint.host.get(), 254);
        endpoint.port = port;
        endpoint.ackTimeout = ackTimeout;
        table.emplace("XYZ", std::move(endpoint));
        const TcpRelayOutcome outcome = relayOrder(table, "XYZ", "Order,3,101.5");
        failure = outcome.failure;
        return outcome.log;
    }
    std::string failure;
    std::string head(int port) {
        return "XYZ, tcp://127.0.0.1:" + std::to_string(port) + "\nOrder,3,101.5\n";
    }
};

TEST_F(RelayTest, ExactOkIsAcknowledged) {
    OrderServer server(OrderServer::replies({"OK"}));
    EXPECT_EQ(relayTo(server.port()), head(server.port()) + "OK\n");
    EXPECT_EQ(failure, "");
    EXPECT_EQ(server.messages(), std::vector<std::string>{"Order,3,101.5"});
}

TEST_F(RelayTest, OkSplitAcrossSegmentsIsAcknowledged) {
    OrderServer server(OrderServer::replies({"O", "K"}, 100));
    EXPECT_EQ(relayTo(server.port()), head(server.port()) + "OK\n");
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
    EXPECT_EQ(failure, "unexpected reply \"OK\\r\\n\"");
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
    EXPECT_EQ(failure + "\n", log.substr(head(server.port()).size()));
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
    EXPECT_EQ(failure, "acknowledgement timed out after 300 ms");
    OrderServer half(OrderServer::replies({"O", "K"}, 5000));
    EXPECT_EQ(relayTo(half.port(), 300),
              head(half.port()) + "acknowledgement timed out after 300 ms (received \"O\")\n");
}

TEST_F(RelayTest, RefusedPortAndPortZeroAreLoggedAfterTheFirstLine) {
    int32_t closedPort;
    {
        TcpServerSocket probe(0, 1, 0);
        closedPort = probe.boundPort();
    }
    EXPECT_EQ(relayTo(closedPort), "XYZ, tcp://127.0.0.1:" + std::to_string(closedPort) +
                                       "\nconnect failed: WSAECONNREFUSED (10061) Connection refused.\n");
    EXPECT_EQ(failure, "connect failed: WSAECONNREFUSED (10061) Connection refused.");
    EXPECT_EQ(relayTo(0).rfind("XYZ, tcp://127.0.0.1:0\nconnect failed: WSA", 0), 0u);
    EXPECT_EQ(socketUsers(), 0);
}

TEST_F(RelayTest, SymbolWithoutServerSendsNothing) {
    EndpointTable table;
    const TcpRelayOutcome outcome = relayOrder(table, "XYZ", "Order,1,1");
    EXPECT_EQ(outcome.log, "");
    EXPECT_EQ(outcome.failure, "");
}

}  // namespace
