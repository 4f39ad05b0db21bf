// Run with the resolver pointed at an unused loopback address, so a failed
// look-up sends nothing off the machine.
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>

#include <cstdlib>
#include <thread>

#include "common/tcp_socket.h"
#include "net/tcp_connection.h"

using namespace varnex;
using varnex_tools::TcpServerSocket;

namespace {

TEST(SocketLookup, UnresolvableNameReportsTextAndLeavesNothing) {
    {
        const TcpConnection client("nohost.example", 5000, 2000, SocketMode::Blocking);
        EXPECT_EQ(client.failure().kind, ConnectFailure::Lookup);
        const std::string &text = client.failure().text;
        EXPECT_EQ(text.rfind("host lookup failed for nohost.example: WSA", 0), 0u) << text;
        EXPECT_NE(text.find("(1100"), std::string::npos) << text;
    }
    // The unit of the look-up thread goes when that thread ends.
    for (int i = 0; i < 200 && socketUsers() != 0; ++i) Sleep(10);
    EXPECT_EQ(socketUsers(), 0);
}

// The resolver of this namespace, made silent: it takes queries and never answers.
class SilentResolver {
public:
    SilentResolver() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        char address[64] = {};
        if (!GetEnvironmentVariableA("VARNEX_TEST_RESOLVER", address, sizeof address)) return;
        socket_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in at = {};
        at.sin_family = AF_INET;
        at.sin_port = htons(53);
        at.sin_addr.s_addr = inet_addr(address);
        bound_ = bind(socket_, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0;
    }
    ~SilentResolver() {
        closesocket(socket_);
        WSACleanup();
    }
    bool bound() const { return bound_; }

private:
    SOCKET socket_ = INVALID_SOCKET;
    bool bound_ = false;
};

std::string failureOf(const std::string &host, int32_t limitMs) {
    const TcpConnection client(host, 5000, limitMs, SocketMode::Blocking);
    if (!client.failed()) return "connected";
    EXPECT_EQ(client.failure().kind, ConnectFailure::Lookup);
    return client.failure().text;
}

TEST(SocketLookup, ASilentResolverCostsTheLimitAndNamesTheLookUp) {
    SilentResolver resolver;
    ASSERT_TRUE(resolver.bound()) << "cannot bind the resolver address";
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(failureOf("slow.example", 400), "host lookup for slow.example timed out after 400 ms");
    const ULONGLONG first = GetTickCount64() - start;
    EXPECT_GE(first, 390u);
    EXPECT_LT(first, 5000u);  // the resolver itself would take about 10 s
    // Threads asking for the same name at once share its one running look-up.
    std::string second, third;
    start = GetTickCount64();
    std::thread other([&] { second = failureOf("slow.example", 300); });
    third = failureOf("slow.example", 300);
    other.join();
    EXPECT_EQ(second, "host lookup for slow.example timed out after 300 ms");
    EXPECT_EQ(third, second);
    EXPECT_LT(GetTickCount64() - start, 5000u);
    // A dotted address needs no look-up, so the silent resolver cannot hold it.
    TcpServerSocket listener(0, 4, 0);
    EXPECT_FALSE(TcpConnection("127.0.0.1", listener.boundPort(), 400, SocketMode::Blocking).failed());
}

}  // namespace
