// The exports in a real host process: first use, configuration, console lines
// and the log, each run in a fresh process with its own Varnex.ini.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <set>

#include "integration/host_runner.h"

using namespace varnex_test;

namespace {

using DispatcherTest = HostTest;

TEST_F(DispatcherTest, WithoutIniSignalFilesGoToDriveCAndTheLogIsOff) {
    removeIni();
    const std::string symbol = "VarnexNoIniProbe";
    const std::string signal = "C:\\" + symbol + ".txt";
    DeleteFileA(signal.c_str());
    DeleteFileA("C:\\VarnexMsg.txt");
    HostResult run = runHost(folder, "writelog|dropped\nprocess|today|" + symbol + "|3|10.5\n");
    EXPECT_TRUE(exitedCleanly(run));
    EXPECT_EQ(unstampedLines(readFile(signal), ' '), std::vector<std::string>{"3 10.5"});
    EXPECT_FALSE(fileExists("C:\\VarnexMsg.txt"));
    EXPECT_FALSE(fileExists("C:\\" + symbol + "_debug.txt"));
    DeleteFileA(signal.c_str());
}

TEST_F(DispatcherTest, FirstWritelogReadsConfigurationBeforeLogging) {
    // The console lines go out on the library's own thread, so the host's
    // "after" may come first; the unload lets the writer finish them.
    HostResult run = runConfigured(folder, "logMode=True\r\n",
                                   "echo|before\nwritelog|hello\necho|after\ninitial\ninitial\nunload|0\n");
    EXPECT_TRUE(exitedCleanly(run));
    std::string output = run.output;
    const size_t after = output.find("after\r\n");
    ASSERT_NE(after, std::string::npos) << output;
    output.erase(after, 7);
    EXPECT_EQ(output, "before\r\n_initial ... start.\r\n_initial ... end.\r\n");
    EXPECT_EQ(unstampedLines(readFile(folder.file("VarnexMsg.txt")), '\t'),
              std::vector<std::string>{"hello"});
}

TEST_F(DispatcherTest, InitialFirstThenLogTextWithLineBreakIsWrittenUnchanged) {
    HostResult run = runConfigured(folder, "logMode=true\r\nlogFile=Trace.log\r\n",
                                   "initial\nwritelog|a\\nb\\tc\nunload|0\n");
    EXPECT_EQ(countOf(run.output, "_initial ... start."), 1u);
    const std::string log = readFile(folder.file("Trace.log"));
    ASSERT_EQ(log.size(), 19u + 1 + 6 + 2) << log;
    EXPECT_TRUE(isStamp(log.substr(0, 19)));
    EXPECT_EQ(log.substr(19), "\ta\r\nb\tc\r\n");
}

// logRotate=daily: the log of today is named by today's date, and the first
// line deletes the daily logs past logKeepDays, nothing else.
TEST_F(DispatcherTest, DailyLogsCarryTheirDateAndOldOnesAreDeleted) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char today[16];
    std::snprintf(today, sizeof today, "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    for (const char *old :
         {"VarnexMsg-20000101.txt", "VarnexMsg-19991231.txt", "VarnexMsg.txt", "Other-20000101.txt"})
        writeFile(folder.file(old), "old\r\n");
    HostResult run =
        runConfigured(folder, "logMode=True\r\nlogRotate=daily\r\nlogKeepDays=3\r\nstatusMode=False\r\n",
                      "writelog|hello\nprocess|today|ABC|1|2\n");
    ASSERT_TRUE(exitedCleanly(run));
    const std::string todays = "VarnexMsg-" + std::string(today) + ".txt";
    EXPECT_EQ(unstampedLines(readFile(folder.file(todays)), '\t'),
              (std::vector<std::string>{"hello", "ABC: 1,2", "ABC qty=\t1"}));
    EXPECT_EQ(entriesOf(folder.path()), (std::set<std::string>{todays, "VarnexMsg.txt", "Other-20000101.txt",
                                                               "ABC.txt", "script.txt"}));
}

