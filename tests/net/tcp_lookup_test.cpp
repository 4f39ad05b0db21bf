// Run with the resolver pointed at an unused loopback address, so a failed
// look-up sends nothing off the machine.
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "common/tcp_socket.h"
#include "net/tcp_connection.h"
#include "support/import_redirect.h"

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

// The resolver calls of this program, by name, counted on the way in and on
// the way out through its import of gethostbyname.
using Resolve = hostent *(WSAAPI *)(const char *);
Resolve realResolve = nullptr;
std::mutex resolverMutex;
std::map<std::string, int> asked, answered;

hostent *WSAAPI countingResolve(const char *name) {
    {
        std::lock_guard<std::mutex> lock(resolverMutex);
        ++asked[name];
    }
    hostent *entry = realResolve(name);
    std::lock_guard<std::mutex> lock(resolverMutex);
    ++answered[name];
    return entry;
}

int callsFor(const std::map<std::string, int> &counts, const std::string &name) {
    std::lock_guard<std::mutex> lock(resolverMutex);
    const auto found = counts.find(name);
    return found == counts.end() ? 0 : found->second;
}

int allAsked() {
    std::lock_guard<std::mutex> lock(resolverMutex);
    int all = 0;
    for (const auto &entry : asked) all += entry.second;
    return all;
}

TEST(SocketLookup, ASilentResolverCostsTheLimitAndNamesTheLookUp) {
    SilentResolver resolver;
    ASSERT_TRUE(resolver.bound()) << "cannot bind the resolver address";
    ASSERT_TRUE(varnex_test::redirectImport(GetModuleHandleA(nullptr), "gethostbyname",
                                            reinterpret_cast<void *>(&countingResolve),
                                            reinterpret_cast<void **>(&realResolve), "WS2_32.dll"));
    // The caller gives up at its limit while the resolver still holds the
    // look-up (it would answer after about 10 s).
    EXPECT_EQ(failureOf("slow.example", 400), "host lookup for slow.example timed out after 400 ms");
    EXPECT_EQ(callsFor(asked, "slow.example"), 1);
    EXPECT_EQ(callsFor(answered, "slow.example"), 0);
    // Threads asking for the same name at once share its one running look-up.
    std::string second, third;
    std::thread other([&] { second = failureOf("pair.example", 300); });
    third = failureOf("pair.example", 300);
    other.join();
    EXPECT_EQ(second, "host lookup for pair.example timed out after 300 ms");
    EXPECT_EQ(third, second);
    EXPECT_EQ(callsFor(asked, "pair.example"), 1);
    EXPECT_EQ(callsFor(answered, "pair.example"), 0);
    // A dotted address needs no look-up, so the silent resolver cannot hold it.
    const int before = allAsked();
    TcpServerSocket listener(0, 4, 0);
    EXPECT_FALSE(TcpConnection("127.0.0.1", listener.boundPort(), 400, SocketMode::Blocking).failed());
    EXPECT_EQ(allAsked(), before);
}

}  // namespace
