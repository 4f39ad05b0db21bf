// Host threads at once, every switch on: each thread alternates between a
// symbol of its own and symbols that all threads share, while the changed
// positions go to an order function in another process, to a loopback TCP
// server, to the signal files and to the log. Each output is read back and
// held against the others. Run as fast as eight threads go, and paced
// against a slow server, where a shared symbol's signals queue up and must be
// served in the order they arrived.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "integration/host_runner.h"
#include "proof/proof_table.h"
#include "support/order_server.h"

using namespace varnex_test;
using Lines = std::vector<std::string>;

namespace {

struct Load {
    int threads;
    int signals;  // per thread: half to its own symbol, or all shared when paced
    int shared;
    int gapMs;     // 0: each thread as fast as it goes; else the pace of shared signals (see threadmix)
    int answerMs;  // how long the server takes to say "OK"
    const char *label;
};

// The symbol a relayed price stands for: the host sends 100+t for OWN<t>, 200+s for SH<s>.
std::string symbolOfPrice(int price) {
    return price >= 200 ? "SH" + std::to_string(price - 200) : "OWN" + std::to_string(price - 100);
}

Lines split(const std::string &text, const std::string &separator) {
    Lines parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + separator.size())
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

// What one symbol's log shows, step by step.
struct SymbolTrail {
    enum Step { Signal, Position, CheckSignal, Callback, Tcp } next = Signal;
    std::string pending;       // "q,p" of the signal whose steps are running
    std::vector<int> relayed;  // changed quantities, in order
    bool changed = false;
};

struct LogCheck {
    std::map<std::string, SymbolTrail> trails;
    int malformed = 0;
    int outOfOrder = 0;
    int signals = 0;
};

bool startsWith(const std::string &text, const std::string &head) {
    return text.compare(0, head.size(), head) == 0;
}

// One log record: its first line's text and the lines that continue it.
void checkRecord(LogCheck &check, const std::string &text, const Lines &more, int port) {
    const auto fail = [&](int &counter) {
        ++counter;
        if (counter <= 3) ADD_FAILURE() << "log record: " << text << (more.empty() ? "" : " + " + more[0]);
    };
    const std::string tcpHead = ", tcp://127.0.0.1:" + std::to_string(port);
    if (startsWith(text, "0. checkSignal: ") || startsWith(text, "1. callBackOrderFunc: ")) {
        const bool isCheck = text[0] == '0';
        const std::string body = text.substr(text.find(": ") + 2);
        const std::string symbol = body.substr(0, body.find(','));
        SymbolTrail &trail = check.trails[symbol];
        const std::string message = symbol + "," + trail.pending;
        if (!more.empty()) return fail(check.malformed);
        if (isCheck ? (trail.next != SymbolTrail::CheckSignal || body != message)
                    : (trail.next != SymbolTrail::Callback || body != message + ", OK:true"))
            return fail(check.outOfOrder);
        trail.next = isCheck ? SymbolTrail::Callback : SymbolTrail::Tcp;
        return;
    }
    const size_t tcpAt = text.find(tcpHead);
    if (tcpAt != std::string::npos) {
        const std::string symbol = text.substr(0, tcpAt);
        SymbolTrail &trail = check.trails[symbol];
        if (text.size() != tcpAt + tcpHead.size() || more != Lines{"Order," + trail.pending, "OK", ""})
            return fail(check.malformed);
        if (trail.next != SymbolTrail::Tcp) return fail(check.outOfOrder);
        trail.next = SymbolTrail::Signal;
        return;
    }
    if (!more.empty()) return fail(check.malformed);
    const size_t colon = text.find(": ");
    if (colon != std::string::npos) {
        SymbolTrail &trail = check.trails[text.substr(0, colon)];
        if (trail.next != SymbolTrail::Signal) return fail(check.outOfOrder);
        trail.pending = text.substr(colon + 2);
        trail.next = SymbolTrail::Position;
        ++check.signals;
        return;
    }
    const size_t qty = text.find(" qty=\t");
    if (qty == std::string::npos) return fail(check.malformed);
    SymbolTrail &trail = check.trails[text.substr(0, qty)];
    const Lines numbers = split(text.substr(qty + 6), " preQty=\t");
    const std::string quantity = numbers[0];
    if (trail.next != SymbolTrail::Position || quantity != trail.pending.substr(0, trail.pending.find(',')))
        return fail(check.outOfOrder);
    const bool changed = numbers.size() == 1 || numbers[1] != quantity;
    const int previous = trail.relayed.empty() ? 0 : trail.relayed.back();
    if (numbers.size() == 2 && (trail.relayed.empty() || std::stoi(numbers[1]) != previous))
        return fail(check.outOfOrder);  // the book must hold the last quantity
    if (changed) trail.relayed.push_back(std::stoi(quantity));
    trail.next = changed ? SymbolTrail::CheckSignal : SymbolTrail::Signal;
}

LogCheck checkLog(const std::string &content, int port) {
    LogCheck check;
    const Lines physical = split(content, "\r\n");
    std::string text;
    Lines more;
    bool open = false;
    for (size_t i = 0; i + 1 < physical.size(); ++i) {  // the last part follows the final CR LF
        const std::string &line = physical[i];
        if (line.size() >= 20 && isStamp(line.substr(0, 19)) && line[19] == '\t') {
            if (open) checkRecord(check, text, more, port);
            text = line.substr(20);
            more.clear();
            open = true;
        } else if (open) {
            more.push_back(line);
        } else {
            ++check.malformed;
        }
    }
    if (open) checkRecord(check, text, more, port);
    if (!physical.back().empty()) ++check.malformed;
    return check;
}

class ConcurrencyProof : public HostTest, public ::testing::WithParamInterface<Load> {};

TEST_P(ConcurrencyProof, ThreadsOnSharedAndOwnSymbolsLoseNothingAndKeepEachSymbolsOrder) {
    const Load load = GetParam();
    OrderServer server(OrderServer::replies({"", "OK"}, load.answerMs));
    std::string ids;
    for (int t = 0; t < load.threads; ++t) ids += "OWN" + std::to_string(t) + ",";
    for (int s = 0; s < load.shared; ++s) ids += "SH" + std::to_string(s) + (s + 1 < load.shared ? "," : "");
    std::string sections;
    for (const std::string &id : split(ids, ","))
        sections += "[SC-" + id + "]\r\nserverPort=" + std::to_string(server.port()) + "\r\n";
    const std::string relays = "varnexMode=True\r\nsocketClient=True\r\nsignalDebugMode=True\r\n";

    // Own symbol: quantity k/2 at its k-th signal, so every other one is unchanged.
    const bool paced = load.gapMs > 0;
    const int ownChanges = paced ? 0 : (load.signals / 2 + 1) / 2;
    const int sharedSignals = paced ? load.signals : load.signals / 2;
    const int changes = load.threads * (ownChanges + sharedSignals);

    TempFolder receiverFolder;
    writeIni(settingIni(receiverFolder, relays));
    HostProcess receiver(receiverFolder, "receiver.txt",
                         "register\necho|READY\nwaitorders|" + std::to_string(changes) + "|90000\n");
    ASSERT_TRUE(receiver.waitForOutput("READY", 30000));
    writeIni(settingIni(folder, "logMode=True\r\n" + relays) + "[SocketClient]\r\nclientID=" + ids + "\r\n" +
             sections);
    const ULONGLONG start = GetTickCount64();
    HostResult sender =
        runHost(folder, "threadmix|" + std::to_string(load.threads) + "|" + std::to_string(load.signals) +
                            "|" + std::to_string(load.shared) + "|" + std::to_string(load.gapMs) + "\n");
    const ULONGLONG took = GetTickCount64() - start;
    ASSERT_EQ(sender.exitCode, 0u) << sender.output;
    const HostResult received = receiver.finish();

    // The log: every record well formed, every symbol's steps in order.
    const LogCheck check = checkLog(log(), server.port());
    EXPECT_EQ(check.malformed, 0);
    EXPECT_EQ(check.outOfOrder, 0);
    EXPECT_EQ(check.signals, load.threads * load.signals);
    std::map<std::string, std::vector<int>> byLog;
    int logged = 0;
    for (const auto &entry : check.trails) {
        EXPECT_EQ(entry.second.next, SymbolTrail::Signal) << entry.first << " ends part-way";
        byLog[entry.first] = entry.second.relayed;
        logged += static_cast<int>(entry.second.relayed.size());
    }
    EXPECT_EQ(logged, changes);

    // The pipe: each changed position once, each symbol's in the log's order.
    std::map<std::string, std::vector<int>> byPipe;
    int piped = 0;
    for (const std::string &line : split(received.output, "\r\n")) {
        if (!startsWith(line, "ORDER ")) continue;
        const Lines fields = split(line.substr(6), ",");
        ASSERT_EQ(fields.size(), 3u) << line;
        byPipe[fields[0]].push_back(std::stoi(fields[1]));
        ++piped;
    }
    // TCP: the price names the symbol.
    std::map<std::string, std::vector<int>> byTcp;
    int sentTcp = 0;
    for (const std::string &message : server.messages()) {
        const Lines fields = split(message, ",");
        ASSERT_EQ(fields.size(), 3u) << message;
        byTcp[symbolOfPrice(std::stoi(fields[2]))].push_back(std::stoi(fields[1]));
        ++sentTcp;
    }
    EXPECT_EQ(piped, changes);
    EXPECT_EQ(sentTcp, changes);
    EXPECT_TRUE(byPipe == byLog) << "the pipe's orders differ from the log's changed positions";
    EXPECT_TRUE(byTcp == byLog) << "the TCP orders differ from the log's changed positions";

    // Order: an own symbol's changes are 0, 1, 2, ...; on a shared symbol
    // each thread's signals come in the order that thread gave them.
    int outOfOrder = 0;
    for (const auto &entry : byLog) {
        if (startsWith(entry.first, "OWN")) {
            for (size_t i = 0; i < entry.second.size(); ++i)
                outOfOrder += entry.second[i] != static_cast<int>(i);
            EXPECT_EQ(entry.second.size(), static_cast<size_t>(ownChanges)) << entry.first;
        } else {
            std::map<int, int> lastOfThread;
            for (int quantity : entry.second) {
                const int thread = quantity / 1000000, index = quantity % 1000000;
                if (lastOfThread.count(thread) && lastOfThread[thread] >= index) ++outOfOrder;
                lastOfThread[thread] = index;
            }
        }
    }
    EXPECT_EQ(outOfOrder, 0);

    // Arrival order on the shared symbols: of two signals that arrived two
    // paces apart or more, the later is never served first, whatever the
    // platform's lock would pick.
    int againstArrival = 0;
    if (paced) {
        std::map<int, long> entered;  // quantity to when its call began
        for (const std::string &line : split(sender.output, "\r\n"))
            if (startsWith(line, "ENTRY "))
                entered[std::stoi(split(line, " ")[2])] = std::stol(split(line, " ")[3]);
        EXPECT_EQ(entered.size(), static_cast<size_t>(load.threads * sharedSignals));
        for (const auto &entry : byLog)
            for (size_t a = 0; a < entry.second.size() && startsWith(entry.first, "SH"); ++a)
                for (size_t b = a + 1; b < entry.second.size(); ++b)
                    againstArrival += entered[entry.second[a]] > entered[entry.second[b]] + 2L * load.gapMs;
        EXPECT_EQ(againstArrival, 0);
    }

    // Files: the signal file holds the last change, the debug file all of them.
    int filesRight = 0;
    for (const auto &entry : byLog) {
        const int price = startsWith(entry.first, "OWN") ? 100 + std::stoi(entry.first.substr(3))
                                                         : 200 + std::stoi(entry.first.substr(2));
        Lines expected;
        for (int quantity : entry.second)
            expected.push_back(std::to_string(quantity) + " " + std::to_string(price));
        const bool last =
            unstampedLines(readFile(folder.file(entry.first + ".txt")), ' ') == Lines{expected.back()};
        const bool all = unstampedLines(readFile(folder.file(entry.first + "_debug.txt")), ' ') == expected;
        EXPECT_TRUE(last && all) << entry.first;
        filesRight += last && all;
    }
    EXPECT_EQ(filesRight, (paced ? 0 : load.threads) + load.shared);

    recordFigures(
        load.label,
        std::to_string(load.threads) + " threads x " + std::to_string(load.signals) + " signals on " +
            (paced ? std::string() : std::to_string(load.threads) + " own + ") + std::to_string(load.shared) +
            " shared symbols: " + std::to_string(check.signals) + " logged, " + std::to_string(logged) +
            " changed, " + std::to_string(piped) + " piped, " + std::to_string(sentTcp) + " sent by TCP, " +
            std::to_string(outOfOrder + check.outOfOrder) + " out of order, " +
            std::to_string(check.malformed) + " malformed log records, " + std::to_string(filesRight) + "/" +
            std::to_string((paced ? 0 : load.threads) + load.shared) + " symbols' files right, " +
            (paced ? std::to_string(againstArrival) + " pairs arriving " + std::to_string(2 * load.gapMs) +
                         " ms or more apart served against their arrival, "
                   : std::string()) +
            std::to_string(took) + " ms");
}

INSTANTIATE_TEST_SUITE_P(Loads, ConcurrencyProof,
                         ::testing::Values(Load{8, 750, 4, 0, 0, "8 host threads, all relays"},
                                           // Arrivals every 30 ms against 100 ms per order: the symbol's
                                           // queue grows, and each thread asks again as soon as it is served.
                                           Load{4, 10, 1, 30, 100,
                                                "4 host threads on one symbol, server answering in 100 ms"}));

}  // namespace
