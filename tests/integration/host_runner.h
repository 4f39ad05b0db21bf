// Runs test_host.exe in a fresh process, so Varnex.ini is read anew each run.
#ifndef VARNEX_TESTS_HOST_RUNNER_H
#define VARNEX_TESTS_HOST_RUNNER_H

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/child_process.h"
#include "support/temp_folder.h"

namespace varnex_test {

using HostResult = ChildResult;

// Writes the script into `folder`, runs the host on it and waits (at most two
// minutes). With `withConsole` false the host gets no standard handles at all.
HostResult runHost(const TempFolder &folder, const std::string &script, bool withConsole = true);

using HostConsole = ChildConsole;

// A host running in the background, for tests with two host processes.
class HostProcess {
public:
    HostProcess(const TempFolder &folder, const std::string &scriptName, const std::string &script,
                bool withConsole = true);
    // With a `resolver` address the host runs in a private mount namespace
    // whose /etc/resolv.conf names only that address (through unshare, as
    // root), so its name look-ups never leave the machine. Such a host is a
    // Unix process tree: its exit code is not reported, its standard output
    // and error are read from a file when it ends, and it is not ended by force.
    HostProcess(const TempFolder &folder, const std::string &scriptName, const std::string &script,
                HostConsole console, const std::string &resolver = std::string());
    // Waits until the host's output holds `text` (at most `limitMs`).
    bool waitForOutput(const std::string &text, unsigned limitMs) {
        return child_->waitForOutput(text, limitMs);
    }
    // A host whose console nobody read so far (HostConsole::NeverRead) is read from now on.
    void startReading() { child_->startReading(); }
    // Waits for the end (at most two minutes) and returns everything.
    HostResult finish();

private:
    std::string isolated_;  // the launcher's files of a host in its own namespace
    std::unique_ptr<ChildProcess> child_;
};

// The orders a host printed as "ORDER <text>" lines, in the order it printed them.
std::vector<std::string> ordersIn(const std::string &output);

// The host's "TIMED SYMBOL QTY MS at=TICK" lines: the longest time per
// symbol, how many, the time of all of them, and when each call returned
// (GetTickCount64, which every process of the machine shares).
struct Timings {
    std::map<std::string, unsigned long> longest;
    std::map<std::string, int> count;
    unsigned long total = 0;                                              // all of them together
    std::map<std::string, std::map<int, unsigned long long>> returnedAt;  // by symbol, then quantity
};
Timings timingsOf(const std::string &output);

// A loopback port that nothing listens on (bound once, then let go).
int closedPort();

// The handle and thread counts of a host's "COUNTS <label> handles=H threads=T"
// line; {-1, -1} when it printed none.
std::pair<long, long> countsIn(const std::string &output, const std::string &label);
// One figure ("semaphores", "tls", "memory", ...) of the host's "COUNTS LABEL" line; -1 when absent.
long long countIn(const std::string &output, const std::string &label, const std::string &figure);

// Varnex.ini in the Windows directory, where a bare file name is resolved.
std::string iniPath();
void writeIni(const std::string &content);
void removeIni();

// Base of the tests that run hosts: a fresh folder, and no Varnex.ini left behind.
class HostTest : public ::testing::Test {
protected:
    void TearDown() override { removeIni(); }
    static std::string log(const TempFolder &f) { return readFile(f.file("VarnexMsg.txt")); }
    std::string log() const { return log(folder); }
    TempFolder folder;
};

// [Setting] section text with driverName pointing into `folder`, plus extra lines.
std::string settingIni(const TempFolder &folder, const std::string &extraLines);

// Writes Varnex.ini as settingIni(folder, extraLines) and runs the host on
// `script` in `folder`, as most host tests begin.
HostResult runConfigured(const TempFolder &folder, const std::string &extraLines, const std::string &script,
                         bool withConsole = true);

// For EXPECT_TRUE or ASSERT_TRUE: the host exited with code 0. A failure
// shows the code and the host's output.
::testing::AssertionResult exitedCleanly(const HostResult &run);
// For EXPECT_TRUE or ASSERT_TRUE: the host's output holds `text`. A failure shows the output.
::testing::AssertionResult printed(const HostResult &run, const std::string &text);

}  // namespace varnex_test

#endif
