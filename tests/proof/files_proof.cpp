// Output files under real use: several host processes writing the same log,
// signal and debug files at once while readers watch; hostile symbols; host
// locales.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "integration/host_runner.h"
#include "output/append_files.h"
#include "proof/proof_table.h"

using namespace varnex_test;

namespace {

using FilesProof = HostTest;

// Raw lines of a file split at CR LF; whatever follows the last CR LF is
// returned in `rest`.
std::vector<std::string> crlfLines(const std::string &content, std::string &rest) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(content.substr(start, end - start));
    rest = content.substr(start);
    return lines;
}

bool stampedWith(const std::string &line, char separator) {
    return line.size() >= 20 && isStamp(line.substr(0, 19)) && line[19] == separator;
}

// What the file holds right now, read as a user's tool would; "<missing>" if
// it cannot be opened.
std::string readShared(const std::string &path, bool shareDelete) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | (shareDelete ? FILE_SHARE_DELETE : 0),
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION ? "<busy>" : "<missing>";
    return readAndClose(file);
}

struct Reader {
    std::atomic<long> reads{0}, whole{0}, busy{0}, bad{0};
    std::string firstBad;
};

// With `renames`, a fourth process moves the log away every 50 ms, as a
// trader clearing it or a rotation tool would: every line is then in exactly
// one of the files, whole, each process's lines in its order across them (the
// moved files in the order they were moved, the log last) and each file's
// stamps in its order.
class FilesProofProcesses : public HostTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FilesProofProcesses, ProcessesWritingTheSameFilesLoseAndTearNothing) {
    const bool renames = GetParam();
    // The folder must hold the shared files alone: no status files beside them.
    writeIni(settingIni(folder, "logMode=True\r\nsignalDebugMode=True\r\nstatusMode=False\r\n"));
    struct Writer {
        std::string tag;
        int step;
        std::string price;
    };
    // Lines of different processes differ in their price, their quantity
    // steps and their length, so a mix of two lines cannot pass for a line.
    const std::vector<Writer> writers = {{"P0", 1, "1.5"}, {"P1", 1000, "22.25"}, {"P2", 100000, "333"}};
    // Long enough, with renames, for some dozens of them.
    const int kRounds = renames ? 10000 : 500;
    std::set<std::string> signalTexts, finalTexts;
    std::vector<std::string> expectedLog, expectedDebug;
    for (const Writer &w : writers) {
        for (int i = 1; i <= kRounds; ++i) {
            const std::string q = std::to_string(i * w.step);
            expectedLog.push_back(w.tag + " " + std::to_string(i));
            expectedLog.push_back("SHARED: " + q + "," + w.price);
            expectedLog.push_back("SHARED qty=\t" + q +
                                  (i == 1 ? "" : " preQty=\t" + std::to_string((i - 1) * w.step)));
            expectedDebug.push_back(q + " " + w.price);
            signalTexts.insert(q + " " + w.price);
        }
        finalTexts.insert(std::to_string(kRounds * w.step) + " " + w.price);
    }

    const std::string signalPath = folder.file("SHARED.txt");
    std::atomic<bool> stop{false};
    Reader readers[2];
    std::vector<std::thread> readerThreads;
    for (int r = 0; r < 2; ++r)
        readerThreads.emplace_back([&, r] {
            Reader &reader = readers[r];
            bool seen = false;
            while (!stop) {
                const std::string content = readShared(signalPath, r == 0);
                if (content == "<missing>" && !seen) continue;
                ++reader.reads;
                // The replace holds the new file open with delete access for
                // a moment; a reader that does not share delete is refused
                // then and reads it a moment later.
                if (content == "<busy>" && r == 1) {
                    ++reader.busy;
                    continue;
                }
                std::string rest;
                const auto lines = crlfLines(content, rest);
                const bool ok = lines.size() == 1 && rest.empty() && stampedWith(lines[0], ' ') &&
                                signalTexts.count(lines[0].substr(20)) == 1;
                seen = true;
                if (ok) {
                    ++reader.whole;
                } else if (++reader.bad == 1) {
                    reader.firstBad = content;
                }
                // A polling reader: nobody can replace a file while it is
                // open, so a reader that never lets go would hold the writers.
                Sleep(1);
            }
        });

