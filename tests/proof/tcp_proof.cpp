// TCP servers that fail in every way a relay meets, each on a host thread of
// its own beside a thread relaying to a healthy server: every _process
// returns within its bound, says which step failed, and writes its signal
// files; the healthy symbol goes on meanwhile. Name look-ups go to a resolver
// on a loopback address inside the host's own mount namespace, one that
// never answers, so nothing leaves the machine. And a console nobody reads
// beside thousands of failed relays: no host thread waits for it.
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "integration/host_runner.h"
#include "proof/proof_table.h"
#include "support/order_server.h"

using namespace varnex_test;
using varnex_tools::TcpSocket;

namespace {

constexpr int kBoundMs = 3000;  // ackTimeout of the failing servers
constexpr int kHealthyRelays = 30;

// A loopback address nobody else uses, so runs side by side do not meet.
std::string randomLoopback() {
    static unsigned salt = GetTickCount() ^ (GetCurrentProcessId() << 8);
    salt = salt * 1103515245u + 12345u;
    return "127.54." + std::to_string((salt >> 8) % 250 + 1) + "." + std::to_string((salt >> 16) % 250 + 1);
}

// A resolver that takes queries on UDP port 53 and never answers.
class SilentResolver {
public:
    SilentResolver() {
        for (int attempt = 0; attempt < 5 && !bound_; ++attempt) {
            address_ = randomLoopback();
            if (socket_ != INVALID_SOCKET) closesocket(socket_);
            socket_ = socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in at = {};
            at.sin_family = AF_INET;
            at.sin_port = htons(53);
            at.sin_addr.s_addr = inet_addr(address_.c_str());
            bound_ = bind(socket_, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0;
            if (!bound_) error_ = WSAGetLastError();
        }
    }
    ~SilentResolver() { closesocket(socket_); }
    const std::string &address() const { return address_; }
    bool bound() const { return bound_; }
    int error() const { return error_; }

private:
    int error_ = 0;
    varnex::SocketsStarted started_;  // held before the first socket call
    bool startedOk_ = started_.acquire();
    SOCKET socket_ = INVALID_SOCKET;
    std::string address_;
    bool bound_ = false;
};

struct Fault {
    std::string symbol;
    std::string host;
    int port;
    std::string logged;   // how the log's relay record goes on behind its first line
    std::string failure;  // how the line on standard error begins
};

std::string iniFor(const TempFolder &folder, const std::vector<Fault> &faults, int healthyPort) {
    std::string ids = "HEALTHY",
                sections = "[SC-HEALTHY]\r\nserverPort=" + std::to_string(healthyPort) + "\r\n";
    for (const Fault &fault : faults) {
        ids += "," + fault.symbol;
        sections += "[SC-" + fault.symbol + "]\r\nserverIp=" + fault.host +
                    "\r\nserverPort=" + std::to_string(fault.port) +
                    "\r\nackTimeout=" + std::to_string(kBoundMs) + "\r\n";
    }
    return settingIni(folder, "logMode=True\r\nsocketClient=True\r\n") + "[SocketClient]\r\nclientID=" + ids +
           "\r\n" + sections;
}

// Runs every fault on its own thread beside the healthy relays, in a
// namespace whose resolver is `resolver`; checks and returns the timings.
Timings runFaults(const TempFolder &folder, const std::vector<Fault> &faults, const std::string &resolver,
                  int healthyPort) {
    writeIni(iniFor(folder, faults, healthyPort));
    std::string script = "initial\n";
    for (const Fault &fault : faults) script += "spawn|timed|" + fault.symbol + "|1|1\n";
    // The library's writer puts the failure lines out after their _process
    // returned; a host that ended at once could take them with it.
    const std::string seen = folder.file("seen");
    // Then an unload while the slow name's look-up is still in the resolver:
    // the library goes at once, and the next load is a fresh one.
    script += "sleep|200\ntimedsend|" + std::to_string(kHealthyRelays) + "|HEALTHY\njoin\nwaitfile|" + seen +
              "|30000\nunload|0\nmapped\nload\nwritelog|RELOADED\necho|END\n";
    HostProcess host(folder, "faults.txt", script, HostConsole::Read, resolver);
    // A server that is down says so on one line that gives the reason.
    for (const Fault &fault : faults) host.waitForOutput(fault.failure, 30000);
    writeFile(seen, "");
    const HostResult result = host.finish();
    EXPECT_NE(result.output.find("END"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("MAPPED 0"), std::string::npos) << result.output;
    EXPECT_EQ(result.exitCode, 0u);
    Timings timings = timingsOf(result.output);
    const std::string log = readFile(folder.file("VarnexMsg.txt"));
    EXPECT_NE(log.find("RELOADED"), std::string::npos);
    for (const Fault &fault : faults) {
        SCOPED_TRACE(fault.symbol);
        EXPECT_EQ(timings.count.count(fault.symbol), 1u) << result.output;
        // Each step is bounded on its own; one step fails here, with room for a loaded machine.
        EXPECT_LT(timings.longest[fault.symbol], static_cast<unsigned long>(2 * kBoundMs + 2000));
        const std::string head =
            "\t" + fault.symbol + ", tcp://" + fault.host + ":" + std::to_string(fault.port) + "\r\n";
        const size_t at = log.find(head);
        EXPECT_NE(at, std::string::npos) << log;
        if (at != std::string::npos) {
            EXPECT_EQ(log.compare(at + head.size(), fault.logged.size(), fault.logged), 0)
                << log.substr(at, 300);
        }
        EXPECT_NE(result.output.find(fault.failure), std::string::npos) << result.output;
        EXPECT_EQ(unstampedLines(readFile(folder.file(fault.symbol + ".txt")), ' '),
                  std::vector<std::string>{"1 1"});
    }
    EXPECT_EQ(timings.count["HEALTHY"], kHealthyRelays);
    // Under one lock for all symbols a healthy relay would wait behind a
    // failing one's whole bound at least once.
    EXPECT_LT(timings.longest["HEALTHY"], static_cast<unsigned long>(kBoundMs * 2 / 3));
    EXPECT_EQ(unstampedLines(readFile(folder.file("HEALTHY.txt")), ' '),
              std::vector<std::string>{std::to_string(kHealthyRelays) + " " + std::to_string(kHealthyRelays) +
                                       ".25"});
    return timings;
}

using TcpProof = HostTest;

TEST_F(TcpProof, EveryFailingServerCostsAtMostItsBoundAndHoldsOnlyItsOwnSymbol) {
    SilentResolver silentResolver;
    ASSERT_TRUE(silentResolver.bound())
        << "cannot bind " << silentResolver.address() << ":53 (" << silentResolver.error() << ")";
    OrderServer healthy(OrderServer::replies({"OK"}));
    OrderServer silent(OrderServer::silent);
    OrderServer reset([](const TcpSocket &c) {
        linger abort = {1, 0};  // a close with a zero linger sends a reset
        setsockopt(c.nativeHandle(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&abort),
                   sizeof abort);
        const_cast<TcpSocket &>(c).close();
    });
    OrderServer garbage(OrderServer::replies({"\x01garbage\r\n"}));
    OrderServer acceptAndClose([](const TcpSocket &) {});
    const std::string bound = std::to_string(kBoundMs) + " ms";
    std::vector<Fault> faults = {
        {"SILENT", "127.0.0.1", silent.port(), "Order,1,1\r\n", "acknowledgement timed out after " + bound},
        {"RESET", "127.0.0.1", reset.port(), "Order,1,1\r\n", "connection closed before acknowledgement"},
        {"GARBAGE", "127.0.0.1", garbage.port(), "Order,1,1\r\n", "unexpected reply \"\\x01garbage\\r\\n\""},
        {"CLOSING", "127.0.0.1", acceptAndClose.port(), "Order,1,1\r\n",
         "connection closed before acknowledgement"},
        {"REFUSED", "127.0.0.1", closedPort(), "", "connect failed: WSAECONNREFUSED (10061)"},
        {"SLOWNAME", "slow.example", 5000, "", "host lookup for slow.example timed out after " + bound},
        // An empty label: the resolver library refuses the name without asking anyone.
        {"NONAME", "no..such.example", 5000, "", "host lookup failed for no..such.example: WSA"},
    };
    for (Fault &fault : faults) fault.logged += fault.failure;
    const ULONGLONG start = GetTickCount64();
    const Timings withSilentResolver = runFaults(folder, faults, silentResolver.address(), healthy.port());

    const ULONGLONG took = GetTickCount64() - start;

    unsigned long slowest = 0;
    for (const auto &entry : withSilentResolver.longest)
        if (entry.first != "HEALTHY") slowest = std::max(slowest, entry.second);
    const unsigned long healthiest =
        withSilentResolver.longest.count("HEALTHY") ? withSilentResolver.longest.at("HEALTHY") : 0ul;
    recordFigures(
        "TCP faults",
        "silent, reset, garbage, accept-and-close, refused, slow-to-resolve, unresolvable: 7 of 7 "
        "_process returned, slowest " +
            std::to_string(slowest) + " ms against a " + bound + " bound; " + std::to_string(kHealthyRelays) +
            " healthy relays beside them, longest " + std::to_string(healthiest) +
            " ms; 7 of 7 signal files written; " + std::to_string(took) +
            " ms in all; then unloaded with the slow look-up still in the resolver: unmapped at once, "
            "loaded afresh");
}

// A server that goes down and comes back again and again while 20 symbols
// trade, half of them changing position every round: every symbol's last
// position reaches it, and no position it acknowledged is sent to it again.
TEST_F(TcpProof, AFlappingServerEndsWithEverySymbolsLastPositionAndGetsNoneTwice) {
    constexpr int kSymbols = 20, kChanging = 10, kRounds = 100, kStep = 1000, kAckTimeoutMs = 1000;
    FlappingServer server(300, 150);
    std::string ids, sections;
    for (int s = 0; s < kSymbols; ++s) {
        ids += (s ? ",F" : "F") + std::to_string(s);
        sections += "[SC-F" + std::to_string(s) + "]\r\nserverPort=" + std::to_string(server.port()) +
                    "\r\nackTimeout=" + std::to_string(kAckTimeoutMs) + "\r\n";
    }
    writeIni(settingIni(folder, "logMode=True\r\nsocketClient=True\r\n") +
             "[SocketClient]\r\nclientID=" + ids + "\r\n" + sections);
    // Symbol s trades quantities s*kStep + q, so each order names its symbol.
    const std::string round = "|20|F|" + std::to_string(kChanging) + "|" + std::to_string(kStep) + "\n";
    // The flapping rounds, then the last round's signals again, as the day's
    // next bars would bring them, while the server stays up: until every
    // symbol's last position is there, which takes up to the pause the
    // flapping left the server in (a minute at the most).
    const std::string convergedFile = folder.file("converged");
    HostProcess host(folder, "flap.txt",
                     "repeat|" + std::to_string(kRounds) + "\nspread|#|#" + round +
                         "sleep|10\nend\necho|FLAPPED\n" + "waitfile|" + folder.file("settled") +
                         "|60000\nrepeat|360|" + convergedFile + "\nspread|" + std::to_string(kRounds) + "|" +
                         std::to_string(kRounds) + round + "sleep|250\nend\n");
    ASSERT_TRUE(host.waitForOutput("FLAPPED", 180000));
    server.settle();
    writeFile(folder.file("settled"), "");
    auto allLast = [&] {
        std::map<int, int> last;
        for (const std::string &order : server.acknowledged()) {
            int quantity = 0;
            if (std::sscanf(order.c_str(), "Order,%d,", &quantity) == 1)
                last[quantity / kStep] = quantity % kStep;
        }
        for (int s = 0; s < kSymbols; ++s)
            if (!last.count(s) || last[s] != (s < kChanging ? kRounds : 1)) return false;
        return true;
    };
    for (int i = 0; i < 1800 && !allLast(); ++i) Sleep(50);
    // A few more rounds after that, in which nothing may be sent again.
    Sleep(1000);
    writeFile(convergedFile, "");
    const HostResult result = host.finish();
    EXPECT_EQ(result.exitCode, 0u);

    std::map<int, std::vector<int>> received;  // per symbol, the acknowledged quantities in order
    size_t orders = 0, sentAgain = 0;
    for (const std::string &order : server.acknowledged()) {
        int quantity = 0;
        ASSERT_EQ(std::sscanf(order.c_str(), "Order,%d,", &quantity), 1) << order;
        // Any repeat, not only back to back: an older position after a newer one is one too.
        std::vector<int> &mine = received[quantity / kStep];
        if (std::find(mine.begin(), mine.end(), quantity % kStep) != mine.end()) ++sentAgain;
        mine.push_back(quantity % kStep);
        ++orders;
    }
    size_t converged = 0;
    for (int s = 0; s < kSymbols; ++s) {
        const int last = s < kChanging ? kRounds : 1;
        if (!received[s].empty() && received[s].back() == last) ++converged;
        // The file got each position once, with the price of the signal that brought it.
        const std::vector<std::string> file =
            unstampedLines(readFile(folder.file("F" + std::to_string(s) + ".txt")), ' ');
        ASSERT_EQ(file.size(), 1u);
        EXPECT_EQ(file[0].rfind(std::to_string(s * kStep + last) + " ", 0), 0u) << file[0];
    }
    unsigned long longest = 0;
    int spreads = 0;
    for (size_t at = result.output.find("SPREAD max="); at != std::string::npos;
         at = result.output.find("SPREAD max=", at + 1), ++spreads)
        longest = std::max(longest, std::strtoul(result.output.c_str() + at + 11, nullptr, 10));
    const std::string log = readFile(folder.file("VarnexMsg.txt"));
    recordFigures("TCP server flapping",
                  std::to_string(kSymbols) + " symbols, " + std::to_string(kSymbols * spreads) +
                      " signals (" + std::to_string(spreads - kRounds) +
                      " rounds after it settled): " + std::to_string(converged) + " of " +
                      std::to_string(kSymbols) + " symbols' last positions at the server, " +
                      std::to_string(orders) + " orders acknowledged, " + std::to_string(sentAgain) +
                      " sent again after an OK, " + std::to_string(countOf(log, " resend: ")) +
                      " resends; longest _process " + std::to_string(longest) + " ms against " +
                      std::to_string(2 * kAckTimeoutMs) + " ms for a connect and an acknowledgement");
    EXPECT_EQ(converged, size_t(kSymbols));
    EXPECT_EQ(sentAgain, 0u);
    EXPECT_GT(countOf(log, " resend: tcp"), 0u);
    // Connect and acknowledgement each bounded by ackTimeout, with room for a loaded machine.
    EXPECT_LT(longest, 2ul * kAckTimeoutMs + 1000);
}

// A server that is down (refusing, hung, or its machine cut off) while one
// host thread trades 20 symbols bar after bar, then comes back while the
// host sends nothing more, as after the day's last bar: the host's thread
// pays for the first failure only, and the library delivers every symbol's
// last position, once, soon after the server is back.
class DownServerProof : public HostTest, public ::testing::WithParamInterface<DownServer::Kind> {};

// Relays the host's own thread made to the server, in a log: a record that
// follows no resend line of the library's and says nothing of being skipped.
// Every try is one record that is not followed by "not sent: "; each of
// the library's follows its resend line.
size_t triesMade(const std::string &log) {
    const std::regex record("\t(D[0-9]+), tcp://[^\r]*\r\n(?!not sent: )");
    return std::distance(std::sregex_iterator(log.begin(), log.end(), record), std::sregex_iterator());
}

TEST_P(DownServerProof, TheHostPaysTheFirstFailureOnlyAndTheLibraryDeliversEveryOwedPositionOnceItIsBack) {
    constexpr int kSymbols = 20, kRounds = 50, kStep = 1000, kAckTimeoutMs = 500;
    DownServer server(GetParam());
    std::string ids, sections;
    for (int s = 0; s < kSymbols; ++s) {
        ids += (s ? ",D" : "D") + std::to_string(s);
        sections += "[SC-D" + std::to_string(s) + "]\r\nserverPort=" + std::to_string(server.port()) +
                    "\r\nackTimeout=" + std::to_string(kAckTimeoutMs) + "\r\n";
    }
    writeIni(settingIni(folder, "logMode=True\r\nsocketClient=True\r\nsignalMode=False\r\n") +
             "[SocketClient]\r\nclientID=" + ids + "\r\n" + sections);
    // Symbol s trades s*kStep + r in round r, so each order names its symbol:
    // 10 s of bars, then nothing.
    HostProcess host(folder, "down.txt",
                     "repeat|" + std::to_string(kRounds) + "\nspread|#|#|20|D|20|" + std::to_string(kStep) +
                         "\nsleep|200\nend\necho|DOWN\nwaitfile|" + folder.file("done") + "|60000\n");
    ASSERT_TRUE(host.waitForOutput("DOWN", 120000));
    Sleep(300);  // the host is idle: no signal brings what follows
    auto lastPositions = [&] {
        std::map<int, int> last;
        for (const std::string &order : server.acknowledged()) {
            int quantity = 0;
            if (std::sscanf(order.c_str(), "Order,%d,", &quantity) == 1)
                last[quantity / kStep] = quantity % kStep;
        }
        int at = 0;
        for (int s = 0; s < kSymbols; ++s) at += last.count(s) && last[s] == kRounds;
        return at;
    };
    const ULONGLONG backAt = GetTickCount64();
    server.back();
    while (lastPositions() < kSymbols && GetTickCount64() - backAt < 15000) Sleep(5);
    const ULONGLONG deliveredMs = GetTickCount64() - backAt;
    Sleep(2000);  // a second delivery of any of them would come by now
    writeFile(folder.file("done"), "");
    const HostResult result = host.finish();
    EXPECT_EQ(result.exitCode, 0u);

    unsigned long held = 0;
    for (size_t at = result.output.find("SPREAD "); at != std::string::npos;
         at = result.output.find("SPREAD ", at + 1))
        held += std::strtoul(result.output.c_str() + result.output.find("total=", at) + 6, nullptr, 10);
    const std::string log = readFile(folder.file("VarnexMsg.txt"));
    size_t sentAgain = 0;
    std::map<int, std::vector<int>> received;
    for (const std::string &order : server.acknowledged()) {
        int quantity = 0;
        ASSERT_EQ(std::sscanf(order.c_str(), "Order,%d,", &quantity), 1) << order;
        std::vector<int> &mine = received[quantity / kStep];
        if (std::find(mine.begin(), mine.end(), quantity % kStep) != mine.end()) ++sentAgain;
        mine.push_back(quantity % kStep);
    }
    const int converged = lastPositions();
    const size_t byLibrary = countOf(log, " resend: tcp"), byHost = triesMade(log) - byLibrary;
    static const char *const kKinds[] = {"refusing", "hung", "connections unanswered"};
    recordFigures(std::string("TCP server down: ") + kKinds[GetParam()],
                  std::to_string(kSymbols) + " symbols x " + std::to_string(kRounds) +
                      " rounds (10 s) on one host thread, ackTimeout " + std::to_string(kAckTimeoutMs) +
                      " ms: host held " + std::to_string(held) + " ms in all, " + std::to_string(byHost) +
                      " tries by the host, " + std::to_string(byLibrary) +
                      " by the library; back with the host idle: " + std::to_string(converged) + " of " +
                      std::to_string(kSymbols) + " last positions after " + std::to_string(deliveredMs) +
                      " ms (goal ackTimeout + 1 s = " + std::to_string(kAckTimeoutMs + 1000) + " ms), " +
                      std::to_string(sentAgain) + " sent twice");
    EXPECT_EQ(byHost, 1u) << log.substr(0, 3000);
    EXPECT_GT(byLibrary, 0u);
    EXPECT_GT(countOf(log, "not sent: server down since "), 0u);
    EXPECT_EQ(countOf(result.output, " is down ("), 1u) << result.output;
    EXPECT_EQ(countOf(result.output, " is back\r\n"), 1u) << result.output;
    EXPECT_EQ(converged, kSymbols);
    EXPECT_EQ(sentAgain, 0u);
}

INSTANTIATE_TEST_SUITE_P(HowItIsDown, DownServerProof,
                         ::testing::Values(DownServer::Refusing, DownServer::Hung, DownServer::Unreachable));

// A console nobody reads: the host's standard output and error are one pipe
// that nobody reads, and a host thread of its own fills it before the
// library's first call. Thousands of failed relays then each have a line for
// standard error. The host either starts being read again, when the writer
// writes what it queued and how many lines it dropped, or unloads the
// library while the writer is still held.
class ConsoleProof : public HostTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ConsoleProof, AConsoleNobodyReadsHoldsNoHostThread) {
    const bool unloadWhileHeld = GetParam();
    constexpr int kFailed = 2000, kHealthy = 20;
    OrderServer server(OrderServer::replies({"OK"}));
    // Hangs up on every order: a failure for each relay, none that marks it
    // down. Nothing is made good, so every relay is the host's own.
    OrderServer hangsUp([](const TcpSocket &) {});
    writeIni(
        settingIni(folder, "logMode=True\r\nsocketClient=True\r\nresendMode=False\r\n") +
        "[SocketClient]\r\nclientID=GOOD,DEAD\r\n[SC-GOOD]\r\nserverPort=" + std::to_string(server.port()) +
        "\r\n[SC-DEAD]\r\nserverPort=" + std::to_string(hangsUp.port()) + "\r\n");
    const std::string done = folder.file("done"), go = folder.file("go"), sent = folder.file("sent.txt");
    HostProcess host(folder, "script.txt",
                     "spawn|fill|300000\nsleep|1500\ninitial\nsendtimed|" + std::to_string(kFailed) +
                         "|DEAD|" + sent + "\nsend|" + std::to_string(kHealthy) + "|GOOD\n" +
                         (unloadWhileHeld ? "unload|0\n" : "") + "touch|" + done + "\nwaitfile|" + go +
                         "|120000\n",
                     HostConsole::NeverRead);
    const ULONGLONG deadline = GetTickCount64() + 120000;
    while (!fileExists(done) && GetTickCount64() < deadline) Sleep(20);
    ASSERT_TRUE(fileExists(done)) << "a host thread is held; log:\n" << log().substr(0, 2000);
    unsigned long longest = 0;
    ASSERT_EQ(std::sscanf(readFile(sent).c_str(), "SENT max=%lu", &longest), 1) << readFile(sent);
    // It used to block for ever from the 68th refused relay on.
    EXPECT_LT(longest, 10000ul);
    EXPECT_EQ(server.messages().size(), static_cast<size_t>(kHealthy));
    EXPECT_EQ(countOf(log(), "connection closed before acknowledgement"), static_cast<size_t>(kFailed));

