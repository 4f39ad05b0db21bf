// The TCP relay's endpoint table from real INI files.
#include "api/endpoint_table.h"

#include <gtest/gtest.h>

#include "config/settings_file.h"
#include "config/varnex_config.h"
#include "support/temp_folder.h"

using namespace varnex;

namespace {

EndpointTable loadFrom(const std::string &ini) {
    varnex_test::TempFolder folder;
    const std::string path = folder.file("Varnex.ini");
    varnex_test::writeFile(path, ini);
    return endpointTable(readEndpointSettings(SettingsFile(path.c_str())));
}

std::string describe(const EndpointTable &table) {
    std::string out;
    for (const auto &entry : table)
        out += "[" + entry.first + "]=" + entry.second.host + ":" + std::to_string(entry.second.port) + "/" +
               std::to_string(entry.second.ackTimeout) + " ";
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

}  // namespace
