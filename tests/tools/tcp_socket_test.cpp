// The socket layer against real loopback peers.
#include "common/tcp_socket.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>

#include <memory>
#include <thread>
#include <vector>

using namespace varnex;
using namespace varnex_tools;

namespace {

// What a socket that failed says; a usable one holds a handle.
std::string failureOf(const TcpSocket &socket) {
    if (!socket.failed()) return "no failure";
    EXPECT_EQ(socket.nativeHandle(), INVALID_SOCKET);
    return socket.failure();
}

// A connected pair through a listening socket on a free port.
struct Pair {
    TcpServerSocket listener{0, 4, 0};
    TcpClientSocket client{"127.0.0.1", listener.boundPort()};
    std::unique_ptr<TcpSocket> server{listener.acceptConnection()};
};

TEST(SocketLayer, StartupCountFollowsEveryObjectAndCopy) {
    ASSERT_EQ(socketUsers(), 0);
    {
        TcpSocket first;
        EXPECT_EQ(socketUsers(), 1);
        {
            TcpSocket copy(first);
            EXPECT_EQ(socketUsers(), 2);
            EXPECT_EQ(first.shareCount(), 2);
            TcpSocket other;
            other = first;  // gives up its own socket, shares first's
            EXPECT_EQ(socketUsers(), 3);
            EXPECT_EQ(first.shareCount(), 3);
        }
        EXPECT_EQ(first.shareCount(), 1);
        EXPECT_NE(first.nativeHandle(), INVALID_SOCKET);
    }
    EXPECT_EQ(socketUsers(), 0);
    TcpSocket again;  // started again after the clean-up
    EXPECT_EQ(socketUsers(), 1);
}

// Copies made and dropped on several threads at once leave the share count
// exact: a lost update would close the handle under a holder or never.
TEST(SocketLayer, CopiesOnManyThreadsKeepTheShareCountExact) {
    TcpSocket original;
    ASSERT_FALSE(original.failed());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&original] {
            for (int i = 0; i < 20000; ++i) TcpSocket copy(original);
        });
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(original.shareCount(), 1);
    EXPECT_EQ(socketUsers(), 1);
    EXPECT_NE(original.nativeHandle(), INVALID_SOCKET);
}

TEST(SocketLayer, LastCopyClosesTheHandleAndCloseIsSeenByAllCopies) {
    Pair pair;
    ASSERT_TRUE(pair.server);
    { TcpSocket copy(pair.client); }
    pair.client.sendBytes("X");  // still open after the copy went
    SocketSelector arrived(*pair.server, 2000u);
    EXPECT_EQ(pair.server->receiveAvailable(), "X");
    TcpSocket copy(pair.client);
    copy.close();
    EXPECT_EQ(pair.client.nativeHandle(), INVALID_SOCKET);
    SocketSelector closed(*pair.server, 2000u);
    EXPECT_TRUE(closed.isReady(*pair.server));
    EXPECT_EQ(pair.server->receiveAvailable(), "");
    EXPECT_EQ(pair.server->receiveAvailable(), "");
}

TEST(SocketLayer, ReceiveAvailableTakesEverythingWaitingWithoutBlocking) {
    Pair pair;
    EXPECT_EQ(pair.server->receiveAvailable(), "");
    const std::string bulk(3000, 'q');
    pair.client.sendBytes(bulk);
    std::string got;
    for (int i = 0; i < 50 && got.size() < bulk.size(); ++i) {
        SocketSelector ready(*pair.server, 1000u);
        got += pair.server->receiveAvailable();
    }
    EXPECT_EQ(got, bulk);
}

TEST(SocketLayer, LinesKeepTheirLineFeedAndTheLastEndsAtClose) {
    Pair pair;
    pair.client.sendLine("AB");
    pair.client.sendBytes("CD");
    pair.client.close();
    EXPECT_EQ(pair.server->receiveLine(), "AB\n");
    EXPECT_EQ(pair.server->receiveLine(), "CD");
}

TEST(SocketLayer, SendLineAddsOneLineFeed) {
    Pair pair;
    pair.client.sendLine("X");
    pair.client.close();
    std::string got;
    for (std::string part; !(part = pair.server->receiveLine()).empty();) got += part;
    EXPECT_EQ(got, "X\n");
}

TEST(SocketLayer, NonBlockingServerWithNothingPendingAcceptsNone) {
    TcpServerSocket listener(0, 4, 1);
    EXPECT_EQ(listener.acceptConnection(), nullptr);
}

TEST(SocketLayer, PortInUseRaisesInvalidSocketAndLeavesNothing) {
    TcpServerSocket first(0, 4, 0);
    const int32_t users = socketUsers();
    EXPECT_EQ(failureOf(TcpServerSocket(first.boundPort(), 4, 0)), "INVALID_SOCKET");
    EXPECT_EQ(socketUsers(), users);
}

TEST(SocketLayer, SelectorHoldsASocketOnceAndPollsAtOnce) {
    Pair pair;
    SocketSelector nothing(*pair.server, pair.server.get(), 1);
    EXPECT_FALSE(nothing.isReady(*pair.server));
    EXPECT_FALSE(nothing.isReady(pair.client));
    pair.client.sendBytes("Z");
    SocketSelector some(*pair.server, &pair.client, 0);
    EXPECT_TRUE(some.isReady(*pair.server));
    EXPECT_FALSE(some.isReady(pair.client));
}

// A client socket takes over the connection the library would make: its
// socket with one start-up unit of its own, or its failure text.
TEST(SocketLayer, AClientTakesTheConnectionsSocketOrItsFailure) {
    int32_t closedPort;
    {
        TcpServerSocket listener(0, 4, 0);
        closedPort = listener.boundPort();
        const int32_t users = socketUsers();
        TcpClientSocket client("127.0.0.1", listener.boundPort(), 2000);
        EXPECT_EQ(failureOf(client), "no failure");
        EXPECT_NE(client.nativeHandle(), INVALID_SOCKET);
        EXPECT_EQ(socketUsers(), users + 1);
    }
    const int32_t users = socketUsers();
    EXPECT_EQ(failureOf(TcpClientSocket("127.0.0.1", closedPort)),
              "connect failed: WSAECONNREFUSED (10061) Connection refused.");
    EXPECT_EQ(socketUsers(), users);
}

TEST(SocketLayer, PortsUseTheirLow16Bits) {
    TcpServerSocket listener(0, 4, 0);
    TcpClientSocket client("127.0.0.1", listener.boundPort() + 65536);
    std::unique_ptr<TcpSocket> accepted(listener.acceptConnection());
    EXPECT_TRUE(accepted);
}

}  // namespace