    // A Windows process of its own, so that share modes apply as they would
    // to a user's tool (Linux tools ignore them).
    std::atomic<bool> hostsDone{false};
    std::vector<std::string> logFiles;
    size_t moves = 0;
    std::thread renamer([&] {
        while (renames && !hostsDone) {
            Sleep(50);
            const std::string aside = folder.file("moved-" + std::to_string(logFiles.size() + 1) + ".log");
            if (MoveFileExA(folder.file("VarnexMsg.txt").c_str(), aside.c_str(), 0)) {
                logFiles.push_back(aside);
                ++moves;
            }
        }
    });
    std::vector<std::unique_ptr<HostProcess>> hosts;
    for (const Writer &w : writers)
        hosts.push_back(std::make_unique<HostProcess>(folder, w.tag + ".script",
                                                      "mixed|" + std::to_string(kRounds) + "|" + w.tag +
                                                          "|SHARED|" + std::to_string(w.step) + "|" +
                                                          w.price + "\n"));
    for (auto &host : hosts) EXPECT_EQ(host->finish().exitCode, 0u);
    hostsDone = true;
    renamer.join();
    stop = true;
    for (auto &thread : readerThreads) thread.join();
    // The last move may have come after the last line.
    if (fileExists(folder.file("VarnexMsg.txt"))) logFiles.push_back(folder.file("VarnexMsg.txt"));
    if (renames) {
        EXPECT_GE(logFiles.size(), 10u);
    }

    // The log: every line once, whole, each process's lines in its order, and
    // stamps in file order.
    std::vector<std::string> logLines;
    size_t torn = 0, outOfOrder = 0;
    for (const std::string &file : logFiles) {
        std::string rest;
        const std::vector<std::string> lines = crlfLines(readFile(file), rest);
        logLines.insert(logLines.end(), lines.begin(), lines.end());
        if (!rest.empty()) ++torn;
        std::string lastStamp;
        for (const std::string &line : lines) {
            if (!stampedWith(line, '\t')) continue;
            if (line.substr(0, 19) < lastStamp) ++outOfOrder;
            lastStamp = line.substr(0, 19);
        }
    }
    std::vector<std::string> texts;
    std::map<std::string, int> lastRound;
    size_t busy = 0;  // signal file lines deferred because a reader held the file
    for (const std::string &line : logLines) {
        if (!stampedWith(line, '\t')) {
            ++torn;
            continue;
        }
        // A write deferred while a reader held the signal file, and its later
        // write by the library's delivery thread.
        if ((line.compare(20, 12, "signal file ") == 0 && line.find(" not written: ") != std::string::npos) ||
            line.find(" resend: signal file") != std::string::npos) {
            ++busy;
            continue;
        }
        texts.push_back(line.substr(20));
        const size_t blank = texts.back().find(' ');
        const std::string tag = texts.back().substr(0, blank);
        if (tag.size() == 2 && tag[0] == 'P') {
            const int round = std::atoi(texts.back().c_str() + blank + 1);
            if (round != lastRound[tag] + 1) ++outOfOrder;
            lastRound[tag] = round;
        }
    }
    std::vector<std::string> sortedExpected = expectedLog, sortedFound = texts, missing, unexpected;
    std::sort(sortedExpected.begin(), sortedExpected.end());
    std::sort(sortedFound.begin(), sortedFound.end());
    std::set_difference(sortedExpected.begin(), sortedExpected.end(), sortedFound.begin(), sortedFound.end(),
                        std::back_inserter(missing));
    std::set_difference(sortedFound.begin(), sortedFound.end(), sortedExpected.begin(), sortedExpected.end(),
                        std::back_inserter(unexpected));
    EXPECT_EQ(logLines.size() - busy, expectedLog.size());
    EXPECT_EQ(torn + unexpected.size(), 0u) << (unexpected.empty() ? "" : unexpected[0]);
    EXPECT_EQ(missing.size(), 0u);
    EXPECT_EQ(outOfOrder, 0u);
    recordFigures(
        renames ? "processes: one log, moved away every 50 ms" : "processes: one log",
        "3 processes x " + std::to_string(kRounds * 3) + " lines" +
            (renames ? " while the log was moved away " + std::to_string(moves) + " times" : std::string()) +
            ": " + std::to_string(expectedLog.size()) + " expected, " +
            std::to_string(logLines.size() - busy) + " found in " + std::to_string(logFiles.size()) +
            (logFiles.size() == 1 ? " file, " : " files, ") + std::to_string(torn + unexpected.size()) +
            " torn or twice, " + std::to_string(missing.size()) + " lost, " + std::to_string(outOfOrder) +
            " out of order");

