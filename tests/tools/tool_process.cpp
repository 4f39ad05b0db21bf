#include "tools/tool_process.h"

#include <sstream>

namespace varnex_test {

namespace {

std::string toolCommand(const std::string &program, const std::vector<std::string> &arguments) {
    const std::string path = program.find('\\') == std::string::npos ? binFolder() + program : program;
    std::string command = "\"" + path + "\"";
    for (const std::string &argument : arguments) command += " \"" + argument + "\"";
    return command;
}

ChildOptions withInput(const std::string &input) {
    ChildOptions options;
    options.input = input;
    return options;
}

}  // namespace

ToolProcess::ToolProcess(const std::string &program, const std::vector<std::string> &arguments,
                         const std::string &input)
    : ChildProcess(toolCommand(program, arguments), withInput(input)) {}

ToolResult runTool(const std::string &program, const std::vector<std::string> &arguments,
                   const std::string &input, unsigned limitMs) {
    ToolProcess tool(program, arguments, input);
    return tool.finish(limitMs);
}

std::vector<std::string> linesWith(const std::string &output, const std::string &part) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find(part) != std::string::npos) lines.push_back(line);
    }
    return lines;
}

}  // namespace varnex_test
