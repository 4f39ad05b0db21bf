#include "text/ipv4_text.h"

#include <gtest/gtest.h>

using namespace varnex;

namespace {

TEST(Ipv4Text, OnlyPlainDottedQuadsAreReadAndInNetworkOrder) {
    const struct {
        const char *text;
        bool taken;
        uint32_t address;
    } cases[] = {
        {"127.0.0.1", true, 0x0100007Fu},
        {"0.0.0.0", true, 0},
        {"255.255.255.255", true, 0xFFFFFFFFu},
        {"10.20.30.40", true, 0x281E140Au},
        // Left to the system, which reads these forms its own way.
        {"127.1", false, 0},
        {"010.0.0.1", false, 0},
        {"0x7f.0.0.1", false, 0},
        {"1.2.3.256", false, 0},
        {"1.2.3.4.5", false, 0},
        {"1.2.3.", false, 0},
        {"1..3.4", false, 0},
        {" 1.2.3.4", false, 0},
        {"1.2.3.4 ", false, 0},
        {"1.2.3.1000", false, 0},
        {"localhost", false, 0},
        {"", false, 0},
    };
    for (const auto &c : cases) {
        uint32_t address = 0xDEADBEEFu;
        EXPECT_EQ(parseDottedQuad(c.text, address), c.taken) << c.text;
        EXPECT_EQ(address, c.taken ? c.address : 0xDEADBEEFu) << c.text;
    }
}

TEST(Ipv4Text, PortsSwapToNetworkOrder) {
    EXPECT_EQ(networkPort(0x1F90), 0x901Fu);
    EXPECT_EQ(networkPort(0x12345), 0x4523u);  // only the low 16 bits
}

}  // namespace