    // The debug file: every signal of every process once, whole.
    std::string rest;
    const std::vector<std::string> debugLines = crlfLines(readFile(folder.file("SHARED_debug.txt")), rest);
    EXPECT_EQ(rest, "");
    std::vector<std::string> debugTexts;
    size_t debugTorn = 0;
    for (const std::string &line : debugLines) {
        if (stampedWith(line, ' ')) {
            debugTexts.push_back(line.substr(20));
        } else {
            ++debugTorn;
        }
    }
    std::sort(debugTexts.begin(), debugTexts.end());
    std::sort(expectedDebug.begin(), expectedDebug.end());
    EXPECT_EQ(debugTexts, expectedDebug);
    EXPECT_EQ(debugTorn, 0u);
    if (!renames)
        recordFigures("processes: one debug file",
                      std::to_string(expectedDebug.size()) + " expected, " +
                          std::to_string(debugLines.size()) + " found, " + std::to_string(debugTorn) +
                          " torn, " + (debugTexts == expectedDebug ? "all" : "NOT all") + " signals once");

    // The signal file: one whole line at every read, the last write at the end.
    const std::vector<std::string> finalLines = crlfLines(readFile(signalPath), rest);
    ASSERT_EQ(finalLines.size(), 1u);
    // A line deferred by a busy file waits for the process's next signal, and the run ends first.
    EXPECT_EQ((busy ? signalTexts : finalTexts).count(finalLines[0].substr(20)), 1u) << finalLines[0];
    for (const Reader &reader : readers) {
        EXPECT_GT(reader.reads, 0);
        EXPECT_EQ(reader.bad, 0) << reader.firstBad;
    }
    if (!renames)
        recordFigures("processes: one signal file",
                      std::to_string(readers[0].reads + readers[1].reads) + " reads while written (" +
                          std::to_string(readers[0].reads) + " sharing delete, " +
                          std::to_string(readers[1].reads) + " not), " +
                          std::to_string(readers[0].whole + readers[1].whole) + " one whole line, " +
                          std::to_string(readers[0].bad + readers[1].bad) + " torn, mixed or missing, " +
                          std::to_string(readers[1].busy) + " refused for a moment, " + std::to_string(busy) +
                          " lines deferred while a reader held it");

