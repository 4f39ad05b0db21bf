// The pipe relay through real host processes on the system's pipe names:
// registration, same-process delivery, and one host sending to another.
#include <gtest/gtest.h>
#include <windows.h>

#include "common/system_errors.h"
#include "integration/host_runner.h"

using namespace varnex_test;
using Lines = std::vector<std::string>;

namespace {

using PipeRelayHostTest = HostTest;

TEST_F(PipeRelayHostTest, RegisteredHostReceivesItsOwnChangedPositions) {
    HostResult run =
        runConfigured(folder, "logMode=True\r\nvarnexMode=True\r\nsignalMode=False\r\n",
                      "register\nregister\nregisternull\n"
                      "process|today|ABC|1|12.5\nprocess|today|ABC|1|13\nprocess|today|ABC|2|13\n"
                      "waitorders|2|5000\n");
    ASSERT_TRUE(exitedCleanly(run));
    EXPECT_EQ(ordersIn(run.output), (Lines{"ABC,1,12.5", "ABC,2,13"}));
    const Lines lines = unstampedLines(log(folder), '\t');
    ASSERT_EQ(lines.size(), 13u);
    ASSERT_EQ(lines[0].rfind("RegisterOrderFunc: [", 0), 0u);
    const std::string address = lines[0].substr(20, 2 * sizeof(void *));
    for (char c : address)
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F')) << address;
    EXPECT_EQ(lines[0], "RegisterOrderFunc: [" + address + "], ok: 1");
    EXPECT_EQ(lines[1], "RegisterOrderFunc: [" + address + "], ok: 0");
    EXPECT_EQ(lines[2], "RegisterOrderFunc: [" + address + "], ok: 0");
    EXPECT_EQ(Lines(lines.begin() + 3, lines.end()),
              (Lines{"ABC: 1,12.5", "ABC qty=\t1", "0. checkSignal: ABC,1,12.5",
                     "1. callBackOrderFunc: ABC,1,12.5, OK:true", "ABC: 1,13", "ABC qty=\t1 preQty=\t1",
                     "ABC: 2,13", "ABC qty=\t2 preQty=\t1", "0. checkSignal: ABC,2,13",
                     "1. callBackOrderFunc: ABC,2,13, OK:true"}));
}

// The unload names what is still owed, once per symbol and destination.
TEST_F(PipeRelayHostTest, WithoutReceiverTheRelayReportsFalseAtOnceAndTheUnloadSaysWhatIsOwed) {
    HostResult run =
        runConfigured(folder, "logMode=True\r\nvarnexMode=True\r\n", "process|today|ABC|1|2\nunload|0\n");
    EXPECT_TRUE(exitedCleanly(run));
    EXPECT_EQ(unstampedLines(log(folder), '\t'),
              (Lines{"ABC: 1,2", "ABC qty=\t1", "0. checkSignal: ABC,1,2",
                     "1. callBackOrderFunc: ABC,1,2, OK:false",
                     "pipe: no receiver: " + varnex::systemErrorText(ERROR_FILE_NOT_FOUND),
                     "ABC: 1,2 still owed to pipe at unload"}));
    EXPECT_EQ(unstampedLines(readFile(folder.file("ABC.txt")), ' '), Lines{"1 2"});
}

TEST_F(PipeRelayHostTest, ABurstFromAnotherProcessArrivesOnceInOrderAndANewSenderIsServed) {
    constexpr int kBurst = 5000;
    writeIni(settingIni(folder, "varnexMode=True\r\nsignalMode=False\r\n"));
    HostProcess receiver(folder, "receiver.txt",
                         "register\necho|READY\nwaitorders|" + std::to_string(kBurst + 3) + "|120000\n");
    ASSERT_TRUE(receiver.waitForOutput("READY", 20000));
    HostResult first = runHost(folder, "send|" + std::to_string(kBurst) + "|SYM\n");
    EXPECT_TRUE(exitedCleanly(first));
    // A second sending process after the first has gone, then "QUIT".
    HostResult second = runHost(folder, "send|2|NEW\nprocess|today|QUIT|0|0\n");
    EXPECT_TRUE(exitedCleanly(second));
    HostResult got = receiver.finish();
    const Lines orders = ordersIn(got.output);
    ASSERT_EQ(orders.size(), size_t(kBurst + 3)) << got.output.substr(0, 500);
    for (int i = 1; i <= kBurst; ++i) {
        const std::string expected = "SYM," + std::to_string(i) + "," + std::to_string(i) + ".25";
        ASSERT_EQ(orders[i - 1], expected) << "at " << i;
    }
    EXPECT_EQ(Lines(orders.end() - 3, orders.end()), (Lines{"NEW,1,1.25", "NEW,2,2.25", "QUIT,0,0"}));
}

TEST_F(PipeRelayHostTest, ASenderPicksUpTheFreshPipesOfARestartedReceiver) {
    writeIni(settingIni(folder, "logMode=True\r\nvarnexMode=True\r\nsignalMode=False\r\n"));
    TempFolder senderFolder;
    const std::string go = folder.file("go");
    HostProcess first(folder, "first.txt", "register\necho|READY\nwaitorders|1|20000\n");
    ASSERT_TRUE(first.waitForOutput("READY", 20000));
    writeIni(settingIni(senderFolder, "logMode=True\r\nvarnexMode=True\r\nsignalMode=False\r\n"));
    HostProcess sender(senderFolder, "sender.txt",
                       "process|today|R|1|1\nwaitfile|" + go + "|30000\nprocess|today|R|2|2\n");
    EXPECT_EQ(ordersIn(first.finish().output), Lines{"R,1,1"});
    writeIni(settingIni(folder, "varnexMode=True\r\nsignalMode=False\r\n"));
    HostProcess second(folder, "second.txt", "register\necho|READY\nwaitorders|1|20000\n");
    ASSERT_TRUE(second.waitForOutput("READY", 20000));
    writeFile(go, "");
    EXPECT_EQ(ordersIn(second.finish().output), Lines{"R,2,2"});
    EXPECT_TRUE(exitedCleanly(sender.finish()));
    const Lines lines = unstampedLines(readFile(senderFolder.file("VarnexMsg.txt")), '\t');
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[3], "1. callBackOrderFunc: R,1,1, OK:true");
    EXPECT_EQ(lines[7], "1. callBackOrderFunc: R,2,2, OK:true");
}