    // Read from now on: the host's own fill goes through, and so does what
    // the library's writer still has, the notice of the drops last.
    host.startReading();
    if (!unloadWhileHeld) {
        EXPECT_TRUE(host.waitForOutput(" console lines dropped\r\n", 60000));
    }
    writeFile(go, "");
    const HostResult result = host.finish();
    EXPECT_EQ(result.exitCode, 0u);
    const std::string &output = result.output;
    const size_t relayLines = countOf(output, "connection closed before acknowledgement");
    unsigned long long dropped = 0;
    for (size_t at = output.find("varnex: "); at != std::string::npos; at = output.find("varnex: ", at + 1))
        dropped += std::strtoull(output.c_str() + at + 8, nullptr, 10);
    const size_t initialLines = countOf(output, "_initial ... ");
    if (!unloadWhileHeld) {
        EXPECT_EQ(initialLines, 2u);
        EXPECT_GT(dropped, 0u);
        // Every line of the library either reached the console or was counted.
        EXPECT_EQ(relayLines + dropped, static_cast<unsigned long long>(kFailed));
    }
    recordFigures(std::string("console nobody reads, ") + (unloadWhileHeld ? "then unload" : "then read"),
                  std::to_string(kFailed) + " failed relays: " + std::to_string(kFailed) +
                      " _process returned, longest " + std::to_string(longest) + " ms; " +
                      (unloadWhileHeld
                           ? "FreeLibrary returned with the writer held, " +
                                 std::to_string(relayLines + initialLines) + " library lines written after it"
                           : std::to_string(relayLines) + " relay lines written once read, " +
                                 std::to_string(dropped) + " dropped and counted") +
                      "; " + std::to_string(server.messages().size()) +
                      " healthy relays acknowledged; host exit " + std::to_string(result.exitCode));
}

// false: the console is read again; true: the library is unloaded while its writer is held.
INSTANTIATE_TEST_SUITE_P(HowTheHostGoesOn, ConsoleProof, ::testing::Bool());

}  // namespace