    // Nothing but the three files and the scripts: no temporary file left.
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(folder.file("*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::set<std::string> names;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != ".." && name.find(".script") == std::string::npos) names.insert(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::set<std::string> expectedNames = {"SHARED.txt", "SHARED_debug.txt"};
    for (const std::string &file : logFiles) expectedNames.insert(file.substr(folder.path().size()));
    EXPECT_EQ(names, expectedNames);
}

INSTANTIATE_TEST_SUITE_P(Renames, FilesProofProcesses, ::testing::Values(false, true));

// A trader deletes the log and a debug file while hosts hold them open:
// every line logged after the delete is in a file at the configured path
// once the hosts have ended, none from before it. Windows 10 since 1903 lets
// the name of a deleted file go at once, and the next line finds no file at
// the path; older Windows tells the holders that the delete is pending, and
// refuses a new file under the name until they let their handles go: either
// way the old handle is closed before the new file is made. Wine 8 keeps the
// name of a file deleted while others hold it until the last of them
// closes it, and tells none of them (its handles never report a pending
// delete, and an open of the name opens the doomed file), so the delete here
// lets the name go as current Windows does: moved to another name, then
// deleted.
class FilesProofDeletes : public HostTest, public ::testing::WithParamInterface<int> {};

TEST_P(FilesProofDeletes, EveryLineAfterADeleteIsInTheNewFile) {
    const int hostCount = GetParam();
    writeIni(settingIni(folder, "logMode=True\r\nsignalDebugMode=True\r\n"));
    constexpr int kLines = 300;
    const std::string go = folder.file("go"), logPath = folder.file("VarnexMsg.txt");
    std::vector<std::string> tags = {"A", "B"};
    tags.resize(hostCount);
    std::vector<std::unique_ptr<HostProcess>> hosts;
    for (const std::string &tag : tags)
        hosts.push_back(std::make_unique<HostProcess>(folder, tag + ".script",
                                                      "mixed|" + std::to_string(kLines) + "|" + tag +
                                                          " before|" + tag + "|1|1.5\necho|READY\nwaitfile|" +
                                                          go + "|60000\nmixed|" + std::to_string(kLines) +
                                                          "|" + tag + " after|" + tag + "|-1|2.5\n"));
    for (auto &host : hosts) ASSERT_TRUE(host->waitForOutput("READY", 60000));
    const std::string aside = folder.file("deleted.tmp"), debugAside = folder.file("deleted-debug.tmp");
    ASSERT_TRUE(MoveFileExA(logPath.c_str(), aside.c_str(), 0));
    ASSERT_TRUE(DeleteFileA(aside.c_str()));
    if (hostCount == 1) {
        ASSERT_TRUE(MoveFileExA(folder.file("A_debug.txt").c_str(), debugAside.c_str(), 0));
        ASSERT_TRUE(DeleteFileA(debugAside.c_str()));
    }
    writeFile(go, "");
    for (auto &host : hosts) EXPECT_EQ(host->finish().exitCode, 0u);
    std::vector<std::string> found, expected;
    for (const std::string &line : unstampedLines(log(), '\t'))
        if (line.find(" qty=") == std::string::npos && line.find(": ") == std::string::npos)
            found.push_back(line);
    for (const std::string &tag : tags)
        for (int i = 1; i <= kLines; ++i) expected.push_back(tag + " after " + std::to_string(i));
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
    EXPECT_FALSE(fileExists(aside));
    EXPECT_FALSE(fileExists(debugAside));
    std::vector<std::string> debugExpected;
    for (int i = 1; i <= kLines; ++i) debugExpected.push_back("-" + std::to_string(i) + " 2.5");
    if (hostCount == 1) {
        EXPECT_EQ(unstampedLines(readFile(folder.file("A_debug.txt")), ' '), debugExpected);
    }
    recordFigures("log deleted mid-run, " + std::to_string(hostCount) + (hostCount == 1 ? " host" : " hosts"),
                  std::to_string(hostCount) + " processes holding the log" +
                      (hostCount == 1 ? " and a debug file" : "") + ", deleted" + "; " +
                      std::to_string(expected.size()) + " lines after the delete: " +
                      std::to_string(found.size()) + " in the file at the path, " +
                      (found == expected ? "each once, none" : "NOT all, or some") + " from before it");
}

INSTANTIATE_TEST_SUITE_P(Holders, FilesProofDeletes, ::testing::Values(1, 2));

// 2,000 symbols, each with a debug file: the library keeps the log and the
// kKeptDebugFiles most recently used debug files open, never more, and lets
// them all go at unload.
TEST_F(FilesProof, ThousandsOfDebugFilesKeepTheOpenFilesAtTheBound) {
    writeIni(settingIni(folder, "logMode=True\r\nsignalDebugMode=True\r\n"));
    // Far past the bound. Not 10,000: Wine looks a new file's name up
    // against every name in its folder (it has no index that ignores letter
    // case), so each new file costs more the fuller the folder; 10,000
    // symbols' files took minutes of Wine's time here, 2,000 take seconds.
    constexpr int kSymbols = 2000;
    // A first load and unload first: Wine keeps a few handles of its own
    // from a process's first file and named-object calls.
    const HostResult run = runHost(folder,
                                   "process|today|FIRST|1|1\nunload|0\ncounts|start\nload\n"
                                   "process|today|WARM|1|1\ncounts|before\n"
                                   "spread|1|1|" +
                                       std::to_string(kSymbols) + "|D|" + std::to_string(kSymbols) +
                                       "\ncounts|after\nunload|0\ncounts|unloaded\n");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    const long long start = countIn(run.output, "start", "handles"),
                    before = countIn(run.output, "before", "handles"),
                    after = countIn(run.output, "after", "handles"),
                    unloaded = countIn(run.output, "unloaded", "handles");
    ASSERT_GT(start, 0) << run.output;
    // At `before` the log and WARM's debug file were open; at `after` the log
    // and the last kKeptDebugFiles symbols' files.
    EXPECT_EQ(after - before, static_cast<long long>(varnex::kKeptDebugFiles) - 1) << run.output;
    const bool unwinderKeepsSemaphore = sizeof(void *) == 4;
    EXPECT_EQ(unloaded - start, unwinderKeepsSemaphore ? 1 : 0) << run.output;
    EXPECT_EQ(unstampedLines(readFile(folder.file("D" + std::to_string(kSymbols - 1) + "_debug.txt")), ' '),
              std::vector<std::string>{"1 1.5"});
    EXPECT_EQ(countOf(log(), " qty=\t1\r\n"), size_t(kSymbols) + 2);
    recordFigures("open files, " + std::to_string(kSymbols) + " debug files",
                  "handles " + std::to_string(start) + " before the load, " + std::to_string(before) +
                      " with the log and 1 debug file open, " + std::to_string(after) + " after " +
                      std::to_string(kSymbols) + " symbols (bound: the log and " +
                      std::to_string(varnex::kKeptDebugFiles) + " debug files), " + std::to_string(unloaded) +
                      " after the unload");
}

// A reader that holds the signal file 250 ms at a time without delete
// sharing, as msvcrt's fopen does, while 300 signals change the position:
// the host is not held by it, a second reader never finds the file torn, and
// the last position reaches the file once the reader lets go, with no signal
// after it: the library's delivery thread writes it.
TEST_F(FilesProof, AReaderHoldingTheSignalFileNeitherHoldsTheHostNorSeesItTorn) {
    writeIni(settingIni(folder, "logMode=True\r\n"));
    constexpr int kSignals = 300;
    constexpr DWORD kHoldMs = 250;
    const std::string path = folder.file("S.txt"), released = folder.file("released");
    std::set<std::string> texts;
    for (int i = 1; i <= kSignals; ++i) texts.insert(std::to_string(i) + " " + std::to_string(i));
    HostProcess host(folder, "writer.txt",
                     "process|today|S|0|0\necho|FIRST\nrepeat|" + std::to_string(kSignals) +
                         "\ntimed|S|#|#\nsleep|10\nend\necho|SENT\nwaitfile|" + released +
                         "|60000\nsleep|5000\n");
    ASSERT_TRUE(host.waitForOutput("FIRST", 20000));
    std::atomic<bool> stop{false};
    std::atomic<long> holds{0};
    std::thread holder([&] {
        while (!stop) {
            HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) ++holds;
            Sleep(kHoldMs);
            if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
            Sleep(1);
        }
    });
    Reader reader;
    std::thread watcher([&] {
        while (!stop) {
            std::string rest;
            const auto lines = crlfLines(readShared(path, true), rest);
            ++reader.reads;
            const bool whole = lines.size() == 1 && rest.empty() && stampedWith(lines[0], ' ') &&
                               (texts.count(lines[0].substr(20)) == 1 || lines[0].substr(20) == "0 0");
            if (whole) {
                ++reader.whole;
            } else if (++reader.bad == 1) {
                reader.firstBad = lines.empty() ? rest : lines[0];
            }
        }
    });
    const bool sent = host.waitForOutput("SENT", 60000);
    stop = true;
    holder.join();
    // From the reader's last let-go to the last position on disk.
    const ULONGLONG letGo = GetTickCount64();
    std::vector<std::string> last;
    while ((last = unstampedLines(readShared(path, true), ' ')) != std::vector<std::string>{"300 300"} &&
           GetTickCount64() - letGo < 4000)
        Sleep(1);
    const ULONGLONG written = GetTickCount64() - letGo;
    watcher.join();
    writeFile(released, "");
    const HostResult result = host.finish();
    ASSERT_TRUE(sent);
    Timings timings = timingsOf(result.output);
    const std::string log = readFile(folder.file("VarnexMsg.txt"));
    recordFigures("signal file held by a reader",
                  std::to_string(kSignals) + " changes while a reader held it 250 ms at a time (" +
                      std::to_string(holds) + " holds): host held " + std::to_string(timings.total) +
                      " ms in all, longest _process " + std::to_string(timings.longest["S"]) + " ms; " +
                      std::to_string(countOf(log, " not written: ERROR_")) + " tries refused, " +
                      std::to_string(countOf(log, "S resend: signal file")) +
                      " written later by the library; " + std::to_string(reader.reads) +
                      " reads by a second reader, " + std::to_string(reader.bad) + " torn; last position " +
                      (last == std::vector<std::string>{"300 300"} ? "" : "NOT ") + "in the file " +
                      std::to_string(written) + " ms after the reader let go, with no signal");
    EXPECT_EQ(timings.count["S"], kSignals);
    // A call the reader held would wait for it to let go: with a signal
    // every 10 ms, the first one after a hold began would wait at least
    // 230 ms of the 250. One that is not held gives the file up after a try
    // of a few milliseconds (kReplaceRetryMs), and its log line takes less:
    // 200 ms tells the two apart, with room for a slow moment of the machine.
    EXPECT_LT(timings.longest["S"], kHoldMs - 50);
    EXPECT_GT(reader.reads, 0);
    EXPECT_EQ(reader.bad, 0) << reader.firstBad;
    EXPECT_GT(countOf(log, " not written: "), 0u);
    EXPECT_EQ(last, std::vector<std::string>{"300 300"});
}

// A file-bridge program that polls the signal file every 5 ms with fopen
// (which shares no delete, so a replace fails while it reads) while the
// position changes every 50 ms: it sees nearly every position, each a few
// milliseconds after the call that brought it returned.
TEST_F(FilesProof, AReaderPollingWithFopenSeesThePositionsSoonAfterTheCalls) {
    writeIni(settingIni(folder, ""));
    constexpr int kChanges = 200;
    const std::string path = folder.file("P.txt");
    HostProcess host(folder, "poll.txt",
                     "process|today|P|0|0\necho|FIRST\nrepeat|" + std::to_string(kChanges) +
                         "\ntimed|P|#|#\nsleep|50\nend\necho|SENT\n");
    ASSERT_TRUE(host.waitForOutput("FIRST", 20000));
    std::atomic<bool> stop{false};
    std::map<int, unsigned long long> firstSeen;
    long reads = 0, torn = 0;
    std::thread reader([&] {
        while (!stop) {
            if (FILE *file = std::fopen(path.c_str(), "rb")) {
                char buffer[128];
                const size_t got = std::fread(buffer, 1, sizeof buffer, file);
                std::fclose(file);
                const unsigned long long now = GetTickCount64();
                ++reads;
                int quantity = 0, price = 0;
                // "yyyy/mm/dd hh:mm:ss Q Q\r\n"
                if (got < 24 ||
                    std::sscanf(std::string(buffer, got).c_str() + 20, "%d %d", &quantity, &price) != 2 ||
                    quantity != price || buffer[got - 1] != '\n')
                    ++torn;
                else
                    firstSeen.emplace(quantity, now);
            }
            Sleep(5);
        }
    });
    const bool sent = host.waitForOutput("SENT", 60000);
    Sleep(200);
    stop = true;
    reader.join();
    const HostResult result = host.finish();
    ASSERT_TRUE(sent);
    const Timings timings = timingsOf(result.output);
    const std::map<int, unsigned long long> &returned = timings.returnedAt.at("P");
    // Per position: from its call's return until the reader saw it or a later one.
    std::vector<long long> delays;
    int missed = 0;
    for (int q = 1; q <= kChanges; ++q) {
        missed += firstSeen.count(q) == 0;
        const auto seen = firstSeen.lower_bound(q);
        if (seen == firstSeen.end() || !returned.count(q)) continue;
        unsigned long long first = seen->second;
        for (auto later = seen; later != firstSeen.end(); ++later) first = std::min(first, later->second);
        delays.push_back(std::max(0LL, static_cast<long long>(first - returned.at(q))));
    }
    std::sort(delays.begin(), delays.end());
    // The 99th percentile: the smallest delay that at least 99 % of them do not pass.
    const long long p99 = delays.empty() ? -1 : delays[(delays.size() * 99 + 99) / 100 - 1];
    recordFigures("signal file polled with fopen",
                  std::to_string(kChanges) + " changes 50 ms apart, read every 5 ms (" +
                      std::to_string(reads) + " reads, " + std::to_string(torn) + " torn): " +
                      std::to_string(missed) + " positions never seen (goal at most 1 %), seen " +
                      std::to_string(delays.empty() ? -1 : delays.back()) +
                      " ms at most after the call returned, p99 " + std::to_string(p99) + " ms (goal 20 ms)");
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(delays.size(), size_t(kChanges));
    // The last position is what the file holds in the end.
    EXPECT_EQ(firstSeen.rbegin()->first, kChanges);
}

// With a driverName of 254 characters, the most the profile functions read,
// every file's path is past MAX_PATH.
class FilesProofDriverName : public HostTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(FilesProofDriverName, HostileSymbolsGetReadableFilesInsideDriverNameOnly) {
    // driverName is a folder of its own, so its parent can be checked too;
    // folders nested in it make up the length asked for.
    const std::string driver = makeFolderOfLength(folder.path(), GetParam());
    ASSERT_FALSE(driver.empty());
    writeIni("[Setting]\r\ndriverName=" + driver +
             "\r\nsignalDebugMode=True\r\nsignalFile=Empty.sig\r\nsignalDebugFile=EmptyDebug.sig\r\n"
             "logMode=True\r\n");
    // Each symbol with its signal and debug file, as the naming rule of
    // file_names.h gives them: a device name, a byte of a path and a leading
    // '%' make the stem '%' and the symbol with those bytes as %XX; a stem
    // past 200 bytes keeps its first 64, then '~' and the FNV-1a hash of the
    // whole symbol; the empty symbol writes the configured files.
    struct Hostile {
        std::string symbol, signal, debug;
    };
    const std::string shortened = "%" + std::string(63, 'A') + "~";
    const std::vector<Hostile> hostile = {
        {"CON", "%CON.txt", "%CON_debug.txt"},
        {"prn", "%prn.txt", "%prn_debug.txt"},
        {"Aux", "%Aux.txt", "%Aux_debug.txt"},
        {"NUL", "%NUL.txt", "%NUL_debug.txt"},
        {"COM1", "%COM1.txt", "%COM1_debug.txt"},
        {"lpt9", "%lpt9.txt", "%lpt9_debug.txt"},
        {"CON.A", "%CON.A.txt", "%CON.A_debug.txt"},
        {"CON  .A", "%CON  .A.txt", "%CON  .A_debug.txt"},
        {"CONIN$", "%CONIN$.txt", "%CONIN$_debug.txt"},
        {"conout$", "%conout$.txt", "%conout$_debug.txt"},
        {"COM\xB9", "%COM\xB9.txt", "%COM\xB9_debug.txt"},
        {"a:b", "%a%3Ab.txt", "%a%3Ab_debug.txt"},
        {"..\\up", "%..%5Cup.txt", "%..%5Cup_debug.txt"},
        {"..", "%...txt", "%.._debug.txt"},
        {".", "%..txt", "%._debug.txt"},
        {"x/y", "%x%2Fy.txt", "%x%2Fy_debug.txt"},
        {"C:\\x", "%C%3A%5Cx.txt", "%C%3A%5Cx_debug.txt"},
        {"\\lead", "%%5Clead.txt", "%%5Clead_debug.txt"},
        {"*?\"<>|", "%%2A%3F%22%3C%3E%7C.txt", "%%2A%3F%22%3C%3E%7C_debug.txt"},
        {"line\nbreak", "%line%0Abreak.txt", "%line%0Abreak_debug.txt"},
        {"cr\rlf", "%cr%0Dlf.txt", "%cr%0Dlf_debug.txt"},
        {"", "Empty.sig", "EmptyDebug.sig"},
        {std::string(65536, 'A'), shortened + "12A4C7311A572325.txt",
         shortened + "12A4C7311A572325_debug.txt"},
        {std::string(65535, 'A') + "B", shortened + "12A4C4311A571E0C.txt",
         shortened + "12A4C4311A571E0C_debug.txt"},
        {"%ABC", "%%25ABC.txt", "%%25ABC_debug.txt"},
        {"ABC", "ABC.txt", "ABC_debug.txt"},
        {"\xC4PFEL", "\xC4PFEL.txt", "\xC4PFEL_debug.txt"},
        {"BRK.B", "BRK.B.txt", "BRK.B_debug.txt"},
        {"a b", "a b.txt", "a b_debug.txt"},
    };
    std::string script;
    for (size_t i = 0; i < hostile.size(); ++i) {
        const std::string file = folder.file("symbol" + std::to_string(i) + ".bin");
        writeFile(file, hostile[i].symbol);
        script += "processfile|" + file + "|1|2\n";
    }
    const HostResult run = runHost(folder, script);
    ASSERT_EQ(run.exitCode, 0u) << run.output;

