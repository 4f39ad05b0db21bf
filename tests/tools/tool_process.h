// Runs one of the console tools in its own process, with its standard output
// and error collected together and, optionally, text on its standard input.
#ifndef VARNEX_TESTS_TOOL_PROCESS_H
#define VARNEX_TESTS_TOOL_PROCESS_H

#include <string>
#include <vector>

#include "support/child_process.h"

namespace varnex_test {

using ToolResult = ChildResult;

class ToolProcess : public ChildProcess {
public:
    // `program` is a path or a name in binFolder(); arguments are quoted.
    // The tool's standard input holds `input` and then ends.
    ToolProcess(const std::string &program, const std::vector<std::string> &arguments,
                const std::string &input = "");
};

ToolResult runTool(const std::string &program, const std::vector<std::string> &arguments,
                   const std::string &input = "", unsigned limitMs = 60000);

// The lines of `output` that contain `part`, in order.
std::vector<std::string> linesWith(const std::string &output, const std::string &part);

}  // namespace varnex_test

#endif
