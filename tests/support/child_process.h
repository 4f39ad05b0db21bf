// A program of the tests (a tool, the test host) run in its own process, with
// its standard output and error together on one pipe.
#ifndef VARNEX_TESTS_CHILD_PROCESS_H
#define VARNEX_TESTS_CHILD_PROCESS_H

#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/handles.h"

namespace varnex_test {

struct ChildResult {
    unsigned long exitCode = 0;
    std::string output;  // standard output and standard error together
    unsigned long long elapsedMs = 0;
};

// How a child's standard output and error are connected: to a pipe this side
// reads all along, to nothing (and the child gets no console either), or to a
// pipe that nobody reads (so the child's writes block once it is full) until
// the test calls startReading.
enum class ChildConsole { Read, None, NeverRead };

struct ChildOptions {
    ChildConsole console = ChildConsole::Read;
    // Written to the child's standard input, which is then closed, so the
    // child sees its end; without it the child has no standard input at all.
    std::optional<std::string> input;
    // The program to run where the command line alone would not find it.
    std::string application;
    // A file the child's output goes to instead (a Windows path): output()
    // reads it rather than the pipe.
    std::string outputFile;
};

// The folder of the running test program, where the tools and the host are built too.
std::string binFolder();

class ChildProcess {
public:
    ChildProcess(const std::string &commandLine, const ChildOptions &options = ChildOptions());
    // Ends the child by force if it is still running.
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    bool started() const { return static_cast<bool>(process_); }
    // A child whose output nobody read so far (NeverRead) is read from now on.
    void startReading();
    std::string output();
    // Waits until the output holds `text` (at most `limitMs`).
    bool waitForOutput(const std::string &text, unsigned limitMs);
    // Waits for the end (at most `limitMs`; then the child is ended and the test fails).
    ChildResult finish(unsigned limitMs = 60000);

private:
    std::string commandLine_;
    std::string outputFile_;
    varnex::UniqueHandle process_;
    varnex::UniqueHandle output_;
    unsigned long long startMs_ = 0;
    // Read all along, so a child that prints a lot never blocks on a full pipe.
    std::thread reader_;
    std::mutex mutex_;
    std::string collected_;
};

}  // namespace varnex_test

#endif
