// Run with the resolver pointed at an unused loopback address, so a failed
// look-up sends nothing off the machine.
#include <gtest/gtest.h>

#include "net/tcp_socket.h"

using namespace varnex;

namespace {

TEST(SocketLookup, UnresolvableNameRaisesTextAndLeavesNothing) {
    try {
        TcpClientSocket client("nohost.example", 5000, 2000);
        FAIL() << "connected";
    } catch (const std::string &text) {
        EXPECT_EQ(text.rfind("host lookup failed for nohost.example: WSA", 0), 0u) << text;
        EXPECT_NE(text.find("(1100"), std::string::npos) << text;
    }
    EXPECT_EQ(socketUsers(), 0);
}

}  // namespace
