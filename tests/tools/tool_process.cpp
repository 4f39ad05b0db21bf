#include "tools/tool_process.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <sstream>

namespace varnex_test {

std::string binFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string full(path, length);
    return full.substr(0, full.find_last_of('\\') + 1);
}

ToolProcess::ToolProcess(const std::string &program, const std::vector<std::string> &arguments,
                         const std::string &input) {
    const std::string path = program.find('\\') == std::string::npos ? binFolder() + program : program;
    std::string command = "\"" + path + "\"";
    for (const std::string &argument : arguments) command += " \"" + argument + "\"";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, inRead = nullptr, inWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 1 << 16) ||
        !CreatePipe(&inRead, &inWrite, &inherit, 1 << 16)) {
        ADD_FAILURE() << "CreatePipe failed";
        return;
    }
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = outWrite;
    PROCESS_INFORMATION info = {};
    startMs_ = GetTickCount64();
    const BOOL ok =
        CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
    CloseHandle(outWrite);
    CloseHandle(inRead);
    if (!ok) {
        ADD_FAILURE() << "cannot start " << command << " (" << GetLastError() << ")";
        CloseHandle(outRead);
        CloseHandle(inWrite);
        return;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    output_ = outRead;
    DWORD written = 0;
    if (!input.empty()) WriteFile(inWrite, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
    CloseHandle(inWrite);  // the tool sees the end of its input
    reader_ = std::thread([this] {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(output_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            collected_.append(buffer, got);
        }
    });
}

ToolProcess::~ToolProcess() {
    if (process_) {
        if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 10000);
    }
    if (reader_.joinable()) reader_.join();
    if (process_) CloseHandle(process_);
    if (output_) CloseHandle(output_);
}

std::string ToolProcess::output() {
    std::lock_guard<std::mutex> lock(mutex_);
    return collected_;
}

bool ToolProcess::waitForOutput(const std::string &text, unsigned limitMs) {
    const ULONGLONG deadline = GetTickCount64() + limitMs;
    for (;;) {
        if (output().find(text) != std::string::npos) return true;
        if (GetTickCount64() > deadline) return false;
        Sleep(5);
    }
}

ToolResult ToolProcess::finish(unsigned limitMs) {
    ToolResult result;
    if (!process_) return result;
    if (WaitForSingleObject(process_, limitMs) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 99);
        ADD_FAILURE() << "the tool did not end within " << limitMs << " ms; output:\n" << output();
    }
    result.elapsedMs = GetTickCount64() - startMs_;
    if (reader_.joinable()) reader_.join();
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    result.exitCode = code;
    result.output = output();
    return result;
}

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
