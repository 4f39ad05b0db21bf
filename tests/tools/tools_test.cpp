// The four console tools end to end, each in its own process, against the
// real Varnex.dll: replay into orders and ack together, each way ack can
// misbehave as the library's relay sees it, the doctor on crafted files, and
// the answers to bad input.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "integration/host_runner.h"
#include "status/status_report.h"
#include "support/order_server.h"
#include "tools/tool_process.h"

using namespace varnex_test;

namespace {

const char *const kReplay = "varnex-replay.exe";
const char *const kOrders = "varnex-orders.exe";
const char *const kAck = "varnex-ack.exe";
const char *const kDoctor = "varnex-doctor.exe";
const char *const kStatus = "varnex-status.exe";

// The port an ack server printed on its first line.
std::string ackPort(ToolProcess &ack) {
    const std::string marker = "listening on 127.0.0.1:";
    if (!ack.waitForOutput(" (Ctrl+C ends)", 20000)) return "";
    const std::string out = ack.output();
    const size_t at = out.find(marker) + marker.size();
    return out.substr(at, out.find(' ', at) - at);
}

// What follows the time stamp on each line holding `part`.
std::vector<std::string> stampedTexts(const std::string &output, const std::string &part, size_t skip) {
    std::vector<std::string> texts;
    for (const std::string &line : linesWith(output, part)) {
        EXPECT_TRUE(line.size() > skip && isStamp(line.substr(0, 19))) << line;
        texts.push_back(line.size() > skip ? line.substr(skip) : line);
    }
    return texts;
}

std::string endpointIni(const TempFolder &folder, const std::string &setting, const std::string &endpoints) {
    return settingIni(folder, "logMode=True\r\nsocketClient=True\r\n" + setting) + endpoints;
}

using ToolsTest = HostTest;

TEST_F(ToolsTest, ReplayedChangesReachOrdersAndAckOnceInOrder) {
    ToolProcess ack(kAck, {"--port", "0", "--count", "4"});
    const std::string port = ackPort(ack);
    ASSERT_FALSE(port.empty()) << ack.output();
    writeIni(endpointIni(folder, "varnexMode=True\r\n",
                         "[SocketClient]\r\nclientID=ABC,XYZ\r\n[SC-ABC]\r\nserverPort=" + port +
                             "\r\n[SC-XYZ]\r\nserverPort=" + port + "\r\n"));
    ToolProcess orders(kOrders, {});
    ASSERT_TRUE(orders.waitForOutput("waiting for orders", 20000)) << orders.output();
    const std::string csv =
        "date,symbol,quantity,price\n"
        "today,ABC,1,12.5\n"
        "today,ABC,1,12.5\n"
        "today,XYZ,-2,99.25\n"
        "today,ABC,2\n"
        "today,ABC,99999999999,1\n"
        "today,ABC,3,12;5\n"
        "2023-02-29,ABC,4,1\n"
        "2024-02-29,ABC,5,1\n"
        "today,XYZ,0,1e3\n"
        "\n"
        "today,ABC,-1,0.5\n";
    writeFile(folder.file("day.csv"), csv);
    const ToolResult replay = runTool(kReplay, {folder.file("day.csv")});
    EXPECT_EQ(replay.exitCode, 0u) << replay.output;
    EXPECT_EQ(linesWith(replay.output, "skipped:"),
              (std::vector<std::string>{
                  "varnex-replay: line 5 skipped: expected 4 fields (date,symbol,quantity,price), found 3",
                  "varnex-replay: line 6 skipped: quantity \"99999999999\" is not a 32-bit integer",
                  "varnex-replay: line 7 skipped: price \"12;5\" is not a number (use a full stop)",
                  "varnex-replay: line 8 skipped: date 2023-02-29 does not exist"}));
    EXPECT_NE(
        replay.output.find("varnex-replay: 12 lines read, 4 bad, 6 signals sent, 5 of them dated today"),
        std::string::npos)
        << replay.output;

    const ToolResult acked = ack.finish(20000);
    EXPECT_EQ(acked.exitCode, 0u);
    EXPECT_EQ(
        stampedTexts(acked.output, "  #", 23),
        (std::vector<std::string>{"  #1  Order,1,12.5  answered OK", "  #2  Order,-2,99.25  answered OK",
                                  "  #3  Order,0,1000  answered OK", "  #4  Order,-1,0.5  answered OK"}))
        << acked.output;
    EXPECT_NE(acked.output.find("varnex-ack: 4 connections, 4 orders, 4 acknowledged with OK"),
              std::string::npos);

    const ToolResult stop = runTool(kOrders, {"--stop"});
    EXPECT_EQ(stop.exitCode, 0u) << stop.output;
    const ToolResult received = orders.finish(20000);
    EXPECT_EQ(received.exitCode, 0u);
    EXPECT_EQ(stampedTexts(received.output, ",", 23),
              (std::vector<std::string>{"  ABC,1,12.5", "  XYZ,-2,99.25", "  XYZ,0,1000", "  ABC,-1,0.5"}))
        << received.output;
    EXPECT_NE(received.output.find("varnex-orders: 4 orders received"), std::string::npos);
    EXPECT_EQ(countOf(log(), "OK\r\n\r\n"), 4u) << log();
}

TEST_F(ToolsTest, EachAckMisbehaviourIsLoggedAndTheCallReturnsWithinItsBound) {
    struct Case {
        std::vector<std::string> options;
        int ackTimeout;
        const char *logged;
        const char *ackSays;
    };
    const Case cases[] = {
        {{}, 2000, "Order,1,2.5\r\nOK\r\n", "answered OK"},
        {{"--delay", "300"}, 3000, "Order,1,2.5\r\nOK\r\n", "answered OK after 300 ms"},
        {{"--split"}, 2000, "Order,1,2.5\r\nOK\r\n", "answered O and K apart"},
        {{"--silent"}, 500, "Order,1,2.5\r\nacknowledgement timed out after 500 ms\r\n", "not answered"},
        {{"--delay", "2500"},
         400,
         "Order,1,2.5\r\nacknowledgement timed out after 400 ms\r\n",
         "answered OK after 2500 ms"},
        {{"--reply", "NO"}, 2000, "Order,1,2.5\r\nunexpected reply \"NO\"\r\n", "answered NO"},
        {{"--reply", "OK\n"}, 2000, "Order,1,2.5\r\nunexpected reply \"OK\\n\"\r\n", "answered OK"},
        {{"--close"},
         2000,
         "Order,1,2.5\r\nconnection closed before acknowledgement\r\n",
         "closed without answering"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.logged);
        std::vector<std::string> options = {"--port", "0", "--count", "1"};
        options.insert(options.end(), c.options.begin(), c.options.end());
        ToolProcess ack(kAck, options);
        const std::string port = ackPort(ack);
        ASSERT_FALSE(port.empty()) << ack.output();
        TempFolder out;
        writeIni(endpointIni(out, "",
                             "[SocketClient]\r\nclientID=ABC\r\n[SC-ABC]\r\nserverPort=" + port +
                                 "\r\nackTimeout=" + std::to_string(c.ackTimeout) + "\r\n"));
        const ToolResult replay = runTool(kReplay, {"-"}, "today,ABC,1,2.5\n");
        EXPECT_EQ(replay.exitCode, 0u) << replay.output;
        // Generous: the bound is the ackTimeout; process start-up under Wine comes on top.
        EXPECT_LT(replay.elapsedMs, static_cast<unsigned long long>(c.ackTimeout) + 10000);
        EXPECT_NE(log(out).find("\tABC, tcp://127.0.0.1:" + port + "\r\n" + c.logged), std::string::npos)
            << log(out);
        const ToolResult acked = ack.finish(20000);
        EXPECT_NE(acked.output.find(c.ackSays), std::string::npos) << acked.output;
        EXPECT_NE(acked.output.find("Order,1,2.5"), std::string::npos) << acked.output;
        EXPECT_EQ(unstampedLines(readFile(out.file("ABC.txt")), ' '), std::vector<std::string>{"1 2.5"});
    }
}

TEST_F(ToolsTest, DoctorReadsTheWindowsDirectoryAndShowsWhereASymbolGoes) {
    writeIni(
        endpointIni(folder, "varnexMode=True\r\nsignalDebugMode=True\r\n",
                    "[SocketClient]\r\nclientID=ABC\r\n[SC-ABC]\r\nserverPort=5123\r\nackTimeout=700\r\n"));
    const ToolResult doctor = runTool(kDoctor, {"--symbol", "ABC"});
    EXPECT_EQ(doctor.exitCode, 0u) << doctor.output;
    EXPECT_NE(doctor.output.find("Configuration file: " + iniPath() + "\r\n"), std::string::npos)
        << doctor.output;
    const std::string driverLine = linesWith(doctor.output, "driverName").at(0);
    EXPECT_EQ(driverLine.rfind("  driverName       " + folder.path(), 0), 0u) << driverLine;
    EXPECT_EQ(driverLine.substr(driverLine.size() - 13), "from the file") << driverLine;
    EXPECT_EQ(linesWith(doctor.output, "signalFile").at(0).find("Signal.txt"), 19u);
    EXPECT_NE(linesWith(doctor.output, "signalFile").at(0).find("default"), std::string::npos);
    EXPECT_NE(doctor.output.find("rewrite the signal file        " + folder.file("ABC.txt")),
              std::string::npos);
    EXPECT_NE(doctor.output.find("append to the signal debug file " + folder.file("ABC_debug.txt")),
              std::string::npos);
    EXPECT_NE(doctor.output.find("log to                         " + folder.file("VarnexMsg.txt")),
              std::string::npos);
    EXPECT_NE(doctor.output.find("\\\\.\\pipe\\kelvor.ts.guicl_IN"), std::string::npos);
    EXPECT_NE(doctor.output.find("go to the TCP server           127.0.0.1:5123 as Order,<quantity>,<price>, "
                                 "waiting at most 700 ms"),
              std::string::npos);
    EXPECT_NE(doctor.output.find("varnex-doctor: 0 warnings, 0 errors"), std::string::npos);

    const ToolResult other = runTool(kDoctor, {"--symbol", "abc"});
    EXPECT_NE(other.output.find("not go to a TCP server (abc is not a client identifier"), std::string::npos)
        << other.output;
    removeIni();
    const ToolResult none = runTool(kDoctor, {});
    EXPECT_EQ(none.exitCode, 0u) << none.output;
    EXPECT_NE(none.output.find("(not found: every key takes its default)"), std::string::npos);
}

TEST_F(ToolsTest, DoctorExitStatusFollowsItsFindings) {
    const std::string clean = folder.file("clean.ini"), warned = folder.file("warned.ini");
    writeFile(clean, settingIni(folder, "logmode=True\r\nlogRotate=daily\r\nlogKeepDays=7\r\n"));
    ToolResult doctor = runTool(kDoctor, {"--ini", clean});
    EXPECT_EQ(doctor.exitCode, 0u) << doctor.output;
    EXPECT_NE(linesWith(doctor.output, "logMode").at(0).find("on  (True)"), std::string::npos);
    EXPECT_NE(linesWith(doctor.output, "logRotate").at(0).find("daily (a file per day)  (daily)"),
              std::string::npos);
    EXPECT_NE(linesWith(doctor.output, "logKeepDays").at(0).find("7 days, today's included"),
              std::string::npos);
    SYSTEMTIME now;
    GetLocalTime(&now);
    char today[16];
    std::snprintf(today, sizeof today, "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    EXPECT_NE(
        doctor.output.find("today's log      " + folder.file("VarnexMsg-" + std::string(today) + ".txt")),
        std::string::npos)
        << doctor.output;

    const std::string noSlash = folder.path().substr(0, folder.path().size() - 1);
    writeFile(warned, "[Setting]\r\ndriverName=" + noSlash +
                          "\r\nsignalMode=yes\r\nsignalDebugMode=True\r\n"
                          "socketClient=True\r\nlogMod=True\r\nlogFile=" +
                          std::string(260, 'L') +
                          "\r\n[SocketClient]\r\nclientID=ABC, B,ABC\r\n[SC-ABC]\r\nserverPort=70000\r\n"
                          "ackTimeout=2147483647\r\n");
    doctor = runTool(kDoctor, {"--ini", warned});
    EXPECT_EQ(doctor.exitCode, 1u) << doctor.output;
    const std::vector<std::string> expected = {
        "warning: unknown key logMod in [Setting] is not read by the library (a typo of logMode?)",
        "warning: signalMode=yes counts as OFF: only True or true switch it on",
        "warning: driverName \"" + noSlash + "\" does not end with a backslash",
        "warning: signalDebugMode is on while signalMode is off",
        "warning: client identifier \" B\" has blanks around it",
        "warning: client identifier ABC is listed twice",
        "warning: section [SC- B] for client identifier \" B\" is missing",
        "warning: [SC- B] serverPort (not set) is not a TCP port (1 to 65535): no order is sent to that "
        "server",
        "warning: [SC-ABC] serverPort=70000 is not a TCP port (1 to 65535): no order is sent to that server",
        "warning: [SC-ABC] ackTimeout=2147483647 is outside 1 to 120000 ms: 120000 ms is used",
    };
    for (const std::string &warning : expected)
        EXPECT_NE(doctor.output.find(warning), std::string::npos) << warning;
    EXPECT_NE(doctor.output.find("varnex-doctor: " + std::to_string(expected.size()) + " warnings, 0 errors"),
              std::string::npos)
        << doctor.output;

    writeFile(clean, "[Setting]\r\ndriverName=" + folder.file("missing\\") + "\r\n");
    doctor = runTool(kDoctor, {"--ini", clean});
    EXPECT_EQ(doctor.exitCode, 1u);
    EXPECT_NE(doctor.output.find("missing\\, does not exist"), std::string::npos) << doctor.output;

    // A driverName of 254 characters: its folder is there and writable,
    // though the doctor's probe file in it is past MAX_PATH too.
    const std::string deep = makeFolderOfLength(folder.path(), 254);
    writeFile(clean, "[Setting]\r\ndriverName=" + deep + "\r\nlogMode=True\r\n");
    doctor = runTool(kDoctor, {"--ini", clean});
    EXPECT_EQ(doctor.exitCode, 1u);
    EXPECT_EQ(linesWith(doctor.output, "warning: ").size(), 3u) << doctor.output;
    EXPECT_NE(doctor.output.find("warning: the path of the log file is 267 characters long, past MAX_PATH"),
              std::string::npos);
    EXPECT_EQ(doctor.output.find("cannot be written"), std::string::npos);

    doctor = runTool(kDoctor, {"--ini", folder.file("absent.ini")});
    EXPECT_EQ(doctor.exitCode, 2u);
    EXPECT_EQ(doctor.output,
              "varnex-doctor: cannot read " + folder.file("absent.ini") + ": no such file\r\n");
}

TEST_F(ToolsTest, LoadFailuresNameTheWindowsError) {
    ToolResult replay = runTool(kReplay, {"--dll", folder.file("Varnex.dll"), "-"}, "today,A,1,1\n");
    EXPECT_EQ(replay.exitCode, 3u);
    EXPECT_EQ(replay.output, "varnex-replay: cannot load " + folder.file("Varnex.dll") +
                                 ": error 126: the DLL, or a DLL it needs, was not found\r\n");

    // A copy of the tool alone in a folder looks for Varnex.dll beside itself.
    ASSERT_TRUE(CopyFileA((binFolder() + kOrders).c_str(), folder.file(kOrders).c_str(), FALSE));
    const ToolResult orders = runTool(folder.file(kOrders), {});
    EXPECT_EQ(orders.exitCode, 3u);
    EXPECT_NE(orders.output.find("cannot load " + folder.file("Varnex.dll") + ": error 126"),
              std::string::npos)
        << orders.output;
    DeleteFileA(folder.file(kOrders).c_str());

    std::string other = VARNEX_OTHER_BITNESS_DLL;
    for (char &c : other)
        if (c == '/') c = '\\';
    other = "Z:" + other;
    if (GetFileAttributesA(other.c_str()) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no DLL at " << other;
    replay = runTool(kReplay, {"--dll", other, "-"}, "");
    EXPECT_EQ(replay.exitCode, 3u);
    EXPECT_NE(replay.output.find("cannot load " + other + ": error 193: the DLL is of the other bitness"),
              std::string::npos)
        << replay.output;
}

TEST_F(ToolsTest, BadInputGetsOneLineAndANonZeroStatus) {
    struct Case {
        const char *tool;
        std::vector<std::string> arguments;
        const char *says;
    };
    const std::string missing = folder.file("missing.csv");
    const Case cases[] = {
        {kReplay, {"--bogus"}, "varnex-replay: unknown or incomplete option --bogus"},
        {kReplay, {"--pace", "soon"}, "varnex-replay: --pace needs milliseconds"},
        {kReplay, {missing}, "varnex-replay: cannot read "},
        {kOrders, {"--bogus"}, "varnex-orders: unknown or incomplete option --bogus"},
        {kOrders, {"--stop"}, "varnex-orders: no receiver to stop"},
        {kAck, {"--port", "70000"}, "varnex-ack: --port needs 0 to 65535"},
        {kAck, {"--host", "0.0.0.0"}, "varnex-ack: --host must be a loopback address"},
        {kAck, {"--silent", "--close"}, "varnex-ack: unknown, repeated or incomplete option --close"},
        {kDoctor, {"--ini"}, "varnex-doctor: unknown or incomplete option --ini"},
    };
    for (const Case &c : cases) {
        const ToolResult result = runTool(c.tool, c.arguments, "", 20000);
        EXPECT_NE(result.exitCode, 0u) << c.says;
        EXPECT_LT(result.exitCode, 5u) << c.says;  // a status, not a crash
        EXPECT_EQ(result.output.rfind(c.says, 0), 0u) << result.output;
        EXPECT_EQ(countOf(result.output, "\n"), 1u) << result.output;
    }
    // A port already taken is refused with one line too.
    ToolProcess first(kAck, {"--port", "0", "--count", "1"});
    const std::string port = ackPort(first);
    ASSERT_FALSE(port.empty());
    const ToolResult second = runTool(kAck, {"--port", port}, "", 20000);
    EXPECT_EQ(second.exitCode, 1u);
    EXPECT_EQ(second.output, "varnex-ack: cannot listen on 127.0.0.1:" + port + " (is the port in use?)\r\n");
}

TEST_F(ToolsTest, OrdersSaysPlainlyWhenAnotherReceiverHoldsThePipesAndPrintsCsv) {
    writeIni(settingIni(folder, "varnexMode=True\r\nsignalMode=False\r\n"));
    ToolProcess first(kOrders, {"--csv"});
    ASSERT_TRUE(first.waitForOutput("time,symbol,quantity,price", 20000)) << first.output();
    const ToolResult second = runTool(kOrders, {}, "", 20000);
    EXPECT_EQ(second.exitCode, 1u);
    EXPECT_NE(second.output.find("varnex-orders: the order pipes are already held by another receiver"),
              std::string::npos)
        << second.output;
    // A replay that tries to receive as well cannot: its orders still reach the first receiver.
    const ToolResult replay = runTool(kReplay, {"--register", "-"}, "today,A,1,1.5\ntoday,B,-2,1e-05\n");
    EXPECT_NE(replay.output.find("2 signals sent, 2 of them dated today, 0 orders received"),
              std::string::npos)
        << replay.output;
    EXPECT_EQ(runTool(kOrders, {"--stop"}).exitCode, 0u);
    const ToolResult ended = first.finish(20000);
    EXPECT_EQ(stampedTexts(ended.output, "/", 23), (std::vector<std::string>{",A,1,1.5", ",B,-2,1e-005"}))
        << ended.output;
    EXPECT_NE(ended.output.find("varnex-orders: 2 orders received"), std::string::npos) << ended.output;
}

TEST_F(ToolsTest, ReplayCanReceiveItsOwnOrders) {
    writeIni(settingIni(folder, "varnexMode=True\r\n"));
    const ToolResult replay =
        runTool(kReplay, {"--register", "--pace", "10", "-"}, "today,A,1,1.5\ntoday,A,1,1.5\ntoday,B,2,3\n");
    EXPECT_EQ(replay.exitCode, 0u) << replay.output;
    EXPECT_EQ(stampedTexts(replay.output, "ORDER", 23),
              (std::vector<std::string>{"  ORDER A,1,1.5", "  ORDER B,2,3"}))
        << replay.output;
    EXPECT_NE(replay.output.find("3 signals sent, 3 of them dated today, 2 orders received"),
              std::string::npos);
}

}  // namespace

namespace {

// The one status file in `folder`, read whole, or none.
std::optional<varnex::StatusReport> statusIn(const TempFolder &folder) {
    for (const std::string &name : entriesOf(folder.path()))
        if (varnex::statusFilePid(name)) return varnex::parseStatus(readFile(folder.file(name)));
    return std::nullopt;
}

// Waits up to `limitMs` for the status to satisfy `wanted`; the time it took, or -1.
template <typename Wanted>
long long waitForStatus(const TempFolder &folder, Wanted wanted, unsigned limitMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        const std::optional<varnex::StatusReport> status = statusIn(folder);
        if (status && wanted(*status)) return static_cast<long long>(GetTickCount64() - start);
        if (GetTickCount64() - start > limitMs) return -1;
        Sleep(20);
    }
}

// A server that refuses while five symbols change: the status shows it down
// with the five positions owed and varnex-status exits 1; the server back,
// the library delivers them with no further signal, the status shows it up
// with nothing owed, and varnex-status exits 0. A clear status is removed at
// the unload.
TEST_F(ToolsTest, StatusShowsADownServerWithItsOwedPositionsUntilTheyAreDelivered) {
    DownServer server(DownServer::Refusing);
    std::string ids, sections;
    for (int s = 0; s < 5; ++s) {
        ids += (s ? ",O" : "O") + std::to_string(s);
        sections += "[SC-O" + std::to_string(s) + "]\r\nserverPort=" + std::to_string(server.port()) + "\r\n";
    }
    writeIni(
        endpointIni(folder, "signalMode=False\r\n", "[SocketClient]\r\nclientID=" + ids + "\r\n" + sections));
    HostProcess host(
        folder, "status.txt",
        "spread|1|1|5|O|5|1000\necho|SENT\nwaitfile|" + folder.file("done") + "|60000\nunload|0\n");
    ASSERT_TRUE(host.waitForOutput("SENT", 20000));
    const std::string label = "tcp://127.0.0.1:" + std::to_string(server.port());
    auto server5 = [&](const varnex::StatusReport &r, const char *state, size_t owed) {
        for (const varnex::DestinationReport &d : r.destinations)
            if (d.label == label) return d.state == state && d.owedCount == owed && d.owed.size() == owed;
        return false;
    };
    EXPECT_GE(waitForStatus(
                  folder, [&](const varnex::StatusReport &r) { return server5(r, "down", 5); }, 5000),
              0);
    // A closing backslash would quote away the quote after it.
    const std::string where = folder.path().substr(0, folder.path().size() - 1);
    const ToolResult down = runTool(kStatus, {where});
    EXPECT_EQ(down.exitCode, 1u) << down.output;
    const std::vector<std::string> serverLines = linesWith(down.output, label);
    ASSERT_EQ(serverLines.size(), 1u) << down.output;
    EXPECT_NE(serverLines[0].find(" down since "), std::string::npos) << down.output;
    EXPECT_NE(down.output.find("5 positions owed"), std::string::npos) << down.output;
    EXPECT_EQ(linesWith(down.output, "since ").size(), 6u) << down.output;  // the server, then each symbol

    server.back();
    const long long clearedMs = waitForStatus(
        folder, [&](const varnex::StatusReport &r) { return server5(r, "up", 0) && r.clear(); }, 10000);
    std::printf("[ figures  ] status: server back, the status showed it up with nothing owed after %lld ms\n",
                clearedMs);
    EXPECT_GE(clearedMs, 0);
    const ToolResult up = runTool(kStatus, {where});
    EXPECT_EQ(up.exitCode, 0u) << up.output;
    EXPECT_NE(up.output.find("1 running process: 0 destinations down or busy, 0 positions owed"),
              std::string::npos)
        << up.output;
    EXPECT_EQ(server.acknowledged().size(), 5u);

    writeFile(folder.file("done"), "");
    EXPECT_EQ(host.finish().exitCode, 0u);
    EXPECT_FALSE(statusIn(folder));
}

}  // namespace