TEST_F(DispatcherTest, SwitchesAreOnOnlyForTrueOrLowerCaseTrue) {
    for (const char *value : {"1", "TRUE", "yes", "", "True ;on"}) {
        SCOPED_TRACE(value);
        TempFolder run;
        // The host must have loaded the library and called it, or the files'
        // absence would prove nothing. The console lines go out on the
        // library's own thread: the unload lets the writer finish them.
        const HostResult ran =
            runConfigured(run, std::string("logMode=") + value + "\r\nsignalMode=" + value + "\r\n",
                          "writelog|x\nprocess|today|ABC|1|2\nunload|0\n");
        ASSERT_TRUE(exitedCleanly(ran));
        ASSERT_EQ(countOf(ran.output, "_initial ... end."), 1u) << ran.output;
        EXPECT_FALSE(fileExists(run.file("VarnexMsg.txt")));
        EXPECT_FALSE(fileExists(run.file("ABC.txt")));
    }
}

TEST_F(DispatcherTest, DriverNameIsAPlainPrefix) {
    writeIni("[Setting]\r\ndriverName=" + folder.path() + "pre_\r\nlogMode=True\r\n");
    runHost(folder, "writelog|x\nprocess|today|ABC|1|2\n");
    EXPECT_EQ(unstampedLines(readFile(folder.file("pre_VarnexMsg.txt")), '\t').size(), 3u);
    EXPECT_EQ(unstampedLines(readFile(folder.file("pre_ABC.txt")), ' '), std::vector<std::string>{"1 2"});
}

TEST_F(DispatcherTest, MissingDriverFolderSkipsLinesQuietly) {
    writeIni("[Setting]\r\ndriverName=" + folder.path() + "nosuch\\\r\nlogMode=True\r\n");
    HostResult run = runHost(folder, "writelog|x\nprocess|today|ABC|1|2\necho|still here\n");
    EXPECT_TRUE(exitedCleanly(run));
    EXPECT_TRUE(printed(run, "still here"));
}

TEST_F(DispatcherTest, NullTextsFromTheHostAreIgnored) {
    HostResult run = runConfigured(folder, "logMode=True\r\n", "nullcalls\nwritelog|after\necho|alive\n");
    EXPECT_TRUE(exitedCleanly(run));
    EXPECT_TRUE(printed(run, "alive"));
    EXPECT_EQ(unstampedLines(readFile(folder.file("VarnexMsg.txt")), '\t'),
              std::vector<std::string>{"after"});
}

TEST_F(DispatcherTest, HostWithoutConsoleStillLogs) {
    HostResult run = runConfigured(folder, "logMode=True\r\n", "initial\nwritelog|quiet host\n", false);
    EXPECT_TRUE(exitedCleanly(run));
    EXPECT_EQ(unstampedLines(readFile(folder.file("VarnexMsg.txt")), '\t'),
              std::vector<std::string>{"quiet host"});
}

TEST_F(DispatcherTest, ConcurrentFirstCallsConfigureOnce) {
    HostResult run = runConfigured(folder, "logMode=True\r\n", "race|8|from a racing thread\nunload|0\n");
    EXPECT_TRUE(exitedCleanly(run));
    EXPECT_EQ(countOf(run.output, "_initial ... start."), 1u) << run.output;
    EXPECT_EQ(countOf(run.output, "_initial ... end."), 1u);
    EXPECT_EQ(unstampedLines(readFile(folder.file("VarnexMsg.txt")), '\t'),
              std::vector<std::string>(8, "from a racing thread"));
}

TEST_F(DispatcherTest, DebugSwitchWithoutSignalSwitchWritesNoDebugFile) {
    const HostResult ran = runConfigured(folder, "signalMode=False\r\nsignalDebugMode=True\r\n",
                                         "process|today|ABC|1|2\nprocess|today||1|2\nunload|0\n");
    ASSERT_TRUE(exitedCleanly(ran));
    ASSERT_EQ(countOf(ran.output, "_initial ... end."), 1u) << ran.output;
    EXPECT_FALSE(fileExists(folder.file("ABC.txt")));
    EXPECT_FALSE(fileExists(folder.file("ABC_debug.txt")));
    EXPECT_FALSE(fileExists(folder.file("SignalDebug.txt")));
}

}  // namespace
