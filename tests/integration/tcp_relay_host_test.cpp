// The TCP relay through a real host process: endpoints read from Varnex.ini
// by initial, orders to a loopback server run by this test.
#include <gtest/gtest.h>
#include <windows.h>

#include "integration/host_runner.h"
#include "support/order_server.h"

using namespace varnex_test;

namespace {

using TcpRelayHostTest = HostTest;

TEST_F(TcpRelayHostTest, ChangedPositionsAreAcknowledgedAndFailuresDoNotStopTheSignalFiles) {
    OrderServer server(OrderServer::replies({"OK"}));
    const std::string port = std::to_string(server.port()), closed = std::to_string(closedPort());
    // A port past 65535 that would wrap onto the server's, and a list of a
    // hundred identifiers, far longer than the 254 characters of a usual value.
    const std::string wrapped = std::to_string(server.port() + 65536);
    std::string ids = "ABC,DEAD,WRAP", sections;
    for (int i = 0; i < 97; ++i) {
        ids += ",S" + std::to_string(i);
        sections += "[SC-S" + std::to_string(i) + "]\r\nserverPort=" + port + "\r\n";
    }
    // Every destination on (no pipe receiver), nothing made good afterwards,
    // and no status file, whose rewrites the file count would take in.
    const std::string settings =
        "logMode=True\r\nsocketClient=True\r\nvarnexMode=True\r\nsignalDebugMode=True\r\n"
        "resendMode=False\r\nstatusMode=False\r\n[SocketClient]\r\nclientID=" +
        ids + "\r\n[SC-ABC]\r\nserverPort=" + port + "\r\n[SC-DEAD]\r\nserverPort=" + closed +
        "\r\n[SC-WRAP]\r\nserverPort=" + wrapped + "\r\n" + sections;
    HostResult run = runConfigured(folder, settings,
                                   "countfiles|" + folder.path() +
                                       "\nprocess|today|ABC|3|101.5\nfiles|changed\n"
                                       "process|today|ABC|3|101.5\nfiles|unchanged\n"
                                       "process|today|ABC|-1|12.5\n"
                                       "process|today|DEAD|1|2\n"
                                       "process|today|NONE|1|2\n"
                                       "process|today|WRAP|1|2\n"
                                       "spread|1|1|97|S|97\n"
                                       // The unload lets the console writer finish its lines first.
                                       "unload|0\n");
    ASSERT_TRUE(exitedCleanly(run));
    // The log and the debug file are opened once and kept open (the log's
    // lines still go in one append before each wait on a peer and one at the
    // end); a changed position makes the signal file's new copy, an unchanged
    // one opens nothing.
    EXPECT_TRUE(printed(run, "FILES changed 3\r\n"));
    EXPECT_TRUE(printed(run, "FILES unchanged 0\r\n"));
    std::vector<std::string> expected = {"Order,3,101.5", "Order,-1,12.5"};
    expected.resize(2 + 97, "Order,1,1.5");
    EXPECT_EQ(server.messages(), expected);
    const std::string log = readFile(folder.file("VarnexMsg.txt"));
    const std::string notAPort = "serverPort=" + wrapped + " is not a TCP port (1 to 65535)";
    EXPECT_EQ(countOf(log, "\t[SC-WRAP] " + notAPort + ": no order is sent to that server\r\n"), 1u) << log;
    EXPECT_NE(log.find("\tWRAP, tcp://127.0.0.1:" + wrapped + "\r\nnot sent: serverPort " + wrapped +
                       " is not a TCP port (1 to 65535)\r\n\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("\tABC, tcp://127.0.0.1:" + port + "\r\nOrder,3,101.5\r\nOK\r\n\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\tABC, tcp://127.0.0.1:" + port + "\r\nOrder,-1,12.5\r\nOK\r\n\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("\tDEAD, tcp://127.0.0.1:" + closed +
                       "\r\nconnect failed: WSAECONNREFUSED (10061) Connection refused.\r\n\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("NONE qty=\t1\r\n"), std::string::npos);
    EXPECT_EQ(countOf(log, "\t\r\n"), 1u);  // the empty relay text of the symbol without a server
    EXPECT_TRUE(printed(run, "connect failed: WSAECONNREFUSED"));
    EXPECT_EQ(unstampedLines(readFile(folder.file("DEAD.txt")), ' '), std::vector<std::string>{"1 2"});
    EXPECT_EQ(unstampedLines(readFile(folder.file("NONE.txt")), ' '), std::vector<std::string>{"1 2"});
}

TEST_F(TcpRelayHostTest, WithTheSwitchOffNoOrderIsSent) {
    OrderServer server(OrderServer::replies({"OK"}));
    const std::string settings =
        "logMode=True\r\nsocketClient=False\r\n[SocketClient]\r\nclientID=ABC\r\n[SC-ABC]\r\nserverPort=" +
        std::to_string(server.port()) + "\r\n";
    runConfigured(folder, settings, "process|today|ABC|3|101.5\n");
    EXPECT_TRUE(server.messages().empty());
    EXPECT_EQ(unstampedLines(readFile(folder.file("VarnexMsg.txt")), '\t'),
              (std::vector<std::string>{"ABC: 3,101.5", "ABC qty=\t3"}));
}

}  // namespace