    size_t readable = 0;
    std::set<std::string> expectedNames;
    for (const Hostile &h : hostile) {
        expectedNames.insert(h.signal);
        expectedNames.insert(h.debug);
        const bool ok = unstampedLines(readFile(driver + h.signal), ' ') == std::vector<std::string>{"1 2"} &&
                        unstampedLines(readFile(driver + h.debug), ' ') == std::vector<std::string>{"1 2"};
        EXPECT_TRUE(ok) << "symbol of " << h.symbol.size() << " bytes: " << h.symbol.substr(0, 40);
        readable += ok;
    }
    // Ordinary symbols keep their names; every symbol has files of its own.
    EXPECT_TRUE(fileExists(driver + "ABC.txt") && fileExists(driver + "BRK.B_debug.txt") &&
                fileExists(driver + "\xC4PFEL.txt") && fileExists(driver + "a b.txt"));
    EXPECT_EQ(expectedNames.size(), hostile.size() * 2);
    const std::string log = readFile(driver + "VarnexMsg.txt");
    EXPECT_NE(log.find("\tABC: 1,2\r\n"), std::string::npos) << log.substr(0, 300);
    EXPECT_EQ(countOf(log, " qty=\t1\r\n"), hostile.size());
    expectedNames.insert("VarnexMsg.txt");
    const std::set<std::string> inside = entriesOf(driver);
    EXPECT_EQ(inside, expectedNames);
    const std::string parent = driver.substr(0, driver.find_last_of('\\', driver.size() - 2) + 1);
    std::set<std::string> outside = entriesOf(parent);
    outside.erase(driver.substr(parent.size(), driver.size() - parent.size() - 1));
    if (parent == folder.path()) {
        outside.erase("script.txt");
        for (size_t i = 0; i < hostile.size(); ++i) outside.erase("symbol" + std::to_string(i) + ".bin");
    }
    EXPECT_TRUE(outside.empty()) << *outside.begin();
    recordFigures("hostile symbols, driverName of " + std::to_string(driver.size()),
                  std::to_string(hostile.size()) + " tried, " + std::to_string(readable) +
                      " with both files readable inside driverName, " + std::to_string(inside.size()) +
                      " files there (the log among them, " + std::to_string(countOf(log, " qty=\t1\r\n")) +
                      " signals logged), " + std::to_string(outside.size()) + " written outside");
}

// 0: the temp folder's own length.
INSTANTIATE_TEST_SUITE_P(Lengths, FilesProofDriverName, ::testing::Values(size_t(0), size_t(254)));

TEST_F(FilesProof, StampsKeepTheirShapeWhateverTheHostLocale) {
    writeIni(settingIni(folder, "logMode=True\r\n"));
    const HostResult run =
        runHost(folder,
                "setlocale|English_United States.1252\nwritelog|english\nprocess|today|EN|1|1.5\n"
                "setlocale|German\nwritelog|german\nprocess|today|DE|1|1.5\n");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(countOf(run.output, "(refused)"), 0u) << run.output;
    // unstampedLines fails the test for any line whose stamp is not
    // "YYYY/MM/DD hh:mm:ss" followed by the separator.
    const auto lines = unstampedLines(log(), '\t');
    EXPECT_EQ(lines, (std::vector<std::string>{"english", "EN: 1,1.5", "EN qty=\t1", "german", "DE: 1,1.5",
                                               "DE qty=\t1"}));
    EXPECT_EQ(unstampedLines(readFile(folder.file("DE.txt")), ' '), std::vector<std::string>{"1 1.5"});
    recordFigures("host locales", "English_United States.1252 and German: " + std::to_string(lines.size()) +
                                      " log lines, all stamped YYYY/MM/DD hh:mm:ss");
}

}  // namespace