TEST_F(PipeRelayHostTest, AReloadedLibraryIsFreshOnTheSendingAndOnTheReceivingSide) {
    writeIni(settingIni(folder, "varnexMode=True\r\nsignalMode=False\r\n"));
    const std::string go = folder.file("go");
    // The receiver unloads and reloads between two senders and must register again.
    HostProcess receiver(folder, "receiver.txt",
                         "register\necho|READY\nwaitorders|3|20000\nunload|0\nload\nregister\necho|AGAIN\n"
                         "waitorders|4|20000\n");
    ASSERT_TRUE(receiver.waitForOutput("READY", 20000));
    TempFolder senderFolder;
    // The same quantity after the reload is relayed again: the position book starts empty.
    HostResult sender =
        runConfigured(senderFolder, "logMode=True\r\nvarnexMode=True\r\nsignalMode=False\r\n",
                      "process|today|R|1|1\nunload|0\nload\nprocess|today|R|1|1\nprocess|today|R|2|2\n");
    EXPECT_TRUE(exitedCleanly(sender));
    ASSERT_TRUE(receiver.waitForOutput("AGAIN", 20000));
    EXPECT_TRUE(exitedCleanly(runHost(senderFolder, "process|today|S|1|1\n")));
    EXPECT_EQ(ordersIn(receiver.finish().output), (Lines{"R,1,1", "R,1,1", "R,2,2", "S,1,1"}));
    const Lines lines = unstampedLines(readFile(senderFolder.file("VarnexMsg.txt")), '\t');
    EXPECT_EQ(countOf(readFile(senderFolder.file("VarnexMsg.txt")), "OK:true"), 4u);
    EXPECT_EQ(countOf(readFile(senderFolder.file("VarnexMsg.txt")), "preQty"), 1u) << lines.size();
}

TEST_F(PipeRelayHostTest, AnUnloadWhileTheOrderFunctionIsBusyLeavesTheHostRunningAndReceiving) {
    // The order function is still busy when the library is unloaded, and
    // returns after that (while the host still runs); a reloaded library registers and receives again.
    HostResult run = runConfigured(
        folder, "varnexMode=True\r\nsignalMode=False\r\n",
        "registerslow|3000\nprocess|today|A|1|1\nwaitorders|1|5000\nunload|0\necho|unloaded\n"
        "load\nregisterslow|0\nprocess|today|B|1|1\nwaitorders|2|10000\nunload|1500\necho|alive\n");
    EXPECT_TRUE(exitedCleanly(run));
    EXPECT_EQ(ordersIn(run.output), (Lines{"A,1,1", "B,1,1"}));
    EXPECT_TRUE(printed(run, "alive"));
}

TEST_F(PipeRelayHostTest, FreeLibraryWithARunningReaderDoesNotCrashTheHost) {
    HostResult run = runConfigured(folder, "logMode=True\r\n", "register\nunload|300\necho|alive\n");
    EXPECT_TRUE(exitedCleanly(run));
    EXPECT_TRUE(printed(run, "alive"));
}

}  // namespace
