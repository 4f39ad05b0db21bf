// Runs test_host.exe in a fresh process, so Varnex.ini is read anew each run.
#ifndef VARNEX_TESTS_HOST_RUNNER_H
#define VARNEX_TESTS_HOST_RUNNER_H

#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace varnex_test {

struct HostResult {
    unsigned long exitCode = 0;
    std::string output;  // standard output and standard error together
};

// Writes the script into `folder`, runs the host on it and waits (at most a
// minute). With `withConsole` false the host gets no standard handles at all.
HostResult runHost(const TempFolder &folder, const std::string &script, bool withConsole = true);

// How a host's standard output and error are connected: to a pipe this side
// reads all along, to nothing, or to a pipe that nobody ever reads (so the
// host's writes block once the pipe is full).
enum class HostConsole { Read, None, NeverRead };

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
    ~HostProcess();
    // Waits until the host's output holds `text` (at most `limitMs`).
    bool waitForOutput(const std::string &text, unsigned limitMs);
    // Waits for the end (at most a minute) and returns everything.
    HostResult finish();

private:
    std::string collected();
    void start(const TempFolder &folder, const std::string &scriptName, const std::string &script,
               HostConsole console, const std::string &resolver);
    void *process_ = nullptr;
    void *output_ = nullptr;
    std::string isolated_;  // the launcher's files of a host in its own namespace
    // Read all along, so a host that prints a lot never blocks on a full pipe.
    std::thread reader_;
    std::mutex mutex_;
    std::string collected_;
};

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

}  // namespace varnex_test

#endif
