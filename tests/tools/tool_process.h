// Runs one of the console tools in its own process, with its standard output
// and error collected together and, optionally, text on its standard input.
#ifndef VARNEX_TESTS_TOOL_PROCESS_H
#define VARNEX_TESTS_TOOL_PROCESS_H

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace varnex_test {

struct ToolResult {
    unsigned long exitCode = 0;
    std::string output;
    unsigned long long elapsedMs = 0;
};

// The folder of the running test program, where the tools are built too.
std::string binFolder();

class ToolProcess {
public:
    // `program` is a path or a name in binFolder(); arguments are quoted.
    ToolProcess(const std::string &program, const std::vector<std::string> &arguments,
                const std::string &input = "");
    ~ToolProcess();
    ToolProcess(const ToolProcess &) = delete;
    ToolProcess &operator=(const ToolProcess &) = delete;

    bool started() const { return process_ != nullptr; }
    // Waits until the output holds `text` (at most `limitMs`).
    bool waitForOutput(const std::string &text, unsigned limitMs);
    std::string output();
    // Waits for the end (at most `limitMs`; then the process is ended and the test fails).
    ToolResult finish(unsigned limitMs = 60000);

private:
    void *process_ = nullptr;
    void *output_ = nullptr;
    unsigned long long startMs_ = 0;
    std::thread reader_;
    std::mutex mutex_;
    std::string collected_;
};

ToolResult runTool(const std::string &program, const std::vector<std::string> &arguments,
                   const std::string &input = "", unsigned limitMs = 60000);

// The lines of `output` that contain `part`, in order.
std::vector<std::string> linesWith(const std::string &output, const std::string &part);

}  // namespace varnex_test

#endif
