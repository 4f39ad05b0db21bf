// Leaks: a host that sends a hundred thousand signals, thousands of them
// relayed over the pipes and to a loopback TCP server, ends with the handles,
// threads and memory it had once its symbols were known.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "integration/host_runner.h"
#include "proof/proof_table.h"
#include "support/order_server.h"

using namespace varnex_test;

namespace {

using LeaksProof = HostTest;

std::string n(long long value) { return std::to_string(value); }

long long memoryIn(const std::string &output, const std::string &label) {
    const size_t at = output.find("MEMORY " + label + " ");
    if (at == std::string::npos) return -1;
    long long bytes = -1;
    std::sscanf(output.c_str() + at, "MEMORY %*s bytes=%lld", &bytes);
    return bytes;
}

TEST_F(LeaksProof, HundredThousandSignalsWithThousandsOfRelaysLeaveNothingBehind) {
    constexpr int kSymbols = 1000;
    constexpr int kRounds = 100;     // one signal per symbol each round
    constexpr int kTcpSymbols = 20;  // the symbols that change every round
    // Every symbol's first signal is a change; after that only the TCP
    // symbols change, so the rest are unchanged signals through the book.
    constexpr long kPipeRelays = kSymbols + (kRounds - 1) * kTcpSymbols;
    constexpr long kTcpRelays = kRounds * kTcpSymbols;

    OrderServer server(OrderServer::replies({"OK"}));
    std::string ids, sections;
    for (int s = 0; s < kTcpSymbols; ++s) {
        ids += (s ? "," : "") + std::string("S") + n(s);
        sections += "[SC-S" + n(s) + "]\r\nserverPort=" + n(server.port()) + "\r\nackTimeout=5000\r\n";
    }
    writeIni(
        settingIni(folder, "signalMode=False\r\nlogMode=False\r\nvarnexMode=True\r\nsocketClient=True\r\n") +
        "[SocketClient]\r\nclientID=" + ids + "\r\n" + sections);

    HostProcess receiver(folder, "receiver.txt",
                         "register\necho|READY\nwaitorders|" + n(kPipeRelays) + "|120000\necho|DONE\n");
    ASSERT_TRUE(receiver.waitForOutput("READY", 20000));

    // The first round brings every symbol into the book and makes the first
    // relays, so Winsock's start-up and the kept pipe connection are in place
    // before the counts are taken.
    const ULONGLONG start = GetTickCount64();
    const HostResult sender =
        runHost(folder, "initial\nmemory|start\nspread|1|1|" + n(kSymbols) + "|S|" + n(kTcpSymbols) +
                            "\ncounts|before\nmemory|before\nspread|2|" + n(kRounds) + "|" + n(kSymbols) +
                            "|S|" + n(kTcpSymbols) + "\ncounts|after\nmemory|after\n");
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_EQ(sender.exitCode, 0u) << sender.output;
    EXPECT_TRUE(receiver.waitForOutput("DONE", 60000));
    const std::string received = receiver.finish().output;

    const auto before = countsIn(sender.output, "before"), after = countsIn(sender.output, "after");
    const long long memoryStart = memoryIn(sender.output, "start");
    const long long memoryBefore = memoryIn(sender.output, "before"),
                    memoryAfter = memoryIn(sender.output, "after");
    ASSERT_GT(before.first, 0) << sender.output;
    ASSERT_GT(before.second, 0) << sender.output;
    ASSERT_GT(memoryBefore, 0) << sender.output;
    ASSERT_GT(memoryAfter, 0) << sender.output;
    EXPECT_EQ(after.first, before.first);
    EXPECT_EQ(after.second, before.second);
    // No symbol is new after the first round, so the book does not grow. The
    // bound is 21 bytes for each of the 99000 later signals, or 530 bytes for
    // each of their 3960 relays (pipe and TCP); the first round, with 1000 new
    // symbols, shows that the measure moves.
    const long long growth = memoryAfter - memoryBefore;
    EXPECT_LT(growth, 2 << 20);

    const long pipeOrders = static_cast<long>(countOf(received, "ORDER "));
    const long tcpOrders = static_cast<long>(server.messages().size());
    EXPECT_EQ(pipeOrders, kPipeRelays);
    EXPECT_EQ(tcpOrders, kTcpRelays);
    // The last round's order of a TCP symbol, as the pipe carried it.
    EXPECT_EQ(countOf(received, "ORDER S0," + n(kRounds) + "," + n(kRounds) + ".5\r\n"), 1u);

    char memoryText[96];
    std::snprintf(memoryText, sizeof memoryText, "%+.2f MiB (the first round, %d new symbols: %+.2f MiB)",
                  growth / 1048576.0, kSymbols, (memoryBefore - memoryStart) / 1048576.0);
    recordFigures("leaks: signals and relays",
                  n(static_cast<long long>(kSymbols) * kRounds) + " signals over " + n(kSymbols) +
                      " symbols, " + n(tcpOrders) + " TCP + " + n(pipeOrders) + " pipe relays in " +
                      n(took / 1000) + " s: handles " + n(before.first) + "->" + n(after.first) +
                      ", threads " + n(before.second) + "->" + n(after.second) + ", memory " + memoryText);
}

}  // namespace
