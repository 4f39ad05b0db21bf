// _process end to end through a real host: date gate, log lines, position
// book and signal files, byte for byte.
#include <gtest/gtest.h>

#include <map>

#include "integration/host_runner.h"

using namespace varnex_test;
using Lines = std::vector<std::string>;

namespace {

using PipelineTest = HostTest;

TEST_F(PipelineTest, OnlyChangedPositionsOfTodayReachTheSignalFiles) {
    // Without the status file, whose rewrites would be counted too.
    HostResult run = runConfigured(folder, "logMode=True\r\nsignalDebugMode=True\r\nstatusMode=False\r\n",
                                   "countfiles|" + folder.path() +
                                       "\nprocess|yesterday|ABC|1|1\n"
                                       "process|month0|ABC|1|1\n"
                                       "process|today|ABC|0|12.5\n"
                                       "process|today|ABC|0|13\n"
                                       "process|today|ABC|-2|1234567\n"
                                       "process|today|XYZ|-2|0.00001234\nfiles|all\n");
    ASSERT_TRUE(exitedCleanly(run));
    // The log and each symbol's debug file are opened once and kept open;
    // each of the three changed positions makes the signal file's new copy.
    EXPECT_TRUE(printed(run, "FILES all 6\r\n"));
    EXPECT_EQ(
        unstampedLines(log(), '\t'),
        (Lines{"ABC: 0,12.5", "ABC qty=\t0", "ABC: 0,13", "ABC qty=\t0 preQty=\t0", "ABC: -2,1.23457e+006",
               "ABC qty=\t-2 preQty=\t0", "XYZ: -2,1.234e-005", "XYZ qty=\t-2"}));
    EXPECT_EQ(unstampedLines(readFile(folder.file("ABC.txt")), ' '), Lines{"-2 1.23457e+006"});
    EXPECT_EQ(unstampedLines(readFile(folder.file("ABC_debug.txt")), ' '),
              (Lines{"0 12.5", "-2 1.23457e+006"}));
    EXPECT_EQ(unstampedLines(readFile(folder.file("XYZ.txt")), ' '), Lines{"-2 1.234e-005"});
}

TEST_F(PipelineTest, SymbolsAreTrackedByteForByteAndTheEmptySymbolHasItsOwnFiles) {
    runConfigured(folder, "logMode=True\r\nsignalDebugMode=True\r\nsignalFile=Empty.sig\r\n",
                  "process|today|ABC|1|3\n"
                  "process|today|abc|1|3\n"
                  "process|today||2|3050\n"
                  "process|today||2|3051\n"
                  "process|today|MIN|-2147483648|1\n"
                  "process|today|MIN|2147483647|1\n");
    EXPECT_EQ(unstampedLines(log(), '\t'),
              (Lines{"ABC: 1,3", "ABC qty=\t1", "abc: 1,3", "abc qty=\t1", ": 2,3050", " qty=\t2", ": 2,3051",
                     " qty=\t2 preQty=\t2", "MIN: -2147483648,1", "MIN qty=\t-2147483648",
                     "MIN: 2147483647,1", "MIN qty=\t2147483647 preQty=\t-2147483648"}));
    EXPECT_EQ(unstampedLines(readFile(folder.file("Empty.sig")), ' '), Lines{"2 3050"});
    EXPECT_EQ(unstampedLines(readFile(folder.file("SignalDebug.txt")), ' '), Lines{"2 3050"});
    EXPECT_EQ(unstampedLines(readFile(folder.file("MIN.txt")), ' '), Lines{"2147483647 1"});
}

TEST_F(PipelineTest, WithSignalFilesOffOnlyTheLogShowsSignals) {
    runConfigured(folder, "logMode=True\r\nsignalMode=False\r\n", "process|today|ABC|1|2\n");
    EXPECT_EQ(unstampedLines(log(), '\t'), (Lines{"ABC: 1,2", "ABC qty=\t1"}));
    EXPECT_FALSE(fileExists(folder.file("ABC.txt")));
}

TEST_F(PipelineTest, GermanHostLocaleKeepsTheFullStop) {
    HostResult run =
        runConfigured(folder, "logMode=True\r\n",
                      "setlocale|German\nprocess|today|DAX|1000|12345.678\nprocess|today|INF|1|inf\n");
    EXPECT_TRUE(printed(run, " prints 1,5"));
    EXPECT_EQ(unstampedLines(log(), '\t'),
              (Lines{"DAX: 1000,12345.7", "DAX qty=\t1000", "INF: 1,1.#INF", "INF qty=\t1"}));
    EXPECT_EQ(unstampedLines(readFile(folder.file("DAX.txt")), ' '), Lines{"1000 12345.7"});
}

TEST_F(PipelineTest, ConcurrentHostThreadsKeepEachSymbolsLinesInOrder) {
    HostResult run = runConfigured(folder, "logMode=True\r\n", "burst|4|150|T\n");
    ASSERT_TRUE(exitedCleanly(run));
    const Lines lines = unstampedLines(log(), '\t');
    ASSERT_EQ(lines.size(), 4u * 150 * 2);
    // Lines of different symbols may interleave; each symbol's alternate
    // signal line, position line, signal line, ... with quantities 1, 2, 3, ...
    std::map<std::string, int> signals, positions;
    for (const std::string &line : lines) {
        const size_t colon = line.find(": ");
        if (colon != std::string::npos) {
            const std::string symbol = line.substr(0, colon);
            ASSERT_EQ(signals[symbol], positions[symbol]) << line;
            const int quantity = ++signals[symbol];
            const std::string price =
                quantity % 2 ? std::to_string(quantity / 2) + ".5" : std::to_string(quantity / 2);
            ASSERT_EQ(line, symbol + ": " + std::to_string(quantity) + "," + price);
        } else {
            const std::string symbol = line.substr(0, line.find(' '));
            const int quantity = ++positions[symbol];
            ASSERT_EQ(signals[symbol], quantity) << line;
            const std::string position = symbol + " qty=\t" + std::to_string(quantity);
            ASSERT_EQ(line,
                      quantity == 1 ? position : position + " preQty=\t" + std::to_string(quantity - 1));
        }
    }
    EXPECT_EQ(signals.size(), 4u);
    for (const auto &entry : positions) EXPECT_EQ(entry.second, 150) << entry.first;
}

}  // namespace
